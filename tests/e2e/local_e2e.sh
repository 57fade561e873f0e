#!/usr/bin/env bash
# End-to-end: a release engineer bundles tarnwick-local with a package made
# by kwpack into one installer file; a user without any install server runs
# that file under a virtual display, types a folder, presses install, agrees
# and installs.  The product must arrive byte for byte, registered, with its
# desktop entry, and the uninstaller must remove it all again.  Bundling a
# package of two volumes must be refused and write nothing.
# Usage: local_e2e.sh LOCAL_INSTALLER KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
local_installer=$1 kwpack=$2 uninstaller=$3 shots=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool missing"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kwe2e-local.XXXXXX")
KW_XVFB_PID="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$KW_XVFB_PID" ] && kill "$KW_XVFB_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  # Only a window that is still there can be shot; import waits forever
  # for one that is gone.
  if [ -n "$app_pid" ] && [ -n "${KW_WID:-}" ]; then
    timeout 10 import -window "$KW_WID" "$shots/local-failure.png" 2>/dev/null || true
  fi
  [ -f "$work/local.log" ] && tail -n 30 "$work/local.log" >&2
  exit 1
}
[ -z "$shots" ] && shots="$work/shots"
mkdir -p "$shots"

# The release engineer's side: one package volume, one installer file.
kw_make_product "$work/product" "$uninstaller" 12
"$kwpack" make "$work/product" "$work/pkg" V2.0.0 > "$work/kwpack.log" 2>&1 || fail "kwpack make"
mkdir -p "$work/app"
setup="$work/app/tarnwick-setup"
"$kwpack" bundle "$local_installer" "$work/pkg/V2.0.0_000.kwk" "$setup" V2.0.0 \
  >> "$work/kwpack.log" 2>&1 || fail "kwpack bundle"
[ -x "$setup" ] || fail "the installer file has no run bits"

# A package of two volumes cannot be carried in one file.
"$kwpack" make "$work/product" "$work/pkg2" V2.0.0 --volume-size 4000000 > /dev/null 2>&1 ||
  fail "kwpack make (two volumes)"
[ -f "$work/pkg2/V2.0.0_001.kwk" ] || fail "the second package has one volume only"
if "$kwpack" bundle "$local_installer" "$work/pkg2/V2.0.0_000.kwk" "$work/app/half" V2.0.0 \
  2> "$work/refused.txt"; then
  fail "a two-volume package was bundled"
fi
grep -q "first of several volumes" "$work/refused.txt" || fail "no reason given: $(cat "$work/refused.txt")"
[ ! -e "$work/app/half" ] && [ ! -e "$work/app/half.part" ] || fail "a refused bundle left a file"

# The user's side: no install server anywhere, a home of its own.
mkdir -p "$work/home/Desktop"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_DESKTOP_DIR="$work/home/Desktop" KW_REGISTRY_DIR="$work/registry"
unset QT_QPA_PLATFORM
kw_start_xvfb || fail "Xvfb"

"$setup" > "$work/local.log" 2>&1 &
app_pid=$!
kw_wait_window "(塔恩维克|Tarnwick)" 20 || fail "window"
sleep 1
kw_shot "$shots/local-e2e-page-zh.png"

# Type the folder into the path box (page 478..502 high, from x 240).
target="$work/home/Programs/Tarnwick"
kw_click_page 606 490
xdotool key --window "$KW_WID" ctrl+a BackSpace
xdotool type --window "$KW_WID" --delay 5 "$target"
sleep 0.4
kw_shot "$shots/local-e2e-page-typed.png"
# The install button ends 100 pixels before the right edge.
kw_click_page 1060 556
kw_wait_for 20 test -d "$target" || fail "the typed folder was not created"
sleep 1
[ ! -e "$target/test.txt" ] || fail "the probe file was left behind"
kw_shot "$shots/local-e2e-install-page.png"

read -r x y < <(kw_install_agree); kw_click_page "$x" "$y"
read -r x y < <(kw_install_start); kw_click_page "$x" "$y"
under_way() { [ -d "$target/V2.0.0" ] && [ ! -f "$target/uninstall.exe" ]; }
if kw_wait_for 10 under_way; then kw_shot "$shots/local-e2e-installing.png"; fi
kw_wait_for 60 kw_install_finished "$target" || fail "the installation did not finish"
sleep 1.5
kw_shot "$shots/local-e2e-after.png"

for i in 1 2 3; do
  cmp -s "$work/product/data/sample$i.bin" "$target/V2.0.0/data/sample$i.bin" ||
    fail "sample$i.bin differs"
done
cmp -s "$work/product/Windows/Tarnwick.exe" "$target/V2.0.0/Windows/Tarnwick.exe" ||
  fail "Tarnwick.exe differs"
grep -q "\"InstallPath\"=\"$target\"" "$KW_REGISTRY_DIR/user.reg" || fail "InstallPath not stored"
grep -q "\"UninstallString\"=\"$target/uninstall.exe\"" "$KW_REGISTRY_DIR/system.reg" ||
  fail "no uninstall entry for the installed product"
desktop="$HOME/Desktop/Tarnwick.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -q "^Exec=.*$target/V2.0.0/Windows/Tarnwick.exe" "$desktop" || fail "desktop entry points elsewhere"

# The local installer closes at once.
read -r x y < <(kw_close_button); kw_click_window "$x" "$y"
kw_wait_for 10 kw_process_gone "$app_pid" || fail "the installer did not close"
app_pid=""

# The uninstaller removes what the installation made.
uninstall="$target/uninstall.exe"
if [ ! -x "$uninstall" ]; then
  # The package carries no file modes; an unpacker that does not yet mark
  # programs as such leaves the uninstaller without its run bits.
  echo "note: the installed uninstaller has no run bits; running it anyway" >&2
  chmod u+x "$uninstall"
fi
"$uninstall" || fail "the uninstaller failed"
[ ! -e "$target/V2.0.0" ] || fail "the version folder stayed"
[ ! -e "$target/uninstall.exe" ] || fail "the uninstaller stayed"
[ ! -e "$desktop" ] || fail "the desktop entry stayed"
! grep -q "InstallPath" "$KW_REGISTRY_DIR/user.reg" 2>/dev/null || fail "InstallPath stayed"
! grep -q "Tarnwick" "$KW_REGISTRY_DIR/system.reg" 2>/dev/null || fail "the uninstall entry stayed"
echo "e2e: bundled, installed into $target and removed; screenshots in $shots"
