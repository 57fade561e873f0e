#!/bin/sh
# Package benchmark: maker, unpacker and checksum against gzip, pigz, cat and
# md5sum on one generated corpus, all in the same run; prints ratios.  The
# unpacker runs twice on the same volumes: with libdeflate (its default) and
# with zlib's inflate (kwpack unpack --inflater zlib).
#
#   bench/package/run.sh [BUILD_DIR] [CORPUS_MB] [--runs N] [--repeat R] [--trees DIR]
#                        (defaults: build/default, 250, 5 runs; RUNS=N works too)
#
# Every timed step runs N times, each from the same state: its outputs
# removed, its inputs read into the page cache, then bench/settle.sh (sync
# and wait until the kernel holds no dirty or writeback pages worth
# counting).  Each figure is the median of the N runs, with the fastest and
# slowest run and the 1-minute load average at the start of the runs beside
# it; a ratio divides two medians, and the range beside it is that of the
# ratios of the runs taken pairwise.
#
# Decompressing and unpacking are quick (a few hundred megabytes take a
# fraction of a second), so one scheduling hiccup would be a large share of a
# run: each of their runs does the work R times over, so a run lasts a
# second or more (R defaults to enough rounds for 1,000 MB of
# corpus).  The checksums read the volumes over and over for the same reason.
#
# The trees they write (the unpacker's and tar's) go to a tmpfs (/dev/shm)
# when it has room: a disk file system's journal and block freeing add from
# one to five times the unpacker's own system time, at random, so figures on
# a disk say more about what ran before than about the program.  --trees DIR
# writes them to DIR instead, to see what a disk adds.  Every round and run
# of a step writes over the same tree, after one run that is not timed: on a
# virtual machine that hands free pages back to its host, a tree in pages
# never used before costs from two to four times as much at random.
#
# The corpus and all outputs live under ${TMPDIR:-/tmp}/kwpkgbench and are
# removed at the end (KEEP=1 keeps them).
set -eu
BUILD=build/default
MB=250
RUNS=${RUNS:-5}
positional=0
while [ $# -gt 0 ]; do
  case $1 in
    --runs) RUNS=${2:-}; shift 2 || { echo "run.sh: --runs needs a number" >&2; exit 2; } ;;
    --runs=*) RUNS=${1#--runs=}; shift ;;
    --repeat) REPEAT=${2:-}; shift 2 || { echo "run.sh: --repeat needs a number" >&2; exit 2; } ;;
    --repeat=*) REPEAT=${1#--repeat=}; shift ;;
    --trees) TREES=${2:-}; shift 2 || { echo "run.sh: --trees needs a folder" >&2; exit 2; } ;;
    --trees=*) TREES=${1#--trees=}; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) positional=$((positional + 1))
       if [ $positional = 1 ]; then BUILD=$1; else MB=$1; fi
       shift ;;
  esac
done
case $RUNS in ''|*[!0-9]*|0) echo "run.sh: --runs takes a whole number from 1: $RUNS" >&2; exit 2 ;; esac
case $MB in ''|*[!0-9]*|0) echo "run.sh: the corpus size is a whole number of MB from 1: $MB" >&2; exit 2 ;; esac
REPEAT=${REPEAT:-$(( (1000 + MB - 1) / MB ))}
case $REPEAT in ''|*[!0-9]*|0) echo "run.sh: --repeat takes a whole number from 1: $REPEAT" >&2; exit 2 ;; esac
ROUNDS=$(seq "$REPEAT" | tr '\n' ' ')
BIN=$BUILD/bin
W=${TMPDIR:-/tmp}/kwpkgbench
N=$(nproc)
SETTLE=$(cd "$(dirname "$0")/.." && pwd)/settle.sh
for tool in gzip pigz md5sum /usr/bin/time; do
  command -v "$tool" >/dev/null 2>&1 || { echo "run.sh: $tool is needed" >&2; exit 1; }
done
[ -x "$BIN/kwpack" ] && [ -x "$BIN/kwpkgbench" ] || { echo "run.sh: build kwpack and kwpkgbench in $BUILD first" >&2; exit 1; }

