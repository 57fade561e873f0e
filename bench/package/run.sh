#!/bin/sh
# Package benchmark: maker, unpacker and checksum against gzip, pigz, cat and
# md5sum on one generated corpus, all in the same run; prints ratios.  The
# unpacker runs twice on the same volumes: with libdeflate (its default) and
# with zlib's inflate (kwpack unpack --inflater zlib).
#
#   bench/package/run.sh [BUILD_DIR] [CORPUS_MB]     (defaults: build/default, 250)
#
# The corpus and all outputs live under ${TMPDIR:-/tmp}/kwpkgbench and are
# removed at the end (KEEP=1 keeps them).  Other processes on the machine
# disturb the figures: repeat the run and compare.
set -eu
BUILD=${1:-build/default}
MB=${2:-250}
BIN=$BUILD/bin
W=${TMPDIR:-/tmp}/kwpkgbench
N=$(nproc)
for tool in gzip pigz md5sum /usr/bin/time; do
  command -v "$tool" >/dev/null 2>&1 || { echo "run.sh: $tool is needed" >&2; exit 1; }
done
[ -x "$BIN/kwpack" ] && [ -x "$BIN/kwpkgbench" ] || { echo "run.sh: build kwpack and kwpkgbench in $BUILD first" >&2; exit 1; }

rm -rf "$W"; mkdir -p "$W"
"$BIN/kwpkgbench" corpus "$W/corpus" "$MB"
tar -C "$W" -cf "$W/corpus.tar" corpus
BYTES=$(stat -c %s "$W/corpus.tar")
cat "$W/corpus.tar" > /dev/null

# measure NAME CMD...: wall seconds, peak resident kilobytes and CPU seconds
# (user + system) into $W/NAME.t.  CPU time shows how much work a program
# does even when other processes steal the cores and stretch the wall time.
measure() {
  name=$1; shift
  /usr/bin/time -f "%e %M %U %S" -o "$W/$name.t" "$@"
  echo "  $name: $(awk '{printf "%.2f s wall, %.2f s cpu, peak %d MB", $1, $3 + $4, $2/1024}' "$W/$name.t")"
}
cpu() { awk '{print $3 + $4}' "$W/$1.t"; }
secs() { awk '{print $1}' "$W/$1.t"; }
rss() { awk '{printf "%.1f", $2/1024}' "$W/$1.t"; }

