#!/usr/bin/env bash
# Applies realistic one-line faults to the program one at a time and runs
# the whole suite against each, to see which faults the tests catch.
#
#   bash scripts/inject-faults.sh [FAULTS_FILE] [-- extra ctest arguments]
#
# FAULTS_FILE (default scripts/faults.list) holds one fault a line:
#   name | file | perl substitution applied to the whole file
# Lines starting with # are comments. A substitution that changes nothing
# is reported as "stale" (the code moved on: fix the pattern). Work is done
# on a copy of the working tree, so the checkout is never touched.
# FAULTS_TARGETS (space-separated build targets) builds only those for each
# fault, for a quick run of a few unit tests with -- -R.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
faults=${1:-scripts/faults.list}
[[ $faults = /* ]] || faults=$src/$faults
[ "${1:-}" ] && shift
[ "${1:-}" = "--" ] && shift
. scripts/packages.sh

work=${FAULTS_WORKDIR:-$(mktemp -d /tmp/tintarel-faults.XXXXXX)}
mkdir -p "$work/tree"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -xf - -C "$work/tree"
cd "$work/tree"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" >/dev/null

# Names of the tests that fail with the tree as it is now.
failing_tests() {
    rm -f build/Testing/Temporary/LastTestsFailed.log
    run_headless ctest --test-dir build -j2 "$@" >"$work/ctest.log" 2>&1 || true
    if [ -f build/Testing/Temporary/LastTestsFailed.log ]; then
        cut -d: -f2 build/Testing/Temporary/LastTestsFailed.log | sort
    fi
}

cmake --build build >"$work/build.log" 2>&1 || { echo "the unchanged tree does not build: $work/build.log"; exit 1; }
baseline=$(failing_tests "$@")
[ -n "$baseline" ] && echo "failing before any fault (ignored below): $(echo $baseline)"

caught=0; missed=0; stale=0; total=0
while IFS='|' read -r name file expr; do
    name=$(echo "$name" | xargs); file=$(echo "$file" | xargs); expr=$(echo "$expr" | sed 's/^ *//;s/ *$//')
    [ -z "$name" ] || [[ $name == \#* ]] && continue
    total=$((total + 1))
    cp "$file" "$work/original"
    perl -0pi -e "$expr" "$file"
    if cmp -s "$file" "$work/original"; then
        echo "STALE   $name ($file: the pattern matches nothing)"; stale=$((stale + 1)); continue
    fi
    # shellcheck disable=SC2086
    if ! cmake --build build ${FAULTS_TARGETS:+--target $FAULTS_TARGETS} >"$work/build.log" 2>&1; then
        echo "STALE   $name (does not compile)"; stale=$((stale + 1))
        cp "$work/original" "$file"; continue
    fi
    now=$(failing_tests "$@")
    new=$(comm -13 <(echo "$baseline") <(echo "$now") | xargs)
    if [ -n "$new" ]; then
        echo "CAUGHT  $name by $new"; caught=$((caught + 1))
    else
        echo "MISSED  $name"; missed=$((missed + 1))
    fi
    cp "$work/original" "$file"
    touch "$file"
done <"$faults"
cmake --build build >/dev/null 2>&1 || true
echo "faults: $total, caught: $caught, missed: $missed, stale: $stale"
[ -z "${FAULTS_WORKDIR:-}" ] && rm -rf "$work"
exit 0
