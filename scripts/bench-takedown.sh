#!/usr/bin/env bash
# Take-down time of a well-behaved clock: from the start of CloseProcess to
# the moment the clock process is gone, and until CloseProcess returns (the
# end-of-pass second included). The real clock runs on an Xvfb of its own
# with a temporary home.
#
#   scripts/bench-takedown.sh [BUILD_DIR] [RUNS]     (defaults: build-process, 10)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-process}" && pwd)
runs=${2:-10}
clock="$build/program/Tintarel"
driver="$build/bench/takedown_driver"
[[ -x $clock && -x $driver ]] || { echo "build Tintarel and takedown_driver in $build first" >&2; exit 2; }

work=$(mktemp -d)
mkdir -p "$work/config" "$work/data" "$work/cache" "$work/runtime"
chmod 700 "$work/runtime"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$work/display" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY

results=()
for run in $(seq "$runs"); do
  "$clock" 2>/dev/null &
  pid=$!
  # Ready once both its windows exist: the face and the titled application window.
  for _ in $(seq 200); do
    [[ $(xdotool search --pid "$pid" 2>/dev/null | wc -l) -ge 2 ]] && break
    sleep 0.05
  done
  line=$("$driver" "$pid")
  wait "$pid" || true
  echo "run $run: $line"
  results+=("$(sed -E 's/gone_ms=([0-9-]+) returned_ms=([0-9]+).*/\1 \2/' <<<"$line")")
done

summary() { # label, column
  printf '%s\n' "${results[@]}" | awk -v c="$2" '{ print $c }' | sort -n | awk -v label="$1" '
    { v[NR] = $1; sum += $1 }
    END { printf "%s: median %d ms, min %d, max %d, mean %.0f (%d runs)\n", label, v[int((NR + 1) / 2)], v[1], v[NR], sum / NR, NR }'
}
summary "clock gone after CloseProcess started" 1
summary "CloseProcess returned" 2
