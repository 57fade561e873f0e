#!/usr/bin/env bash
# kwinstall killed outright (SIGKILL) at 20 points spread over download,
# verify, unpack and finishing, while it replaces an installed V2.0.0 with
# V2.0.1.  After every kill the install folder must hold either the old
# version intact and registered or the new one complete and registered,
# never a registered half version and never a half version folder under its
# version's name; a second run must then complete with the tree equal to the
# package, byte for byte.
# Usage: crash_e2e.sh KWINSTALL KWSERVE KWPACK
set -euo pipefail
kwinstall=$1 kwserve=$2 kwpack=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"

kw_e2e_begin crash
kw_e2e_user
umask 022

# Two products: V2.0.1 changes a file and adds many small ones, so that
# unpacking is more than a moment.
printf '#!/bin/sh\necho old uninstaller\n' > "$work/uninstall-old"
printf '#!/bin/sh\necho new uninstaller\n' > "$work/uninstall-new"
kw_make_product "$work/old" "$work/uninstall-old" 3
cp -a "$work/old" "$work/new"
cp "$work/uninstall-new" "$work/new/ikwdriver/uninstall.exe"
echo "V2.0.1" >> "$work/new/README.txt"
mkdir -p "$work/new/lib"
for i in $(seq 1 200); do head -c 6000 /dev/urandom > "$work/new/lib/m$i.bin"; done
head -c $((4 * 1024 * 1024)) /dev/urandom > "$work/new/data/sample4.bin"
"$kwpack" make "$work/old" "$work/p200" V2.0.0 > "$work/kwpack.log" 2>&1 || fail "kwpack make V2.0.0"
"$kwpack" make "$work/new" "$work/p201" V2.0.1 --volume-size 1500000 >> "$work/kwpack.log" 2>&1 ||
  fail "kwpack make V2.0.1"
[ -f "$work/p201/V2.0.1_003.kwk" ] || fail "V2.0.1 should have at least four volumes"

# A slow server for the runs that are killed, a fast one for the runs that
# complete.
kw_start_server "$kwserve" "$work/p201" 3000000 "$work/slow.log" || fail "kwserve (slow)"
slow_url=$KW_SERVER_URL second_pid=$KW_SERVER_PID
kw_start_server "$kwserve" "$work/p201" 0 "$work/fast.log" || fail "kwserve (fast)"
fast_url=$KW_SERVER_URL

printf '[INSTALL]\nREQUIREDSPACE=1048576\n' > "$work/itarnwick.ini"
root="$work/inst"
state=("$root" "$KW_REGISTRY_DIR" "$HOME")

# The starting point of every round: V2.0.0 installed and registered.
"$kwinstall" --volume "$work/p200/V2.0.0_000.kwk" --dir "$root" --agree --quiet \
  > "$work/first.log" 2>&1 || { cat "$work/first.log" >&2; fail "installing V2.0.0"; }
mkdir -p "$work/snapshot"
for s in "${state[@]}"; do cp -a "$s" "$work/snapshot/$(basename "$s")"; done
restore() {
  local s
  for s in "${state[@]}"; do
    rm -rf "$s"
    cp -a "$work/snapshot/$(basename "$s")" "$s"
  done
}

registered() { sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p' "$KW_REGISTRY_DIR/system.reg" 2>/dev/null; }

# same_tree PRODUCT FOLDER: the folder holds the product byte for byte; the
# uninstaller may already have moved out of it.
same_tree() {
  local product=$1 folder=$2
  diff -rq -x uninstall.exe "$product" "$folder" > /dev/null || return 1
  [ ! -e "$folder/ikwdriver/uninstall.exe" ] ||
    cmp -s "$product/ikwdriver/uninstall.exe" "$folder/ikwdriver/uninstall.exe"
}

# The state after a kill, as the rules above say.
check_after_kill() {
  local point=$1 version
  version=$(registered)
  case "$version" in
    V2.0.0) same_tree "$work/old" "$root/V2.0.0" || fail "$point: V2.0.0 registered but not intact" ;;
    V2.0.1) same_tree "$work/new" "$root/V2.0.1" || fail "$point: V2.0.1 registered but incomplete" ;;
    *) fail "$point: registered version '$version'" ;;
  esac
  if [ -e "$root/V2.0.1" ]; then
    same_tree "$work/new" "$root/V2.0.1" || fail "$point: a half V2.0.1 under its own name"
  fi
  [ -x "$root/uninstall.exe" ] || fail "$point: no uninstaller in the install folder"
  grep -q "\"InstallPath\"=\"$root\"" "$KW_REGISTRY_DIR/user.reg" || fail "$point: InstallPath lost"
}

