#!/usr/bin/env bash
# The menu entry and the AppStream metadata pass their validators, the manual pages
# format without a warning, and each icon render has the size its name says. Exits 77
# (skipped) when a validator is not installed; scripts/setup installs them.
# Arguments: the folder of the generated files, the icon folder, the application id.
set -euo pipefail
generated=$1 icons=$2 app=$3
for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done

desktop-file-validate "$generated/$app.desktop"
appstreamcli validate --no-net "$generated/$app.metainfo.xml"

for page in morvane.1 morvane-cli.1; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$generated/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "FAIL: $page: $warnings" >&2; exit 1; }
done

# Width and height are the big-endian words at bytes 16 and 20 of a PNG.
for png in "$icons"/*.png; do
  size=$(basename "$png" .png)
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || { echo "FAIL: $png is ${width}x$height" >&2; exit 1; }
done
echo "desktop entry, metadata, manual pages and icons are valid"
