#!/usr/bin/env bash
# Builds the Debian package as `cpack -G DEB` does, holds it to lintian (no error and
# no warning), and plays a battle with the morvane-cli it installs: from /usr/games,
# with the data of /usr/share/morvane seeding the user's folder. Exits 77 (skipped)
# when lintian or dpkg-deb is missing; scripts/setup installs them.
# Arguments: the build folder.
set -euo pipefail
build=$1
for tool in lintian dpkg-deb cpack; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$tmp/cpack.log")"
deb=$(ls "$tmp"/out/morvane_*.deb)

# Root is told that lintian would rather not run as root; that line is no finding.
status=0
lintian --fail-on error,warning "$deb" >"$tmp/lintian" 2>&1 || status=$?
findings=$(grep -v 'running with root privileges' "$tmp/lintian" || true)
[ "$status" -eq 0 ] && [ -z "$findings" ] || fail "lintian (status $status): $findings"

dpkg-deb -x "$deb" "$tmp/root"
for file in usr/games/morvane usr/games/morvane-cli usr/games/morvane-server usr/share/doc/morvane/copyright \
            usr/share/doc/morvane/changelog.gz usr/share/morvane/card.dat; do
  [ -f "$tmp/root/$file" ] || fail "not in the package: $file"
done
unit=$(find "$tmp/root" -name morvane-server.service)
[ -n "$unit" ] || fail "not in the package: morvane-server.service"
grep -q '^ExecStart=/usr/games/morvane-server ' "$unit" || fail "the unit starts no /usr/games/morvane-server: $(grep ExecStart "$unit")"
grep -q 'License: GPL-3+' "$tmp/root/usr/share/doc/morvane/copyright" || fail "the copyright file names no GPL-3+"

mkdir "$tmp/home"
line=$(cd "$tmp" && env -u XDG_DATA_HOME HOME="$tmp/home" "$tmp/root/usr/games/morvane-cli" battle --seed 1 --time T) ||
  fail "the packaged morvane-cli failed: $line"
[ "$line" = "winner=bottom turns=8 report=$tmp/home/.local/share/morvane/battle.html" ] || fail "unexpected line: $line"
echo "the package passes lintian and plays from /usr/games"