rm -rf "$W"; mkdir -p "$W"
# Where the unpacked trees go: one copy of the corpus at a time, with room to
# spare.
if [ -z "${TREES:-}" ]; then
  need=$(( MB * 3 * 1024 ))
  if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt "$need" ]; then
    TREES=/dev/shm
  else
    TREES=$W
  fi
fi
T=$(mktemp -d "$TREES/kwpkgbench-trees.XXXXXX") || { echo "run.sh: cannot write in $TREES" >&2; exit 1; }
trap 'rm -rf "$T"' EXIT
"$BIN/kwpkgbench" corpus "$W/corpus" "$MB"
tar -C "$W" -cf "$W/corpus.tar" corpus
BYTES=$(stat -c %s "$W/corpus.tar")

# The step after the next call of measure: CLEAN names its outputs (removed
# before every run), WARM its inputs (read into the page cache before every
# run).  Both are cleared after each step.
CLEAN=""
WARM=""
PRIME=""

# measure NAME CMD...: runs CMD $RUNS times from the settled state (once more
# before them, untimed, when PRIME is set); one line
# per run in $W/NAME.runs: wall seconds, peak resident kB, user seconds,
# system seconds, load average at the start.  CPU time shows how much work
# a program does even when other processes stretch its wall time.
measure() {
  name=$1; shift
  : > "$W/$name.runs"
  if [ -n "$PRIME" ]; then "$@" > /dev/null; fi
  i=0
  while [ "$i" -lt "$RUNS" ]; do
    i=$((i + 1))
    if [ -n "$CLEAN" ]; then rm -rf $CLEAN; fi
    if [ -n "$WARM" ]; then cat $WARM > /dev/null; fi
    load=$("$SETTLE")
    # Standard output (the tools' own summaries) goes to $W/NAME.out.
    /usr/bin/time -f "%e %M %U %S" -o "$W/$name.one" "$@" > "$W/$name.out"
    echo "$(cat "$W/$name.one") $load" >> "$W/$name.runs"
  done
  CLEAN=""
  WARM=""
  PRIME=""
  summary "$name"
}
# nsmeasure NAME CMD...: as measure, for steps too short for /usr/bin/time's
# resolution: wall time in nanoseconds only.
nsmeasure() {
  name=$1; shift
  : > "$W/$name.runs"
  i=0
  while [ "$i" -lt "$RUNS" ]; do
    i=$((i + 1))
    if [ -n "$WARM" ]; then cat $WARM > /dev/null; fi
    load=$("$SETTLE")
    t0=$(date +%s%N); "$@" > "$W/$name.out"; t1=$(date +%s%N)
    echo "$t0 $t1 $load" | awk '{ printf "%.4f 0 0 0 %s\n", ($2 - $1) / 1e9, $3 }' >> "$W/$name.runs"
  done
  WARM=""
  summary "$name"
}

# vals NAME EXPR: EXPR (awk, over $1 wall, $2 kB, $3 user, $4 system, $5
# load) for every run, smallest first; med, lo and hi pick from them.
vals() { awk "{ print ($2) }" "$W/$1.runs" | sort -g; }
med() { vals "$1" "$2" | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
lo() { vals "$1" "$2" | head -1; }
hi() { vals "$1" "$2" | tail -1; }
secs() { med "$1" '$1'; }
cpu() { med "$1" '$3 + $4'; }
sysshare() { med "$1" '($3 + $4) > 0 ? 100 * $4 / ($3 + $4) : 0'; }
rss() { hi "$1" '$2 / 1024' | awk '{ printf "%.1f", $1 }'; }
loads() { echo "$(lo "$1" '$5')-$(hi "$1" '$5')"; }

summary() {
  awk -v n="$1" -v m="$(secs "$1")" -v a="$(lo "$1" '$1')" -v b="$(hi "$1" '$1')" \
      -v c="$(cpu "$1")" -v s="$(sysshare "$1")" -v r="$(rss "$1")" -v l="$(loads "$1")" -v k="$RUNS" \
      'BEGIN { printf "  %s: %.3f s wall (min %.3f, max %.3f of %d)", n, m, a, b, k
               if (c > 0) printf ", %.2f s cpu (%.0f %% system), peak %d MB", c, s, r
               printf ", load %s\n", l }'
}

