# Shared steps of the end-to-end test and scripts/demo: a sample product
# packed with kwpack, kwserve on 127.0.0.1 serving it, the installer copied
# into its own folder with an ini that points at the server, and helpers
# that drive the real window with xdotool under a virtual display.
# Source this file; every function reports failures on stderr and returns
# non-zero.  Coordinates are window coordinates: the page area starts 6
# pixels in and 48 pixels down (below the caption band).

KW_PAGE_X=6
KW_PAGE_Y=48

# kw_make_product DIR UNINSTALLER MIB: a small Tarnwick product tree.
kw_make_product() {
  local dest=$1 uninstaller=$2 mib=${3:-12}
  mkdir -p "$dest/Windows/Tarnwick/Plugins/WinUI/Resources/resource" "$dest/ikwdriver" "$dest/data"
  cat > "$dest/Windows/Tarnwick.exe" <<'PROGRAM'
#!/bin/sh
# The sample product: records that it ran and in which language, and shows
# a small window when a display is there.
here=$(cd "$(dirname "$0")" && pwd)
ini="$here/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini"
codepage=$(sed -n 's/^CODEPAGE=//p' "$ini" 2>/dev/null | tr -d '\r')
echo "Tarnwick started codepage=${codepage:-?}" >> "$here/started.log"
if [ -n "${DISPLAY:-}" ] && command -v xmessage >/dev/null 2>&1; then
  xmessage -center -timeout 20 "Tarnwick V2.0.0 is running (code page ${codepage:-?})." &
fi
PROGRAM
  printf '[LANGUAGE]\nCODEPAGE=0\n' > "$dest/Windows/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini"
  cp "$uninstaller" "$dest/ikwdriver/uninstall.exe"
  printf 'Tarnwick sample product.\n' > "$dest/README.txt"
  local i
  for i in 1 2 3; do
    head -c $((mib * 1024 * 1024 / 3)) /dev/urandom > "$dest/data/sample$i.bin"
  done
}

