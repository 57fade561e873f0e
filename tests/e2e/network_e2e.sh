#!/usr/bin/env bash
# End-to-end: network trouble with the real tarnwick-installer under a
# virtual display.  kwserve is stopped in the middle of a download and
# started again on the same port: the installer keeps what it has, retries,
# and finishes by itself.  A second installer started for the same folder
# does not open a second window; it says the first is running and ends.
# With the product installed and the server gone, the installer stays open.
# Usage: network_e2e.sh INSTALLER KWSERVE KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
installer=$1 kwserve=$2 kwpack=$3 uninstaller=$4 shots=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools
kw_e2e_begin network
KW_E2E_LOG="$work/installer.log"

# 8 MiB at 256 KiB/s per connection: long enough to pull the plug mid-way.
kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 8 262144
port=${KW_SERVER_URL##*:}

mkdir -p "$work/app"
cp "$installer" "$work/app/tarnwick-installer"
printf '[SERVER]\nURL=%s\n[INSTALL]\nREQUIREDSPACE=1048576\n[LANGUAGE]\nCODEPAGE=0\n' \
  "$KW_SERVER_URL" > "$work/app/itarnwick.ini"
kw_e2e_user_on_display
root="$HOME/tarnwickinst"

"$work/app/tarnwick-installer" > "$work/installer.log" 2>&1 &
app_pid=$!
kw_wait_pid_window "$app_pid" 20 || fail "window"
main_wid=$KW_WID
sleep 2  # the version page asks the server first
read -r x y < <(kw_online_link); kw_click_page "$x" "$y"
sleep 1
read -r x y < <(kw_install_agree); kw_click_page "$x" "$y"
read -r x y < <(kw_install_start); kw_click_page "$x" "$y"
kw_wait_for 20 kw_has_partial_volume "$root" || fail "no download started"

# A second installer for the same folder: no second window; the first comes
# to the front, the second says so and ends.
"$work/app/tarnwick-installer" > "$work/second.log" 2>&1 &
second_pid=$!
kw_wait_for 20 kw_process_gone "$second_pid" || fail "the second installer did not end"
second_pid=""
grep -q "The installer for $root is already running." "$work/second.log" ||
  fail "the second installer did not say why it ended"
kill -0 "$app_pid" 2>/dev/null || fail "the first installer ended"
windows=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)
[ "$windows" -ge 1 ] || fail "the first installer lost its window"

# Mid-way the server goes away.
sleep 2
kill "$KW_SERVER_PID"; wait "$KW_SERVER_PID" 2>/dev/null || true
KW_SERVER_PID=""
sleep 5  # a few attempts
KW_WID=$main_wid
kw_shot "$shots/network-connection-lost.png"
kill -0 "$app_pid" 2>/dev/null || fail "the installer ended without its server"
kw_has_partial_volume "$root" || fail "the partial download was dropped"
[ ! -e "$root/V2.0.0" ] || fail "installed without a server"

# The server comes back on the same port: the download carries on by itself.
"$kwserve" --root "$work/server" --port "$port" --rate-limit 0 > /dev/null 2> "$work/kwserve2.log" &
KW_SERVER_PID=$!
kw_wait_for 180 kw_install_finished "$root" || fail "the download did not carry on"
sleep 2
kw_shot "$shots/network-installed.png"
kw_expect_installed "$work/product" "$root"

# Closed, the server gone again, started anew: with the product installed
# the window stays (Open still works), it does not close on the error.
read -r x y < <(kw_close_button); kw_click_window "$x" "$y"
kw_wait_for 10 kw_process_gone "$app_pid" || fail "the installer did not close"
kill "$KW_SERVER_PID"; wait "$KW_SERVER_PID" 2>/dev/null || true
KW_SERVER_PID=""
"$work/app/tarnwick-installer" > "$work/installer3.log" 2>&1 &
app_pid=$!
kw_wait_pid_window "$app_pid" 20 || fail "window after a restart"
sleep 4
kill -0 "$app_pid" 2>/dev/null || fail "the installer closed although a version is installed"
kw_shot "$shots/network-unreachable-installed.png"
echo "e2e: network trouble handled; screenshots in $shots"
