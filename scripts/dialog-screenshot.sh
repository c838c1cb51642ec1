#!/usr/bin/env bash
# Shows the tag format dialog as Wine draws it under Xvfb and saves a
# screenshot to docs/tag-format-dialog.png (needs the native and cross builds).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
for preset in native cross; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
LUMISAR_SCREENSHOT="$root/docs/tag-format-dialog.png" \
  bash scripts/wine-suite.sh "$root/build/cross" "$root/build/native/tools/plcsim" WineDialog
echo "saved docs/tag-format-dialog.png"
