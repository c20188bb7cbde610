#!/usr/bin/env bash
# Fault tests: runs the varnox program of a build through the faults a user's
# machine throws at it, each on a Maildir root of a few hundred corpus
# messages with rules that mark part of them spam, and checks that each ends
# in a clear message and, once the fault is gone, in a working program with
# no message lost, duplicated or changed and every log consistent:
#   kill       SIGKILL at random moments of `scan --once`, `recheck` and the
#              window program's scan (seeded; VARNOX_FAULT_SEED repeats a run)
#   lock       a log and the rules database held by another process for 10 s
#   readonly   the data folder made read-only (run as user 65534)
#   full       a full disk (small tmpfs where mounting is allowed) and a
#              file-size limit (ulimit -f with SIGXFSZ ignored)
#   garbage    a message log replaced by random bytes
#   spool      the SMS spool removed while the window program runs
# Usage: run.sh BUILD_DIR [--long]   (--long: 100 kills instead of 10)
#   VARNOX_FAULTS="kill lock ..."  runs only these faults
#   VARNOX_FAULT_KEEP=1            keeps the work folder for a look afterwards
# Needs root (mount, setpriv; skipped without it unless CI is set), sqlite3
# and the corpus the build was made with.
set -uo pipefail

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [--long]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
vx=$build/bin/varnox
kills=$([ "${2:-}" = --long ] && echo 100 || echo 10)
seed=${VARNOX_FAULT_SEED:-$((($(date +%s) * 7919 + $$) % 32768))}
RANDOM=$seed
started=$(date +%s)

