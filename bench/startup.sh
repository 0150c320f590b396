#!/usr/bin/env bash
# Start-up time (program start to its first window mapped) and resident
# memory of the clock, side by side with xclock, on an Xvfb of its own.
# Usage: bench/startup.sh [build folder] [runs]
set -euo pipefail
build="${1:-build}"
runs="${2:-10}"
clock="$(cd "$build/program" && pwd)/Tintarel"

display=":$((200 + $$ % 300))"
Xvfb "$display" -screen 0 1280x1024x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
home=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$home"' EXIT
mkdir -p "$home/config" "$home/runtime" && chmod 700 "$home/runtime"
export DISPLAY="$display" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

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
