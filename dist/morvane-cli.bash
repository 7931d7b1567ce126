# bash completion for morvane-cli: commands, their options, and files or folders where
# an option or argument names one. Commands and options are read from the program's
# own --help, so the completion always matches the morvane-cli being run.

_morvane_cli_synopsis() {
    # The usage lines of a command's help: its first paragraph.
    "$1" "$2" --help 2>/dev/null | sed '/^$/q'
}

_morvane_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        local commands
        commands=$("$program" --help 2>/dev/null | sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
        mapfile -t COMPREPLY < <(compgen -W "$commands --help" -- "$cur")
        return
    fi

    local synopsis
    synopsis=$(_morvane_cli_synopsis "$program" "${COMP_WORDS[1]}")
    [[ -n $synopsis ]] || return

    # The value of an option: "[--cards FILE]" takes a file, "[--seed N]" a number.
    if [[ $prev == -* ]]; then
        local value
        value=$(grep -oE -- "(^|[[ ])$prev [A-Z]+" <<<"$synopsis" | head -n 1)
        case ${value##* } in
        FILE)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        "") ;;
        *) return ;;
        esac
    fi

    if [[ $cur == -* ]]; then
        local options
        options=$(grep -oE -- '(^|[[ ])--?[a-z][a-z-]*' <<<"$synopsis" | tr -d '[ ' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
        return
    fi

    # A command of its own commands ("cards check"): those first, then their files.
    local subcommands
    subcommands=$(sed -nE "s/^(usage:)? +[^ ]+ ${COMP_WORDS[1]} ([a-z]+)( .*)?\$/\2/p" <<<"$synopsis")
    if [[ -n $subcommands ]]; then
        if ((COMP_CWORD == 2)); then
            mapfile -t COMPREPLY < <(compgen -W "$subcommands" -- "$cur")
        elif grep -qE "^(usage:)? +[^ ]+ ${COMP_WORDS[1]} ${COMP_WORDS[2]} \[?[A-Z]+" <<<"$synopsis"; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
        return
    fi

    # A folder argument: the ROOT of batch; file arguments: the FILE... of merge.
    if grep -qE '^usage: [^ ]+ [a-z-]+ ROOT' <<<"$synopsis"; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    elif grep -qE '^usage: [^ ]+ [a-z-]+ FILE' <<<"$synopsis"; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _morvane_cli morvane-cli
