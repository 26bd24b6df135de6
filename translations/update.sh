#!/bin/sh
# Gathers the texts shown on screen from the sources into translations/vardex_en.ts (new texts
# arrive unfinished; texts no longer in the sources are dropped). Then translate the new
# ones, e.g. in Qt Linguist: linguist translations/vardex_en.ts
# Usage: translations/update.sh [output.ts]   (default: translations/vardex_en.ts)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/translations/vardex_en.ts}
lupdate=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
cd "$here"
"$lupdate" -silent -no-obsolete -locations none -source-language zh_CN -target-language en \
  admin dialogs host library capi platform/msgbox_qt.cpp platform/adodb.cpp -extensions cpp,h -I . -ts "$out"
