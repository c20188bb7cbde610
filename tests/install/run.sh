#!/usr/bin/env bash
# Builds the .deb from a configured build folder, installs it with a real
# `dpkg -i` and proves the installed program works from where the package put
# it. The install happens in a throwaway copy of this machine: a private mount
# namespace with overlays on /usr, /etc and /var (their changes go to a tmpfs),
# and with the checkout and the build folder hidden, so nothing can come from
# them. dpkg checks the package's Depends against the packages really
# installed here and runs its maintainer scripts; the machine is not changed.
# Needs root (mount namespace, overlays); CI runs as root.
#   tests/install/run.sh BUILD_DIR   (a build folder of this checkout)
set -uo pipefail

fail() {
  echo "FAILED: $*"
  exit 1
}

# ---------------------------------------------------------------- inside
# Runs in the private mount namespace: install, use, remove.
inside() {
  local work=$1 root=$2 build=$3 deb=$4 version=$5
  local ovl=$work/ovl d
  # The window, should a check fail while it runs.
  pid=""
  trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null' EXIT
  mount -t tmpfs tmpfs "$ovl" || fail "cannot mount a tmpfs for the overlays"
  for d in usr etc var; do
    mkdir -p "$ovl/$d-up" "$ovl/$d-work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$ovl/$d-up,workdir=$ovl/$d-work" "/$d" ||
      fail "cannot lay an overlay on /$d"
  done
  mount -t tmpfs -o ro tmpfs "$root" || fail "cannot hide the checkout"
  if [ -d "$build" ] && [ -n "$(ls -A "$build" 2>/dev/null)" ]; then
    mount -t tmpfs -o ro tmpfs "$build" || fail "cannot hide the build folder"
  fi
  [ -z "$(ls -A "$root")" ] || fail "the checkout is still visible"

  echo "== install: dpkg -i (Depends checked against this machine's packages)"
  # Minimal images exclude /usr/share/man from dpkg; the page is part of the test.
  dpkg -i --path-include='/usr/share/man/man1/varnox*' "$deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg -i refused the package"; }
  [ "$(dpkg-query -W -f='${Status}' varnox)" = "install ok installed" ] ||
    fail "dpkg does not list varnox as installed"
  [ "$(command -v varnox)" = /usr/bin/varnox ] || fail "varnox is not /usr/bin/varnox"

  echo "== install: the installed program"
  local v
  v=$(varnox --version) || fail "varnox --version exits non-zero"
  [ "$v" = "varnox $version" ] || fail "varnox --version says '$v', the package is $version"
  varnox --help >"$work/help.txt" || fail "varnox --help exits non-zero"

  echo "== install: scan --once of a Maildir with one sender rule"
  local r=$work/root store
  store=$r/Mail/Personal
  mkdir -p "$store"/{cur,new,tmp}
  printf 'From: Spammer <spammer@example.com>\nTo: me@example.org\nSubject: Cheap pills\nMessage-ID: <s1@example.com>\n\nBuy now\n' \
    >"$store/new/1.host"
  printf 'From: Friend <friend@example.net>\nTo: me@example.org\nSubject: Lunch\nMessage-ID: <n1@example.net>\n\nLunch today?\n' \
    >"$store/new/2.host"
  varnox rules add --root "$r" --by-sender --sender spammer@example.com --message '' ||
    fail "rules add"
  local out
  out=$(varnox scan --once --root "$r" 2>/dev/null) || fail "scan --once exits non-zero"
  [ "$out" = "Personal: 2 examined, 2 logged, 1 moved" ] || fail "scan --once said: $out"
  [ -f "$store/.Spam/new/1.host" ] || fail "the spam was not filed into .Spam"
  [ -f "$store/new/2.host" ] || fail "the normal message was moved"
  varnox log --root "$r" --spam | grep -q $'^mail\tPersonal\t.*\tspam\tCheap pills$' ||
    fail "the spam is not logged as spam"

  echo "== install: the window with the SMS companion from /usr/lib/varnox"
  local spool=$work/spool address
  mkdir -p "$spool/incoming" "$spool/outgoing"
  varnox rules add --root "$r" --by-sender --sender +491721234567 --message '' \
    --use-response --response 'Please stop.' || fail "rules add (SMS)"
  varnox --root "$r" --listen 127.0.0.1:0 --sms-spool "$spool" >"$work/window.out" 2>"$work/window.err" &
  pid=$!
  for _ in $(seq 1 50); do
    grep -q '^Varnox: http://127.0.0.1:' "$work/window.out" && break
    sleep 0.2
  done
  address=$(sed -n 's/^Varnox: //p' "$work/window.out")
  [ -n "$address" ] || { cat "$work/window.err"; fail "the window printed no address"; }
  [ "$(cat "$r/.ClassName")" = "$address" ] || fail "<root>/.ClassName does not hold the address"
  # The companion comes in through the program's run path alone: nothing
  # else names /usr/lib/varnox, and the library path is not set.
  for _ in $(seq 1 50); do
    grep -q ' /usr/lib/varnox/librulehook.so$' "/proc/$pid/maps" && break
    sleep 0.2
  done
  grep -q ' /usr/lib/varnox/librulehook.so$' "/proc/$pid/maps" ||
    fail "the program did not load /usr/lib/varnox/librulehook.so"
  printf 'From: 491721234567\nAlphabet: ISO\n\nWin a prize!' >"$spool/incoming/GSM1.abc"
  local logged=no answered=no
  for _ in $(seq 1 100); do
    varnox log --root "$r" --spam | grep -q $'^sms\t.*\t+491721234567\tspam\tWin a prize!$' && logged=yes
    grep -rqs 'Please stop.' "$spool/outgoing" && answered=yes
    [ $logged = yes ] && [ $answered = yes ] && break
    sleep 0.2
  done
  # A second copy on the root names the first and ends with 255, the status
  # the unit does not restart on.
  local second=0
  varnox --root "$r" --listen 127.0.0.1:0 >/dev/null 2>&1 || second=$?
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  pid=""
  [ $logged = yes ] || fail "the SMS was not logged as spam: the companion did not run"
  [ -f "$spool/varnox-handled/GSM1.abc" ] || fail "the SMS was not moved to varnox-handled/"
  [ $answered = yes ] || fail "no automatic response in the spool's outgoing/"
  [ $second -eq 255 ] || fail "a second copy exited with $second, not 255"
  [ $status -eq 0 ] || fail "the program exited with $status on SIGTERM"
  [ ! -e "$r/.ClassName" ] || fail "the address file outlived the program"

  echo "== install: man varnox"
  [ "$(man -w varnox)" = /usr/share/man/man1/varnox.1.gz ] || fail "man does not find varnox(1)"
  MANWIDTH=200 man --warnings -E ascii varnox >"$work/man.txt" 2>"$work/man.err" ||
    fail "man varnox exits non-zero"
  [ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "the man page renders with warnings"; }
  local section sub opt
  for section in SYNOPSIS OPTIONS COMMANDS 'EXIT STATUS' ENVIRONMENT FILES; do
    grep -q "^$section\$" "$work/man.txt" || fail "the man page has no $section"
  done
  for opt in VARNOX_ROOT XDG_DATA_HOME VARNOX_TRACE /Varnox/dba/Rules_0.db /Varnox/dba/Spam_0.db \
    /.ClassName /.MainEvent /Mail/ /spool/ /Varnox/emn/ /Varnox/Help/; do
    grep -qF -- "$opt" "$work/man.txt" || fail "the man page does not name $opt"
  done
  # Every command and every option the program knows is in the page.
  local subs
  subs=$(sed -n '/^Subcommands:/,$s/^  \([a-z0-9]\+\) .*/\1/p' "$work/help.txt")
  [ -n "$subs" ] || fail "no subcommands in varnox --help"
  for sub in "" $subs "rules add" "rules delete"; do
    # shellcheck disable=SC2086  # a nested command is two words
    varnox $sub --help >"$work/sub.txt" || fail "varnox $sub --help exits non-zero"
    [ -z "$sub" ] || grep -qF "varnox $sub" "$work/man.txt" || fail "the man page has no 'varnox $sub'"
    while read -r opt; do
      grep -qF -- "$opt" "$work/man.txt" || fail "the man page does not name $opt of 'varnox $sub'"
    done < <(grep -o -- '--[a-z][a-z-]*' "$work/sub.txt" | sort -u)
  done

  echo "== install: systemd-analyze verify of the user unit"
  local unit=/usr/lib/systemd/user/varnox.service
  [ -f "$unit" ] || fail "no $unit"
  for d in 'ExecStart=/usr/bin/varnox --listen 127.0.0.1:8740' Restart=on-failure \
    RestartPreventExitStatus=255 WantedBy=default.target; do
    grep -qxF "$d" "$unit" || fail "the unit lacks $d"
  done
  mkdir -m 700 "$work/runtime"
  # Any complaint (an unknown setting, a missing program or man page) fails.
  XDG_RUNTIME_DIR=$work/runtime systemd-analyze --user verify varnox.service >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; fail "systemd-analyze verify rejects the unit"; }
  [ ! -s "$work/verify.txt" ] || { cat "$work/verify.txt"; fail "systemd-analyze verify warns"; }

  echo "== install: dpkg -r"
  dpkg -r varnox >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r failed"; }
  for d in /usr/bin/varnox /usr/lib/varnox /usr/share/varnox "$unit" /usr/share/man/man1/varnox.1.gz; do
    [ ! -e "$d" ] || fail "dpkg -r left $d behind"
  done
  echo ok
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
  exit $?
