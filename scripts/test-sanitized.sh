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

runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
export QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" \
  ctest --preset sanitize -j2 "$@"
