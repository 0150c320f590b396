#!/usr/bin/env bash
# Start-up time (program start to its first window mapped) and resident
# memory of the clock, side by side with xclock, on an Xvfb of its own.
# Usage: bench/startup.sh [build folder] [runs]
set -euo pipefail
build="${1:-build}"
runs="${2:-10}"
clock="$(cd "$build/program" && pwd)/Tintarel"

. "$(dirname "$0")/common.sh"
bench_display

# Milliseconds from start to a mapped window of the process; its RSS in kB
# two seconds later.
measure() {
  local start pid shown rss
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; do :; done
  shown=$(( ($(date +%s%N) - start) / 1000000 ))
  sleep 2
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo "$shown $rss"
}

report() {
  local name=$1; shift
  local times=() rsss=()
  for _ in $(seq "$runs"); do
    read -r t r < <(measure "$@")
    times+=("$t"); rsss+=("$r")
  done
  printf '%-10s start-up to window: median %4d ms (min %d, max %d); resident memory %d kB\n' "$name" \
    "$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" \
    "$(printf '%s\n' "${times[@]}" | sort -n | head -1)" \
    "$(printf '%s\n' "${times[@]}" | sort -n | tail -1)" \
    "$(printf '%s\n' "${rsss[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
}

report xclock xclock -update 1
report Tintarel "$clock"
