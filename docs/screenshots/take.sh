#!/bin/sh
# Takes the pictures of every window, in the given language, into docs/screenshots/<language>/
# (the English ones: docs/screenshots/en). Needs a built tree and xvfb-run (Debian package xvfb):
# the message boxes appear only on a real display.
# Usage: docs/screenshots/take.sh [build folder] [en|zh]   (defaults: build, en)
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
language=${2:-en}
VARDEX_SCREENSHOT_DIR=$here/docs/screenshots/$language VARDEX_SCREENSHOT_LANG=$language \
  QT_QPA_PLATFORM=xcb VARDEX_SOURCE_DIR=$here VARDEX_BIN_DIR=$build/bin \
  xvfb-run -a "$build/tests/test_i18n" --gtest_filter='*Screenshots*'
