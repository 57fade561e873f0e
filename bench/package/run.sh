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
# counting).  The steps compared with each other (the compressors, the
# decompressors and unpackers, the checksums) take turns: one run of each,
# then the next run of each, so a machine that slows down for some minutes
# (a virtual machine's host busy elsewhere) slows all of them alike instead
# of the one that happened to run then.  Each figure is the median of the N runs, with the fastest and
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

# The steps that take turns: register each with `step`, then `take_turns`
# runs them.
GROUP=""

# step NAME KIND CLEAN WARM PRIME CMD: registers a step.  KIND is "time"
# (wall, peak resident size and CPU seconds from /usr/bin/time), "ns" (wall
# time in nanoseconds only, for steps too short for /usr/bin/time's
# resolution) or "sums" (kwpkgbench's own timing of both checksums, into the
# steps sse and naive).  CLEAN names its outputs (removed before every run),
# WARM its inputs (read into the page cache before every run), PRIME says
# whether one untimed run comes first; CMD is a shell command.
step() {
  eval "S_KIND_$1=\$2 S_CLEAN_$1=\$3 S_WARM_$1=\$4 S_PRIME_$1=\$5 S_CMD_$1=\$6"
  GROUP="$GROUP $1"
}

# take_turns: runs every registered step $RUNS times, one run of each in
# turn, each from the settled state; one line per run in $W/NAME.runs: wall
# seconds, peak resident kB, user seconds, system seconds, load average at
# the start.  CPU time shows how much work a program does even when other
# processes stretch its wall time.  Prints a summary line per step.
take_turns() {
  for name in $GROUP; do
    : > "$W/$name.runs"
    eval "kind=\$S_KIND_$name prime=\$S_PRIME_$name cmd=\$S_CMD_$name"
    if [ "$kind" = sums ]; then : > "$W/sse.runs"; : > "$W/naive.runs"; fi
    if [ -n "$prime" ]; then sh -c "$cmd" > /dev/null; fi
  done
  i=0
  while [ "$i" -lt "$RUNS" ]; do
    i=$((i + 1))
    for name in $GROUP; do
      eval "kind=\$S_KIND_$name clean=\$S_CLEAN_$name warm=\$S_WARM_$name cmd=\$S_CMD_$name"
      if [ -n "$clean" ]; then rm -rf $clean; fi
      if [ -n "$warm" ]; then cat $warm > /dev/null; fi
      load=$("$SETTLE")
      # Standard output (the tools' own summaries) goes to $W/NAME.out.
      case $kind in
        time)
          /usr/bin/time -f "%e %M %U %S" -o "$W/$name.one" sh -c "$cmd" > "$W/$name.out"
          echo "$(cat "$W/$name.one") $load" >> "$W/$name.runs" ;;
        ns)
          t0=$(date +%s%N); sh -c "$cmd" > "$W/$name.out"; t1=$(date +%s%N)
          echo "$t0 $t1 $load" | awk '{ printf "%.4f 0 0 0 %s\n", ($2 - $1) / 1e9, $3 }' >> "$W/$name.runs" ;;
        sums)
          sh -c "$cmd" > "$W/$name.out"
          awk -v l="$load" '/checksum_sse2/ { print $2, 0, 0, 0, l }' "$W/$name.out" >> "$W/sse.runs"
          awk -v l="$load" '/checksum_naive/ { print $2, 0, 0, 0, l }' "$W/$name.out" >> "$W/naive.runs" ;;
      esac
    done
  done
  for name in $GROUP; do
    eval "kind=\$S_KIND_$name"
    if [ "$kind" = sums ]; then summary sse; summary naive; else summary "$name"; fi
  done
  GROUP=""
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
echo "compress (the steps take turns):"
step gzip9 time "" "$W/corpus.tar" "" "gzip -9 -c '$W/corpus.tar' > /dev/null"
step pigz9 time "$W/corpus.tar.gz" "$W/corpus.tar" "" "pigz -9 -p $N -c '$W/corpus.tar' > '$W/corpus.tar.gz'"
step make1 time "$W/out1" "" "" "'$BIN/kwpack' make '$W/corpus' '$W/out1' B --threads 1"
step makeN time "$W/outN" "" "" "'$BIN/kwpack' make '$W/corpus' '$W/outN' B --threads $N"
take_turns
cmp -s "$W/out1/B_000.kwk" "$W/outN/B_000.kwk" && echo "  1 and $N threads: identical volumes"
rm -rf "$W/out1"
echo "decompress ($REPEAT rounds per run, the steps take turns; trees written to $(df -P "$T" | awk 'NR == 2 { print $6 }') ($(stat -f -c %T "$T"))):"
VOL="$W/outN/B_000.kwk"
VOLUMES=$(ls "$W"/outN/*.kwk)
# rounds CMD: CMD once per round, with $k the round's number.
rounds() { echo "for k in $ROUNDS; do $1; done"; }
step pigzd time "" "$W/corpus.tar.gz" "" "$(rounds "pigz -d -c '$W/corpus.tar.gz' > /dev/null")"
step pigzdtar time "" "$W/corpus.tar.gz" 1 \
  "$(rounds "mkdir -p '$T/tx' && pigz -d -c '$W/corpus.tar.gz' | tar -C '$T/tx' -xf -")"
# The unpackers all write over the same tree; the zlib ones inflate the same
# volumes with zlib instead of libdeflate.
unpack() { rounds "'$BIN/kwpack' unpack '$VOL' '$T/unpacked' $* > /dev/null"; }
step unpack1 time "" "$VOLUMES" 1 "$(unpack --threads 1)"
step unpack time "" "$VOLUMES" 1 "$(unpack --threads "$N")"
step unpackz1 time "" "$VOLUMES" 1 "$(unpack --threads 1 --inflater zlib)"
step unpackz time "" "$VOLUMES" 1 "$(unpack --threads "$N" --inflater zlib)"
take_turns
rm -rf "$T/tx" "$T/unpacked"
# same_tree WHAT ARGS...: the unpacker with ARGS must give the corpus, or
# the figures are of a broken unpacker.
same_tree() {
  what=$1; shift
  rm -rf "$T/check"
  if "$BIN/kwpack" unpack "$VOL" "$T/check" "$@" > /dev/null && diff -r "$W/corpus" "$T/check" > /dev/null; then
    echo "  $what tree equals the corpus"
  else
    echo "run.sh: the $what tree differs from the corpus" >&2
    exit 1
  fi
  rm -rf "$T/check"
}
same_tree "unpacked" --threads "$N"
same_tree "zlib-unpacked" --threads "$N" --inflater zlib
UBYTES=$((BYTES * REPEAT))
echo "checksum (the steps take turns):"
# The volumes are read over and over (4,000 MB in all) in one process each,
# so the page-cache speed is measured rather than process start-up, the
# timer's resolution or a moment's hiccup.
OBYTES=$(cat $VOLUMES | wc -c)
TIMES=$(( (4000000000 + OBYTES - 1) / OBYTES ))
VOLS=""
i=0
while [ "$i" -lt "$TIMES" ]; do VOLS="$VOLS $VOLUMES"; i=$((i + 1)); done
step cat ns "" "$VOLUMES" "" "cat $VOLS > /dev/null"
step md5 ns "" "$VOLUMES" "" "md5sum $VOLS > /dev/null"
# kwpkgbench times both checksums itself.
step sums sums "" "$VOLUMES" "" "'$BIN/kwpkgbench' checksum $VOLS"
take_turns
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
