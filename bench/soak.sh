#!/usr/bin/env bash
# Soak of the built clock: real playback of every sound through two
# simulated days of quarters. The wall clock is moved by libfaketime to a few
# seconds before each quarter in turn, while the monotonic clock (timers,
# sound) stays real; each quarter's sequence is waited for to its end, then
# the next quarter follows at once. Checked: each quarter chimes once with
# the right melody, each hour is struck with the right file, no chime fails,
# and the clock's resident memory and open descriptors do not grow.
# Usage: bench/soak.sh [build folder] [quarters, default 192]
# SOAK_CSV=file: per-quarter samples (default <build folder>/soak.csv).
# SOAK_LOG=file keeps the clock's timestamped log.
set -euo pipefail
build="${1:-build-bench}"
quarters="${2:-192}"
csv="${SOAK_CSV:-$build/soak.csv}"
clock="$(cd "$build/program" && pwd)/Tintarel"
first_quarter="2026-12-07 00:00:00" # two whole days from here, midnight included
lead=2          # seconds before each quarter the wall clock is moved to
start_limit=12  # seconds after the jump by which the melody must have started
end_limit=150   # seconds after the jump by which the sequence must be over
rss_goal=2048   # kB of resident memory growth allowed after the first hour
baseline=4      # quarters in the first simulated hour, left out of the growth

. "$(dirname "$0")/common.sh"
bench_keep() {
  if [ -n "${SOAK_LOG:-}" ] && [ -f "$home/clock.log" ]; then cp "$home/clock.log" "$SOAK_LOG"; fi
}
bench_display
: >"$home/config/Tintarel/Tintarel.ini" # defaults: every quarter chimes, hours struck


# The files a quarter plays, in order, with the default settings.
expected() {
  local h=$((10#$1)) m=$((10#$2))
  case $m in
    0) echo "Carill1.mp3 CarillH$((h == 0 ? 12 : h <= 12 ? h : h - 12)).mp3" ;;
    15) echo "Carill2.mp3" ;;
    30) echo "Carill3.mp3" ;;
    45) echo "Carill4.mp3" ;;
  esac
}

base=$(date -u -d "$first_quarter" +%s)
set_wall_clock "$(at $((base - 600)))" # far from any quarter
log="$home/clock.log"
start_faked_clock "$clock" "$log"

size() { stat -c %s "$log"; }
# The log written from byte $1 on.
since() { tail -c +$(($1 + 1)) "$log"; }
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
status_kb() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$clock_pid/status"; }

