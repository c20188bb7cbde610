#!/usr/bin/env bash
# Runs every fuzz_* program in BIN for an equal share of SECONDS, seeded with
# a sample of the mail corpus. Fails when a fuzzer finds a crash.
set -uo pipefail
bin=${1:?usage: run-fuzzers.sh BIN SECONDS [CORPUS]}
seconds=${2:?}
corpus=${3:-}
fuzzers=("$bin"/fuzz_*)
[ -x "${fuzzers[0]}" ] || { echo "no fuzz targets in $bin"; exit 1; }
share=$((seconds / ${#fuzzers[@]}))
[ "$share" -lt 1 ] && share=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/seeds"
if [ -n "$corpus" ] && [ -d "$corpus" ]; then
  # Small messages make good seeds; libFuzzer keeps inputs short anyway.
  find "$corpus" -name '*.txt' -size -4k | sort | awk 'NR % 20 == 0' | head -n 150 |
    while read -r f; do cp "$f" "$work/seeds/"; done
fi

status=0
for f in "${fuzzers[@]}"; do
  name=$(basename "$f")
  mkdir -p "$work/$name"
  echo "-- $name for ${share}s"
  if ! (cd "$work" && "$f" -max_total_time="$share" -max_len=16384 -timeout=20 \
        -rss_limit_mb=4096 -print_final_stats=1 "$work/$name" "$work/seeds" \
        >"$work/$name.log" 2>&1); then
    echo "!! $name failed:"
    tail -n 60 "$work/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work/$name.log" | tail -n 2
  fi
done
exit $status
