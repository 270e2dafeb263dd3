#!/usr/bin/env bash
# Brings translations/gui_en.ts up to date with the texts of the Qt screens (ui/, */ui/ and the
# desktop program): new texts are added unfinished, texts no longer in the code are dropped.
# Usage: tools/translations/lupdate_gui.sh [TS_FILE]   (default translations/gui_en.ts)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
LUPDATE="${LUPDATE:-$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)}"
TS="${1:-translations/gui_en.ts}"
mapfile -t sources < <(ls -d ui apps/quillmar */ui 2>/dev/null | grep -v '^build' | sort -u)
"$LUPDATE" -silent -no-obsolete -locations none -extensions cpp,h -source-language de_DE \
  -target-language en -I "$ROOT" "${sources[@]}" -ts "$TS"
