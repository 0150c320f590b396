#!/usr/bin/env bash
# CPU time the clock uses while idle: shown on its own Xvfb, ticking every
# second, with chimes switched off (Activer=0) so that nothing plays. The
# real wall clock is used: libfaketime would add its own cost to every
# clock read.
# Usage: bench/idlecpu.sh [build folder] [seconds, default 600]
set -euo pipefail
build="${1:-build-bench}"
seconds="${2:-600}"
clock="$(cd "$build/program" && pwd)/Tintarel"
hz=$(getconf CLK_TCK)

. "$(dirname "$0")/common.sh"
bench_display
printf '[R%%E9glages]\nActiver=0\n' >"$home/config/Tintarel/Tintarel.ini"

QT_LOGGING_RULES="tintarel.chimes=true" "$clock" >/dev/null 2>"$home/clock.log" &
clock_pid=$!
until xdotool search --onlyvisible --pid "$clock_pid" >/dev/null 2>&1; do sleep 0.1; done
sleep 5 # start-up work is not idle time

# utime + stime of all the clock's threads, in clock ticks (fields 14 and 15
# of /proc/PID/stat; the name field is skipped, as it may hold spaces).
cpu_ticks() { sed 's/.*) //' "/proc/$clock_pid/stat" | awk '{print $12 + $13}'; }
# Times the clock's threads went to sleep or were pre-empted: each is a wake-up.
switches() { cat /proc/"$clock_pid"/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }

echo "load before: $(uptime)"
t0=$(date +%s%N); c0=$(cpu_ticks); s0=$(switches)
sleep "$seconds"
t1=$(date +%s%N); c1=$(cpu_ticks); s1=$(switches)
echo "load after:  $(uptime)"
[ -d "/proc/$clock_pid" ] || { echo "the clock ended during the run" >&2; exit 1; }

awk -v c="$((c1 - c0))" -v hz="$hz" -v ns="$((t1 - t0))" -v sw="$((s1 - s0))" \
  -v threads="$(ls /proc/"$clock_pid"/task | wc -l)" 'BEGIN {
  cpu = c / hz; wall = ns / 1e9
  printf "idle CPU over %.0f s: %.2f s = %.3f%% of one core (%d threads, %.1f wake-ups a second)\n",
    wall, cpu, 100 * cpu / wall, threads, sw / wall }'
if grep -q ' play \|^play ' "$home/clock.log"; then echo "warning: a chime played during the run" >&2; fi
