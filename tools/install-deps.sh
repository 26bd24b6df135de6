#!/usr/bin/env bash
# Installs everything Vardex needs to build, run and test on Debian 12.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc libsqlite3-dev
  unixodbc unixodbc-dev tdsodbc odbc-postgresql
  libgtest-dev libbenchmark-dev
  postgresql
  xvfb xauth fonts-wqy-microhei imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
