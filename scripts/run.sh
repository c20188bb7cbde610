#!/usr/bin/env bash
# Builds Varnox and runs it: without arguments the demo (a new root with two
# mail stores, SMS and rules, shown in the browser), else varnox with those
# arguments (try --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNOX_BUILD:-$root/build}/release

"$root/scripts/deps.sh" build
# Every option is set here: the folder is shared with the test script, which
# turns the tests and benchmarks on (they need packages this one does not install).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOX_TESTS=OFF -DVARNOX_BENCH=OFF -DVARNOX_SANITIZE=OFF -DVARNOX_SANITIZE_THREAD=OFF \
  -DVARNOX_FUZZ=OFF >/dev/null
cmake --build "$build" --target varnox >&2

varnox="$build/bin/varnox"
if [ $# -gt 0 ]; then
  exec "$varnox" "$@"
fi
# Without arguments: the demo, opened in the browser when there is a display.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$varnox" demo --open
fi
exec "$varnox" demo
