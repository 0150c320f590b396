#!/usr/bin/env bash
# Builds the Debian package and checks it: its contents, its dependencies,
# and an install and removal in a scratch root (the removal must leave no
# file behind and take the clock's session-start entry with it).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-deb
rm -f build-deb/tintarel_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/tintarel_*.deb)

fail() { echo "package: $*" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb")
for f in usr/lib/tintarel/Tintarel usr/lib/tintarel/TintarelPanel usr/lib/tintarel/libOstrevol.so \
         usr/lib/tintarel/Carill1.mp3 usr/lib/tintarel/CarillH12.mp3 usr/lib/tintarel/Tintarel.hlp \
         usr/share/applications/Tintarel.desktop usr/share/applications/TintarelPanel.desktop \
         usr/share/icons/hicolor/scalable/apps/tintarel.svg; do
  grep -q " \./$f\$" <<<"$contents" || fail "missing $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libgstreamer1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good fonts-liberation2 qt6-qpa-plugins; do
  grep -q "$p" <<<"$depends" || fail "does not depend on $p"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info" "$root/etc/xdg/autostart"
touch "$root/var/lib/dpkg/status"
# The scratch root has none of the dependencies: dpkg's complaints about
# them are expected and not shown.
dpkg_root() {
  dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@" 2>&1 |
    grep -vE 'dependency problems|depends on|is not installed|^ *$' || true
}
dpkg_root -i "$deb"
[ -x "$root/usr/lib/tintarel/Tintarel" ] || fail "not installed"
printf '[Desktop Entry]\nType=Application\nName=Tintarel\nExec="/usr/lib/tintarel/Tintarel"\n' \
  > "$root/etc/xdg/autostart/Tintarel.desktop"
dpkg_root -r tintarel
[ ! -e "$root/etc/xdg/autostart/Tintarel.desktop" ] || fail "session-start entry left behind"
left=0
[ -d "$root/usr" ] && left=$(find "$root/usr" -type f | wc -l)
[ "$left" -eq 0 ] || fail "$left files left behind"
echo "package: $(basename "$deb") checked ($(wc -l <<<"$contents") entries; Depends: $depends)"
