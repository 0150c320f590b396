# Debian packages Tintarel needs, by use, and what the set-up scripts share.
# Sourced by them.
BUILD_PACKAGES="cmake ninja-build pkg-config g++ qt6-base-dev libgstreamer1.0-dev libxcb1-dev
  libxcb-screensaver0-dev libmp3lame-dev libglib2.0-dev"
RUN_PACKAGES="gstreamer1.0-plugins-base gstreamer1.0-plugins-good fonts-liberation2 qt6-image-formats-plugins
  gsettings-desktop-schemas"
TEST_PACKAGES="xvfb xauth x11-utils x11-xserver-utils xdotool faketime lame desktop-file-utils
  util-linux dbus dpkg-dev openbox pulseaudio pulseaudio-utils gstreamer1.0-pulseaudio libglib2.0-bin
  qt6-gtk-platformtheme"
# The fuzzing build.
FUZZ_PACKAGES="clang libclang-rt-14-dev"

# Installs whatever of the given packages is missing (nothing to do, and
# no network, when all are there).
install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# Runs a command (the test runner) on an X server of its own, with a
# private runtime folder and nothing of the user's session.
run_headless() {
  local runtime
  runtime=$(mktemp -d)
  chmod 700 "$runtime"
  local status=0
  env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" "$@" || status=$?
  rm -rf "$runtime"
  return $status
}