echo "load before: $(uptime)"
echo "quarters: $quarters from $first_quarter, log lines of each quarter checked, then samples"
echo "quarter,time,expected,played,result,seconds,vmrss_kb,rss_anon_kb,rss_file_kb,fds,threads" >"$csv"
failures=0
checked=0
struck=0
hints=0
previous_end=
previous_time=
t_start=$(now_ms)
for i in $(seq 0 $((quarters - 1))); do
  quarter=$((base + 900 * i))
  when=$(at "$quarter")
  # Anything played after the previous sequence ended would be a second chime.
  if [ -n "$previous_end" ] && grep -q ' play \|Echec' <<<"$(since "$previous_end")"; then
    echo "$previous_time  FAIL: played again after its end: $(since "$previous_end" | grep -o 'play .*\|hint .*' | tr '\n' ' ')"
    failures=$((failures + 1))
  fi
  from=$(size)
  t0=$(now_ms)
  set_wall_clock "$(at $((quarter - lead)))"
  # The sequence starts within seconds and is over when the clock is idle
  # again (state 0), after the hour strike on the hour; after a failure the
  # clock waits 70 s before going idle.
  outcome="no chime"
  while :; do
    if ! kill -0 "$clock_pid" 2>/dev/null; then outcome="clock ended"; break; fi
    new=$(since "$from")
    elapsed=$(($(now_ms) - t0))
    if [[ $new == *" play "* ]]; then
      if [[ ${new#*" play "} == *$' state 0\n'* ]]; then outcome="over"; break; fi
      if ((elapsed > end_limit * 1000)); then outcome="not over"; break; fi
    elif ((elapsed > start_limit * 1000)); then
      break
    fi
    sleep 0.2
  done
  seconds=$(awk -v ms="$(($(now_ms) - t0))" 'BEGIN {printf "%.1f", ms / 1000}')
  to=$(size)
  segment=$(head -c "$to" "$log" | tail -c +$((from + 1)))
  want=$(expected "${when:11:2}" "${when:14:2}")
  played=$(grep -o ' play [^ ]* ok$' <<<"$segment" | awk '{print $2}' | tr '\n' ' ' | sed 's/ $//' || true)
  problems=()
  [ "$outcome" = over ] || problems+=("$outcome")
  [ "$played" = "$want" ] || problems+=("played '$played', expected '$want'")
  if grep -q ' play .* failed\| not playing\|player error\|player cannot open\| state -1$' <<<"$segment"; then
    problems+=("$(grep -o 'play .* failed.*\|play .* not playing.*\|player .*\|state -1$' <<<"$segment" | head -3 | tr '\n' ';')")
  fi
  if grep -q 'hint Echec du carillon' <<<"$segment"; then
    problems+=("failure hint shown")
    hints=$((hints + 1))
  fi
  if [ -d "/proc/$clock_pid" ]; then
    rss=$(status_kb VmRSS); anon=$(status_kb RssAnon); file=$(status_kb RssFile)
    fds=$(ls "/proc/$clock_pid/fd" | wc -l); threads=$(ls "/proc/$clock_pid/task" | wc -l)
  else
    rss=; anon=; file=; fds=; threads=
  fi
  checked=$((checked + 1))
  if [ ${#problems[@]} -eq 0 ]; then
    result=ok
    [[ $want == *CarillH* ]] && struck=$((struck + 1))
  else
    result="FAIL: $(IFS='|'; echo "${problems[*]}")"
    failures=$((failures + 1))
  fi
  printf '%s  %-28s %5ss  rss %6s kB  fds %3s  %s\n' "$when" "$played" "$seconds" "$rss" "$fds" "$result"
  echo "$((i + 1)),$when,$want,$played,${result//,/;},$seconds,$rss,$anon,$file,$fds,$threads" >>"$csv"
  [ "$outcome" = "clock ended" ] && break
  previous_end=$to
  previous_time=$when
done
# A last look for a second chime of the last quarter.
sleep "$lead"
if [ -n "$previous_end" ] && grep -q ' play \|Echec' <<<"$(since "$previous_end")"; then
  echo "$previous_time  FAIL: played again after its end"
  failures=$((failures + 1))
fi
minutes=$(awk -v ms="$(($(now_ms) - t_start))" 'BEGIN {printf "%.1f", ms / 60000}')
echo "load after:  $(uptime)"

hours=$(awk -F, 'NR > 1 && $3 ~ /CarillH/' "$csv" | wc -l)
echo
echo "== summary"
echo "run time: $minutes min for $checked quarters ($(at "$base") to $(at $((base + 900 * (checked - 1)))))"
echo "quarters chimed once as expected: $((checked - $(awk -F, 'NR > 1 && $5 != "ok"' "$csv" | wc -l)))/$quarters"
echo "hours struck with the right file: $struck/$hours"
echo "failure hints (Echec du carillon): $hints"
memory_failed=0
if ((checked > baseline)); then
  # Growth from the end of the first simulated hour to the end; the slope
  # over the same samples tells a steady leak from a one-off step.
  awk -F, -v b="$baseline" -v goal="$rss_goal" '
    NR == 1 { next }
    { q = $1 }
    q == b { r0 = $7; a0 = $8; f0 = $10; t0 = $11; lo = hi = $7 }
    q >= b && $7 != "" {
      if ($7 < lo) lo = $7; if ($7 > hi) hi = $7
      n++; sx += q; sy += $7; sxx += q * q; sxy += q * $7
      r1 = $7; a1 = $8; f1 = $10; t1 = $11; last = q
    }
    END {
      slope = n > 1 ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0
      printf "resident memory after quarter %d: %d kB, at quarter %d: %d kB: growth %+d kB (goal under %d kB); range %d to %d kB; trend %+.1f kB per simulated hour\n", b, r0, last, r1, r1 - r0, goal, lo, hi, slope * 4
      printf "anonymous memory (heap) growth: %+d kB\n", a1 - a0
      printf "open descriptors after quarter %d: %d, at quarter %d: %d: growth %+d (goal 0); threads %d then %d\n", b, f0, last, f1, f1 - f0, t0, t1
      exit (r1 - r0 >= goal || f1 - f0 > 0) ? 1 : 0
    }' "$csv" || memory_failed=1
else
  echo "memory and descriptors: not judged, fewer than $((baseline + 1)) quarters"
fi
echo "per-quarter samples: $csv"

if ((failures > 0 || memory_failed)); then
  echo "SOAK FAILED: $failures quarter(s) wrong$( ((memory_failed)) && echo ", memory or descriptors grew")"
  exit 1
fi
echo "SOAK PASSED"
