#!/usr/bin/env bash
# End-to-end: the real tarnwick-installer under a virtual display against
# kwserve on 127.0.0.1, clicked with xdotool through the version page, the
# agreement and the download; then the installed tree, the stored install
# folder, the desktop entry and the clean-up are checked.
# Usage: installer_e2e.sh INSTALLER KWSERVE KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
installer=$1 kwserve=$2 kwpack=$3 uninstaller=$4 shots=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools
kw_e2e_begin installer
KW_E2E_LOG="$work/installer.log"

# A product of 8 MiB served at 512 KiB/s per connection (the engine shares
# the volume out over four): about four seconds of download, long enough to
# see the page in progress.
kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 8 524288

mkdir -p "$work/app"
cp "$installer" "$work/app/tarnwick-installer"
printf '[SERVER]\nURL=%s\n[INSTALL]\nREQUIREDSPACE=1048576\n[LANGUAGE]\nCODEPAGE=0\n' \
  "$KW_SERVER_URL" > "$work/app/itarnwick.ini"
kw_e2e_user_on_display

"$work/app/tarnwick-installer" > "$work/installer.log" 2>&1 &
app_pid=$!
# The title is "塔恩维克" until the language is switched; the process starts in
# Chinese (code page 936), as designed.
kw_wait_window "(塔恩维克|Tarnwick)" 20 || fail "window"
root="$HOME/tarnwickinst"
kw_drive_install "$shots" "$root" e2e- || fail "driving the window"

kw_expect_installed "$work/product" "$root"
# The package carries no modes: programs and scripts get the run bits from
# their content, data files do not.
[ -x "$root/uninstall.exe" ] || fail "the moved uninstaller is not runnable"
[ -x "$root/V2.0.0/Windows/Tarnwick.exe" ] || fail "the product is not runnable"
[ ! -x "$root/V2.0.0/README.txt" ] || fail "README.txt is runnable"
[ ! -e "$root/unzip.ins" ] || fail "unzip.ins left behind"
ls "$root"/*.tmp >/dev/null 2>&1 && fail "downloaded volumes left behind"

# Idle again: the close button closes at once, and the process ends.
read -r x y < <(kw_close_button); kw_click_window "$x" "$y"
kw_wait_for 10 kw_process_gone "$app_pid" || fail "the installer did not close"
app_pid=""
echo "e2e: installed into $root; screenshots in $shots"
