#!/usr/bin/env bash
# Varnox against bogofilter on the SpamAssassin corpus, in one run:
#  - `varnox check` over every file in one process, with 512 rules;
#  - `varnox scan --once` over the corpus as one Maildir store (logging every
#    message and filing the spam), with its peak resident memory;
#  - bogofilter classifying the same files in batch mode, trained beforehand
#    on every other spam-1 and easy-ham-1 message (training not timed).
# Usage: bench/compare_bogofilter.sh [BUILD]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/scripts/deps.sh" bench
"$root/scripts/fetch-corpus.sh" "$root/build/corpus"
corpus="$root/build/corpus/package/data"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target varnox >/dev/null
varnox="$build/bin/varnox"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find "$corpus" -name '*.txt' | sort >"$work/all.txt"
n=$(wc -l <"$work/all.txt")
echo "corpus: $n messages"

seconds() { python3 -c 'import sys,time; print(f"{time.time():.6f}")'; }
rate() { python3 -c "print(f'{$1 / ($3 - $2):.0f}')"; }

# bogofilter, trained on half of spam-1 and easy-ham-1.
mkdir -p "$work/bogo"
grep '/spam-1/' "$work/all.txt" | awk 'NR % 2' >"$work/spam-train.txt"
grep '/easy-ham-1/' "$work/all.txt" | awk 'NR % 2' >"$work/ham-train.txt"
bogofilter -C -d "$work/bogo" -n -b <"$work/ham-train.txt"
bogofilter -C -d "$work/bogo" -s -b <"$work/spam-train.txt"
cat "$work/all.txt" >/dev/null  # files into the page cache
xargs cat <"$work/all.txt" >/dev/null
t0=$(seconds)
bogofilter -C -d "$work/bogo" -v -b <"$work/all.txt" >"$work/bogo.txt" || true  # exit status is the last verdict
t1=$(seconds)
bogo=$(rate "$n" "$t0" "$t1")

# 512 rules: message rules from the text of corpus messages and sender rules
# from the From addresses of others, until 512 distinct rules are stored.
vroot="$work/root"
mkdir -p "$vroot"
i=0
while read -r f; do
  if [ $((i % 16)) -eq 0 ] && [ "$("$varnox" rules --root "$vroot" | wc -l)" -ge 512 ]; then break; fi
  i=$((i + 1))
  if [ $((i % 2)) -eq 0 ]; then
    text=$(sed -n '/^$/,$p' "$f" | head -c 600 | tr -d "\000'") || true
    "$varnox" rules add --root "$vroot" --sender '' --message "$text" >/dev/null 2>&1 || true
  else
    from=$(grep -m1 -i '^From:' "$f" | grep -o '[^<> ]*@[^<> ]*' | head -n 1 | tr -d "'") || true
    [ -n "$from" ] || continue
    "$varnox" rules add --root "$vroot" --by-sender --sender "$from" --message '' >/dev/null 2>&1 || true
  fi
done < <(awk 'NR % 5 == 0' "$work/all.txt")
echo "rules: $("$varnox" rules --root "$vroot" | wc -l)"

t0=$(seconds)
xargs "$varnox" check --root "$vroot" <"$work/all.txt" >"$work/check.txt" || true
t1=$(seconds)
check=$(rate "$n" "$t0" "$t1")

store="$vroot/Mail/Corpus"
mkdir -p "$store/new" "$store/tmp" "$store/cur"
k=0
while read -r f; do k=$((k + 1)); cp "$f" "$store/cur/$k.corpus:2,S"; done <"$work/all.txt"
t0=$(seconds)
/usr/bin/time -f '%M' -o "$work/rss.txt" "$varnox" scan --once --root "$vroot" >"$work/scan.txt" 2>/dev/null
t1=$(seconds)
scan=$(rate "$n" "$t0" "$t1")
rss=$(cat "$work/rss.txt")

printf '%-34s %10s %8s\n' "" "msgs/s" "ratio"
printf '%-34s %10s %8s\n' "bogofilter -b (classify only)" "$bogo" "1.00"
printf '%-34s %10s %8s\n' "varnox check, 512 rules" "$check" "$(python3 -c "print(f'{$check/$bogo:.2f}')")"
printf '%-34s %10s %8s\n' "varnox scan --once (log + file)" "$scan" "$(python3 -c "print(f'{$scan/$bogo:.2f}')")"
echo "scan: $(cat "$work/scan.txt")"
echo "peak resident memory of the scan: $((rss / 1024)) MB"
