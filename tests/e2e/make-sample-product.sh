#!/usr/bin/env bash
# Lays out a small sample Tarnwick product tree in the folder given as $1:
# the program the version page starts, its settings file, the uninstaller the
# installer moves into the install folder, and some incompressible data so
# the download takes long enough to watch.  $2 is the uninstaller to carry,
# $3 the data size in MiB (default 12).
set -euo pipefail
dest=$1
uninstaller=$2
mib=${3:-12}
mkdir -p "$dest/Windows/Tarnwick/Plugins/WinUI/Resources/resource" "$dest/ikwdriver" "$dest/data"
cat > "$dest/Windows/Tarnwick.exe" <<'PROGRAM'
#!/bin/sh
# The sample product: records that it ran and with which language, and shows
# a small window when a display is there.
here=$(cd "$(dirname "$0")" && pwd)
ini="$here/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini"
codepage=$(sed -n 's/^CODEPAGE=//p' "$ini" 2>/dev/null | tr -d '\r')
echo "Tarnwick started $(date -u +%FT%TZ) codepage=${codepage:-?}" >> "$here/started.log"
if [ -n "${DISPLAY:-}" ] && command -v xmessage >/dev/null 2>&1; then
  xmessage -center -timeout 20 "Tarnwick V2.0.0 is running (code page ${codepage:-?})." &
fi
PROGRAM
printf '[LANGUAGE]\nCODEPAGE=0\n' > "$dest/Windows/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini"
cp "$uninstaller" "$dest/ikwdriver/uninstall.exe"
printf 'Tarnwick sample product, made by scripts/demo.\n' > "$dest/README.txt"
for i in 1 2 3; do
  head -c $((mib * 1024 * 1024 / 3)) /dev/urandom > "$dest/data/sample$i.bin"
done
