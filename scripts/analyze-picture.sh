#!/usr/bin/env bash
# README's log analysis examples: a soak run of 2,000 exchanges with random
# faults, its log analysed by zubhost, its timeline and its page rendered by
# Chromium (docs/analyze-timeline.png, docs/analyze-page.png), and the
# timeline of a million-line log made of the same run repeated at later
# times (docs/analyze-timeline-million.png); and the user's guide as the
# package's page shows it (docs/user-guide-page.png). With "pages", only the
# two pages: the analysis and the guide.
#   analyze-picture.sh [pages]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
shoot() {  # FILE WIDTH HEIGHT PNG
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$run/chromium" --hide-scrollbars --window-size="$2,$3" \
    --screenshot="$4" "file://$1" 2>/dev/null
}
zubhost=$(pwd)/build/native/tools/zubhost
LUMISAR_SOAK_LOG="$run/soak.log" build/native/tests/soak build/native/tools/plcsim 2000
(cd "$run" && "$zubhost" analyze --svg soak.svg --html soak.html soak.log)
shoot "$run/soak.html" 1280 1060 docs/analyze-page.png
bash scripts/guide-page.sh "$run/user-guide.html"
shoot "$run/user-guide.html" 1280 1400 docs/user-guide-page.png
if [ "${1:-}" = pages ]; then
  echo "wrote docs/analyze-page.png, docs/user-guide-page.png"
  exit 0
fi
shoot "$run/soak.svg" 990 180 docs/analyze-timeline.png
# A million lines: the run again and again, each copy later than the last.
span=$(($(date -d "$(tail -1 "$run/soak.log" | cut -c1-19)" +%s) -
  $(date -d "$(head -1 "$run/soak.log" | cut -c1-19)" +%s) + 2))
copies=$((1000000 / $(wc -l <"$run/soak.log") + 1))
for i in $(seq 0 $((copies - 1))); do
  awk -v off=$((i * span)) '{
    t = substr($1, 12, 2) * 3600 + substr($1, 15, 2) * 60 + substr($1, 18) + off
    h = int(t / 3600); m = int((t - h * 3600) / 60); s = t - h * 3600 - m * 60
    printf "%sT%02d:%02d:%06.3f%s\n", substr($1, 1, 10), h, m, s, substr($0, length($1) + 1) }' "$run/soak.log"
done >"$run/many.log"
head -1000000 "$run/many.log" >"$run/million.log"
"$zubhost" analyze --svg "$run/million.svg" "$run/million.log"
"$zubhost" analyze "$run/million.log" | head -2
echo "million-line timeline: $(wc -c <"$run/million.svg") bytes of SVG"
shoot "$run/million.svg" 990 180 docs/analyze-timeline-million.png
echo "wrote docs/analyze-timeline.png, docs/analyze-page.png, docs/user-guide-page.png, docs/analyze-timeline-million.png"