corpus=$(sed -n 's/^VARNOX_CORPUS_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
[ -d "$corpus" ] || corpus=$(dirname "$build")/corpus/package/data
for need in "$vx" "$corpus"; do [ -e "$need" ] || { echo "FAILED: $need is missing"; exit 1; }; done
for tool in sqlite3 setpriv sha256sum timeout; do
  command -v "$tool" >/dev/null || { echo "FAILED: no $tool (scripts/deps.sh test)"; exit 1; }; done
if [ "$(id -u)" -ne 0 ]; then
  # CI runs as root; elsewhere a user's test run skips what it cannot do.
  [ -n "${CI:-}" ] && { echo "FAILED: run as root (mount, setpriv)"; exit 1; }
  echo "== faults: skipped: needs root (mount, setpriv); run it with sudo"
  exit 0
fi

work=$(mktemp -d /tmp/varnox-faults.XXXXXX)
chmod 755 "$work"  # user 65534 walks through it
pids=()
mounts=()
cleanup() {
  local p m
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
  if [ "${VARNOX_FAULT_KEEP:-0}" = 1 ]; then echo "== faults: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# wanted NAME: whether the fault NAME is to run.
wanted() { [ -z "${VARNOX_FAULTS:-}" ] || [[ " $VARNOX_FAULTS " == *" $1 "* ]]; }

failures=()
fault=""
fail() {  # fail REASON: the current fault fails, the script goes on
  echo "== faults: $fault: FAILED: $*"
  failures+=("$fault: $*")
}
note() { echo "== faults: $fault: $*"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# contains FILE TEXT: whether FILE holds TEXT (fixed string).
contains() { grep -qF -- "$2" "$1"; }
expect_text() {  # expect_text FILE TEXT WHAT
  contains "$1" "$2" || { fail "$3: no \"$2\" in: $(head -c 600 "$1" | tr "\n" "|")"; return 1; }
}

# --- The messages: corpus files without CR or NUL bytes and ending in a
# newline, so that their log fingerprint (MD4 of the text with CR LF line
# ends) can be computed here; distinct contents, so one row each.
echo "== faults: seed $seed (VARNOX_FAULT_SEED=$seed repeats this run)"
delivered=$work/delivered  # delivered/<store>/<name>; the list: store sha md4
mkdir -p "$delivered/Home" "$delivered/Work"
: >"$work/delivered.txt"
count=0
declare -A seen=()
for f in $(ls "$corpus"/spam-1/*.txt | head -n 200) $(ls "$corpus"/easy-ham-1/*.txt | head -n 200); do
  [ $count -ge 320 ] && break
  [ "$(tail -c 1 "$f" | od -An -c | tr -d ' ')" = '\n' ] || continue
  LC_ALL=C grep -q $'\r' "$f" && continue
  [ "$(tr -d '\000' <"$f" | wc -c)" -eq "$(wc -c <"$f")" ] || continue
  sha=$(sha256sum <"$f" | cut -c1-64)
  [ -n "${seen[$sha]:-}" ] && continue
  seen[$sha]=1
  store=Home
  [ $((count % 2)) -eq 1 ] && store=Work
  # Spread over a few days, as mail arrives.
  name=$((1600000000 + count)).M${count}P1.faults
  cp "$f" "$delivered/$store/$name"
  touch -d "@$(($(date +%s) - (count % 5) * 86400))" "$delivered/$store/$name"
  md4=$(sed 's/$/\r/' "$f" | "$vx" fingerprint)
  echo "$store $sha $md4 $name" >>"$work/delivered.txt"
  count=$((count + 1))
done
[ "$count" -ge 200 ] || { echo "FAILED: only $count usable corpus messages in $corpus"; exit 1; }
echo "== faults: $count messages in two stores"

# deliver ROOT [half|rest|all]: copies the messages into the stores' new/.
# half: every other one; rest: the others.
# STORES (default "Home Work"): only these stores are made and delivered to.
deliver() {
  local root=$1 part=${2:-all} stores=${3:-Home Work} i=0 store sha md4 name s
  for s in $stores; do mkdir -p "$root/Mail/$s"/{new,cur,tmp}; done
  while read -r store sha md4 name; do
    i=$((i + 1))
    [[ " $stores " == *" $store "* ]] || continue
    if [ "$part" = half ] && [ $((i % 2)) -eq 0 ]; then continue; fi
    if [ "$part" = rest ] && [ $((i % 2)) -eq 1 ]; then continue; fi
    cp -p "$delivered/$store/$name" "$root/Mail/$store/new/$name"
  done <"$work/delivered.txt"
}

# A root with the rules that mark part of the messages spam: two sender rules
# and a message rule from one spam message's words.
rule_text=$(sed -n '/^$/,$p' "$delivered/Home/$(awk '$1 == "Home" {print $4; exit}' "$work/delivered.txt")" |
  tr -cs 'A-Za-z' ' ' | cut -c1-400)
new_root() {  # new_root ROOT
  mkdir -p "$1"
  "$vx" rules add --root "$1" --by-sender --sender .com --message '' >/dev/null &&
    "$vx" rules add --root "$1" --by-sender --sender '@yahoo' --message '' >/dev/null &&
    "$vx" rules add --root "$1" --sender '' --message "$rule_text" --certainty 40 >/dev/null
}
# The rule added before each re-check: it makes more messages spam.
add_second_rule() { "$vx" rules add --root "$1" --by-sender --sender .net --message '' >/dev/null; }

# state ROOT OUT: what the root holds, as sorted text: OUT.files (store,
# place, sha, md4 of every message file), OUT.rows (store, fingerprint,
# status of every log row); OUT.bad lists what is inconsistent.
state() {
  local root=$1 out=$2 store f db r
  : >"$out.bad"
  # Home/new/x, Work/.Spam/cur/y, ...: the messages of the inboxes and .Spam.
  (cd "$root/Mail" && find Home Work \( -path '*/new/*' -o -path '*/cur/*' \) -type f 2>/dev/null) |
    while read -r f; do
      [[ $f == */.Spam/* ]] && store="${f%%/*} spam" || store="${f%%/*} inbox"
      echo "$store $(sha256sum <"$root/Mail/$f" | cut -c1-64)"
    done | sort >"$out.files.raw"
  # Each file's fingerprint, from the delivered list.
  awk 'NR == FNR {md4[$2] = $3; next} {print $0, ($3 in md4 ? md4[$3] : "unknown")}' \
    "$work/delivered.txt" "$out.files.raw" >"$out.files"
  for db in "$root"/Varnox/dba/*.db; do
    [ -e "$db" ] || continue
    # Read-only: a closing reader would checkpoint and delete the WAL, which
    # changes what it looks at (and on a full disk may free the room the
    # next reader's files then lack).
    r=$(sqlite3 -readonly "$db" 'PRAGMA integrity_check;' 2>&1)
    [ "$r" = ok ] || echo "integrity of $(basename "$db"): $r" >>"$out.bad"
  done
  for store in Home Work; do
    db=$root/Varnox/dba/$store.db
    [ -e "$db" ] || continue
    sqlite3 -readonly -separator ' ' "$db" 'SELECT Hash, Status FROM Msg;' 2>>"$out.bad" |
      sed "s/^/$store /"
  done | sort >"$out.rows"
}

# verify ROOT REF WHAT: no message lost, duplicated or changed (the files by
# content equal the delivered set, store by store), one row per message file
# with Status 1 exactly for the files in .Spam, logs intact, and the same
# files and rows as the never-disturbed reference REF.
verify() {
  local root=$1 ref=$2 what=$3 s=$work/verify
  state "$root" "$s"
  [ -s "$s.bad" ] && { fail "$what: $(tr '\n' ' ' <"$s.bad")"; return 1; }
  intact "$s" "$what" || return 1
  awk '{print $1, $4, ($2 == "spam" ? 1 : 0)}' "$s.files" | sort >"$s.expected"
  if ! cmp -s "$s.expected" "$s.rows"; then
    fail "$what: log rows do not match the files: $(diff "$s.expected" "$s.rows" | grep '^[<>]' | head -n 3 | tr '\n' ' ')"
    return 1
  fi
  if ! cmp -s "$ref.rows" "$s.rows" || ! cmp -s "$ref.files" "$s.files"; then
    fail "$what: verdicts differ from the reference run: $(diff "$ref.rows" "$s.rows" | grep -c '^[<>]') rows"
    return 1
  fi
  return 0
}

# intact STATE WHAT: the message files of the state STATE (see state) are the
# delivered ones, by content: nothing lost, duplicated or changed.
intact() {
  awk '{print $1, $2}' "$work/delivered.txt" | sort |
    cmp -s - <(awk '{print $1, $3}' "$1.files" | sort) || { fail "$2: message files changed"; return 1; }
}

# told_once ERRFILE WHAT [MAX]: each failing log is told once (at most MAX
# times), not per message.
told_once() {
  local worst
  worst=$(grep -o '([^()]*) cannot be used' "$1" | sort | uniq -c | sort -rn | head -n 1)
  [ -z "$worst" ] || [ "$(awk '{print $1}' <<<"$worst")" -le "${3:-1}" ] ||
    { fail "$2: told more than ${3:-1} times: $worst"; return 1; }
}

# refused WHAT NAME CMD...: CMD must end with status 1, its output in
# $work/NAME.out and $work/NAME.err; what it says first is noted.
refused() {
  local what=$1 name=$2
  shift 2
  "$@" >"$work/$name.out" 2>"$work/$name.err"
  local rc=$?
  note "$what: status $rc: $(grep varnox: "$work/$name.err" | head -n 2 | tr '\n' '|')"
  [ $rc -eq 1 ] || fail "$what: status $rc, not 1"
}

# run_ok WHAT CMD...: CMD must end with status 0.
run_ok() {
  local what=$1
  shift
  "$@" >"$work/ok.out" 2>"$work/ok.err"
  local rc=$?
  [ $rc -eq 0 ] || { fail "$what: status $rc: $(head -c 400 "$work/ok.err" | tr '\n' '|')"; return 1; }
}

# --- References, never disturbed: all mail scanned (refA), then the second
# rule added, re-checked and scanned again (refB). half: half the mail
# scanned, the rest delivered since.
fault=reference
ref=$work/ref
new_root "$ref/seed" || { echo "FAILED: cannot add the rules"; exit 1; }
deliver "$ref/seed"
cp -a "$ref/seed" "$ref/a"
t0=$(now_ms)
run_ok "scan --once" "$vx" scan --once --root "$ref/a" || exit 1
scan_ms=$(($(now_ms) - t0))
state "$ref/a" "$ref/A"
cp -a "$ref/a" "$ref/b0"
add_second_rule "$ref/b0"
cp -a "$ref/b0" "$ref/b"
t0=$(now_ms)
run_ok recheck "$vx" recheck --root "$ref/b" || exit 1
recheck_ms=$(($(now_ms) - t0))
run_ok "scan --once after the re-check" "$vx" scan --once --root "$ref/b" || exit 1
state "$ref/b" "$ref/B"
mkdir -p "$ref/half"
new_root "$ref/half"
deliver "$ref/half" half
run_ok "scan --once of half" "$vx" scan --once --root "$ref/half" || exit 1
cp -a "$ref/half" "$ref/half0"
deliver "$ref/half" rest
spam_a=$(grep -c ' spam ' "$ref/A.files")
spam_b=$(grep -c ' spam ' "$ref/B.files")
echo "== faults: reference: scan ${scan_ms} ms, recheck ${recheck_ms} ms, spam $spam_a then $spam_b of $count"
if [ "$spam_a" -eq 0 ] || [ "$spam_a" -ge "$count" ] || [ "$spam_b" -le "$spam_a" ]; then
  echo "FAILED: the rules should mark part of the messages spam, and the second rule more"
  exit 1
fi
verify "$ref/a" "$ref/A" "reference" || exit 1

# --- Helpers for the window program.
window_pid=""
# start_window ROOT LOG [PREFIX] [-- ARGS...]: starts it (after the command
# PREFIX, if any), waits for its address line. Its pauses are cut to 1/100.
start_window() {
  local root=$1 log=$2 prefix=()
  shift 2
  while [ $# -gt 0 ] && [ "$1" != -- ]; do prefix+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  VARNOX_PAUSE_SCALE=0.01 "${prefix[@]}" "$vx" --listen 127.0.0.1:0 --root "$root" "$@" \
    >"$log.out" 2>"$log.err" &
  window_pid=$!
  pids+=("$window_pid")
  local i
  for i in $(seq 100); do
    grep -q '^Varnox: http' "$log.out" 2>/dev/null && return 0
    kill -0 "$window_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# http_get ADDRESS: the response head of GET ADDRESS.
http_get() {
  local hostport=${1#http://}
  timeout 5 bash -c 'exec 3<>"/dev/tcp/${1%:*}/${1##*:}" &&
    printf "GET /%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" "${2#*/}" "$1" >&3 &&
    sed -e "s/\r\$//" -e "/^\$/q" <&3' _ "${hostport%%/*}" "$hostport"
}
stop_window() {
  [ -n "$window_pid" ] || return 0
  kill -TERM "$window_pid" 2>/dev/null
  local i
  for i in $(seq 50); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$window_pid" 2>/dev/null
  wait "$window_pid" 2>/dev/null
  window_pid=""
}
# wait_logged ROOT SECONDS [PREFIX...]: waits until every delivered message
# is logged in ROOT, reading the logs as PREFIX's user (so that no file of
# the data folder comes to belong to another user).
wait_logged() {
  local root=$1 limit=$2 i n
  shift 2
  for i in $(seq $((limit * 10))); do
    n=$(for db in "$root"/Varnox/dba/{Home,Work}.db; do
      "$@" sqlite3 "$db" 'SELECT count(*) FROM Msg;' 2>/dev/null
    done | awk '{s += $1} END {print s + 0}')
    [ "$n" -ge "$count" ] && return 0
    sleep 0.1
  done
  return 1
}

# --- 1. SIGKILL at random moments.
fault_kill() {
  fault=kill
  # kill_after MS CMD...: starts CMD, kills it with SIGKILL after MS ms;
  # prints "done" when it ended by itself first.
  kill_after() {
    local ms=$1
    shift
    "$@" >/dev/null 2>>"$work/kill.err" &
    local pid=$!
    pids+=("$pid")
    sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
    if kill -9 "$pid" 2>/dev/null; then wait "$pid" 2>/dev/null; else wait "$pid"; echo -n "(ended)"; fi
  }
  kill_ok=0
  window_ms=$((scan_ms * 20 + 1500))
  for i in $(seq "$kills"); do
    r=$work/kill$i
    kind=$((i % 3))
    moments=""
    case $kind in
      1)  # scan --once, killed one to three times, then run to its end
        cp -a "$ref/seed" "$r"
        for k in $(seq $((1 + RANDOM % 3))); do
          ms=$((RANDOM % (scan_ms + 20)))
          moments+=" ${ms}ms$(kill_after "$ms" "$vx" scan --once --root "$r")"
        done
        run_ok "kill $i: scan --once after the kills" "$vx" scan --once --root "$r" &&
          verify "$r" "$ref/A" "kill $i (scan at$moments)" && kill_ok=$((kill_ok + 1))
        ;;
      2)  # recheck after the second rule, killed, then a scan killed too
        cp -a "$ref/b0" "$r"
        for k in $(seq $((1 + RANDOM % 2))); do
          ms=$((RANDOM % (recheck_ms + 20)))
          moments+=" recheck ${ms}ms$(kill_after "$ms" "$vx" recheck --root "$r")"
        done
        ms=$((RANDOM % (scan_ms + 20)))
        moments+=" scan ${ms}ms$(kill_after "$ms" "$vx" scan --once --root "$r")"
        run_ok "kill $i: recheck after the kills" "$vx" recheck --root "$r" &&
          run_ok "kill $i: scan --once after the re-check" "$vx" scan --once --root "$r" &&
          verify "$r" "$ref/B" "kill $i (at$moments)" && kill_ok=$((kill_ok + 1))
        ;;
      0)  # the window program's scan (pauses scaled down), then scan --once
        cp -a "$ref/seed" "$r"
        ms=$((RANDOM % window_ms))
        moments=" window ${ms}ms$(VARNOX_PAUSE_SCALE=0.01 kill_after "$ms" "$vx" --listen 127.0.0.1:0 --root "$r")"
        run_ok "kill $i: scan --once after the kill" "$vx" scan --once --root "$r" &&
          verify "$r" "$ref/A" "kill $i (at$moments)" && kill_ok=$((kill_ok + 1))
        ;;
    esac
    [ $((i % 10)) -eq 0 ] || [ "$kills" -le 10 ] && note "$i:$moments"
    rm -rf "$r"
  done
  [ "$kill_ok" -eq "$kills" ] && echo "== faults: kill: ok ($kills kills, $count messages)"
}

