#!/usr/bin/env bash
# End-to-end: the real tarnwick-guided under a virtual display.  Its first
# page is looked at in both languages, refuses three bad locations, then
# deploys the installer it carries into a typed location, puts the desktop
# entry to it, starts it and closes; the second installer then installs
# from kwserve on 127.0.0.1 with real clicks.
# Usage: guided_e2e.sh GUIDED INSTALLER KWSERVE KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
guided=$1 installer=$2 kwserve=$3 kwpack=$4 uninstaller=$5 shots=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools
kw_e2e_begin guided
KW_E2E_LOG="$work/guided.log"

# Page coordinates of the first page's controls in the 788 x 466 page area
# of the 800 x 520 window.
first_language() { echo "368 346"; }
first_location() { echo "450 378"; }
first_install() { echo "676 430"; }

# Types TEXT into the location box, replacing what was there.
type_location() {
  read -r x y < <(first_location); kw_click_page "$x" "$y"
  xdotool key --window "$KW_WID" ctrl+a BackSpace
  [ -z "$1" ] || xdotool type --delay 10 "$1"
  sleep 0.3
}

# Presses Install, expects the skinned message box, keeps a picture of the
# screen as NAME.png and presses OK.
expect_refusal() {
  read -r x y < <(first_install); kw_click_page "$x" "$y"
  sleep 0.4
  import -window root "$shots/$1.png"
  kw_click_prompt_ok || fail "no message for $1"
}

# A product of 2 MiB at 256 KiB/s per connection: two seconds of download,
# so the second installer is seen at work.
kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 2 262144

mkdir -p "$work/app" "$work/Program Files"
echo "a file, not a folder" > "$work/afile"
cp "$guided" "$work/app/tarnwick-guided"
printf '[SERVER]\nURL=%s\n[INSTALL]\nREQUIREDSPACE=1048576\n' "$KW_SERVER_URL" > "$work/app/itarnwick.ini"
kw_e2e_user_on_display

"$work/app/tarnwick-guided" > "$work/guided.log" 2>&1 &
app_pid=$!
kw_wait_window "(塔恩维克|Tarnwick)" 20 || fail "window"
xdotool getwindowgeometry "$KW_WID" | grep -q 'Geometry: 800x520' || fail "the window is not 800 x 520"
sleep 1
kw_shot "$shots/guided-page-zh.png"

# English from the page's list: the list opens as a window of its own below
# the cell; its first item is English.
read -r x y < <(first_language); kw_click_page "$x" "$y"
popup=""
for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
  [ "$w" = "$KW_WID" ] || popup=$w
done
[ -n "$popup" ] || fail "the language list did not open"
xdotool mousemove --window "$popup" 40 18 click 1
sleep 0.6
kw_shot "$shots/guided-page-en.png"

# The box suggests the home folder; emptied, it is refused.
type_location ""
expect_refusal guided-refused-empty
type_location "$work/Program Files"
expect_refusal guided-refused-programfiles
type_location "$work/afile/inside"
expect_refusal guided-refused-unwritable
[ -e "$work/Program Files/tarnwick_install" ] && fail "a refused location was written to"

# A location that does not exist yet is made, as the other installers do.
type_location "$work/new/loc"
read -r x y < <(first_install)
xdotool mousemove --window "$KW_WID" $((KW_PAGE_X + x)) $((KW_PAGE_Y + y)) click 1
sleep 0.5
import -window root "$shots/guided-wait.png"
kw_wait_for 30 kw_process_gone "$app_pid" || fail "the guided window did not close"
app_pid=""

exe="$work/new/loc/tarnwick_install/twinstaller.exe"
cmp -s "$installer" "$exe" || fail "twinstaller.exe differs from tarnwick-installer"
[ -x "$exe" ] || fail "twinstaller.exe is not runnable"
settings="$work/new/loc/tarnwick_install/itarnwick.ini"
grep -qx "URL=$KW_SERVER_URL" "$settings" || fail "settings not copied"
# English was chosen on the page: the installer it deployed starts in it.
grep -qx "CODEPAGE=0" "$settings" || fail "the chosen language is not in the settings"
entry="$HOME/Desktop/Tarnwick Installer.desktop"
[ -f "$entry" ] || fail "no desktop entry"
grep -qx "Exec=$exe" "$entry" || fail "desktop entry points elsewhere: $(grep Exec= "$entry")"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ "$(head -c 4 "$icon" | tail -c 3)" = "PNG" ] || fail "the desktop entry's icon is no picture: $icon"
if command -v desktop-file-validate >/dev/null 2>&1; then
  # Its Comment repeats its Name by design; only errors fail.
  out=$(desktop-file-validate "$entry" 2>&1) || fail "the desktop entry is not valid: $out"
fi

# The second installer is up: its window belongs to the written program.
kw_wait_window "(塔恩维克|Tarnwick)" 30 || fail "the second installer's window"
second_pid=$(xdotool getwindowpid "$KW_WID")
[ "$(readlink "/proc/$second_pid/exe")" = "$exe" ] || fail "the window is not the written installer's"
xdotool getwindowgeometry "$KW_WID" | grep -q 'Geometry: 1200x700' || fail "not the installer's window"

root="$HOME/tarnwickinst"
kw_drive_install "$shots" "$root" guided-second- || fail "driving the second installer"
kw_expect_installed "$work/product" "$root"
read -r x y < <(kw_close_button); kw_click_window "$x" "$y"
kw_wait_for 10 kw_process_gone "$second_pid" || fail "the second installer did not close"
second_pid=""
echo "guided e2e: deployed into $work/new/loc and installed into $root; screenshots in $shots"
