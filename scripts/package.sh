#!/usr/bin/env bash
# Builds the release archives into dist/ ($HALVERN_DIST_DIR), named with the project version set
# in CMakeLists.txt:
#   Halvern-VERSION-linux-ARCH.tar.gz   bin/halvern-render, lib/vst/Halvern.so and HalvernLive.so,
#                                       lib/lv2/Halvern.lv2 and HalvernLive.lv2, and
#                                       share/doc/halvern/INSTALL.txt: unpacked into ~/.local or
#                                       /usr/local it installs everything
#   Halvern-VERSION-windows.zip         Halvern.dll and HalvernLive.dll in "64-bit hosts" and
#                                       "32-bit hosts" folders, with INSTALL.txt
#   scripts/package.sh [linux|windows]...   (default: both)
# The Linux build is $HALVERN_BUILD_DIR (default build/), configured if it is not yet; the Windows
# DLLs come from scripts/build-windows.sh, which needs scripts/install-windows-deps.sh once.
set -euo pipefail
cd "$(dirname "$0")/.."
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(linux windows)

build="${HALVERN_BUILD_DIR:-build}"
dist="${HALVERN_DIST_DIR:-dist}"
mkdir -p "$dist"
dist="$(cd "$dist" && pwd)"

# The version as CMake configured it for the build the files come from.
version_of() {
  local v
  v="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")"
  [ -n "$v" ] || { echo "no project version in $1/CMakeCache.txt" >&2; exit 1; }
  echo "$v"
}

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

package_linux() {
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$(nproc)" --target Halvern HalvernLive halvern_lv2 halvern_lv2_ui \
    halvern_live_lv2 halvern_live_lv2_ui halvern-render >/dev/null
  local version
  version="$(version_of "$build")"
  local root="$stage/linux"
  cmake --install "$build" --prefix "$root" --strip >/dev/null
  mkdir -p "$root/share/doc/halvern"
  cat >"$root/share/doc/halvern/INSTALL.txt" <<EOF
Halvern $version for Linux ($(uname -m))

Unpack the archive into a prefix; the folders inside it are laid out for one:

  tar -xzf Halvern-$version-linux-$(uname -m).tar.gz -C ~/.local        # for yourself
  sudo tar -xzf Halvern-$version-linux-$(uname -m).tar.gz -C /usr/local  # for everyone

  bin/halvern-render           the offline renderer; it uses the plug-in in ../lib/vst
  lib/vst/Halvern.so           the VST 2.x plug-in
  lib/lv2/Halvern.lv2/         the LV2 plug-in and its editor
  lib/vst/HalvernLive.so       Halvern Live, for live use: a short fixed delay (VST 2.x)
  lib/lv2/HalvernLive.lv2/     Halvern Live as an LV2 plug-in, with its editor

LV2 hosts find /usr/local/lib/lv2 by themselves; for ~/.local, add ~/.local/lib/lv2 to
LV2_PATH (or link the bundle into ~/.lv2). Check that LV2 hosts see it with
  lv2ls | grep -i halvern
For VST 2.x hosts, add lib/vst under the prefix to the host's VST 2.x paths if it does not scan
it already, and rescan.

The plug-in needs libpng 1.6, the editor also cairo, fontconfig and Xlib; the renderer needs
libsndfile, cairo, aubio and libsmf (all in Debian 12 and its derivatives).
EOF
  local archive="$dist/Halvern-$version-linux-$(uname -m).tar.gz"
  tar -C "$root" --owner=0 --group=0 --sort=name -czf "$archive" bin lib share
  echo "$archive ($(stat -c %s "$archive") bytes)"
}

package_windows() {
  scripts/build-windows.sh >/dev/null
  local version
  version="$(version_of build-windows/x86_64/plugin)"
  local folder="Halvern-$version-windows"
  local root="$stage/windows/$folder"
  mkdir -p "$root/64-bit hosts" "$root/32-bit hosts"
  cp build-windows/x86_64/Halvern.dll build-windows/x86_64/HalvernLive.dll "$root/64-bit hosts/"
  cp build-windows/i686/Halvern.dll build-windows/i686/HalvernLive.dll "$root/32-bit hosts/"
  sed 's/$/\r/' >"$root/INSTALL.txt" <<EOF
Halvern $version for Windows (VST 2.x)

Pick the DLL that matches your host, not your Windows:

  64-bit hosts\\Halvern.dll   for 64-bit hosts, today's DAWs on 64-bit Windows
  32-bit hosts\\Halvern.dll   for 32-bit hosts, or a host's 32-bit plug-in bridge

HalvernLive.dll beside each is Halvern Live, for live use: it delays the voice by only 512
samples at 44.1 kHz (12 ms). Pick it by the same rule.

Copy it into a folder your host scans for VST 2.x plug-ins and rescan, for example
C:\\Program Files\\VSTPlugins or C:\\Program Files\\Common Files\\VST2 for 64-bit hosts, and the
same folders under C:\\Program Files (x86)\\ for 32-bit hosts on 64-bit Windows. The host's
plug-in settings show or let you add the folders it uses. Both files are called Halvern.dll:
if you want both, put them in different folders.

In your host
- Halvern reports a processing delay of 221 ms at 44.1 kHz (9765 samples; about the same time
  at other rates). A host with plug-in delay compensation plays the corrected track in time
  with the others; monitoring a live input through it is heard 221 ms late, so use it on
  recorded tracks.
- A 32-bit host takes the 32-bit DLL; a 64-bit host takes the 64-bit one (or the 32-bit one
  through its plug-in bridge, which the 64-bit DLL does not need).
- The editor opens inside the host's plug-in window: drag a knob or turn it with the wheel,
  Ctrl+click sets it back to 0, and the note lamps choose the notes Scale snaps to.
- The plug-in keeps a small diagnostic file, f0map.txt, in your temporary folder (%TEMP%).
EOF
  local archive="$dist/$folder.zip"
  rm -f "$archive"
  (cd "$stage/windows" && cmake -E tar cf "$archive" --format=zip "$folder")
  echo "$archive ($(stat -c %s "$archive") bytes)"
}

for kind in "${kinds[@]}"; do
  case "$kind" in
    linux) package_linux ;;
    windows) package_windows ;;
    *) echo "unknown archive kind: $kind (linux or windows)" >&2; exit 2 ;;
  esac
done
