#!/usr/bin/env bash
# Installs the Debian packages Varnox needs that are missing.
#   deps.sh build   what building and running the program needs
#   deps.sh test    that, plus the test tools (clang for the sanitizer and
#                   fuzzing build, npm for the test corpus)
#   deps.sh bench   that, plus the peers and tools of the benchmark scripts
#   deps.sh package what building, then installing and checking the .deb
#                   needs (tests/install/run.sh)
#   deps.sh peers   only the real servers the peer tests talk to (Dovecot with
#                   its delivery agent and doveadm) and the Python they use
set -euo pipefail

build_pkgs=(g++ cmake ninja-build pkg-config libstemmer-dev libcli11-dev libsqlite3-dev libgmime-3.0-dev libcpp-httplib-dev nlohmann-json3-dev xdg-utils)
test_pkgs=(libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev sqlite3 npm chromium)

bench_pkgs=(bogofilter time spamassassin spamc)
# CPack's dependency list (dpkg-shlibdeps, file), the man page and unit checks.
package_pkgs=(dpkg-dev file man-db groff-base systemd)
peer_pkgs=(dovecot-imapd python3)

want=("${build_pkgs[@]}")
[ "${1:-build}" = test ] && want+=("${test_pkgs[@]}")
[ "${1:-build}" = bench ] && want+=("${test_pkgs[@]}" "${bench_pkgs[@]}")
[ "${1:-build}" = package ] && want+=("${package_pkgs[@]}")
# The peer tests run a program built before: they need no build tools.
[ "${1:-build}" = peers ] && want=("${peer_pkgs[@]}")

missing=()
for p in "${want[@]}"; do
  # npm may come from elsewhere than Debian (nodesource, nvm): any npm will do.
  if [ "$p" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
