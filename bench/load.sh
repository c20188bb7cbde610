#!/usr/bin/env bash
# The program under load, offline (not in CI):
#  1. a root with 512 rules and the SpamAssassin corpus as a Maildir store
#     (spread over the last 14 days and logged beforehand by `scan --once`),
#     plus half the corpus again, made distinct, as new mail for the
#     program's own scan;
#  2. `varnox --listen 127.0.0.1:0` on it, and while its scan works, 200
#     clients on loopback (bench/load_client.cpp: the model, the page and its
#     assets, selections, day changes; every tenth holds an event stream) for
#     60 s: requests, errors (any answer not 2xx, except 409, which the
#     window gives while a dialog is open), p50/p99/max latency;
#  3. a soak: new mail delivered every 5 s, a re-check (`varnox recheck`
#     through the running program) every minute and 20 clients' traffic,
#     with the program's resident memory sampled every 10 s: start, value
#     after the first minute (warm-up), end, max and slope. Flat means the
#     end within 10% of the warm-up value.
# Fails on any error, a p99 over --p99-limit-ms, or memory that is not flat.
# Usage: bench/load.sh [BUILD] [--seconds N] [--soak-minutes M] [--p99-limit-ms L]
#   BUILD default build/release; N default 60; M default 10 (0: no soak); L default 1000
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
seconds=60
soak_minutes=10
p99_limit=1000
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --soak-minutes) soak_minutes=$2; shift 2 ;;
    --p99-limit-ms) p99_limit=$2; shift 2 ;;
    -*) echo "usage: $0 [BUILD] [--seconds N] [--soak-minutes M] [--p99-limit-ms L]" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
fail() {
  echo "FAILED: $*"
  exit 1
}

# shellcheck source=bench/corpus_root.sh
. "$root/bench/corpus_root.sh"
bench_setup "$root" "$build" varnox varnox_load_client
varnox="$build/bin/varnox"
client="$build/bin/varnox_load_client"

