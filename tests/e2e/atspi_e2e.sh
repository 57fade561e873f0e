#!/usr/bin/env bash
# End-to-end: the install page read through AT-SPI, as a screen reader on
# Linux reads it.  The real tarnwick-installer runs under a virtual display
# with a private session bus and the accessibility bus of at-spi2-core;
# Debian's pyatspi finds the download button, the agreement check box and
# the folder box by role and name, in English and in Chinese.
# Usage: atspi_e2e.sh INSTALLER KWSERVE KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb, xdotool, a session bus (dbus-run-session),
# the accessibility bus (at-spi2-core) or pyatspi is missing; once they are
# there, anything not found fails the test.
set -euo pipefail
installer=$1 kwserve=$2 kwpack=$3 uninstaller=$4 shots=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools
command -v dbus-run-session >/dev/null 2>&1 || { echo "skipped: no session bus (dbus-run-session)"; exit 77; }
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || { echo "skipped: no accessibility bus ($launcher, at-spi2-core)"; exit 77; }
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi missing"; exit 77; }

# Inside a private session bus: the accessibility bus, then the checks.
if [ "${KW_ATSPI_INNER:-}" != 1 ]; then
  exec env KW_ATSPI_INNER=1 dbus-run-session -- bash "$0" "$@"
fi

kw_e2e_begin atspi
KW_E2E_LOG="$work/installer.log"
kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 1 0
kw_e2e_user_on_display

"$launcher" --launch-immediately > "$work/atspi.log" 2>&1 &
second_pid=$!
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0

# read_install_page CODEPAGE DOWNLOAD AGREEMENT FOLDER: starts the installer
# in a language, goes to the install page with the keyboard and looks.
read_install_page() {
  local codepage=$1 download=$2 agreement=$3 folder=$4
  mkdir -p "$KW_REGISTRY_DIR" "$work/app"
  # The language the user chose at an earlier start.
  printf '[SOFTWARE\\kws\\Tarnwick]\n"Language"="%s"\n' "$codepage" > "$KW_REGISTRY_DIR/user.reg"
  cp "$installer" "$work/app/tarnwick-installer"
  printf '[SERVER]\nURL=%s\n' "$KW_SERVER_URL" > "$work/app/itarnwick.ini"
  "$work/app/tarnwick-installer" > "$KW_E2E_LOG" 2>&1 &
  app_pid=$!
  kw_wait_window "(塔恩维克|Tarnwick)" 20 || fail "window"
  xdotool windowfocus --sync "$KW_WID" 2>/dev/null || true
  sleep 2
  # Enter follows the install link.
  xdotool key Return
  sleep 1.5
  kw_shot "$shots/atspi-$codepage.png"
  local out status=0
  out=$(/usr/bin/python3 "$here/kwatspi_find.py" "$app_pid" 30 \
        "button=$download" "checkbox=$agreement" "text=$folder" 2>&1) || status=$?
  echo "$out"
  [ "$status" -eq 0 ] || fail "AT-SPI (code page $codepage): $out"
  kill "$app_pid" 2>/dev/null || true
  kw_wait_for 10 kw_process_gone "$app_pid" || true
  app_pid=""
}

read_install_page 0 "Download" "Agree to the USER LICENSE AGREEMENT" "Choose location"
read_install_page 936 "下载" "同意塔恩维克的 用户许可协议" "选择安装位置"
echo "atspi e2e: the install page reads in both languages"
