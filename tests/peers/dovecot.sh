#!/usr/bin/env bash
# The scan against a real Dovecot: starts its own Dovecot on 127.0.0.1 (own
# configuration, base, state and log folders in a temporary folder; nothing of
# /etc/dovecot is used) with one Maildir++ user, delivers 200 corpus messages
# and a few crafted ones, marks some read over IMAP, runs `varnox scan --once`
# as that user, and reads both folders back over IMAP: INBOX.Spam must hold
# exactly the messages logged as spam, flags, received dates and bodies must
# be unchanged, Dovecot's log clean, and a second scan must change nothing.
#   dovecot.sh BUILD_DIR [--install]
#     BUILD_DIR   a build folder with bin/varnox
#     --install   install Dovecot through scripts/deps.sh when it is missing
#                 (also done when CI is set); otherwise a missing Dovecot
#                 skips the test
# VARNOX_KEEP_TMP=1 keeps the temporary folder for a look afterwards.
# Needs root (as CI runs), since Dovecot gives mail only to an unprivileged
# user (here nobody) and the scan runs as that user; as another user the test
# skips, and fails when CI is set.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here="$root/tests/peers"
build=""
install=0
for arg in "$@"; do
  case $arg in
    --install) install=1 ;;
    -*) echo "usage: $0 BUILD_DIR [--install]" >&2; exit 2 ;;
    *) build=$arg ;;
  esac
done
[ -n "$build" ] || { echo "usage: $0 BUILD_DIR [--install]" >&2; exit 2; }
[ -n "${CI:-}" ] && install=1

say() { echo "== dovecot: $*"; }
die() {
  say "FAILED: $*"
  exit 1
}

varnox_bin="$build/bin/varnox"
[ -x "$varnox_bin" ] || die "$varnox_bin is missing (build first)"
lda=/usr/lib/dovecot/dovecot-lda
have_dovecot() { command -v dovecot >/dev/null && command -v doveadm >/dev/null && [ -x "$lda" ]; }
if ! have_dovecot; then
  if [ "$install" -eq 0 ]; then
    say "SKIPPED: dovecot-imapd is not installed (run with --install)"
    exit 0
  fi
  say "installing dovecot-imapd"
  "$root/scripts/deps.sh" peers || die "dovecot-imapd could not be installed"
  have_dovecot || die "dovecot-imapd is installed but dovecot, doveadm or $lda is missing"
fi
if [ "$(id -u)" -ne 0 ]; then
  [ -n "${CI:-}" ] && die "must run as root (the mail belongs to an unprivileged user)"
  say "SKIPPED: needs root, to run Dovecot and the scan as the mail's unprivileged user"
  exit 0
fi
command -v python3 >/dev/null || die "python3 is missing"
# The corpus the build folder was configured with, else the checkout's.
corpus=$(sed -n 's/^VARNOX_CORPUS_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
if [ ! -d "$corpus/spam-1" ]; then
  corpus="$root/build/corpus/package/data"
  "$root/scripts/fetch-corpus.sh" "$root/build/corpus" || die "no corpus in $corpus"
fi

started=$(date +%s)
user=vxuser
uid=$(id -u nobody) || die "no user nobody"
gid=$(id -g nobody)
tmp=$(mktemp -d /tmp/varnox-dovecot.XXXXXX) || die "no temporary folder"
conf="$tmp/dovecot.conf"
cleanup() {
  if [ -f "$tmp/run/master.pid" ]; then
    doveadm -c "$conf" stop >/dev/null 2>&1 || kill "$(cat "$tmp/run/master.pid")" 2>/dev/null
  fi
  if [ -n "${VARNOX_KEEP_TMP:-}" ]; then echo "== dovecot: kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT
# The unprivileged user must reach its home, the device root and the copy
# of the program (a checkout under /root is closed to it).
chmod 0755 "$tmp"
home="$tmp/home"
vroot="$tmp/root"
mkdir -p "$home" "$vroot/Mail" "$tmp/bin" "$tmp/run" "$tmp/state"
cp "$varnox_bin" "$tmp/bin/varnox"
ln -s "$home/Maildir" "$vroot/Mail/Inbox"
chown -R "$uid:$gid" "$home" "$vroot"
# Both log files exist beforehand and take everyone's lines: the delivery
# agent writes them after dropping to the user.
touch "$tmp/dovecot.log" "$tmp/dovecot-info.log"
chmod 0666 "$tmp/dovecot.log" "$tmp/dovecot-info.log"
free_port='import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
port=$(python3 -c "$free_port") || die "no free port"
echo "$user:{PLAIN}vxpass:$uid:$gid::$home::" >"$tmp/passwd"
cat >"$conf" <<EOF
base_dir = $tmp/run
state_dir = $tmp/state
log_path = $tmp/dovecot.log
info_log_path = $tmp/dovecot-info.log
debug_log_path = $tmp/dovecot-info.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
mail_location = maildir:~/Maildir
first_valid_uid = $uid
last_valid_uid = $uid
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $tmp/passwd
}
userdb {
  driver = passwd-file
  args = username_format=%u $tmp/passwd
}
# Maildir++ as Courier showed it: the folder .Spam is INBOX.Spam.
namespace inbox {
  inbox = yes
  prefix = INBOX.
  separator = .
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $port
  }
}
EOF

