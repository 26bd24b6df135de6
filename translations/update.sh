#!/bin/sh
# Gathers the texts shown on screen from the sources into translations/vardex_en.ts (new texts
# arrive unfinished; texts no longer in the sources are dropped). Then translate the new
# ones, e.g. in Qt Linguist: linguist translations/vardex_en.ts
# Usage: translations/update.sh [output.ts]   (default: translations/vardex_en.ts)
# The command-line program's own messages are English in the sources and go the other way, into
# translations/vardex-cli_zh.ts: translations/update.sh --cli [output.ts]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
lupdate=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
cd "$here"
if [ "${1:-}" = --cli ]; then
  out=${2:-$here/translations/vardex-cli_zh.ts}
  # lupdate also gathers the texts the program shares with the windows (Ui::tr, context Ui):
  # they are translated in vardex_en.ts; their unfinished entries here are left out by lrelease.
  exec "$lupdate" -silent -no-obsolete -locations none -source-language en -target-language zh_CN \
    cli -extensions cpp,h -I . -ts "$out"
fi
out=${1:-$here/translations/vardex_en.ts}
"$lupdate" -silent -no-obsolete -locations none -source-language zh_CN -target-language en \
  admin dialogs host library capi platform/msgbox_qt.cpp platform/adodb.cpp -extensions cpp,h -I . -ts "$out"
