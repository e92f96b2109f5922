#!/usr/bin/env bash
# Builds the release archives into dist/ ($HALVERN_DIST_DIR), named with the project version set
# in CMakeLists.txt:
#   Halvern-VERSION-linux-ARCH.tar.gz   one folder: install.sh (scripts/install-files.sh),
#                                       INSTALL.txt, and what the build installs: bin/halvern-render,
#                                       lib/vst/*.so, lib/lv2/*.lv2
#   Halvern-VERSION-windows.zip         the two DLLs in "64-bit hosts" and "32-bit hosts"
#                                       folders, with INSTALL.txt
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
  # Everything the build installs, whichever plug-ins it holds.
  cmake --build "$build" -j "$(nproc)" >/dev/null
  local version
  version="$(version_of "$build")"
  local folder="Halvern-$version-linux-$(uname -m)"
  local root="$stage/linux/$folder"
  cmake --install "$build" --prefix "$root" --strip >/dev/null
  cp scripts/install-files.sh "$root/install.sh"
  cat >"$root/INSTALL.txt" <<EOF
Halvern $version for Linux ($(uname -m))

Install for yourself, where hosts find it with no setting:

  tar -xzf $folder.tar.gz
  $folder/install.sh

Two plug-ins: Halvern, for recorded tracks, and Halvern Live, 11.6 ms late, to sing through.
That puts the LV2 plug-ins into ~/.lv2, the VST 2.x plug-ins into ~/.vst and the renderer,
halvern-render, into ~/.local/bin. For everyone instead (/usr/local/lib/lv2,
/usr/local/lib/vst, /usr/local/bin): $folder/install.sh --system

install.sh first checks that the libraries the plug-ins and the renderer need are there, and
names the packages of those that are not. On Debian 12 they are libc6, libstdc++6, libgcc-s1,
libpng16-16, libcairo2, libfontconfig1 and libx11-6 for the plug-ins, and libsndfile1,
libaubio5, libsmf0 and libglib2.0-0 for the renderer; the editor draws its text in Liberation
Sans (fonts-liberation).

Check that LV2 hosts see it (lv2ls is in Debian's lilv-utils):
  lv2ls | grep -i halvern
VST 2.x hosts that do not scan ~/.vst by themselves need it added to their plug-in folders,
and a rescan.

  bin/halvern-render     the offline renderer; it uses the VST 2.x plug-in installed with it
  lib/vst/               the VST 2.x plug-ins
  lib/lv2/               the LV2 plug-ins and their editors
EOF
  local archive="$dist/$folder.tar.gz"
  tar -C "$stage/linux" --owner=0 --group=0 --sort=name -czf "$archive" "$folder"
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