fi

# ---------------------------------------------------------------- outside
[ $# -eq 1 ] || fail "usage: tests/install/run.sh BUILD_DIR"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || fail "no build folder $1"
[ -f "$build/CMakeCache.txt" ] || fail "$build is not a configured build folder"
[ "$(id -u)" -eq 0 ] || fail "needs root (a mount namespace with overlays); run it with sudo"
"$root/scripts/deps.sh" package || fail "cannot install the packaging tools"

work=$(mktemp -d /tmp/varnox-install.XXXXXX) || fail "no temporary folder"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ovl"

echo "== install: build and package"
cmake --build "$build" --target varnox rulehook varnox_man_page >"$work/build.log" 2>&1 ||
  { tail -n 30 "$work/build.log"; fail "build"; }
# (The build re-configures a folder configured before the packaging was added.)
[ -f "$build/CPackConfig.cmake" ] || fail "no CPackConfig.cmake in $build"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(find "$work/pkg" -maxdepth 1 -name 'varnox_*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no varnox_*.deb"
echo "== install: $(basename "$deb"), $(stat -c %s "$deb") bytes"

echo "== install: control fields"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(dpkg-deb -f "$deb" Package)" = varnox ] || fail "the package is not named varnox"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
[ "$(dpkg-deb -f "$deb" Section)" = mail ] || fail "the package's section is not mail"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the package has no Maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
echo "== install: Depends: $depends"
# The packages' names, without their versions.
names=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
for lib in libc6 libstdc++6 libsqlite3-0 libgmime-3.0-0 libstemmer0d; do
  grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib"
done

echo "== install: contents"
# Only the program, its companion, its unit, its page and its shipped
# content: nothing of tests, benchmarks or the build tree.
stray=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' |
  grep -vxE '\./usr/bin/varnox|\./usr/lib/varnox/librulehook\.so|\./usr/lib/systemd/user/varnox\.service|\./usr/share/man/man1/varnox\.1\.gz|\./usr/share/varnox/(manifest\.txt|(emn|menus|help)/.+)')
[ -z "$stray" ] || fail "the package holds more than it should: $stray"
dpkg-deb -x "$deb" "$work/x" || fail "dpkg-deb -x"
leaks=$(grep -rlF -e "$root/" -e "$build/" "$work/x")
[ -z "$leaks" ] || fail "build-tree paths in: $leaks"
runpath=$(readelf -d "$work/x/usr/bin/varnox" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
# shellcheck disable=SC2016  # $ORIGIN is the loader's, not the shell's
[ "$runpath" = '$ORIGIN/../lib/varnox' ] || fail "varnox's run path is '$runpath'"

unshare --mount --propagation private bash "$0" --inside "$work" "$root" "$build" "$deb" "$version" ||
  exit 1
