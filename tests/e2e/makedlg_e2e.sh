#!/usr/bin/env bash
# End-to-end: the make-package dialog opened from the real tarnwick-installer
# under a virtual display by a click released at (47, 47) of the client area,
# looked at, and closed with its Cancel button.
# Usage: makedlg_e2e.sh INSTALLER KWSERVE KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
installer=$1 kwserve=$2 kwpack=$3 uninstaller=$4 shots=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools

kw_e2e_begin makedlg
KW_E2E_LOG="$work/installer.log"

# The installer asks its server first; a small product keeps it content.
kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 1 0

mkdir -p "$work/app"
cp "$installer" "$work/app/tarnwick-installer"
printf '[SERVER]\nURL=%s\n[LANGUAGE]\nCODEPAGE=0\n' "$KW_SERVER_URL" > "$work/app/itarnwick.ini"
printf '[FROM]\nFROMPATH=/e2e/source\n[TO]\nTOPATH=/e2e/out\n[EXEC]\nPACKAGE=E2E\n' > "$work/app/make.ini"
kw_e2e_user_on_display

"$work/app/tarnwick-installer" > "$work/installer.log" 2>&1 &
app_pid=$!
kw_wait_window "(塔恩维克|Tarnwick)" 20 || fail "window"
main=$KW_WID
sleep 2

# A release just outside the corner opens nothing; at (47, 47) the dialog opens.
kw_click_window 48 10
xdotool search --onlyvisible --name '^make pakage$' >/dev/null 2>&1 && fail "(48, 10) opened the dialog"
kw_click_window 47 47
kw_wait_window "make pakage" 10 || fail "no make-package dialog"
sleep 0.5
kw_shot "$shots/makedlg-e2e.png"

# Cancel sits at 62, 84 (50 x 14) of the dialog's 564 x 105 units.
read -r w h < <(xdotool getwindowgeometry "$KW_WID" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
kw_click_window $((87 * w / 564)) $((91 * h / 105))
dialog_gone() { ! xdotool search --onlyvisible --name '^make pakage$' >/dev/null 2>&1; }
kw_wait_for 10 dialog_gone || fail "Cancel did not close the dialog"
kw_process_gone "$app_pid" && fail "the installer ended with the dialog"

KW_WID=$main
read -r x y < <(kw_close_button); kw_click_window "$x" "$y"
kw_wait_for 10 kw_process_gone "$app_pid" || fail "the installer did not close"
app_pid=""
echo "e2e: make-package dialog opened and cancelled; screenshots in $shots"
