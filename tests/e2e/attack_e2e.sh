#!/usr/bin/env bash
# End-to-end attacks on an update: a hostile install server (kwhostile.py on
# 127.0.0.1) tries rollback, an expired release (freeze), volumes of another
# signed release (mix-and-match), endless data, a trickle, keys that name
# files of the install and home folders, and a release key lying in the
# folder kwinstall is started from.  Every one must end with its message and
# exit status, install and register nothing, and change no file of the
# install and home folders outside the installer's own names.  Links planted
# at the names kwinstall and kwpack write under must never be written
# through.
# Usage: attack_e2e.sh KWINSTALL KWPACK
set -euo pipefail
kwinstall=$1 kwpack=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"
command -v openssl > /dev/null || { echo "openssl is missing" >&2; exit 77; }
python=$(command -v python3) || { echo "python3 is missing" >&2; exit 77; }

kw_e2e_begin attack
hostile_pid=""
trap 'kw_stop_pids "$hostile_pid"; kw_e2e_cleanup' EXIT
kw_e2e_user
umask 022

# Two products of the same shape, packed in three volumes each.
pack() {
  "$kwpack" make "$1" "$2" "$3" --volume-size 400000 > "$work/kwpack.log" 2>&1 ||
    fail "kwpack make $3: $(cat "$work/kwpack.log")"
}
kw_make_product "$work/product" /bin/true 1
kw_make_product "$work/other" /bin/true 1
mkdir -p "$work/keys" "$work/evil"
"$kwpack" keygen "$work/keys/release.key" > /dev/null 2>&1 || fail "kwpack keygen"
"$kwpack" keygen "$work/evil/release.key" > /dev/null 2>&1 || fail "kwpack keygen (attacker)"
future=$(($(date +%s) + 30 * 86400))
pack "$work/product" "$work/new" V2.0.0
"$kwpack" sign "$work/new" --key "$work/keys/release.key" > /dev/null || fail "kwpack sign"
# An older release of the same maker, correctly signed and not expired.
pack "$work/other" "$work/old" V1.0.0
"$python" "$here/kwhostile.py" sign "$work/old" "$work/keys/release.key" --expires "$future" \
  --buildtime 2026-01-01T00:00:00Z || fail "signing the old release"
# A newer release whose signature has expired.
pack "$work/product" "$work/expired" V2.0.1
"$python" "$here/kwhostile.py" sign "$work/expired" "$work/keys/release.key" \
  --expires $(($(date +%s) - 3600)) --buildtime 2099-01-01T00:00:00Z || fail "signing expired"
# A release signed by an attacker's key.
pack "$work/other" "$work/forged" V3.0.0
"$kwpack" sign "$work/forged" --key "$work/evil/release.key" > /dev/null || fail "kwpack sign (attacker)"

mkdir -p "$work/conf" "$work/cwd"
cp "$work/keys/release.key.pub" "$work/conf/"
printf '[SERVER]\nPUBKEY=release.key.pub\n[INSTALL]\nREQUIREDSPACE=1048576\n' > "$work/conf/itarnwick.ini"
root="$HOME/tarnwick"

