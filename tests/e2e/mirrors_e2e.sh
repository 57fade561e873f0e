#!/usr/bin/env bash
# End-to-end with two file servers holding the same volumes (nginx from the
# deploy file, twice): kwserve hands out links to both.  One serves at
# 1 MiB/s per connection, the other at full speed until it is stopped in the
# middle of the run.  The install must complete byte for byte and its log
# must show segments moving from the stopped server to the slow one.
# Usage: mirrors_e2e.sh KWINSTALL KWSERVE KWPACK UNINSTALLER
set -euo pipefail
kwinstall=$1 kwserve=$2 kwpack=$3 uninstaller=$4
here=$(cd "$(dirname "$0")" && pwd)
deploy=$(cd "$here/../../deploy" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"

kw_e2e_begin mirrors
[ -x /usr/sbin/nginx ] || { echo "nginx is not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

kw_make_product "$work/product" "$uninstaller" 60
"$kwpack" make "$work/product" "$work/packages" V2.0.0 --volume-size 8000000 > "$work/kwpack.log" 2>&1 ||
  fail "kwpack make"
chmod 755 "$work" "$work/packages"
secret=$(head -c 24 /dev/urandom | base64 | tr -d '=+/')

# start_files NAME PORT EXTRA: nginx serving the packages from the deploy
# file, with EXTRA added to its location; prints its pid.
start_files() {
  local d="$work/$1"
  mkdir -p "$d/tmp"
  sed -e "s|listen 8080;|listen 127.0.0.1:$2;|" -e "s|/srv/tarnwick/packages|$work/packages|" \
      -e "s|CHANGE-THIS-SECRET|$secret|" -e "s|max_ranges 1;|max_ranges 1; $3|" \
      "$deploy/nginx/tarnwick-files.conf" > "$d/files.conf"
  grep -q "listen 127.0.0.1:$2;" "$d/files.conf" || fail "the deploy file lost its listen line"
  printf 'daemon off;\nworker_processes 1;\npid %s/nginx.pid;\nevents {}\nhttp {\n  log_format e2e "$status $request_uri";\n  access_log %s/access.log e2e;\n  client_body_temp_path %s/tmp;\n  proxy_temp_path %s/tmp;\n  fastcgi_temp_path %s/tmp;\n  uwsgi_temp_path %s/tmp;\n  scgi_temp_path %s/tmp;\n  include %s/files.conf;\n}\n' \
    "$d" "$d" "$d" "$d" "$d" "$d" "$d" "$d" > "$d/nginx.conf"
  /usr/sbin/nginx -p "$d" -e "$d/error.log" -c "$d/nginx.conf" > /dev/null 2> "$d/stderr" &
  echo $!
}
port_open() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
slow_port=$(free_port) fast_port=$(free_port)
slow_pid=$(start_files slow "$slow_port" "limit_rate 1m;")
fast_pid=$(start_files fast "$fast_port" "limit_rate 2m;")
second_pid="$slow_pid"
trap 'kill "$fast_pid" 2> /dev/null || true; kw_e2e_cleanup' EXIT

fifo=$(mktemp -u)
mkfifo "$fifo"
"$kwserve" --root "$work/packages" --port 0 --files-url "http://127.0.0.1:$fast_port" \
  --files-url "http://127.0.0.1:$slow_port" --link-secret "$secret" > "$fifo" 2> "$work/kwserve.log" &
KW_SERVER_PID=$!
line=""
read -r -t 20 line < "$fifo" || true
rm -f "$fifo"
api=${line#listening on }
[ -n "$line" ] && [ "$api" != "$line" ] || fail "kwserve did not start: $(cat "$work/kwserve.log")"
for port in "$slow_port" "$fast_port"; do kw_wait_for 20 port_open "$port" || fail "nginx on $port"; done

kw_e2e_user
printf '[INSTALL]\nREQUIREDSPACE=1048576\n' > "$work/itarnwick.ini"
KW_E2E_LOG="$work/kwinstall.log"
"$kwinstall" --server "$api" --dir "$work/inst" --agree --ini "$work/itarnwick.ini" --quiet \
  --stall-timeout 60 > "$work/kwinstall.log" 2>&1 &
install_pid=$!
# Stopped in the middle: once it has served a good part of the package.
fast_served_some() { [ "$(awk '$1 == 206' "$work/fast/access.log" 2> /dev/null | wc -l)" -ge 4 ]; }
kw_wait_for 60 fast_served_some || fail "the fast server served nothing"
kill "$fast_pid"
wait "$install_pid" || fail "kwinstall"
kw_expect_installed "$work/product" "$work/inst"
grep -q "failed on http://127.0.0.1:$fast_port; moved to another file server" "$work/kwinstall.log" ||
  fail "the log shows no segment moving away from the stopped server"
[ "$(awk '$1 == 206' "$work/slow/access.log" | wc -l)" -ge 1 ] || fail "the slow server served nothing"
echo "mirrors e2e: installed from two file servers, one stopped in the middle"
