#!/usr/bin/env bash
# End-to-end with a plain web server that ignores byte ranges: kwserve hands
# out addresses on Python's http.server, which answers every request with 200
# and the whole file.  kwinstall must notice, read each volume as one stream
# and install byte for byte; later volumes go straight to one stream.
# Usage: wholefile_e2e.sh KWINSTALL KWSERVE KWPACK UNINSTALLER
set -euo pipefail
kwinstall=$1 kwserve=$2 kwpack=$3 uninstaller=$4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"

kw_e2e_begin wholefile
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }

kw_make_product "$work/product" "$uninstaller" 12
"$kwpack" make "$work/product" "$work/files" V2.0.0 --volume-size 5000000 > "$work/kwpack.log" 2>&1 ||
  fail "kwpack make"
volumes=$(ls "$work/files"/V2.0.0_*.kwk | wc -l)
[ "$volumes" -ge 3 ] || fail "expected at least three volumes, got $volumes"

# Port 0: the server names the port it took on its first line.
fifo=$(mktemp -u)
mkfifo "$fifo"
(cd "$work/files" && exec python3 -u -m http.server 0 --bind 127.0.0.1 > "$fifo" 2> "$work/http.log") &
second_pid=$!
line=""
read -r -t 20 line < "$fifo" || true
rm -f "$fifo"
port=$(sed -n 's/.* port \([0-9][0-9]*\).*/\1/p' <<< "$line")
[ -n "$port" ] || fail "http.server did not start: $line $(cat "$work/http.log")"

fifo=$(mktemp -u)
mkfifo "$fifo"
"$kwserve" --root "$work/files" --port 0 --files-url "http://127.0.0.1:$port" \
  --link-secret wholefile-secret > "$fifo" 2> "$work/kwserve.log" &
KW_SERVER_PID=$!
line=""
read -r -t 20 line < "$fifo" || true
rm -f "$fifo"
api=${line#listening on }
[ -n "$line" ] && [ "$api" != "$line" ] || fail "kwserve did not start: $(cat "$work/kwserve.log")"

kw_e2e_user
printf '[INSTALL]\nREQUIREDSPACE=1048576\n' > "$work/itarnwick.ini"
root="$work/inst"
KW_E2E_LOG="$work/kwinstall.log"
"$kwinstall" --server "$api" --dir "$root" --agree --ini "$work/itarnwick.ini" --quiet \
  --stall-timeout 60 > "$work/kwinstall.log" 2>&1 || fail "kwinstall"
kw_expect_installed "$work/product" "$root"
grep -q "sends whole files" "$work/kwinstall.log" || fail "no note that the server sends whole files"

# Every request was answered with the whole file; the first volume saw the
# workers' ranged attempts and one stream, every later volume one stream.
requests() { grep -c "GET /V2.0.0_$1.kwk" "$work/http.log" || true; }
first=$(requests 000)
[ "$first" -ge 2 ] && [ "$first" -le 9 ] || fail "the first volume took $first requests"
for ((k = 1; k < volumes; k++)); do
  n=$(requests "$(printf %03d "$k")")
  [ "$n" = 1 ] || fail "volume $k took $n requests"
done
echo "whole-file e2e: installed through a server without byte ranges"