# thr LABEL NAME BYTES: throughput of the median run, the range over the
# runs, and the load.
thr() {
  awk -v t="$1" -v m="$(secs "$2")" -v a="$(lo "$2" '$1')" -v b="$(hi "$2" '$1')" -v x="$3" \
      -v l="$(loads "$2")" \
      'function mbs(s) { return s > 0 ? x / s / 1e6 : 0 }
       BEGIN { printf "  %-20s %8.1f  (%.1f to %.1f)  load %s\n", t, mbs(m), mbs(b), mbs(a), l }'
}
# ratio LABEL A B [GOAL]: median(A) / median(B) seconds, so above 1 means B
# is faster; the range is that of A/B of the runs paired in order.
ratio() {
  range=$(awk 'NR == FNR { a[FNR] = $1; next } $1 > 0 { print a[FNR] / $1 }' \
            "$W/$2.runs" "$W/$3.runs" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f to %.2f", lo, hi }')
  awk -v t="$1" -v a="$(secs "$2")" -v b="$(secs "$3")" -v r="$range" -v g="${4:-}" \
      'BEGIN { printf "  %-38s %5.2f  (%s)", t, (b > 0 ? a / b : 0), r
               if (g != "") printf "  [%s]", g
               printf "\n" }'
}

echo "corpus: $(find "$W/corpus" -type f | wc -l) files, $BYTES bytes; $N cores; $RUNS runs per step"
echo "compress:"
WARM="$W/corpus.tar"
measure gzip9 sh -c "gzip -9 -c '$W/corpus.tar' > /dev/null"
CLEAN="$W/corpus.tar.gz"; WARM="$W/corpus.tar"
measure pigz9 sh -c "pigz -9 -p $N -c '$W/corpus.tar' > '$W/corpus.tar.gz'"
CLEAN="$W/out1"
measure make1 "$BIN/kwpack" make "$W/corpus" "$W/out1" B --threads 1
CLEAN="$W/outN"
measure makeN "$BIN/kwpack" make "$W/corpus" "$W/outN" B --threads "$N"
cmp -s "$W/out1/B_000.kwk" "$W/outN/B_000.kwk" && echo "  1 and $N threads: identical volumes"
rm -rf "$W/out1"
echo "decompress ($REPEAT rounds per run; trees written to $(df -P "$T" | awk 'NR == 2 { print $6 }') ($(stat -f -c %T "$T"))):"
VOL="$W/outN/B_000.kwk"
# rounds CMD: CMD once per round, with $k the round's number.
rounds() { echo "for k in $ROUNDS; do $1; done"; }
WARM="$W/corpus.tar.gz"
measure pigzd sh -c "$(rounds "pigz -d -c '$W/corpus.tar.gz' > /dev/null")"
WARM="$W/corpus.tar.gz"; PRIME=1
measure pigzdtar sh -c "$(rounds "mkdir -p '$T/tx' && pigz -d -c '$W/corpus.tar.gz' | tar -C '$T/tx' -xf -")"
rm -rf "$T/tx"
# unpack NAME ARGS...: the unpacker's rounds, each over the same tree.
unpack() {
  name=$1; shift
  rm -rf "$T/unpacked"
  WARM=$(ls "$W"/outN/*.kwk); PRIME=1
  measure "$name" sh -c "$(rounds "'$BIN/kwpack' unpack '$VOL' '$T/unpacked' $* > /dev/null")"
}
# same_tree WHAT: the last round's tree must be the corpus, or the figures
# are of a broken unpacker.
same_tree() {
  if diff -r "$W/corpus" "$T/unpacked" > /dev/null; then
    echo "  $1 equals the corpus"
  else
    echo "run.sh: the $1 differs from the corpus" >&2
    exit 1
  fi
}
unpack unpack1 --threads 1
unpack unpack --threads "$N"
same_tree "unpacked tree"
# The same volumes inflated by zlib instead of libdeflate, both thread counts.
unpack unpackz1 --threads 1 --inflater zlib
unpack unpackz --threads "$N" --inflater zlib
same_tree "zlib-unpacked tree"
rm -rf "$T/unpacked"
UBYTES=$((BYTES * REPEAT))
echo "checksum:"
# The volumes are read over and over (4,000 MB in all) in one process each,
# so the page-cache speed is measured rather than process start-up, the
# timer's resolution or a moment's hiccup.
ONE=$(ls "$W"/outN/*.kwk)
OBYTES=$(cat $ONE | wc -c)
TIMES=$(( (4000000000 + OBYTES - 1) / OBYTES ))
VOLS=""
i=0
while [ "$i" -lt "$TIMES" ]; do VOLS="$VOLS $ONE"; i=$((i + 1)); done
WARM=$ONE
nsmeasure cat sh -c "cat $VOLS > /dev/null"
WARM=$ONE
nsmeasure md5 sh -c "md5sum $VOLS > /dev/null"
# kwpkgbench times both checksums itself; one line per run each.
: > "$W/sse.runs"; : > "$W/naive.runs"
i=0
while [ "$i" -lt "$RUNS" ]; do
  i=$((i + 1))
  load=$("$SETTLE")
  "$BIN/kwpkgbench" checksum $VOLS > "$W/sum.txt"
  awk -v l="$load" '/checksum_sse2/ { print $2, 0, 0, 0, l }' "$W/sum.txt" >> "$W/sse.runs"
  awk -v l="$load" '/checksum_naive/ { print $2, 0, 0, 0, l }' "$W/sum.txt" >> "$W/naive.runs"
done
summary sse
summary naive
VBYTES=$((OBYTES * TIMES))

echo
echo "throughput (MB/s of corpus, or of volumes for checksums; median, slowest to fastest run)"
thr "gzip -9" gzip9 "$BYTES"
thr "pigz -9 -p$N" pigz9 "$BYTES"
thr "make, 1 thread" make1 "$BYTES"
thr "make, $N threads" makeN "$BYTES"
thr "pigz -d" pigzd "$UBYTES"
thr "pigz -d | tar x" pigzdtar "$UBYTES"
thr "unpack, 1 thread" unpack1 "$UBYTES"
thr "unpack, $N threads" unpack "$UBYTES"
thr "unpack zlib, 1" unpackz1 "$UBYTES"
thr "unpack zlib, $N" unpackz "$UBYTES"
thr "cat" cat "$VBYTES"
thr "md5sum" md5 "$VBYTES"
thr "checksum (SSE2)" sse "$VBYTES"
thr "checksum (bytes)" naive "$VBYTES"

echo
echo "ratios of medians (range over the runs; goal in brackets)"
ratio "make $N threads / make 1 thread" make1 makeN ">= 1.85"
ratio "make $N threads / pigz -9 -p$N" pigz9 makeN ">= 0.95"
ratio "make 1 thread / gzip -9" gzip9 make1
ratio "unpack $N threads / pigz -d" pigzd unpack ">= 2.5"
ratio "unpack 1 thread / pigz -d" pigzd unpack1 ">= 1.5"
ratio "unpack libdeflate / zlib, 1 thread" unpackz1 unpack1
ratio "unpack libdeflate / zlib, $N threads" unpackz unpack
ratio "unpack / pigz -d | tar x" pigzdtar unpack
ratio "checksum / cat" cat sse ">= 0.9"
ratio "checksum / md5sum" md5 sse
ratio "unpack $N threads / unpack 1" unpack1 unpack

echo
echo "CPU seconds of a whole run, user + system (median; share of system time; decompress and unpack runs do $REPEAT rounds)"
for step in gzip9 pigz9 make1 makeN pigzd pigzdtar unpack1 unpack unpackz1 unpackz; do
  awk -v n="$step" -v c="$(cpu "$step")" -v s="$(sysshare "$step")" -v a="$(lo "$step" '$3 + $4')" \
      -v b="$(hi "$step" '$3 + $4')" \
      'BEGIN { printf "  %-9s %7.2f s  (%.2f to %.2f)  system %3.0f %%\n", n, c, a, b, s }'
done

echo
echo "peak resident size (MB, largest run; goal < 64)"
echo "  make 1 thread $(rss make1), make $N threads $(rss makeN), unpack 1 thread $(rss unpack1), unpack $N threads $(rss unpack)"
[ "${KEEP:-0}" = 1 ] || rm -rf "$W"
