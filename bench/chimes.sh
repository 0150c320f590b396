#!/usr/bin/env bash
# Chime and tick timing of the built clock: how late after hh:mm:00.000 the
# quarter's melody is started, and how late after each second boundary the
# face shows the new second. The wall clock is moved by libfaketime to a few
# seconds before each quarter in turn, while the monotonic clock (timers,
# sound) stays real, so each quarter chimes as it would on a real day.
# Usage: bench/chimes.sh [build folder] [quarters]
# CHIMES_LOG=file keeps the clock's timestamped log for a closer look.
# The clock plays to a PulseAudio server of the script's own with a null sink,
# as on a desktop; CHIMES_NO_SERVER=1 runs it with no sound server at all.
# The resident and proportional memory of the clock are printed before its
# first chime and after the last, beside xclock's on the same display.
set -euo pipefail
build="${1:-build-bench}"
quarters="${2:-12}"
clock="$(cd "$build/program" && pwd)/Tintarel"
day=2026-12-06
first_quarter="10:15:00"
lead=3 # seconds before each quarter the wall clock is moved to

. "$(dirname "$0")/common.sh"
bench_display
: >"$home/config/Tintarel/Tintarel.ini" # every quarter chimes, hours struck


if [ -z "${CHIMES_NO_SERVER:-}" ]; then
  mkdir -p "$home/pulse" && chmod 700 "$home/pulse"
  printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s/native\nload-module module-null-sink sink_name=bar\nset-default-sink bar\n' \
    "$home/pulse" >"$home/pulse/server.pa"
  HOME="$home/pulse" XDG_RUNTIME_DIR="$home/pulse" pulseaudio -n -F "$home/pulse/server.pa" --daemonize=no \
    --exit-idle-time=-1 --use-pid-file=no 2>/dev/null &
  pulse_pid=$!
  export PULSE_SERVER="unix:$home/pulse/native"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
fi
xclock -update 1 &
xclock_pid=$!
bench_keep() {
  kill "$xclock_pid" 2>/dev/null || true
  if [ -n "${pulse_pid:-}" ]; then kill "$pulse_pid" 2>/dev/null || true; fi
}
# "RSS kB, PSS kB" of a process.
memory() { awk '/^Rss:/ {r = $2} /^Pss:/ {p = $2} /^Anonymous:/ {a = $2} END {printf "RSS %6d kB, PSS %6d kB, anonymous %6d kB", r, p, a}' "/proc/$1/smaps_rollup"; }

base=$(date -u -d "$day $first_quarter" +%s)
set_wall_clock "$(at $((base - 600)))" # far from any quarter
log="$home/clock.log"
start_faked_clock "$clock" "$log"

echo "load before: $(uptime)"
echo "memory before the first chime: clock $(memory "$clock_pid"); xclock $(memory "$xclock_pid")"
# Lines of the log from line $1 on.
since() { tail -n +"$1" "$log"; }
segments="$home/segments"
: >"$segments"
for i in $(seq 0 $((quarters - 1))); do
  quarter=$((base + 900 * i))
  from=$(($(wc -l <"$log") + 1))
  set_wall_clock "$(at $((quarter - lead)))"
  echo "$(at $((quarter - lead)))" >>"$segments"
  # The melody starts within seconds; the sequence is over when the clock
  # is idle again (state 0), at most 70 s later after a failure.
  outcome="no chime"
  for _ in $(seq 1000); do
    if since "$from" | grep -q ' play '; then
      outcome="started"
      if since "$from" | sed -n '/ play /,$p' | grep -q ' state 0$'; then outcome="over"; break; fi
    elif [ "$(since "$from" | grep -c ' show ')" -gt $((lead + 8)) ]; then
      break
    fi
    sleep 0.1
  done
  printf '%s  %-28s %s\n' "$(at "$quarter")" "$(since "$from" | grep -o 'play .*' | tr '\n' ' ')" "$outcome"
done
echo "load after:  $(uptime)"
echo "memory after $quarters quarters:  clock $(memory "$clock_pid"); xclock $(memory "$xclock_pid")"
kill "$clock_pid"; wait "$clock_pid" 2>/dev/null || true; clock_pid=
if [ -n "${CHIMES_LOG:-}" ]; then cp "$log" "$CHIMES_LOG"; fi

# From the log: for each jump of the wall clock, the second jumped to is
# dropped (its timer was armed from the time before the jump); every later
# one counts. The first melody of each quarter is measured from the quarter;
# the hour strike follows the melody and is not tied to a boundary.
results="$home/results"
awk -v lead="$lead" '
  function ms(hms,   p) { split(hms, p, /[:.]/); return ((p[1] * 60 + p[2]) * 60 + p[3]) * 1000 + (p[4] == "" ? 0 : p[4]) }
  NR == FNR { start[++n] = ms(substr($0, 12)); next }
  {
    stamp = ms($2)
    if ($3 == "show") {
      shown = ms($4)
      if (k < n && shown >= start[k + 1] && shown < start[k + 1] + 60000) k++
      if (k == 0) next
      if (shown == start[k]) { prev = shown; next }
      if (shown - prev > 1000) print "skipped", (shown - prev) / 1000 - 1
      if (shown == prev) print "repeated", 1
      print "tick", stamp - shown
      prev = shown
    } else if ($3 == "play" && k > 0 && !played[k]++) {
      print "play", stamp - (start[k] + lead * 1000), $4, $5
    }
  }' "$segments" "$log" >"$results"

stats() { # label, values on stdin
  sort -n | awk -v label="$1" '{a[NR] = $1} END {
    if (NR == 0) { printf "%-38s none\n", label; exit }
    printf "%-38s median %4d ms, worst %4d ms (n=%d)\n", label, a[int((NR + 1) / 2)], a[NR], NR }'
}
awk '$1 == "play" {print $2}' "$results" | stats "Play issued after hh:mm:00.000"
echo "  each quarter in turn (ms): $(awk '$1 == "play" {printf "%s ", $2}' "$results")"
# The first chime after start-up also loads the sound back end.
awk '$1 == "play" && ++n > 1 {print $2}' "$results" | stats "  the same without the first chime"
awk '$1 == "tick" {print $2}' "$results" | stats "Second shown after its boundary"
echo "seconds skipped: $(awk '$1 == "skipped" {s += $2} END {print s + 0}' "$results"), shown twice: $(grep -c '^repeated' "$results" || true), chime starts failed: $(grep -c ' play .* failed\| not playing' "$log" || true)"
