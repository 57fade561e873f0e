#!/usr/bin/env bash
# End-to-end: the real tarnwick-makepkg under a virtual display.  The three
# boxes are filled with xdotool, MAKE is pressed, the package it writes is
# checked with kwpack, and CANCEL twice returns to idle and quits.
# Usage: makepkg_e2e.sh MAKEPKG KWPACK [SHOTS_DIR]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
makepkg=$1 kwpack=$2 shots=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
kw_need_display_tools

kw_e2e_begin makepkg
KW_E2E_LOG="$work/makepkg.log"

# A small tree with a folder, a hidden folder that is not packed, and data.
src="$work/product" out="$work/out"
mkdir -p "$src/Windows" "$src/.cache" "$out"
printf 'Tarnwick sample product.\n' > "$src/README.txt"
printf '#!/bin/sh\necho hi\n' > "$src/Windows/Tarnwick.exe"
head -c 3000000 /dev/urandom > "$src/Windows/data.bin"
printf 'not packed\n' > "$src/.cache/note"

mkdir -p "$work/app"
cp "$makepkg" "$work/app/tarnwick-makepkg"
kw_e2e_user_on_display

"$work/app/tarnwick-makepkg" > "$work/makepkg.log" 2>&1 &
app_pid=$!
kw_wait_pid_window "$app_pid" 20 || fail "window"
sleep 1
kw_shot "$shots/makepkg-e2e-idle.png"

# kw_type_box X Y TEXT: clicks into the box at page coordinates and types.
kw_type_box() {
  xdotool windowfocus --sync "$KW_WID" 2>/dev/null || true
  kw_click_page "$1" "$2"
  xdotool key ctrl+a BackSpace
  xdotool type --delay 5 "$3"
  sleep 0.3
}
read -r x y < <(kw_makepkg_from); kw_type_box "$x" "$y" "$src"
read -r x y < <(kw_makepkg_to); kw_type_box "$x" "$y" "$out"
read -r x y < <(kw_makepkg_name); kw_type_box "$x" "$y" "E2E"
read -r x y < <(kw_makepkg_make); kw_click_page "$x" "$y"

# The maker writes list.json after its "end" report.
kw_wait_for 60 test -s "$out/list.json" || fail "no list.json"
sleep 1
kw_shot "$shots/makepkg-e2e-ended.png"
"$kwpack" verify "$out" > "$work/verify.log" 2>&1 || { cat "$work/verify.log" >&2; fail "kwpack verify"; }
"$kwpack" unpack "$out/E2E_000.kwk" "$work/unpacked" > "$work/unpack.log" 2>&1 || fail "kwpack unpack"
cmp -s "$src/Windows/data.bin" "$work/unpacked/Windows/data.bin" || fail "data.bin differs"
[ ! -e "$work/unpacked/.cache" ] || fail "the hidden folder was packed"
grep -q "^FROMPATH=$src" "$work/app/make.ini" || fail "make.ini lacks the source folder"
grep -q "^PACKAGE=E2E" "$work/app/make.ini" || fail "make.ini lacks the package name"

# CANCEL forgets the ended run; a second CANCEL quits.
read -r x y < <(kw_makepkg_cancel); kw_click_page "$x" "$y"
kw_process_gone "$app_pid" && fail "the first CANCEL quit"
kw_click_page "$x" "$y"
kw_wait_for 10 kw_process_gone "$app_pid" || fail "the second CANCEL did not quit"
app_pid=""
echo "e2e: package made in $out; screenshots in $shots"
