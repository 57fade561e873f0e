#!/usr/bin/env bash
# End-to-end of the published deployment: nginx from deploy/nginx serves the
# volumes (tarnwick-files.conf) and sits in front of two kwserve instances
# (tarnwick-api.conf).  Three installs run at once while one instance is
# stopped and started again, then the other; every install must complete
# byte for byte, and both instances must have answered.
# Usage: apinginx_e2e.sh KWINSTALL KWSERVE KWPACK UNINSTALLER
set -euo pipefail
kwinstall=$1 kwserve=$2 kwpack=$3 uninstaller=$4
here=$(cd "$(dirname "$0")" && pwd)
deploy=$(cd "$here/../../deploy" && pwd)
# shellcheck source=kwe2e-lib.sh
source "$here/kwe2e-lib.sh"

kw_e2e_begin apinginx
[ -x /usr/sbin/nginx ] || { echo "nginx is not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
files_port=$(free_port) api_port=$(free_port) one_port=$(free_port) two_port=$(free_port)

kw_make_product "$work/product" "$uninstaller" 24
"$kwpack" make "$work/product" "$work/packages" V2.0.0 --volume-size 3000000 > "$work/kwpack.log" 2>&1 ||
  fail "kwpack make"
chmod 755 "$work" "$work/packages"
secret=$(head -c 24 /dev/urandom | base64 | tr -d '=+/')

# The deploy files with their marked lines changed, as the README says; the
# files are served at 512 KB/s per connection so the installs outlast the
# restarts.
mkdir -p "$work/nginx/tmp"
sed -e "s|listen 8080;|listen 127.0.0.1:$files_port;|" -e "s|/srv/tarnwick/packages|$work/packages|" \
    -e "s|CHANGE-THIS-SECRET|$secret|" -e "s|max_ranges 1;|max_ranges 1; limit_rate 512k;|" \
    "$deploy/nginx/tarnwick-files.conf" > "$work/nginx/files.conf"
sed -e "s|listen 9090;|listen 127.0.0.1:$api_port;|" -e "s|127.0.0.1:9091 |127.0.0.1:$one_port |" \
    -e "s|127.0.0.1:9092 |127.0.0.1:$two_port |" -e "s|/var/lib/nginx/tarnwick-api |$work/nginx/cache |" \
    "$deploy/nginx/tarnwick-api.conf" > "$work/nginx/api.conf"
grep -q "listen 127.0.0.1:$api_port;" "$work/nginx/api.conf" &&
  grep -q "127.0.0.1:$one_port " "$work/nginx/api.conf" &&
  grep -q "127.0.0.1:$two_port " "$work/nginx/api.conf" &&
  grep -q "$work/nginx/cache " "$work/nginx/api.conf" &&
  grep -q "limit_rate 512k" "$work/nginx/files.conf" || fail "the deploy files lost a line this test changes"
n="$work/nginx"
cat > "$n/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $n/nginx.pid;
events { worker_connections 1024; }
http {
  log_format kwe2e '\$status \$request_uri \$upstream_addr';
  access_log $n/access.log kwe2e;
  client_body_temp_path $n/tmp;
  proxy_temp_path $n/tmp;
  fastcgi_temp_path $n/tmp;
  uwsgi_temp_path $n/tmp;
  scgi_temp_path $n/tmp;
  include $n/files.conf;
  include $n/api.conf;
}
CONF
/usr/sbin/nginx -t -p "$n" -e "$n/error.log" -c "$n/nginx.conf" > "$work/nginx-t.log" 2>&1 ||
  fail "nginx -t: $(cat "$work/nginx-t.log")"
/usr/sbin/nginx -p "$n" -e "$n/error.log" -c "$n/nginx.conf" 2> "$n/stderr" &
second_pid=$!

# start_instance PORT LOG: one kwserve instance; prints its pid.
start_instance() {
  "$kwserve" --root "$work/packages" --port "$1" --files-url "http://127.0.0.1:$files_port" \
    --link-secret "$secret" --link-ttl 120 > /dev/null 2>> "$2" &
  echo $!
}
port_open() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
one_pid=$(start_instance "$one_port" "$work/one.log")
two_pid=$(start_instance "$two_port" "$work/two.log")
for port in "$files_port" "$api_port" "$one_port" "$two_port"; do
  kw_wait_for 20 port_open "$port" || fail "nothing listens on port $port"
done
trap 'kill "$one_pid" "$two_pid" 2> /dev/null || true; kw_e2e_cleanup' EXIT

kw_e2e_user
printf '[INSTALL]\nREQUIREDSPACE=1048576\n' > "$work/itarnwick.ini"
pids=()
for i in 1 2 3; do
  (
    export HOME="$work/home$i" KW_REGISTRY_DIR="$work/registry$i"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_DESKTOP_DIR="$HOME/Desktop"
    mkdir -p "$XDG_DESKTOP_DIR"
    exec "$kwinstall" --server "http://127.0.0.1:$api_port" --dir "$work/inst$i" --agree \
      --ini "$work/itarnwick.ini" --quiet --stall-timeout 60 > "$work/kwinstall$i.log" 2>&1
  ) &
  pids+=($!)
done

# One instance after the other goes away for a while and comes back; nginx
# notices a returned instance only after its failure time-out (3 s), so
# the second stop waits longer than that.
sleep 1.5
kill "$one_pid"; wait "$one_pid" 2> /dev/null || true
sleep 2
one_pid=$(start_instance "$one_port" "$work/one.log")
sleep 5
for pid in "${pids[@]}"; do
  kill -0 "$pid" 2> /dev/null || fail "an install ended before the second stop; the test would prove nothing"
done
kill "$two_pid"; wait "$two_pid" 2> /dev/null || true
sleep 2
two_pid=$(start_instance "$two_port" "$work/two.log")

for i in 1 2 3; do
  wait "${pids[$((i - 1))]}" || { cat "$work/kwinstall$i.log" >&2; fail "install $i failed"; }
done
for i in 1 2 3; do
  HOME="$work/home$i" KW_REGISTRY_DIR="$work/registry$i" kw_expect_installed "$work/product" "$work/inst$i"
done

# The installs went on through the restarts: API requests were answered
# after the first stop, and by both instances.
grep -q " /app/" "$n/access.log" || fail "no API request went through nginx"
for log in one two; do
  grep -q "GET /app/file/download-url" "$work/$log.log" || fail "instance $log answered nothing"
done
refused=$(awk '$2 ~ /^\/app\// && $1 != 200' "$n/access.log" | wc -l)
[ "$refused" = 0 ] || fail "$refused API requests were not answered: $(awk '$2 ~ /^\/app\// && $1 != 200' "$n/access.log" | head)"
echo "nginx e2e: three installs through nginx and two kwserve instances, each restarted once"
