#!/usr/bin/env bash
# End-to-end, keyboard only: the real tarnwick-installer under a virtual
# display against kwserve on 127.0.0.1, driven with `xdotool key` and no
# pointer at all: the language list (Tab, Space, arrows, Enter), the install
# link (Tab, Enter), the agreement (Tab, Space), the download (Enter), the
# finish, and Escape to close.  Once choosing English and once Chinese, each
# for a user of its own; the first user's next start opens in the language
# chosen before.
# Usage: keyboard_e2e.sh INSTALLER KWSERVE KWPACK UNINSTALLER [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
installer=$1 kwserve=$2 kwpack=$3 uninstaller=$4 shots=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools
kw_e2e_begin keyboard
KW_E2E_LOG="$work/installer.log"

kw_serve_product "$kwpack" "$kwserve" "$uninstaller" 6 1048576
kw_e2e_user_on_display
base=$work

# keys KEY...: key presses through the X server's test extension, into the
# window that has the keyboard focus.
keys() {
  xdotool key --delay 120 "$@"
  sleep 0.5
}

# start_installer USER: a fresh copy for USER (own home and key store).
start_installer() {
  local user=$1
  export HOME="$base/$user" XDG_CONFIG_HOME="$base/$user/.config"
  export XDG_DATA_HOME="$base/$user/.local/share" XDG_DESKTOP_DIR="$base/$user/Desktop"
  export KW_REGISTRY_DIR="$base/$user/registry"
  mkdir -p "$XDG_DESKTOP_DIR" "$base/app-$user"
  cp "$installer" "$base/app-$user/tarnwick-installer"
  printf '[SERVER]\nURL=%s\n[INSTALL]\nREQUIREDSPACE=1048576\n' "$KW_SERVER_URL" \
    > "$base/app-$user/itarnwick.ini"
  "$base/app-$user/tarnwick-installer" > "$KW_E2E_LOG" 2>&1 &
  app_pid=$!
  kw_wait_window "(塔恩维克|Tarnwick)" 20 || fail "window of $user"
  xdotool windowfocus --sync "$KW_WID" 2>/dev/null || true
  sleep 2  # the version page asks the server first
}

title_is() { [ "$(xdotool getwindowname "$KW_WID" 2>/dev/null)" = "$1" ]; }

close_with_escape() {
  keys Escape
  kw_wait_for 10 kw_process_gone "$app_pid" || fail "Escape did not close the installer"
  app_pid=""
}

# install_with_keys USER ARROW TITLE TAG: chooses the language with ARROW in
# the opened list (Up: English, Down: Chinese), expects TITLE, then installs.
install_with_keys() {
  local user=$1 arrow=$2 title=$3 tag=$4
  start_installer "$user"
  # The language list is the first control of the version page.
  keys Tab space
  kw_shot "$shots/kbd-$tag-language-open.png"
  keys "$arrow" Return
  kw_wait_for 5 title_is "$title" || fail "$tag: the title did not become $title"
  # Version list, then the install link; Enter follows it.
  keys Tab Tab Return
  sleep 1
  kw_shot "$shots/kbd-$tag-install-page.png"
  # Folder box, browse, then the agreement; Space ticks it.
  keys Tab Tab Tab space
  kw_shot "$shots/kbd-$tag-focus-ring.png"
  local root="$HOME/tarnwickinst"
  # Enter presses the page's main button: the download.
  keys Return
  kw_wait_for 20 kw_has_partial_volume "$root" || kw_install_finished "$root" ||
    fail "$tag: no download started"
  kw_wait_for 180 kw_install_finished "$root" || fail "$tag: the installation did not finish"
  sleep 2
  kw_shot "$shots/kbd-$tag-finished.png"
  kw_expect_installed "$work/product" "$root"
  close_with_escape
}

install_with_keys english Up "Tarnwick" en
grep -q '"Language"="0"' "$base/english/registry/user.reg" || fail "English was not remembered"
# The next start opens in English without a choice.
start_installer english
title_is "Tarnwick" || fail "the next start did not open in English"
close_with_escape

install_with_keys chinese Down "塔恩维克" zh
grep -q '"Language"="936"' "$base/chinese/registry/user.reg" || fail "Chinese was not remembered"
echo "keyboard e2e: both languages installed; screenshots in $shots"