echo "corpus: $(find "$W/corpus" -type f | wc -l) files, $BYTES bytes; $N cores"
echo "compress:"
measure gzip9 sh -c "gzip -9 -c '$W/corpus.tar' > /dev/null"
measure pigz9 sh -c "pigz -9 -p $N -c '$W/corpus.tar' > '$W/corpus.tar.gz'"
measure make1 "$BIN/kwpack" make "$W/corpus" "$W/out1" B --threads 1
measure makeN "$BIN/kwpack" make "$W/corpus" "$W/outN" B --threads "$N"
cmp -s "$W/out1/B_000.kwk" "$W/outN/B_000.kwk" && echo "  1 and $N threads: identical volumes"
echo "decompress:"
sync
cat "$W"/outN/*.kwk "$W/corpus.tar.gz" > /dev/null
# Dirty pages of one run must not slow down the next: each writer starts
# after the previous output was removed and everything was flushed.
settle() { rm -rf "$W/tx" "$W/unpacked1"; sync; }
measure pigzd sh -c "pigz -d -c '$W/corpus.tar.gz' > /dev/null"
settle
measure pigzdtar sh -c "mkdir -p '$W/tx' && pigz -d -c '$W/corpus.tar.gz' | tar -C '$W/tx' -xf -"
settle
measure unpack1 "$BIN/kwpack" unpack "$W/outN/B_000.kwk" "$W/unpacked1" --threads 1
settle
measure unpack "$BIN/kwpack" unpack "$W/outN/B_000.kwk" "$W/unpacked" --threads "$N"
diff -r "$W/corpus" "$W/unpacked" > /dev/null && echo "  unpacked tree equals the corpus"
# The same volumes inflated by zlib instead of libdeflate, both thread counts.
rm -rf "$W/unpacked"
settle
measure unpackz1 "$BIN/kwpack" unpack "$W/outN/B_000.kwk" "$W/unpacked1" --threads 1 --inflater zlib
settle
measure unpackz "$BIN/kwpack" unpack "$W/outN/B_000.kwk" "$W/unpacked" --threads "$N" --inflater zlib
diff -r "$W/corpus" "$W/unpacked" > /dev/null && echo "  zlib-unpacked tree equals the corpus too"
echo "checksum:"
# The volumes are read ten times over in one process each, so the page-cache
# speed is measured rather than process start-up or the timer's resolution.
ONE=$(ls "$W"/outN/*.kwk)
VOLS=""
for i in 1 2 3 4 5 6 7 8 9 10; do VOLS="$VOLS $ONE"; done
cat $ONE > /dev/null
# nstime NAME CMD...: wall seconds with nanosecond resolution into $W/NAME.t
nstime() {
  name=$1; shift
  t0=$(date +%s%N); "$@"; t1=$(date +%s%N)
  echo "$t0 $t1" | awk '{printf "%.4f 0 0 0\n", ($2 - $1) / 1e9}' > "$W/$name.t"
  echo "  $name: $(awk '{printf "%.3f s wall", $1}' "$W/$name.t")"
}
nstime cat sh -c "cat $VOLS > /dev/null"
nstime md5 sh -c "md5sum $VOLS > /dev/null"
"$BIN/kwpkgbench" checksum $VOLS > "$W/sum.txt"
VBYTES=$(( $(cat $ONE | wc -c) * 10 ))

awk -v bytes="$BYTES" -v vbytes="$VBYTES" -v n="$N" \
    -v gz="$(secs gzip9)" -v pz="$(secs pigz9)" -v m1="$(secs make1)" -v mn="$(secs makeN)" \
    -v pd="$(secs pigzd)" -v pdt="$(secs pigzdtar)" -v up="$(secs unpack)" -v up1="$(secs unpack1)" \
    -v upz="$(secs unpackz)" -v upz1="$(secs unpackz1)" -v cupz="$(cpu unpackz)" \
    -v cgz="$(cpu gzip9)" -v cpz="$(cpu pigz9)" -v cm1="$(cpu make1)" -v cmn="$(cpu makeN)" \
    -v cpd="$(cpu pigzd)" -v cup="$(cpu unpack)" -v load="$(cut -d' ' -f1 /proc/loadavg)" \
    -v ct="$(secs cat)" -v md="$(secs md5)" \
    -v sse="$(awk '/checksum_sse2/{print $2}' "$W/sum.txt")" \
    -v nai="$(awk '/checksum_naive/{print $2}' "$W/sum.txt")" \
    -v rm1="$(rss make1)" -v rmn="$(rss makeN)" -v rup="$(rss unpack)" -v rup1="$(rss unpack1)" '
function mbs(b, s) { return s > 0 ? b / s / 1e6 : 0 }
BEGIN {
  printf "\nthroughput (MB/s of corpus, or of volumes for checksums)\n"
  printf "  gzip -9            %8.1f\n", mbs(bytes, gz)
  printf "  pigz -9 -p%d        %8.1f\n", n, mbs(bytes, pz)
  printf "  make, 1 thread     %8.1f\n", mbs(bytes, m1)
  printf "  make, %d threads    %8.1f\n", n, mbs(bytes, mn)
  printf "  pigz -d            %8.1f\n", mbs(bytes, pd)
  printf "  pigz -d | tar x    %8.1f\n", mbs(bytes, pdt)
  printf "  unpack, 1 thread   %8.1f\n", mbs(bytes, up1)
  printf "  unpack, %d threads  %8.1f\n", n, mbs(bytes, up)
  printf "  unpack zlib, 1     %8.1f\n", mbs(bytes, upz1)
  printf "  unpack zlib, %d     %8.1f\n", n, mbs(bytes, upz)
  printf "  cat                %8.1f\n", mbs(vbytes, ct)
  printf "  md5sum             %8.1f\n", mbs(vbytes, md)
  printf "  checksum (SSE2)    %8.1f\n", mbs(vbytes, sse)
  printf "  checksum (bytes)   %8.1f\n", mbs(vbytes, nai)
  printf "\nratios (goal in brackets)\n"
  printf "  make %d threads / make 1 thread   %5.2f  [>= 1.85]\n", n, m1 / mn
  printf "  make %d threads / pigz -9 -p%d     %5.2f  [>= 0.95]\n", n, n, pz / mn
  printf "  make 1 thread / gzip -9           %5.2f\n", gz / m1
  printf "  unpack %d threads / pigz -d        %5.2f  [>= 2.5]\n", n, pd / up
  printf "  unpack 1 thread / pigz -d         %5.2f  [>= 1.5]\n", pd / up1
  printf "  unpack libdeflate / zlib, 1 thread %4.2f\n", upz1 / up1
  printf "  unpack libdeflate / zlib, %d threads %4.2f\n", n, upz / up
  printf "  unpack / pigz -d | tar x          %5.2f\n", pdt / up
  printf "  checksum / cat                    %5.2f  [>= 0.9]\n", ct / sse
  printf "  checksum / md5sum                 %5.2f\n", md / sse
  printf "  unpack %d threads / unpack 1      %5.2f\n", n, up1 / up
  printf "\nCPU seconds (load average at the end: %s)\n", load
  printf "  gzip -9 %.1f, pigz -9 %.1f, make 1 thread %.1f, make %d threads %.1f\n", cgz, cpz, cm1, n, cmn
  printf "  pigz -d %.2f, unpack %.2f, unpack with zlib %.2f\n", cpd, cup, cupz
  printf "\npeak resident size (MB; goal < 64)\n"
  printf "  make 1 thread %s, make %d threads %s, unpack 1 thread %s, unpack %d threads %s\n", rm1, n, rmn, rup1, n, rup
}'
[ "${KEEP:-0}" = 1 ] || rm -rf "$W"
