#!/usr/bin/env bash
# Installs what Tintarel needs, builds it with its tests and runs the whole
# suite headless (the tests start their own X servers; the rest runs on one
# made here).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $RUN_PACKAGES $TEST_PACKAGES

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build

run_headless ctest --test-dir build --output-on-failure -j2 "$@"
