#!/usr/bin/env bash
# Draws the README's pictures with the project's own tools: the editor as a host shows it, the
# demo's pitch plot, Halvern Live's editor, and the demo through Live with the notes it found. Writes docs/ by default; the test suite draws them elsewhere and
# compares, so the pictures cannot fall behind the editor or the renderer.
# Usage: scripts/make-pictures.sh [DIR]   (needs a build: scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${HALVERN_BUILD_DIR:-build}"
out_dir="${1:-docs}"
mkdir -p "$out_dir"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

"$build_dir/tools/halvern-editor-png" --force --pitch 3.5 --formant -2 --scale "A minor" \
    -o "$out_dir/editor.png"
"$build_dir/tools/makedemo" "$scratch/demo-input.wav"
"$build_dir/tools/halvern-render" -q --force --scale "C major" --pitch-plot "$out_dir/demo-pitch.png" \
    "$scratch/demo-input.wav" -o "$scratch/demo-corrected.wav"
"$build_dir/tools/halvern-editor-png" --force --live --retune 50 --scale "C major" \
    -o "$out_dir/live-editor.png"
"$build_dir/tools/halvern-render" -q --force --engine live --scale "C major" \
    --notes-out "$scratch/demo-notes.mid" --pitch-plot "$out_dir/live-notes.png" \
    "$scratch/demo-input.wav" -o "$scratch/demo-live.wav"
