#!/usr/bin/env bash
# Builds Varnox and runs it. Without arguments it shows what the analysis makes
# of a sample message; with arguments they go to varnox (try --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNOX_BUILD:-$root/build}/release

"$root/scripts/deps.sh" build
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOX_TESTS=OFF -DVARNOX_BENCH=OFF >/dev/null
cmake --build "$build" --target varnox >&2

varnox="$build/bin/varnox"
if [ $# -gt 0 ]; then
  exec "$varnox" "$@"
fi
sample="$root/share/sample-message.txt"
echo "== varnox tokens < $sample"
"$varnox" tokens < "$sample"
echo "== varnox fingerprint < $sample"
"$varnox" fingerprint < "$sample"
echo "== varnox similar --rule-text 'Cheap pills, online pharmacy, order now' --certainty 40 < $sample"
"$varnox" similar --rule-text 'Cheap pills, online pharmacy, order now' --certainty 40 < "$sample"
