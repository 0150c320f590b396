# shellcheck shell=bash
# Shared by the benchmark scripts, which source it.
#
# bench_display: a scratch $home with an empty settings folder, and an Xvfb
# display of the script's own; exports DISPLAY, XDG_CONFIG_HOME and
# XDG_RUNTIME_DIR. On exit the clock ($clock_pid, once the script sets it)
# and the display are stopped and $home removed; a script that defines
# bench_keep gets it called first, to copy something out of $home.
bench_display() {
  home=$(mktemp -d)
  clock_pid=
  # Xvfb picks a free display itself: other X servers may run on this machine.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$home/display" >/dev/null 2>&1 &
  bench_xvfb=$!
  trap bench_cleanup EXIT
  for _ in $(seq 50); do [ -s "$home/display" ] && break; sleep 0.1; done
  mkdir -p "$home/config/Tintarel" "$home/runtime" && chmod 700 "$home/runtime"
  export DISPLAY=":$(cat "$home/display")" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

bench_cleanup() {
  if [ -n "${clock_pid:-}" ]; then kill "$clock_pid" 2>/dev/null || true; wait "$clock_pid" 2>/dev/null || true; fi
  if declare -F bench_keep >/dev/null; then bench_keep || true; fi
  kill "$bench_xvfb" 2>/dev/null || true
  rm -rf "$home"
}

# The wall clock of a clock started by start_faked_clock, moved by
# libfaketime through a timestamp file read at every clock read, while the
# monotonic clock (timers, sound) stays real. The file is replaced by a
# rename, so that the clock never reads it half-written.
stamp_file() { echo "$home/faketime"; }
set_wall_clock() {
  echo "@$1" >"$(stamp_file).new" && mv "$(stamp_file).new" "$(stamp_file)"
}
# "YYYY-MM-DD hh:mm:ss" of a count of seconds, as plain arithmetic on the
# calendar (no time zone enters it).
at() { date -u -d "@$1" '+%Y-%m-%d %H:%M:%S'; }

# Starts the clock $1 on the faked wall clock with its chime and tick log,
# timestamped, in $2; sets clock_pid and returns once the face is shown and
# has settled.
start_faked_clock() {
  env LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1 \
    FAKETIME_TIMESTAMP_FILE="$(stamp_file)" FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1 \
    QT_LOGGING_RULES="tintarel.chimes=true;tintarel.tick=true" \
    QT_MESSAGE_PATTERN="%{time yyyy-MM-dd hh:mm:ss.zzz} %{message}" \
    "$1" >/dev/null 2>"$2" &
  clock_pid=$!
  for _ in $(seq 100); do grep -q ' show ' "$2" && break; sleep 0.1; done
  sleep 3
}