say "starting Dovecot $(dovecot --version | cut -d' ' -f1) on 127.0.0.1:$port"
dovecot -c "$conf" || die "Dovecot did not start (see $tmp/dovecot.log)"
listening() {
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null
}
for _ in $(seq 50); do
  listening && break
  sleep 0.1
done
listening || die "Dovecot does not answer on 127.0.0.1:$port (see $tmp/dovecot.log)"

mail=(python3 "$here/dovecot_mail.py")
as_user() { HOME="$home" TZ=UTC setpriv --reuid="$uid" --regid="$gid" --clear-groups "$@"; }
varnox() { as_user "$tmp/bin/varnox" "$@" --root "$vroot"; }
# One pass of the scan; its per-store line is shown, its console only when it fails.
scan() {
  varnox scan --once 2>"$tmp/scan.err" | sed 's/^/== dovecot: scan: /' ||
    { cat "$tmp/scan.err"; die "$1 varnox scan --once failed"; }
}

say "delivering 200 corpus messages and 5 crafted ones"
"${mail[@]}" prepare "$corpus" "$tmp/msgs" || exit 1
deliver() {  # deliver FILE N: most through the agent, every fifth by doveadm save
  if [ $(($2 % 5)) -eq 4 ]; then
    doveadm -c "$conf" save -u "$user" -m INBOX <"$1" || die "doveadm save of $1 failed"
  else
    "$lda" -c "$conf" -d "$user" <"$1" || die "dovecot-lda of $1 failed"
  fi
}
files=("$tmp"/msgs/corpus/*.eml)
for n in "${!files[@]}"; do
  [ $((n % 20)) -eq 0 ] || deliver "${files[n]}" "$n"
done
"${mail[@]}" append "$port" "$tmp/msgs/crafted" || exit 1
"${mail[@]}" mark "$port" || exit 1
# Every twentieth message arrives after the client has seen the inbox: it is
# still in new/ when the scan runs (the snapshots only EXAMINE, which leaves
# it there).
for n in "${!files[@]}"; do
  [ $((n % 20)) -eq 0 ] && deliver "${files[n]}" "$n"
done

say "adding rules"
while IFS=$'\t' read -r kind value; do
  if [ "$kind" = sender ]; then
    varnox rules add --by-sender --sender "$value" --message '' >/dev/null
  else
    varnox rules add --sender '' --message "$value" >/dev/null
  fi || die "varnox rules add $kind '$value' failed"
done <"$tmp/msgs/rules.tsv"

"${mail[@]}" snapshot "$port" "$tmp/before.json" || exit 1
say "scanning"
scan the
from_new=$(find "$home/Maildir/.Spam/new" -type f | wc -l)
[ "$from_new" -gt 0 ] || die "no message was filed from new/ (the late arrivals were meant to be)"
"${mail[@]}" snapshot "$port" "$tmp/after.json" || exit 1
say "$from_new of the filed messages came from new/"
db="$vroot/Varnox/dba/Inbox.db"
"${mail[@]}" verify "$tmp/before.json" "$tmp/after.json" "$db" "$tmp/msgs/rules.tsv" \
  "$tmp/rows.json" || exit 1

say "scanning again"
scan "the second"
"${mail[@]}" snapshot "$port" "$tmp/again.json" || exit 1
"${mail[@]}" same "$tmp/after.json" "$tmp/again.json" "$tmp/rows.json" "$db" || exit 1

# Dovecot says what it had to mend: none of it may appear. Session ids
# (random) and Message-IDs (the corpus's) are cut out first.
damage='duplicate|\blost\b|corrupt|rebuild|Expunged message reappeared|\bUID\b'
sed -E 's/(session|msgid)=<[^>]*>//g' "$tmp/dovecot.log" "$tmp/dovecot-info.log" |
  grep -E -i "$damage|\b(error|panic|fatal|warning)\b" >"$tmp/bad.log"
if [ -s "$tmp/bad.log" ]; then
  sed 's/^/== dovecot:   /' "$tmp/bad.log"
  die "Dovecot's log has $(wc -l <"$tmp/bad.log") lines about damage or errors"
fi
say "Dovecot's log is clean; $(($(date +%s) - started)) s"
echo ok
