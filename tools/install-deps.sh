#!/usr/bin/env bash
# Installs the Debian 12 packages Vardex needs.
#   install-deps.sh         to build and run it (tools/run.sh)
#   install-deps.sh --test  also to test it (tools/test.sh): GoogleTest, Google Benchmark,
#                           PostgreSQL and its ODBC driver, the packaging and binding tools
# Only missing packages are installed. The PostgreSQL server is installed without its default
# cluster: the tests start throwaway servers of their own, so nothing listens on port 5432.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins qt6-wayland libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc libsqlite3-dev
  unixodbc-dev libcrypt-dev
  qt6-l10n-tools qt6-tools-dev
  # the audit log window's chart; Qt Charts' CMake files need the OpenGL ones, not pulled in
  qt6-charts-dev libqt6opengl6-dev
  fonts-wqy-microhei
)
if [ "${1:-}" = "--test" ]; then
  packages+=(
    libgtest-dev libbenchmark-dev
    postgresql-common postgresql odbc-postgresql pgbouncer
    dpkg-dev file lintian python3 python3-pytest fp-compiler clang-format clang-tidy
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" != 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps: these Debian packages are missing: ${missing[*]}" >&2
    echo "install-deps: sudo is not available; as root run:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    echo "(for postgresql first set create_main_cluster = false in /etc/postgresql-common/createcluster.conf)" >&2
    exit 1
  fi
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
if printf '%s\n' "${missing[@]}" | grep -qx postgresql; then
  # postgresql-common first, so that the server package finds "no main cluster" in its settings.
  "${sudo[@]}" apt-get install -y --no-install-recommends postgresql-common
  conf=/etc/postgresql-common/createcluster.conf
  if ! grep -qE '^[[:space:]]*create_main_cluster[[:space:]]*=[[:space:]]*false' "$conf"; then
    "${sudo[@]}" sed -i -E 's/^[#[:space:]]*create_main_cluster[[:space:]]*=.*/create_main_cluster = false/' "$conf"
    grep -q '^create_main_cluster = false' "$conf" || echo 'create_main_cluster = false' | "${sudo[@]}" tee -a "$conf" >/dev/null
  fi
fi
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
