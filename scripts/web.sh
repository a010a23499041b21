#!/usr/bin/env bash
# Builds Quillon's web app (build/web/site) and serves it on
# http://localhost:8080. Installs what is missing first: emscripten and
# Chromium from Debian (scripts/setup.sh), the pinned npm packages (npm ci).
#   bash scripts/web.sh               build and serve (PORT=8080 by default)
#   bash scripts/web.sh --build-only  build only (what the tests use)
set -euo pipefail
cd "$(dirname "$0")/.."

QUILLON_WEB=1 bash scripts/setup.sh

# The pinned JavaScript packages, again whenever the lock file changed.
if ! cmp -s web/package-lock.json web/node_modules/.quillon-lock 2>/dev/null; then
  npm ci --prefix web --no-audit --no-fund --loglevel=error
  cp web/package-lock.json web/node_modules/.quillon-lock
fi

# Debian's emscripten finds its own node modules there.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web -j"$(nproc)" --target quillon_site

if [[ ${1:-} == --build-only ]]; then
  exit 0
fi
exec node web/serve.mjs build/web/site "${PORT:-8080}"
