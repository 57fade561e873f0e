#!/usr/bin/env bash
# End-to-end without a window: kwinstall installs a product from kwserve on
# 127.0.0.1; the product is then started the way a desktop starts it (the
# desktop entry's Exec line in its Path folder), and the uninstaller is run
# exactly as the installed-programs entry stores it.  Programs and scripts
# must come out runnable, data files not, and the uninstaller must leave
# nothing of the product behind.
# Usage: kwinstall_e2e.sh KWINSTALL KWSERVE KWPACK UNINSTALLER
set -euo pipefail
kwinstall=$1 kwserve=$2 kwpack=$3 uninstaller=$4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"

kw_e2e_begin kwinstall

kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 1 0

kw_e2e_user
umask 022
printf '[INSTALL]\nREQUIREDSPACE=1048576\n' > "$work/itarnwick.ini"
root="$work/inst"
"$kwinstall" --server "$KW_SERVER_URL" --dir "$root" --agree --ini "$work/itarnwick.ini" \
  --timing > "$work/kwinstall.log" 2>&1 || { cat "$work/kwinstall.log" >&2; fail "kwinstall"; }
kw_expect_installed "$work/product" "$root"
# The last progress line before the result says the whole install is done.
last=$(grep -B1 '^installed into ' "$work/kwinstall.log" | head -1)
case "$last" in
  install*" 100.0%"*) ;;
  *) fail "last progress line before the result: '$last'" ;;
esac
# Its total is the package's, as every line before it said, not the
# download and the unpacking counted together.
total_of() { sed -n 's|.* / \([0-9.]* [KMG]*B\).*|\1|p' <<<"$1"; }
first=$(grep -m1 -E '^(download|install ) ' "$work/kwinstall.log" | grep ' / ' || true)
[ -z "$first" ] || [ "$(total_of "$first")" = "$(total_of "$last")" ] ||
  fail "the total changed from '$first' to '$last'"
# --timing: the phases in seconds; the verify tail is a part of the download.
awk '/^download seconds / { d = $3 } /^install seconds / { i = $3 } /^verify tail seconds / { t = $4 }
     END { exit !(d != "" && i != "" && t != "" && t + 0 <= d + 0) }' "$work/kwinstall.log" ||
  fail "--timing printed: $(cat "$work/kwinstall.log")"

mode() { stat -c %a "$1"; }
[ "$(mode "$root/V2.0.0/Windows/Tarnwick.exe")" = 755 ] || fail "the product is not runnable"
[ "$(mode "$root/uninstall.exe")" = 755 ] || fail "the moved uninstaller is not runnable"
for data in README.txt data/sample1.bin Windows/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini; do
  [ "$(mode "$root/V2.0.0/$data")" = 644 ] || fail "$data has mode $(mode "$root/V2.0.0/$data")"
done

# Started through the desktop entry, as a launcher does.
desktop="$XDG_DESKTOP_DIR/Tarnwick.desktop"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
path_line=$(sed -n 's/^Path=//p' "$desktop")
[ -n "$exec_line" ] && [ -n "$path_line" ] || fail "desktop entry without Exec or Path"
(cd "$path_line" && DISPLAY="" eval "$exec_line") || fail "the desktop entry's Exec line failed"
grep -q "Tarnwick started" "$root/V2.0.0/Windows/started.log" || fail "the product did not run"

# The uninstall command as stored (the store escapes "\" and '"' with "\").
stored=$(sed -n 's/^"UninstallString"="\(.*\)"$/\1/p' "$KW_REGISTRY_DIR/system.reg" |
  sed -e 's/\\"/"/g' -e 's/\\\\/\\/g')
[ "$stored" = "$root/uninstall.exe" ] || fail "uninstall entry names '$stored'"
"$stored" --unattended > "$work/uninstall.log" 2>&1 || { cat "$work/uninstall.log" >&2; fail "the uninstaller failed"; }
kw_expect_removed "$root"
echo "kwinstall e2e: installed, started and removed again"
