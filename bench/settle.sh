#!/bin/sh
# Brings the page cache's writeback to rest before a timed step, so a step
# never pays for dirty pages that earlier work (another step, another
# program, a build) left behind: sync, then wait until Dirty + Writeback in
# /proc/meminfo are below a small amount, or until a timeout.
#
#   bench/settle.sh            (SETTLE_KB, default 16384; SETTLE_TIMEOUT seconds, default 120;
#                               SETTLE_WARM_MB, default 0)
#
# With SETTLE_WARM_MB it then warms memory: on a virtual machine whose free
# pages go back to the host (free page reporting), the first touch of such a
# page costs a fault in the host, and a step that writes a gigabyte of new
# page cache measured two to four times slower at random.  Writing that many
# megabytes to /dev/shm (at most half of the available memory) and freeing
# them again just before the step hands it pages the host still backs.  It
# costs seconds per gigabyte on such a machine, so it is off unless asked for.
#
# Prints the 1-minute load average when done, for the figure it precedes.
# When the timeout passes it says so on standard error and goes on: a
# machine that keeps writing cannot be waited for forever.
limit=${SETTLE_KB:-16384}
timeout=${SETTLE_TIMEOUT:-120}
dirty() { awk '/^(Dirty|Writeback):/ { kb += $2 } END { print kb + 0 }' /proc/meminfo; }
sync
start=$(date +%s)
while :; do
  kb=$(dirty)
  [ "$kb" -lt "$limit" ] && break
  if [ $(( $(date +%s) - start )) -ge "$timeout" ]; then
    echo "settle: still $kb kB dirty or under writeback after ${timeout}s; measuring anyway" >&2
    break
  fi
  sleep 0.2
  sync
done
warm=${SETTLE_WARM_MB:-0}
half=$(awk '/^MemAvailable:/ { print int($2 / 2048) }' /proc/meminfo)
[ "$warm" -gt "$half" ] && warm=$half
if [ "$warm" -gt 0 ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  f=$(mktemp /dev/shm/kw-settle-warm.XXXXXX) &&
    head -c "${warm}M" /dev/zero > "$f" 2> /dev/null
  rm -f "$f"
fi
cut -d' ' -f1 /proc/loadavg
