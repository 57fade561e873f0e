#!/bin/sh
# Update benchmark: an installed release updated to the next one against a
# full install of the next one, and against casync extracting the same new
# tree seeded from the old one, all over HTTP on 127.0.0.1 through nginx
# with every connection limited to RATE bytes per second; in one run.
#
#   bench/update/run.sh [BUILD_DIR] [TREE_MB] [RATE]
#                           (defaults: build/default, 200, 2097152)
#
# The two releases differ as releases do (gentree.py): a few files
# rewritten, added and removed, 64 KiB overwritten inside a large
# incompressible file and a paragraph inserted into a large text file.
# Both are packed with kwpack make --pieces content.  kwinstall fetches from
# nginx through kwserve's signed links; casync fetches its index and chunks
# from the same nginx.  Prints bytes fetched (what nginx sent) and seconds,
# and the ratios.  Everything lives under ${TMPDIR:-/tmp}/kwupdatebench
# (KEEP=1 keeps it).  Other processes on the machine disturb the times.
set -eu
BUILD=${1:-build/default}
MB=${2:-200}
RATE=${3:-2097152}
BIN=$(cd "$BUILD/bin" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
W=${TMPDIR:-/tmp}/kwupdatebench
for tool in casync /usr/sbin/nginx python3 curl; do
  command -v "$tool" >/dev/null 2>&1 || { echo "run.sh: $tool is needed" >&2; exit 1; }
done
[ -x "$BIN/kwpack" ] && [ -x "$BIN/kwserve" ] && [ -x "$BIN/kwinstall" ] ||
  { echo "run.sh: build kwpack, kwserve and kwinstall in $BUILD first" >&2; exit 1; }

rm -rf "$W"; mkdir -p "$W"; chmod 755 "$W"
NGINX_PID=""; API_PID=""; OLD_PID=""
cleanup() {
  [ -n "$API_PID" ] && kill "$API_PID" 2>/dev/null || true
  [ -n "$OLD_PID" ] && kill "$OLD_PID" 2>/dev/null || true
  [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null || true
  [ "${KEEP:-0}" = 1 ] || rm -rf "$W"
}
trap cleanup EXIT INT TERM

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$HERE/gentree.py" "$W/src1" "$W/src2" "$MB"
"$BIN/kwpack" make "$W/src1" "$W/pack1" V1 --pieces content >/dev/null
"$BIN/kwpack" make "$W/src2" "$W/www/kw" V2 --pieces content >/dev/null
# casync's chunk store and index of the new tree, served by the same nginx.
mkdir -p "$W/www/ca"
casync make --store="$W/www/ca/store" "$W/www/ca/v2.caidx" "$W/src2" >/dev/null
chmod -R a+rX "$W/www"
PACK=$(cat "$W"/www/kw/*.kwk | wc -c)
TREE=$(du -sb "$W/src2" | cut -f1)
echo "new release: $TREE bytes in $(find "$W/src2" -type f | wc -l) files, package $PACK bytes, manifest $(stat -c %s "$W/www/kw/manifest.kwm") bytes"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
PORT=$(free_port); APIPORT=$(free_port); OLDPORT=$(free_port)
SECRET=bench-$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
mkdir -p "$W/nginx/tmp"
sed -e "s|listen 8080;|listen 127.0.0.1:$PORT;|" -e "s|/srv/tarnwick/packages|$W/www/kw|" \
    -e "s|CHANGE-THIS-SECRET|$SECRET|" "$HERE/../../deploy/nginx/tarnwick-files.conf" > "$W/nginx/kw.conf"
CAPORT=$(free_port)
cat > "$W/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $W/nginx/nginx.pid;
events { worker_connections 256; }
http {
  log_format bench '\$server_port \$status \$request_uri \$body_bytes_sent';
  access_log $W/nginx/access.log bench;
  client_body_temp_path $W/nginx/tmp; proxy_temp_path $W/nginx/tmp;
  fastcgi_temp_path $W/nginx/tmp; uwsgi_temp_path $W/nginx/tmp; scgi_temp_path $W/nginx/tmp;
  limit_rate $RATE;
  include $W/nginx/kw.conf;
  server { listen 127.0.0.1:$CAPORT; root $W/www/ca; }
}
CONF
/usr/sbin/nginx -p "$W/nginx" -e "$W/nginx/error.log" -c "$W/nginx/nginx.conf" &
NGINX_PID=$!
"$BIN/kwserve" --root "$W/www/kw" --port "$APIPORT" --files-url "http://127.0.0.1:$PORT" \
  --link-secret "$SECRET" --link-ttl 600 2>"$W/kwserve.log" &
API_PID=$!
"$BIN/kwserve" --root "$W/pack1" --port "$OLDPORT" 2>"$W/kwserve-old.log" &
OLD_PID=$!
for p in $PORT $APIPORT $OLDPORT $CAPORT; do
  i=0; until curl -s -o /dev/null "http://127.0.0.1:$p/" || [ $i -gt 200 ]; do sleep 0.05; i=$((i+1)); done
done
printf '[INSTALL]\nREQUIREDSPACE=1048576\n' > "$W/check.ini"

# sent PORT: bytes nginx has sent so far on PORT.
sent() { awk -v p="$1" '$1 == p && $2 < 400 { s += $4 } END { print s + 0 }' "$W/nginx/access.log"; }
# run NAME CMD...: wall seconds into $W/NAME.s
run() {
  name=$1; shift
  t0=$(date +%s%N)
  env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_DESKTOP_DIR HOME="$W/home-$name" \
    KW_REGISTRY_DIR="$W/reg-$name" "$@" > "$W/$name.out" 2>&1 || { cat "$W/$name.out"; exit 1; }
  t1=$(date +%s%N)
  echo "$t0 $t1" | awk '{printf "%.2f\n", ($2 - $1) / 1e9}' > "$W/$name.s"
}

# Full install of the new release into an empty folder.
b0=$(sent "$PORT")
run full "$BIN/kwinstall" --server "http://127.0.0.1:$APIPORT" --dir "$W/full" --agree \
  --ini "$W/check.ini" --plain --timing
FULL_BYTES=$(( $(sent "$PORT") - b0 ))
# The old release installed (not measured), then updated.
mkdir -p "$W/home-upd"
env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_DESKTOP_DIR HOME="$W/home-upd" KW_REGISTRY_DIR="$W/reg-upd" \
  "$BIN/kwinstall" --server "http://127.0.0.1:$OLDPORT" --dir "$W/upd" --agree --ini "$W/check.ini" --quiet
cp -a "$W/upd/V1" "$W/seed"
b0=$(sent "$PORT")
run upd "$BIN/kwinstall" --server "http://127.0.0.1:$APIPORT" --dir "$W/upd" --agree \
  --ini "$W/check.ini" --plain --timing
UPD_BYTES=$(( $(sent "$PORT") - b0 ))
grep -E "update from|full download" "$W/upd.out" | head -1 | sed 's/^/  kwinstall: /'
diff -r "$W/full/V2" "$W/upd/V2" >/dev/null && echo "  updated tree equals the full install"
# casync: the same new tree, seeded from the old installed one.
b0=$(sent "$CAPORT")
run casync casync extract --store="http://127.0.0.1:$CAPORT/store" --seed="$W/seed" \
  "http://127.0.0.1:$CAPORT/v2.caidx" "$W/casync"
CA_BYTES=$(( $(sent "$CAPORT") - b0 ))
diff -r "$W/src2" "$W/casync" >/dev/null && echo "  casync tree equals the new release"

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg); rate per connection: $RATE bytes/s"
printf "%-28s %14s %10s\n" "" "bytes fetched" "seconds"
printf "%-28s %14d %10s\n" "full install (kwinstall)" "$FULL_BYTES" "$(cat "$W/full.s")"
printf "%-28s %14d %10s\n" "update (kwinstall)" "$UPD_BYTES" "$(cat "$W/upd.s")"
printf "%-28s %14d %10s\n" "casync extract, seeded" "$CA_BYTES" "$(cat "$W/casync.s")"
awk -v u="$UPD_BYTES" -v f="$FULL_BYTES" -v c="$CA_BYTES" -v ut="$(cat "$W/upd.s")" \
    -v ft="$(cat "$W/full.s")" -v ct="$(cat "$W/casync.s")" 'BEGIN {
  printf "update / full install: bytes %.3f, time %.3f\n", u / f, ut / ft
  printf "update / casync:       bytes %.3f, time %.3f\n", u / c, ut / ct
}'
