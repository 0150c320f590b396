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

runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
export QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" \
  ctest --test-dir build --output-on-failure -j2 "$@"
