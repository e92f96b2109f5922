#!/usr/bin/env bash
# Builds both Windows plug-ins, Halvern and Halvern Live, and proves them under wine (32-bit DLLs
# under wine32, 64-bit DLLs under wine64; wine32 under qemu-i386 where the kernel runs no 32-bit
# programs), with the Windows test host tests/windows/ (halvern-wintest):
#   1. imports and exports of each DLL;
#   2. the host-visible cases: record, entry points, opcodes, parameters, audio; and the GDI
#      drawing layer's pixel rules;
#   3. the audio of each DLL against the Linux build's for the same input (limit 1e-5);
#   4. under Xvfb, Halvern's editor in a top-level window: its screenshot against the Linux
#      build's headless snapshot, then a click on the Scale switch and a drag on the Pitch knob by
#      xdotool, which must reach the host as begin-edit, automate, end-edit; Halvern Live's
#      editor opened and closed;
#   5. the release archive from scripts/package.sh: the DLLs tested here, by word size.
# Results and pictures are left in build-windows/results/. A run counts only when the host
# printed its summary line: a wine that cannot start the program prints nothing and exits 0.
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"

scripts/install-windows-deps.sh
scripts/build-windows.sh

out="$top/build-windows"
results="$out/results"
rm -rf "$results"
mkdir -p "$results"

