#!/usr/bin/env bash
# Builds and runs every test: the suite with g++, then again built with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets of
# that second build for about three minutes in all.
#   VARNOX_BUILD   build folder (default: build/ in the checkout)
#   VARNOX_FUZZ_SECONDS   total fuzzing time (default 180; 0 skips fuzzing)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNOX_BUILD:-$root/build}
fuzz_seconds=${VARNOX_FUZZ_SECONDS:-180}
jobs=$(nproc)

"$root/scripts/deps.sh" test || exit 1
"$root/scripts/fetch-corpus.sh" "$build/corpus" || exit 1
corpus="$build/corpus/package/data"

passed=0
failed=0
# Adds one ctest run's counts from its summary line.
count_ctest() {
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

suite() {  # suite NAME CMAKE-ARGS...
  local name=$1
  shift
  local dir="$build/$name" log
  log=$(mktemp)
  echo "== $name: configure and build"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVARNOX_CORPUS_DIR="$corpus" "$@" >/dev/null ||
     ! cmake --build "$dir" -j "$jobs"; then
    echo "== $name: build FAILED"
    failed=$((failed + 1))
    return
  fi
  echo "== $name: tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
  count_ctest "$log"
  rm -f "$log"
}

# Every option each build relies on is set, whatever an earlier configure of
# the same folder chose (./scripts/run.sh shares build/release with tests off).
suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNOX_TESTS=ON -DVARNOX_BENCH=ON \
  -DVARNOX_SANITIZE=OFF -DVARNOX_SANITIZE_THREAD=OFF -DVARNOX_FUZZ=OFF
# Script tests, once each, on the release build; each counts as one.
step() {  # step NAME WHAT CMD...
  local name=$1 what=$2
  shift 2
  echo "== $name: $what"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "== $name: FAILED"
    failed=$((failed + 1))
  fi
}
step browser "walk through the window" "$root/tests/e2e/run.sh" "$build/release"
# The .deb, installed with dpkg -i in a throwaway overlay, and its program.
step install "package, dpkg -i, the installed program" "$root/tests/install/run.sh" "$build/release"
# A real Dovecot on loopback: the scan files into the Maildir it serves, read
# back over IMAP. Skipped with a line when Dovecot is missing, unless CI is set.
step dovecot "the scan against a real IMAP server" "$root/tests/peers/dovecot.sh" "$build/release"
# Kills, locks, a read-only data folder, a full disk, a garbage log and a
# removed spool, in the short form (tests/faults/run.sh BUILD --long: 100 kills).
step faults "kills, locks, read-only, full disk, garbage, spool" \
  "$root/tests/faults/run.sh" "$build/release"
suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DVARNOX_TESTS=ON -DVARNOX_SANITIZE=ON \
  -DVARNOX_SANITIZE_THREAD=OFF -DVARNOX_FUZZ=ON -DVARNOX_BENCH=OFF

# The tests of threads sharing the rule table and the SMS log connection,
# and those of the window (its server, user-interface thread, viewer and
# workers), under ThreadSanitizer.
echo "== thread: configure and build"
tsan="$build/thread"
if cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DVARNOX_TESTS=ON \
     -DVARNOX_SANITIZE=OFF -DVARNOX_SANITIZE_THREAD=ON -DVARNOX_FUZZ=OFF -DVARNOX_BENCH=OFF \
     -DVARNOX_CORPUS_DIR="$corpus" >/dev/null &&
   cmake --build "$tsan" -j "$jobs"; then
  log=$(mktemp)
  ctest --test-dir "$tsan" --output-on-failure 2>&1 | tee "$log"
  count_ctest "$log"
  rm -f "$log"
else
  echo "== thread: build FAILED"
  failed=$((failed + 1))
fi

if [ "$fuzz_seconds" -gt 0 ] && [ -d "$build/sanitize/bin" ]; then
  echo "== fuzzing for ${fuzz_seconds}s in all"
  if "$root/scripts/run-fuzzers.sh" "$build/sanitize/bin" "$fuzz_seconds" "$corpus"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi

echo
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
