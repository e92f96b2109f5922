#!/usr/bin/env bash
# Installs built plug-ins and the renderer where hosts find them without any setting: for the
# current user the LV2 bundles into ~/.lv2, the VST 2.x libraries into ~/.vst and the renderer
# into ~/.local/bin; with --system, for everyone, into /usr/local/lib/lv2, /usr/local/lib/vst and
# /usr/local/bin. The files come from FOLDER, laid out as a prefix (bin/, lib/lv2/*.lv2,
# lib/vst/*.so); by default the folder this script is in, as in the release archive, where this
# script is install.sh. Nothing is copied when a library the files need is missing.
#   install.sh [--system] [FOLDER]
set -euo pipefail

system=0
from=""
for arg in "$@"; do
  case "$arg" in
    --system) system=1 ;;
    -h | --help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "install.sh: unknown option $arg (--system, or a folder)" >&2; exit 2 ;;
    *) from="$arg" ;;
  esac
done
[ -n "$from" ] || from="$(dirname "$0")"
from="$(cd "$from" && pwd)"

shopt -s nullglob
bundles=("$from"/lib/lv2/*.lv2)
plugins=("$from"/lib/vst/*.so)
programs=("$from"/bin/*)
if [ ${#bundles[@]} -eq 0 ] && [ ${#plugins[@]} -eq 0 ]; then
  echo "install.sh: no plug-ins in $from (lib/lv2/*.lv2, lib/vst/*.so)" >&2
  exit 1
fi

# The libraries the files need, as the dynamic loader finds them; Debian's names for the
# packages that hold those it does not find.
package_of() {
  case "$1" in
    libsndfile.so.*) echo libsndfile1 ;;
    libcairo.so.*) echo libcairo2 ;;
    libaubio.so.*) echo libaubio5 ;;
    libsmf.so.*) echo libsmf0 ;;
    libglib-2.0.so.*) echo libglib2.0-0 ;;
    libpng16.so.*) echo libpng16-16 ;;
    libfontconfig.so.*) echo libfontconfig1 ;;
    libX11.so.*) echo libx11-6 ;;
    libstdc++.so.*) echo libstdc++6 ;;
    libgcc_s.so.*) echo libgcc-s1 ;;
    *) ;;
  esac
}
missing=()
while IFS= read -r -d '' file; do
  while read -r library _; do
    missing+=("$library")
  done < <(ldd "$file" 2>/dev/null | grep '=> not found' || true)
done < <(find "$from/bin" "$from/lib" \( -name '*.so' -o -perm -u=x \) -type f -print0 2>/dev/null)
if [ ${#missing[@]} -gt 0 ]; then
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  packages=()
  echo "Halvern needs libraries this system does not have; nothing was installed:" >&2
  for library in "${missing[@]}"; do
    package="$(package_of "$library")"
    echo "  $library${package:+ (Debian package $package)}" >&2
    [ -z "$package" ] || packages+=("$package")
  done
  [ ${#packages[@]} -eq 0 ] || echo "On Debian: sudo apt-get install ${packages[*]}" >&2
  exit 1
fi

sudo=""
if [ "$system" -eq 1 ]; then
  lv2_dir=/usr/local/lib/lv2 vst_dir=/usr/local/lib/vst bin_dir=/usr/local/bin
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
else
  [ -n "${HOME:-}" ] || { echo "install.sh: HOME is not set" >&2; exit 1; }
  lv2_dir="$HOME/.lv2" vst_dir="$HOME/.vst" bin_dir="$HOME/.local/bin"
fi

# Each file or bundle is copied beside its place under a hidden name and then renamed into it,
# so a host never sees half a bundle, and an older one is replaced whole.
cleanup() {
  for dir in "$lv2_dir" "$vst_dir" "$bin_dir"; do
    $sudo rm -rf "$dir"/.*.new.$$ "$dir"/.*.old.$$ 2>/dev/null || true
  done
}
trap cleanup EXIT
place() {
  local source="$1" dir="$2" name
  name="$(basename "$source")"
  $sudo mkdir -p "$dir"
  $sudo cp -R "$source" "$dir/.$name.new.$$"
  if [ -d "$dir/$name" ] || [ -L "$dir/$name" ]; then
    $sudo mv "$dir/$name" "$dir/.$name.old.$$"
  fi
  $sudo mv -fT "$dir/.$name.new.$$" "$dir/$name"
  echo "  $dir/$name"
}

echo "Installing Halvern $([ "$system" -eq 1 ] && echo "for everyone" || echo "for $(id -un)"):"
for bundle in "${bundles[@]}"; do place "$bundle" "$lv2_dir"; done
for plugin in "${plugins[@]}"; do place "$plugin" "$vst_dir"; done
for program in "${programs[@]}"; do place "$program" "$bin_dir"; done

# What LV2 hosts see now, with their default search path.
status=0
if command -v lv2ls >/dev/null; then
  listed="$(env -u LV2_PATH lv2ls 2>/dev/null || true)"
  for bundle in "${bundles[@]}"; do
    for uri in $(awk '/^<[^>]*>$/ { uri = substr($0, 2, length($0) - 2) }
                      /a lv2:Plugin/ { print uri }' "$bundle/manifest.ttl"); do
      if grep -qxF "$uri" <<<"$listed"; then
        echo "LV2 hosts find $uri (lv2ls lists it)"
      else
        echo "install.sh: lv2ls does not list $uri" >&2
        status=1
      fi
    done
  done
else
  echo "To see what LV2 hosts find: lv2ls | grep brakk (lv2ls is in Debian's lilv-utils)"
fi
if [ -n "${LV2_PATH:-}" ]; then
  echo "Note: LV2_PATH is set ($LV2_PATH); it replaces the hosts' own search path, so hosts" \
       "started with it find only what lies there"
fi
if [ ${#programs[@]} -gt 0 ] && [[ ":$PATH:" != *":$bin_dir:"* ]]; then
  echo "Note: $bin_dir is not on your PATH yet (Debian adds ~/.local/bin at your next login" \
       "once it exists); until then run $bin_dir/$(basename "${programs[0]}")"
fi
exit "$status"