# serve MODE ROOT [options]: the hostile server in the background.
serve() {
  local mode=$1 pkg=$2 fifo line
  shift 2
  kw_stop_pids "$hostile_pid"
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$python" "$here/kwhostile.py" serve --root "$pkg" --mode "$mode" "$@" > "$fifo" \
    2> "$work/hostile.log" &
  hostile_pid=$!
  read -r -t 20 line < "$fifo" || true
  rm -f "$fifo"
  url=${line#listening on }
  [ -n "$line" ] && [ "$url" != "$line" ] || fail "kwhostile did not start: $(cat "$work/hostile.log")"
}

# install DIR [INI]: kwinstall against the hostile server from the working
# folder; sets status and leaves its output in $work/out.  A run the
# installer never ends counts as a failure of its own (status 124).
install() {
  local dir=$1 ini=${2:-$work/conf/itarnwick.ini}
  status=0
  (cd "$work/cwd" && timeout 60 "$kwinstall" --server "$url" --dir "$dir" --agree --ini "$ini" \
    --stall-timeout 4 --plain > "$work/out" 2>&1) || status=$?
}

# The installer's own names: downloaded volumes, their journals, the marker.
own='/[^/ ]*_[0-9]{3}\.tmp(\.journal)?( |$)|/unzip\.ins( |$)'
snapshot() {
  (cd "$HOME" && find . -printf '%p %y %m\n' | grep -Ev "$own" | sort
   find . -type f -print0 | xargs -0 -r md5sum | grep -Ev "$own" | sort)
  cat "$KW_REGISTRY_DIR/system.reg" 2> /dev/null || true
  grep ReleaseBuildTime "$KW_REGISTRY_DIR/user.reg" 2> /dev/null || true
}

# expect_refused NAME STATUS TEXT: the last run ended with STATUS and said TEXT, and
# nothing outside the installer's own names changed since `before`.
expect_refused() {
  local name=$1 want=$2 text=$3
  [ "$status" = "$want" ] || fail "$name: exit status $status, not $want: $(cat "$work/out")"
  grep -qF -- "$text" "$work/out" || fail "$name: no '$text' in: $(cat "$work/out")"
  snapshot > "$work/after"
  diff "$work/before" "$work/after" > "$work/diff" || fail "$name changed files: $(cat "$work/diff")"
  echo "refused: $name"
}

# The genuine release installs first; every later attack must leave it.
serve honest "$work/new"
install "$root"
[ "$status" = 0 ] || fail "the genuine release did not install: $(cat "$work/out")"
kw_expect_installed "$work/product" "$root"
printf 'notes of the user\n' > "$root/notes.txt"
printf 'export PATH\n' > "$HOME/.profile"
snapshot > "$work/before"

serve honest "$work/old"
install "$root"
expect_refused rollback 1 "older than one already accepted"

serve honest "$work/expired"
install "$root"
expect_refused freeze 1 "has expired"

serve mix "$work/new" --bytes-from "$work/old"
install "$root"
expect_refused mix-and-match 1 "failed its check three times"

serve endless "$work/new"
install "$root"
expect_refused "endless data" 1 "nothing moved for 4 seconds"

serve trickle "$work/new"
install "$root"
expect_refused "slow retrieval" 1 "nothing moved for 4 seconds"

# Keys naming files of the install folder, twice the same, and with the
# home folder as the install folder a file of the home folder; the bytes
# are another release's, so nothing may install either.
serve mix "$work/new" --bytes-from "$work/old" --keys "notes.txt,notes.txt,uninstall.exe"
install "$root"
expect_refused "arbitrary names" 1 "failed its check three times"
serve mix "$work/new" --bytes-from "$work/old" --keys "packages/.profile,.bashrc,.profile"
install "$HOME"
expect_refused "arbitrary names in the home folder" 1 "failed its check three times"

# The settings name the key by a file name; the only such file lies in the
# folder kwinstall is started from, and it is the attacker's.
cp "$work/evil/release.key.pub" "$work/cwd/release.key.pub"
mkdir -p "$work/conf2"
cp "$work/conf/itarnwick.ini" "$work/conf2/"
serve honest "$work/forged"
install "$root" "$work/conf2/itarnwick.ini"
expect_refused "key file in the working folder" 1 "release key in the settings cannot be read"

# Links at the names of a volume, a journal and the marker: the installer
# goes around them, and what they point at keeps its bytes.
printf 'private\n' > "$work/victim"
fresh="$work/fresh"
mkdir -p "$fresh"
for name in V2.0.0_001.tmp V2.0.0_000.tmp.journal V2.0.0_002.tmp.journal unzip.ins; do
  ln -s "$work/victim" "$fresh/$name"
done
serve honest "$work/new"
install "$fresh"
[ "$status" = 0 ] || fail "links at the installer's names: $(cat "$work/out")"
cmp -s "$work/victim" <(printf 'private\n') || fail "a link at an installer's name was written through"
echo "went around: links at the installer's names"

# The genuine release under keys that all end in the same name, a file of
# the folder: each volume still gets a file of its own, the release installs
# whole, and the file keeps its bytes.
dupes="$work/dupes"
mkdir -p "$dupes"
printf 'notes of the user\n' > "$dupes/notes.txt"
serve honest "$work/new" --keys "a/notes.txt,b/notes.txt,c/notes.txt"
install "$dupes"
[ "$status" = 0 ] || fail "one name for every volume: $(cat "$work/out")"
for i in 1 2 3; do
  cmp -s "$work/product/data/sample$i.bin" "$dupes/V2.0.0/data/sample$i.bin" ||
    fail "one name for every volume: sample$i.bin differs"
done
cmp -s "$dupes/notes.txt" <(printf 'notes of the user\n') || fail "notes.txt was overwritten"
echo "went around: one name for every volume"

# kwpack: links at the names its temporary files once had.
mkdir -p "$work/links"
cp -r "$work/product" "$work/links/src"
mkdir -p "$work/links/out"
ln -s "$work/victim" "$work/links/out/release.json.part"
"$kwpack" make "$work/links/src" "$work/links/out" V4.0.0 > /dev/null 2>&1 || fail "kwpack make beside a link"
ln -s "$work/victim" "$work/links/setup.part"
"$kwpack" bundle /bin/true "$work/links/out/V4.0.0_000.kwk" "$work/links/setup" V4.0.0 \
  > /dev/null 2>&1 || fail "kwpack bundle beside a link"
cmp -s "$work/victim" <(printf 'private\n') || fail "kwpack wrote through a planted link"
[ -f "$work/links/setup" ] && [ ! -L "$work/links/setup" ] || fail "kwpack bundle wrote no file"

echo "attack e2e: every attack refused"
