#!/bin/sh
# What live_bench needs besides the build: the x42 autotuner and Debian's offline LV2 host
# (measured as binaries only), sox for decoding, and the real singing it is run on.
#   sh bench/live_bench_inputs.sh [BUILD_DIR]   (default: build)
# The recordings land in BUILD_DIR/bench/recordings, listed in list.tsv (path, origin).
set -eu
build=${1:-build}
dir="$build/bench/recordings"

if ! command -v lv2file >/dev/null || ! command -v sox >/dev/null ||
   ! [ -e /usr/lib/lv2/fat1.lv2/manifest.ttl ]; then
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q x42-plugins lv2file lilv-utils sox
fi

mkdir -p "$dir"
# audio-lena (npm): a woman singing alone, about 12 s, mono, 44.1 kHz.
if ! [ -e "$dir/npm-audio-lena-3.0.1/package/lena.wav" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && npm pack --silent audio-lena@3.0.1 >/dev/null)
  mkdir -p "$dir/npm-audio-lena-3.0.1"
  tar -xzf "$tmp/audio-lena-3.0.1.tgz" -C "$dir/npm-audio-lena-3.0.1" package/lena.wav \
    package/readme.md package/package.json
  rm -rf "$tmp"
fi
printf '%s\t%s\n' "npm-audio-lena-3.0.1/package/lena.wav" \
  "npm package audio-lena 3.0.1, package/lena.wav (Lena Stolze, \"Oh lad le\", solo voice)" \
  >"$dir/list.tsv"
echo "recordings listed in $dir/list.tsv"