# The Linux build for the reference output and the editor's headless snapshot.
linux_build="${HALVERN_BUILD_DIR:-build}"
case "$linux_build" in /*) ;; *) linux_build="$top/$linux_build" ;; esac
[ -f "$linux_build/CMakeCache.txt" ] ||
  cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$linux_build" -j 2 --target Halvern HalvernLive halvern-editor-png >/dev/null

# The same host, built natively, runs the Linux plug-in and compares.
cmake -S tests/windows -B "$out/linux-host" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out/linux-host" -j 2 >/dev/null
native_host="$out/linux-host/halvern-wintest"

failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}

# Runs a halvern-wintest command with its output in a log; it passed only if the summary line
# says so and the exit status agrees.
checked() {
  local log="$1" command="$2"
  shift 2
  local status=0
  "$@" >"$log" 2>&1 || status=$?
  grep -E '^(FAIL|halvern-wintest)' "$log" || true
  if ! grep -qE "^halvern-wintest $command: [1-9][0-9]* checks passed, 0 failed" "$log" ||
     [ "$status" -ne 0 ]; then
    echo "FAILED: $(basename "$log" .log) (exit status $status, log in $log)" >&2
    return 1
  fi
}

# ---- 1. what the DLLs import and export
allowed='^(KERNEL32|USER32|GDI32|ole32|OLEAUT32|SHELL32|ADVAPI32|msvcrt)\.dll$'
plugins=(Halvern HalvernLive)
for arch in i686 x86_64; do
  for plugin in "${plugins[@]}"; do
    dll="$out/$arch/$plugin.dll"
    dump="$results/$arch-$plugin-objdump.txt"
    "$arch-w64-mingw32-objdump" -p "$dll" >"$dump"
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$dump" | sort -u)
    echo "$arch/$plugin.dll ($(stat -c %s "$dll") bytes) imports:" $imports
    for name in $imports; do
      [[ "$name" =~ $allowed ]] || fail "$arch/$plugin.dll imports $name"
    done
    for name in VSTPluginMain main; do
      grep -qE "^[[:space:]]+\[[[:space:]]*[0-9]+\] $name\$" "$dump" ||
        fail "$arch/$plugin.dll does not export $name"
    done
  done
done

# ---- wine: one prefix for the run, both loaders in it
export WINEPREFIX="$out/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
# Where wine32 runs under qemu-i386 (see install-windows-deps.sh): the guest's address space is
# reserved up front, or the fixed places wine maps (its shared user data at 0x7ffe0000) are refused.
# A kernel that runs 32-bit programs itself never reads this.
export QEMU_RESERVED_VA=0xf7000000
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the wine prefix (once)"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 1 50); do
  xdotool getmouselocation >/dev/null 2>&1 && break
  sleep 0.1
done

loader() { [ "$1" = i686 ] && echo "$wine32" || echo "$wine64"; }

# ---- 2. host-visible cases
for arch in i686 x86_64; do
  echo "== $arch: host cases under $(basename "$(loader "$arch")")"
  (cd "$out/$arch" && checked "$results/$arch-host.log" host \
     "$(loader "$arch")" ./halvern-wintest.exe host Halvern.dll) || failed=1
  (cd "$out/$arch" && checked "$results/$arch-host-live.log" host-live \
     "$(loader "$arch")" ./halvern-wintest.exe host-live HalvernLive.dll) || failed=1
  (cd "$out/$arch" && checked "$results/$arch-gdi.log" gdi \
     "$(loader "$arch")" ./halvern-wintest.exe gdi) || failed=1
done

# ---- 3. audio against the Linux build
echo "== audio of each DLL against the Linux build"
checked "$results/signal.log" signal "$native_host" signal "$results/input.f32" || failed=1
for plugin in "${plugins[@]}"; do
  checked "$results/linux-$plugin-render.log" render "$native_host" render \
    "$linux_build/shell/$plugin.so" "$results/input.f32" "$results/linux-$plugin.f32" || failed=1
  for arch in i686 x86_64; do
    (cd "$out/$arch" && checked "$results/$arch-$plugin-render.log" render \
       "$(loader "$arch")" ./halvern-wintest.exe render "$plugin.dll" ../results/input.f32 \
       "../results/$arch-$plugin.f32") || failed=1
    checked "$results/$arch-$plugin-compare.log" compare "$native_host" compare \
      "$results/linux-$plugin.f32" "$results/$arch-$plugin.f32" 1e-5 || failed=1
  done
done

# ---- 4. the editor on a screen, and a hand on it
echo "== the editor under Xvfb"
"$linux_build/tools/halvern-editor-png" --pitch 3.5 --formant -2 --scale "A minor" --force \
  -o "$results/editor-snapshot.png" >/dev/null

# mousedown, a pause, mouseup: wine reports a button as down only while it really is held
hand() {
  local x="$1" y="$2"
  xdotool mousemove $((x + 200)) $((y + 36))
  sleep 0.3
  xdotool mousedown 1
  sleep 0.8
  xdotool mouseup 1
  sleep 0.5
  # around the Pitch knob (centre 84, 44), from its right side up over the top to the left
  xdotool mousemove $((x + 100)) $((y + 44))
  sleep 0.3
  xdotool mousedown 1
  sleep 0.5
  for p in "99 38" "96 33" "91 29" "85 27" "79 28" "74 31"; do
    set -- $p
    xdotool mousemove $((x + $1)) $((y + $2))
    sleep 0.25
  done
  xdotool mouseup 1
  sleep 0.5
}

for arch in i686 x86_64; do
  work="$results/editor-$arch"
  mkdir -p "$work"
  (cd "$out/$arch" && checked "$results/$arch-editor.log" editor \
     timeout 150 "$(loader "$arch")" ./halvern-wintest.exe editor Halvern.dll \
     ../results/editor-snapshot.png "../results/editor-$arch") &
  host_pid=$!
  for _ in $(seq 1 600); do
    [ -f "$work/ready" ] && break
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.1
  done
  # the window's screen position, as the host wrote it
  position=$(tr -d '\r' <"$work/ready" 2>/dev/null || true)
  if [[ "$position" =~ ^(-?[0-9]+)\ (-?[0-9]+)$ ]]; then
    hand "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" || failed=1
  else
    echo "FAILED: $arch editor: no window position from the host" >&2
    failed=1
  fi
  touch "$work/done"
  wait "$host_pid" || failed=1
  (cd "$out/$arch" && checked "$results/$arch-editor-live.log" editor-smoke \
     timeout 150 "$(loader "$arch")" ./halvern-wintest.exe editor-smoke HalvernLive.dll) || failed=1
done

# ---- 5. the release archive: the DLLs tested above, each in the folder for its word size
echo "== the Windows release archive"
archive=$(HALVERN_DIST_DIR="$results/dist" scripts/package.sh windows | sed 's/ (.*//')
unpacked="$results/archive"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$archive")
folder="$unpacked/$(basename "$archive" .zip)"
for entry in "x86_64:64-bit hosts:pei-x86-64" "i686:32-bit hosts:pei-i386"; do
  IFS=: read -r arch hosts format <<<"$entry"
  for plugin in "${plugins[@]}"; do
    dll="$folder/$hosts/$plugin.dll"
    cmp -s "$dll" "$out/$arch/$plugin.dll" ||
      fail "$hosts/$plugin.dll is not the tested $arch DLL"
    "$arch-w64-mingw32-objdump" -f "$dll" | grep -q "file format $format\$" ||
      fail "$hosts/$plugin.dll is not $format"
  done
done
[ -s "$folder/INSTALL.txt" ] || fail "no INSTALL.txt in $(basename "$archive")"
echo "$(basename "$archive") ($(stat -c %s "$archive") bytes): the four DLLs as tested"

if [ "$failed" -ne 0 ]; then
  echo "Windows tests FAILED (logs in $results)" >&2
  exit 1
fi
echo "Windows tests passed: Halvern's and Halvern Live's DLLs under wine32 and wine64 (logs in $results)"
