# shellcheck shell=bash
# Shared by bench/compare.sh and bench/load.sh (sourced, not run): their
# set-up, a device root with 512 rules drawn from the corpus, and the corpus
# as a Maildir store.

# bench_setup ROOT BUILD TARGET...: installs the bench packages, fetches the
# corpus (its folder in $corpus) and builds the TARGETs in BUILD (configured
# here when new); ends the script through its fail() on any failure.
bench_setup() {
  local root=$1 build=$2
  shift 2
  echo "== deps: bench packages"
  "$root/scripts/deps.sh" bench || fail "the packages could not be installed"
  "$root/scripts/fetch-corpus.sh" "$root/build/corpus" || fail "no corpus"
  corpus="$root/build/corpus/package/data"
  echo "== build: $* in $build"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVARNOX_CORPUS_DIR="$corpus" >/dev/null || fail "configure"
  fi
  cmake --build "$build" --target "$@" >/dev/null || fail "build"
}

# add_rules VARNOX ROOT LIST: message rules from the text of corpus messages
# and sender rules from the From addresses of others (every fifth file of
# LIST), until 512 distinct rules are stored.
add_rules() {
  local varnox=$1 root=$2 list=$3 i=0 f text from
  mkdir -p "$root"
  while read -r f; do
    if [ $((i % 16)) -eq 0 ] && [ "$("$varnox" rules --root "$root" | wc -l)" -ge 512 ]; then break; fi
    i=$((i + 1))
    if [ $((i % 2)) -eq 0 ]; then
      text=$(sed -n '/^$/,$p' "$f" | head -c 600 | tr -d "\000'") || true
      "$varnox" rules add --root "$root" --sender '' --message "$text" >/dev/null 2>&1 || true
    else
      from=$(grep -m1 -i '^From:' "$f" | grep -o '[^<> ]*@[^<> ]*' | head -n 1 | tr -d "'") || true
      [ -n "$from" ] || continue
      "$varnox" rules add --root "$root" --by-sender --sender "$from" --message '' >/dev/null 2>&1 || true
    fi
  done < <(awk 'NR % 5 == 0' "$list")
}

# fill_store STORE LIST [DAYS] [FIRST]: copies the files of LIST into the
# Maildir STORE's cur/ as read messages named FIRST, FIRST+1, ... (default 1);
# with DAYS, the delivery times (mtimes) go round the last DAYS days, so that
# the viewer has a full list on each of them.
fill_store() {
  local store=$1 list=$2 days=${3:-0} k=${4:-1} f now
  mkdir -p "$store/new" "$store/tmp" "$store/cur"
  now=$(date +%s)
  while read -r f; do
    cp "$f" "$store/cur/$k.corpus:2,S"
    if [ "$days" -gt 0 ]; then
      touch -d "@$((now - (k % days) * 86400))" "$store/cur/$k.corpus:2,S"
    fi
    k=$((k + 1))
  done <"$list"
}