run_to_end() {
  local point=$1
  "$kwinstall" --server "$fast_url" --dir "$root" --agree --ini "$work/itarnwick.ini" --quiet \
    > "$work/rerun.log" 2>&1 || { cat "$work/rerun.log" >&2; fail "$point: the second run failed"; }
  [ "$(registered)" = V2.0.1 ] || fail "$point: V2.0.1 not registered after the second run"
  diff -rq -x uninstall.exe "$work/new" "$root/V2.0.1" > /dev/null || fail "$point: V2.0.1 differs"
  [ ! -e "$root/V2.0.1/ikwdriver/uninstall.exe" ] || fail "$point: uninstaller not moved"
  cmp -s "$work/uninstall-new" "$root/uninstall.exe" || fail "$point: the old uninstaller stayed"
  same_tree "$work/old" "$root/V2.0.0" || fail "$point: V2.0.0 damaged by the update"
  ! compgen -G "$root/.*.staging" > /dev/null || fail "$point: a staging folder stayed"
  ! compgen -G "$root/*.tmp" > /dev/null || fail "$point: downloaded volumes stayed"
}

# Calibration: an uninterrupted run on the slow server gives the length of
# its download phase.
"$kwinstall" --server "$slow_url" --dir "$root" --agree --ini "$work/itarnwick.ini" --quiet --timing \
  > "$work/calibrate.log" 2>&1 || { cat "$work/calibrate.log" >&2; fail "calibration run"; }
download_s=$(sed -n 's/^download seconds //p' "$work/calibrate.log")
[ -n "$download_s" ] || fail "no timing: $(cat "$work/calibrate.log")"

# kill_at POINT CONDITION DELAY: starts a run on the slow server, waits until
# CONDITION holds (a shell test, polled without pause), then DELAY seconds
# more, and kills the run outright.
kill_at() {
  local point=$1 condition=$2 delay=$3 deadline
  restore
  "$kwinstall" --server "$slow_url" --dir "$root" --agree --ini "$work/itarnwick.ini" --quiet \
    > "$work/killed.log" 2>&1 &
  app_pid=$!
  deadline=$((SECONDS + 30))
  while ! eval "$condition" && kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do :; done
  [ "$delay" = 0 ] || sleep "$delay"
  local how=killed
  kill -KILL "$app_pid" 2>/dev/null || how="ended first"
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  # Unpacking runs beside the download once the first volume verified.
  local phase=download
  [ -e "$root/unzip.ins" ] && phase="download+unpack"
  [ -e "$root/V2.0.1" ] && phase=finishing
  printf '%-20s %-12s %s\n' "$point" "$how" "$phase"
  check_after_kill "$point"
  run_to_end "$point"
}

frac() { awk -v d="$download_s" -v f="$1" 'BEGIN { printf "%.3f", d * f }'; }
started='true'
staging='[ -d "$root/.V2.0.1.staging" ]'
for f in 0.02 0.1 0.2 0.35 0.5 0.65 0.8; do kill_at "download $f" "$started" "$(frac "$f")"; done
for f in 0.9 0.97 1.0; do kill_at "verify $f" "$started" "$(frac "$f")"; done
kill_at "unpack marker" '[ -e "$root/unzip.ins" ]' 0
for d in 0 0.003 0.01 0.03 0.06; do kill_at "unpack +$d" "$staging" "$d"; done
kill_at "renamed" '[ -d "$root/V2.0.1" ]' 0
kill_at "registered" '[ "$(registered)" = V2.0.1 ]' 0
kill_at "uninstaller moved" 'cmp -s "$work/uninstall-new" "$root/uninstall.exe"' 0
kill_at "cleaned up" '[ -d "$root/V2.0.1" ] && ! compgen -G "$root/*.tmp" > /dev/null' 0
echo "crash e2e: 20 kills, every state whole, every second run exact"
