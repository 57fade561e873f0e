#!/bin/sh
# Brings the page cache's writeback to rest before a timed step, so a step
# never pays for dirty pages that earlier work (another step, another
# program, a build) left behind: sync, then wait until Dirty + Writeback in
# /proc/meminfo are below a small amount, or until a timeout.
#
#   bench/settle.sh            (SETTLE_KB, default 16384; SETTLE_TIMEOUT seconds, default 120)
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
cut -d' ' -f1 /proc/loadavg
