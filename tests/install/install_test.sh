#!/usr/bin/env bash
# Installs the build into a temporary prefix, makes the whole install read-only, and
# plays battles with the installed morvane-cli from a working folder the user cannot
# write to: the files must go to the user's data folder, seeded from the install, and
# nothing may be written beside the executable or into the working folder. Tests run
# as root too, where missing write bits stop nothing: so the checks look at what was
# written, not at whether writing failed.
# Arguments: the build folder, the source folder, the application id.
set -euo pipefail
build=$1 source=$2 app=$3

tmp=$(mktemp -d)
cleanup() { chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

share=$prefix/share
expected=(bin/morvane-cli share/morvane/card.dat share/morvane/deck0.dat share/morvane/deck1.dat
          share/man/man1/morvane-cli.1.gz share/bash-completion/completions/morvane-cli
          bin/morvane-server share/man/man1/morvane-server.1.gz lib/systemd/system/morvane-server.service
          share/morvane/web/builder.html share/morvane/web/app.js share/morvane/web/style.css)
if [ -x "$build/bin/morvane" ]; then
  expected+=(bin/morvane share/applications/$app.desktop share/metainfo/$app.metainfo.xml
             share/icons/hicolor/scalable/apps/$app.svg share/man/man1/morvane.1.gz)
  for size in 16 22 24 32 48 64 128 256; do
    expected+=(share/icons/hicolor/${size}x$size/apps/$app.png)
  done
fi
for file in "${expected[@]}"; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
for file in card.dat deck0.dat deck1.dat; do
  cmp -s "$source/data/$file" "$share/morvane/$file" || fail "installed $file differs from data/$file"
done

chmod -R a-w "$prefix"
(cd "$prefix" && find . | sort) >"$tmp/before"
mkdir "$tmp/work"
chmod a-w "$tmp/work"

# $HOME/.local/share/morvane/, created with its parents, when XDG_DATA_HOME is unset.
home=$tmp/home
line=$(cd "$tmp/work" && env -u XDG_DATA_HOME HOME="$home" "$prefix/bin/morvane-cli" battle --seed 1 --time T) ||
  fail "installed battle failed: $line"
data=$home/.local/share/morvane
[ "$line" = "winner=bottom turns=8 report=$data/battle.html" ] || fail "unexpected line: $line"
for file in card.dat deck0.dat deck1.dat; do
  cmp -s "$share/morvane/$file" "$data/$file" || fail "$data/$file is not the installed one"
done
# The installed program plays the very battle the build folder's copy plays.
"$build/bin/morvane-cli" battle --seed 1 --time T -o "$tmp/reference.html" >/dev/null
cmp -s "$tmp/reference.html" "$data/battle.html" || fail "the installed battle's report differs"

# $XDG_DATA_HOME/morvane/; a user's own catalogue there is never replaced.
mkdir -p "$tmp/xdg/morvane"
{ cat "$share/morvane/card.dat"; printf '; my own cards\r\n'; } >"$tmp/xdg/morvane/card.dat"
cp "$tmp/xdg/morvane/card.dat" "$tmp/own-card.dat"
line=$(cd "$tmp/work" && XDG_DATA_HOME=$tmp/xdg HOME="$home" "$prefix/bin/morvane-cli" battle --seed 1 --time T) ||
  fail "battle with XDG_DATA_HOME failed: $line"
[[ $line == *" report=$tmp/xdg/morvane/battle.html" ]] || fail "unexpected line: $line"
cmp -s "$tmp/own-card.dat" "$tmp/xdg/morvane/card.dat" || fail "the user's card.dat was replaced"
cmp -s "$share/morvane/deck0.dat" "$tmp/xdg/morvane/deck0.dat" || fail "deck0.dat was not seeded"

# A data folder that cannot be created is an error that names it, not an empty folder.
touch "$tmp/file"
status=0
err=$(cd "$tmp/work" && XDG_DATA_HOME=$tmp/file "$prefix/bin/morvane-cli" battle 2>&1 >/dev/null) || status=$?
[ "$status" -eq 1 ] || fail "exit status $status for a data folder that cannot be created"
[[ $err == *"$tmp/file/morvane/"* ]] || fail "the error does not name the folder: $err"

# The installed service finds its pages beside it, plays and serves a battle, and
# writes only into its own root.
"$prefix/bin/morvane-server" --root "$tmp/battles" --cards "$share/morvane/card.dat" --listen 127.0.0.1:0 \
  2>"$tmp/server.log" &
server=$!
for _ in $(seq 100); do grep -q ' runners)' "$tmp/server.log" && break; sleep 0.1; done
port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/server.log")
[ -n "$port" ] || { kill "$server"; fail "the installed service did not start: $(cat "$tmp/server.log")"; }
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /static/app.js HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&3
reply=$(cat <&3)
exec 3<&-
kill -TERM "$server"
wait "$server" || fail "the installed service did not stop cleanly"
[[ $reply == "HTTP/1.1 200 OK"* ]] || fail "the installed service does not serve its script: ${reply:0:200}"
grep -q "ExecStart=$prefix/bin/morvane-server" "$prefix/lib/systemd/system/morvane-server.service" ||
  fail "the systemd unit does not start the installed service"

(cd "$prefix" && find . | sort) >"$tmp/after"
cmp -s "$tmp/before" "$tmp/after" || fail "files were written into the install: $(diff "$tmp/before" "$tmp/after")"
[ -z "$(ls -A "$tmp/work")" ] || fail "files were written into the working folder: $(ls -A "$tmp/work")"
echo "installed morvane-cli plays from $data"
