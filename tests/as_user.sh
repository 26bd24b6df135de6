#!/usr/bin/env bash
# as_user.sh PROGRAM [ARGS...]: runs PROGRAM as an ordinary user. As root (CI), the program runs
# as nobody, who can read the build tree but write none of it; otherwise as the caller.
set -euo pipefail
if [ "$(id -u)" = 0 ]; then
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all env HOME=/nonexistent "$@"
fi
exec "$@"
