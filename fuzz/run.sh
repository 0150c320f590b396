#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/CMakeLists.txt, clang with libFuzzer and
# ASan/UBSan) and runs each for a bounded time from a scratch copy of its
# seed corpus in fuzz/corpus/<target>/. Exits non-zero on a build failure or
# on any crash, sanitizer report, broken invariant, hang or memory blow-up;
# the input that did it is printed and kept in <build>/artifacts/.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60, all)
#
# Environment: TINTAREL_FUZZ_BUILD (build folder, default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_settings fuzz_timeofday fuzz_desktopentry fuzz_couperdate fuzz_registry)
fi
build=${TINTAREL_FUZZ_BUILD:-build-fuzz}

runtime_dir=$(clang++ -print-runtime-dir 2>/dev/null || true)
if ! command -v clang++ >/dev/null || [ ! -e "$runtime_dir/libclang_rt.fuzzer-x86_64.a" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get install -y --no-install-recommends clang libclang-rt-14-dev >/dev/null
  else
    echo "fuzz/run.sh needs clang and libFuzzer: apt-get install clang libclang-rt-14-dev" >&2
    exit 2
  fi
fi

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2

work=$(mktemp -d)
# The targets' own files, in memory where possible (some sync every write);
# removed here because a target that crashes cannot remove them itself.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=$(mktemp -d -p /dev/shm tintarel-fuzz.XXXXXX)
else
  scratch=$(mktemp -d)
fi
export TINTAREL_FUZZ_SCRATCH="$scratch"
trap 'rm -rf "$work" "$scratch"' EXIT
artifacts="$build/artifacts"
mkdir -p "$artifacts"

passed=0
failed=0
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  cp fuzz/corpus/"$target"/* "$work/$target/"
  options=()
  asan_options=${ASAN_OPTIONS:-}
  case "$target" in
    fuzz_settings)
      # Qt's settings-file cache grows on purpose, which would make libFuzzer
      # scan for leaks after nearly every input; leaks are still looked for
      # when the run ends.
      options+=(-detect_leaks=0)
      # A value written "@Variant(...)" makes QSettings reserve whatever
      # count the file gives (tens of GB); Qt copes with the allocation
      # failing and never touches the memory, so only real use, capped by
      # -rss_limit_mb, counts here.
      options+=(-malloc_limit_mb=1048576)
      asan_options="allocator_may_return_null=1${asan_options:+:$asan_options}"
      ;;
  esac
  log="$work/$target.log"
  status=0
  ASAN_OPTIONS="$asan_options" "$build/$target" "${options[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work/$target" >"$log" 2>&1 \
    || status=$?
  summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units:[[:space:]]*//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec:[[:space:]]*//p' "$log")
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS $target: ${runs:-?} runs, ${rate:-?} exec/s; ${summary:-}"
  else
    failed=$((failed + 1))
    echo "FAIL $target (exit $status):"
    grep -E -A30 'invariant broken|ERROR: |SUMMARY: |==[0-9]+==' "$log" | head -n 60 || tail -n 40 "$log"
    for input in $(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log"); do
      echo "input $input ($(stat -c %s "$input") bytes), base64:"
      base64 -w 76 "$input" | head -n 60
    done
  fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
