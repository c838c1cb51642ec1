#!/usr/bin/env bash
# The user's guide as one page that opens in any browser: its style written
# into it, a linked table of contents, the guide's first heading as the
# page's title. pandoc writes no date or path into it, so the same guide
# gives the same bytes in any folder.
#   guide-page.sh OUT.html
set -euo pipefail
cd "$(dirname "$0")/.."
pandoc --standalone --from gfm --to html5 --shift-heading-level-by=-1 --toc \
  --metadata lang=en --metadata toc-title=Contents --include-in-header docs/user-guide-style.html \
  docs/user-guide.md -o "$1"
