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
kw_need_display_tools
kw_e2e_begin local
KW_E2E_LOG="$work/local.log"

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
kw_e2e_user_on_display

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

kw_expect_installed "$work/product" "$target"

# The local installer closes at once.
read -r x y < <(kw_close_button); kw_click_window "$x" "$y"
kw_wait_for 10 kw_process_gone "$app_pid" || fail "the installer did not close"
app_pid=""

# The uninstaller removes what the installation made.
# Programs get their run bits from their content, the uninstaller too.
[ -x "$target/uninstall.exe" ] || fail "the installed uninstaller is not runnable"
"$target/uninstall.exe" --unattended || fail "the uninstaller failed"
kw_expect_removed "$target"
echo "e2e: bundled, installed into $target and removed; screenshots in $shots"
