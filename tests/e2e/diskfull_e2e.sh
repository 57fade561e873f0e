#!/usr/bin/env bash
# A full disk while kwinstall updates V2.0.0 to V2.0.1, on a small memory
# file system mounted in a private mount namespace: first during the
# download, then during unpacking.  Each time the run stops with the
# disk-full message, nothing new is registered, V2.0.0 stays intact and no
# half V2.0.1 is left; once space is made, the same command completes
# without fetching the volumes that had already verified.
# Needs root for the mount (as in CI); skipped with a message otherwise.
# Usage: diskfull_e2e.sh KWINSTALL KWSERVE KWPACK
set -euo pipefail
kwinstall=$1 kwserve=$2 kwpack=$3

if [ -z "${KW_IN_PRIVATE_MOUNTS:-}" ]; then
  if ! unshare -m --propagation private true 2>/dev/null; then
    echo "SKIP: no permission for a private mount namespace (unshare -m); run as root" >&2
    exit 77
  fi
  KW_IN_PRIVATE_MOUNTS=1 exec unshare -m --propagation private bash "$0" "$@"
fi

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"

kw_e2e_begin diskfull
kw_e2e_user
umask 022

printf '#!/bin/sh\necho uninstaller\n' > "$work/uninstall"
kw_make_product "$work/old" "$work/uninstall" 1
kw_make_product "$work/new" "$work/uninstall" 6
echo "V2.0.1" >> "$work/new/README.txt"
"$kwpack" make "$work/old" "$work/p200" V2.0.0 > "$work/kwpack.log" 2>&1 || fail "kwpack make V2.0.0"
"$kwpack" make "$work/new" "$work/p201" V2.0.1 --volume-size 2000000 >> "$work/kwpack.log" 2>&1 ||
  fail "kwpack make V2.0.1"
kw_start_server "$kwserve" "$work/p201" 0 "$work/kwserve.log" || fail "kwserve"

small="$work/small"
mkdir -p "$small"
mount -t tmpfs -o size=20m tmpfs "$small" || { echo "SKIP: cannot mount a tmpfs" >&2; exit 77; }
trap 'umount "$small" 2>/dev/null || true; kw_e2e_cleanup' EXIT
root="$small/inst"
printf '[INSTALL]\nREQUIREDSPACE=0\n' > "$work/itarnwick.ini"
"$kwinstall" --volume "$work/p200/V2.0.0_000.kwk" --dir "$root" --agree --quiet \
  > "$work/first.log" 2>&1 || { cat "$work/first.log" >&2; fail "installing V2.0.0"; }

registered() { sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p' "$KW_REGISTRY_DIR/system.reg"; }
update() {
  "$kwinstall" --server "$KW_SERVER_URL" --dir "$root" --agree --ini "$work/itarnwick.ini" --quiet \
    > "$work/update.log" 2>&1
}
# The state a failed update must leave.
expect_unchanged() {
  local when=$1
  grep -q "The disk is full" "$work/update.log" || fail "$when: no disk-full message: $(cat "$work/update.log")"
  [ "$(registered)" = V2.0.0 ] || fail "$when: registered '$(registered)'"
  diff -rq -x uninstall.exe "$work/old" "$root/V2.0.0" > /dev/null || fail "$when: V2.0.0 damaged"
  [ -x "$root/uninstall.exe" ] || fail "$when: the uninstaller went"
  [ ! -e "$root/V2.0.1" ] || fail "$when: a V2.0.1 folder appeared"
  # A staging folder may stay only with the checkpoint that lets the next
  # run continue it.
  if [ -e "$root/.V2.0.1.staging" ]; then
    [ -f "$root/.V2.0.1.staging/.kwcheckpoint" ] || fail "$when: a staging folder without checkpoint"
  fi
}
# Volumes unpacked into the staging folder, as its checkpoint records.
unpacked() { grep -c '^done ' "$root/.V2.0.1.staging/.kwcheckpoint" 2>/dev/null || true; }

# Room for less than the volumes: the download stops.
head -c $((17 * 1024 * 1024)) /dev/zero > "$small/filler"
if update; then fail "the update succeeded on a full disk"; fi
expect_unchanged "download"

# Room for the volumes, but not for the unpacked files beside even one of
# them.
truncate -s $((25 * 512 * 1024)) "$small/filler"
if update; then fail "the update succeeded without room to unpack"; fi
expect_unchanged "unpack"
# The volumes that verified are kept: whole on disk, or unpacked as the
# checkpoint records; at least the first of them.
done_count=$(unpacked)
kept=()
k=0
for v in "$work"/p201/V2.0.1_*.kwk; do
  name=$(basename "$v" .kwk).tmp
  if [ "$k" -lt "${done_count:-0}" ] || cmp -s "$v" "$root/$name"; then kept+=("$name"); fi
  k=$((k + 1))
done
[ "${#kept[@]}" -gt 0 ] || fail "no verified volume was kept"
requests() { grep -c "/files/$1" "$work/kwserve.log" || true; }
declare -A before
for name in "${kept[@]}"; do before[$name]=$(requests "$name"); done

# Space made: the same command completes and fetches none of them again.
rm -f "$small/filler"
update || { cat "$work/update.log" >&2; fail "the update failed after space was made"; }
for name in "${kept[@]}"; do
  [ "$(requests "$name")" = "${before[$name]}" ] || fail "$name was fetched again"
done
[ "$(registered)" = V2.0.1 ] || fail "V2.0.1 not registered"
diff -rq -x uninstall.exe "$work/new" "$root/V2.0.1" > /dev/null || fail "V2.0.1 differs"
! compgen -G "$root/.*.staging" > /dev/null || fail "a staging folder stayed"
echo "disk-full e2e: stopped cleanly twice, then completed without fetching again"