# kw_start_server KWSERVE ROOT RATE LOG: starts kwserve in the background on
# 127.0.0.1 and sets KW_SERVER_PID and KW_SERVER_URL.
kw_start_server() {
  local kwserve=$1 root=$2 rate=$3 log=$4 fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$kwserve" --root "$root" --port 0 --rate-limit "$rate" > "$fifo" 2> "$log" &
  KW_SERVER_PID=$!
  local line=""
  read -r -t 20 line < "$fifo" || true
  rm -f "$fifo"
  KW_SERVER_URL=${line#listening on }
  if [ -z "$line" ] || [ "$KW_SERVER_URL" = "$line" ]; then
    echo "kwserve did not start; its log:" >&2
    cat "$log" >&2
    return 1
  fi
}

# kw_serve_product KWPACK KWSERVE UNINSTALLER MIB RATE: the sample product
# of MIB MiB in "$work/product", packed as V2.0.0 into "$work/server" and
# served by kwserve at RATE bytes per second per connection (0: unlimited).
kw_serve_product() {
  local kwpack=$1 kwserve=$2 uninstaller=$3 mib=$4 rate=$5
  kw_make_product "$work/product" "$uninstaller" "$mib"
  "$kwpack" make "$work/product" "$work/server" V2.0.0 > "$work/kwpack.log" 2>&1 || fail "kwpack make"
  kw_start_server "$kwserve" "$work/server" "$rate" "$work/kwserve.log" || fail "kwserve"
}

# kw_start_xvfb: a virtual display; sets KW_XVFB_PID and DISPLAY.  The display
# must answer before this returns: a server that took a number and then went
# away, or one not yet accepting, would make the window under test fail to
# start for a reason that is not its own.  -noreset keeps the server (and the
# properties other clients put on its root window, such as the accessibility
# bus address) as it is when the last client leaves.
kw_start_xvfb() {
  local attempt
  for attempt in 1 2 3; do
    kw_try_start_xvfb && return 0
    kill "$KW_XVFB_PID" 2>/dev/null || true
    wait "$KW_XVFB_PID" 2>/dev/null || true
    KW_XVFB_PID=""
  done
  echo "Xvfb did not start" >&2
  return 1
}

kw_try_start_xvfb() {
  local fdfile n i
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3> "$fdfile" 2>/dev/null &
  KW_XVFB_PID=$!
  for i in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    kill -0 "$KW_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  n=$(head -n1 "$fdfile")
  rm -f "$fdfile"
  [ -n "$n" ] || return 1
  export DISPLAY=":$n"
  for i in $(seq 1 50); do
    kill -0 "$KW_XVFB_PID" 2>/dev/null || return 1
    xdotool getdisplaygeometry > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# kw_wait_xdotool WHAT SECONDS SEARCH...: sets KW_WID to the first visible
# window `xdotool search --onlyvisible SEARCH...` finds; WHAT names it in the
# error.
kw_wait_xdotool() {
  local what=$1 secs=$2 i
  shift 2
  for i in $(seq 1 $((secs * 10))); do
    KW_WID=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n1 || true)
    [ -n "$KW_WID" ] && return 0
    sleep 0.1
  done
  echo "no $what appeared" >&2
  return 1
}

# kw_wait_window NAME SECONDS: sets KW_WID to the visible window with that
# title.
kw_wait_window() { kw_wait_xdotool "window named $1" "$2" --name "^$1\$"; }

# kw_click_page X Y: a real click at page coordinates of the window.
kw_click_page() {
  xdotool mousemove --window "$KW_WID" $((KW_PAGE_X + $1)) $((KW_PAGE_Y + $2)) click 1
  sleep 0.4
}

# kw_click_window X Y: a real click at window coordinates.
kw_click_window() {
  xdotool mousemove --window "$KW_WID" "$1" "$2" click 1
  sleep 0.4
}

# kw_shot FILE: the window as it is on the screen.
kw_shot() { import -window "$KW_WID" "$1"; }

# kw_wait_for SECONDS COMMAND...: polls COMMAND every 0.2 s.
kw_wait_for() {
  local secs=$1 i
  shift
  for i in $(seq 1 $((secs * 5))); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

# Page coordinates of the controls in the main window's 1188 x 646 page area.
kw_online_link() { echo "394 502"; }           # "New version %s"
kw_online_language() { echo "1122 44"; }       # language list
kw_install_agree() { echo "112 556"; }         # agreement box
kw_install_start() { echo "1038 556"; }        # download / pause / continue
kw_install_cancel() { echo "922 556"; }        # cancel
kw_close_button() { echo "1172 24"; }          # window coordinates: caption close

# kw_click_prompt_ok: presses OK of the skinned message box (560 x 320, OK
# centred in the lower half of its content below the 48-pixel caption).  The
# window class follows the program's file name: "tarnwick-*", or
# "twinstaller.exe" for the installer the guided installer writes out.
kw_click_prompt_ok() {
  local box="" i w
  for i in $(seq 1 30); do
    for w in $(xdotool search --onlyvisible --classname '(tarnwick|twinstaller)' 2>/dev/null); do
      if xdotool getwindowgeometry "$w" 2>/dev/null | grep -q 'Geometry: 560x320'; then
        box=$w
        break
      fi
    done
    [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] || return 1
  xdotool mousemove --window "$box" 280 252 click 1
  sleep 0.4
}

# kw_click_prompt_ok_shot FILE: as kw_click_prompt_ok, with a picture of the
# box in FILE first.
kw_click_prompt_ok_shot() {
  local w
  for w in $(xdotool search --onlyvisible --classname '(tarnwick|twinstaller)' 2>/dev/null); do
    if xdotool getwindowgeometry "$w" 2>/dev/null | grep -q 'Geometry: 560x320'; then
      import -window "$w" "$1" 2>/dev/null || true
      kw_click_prompt_ok
      return
    fi
  done
  return 1
}

# True while a volume is being downloaded into the install folder.
kw_has_partial_volume() { compgen -G "$1/*.tmp" >/dev/null; }

# True once the finishing steps ran: the uninstaller moved, no volume left.
kw_install_finished() {
  [ -f "$1/uninstall.exe" ] && ! compgen -G "$1/*.tmp" >/dev/null && [ ! -e "$1/unzip.ins" ]
}

kw_process_gone() { ! kill -0 "$1" 2>/dev/null; }

# kw_drive_install SHOTS ROOT PREFIX: from the version page through the
# agreement and the download to the version page again, with real clicks,
# saving PREFIXversion-page.png, PREFIXinstall-page.png, PREFIXpleasecheck.png,
# PREFIXinstall-progress.png (and -later.png while still downloading) and
# PREFIXversion-installed.png in SHOTS.
kw_drive_install() {
  local shots=$1 root=$2 p=$3 x y
  sleep 2  # the version page asks the server first
  kw_shot "$shots/${p}version-page.png"
  read -r x y < <(kw_online_link); kw_click_page "$x" "$y"
  sleep 1
  kw_shot "$shots/${p}install-page.png"

  # Without the agreement the download does not start: a message says so.
  read -r x y < <(kw_install_start); kw_click_page "$x" "$y"
  sleep 0.6
  kw_shot "$shots/${p}pleasecheck.png"
  if compgen -G "$root/*.tmp" >/dev/null; then
    echo "the download started without the agreement" >&2
    return 1
  fi
  kw_click_prompt_ok || { echo "the agreement message did not show" >&2; return 1; }

  read -r x y < <(kw_install_agree); kw_click_page "$x" "$y"
  read -r x y < <(kw_install_start); kw_click_page "$x" "$y"
  kw_wait_for 20 kw_has_partial_volume "$root" || { echo "no download started" >&2; return 1; }
  sleep 1.5
  kw_shot "$shots/${p}install-progress.png"
  # A second look once the first segments have landed, if still under way.
  sleep 3
  if kw_has_partial_volume "$root"; then kw_shot "$shots/${p}install-progress-later.png"; fi

  kw_wait_for 180 kw_install_finished "$root" || { echo "the installation did not finish" >&2; return 1; }
  sleep 2
  kw_shot "$shots/${p}version-installed.png"
}

# kw_wait_pid_window PID SECONDS: sets KW_WID to a visible window of PID.
kw_wait_pid_window() { kw_wait_xdotool "window of process $1" "$2" --pid "$1"; }

# kw_need_display_tools: exits 77 (skipped) when Xvfb, xdotool or import is
# missing.
kw_need_display_tools() {
  local tool
  for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool missing"; exit 77; }
  done
}

# kw_stop_pids PID...: ends the given processes (empty ones are skipped) and
# waits for them; for a test's exit trap.
kw_stop_pids() {
  local pid
  for pid in "$@"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}

# Page coordinates of the make-package window's boxes and buttons.
kw_makepkg_from() { echo "432 44"; }
kw_makepkg_to() { echo "432 76"; }
kw_makepkg_name() { echo "432 108"; }
kw_makepkg_make() { echo "64 172"; }
kw_makepkg_cancel() { echo "184 172"; }

# kw_e2e_begin NAME: the common start of a test script.  Makes the test's
# temporary folder `work`, puts screenshots in `shots` (when the caller left
# it empty, inside `work`), and sets an exit trap that ends what the test
# started (the processes in app_pid, second_pid, KW_SERVER_PID and
# KW_XVFB_PID) and removes `work`.  `fail` then names NAME in its picture.
kw_e2e_begin() {
  KW_E2E_NAME=$1
  work=$(mktemp -d "${TMPDIR:-/tmp}/kwe2e-$1.XXXXXX")
  KW_SERVER_PID="" KW_XVFB_PID="" KW_WID="" app_pid="" second_pid=""
  trap kw_e2e_cleanup EXIT
  [ -n "${shots:-}" ] || shots="$work/shots"
  mkdir -p "$shots"
}

kw_e2e_cleanup() {
  kw_stop_pids "$app_pid" "$second_pid" "$KW_SERVER_PID" "$KW_XVFB_PID"
  rm -rf "$work"
}

# fail MESSAGE...: reports the failure with a picture of the test's window
# (or of the screen) and the end of the program's log (KW_E2E_LOG), and ends
# the test.  The picture has a time limit: import waits for ever for a
# window that has gone.
fail() {
  echo "FAIL: $*" >&2
  if [ -n "${KW_XVFB_PID:-}" ] && [ -n "${DISPLAY:-}" ]; then
    timeout 10 import -window "${KW_WID:-root}" "$shots/$KW_E2E_NAME-failure.png" 2>/dev/null ||
      timeout 10 import -window root "$shots/$KW_E2E_NAME-failure.png" 2>/dev/null || true
  fi
  if [ -n "${KW_E2E_LOG:-}" ] && [ -f "$KW_E2E_LOG" ]; then tail -n 30 "$KW_E2E_LOG" >&2; fi
  exit 1
}

# kw_e2e_user: a user of our own inside `work`: home, desktop, settings and
# the key store, so the real home folder is never touched.
kw_e2e_user() {
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  export XDG_DESKTOP_DIR="$work/home/Desktop" KW_REGISTRY_DIR="$work/registry"
  mkdir -p "$XDG_DESKTOP_DIR"
}

# kw_e2e_user_on_display: kw_e2e_user, on a virtual display of its own (the
# real windows, not Qt's offscreen platform).
kw_e2e_user_on_display() {
  kw_e2e_user
  unset QT_QPA_PLATFORM
  kw_start_xvfb || fail "Xvfb"
}

# kw_expect_installed PRODUCT ROOT: the product tree made by kw_make_product
# arrived under ROOT/V2.0.0 byte for byte, with the uninstaller beside it,
# registered for the user and with a desktop entry that starts it.
kw_expect_installed() {
  local product=$1 root=$2 i
  for i in 1 2 3; do
    cmp -s "$product/data/sample$i.bin" "$root/V2.0.0/data/sample$i.bin" || fail "sample$i.bin differs"
  done
  cmp -s "$product/Windows/Tarnwick.exe" "$root/V2.0.0/Windows/Tarnwick.exe" ||
    fail "Tarnwick.exe differs"
  [ -f "$root/V2.0.0/README.txt" ] || fail "README.txt not installed"
  [ -f "$root/uninstall.exe" ] || fail "uninstaller not moved into the install folder"
  grep -q "\"InstallPath\"=\"$root\"" "$KW_REGISTRY_DIR/user.reg" || fail "InstallPath not stored"
  grep -q '"DisplayName"="Tarnwick"' "$KW_REGISTRY_DIR/system.reg" || fail "no uninstall entry"
  grep -q "\"UninstallString\"=\"$root/uninstall.exe\"" "$KW_REGISTRY_DIR/system.reg" ||
    fail "the uninstall entry names another uninstaller"
  [ -f "$HOME/Desktop/Tarnwick.desktop" ] || fail "no desktop entry"
  grep -q "^Exec=.*$root/V2.0.0/Windows/Tarnwick.exe" "$HOME/Desktop/Tarnwick.desktop" ||
    fail "the desktop entry points elsewhere"
}

# kw_expect_removed ROOT: what kw_expect_installed found is gone again.
kw_expect_removed() {
  local root=$1
  [ ! -e "$root/V2.0.0" ] || fail "the version folder stayed"
  [ ! -e "$root/uninstall.exe" ] || fail "the uninstaller stayed"
  [ ! -e "$HOME/Desktop/Tarnwick.desktop" ] || fail "the desktop entry stayed"
  ! grep -q "InstallPath" "$KW_REGISTRY_DIR/user.reg" 2>/dev/null || fail "InstallPath stayed"
  ! grep -q "Tarnwick" "$KW_REGISTRY_DIR/system.reg" 2>/dev/null || fail "the uninstall entry stayed"
}
