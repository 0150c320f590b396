#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (the "sanitize" preset). Leaks that the
# desktop's libraries keep until exit are listed in tests/lsan.supp.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $RUN_PACKAGES $TEST_PACKAGES

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize

run_headless ctest --preset sanitize -j2 "$@"
