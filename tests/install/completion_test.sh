#!/usr/bin/env bash
# The bash completion of morvane-cli, driven as bash drives it: the words of the line
# and the word under the cursor, with the built morvane-cli first on PATH.
# Arguments: the completion script, the folder of the built morvane-cli.
set -euo pipefail
script=$1 program_dir=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
export PATH="$program_dir:$PATH"
# shellcheck source=/dev/null
source "$script"
compopt() { :; } # only valid while readline completes

offers() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  _morvane_cli
  echo "${COMPREPLY[*]}"
}
expect() {
  local want=$1
  shift
  local got
  got=$(offers "$@")
  [ "$got" = "$want" ] || { echo "FAIL: morvane-cli ${*:2}: offered '$got', wanted '$want'" >&2; exit 1; }
}

commands=$(morvane-cli --help | sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | tr '\n' ' ')
expect "${commands}--help" morvane-cli ""
expect "battle batch balance" morvane-cli ba
expect "--searches --seed" morvane-cli balance --se
expect "--bottom --cards --max-turns --seed --time --top -o --help" morvane-cli battle -
expect "--seed --seed-of" morvane-cli stats --se
# A value that is a file, a number, a folder argument; no options after a number.
mkdir "$folder/sub"
touch "$folder/cards.dat"
expect "$folder/cards.dat" morvane-cli battle --cards "$folder/ca"
expect "" morvane-cli battle --seed ""
expect "$folder/sub" morvane-cli batch "$folder/s"
expect "check export import" morvane-cli cards ""
expect "--csv --json -o --help" morvane-cli cards export -
expect "$folder/cards.dat" morvane-cli cards check "$folder/c"
expect "" morvane-cli nosuch --
echo "completion offers the commands and options of morvane-cli --help"