# --- 2. A database locked by another process for 10 seconds.
fault_lock() {
  fault=lock
  # hold_lock DB SECONDS: another process holds an exclusive transaction.
  hold_lock() {
    local db=$1 seconds=$2
    # The rules are only read: for them, exclusive locking mode keeps readers
    # out too, not only writers.
    local mode=''
    [ "$(basename "$db")" = Rules_0.db ] && mode='PRAGMA locking_mode=EXCLUSIVE;'
    { printf '%s\nBEGIN EXCLUSIVE;\nSELECT '"'"'locked'"'"';\n' "$mode"
      sleep "$seconds"
      printf 'COMMIT;\n'; } |
      sqlite3 -cmd '.timeout 3000' "$db" >"$work/lock.out" 2>&1 &
    lock_pid=$!
    pids+=("$lock_pid")
    local i
    for i in $(seq 50); do contains "$work/lock.out" locked && return 0; sleep 0.1; done
    return 1
  }
  local failed=${#failures[@]}
  # Work.db: the store Work has mail to log in $ref/half, Home has none.
  for target in Work.db Rules_0.db; do
    r=$work/lock-${target%.db}
    cp -a "$ref/half" "$r"
    hold_lock "$r/Varnox/dba/$target" 10 || { fail "the lock on $target was not taken"; continue; }
    t0=$(now_ms)
    "$vx" scan --once --root "$r" >"$work/lock.scan.out" 2>"$work/lock.scan.err"
    rc=$?
    took=$(($(now_ms) - t0))
    note "$target locked: status $rc after $took ms: $(grep varnox: "$work/lock.scan.err" | head -n 2 | tr '\n' '|')"
    # Each statement waits 5 s for a lock: the rules' load may outlast the
    # 10 s and succeed; a write to the log may not.
    if [ $rc -ne 0 ] || [ "$target" = Work.db ]; then
      [ $rc -eq 1 ] || fail "$target locked: status $rc, not 1"
      expect_text "$work/lock.scan.err" "$r/Varnox/dba/$target" "$target locked"
      expect_text "$work/lock.scan.err" "database is locked" "$target locked"
    fi
    # Nothing lost meanwhile: every message file is there.
    state "$r" "$work/lock.mid"
    intact "$work/lock.mid" "$target locked"
    # The other store went on beside the locked log.
    [ "$target" = Rules_0.db ] || grep '^Home ' "$ref/A.rows" | cmp -s - <(grep '^Home ' "$work/lock.mid.rows") ||
      fail "Work.db locked: the store Home was not logged in full"
    wait "$lock_pid"
    run_ok "$target released: scan --once" "$vx" scan --once --root "$r" &&
      verify "$r" "$ref/A" "$target released"
    rm -rf "$r"
  done
  [ ${#failures[@]} -eq "$failed" ] && echo "== faults: lock: ok"
}

# --- 3. A data folder that turns read-only (user 65534: root ignores modes).
fault_readonly() {
  fault=readonly
  nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  local failed=${#failures[@]}
  # Before a scan: `scan --once` on a data folder that is read-only already.
  r=$work/ro-before
  cp -a "$ref/half" "$r"
  chown -R 65534:65534 "$r"
  dba=$r/Varnox/dba
  chmod -R a-w "$dba"
  refused "scan --once" ro "${nobody[@]}" "$vx" scan --once --root "$r"
  expect_text "$work/ro.err" "$dba/" "scan --once"
  expect_text "$work/ro.err" "readonly database" "scan --once"
  told_once "$work/ro.err" "scan --once"
  chmod -R u+w "$dba"
  run_ok "writable again: scan --once" "${nobody[@]}" "$vx" scan --once --root "$r" &&
    verify "$r" "$ref/A" "writable again"
  rm -rf "$r"
  # While the window program runs: a running program keeps the logs it has
  # open writable (an open file keeps its mode), so the fault shows when a
  # log is opened. The program (re)starts on a root whose store Home is
  # logged, Work's log empty, and the folder read-only; the mail of Work
  # waits, is told, and the same program logs it once the folder can be
  # written again.
  r=$work/ro-running
  new_root "$r"
  deliver "$r" all Home
  mkdir -p "$r/Mail/Work"/{new,cur,tmp}
  run_ok "scan --once of Home" "$vx" scan --once --root "$r"
  deliver "$r" all Work
  chown -R 65534:65534 "$r"
  dba=$r/Varnox/dba
  chmod -R a-w "$dba"
  start_window "$r" "$work/ro-win" "${nobody[@]}" || fail "the window program did not start"
  for i in $(seq 100); do contains "$work/ro-win.err" "$dba/Work.db" && break; sleep 0.1; done
  note "window: $(grep varnox: "$work/ro-win.err" | head -n 2 | tr '\n' '|')"
  expect_text "$work/ro-win.err" "$dba/Work.db) cannot be used" "window"
  told_once "$work/ro-win.err" "window"
  chmod -R u+w "$dba"
  wait_logged "$r" 20 "${nobody[@]}" || fail "window: the rest of the mail was not logged once writable again"
  kill -0 "$window_pid" 2>/dev/null || fail "window: the program ended"
  stop_window
  verify "$r" "$ref/A" "window, writable again"
  rm -rf "$r"
  [ ${#failures[@]} -eq "$failed" ] && echo "== faults: readonly: ok"
}

# --- 4. A full disk.
fault_full() {
  fault=full
  local failed=${#failures[@]}
  full_case() {  # full_case WHAT ROOT CMD-PREFIX...: the scan under the limit
    local what=$1 r=$2
    shift 2
    refused "$what" full "$@" "$vx" scan --once --root "$r"
    expect_text "$work/full.err" "$r/Varnox/dba/" "$what"
    # Under a file-size limit a small message may still fit where a large one
    # did not: the log works again in between, and the next failure is told;
    # never once per message.
    told_once "$work/full.err" "$what" "$told_max"
    state "$r" "$work/full.mid"
    [ -s "$work/full.mid.bad" ] && fail "$what: $(tr '\n' ' ' <"$work/full.mid.bad")"
    intact "$work/full.mid" "$what"
  }
  mkdir -p "$work/tmpfs"
  if mount -t tmpfs -o size=16m tmpfs "$work/tmpfs" 2>/dev/null; then
    mounts+=("$work/tmpfs")
    # The data on the tmpfs, the mail beside it: a filler file takes the room
    # that is left.
    r=$work/tmpfs/root
    mkdir -p "$r" "$work/full-mail"
    cp -a "$ref/half/Varnox" "$r/"
    cp -a "$ref/half/Mail/." "$work/full-mail/"
    ln -s "$work/full-mail" "$r/Mail"
    head -c 100M /dev/zero >"$work/tmpfs/filler" 2>/dev/null
    told_max=1 full_case "tmpfs full" "$r" env
    rm -f "$work/tmpfs/filler"
    run_ok "tmpfs with room again: scan --once" "$vx" scan --once --root "$r" &&
      verify "$r" "$ref/A" "tmpfs with room again"
  else
    note "tmpfs cannot be mounted here; the file-size limit only"
  fi
  r=$work/full-ulimit
  cp -a "$ref/half" "$r"
  # Below the size the logs' write-ahead files have reached: their next
  # append fails, while the rules and the SMS log stay within it.
  limit_kb=1024
  size_limited() { (ulimit -f "$limit_kb" && trap '' XFSZ && exec "$@"); }
  told_max=$((count / 10)) full_case "file size limit ${limit_kb} KiB" "$r" size_limited
  run_ok "no size limit: scan --once" "$vx" scan --once --root "$r" &&
    verify "$r" "$ref/A" "no size limit"
  [ ${#failures[@]} -eq "$failed" ] && echo "== faults: full: ok"
}

# --- 5. A message log replaced by garbage between runs.
fault_garbage() {
  fault=garbage
  local failed=${#failures[@]}
  r=$work/garbage
  cp -a "$ref/half" "$r"
  log=$r/Varnox/dba/Home.db
  rm -f "$log-wal" "$log-shm"
  head -c 65536 /dev/urandom >"$log"
  refused scan garbage "$vx" scan --once --root "$r"
  expect_text "$work/garbage.err" "$log" "scan"
  expect_text "$work/garbage.err" "move it away" "scan"
  state "$r" "$work/garbage.mid"
  grep '^Work ' "$ref/A.rows" | cmp -s - <(grep '^Work ' "$work/garbage.mid.rows") ||
    fail "the store Work was not logged in full beside the broken log"
  intact "$work/garbage.mid" "scan"
  refused recheck garbage "$vx" recheck --root "$r"
  expect_text "$work/garbage.err" "$log" "recheck"
  contains "$work/garbage.out" "Work: " || fail "recheck did not go on with the log of Work"
  # The recovery the message asks for: the broken log moved away, a scan logs
  # every message of the inbox again; spam filed before stays filed.
  mv "$log" "$log.broken"
  rm -f "$log-wal" "$log-shm"
  run_ok "log moved away: scan --once" "$vx" scan --once --root "$r"
  state "$r" "$work/garbage.end"
  [ -s "$work/garbage.end.bad" ] && fail "after recovery: $(tr '\n' ' ' <"$work/garbage.end.bad")"
  cmp -s "$ref/A.files" "$work/garbage.end.files" || fail "after recovery: files differ from the reference"
  # Home's log: every inbox file as normal, every file filed by this scan as
  # spam, each with the reference's verdict.
  cmp -s <(awk '$1 == "Home" && $2 == "inbox" {print $1, $4, 0}' "$work/garbage.end.files" | sort) \
    <(awk '$1 == "Home" && $3 == 0' "$work/garbage.end.rows") || fail "after recovery: Home's inbox is not logged again"
  awk '$1 == "Home"' "$work/garbage.end.rows" | sort | comm -23 - <(sort "$ref/A.rows") | grep -q . &&
    fail "after recovery: Home's verdicts differ from the reference"
  rm -rf "$r"
  [ ${#failures[@]} -eq "$failed" ] && echo "== faults: garbage: ok"
}

# --- 6. The SMS spool removed while the window program runs.
fault_spool() {
  fault=spool
  local failed=${#failures[@]}
  r=$work/spool-root
  s=$work/spool
  cp -a "$ref/a" "$r"
  mkdir -p "$s/incoming" "$s/outgoing"
  if start_window "$r" "$work/win" -- --sms-spool "$s"; then
    address=$(sed -n 's/^Varnox: //p' "$work/win.out" | head -n 1)
    rm -rf "$s"
    sleep 3
    note "stderr: $(grep -F "$s" "$work/win.err" | head -n 2 | tr '\n' '|')"
    expect_text "$work/win.err" "$s" "spool removed"
    kill -0 "$window_pid" 2>/dev/null || fail "the program ended"
    # It answers, and its address (with the token it takes) is still the one in .ClassName.
    http_get "$address" | grep -q '^Set-Cookie: varnox_session=' || fail "GET $address: no session"
    [ "$address" = "$(head -n 1 "$r/.ClassName")" ] || fail "$r/.ClassName does not hold the address"
    mkdir -p "$s/incoming" "$s/outgoing"
    printf 'From: 491721234567\nAlphabet: ISO\n\nfault test text message\n' >"$s/incoming/GSM1.faults"
    for i in $(seq 100); do [ -e "$s/varnox-handled/GSM1.faults" ] && break; sleep 0.1; done
    [ -e "$s/varnox-handled/GSM1.faults" ] || fail "the SMS in the new spool was not handled"
    n=$(sqlite3 "$r/Varnox/dba/Spam_0.db" "SELECT count(*) FROM Spam WHERE Message LIKE '%fault test text message%';" 2>&1)
    [ "$n" = 1 ] || fail "the SMS is logged $n times, not once"
    stop_window
  else
    fail "the window program did not start: $(head -c 400 "$work/win.err")"
  fi
  [ ${#failures[@]} -eq "$failed" ] && echo "== faults: spool: ok"
}

ran=0
for name in kill lock readonly full garbage spool; do
  wanted "$name" || continue
  "fault_$name"
  ran=$((ran + 1))
done

took=$(($(date +%s) - started))
if [ ${#failures[@]} -eq 0 ]; then
  echo "== faults: all $ran faults ok in ${took} s (seed $seed, $kills kills)"
  echo ok
  exit 0
fi
echo "== faults: ${#failures[@]} failures in ${took} s (seed $seed)"
echo "FAILED: ${failures[0]}"
exit 1
