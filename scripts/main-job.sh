#!/usr/bin/env bash
# Installs what is missing to build, builds the plug-ins and the tools, and renders the demo: a
# short, slightly out-of-tune sung melody, corrected to C major by the built plug-in, with a plot
# of its pitch before and after. No test or Windows tools: scripts/run-tests.sh brings those.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
scripts/build.sh -DHALVERN_BUILD_TESTS=OFF -DHALVERN_BUILD_BENCH=OFF
build_dir="${HALVERN_BUILD_DIR:-build}"
out_dir="${HALVERN_DEMO_DIR:-demo-output}"
mkdir -p "$out_dir"

"$build_dir/tools/makedemo" "$out_dir/demo-input.wav"
"$build_dir/tools/halvern-render" --scale "C major" --force \
    --pitch-plot "$out_dir/demo-pitch.png" \
    "$out_dir/demo-input.wav" -o "$out_dir/demo-corrected.wav"

cat <<DONE

The demo is in $out_dir/:
  demo-input.wav       the take as sung, a few notes out of tune
  demo-corrected.wav   the same take through Halvern, Scale on, C major
  demo-pitch.png       pitch of both over time, with the notes of C major as guide lines
DONE
