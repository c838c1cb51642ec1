#!/usr/bin/env bash
# README's log analysis example: a soak run of 2,000 exchanges with random
# faults, its log analysed by zubhost, and the timeline rendered to
# docs/analyze-timeline.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
command -v rsvg-convert >/dev/null ||
  { apt-get update -qq && apt-get install -y -qq --no-install-recommends librsvg2-bin >/dev/null; }
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
LUMISAR_SOAK_LOG="$run/soak.log" build/native/tests/soak build/native/tools/plcsim 2000
build/native/tools/zubhost analyze --svg "$run/soak.svg" "$run/soak.log"
rsvg-convert -b white "$run/soak.svg" -o docs/analyze-timeline.png
echo "wrote docs/analyze-timeline.png"
