#!/usr/bin/env bash
# Varnox against bogofilter and SpamAssassin on the SpamAssassin corpus, in
# one run, each tool as one process at a time (as a delivery filter runs):
#  - `varnox check` over every file, with 512 rules (xargs hands it the
#    files in a few batches);
#  - `varnox scan --once` over the corpus as one Maildir store, logging
#    every message and filing the spam;
#  - bogofilter classifying the same files in batch mode (-b), trained
#    beforehand on every other spam-1 and easy-ham-1 message (not timed);
#  - SpamAssassin 4 (`spamassassin -L --mbox`: one process over one mbox,
#    local tests only, Bayes as installed, that is without a trained
#    database, in a HOME of its own so that nothing of the machine's is used
#    or changed). It is far slower, so it runs on every sixth message (set
#    COMPARE_SA_EVERY=1 for all), and its rate is that subset's.
# Messages per second include each process's start; peak memory is the
# largest maximum resident set (/usr/bin/time -f %M) of the tool's processes.
# Bogofilter, check and scan each run COMPARE_RUNS times (default 3), the
# three in turn, and the best rate of each counts: on a shared machine one
# run of any of them may be slowed by a neighbour.
# Usage: bench/compare.sh [BUILD]   (default build/release)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
sa_every=${COMPARE_SA_EVERY:-6}
runs=${COMPARE_RUNS:-3}
fail() {
  echo "FAILED: $*"
  exit 1
}

# shellcheck source=bench/corpus_root.sh
. "$root/bench/corpus_root.sh"
bench_setup "$root" "$build" varnox
varnox="$build/bin/varnox"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find "$corpus" -name '*.txt' | sort >"$work/all.txt"
n=$(wc -l <"$work/all.txt")
echo "== corpus: $n messages"

now() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / (b - a) }'; }
peak_mb() { sort -n "$1" | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'; }
xargs cat <"$work/all.txt" >/dev/null  # files into the page cache

echo "== bogofilter: training on half of spam-1 and easy-ham-1, then -b over all"
mkdir -p "$work/bogo"
grep '/spam-1/' "$work/all.txt" | awk 'NR % 2' >"$work/spam-train.txt"
grep '/easy-ham-1/' "$work/all.txt" | awk 'NR % 2' >"$work/ham-train.txt"
bogofilter -C -d "$work/bogo" -n -b <"$work/ham-train.txt" || fail "bogofilter training"
bogofilter -C -d "$work/bogo" -s -b <"$work/spam-train.txt" || fail "bogofilter training"

echo "== varnox: 512 rules"
vroot="$work/root"
add_rules "$varnox" "$vroot" "$work/all.txt"
[ "$("$varnox" rules --root "$vroot" | wc -l)" -eq 512 ] || fail "fewer than 512 rules"
fill_store "$vroot/Mail/Corpus" "$work/all.txt"
cp -a "$vroot" "$work/root0"  # each scan starts from here: nothing logged, nothing filed

best() { [ "${1:-0}" -ge "$2" ] && echo "$1" || echo "$2"; }
bogo=0 check=0 scan=0
: >"$work/bogo-rss.txt"
: >"$work/check-rss.txt"
: >"$work/scan-rss.txt"
for run in $(seq "$runs"); do
  echo "== run $run of $runs: bogofilter -b, varnox check, varnox scan --once"
  t0=$(now)
  # The exit status is the last verdict's.
  /usr/bin/time -f %M -a -o "$work/bogo-rss.txt" \
    bogofilter -C -d "$work/bogo" -v -b <"$work/all.txt" >"$work/bogo.txt"
  t1=$(now)
  bogo=$(best "$bogo" "$(rate "$n" "$t0" "$t1")")
  [ "$(wc -l <"$work/bogo.txt")" -eq "$n" ] || fail "bogofilter classified $(wc -l <"$work/bogo.txt") of $n"

  t0=$(now)
  xargs /usr/bin/time -f %M -a -o "$work/check-rss.txt" "$varnox" check --root "$vroot" \
    <"$work/all.txt" >"$work/check.txt" || fail "varnox check"
  t1=$(now)
  check=$(best "$check" "$(rate "$n" "$t0" "$t1")")
  check_spam=$(grep -c ': spam' "$work/check.txt")
  [ "$((check_spam + $(grep -c ': normal' "$work/check.txt")))" -eq "$n" ] ||
    fail "varnox check gave $(wc -l <"$work/check.txt") verdicts for $n files"

  rm -rf "$vroot" && cp -a "$work/root0" "$vroot"
  t0=$(now)
  /usr/bin/time -f %M -a -o "$work/scan-rss.txt" "$varnox" scan --once --root "$vroot" \
    >"$work/scan.txt" 2>/dev/null || fail "scan --once"
  t1=$(now)
  scan=$(best "$scan" "$(rate "$n" "$t0" "$t1")")
done
bogo_spam=$(grep -c 'X-Bogosity: Spam' "$work/bogo.txt")
echo "scan: $(cat "$work/scan.txt")"

echo "== spamassassin: -L --mbox over every ${sa_every}th message"
awk -v k="$sa_every" 'NR % k == 1 || k == 1' "$work/all.txt" >"$work/sa.txt"
sa_n=$(wc -l <"$work/sa.txt")
# One mbox: a corpus file's own "From " envelope line starts its message,
# else one is added; "From " at a line's start within a message is quoted.
while read -r f; do
  awk 'NR == 1 && !/^From / { print "From bench@localhost Thu Jan  1 00:00:00 2002" }
       NR == 1 && /^From / { print; next }
       { sub(/^>*From /, ">&"); print }
       END { print "" }' "$f"
done <"$work/sa.txt" >"$work/sa.mbox"
mkdir -p "$work/sa-home"
: >"$work/sa-prefs"
t0=$(now)
HOME="$work/sa-home" /usr/bin/time -f %M -o "$work/sa-rss.txt" \
  spamassassin -L -p "$work/sa-prefs" --mbox <"$work/sa.mbox" >"$work/sa-out.txt" 2>"$work/sa-err.txt" ||
  fail "spamassassin: $(tail -n 2 "$work/sa-err.txt")"
t1=$(now)
sa=$(rate "$sa_n" "$t0" "$t1")
sa_spam=$(grep -c '^X-Spam-Status: Yes' "$work/sa-out.txt")
sa_done=$((sa_spam + $(grep -c '^X-Spam-Status: No' "$work/sa-out.txt")))
[ "$sa_done" -eq "$sa_n" ] || fail "spamassassin classified $sa_done of $sa_n"

ratio() { awk -v a="$1" -v b="$bogo" 'BEGIN { r = a / b; printf(r >= 0.1 ? "%.2f" : "%.4f", r) }'; }
echo
printf '%-44s %9s %9s %10s %8s\n' "tool" "messages" "msgs/s" "peak MB" "ratio"
printf '%-44s %9s %9s %10s %8s\n' "bogofilter -b (classify only)" "$n" "$bogo" \
  "$(peak_mb "$work/bogo-rss.txt")" "1.00"
printf '%-44s %9s %9s %10s %8s\n' "varnox check, 512 rules" "$n" "$check" \
  "$(peak_mb "$work/check-rss.txt")" "$(ratio "$check")"
printf '%-44s %9s %9s %10s %8s\n' "varnox scan --once, 512 rules (log + file)" "$n" "$scan" \
  "$(peak_mb "$work/scan-rss.txt")" "$(ratio "$scan")"
printf '%-44s %9s %9s %10s %8s\n' "spamassassin -L --mbox (every ${sa_every}th)" "$sa_n" "$sa" \
  "$(peak_mb "$work/sa-rss.txt")" "$(ratio "$sa")"
echo "spam found: bogofilter $bogo_spam of $n, varnox $check_spam of $n, spamassassin $sa_spam of $sa_n"
echo ok
