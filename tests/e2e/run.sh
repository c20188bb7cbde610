#!/bin/sh
# Browser walk through the window: run.sh BUILD_DIR (needs BUILD_DIR/bin/varnox and /usr/bin/chromium).
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
cd "$(dirname "$0")"
[ -d node_modules ] || npm ci --no-audit --no-fund
exec node walk.mjs "$build/bin/varnox" "$build/screenshots"