work=$(mktemp -d)
pid=""
soak_client=""
cleanup() {
  [ -n "$soak_client" ] && kill "$soak_client" 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

find "$corpus" -name '*.txt' | sort >"$work/all.txt"
n=$(wc -l <"$work/all.txt")
vroot="$work/root"
store="$vroot/Mail/Corpus"
echo "== root: 512 rules, $n corpus messages over 14 days, logged by scan --once"
add_rules "$varnox" "$vroot" "$work/all.txt"
[ "$("$varnox" rules --root "$vroot" | wc -l)" -eq 512 ] || fail "fewer than 512 rules"
fill_store "$store" "$work/all.txt" 14
"$varnox" scan --once --root "$vroot" >/dev/null 2>&1 || fail "scan --once"

# deliver FIRST COUNT: COUNT corpus messages into new/, each with its number
# appended so that none is a copy of a logged one; mtime now (today).
deliver() {
  local k=$1 count=$2 f
  while [ "$count" -gt 0 ]; do
    f=$(sed -n "$((k % n + 1))p" "$work/all.txt")
    { cat "$f"; printf '\nDelivery %d\n' "$k"; } >"$store/tmp/$k.load"
    mv "$store/tmp/$k.load" "$store/new/$k.load"
    k=$((k + 1))
    count=$((count - 1))
  done
}
k=0
awk 'NR % 2' "$work/all.txt" | while read -r f; do
  k=$((k + 1))
  { cat "$f"; printf '\nDelivery %d\n' "$k"; } >"$store/new/$k.load"
done
fresh=$(find "$store/new" -type f | wc -l)
echo "== store: $fresh more messages in new/ for the program's scan"

"$varnox" --root "$vroot" --listen 127.0.0.1:0 >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
for _ in $(seq 300); do
  grep -q '^Varnox: http' "$work/out.txt" && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(tail -n 3 "$work/err.txt")"
  sleep 0.1
done
line=$(grep -m1 '^Varnox: http' "$work/out.txt") || fail "no address line"
address=${line#*http://}
host=${address%%:*}
port=${address#*:}
port=${port%%/*}
token=${line##*token=}
echo "== program: pid $pid at $host:$port"

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null; }
logged() { "$varnox" log --root "$vroot" --day 0 --spam --normal 2>/dev/null | wc -l; }

echo "== load: 200 clients for $seconds s while the scan works"
before=$(logged)
"$client" "$host" "$port" "$token" --clients 200 --seconds "$seconds" | tee "$work/load.txt"
load_rc=${PIPESTATUS[0]}
after=$(logged)
kill -0 "$pid" 2>/dev/null || fail "the program ended under load"
echo "scan meanwhile: $((after - before)) messages logged, $(find "$store/new" -type f | wc -l) still in new/"
echo "resident memory after the load: $(($(rss) / 1024)) MB"
summary=$(grep '^summary:' "$work/load.txt")
p99=$(sed -E 's/.* p99=([0-9.]+).*/\1/' <<<"$summary")
# Both parts run; what failed is said at the end.
problems=()
[ "$load_rc" -eq 0 ] || problems+=("errors under load")
awk -v p="$p99" -v l="$p99_limit" 'BEGIN { exit !(p <= l) }' ||
  problems+=("p99 latency under load $p99 ms over $p99_limit ms")

if [ "$soak_minutes" -gt 0 ]; then
  echo "== soak: $soak_minutes min of deliveries (10 every 5 s), re-checks (every 60 s), 20 clients"
  "$client" "$host" "$port" "$token" --clients 20 --think-ms 500 \
    --seconds $((soak_minutes * 60)) >"$work/soak-load.txt" &
  soak_client=$!
  start=$(date +%s)
  end=$((start + soak_minutes * 60))
  next=$((n * 2))
  : >"$work/rss.txt"
  rechecks=0
  recheck_fail=0
  tick=0
  while [ "$(date +%s)" -lt "$end" ]; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended during the soak"
    now=$(date +%s)
    if [ $((tick % 2)) -eq 0 ]; then
      echo "$((now - start)) $(rss)" >>"$work/rss.txt"
      [ $((tick % 12)) -eq 0 ] && echo "  $((now - start)) s: $(($(rss) / 1024)) MB"
    fi
    deliver "$next" 10
    next=$((next + 10))
    if [ $((tick % 12)) -eq 6 ]; then
      if "$varnox" recheck --root "$vroot" >/dev/null 2>"$work/recheck.txt"; then
        rechecks=$((rechecks + 1))
      else
        recheck_fail=$((recheck_fail + 1))
        echo "  recheck failed: $(head -n 1 "$work/recheck.txt")"
      fi
    fi
    tick=$((tick + 1))
    sleep $((start + tick * 5 - $(date +%s) > 0 ? start + tick * 5 - $(date +%s) : 0))
  done
  echo "$(($(date +%s) - start)) $(rss)" >>"$work/rss.txt"
  wait "$soak_client"
  soak_rc=$?
  soak_client=""
  grep -E '^(all|summary|error|409)' "$work/soak-load.txt"
  echo "soak: $((next - n * 2)) messages delivered, $rechecks re-checks ($recheck_fail failed)"
  # start, value after warm-up (first sample at or after 60 s), end, max,
  # least-squares slope after warm-up; flat within 10%.
  awk '
    { t[NR] = $1; v[NR] = $2 / 1024; if ($2 / 1024 > max) max = $2 / 1024
      if (w == 0 && $1 >= 60) w = NR }
    END {
      if (w == 0) w = NR
      for (i = w; i <= NR; i++) { n++; st += t[i]; sv += v[i]; stt += t[i] * t[i]; stv += t[i] * v[i] }
      slope = (n > 1 && n * stt - st * st > 0) ? (n * stv - st * sv) / (n * stt - st * st) * 60 : 0
      flat = (v[NR] <= v[w] * 1.1 && v[NR] >= v[w] * 0.9) ? "yes" : "no"
      printf "%-10s %8s %8s %8s %8s %14s %6s\n", "RSS (MB)", "start", "warm-up", "end", "max", "slope MB/min", "flat"
      printf "%-10s %8.1f %8.1f %8.1f %8.1f %14.3f %6s\n", "varnox", v[1], v[w], v[NR], max, slope, flat
      exit flat == "yes" ? 0 : 3
    }' "$work/rss.txt"
  flat_rc=$?
  [ "$soak_rc" -eq 0 ] || problems+=("errors during the soak")
  [ "$recheck_fail" -eq 0 ] || problems+=("$recheck_fail re-checks failed")
  [ "$flat_rc" -eq 0 ] || problems+=("memory not flat during the soak")
fi
echo "load: $summary"
[ ${#problems[@]} -eq 0 ] || fail "$(IFS=';'; echo "${problems[*]}")"
echo ok
