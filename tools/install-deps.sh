#!/usr/bin/env bash
# Installs, from Debian's packages only, everything the build and the tests need.
# Safe to run again: packages already present are skipped by apt.
# The x86_64 cross compiler and wine64 serve machines whose kernel runs no
# 32-bit code: there the Wine suite runs an x86_64 build of the same sources.
#
# The archive behind apt can be out of step with itself: an index whose size
# its Release file does not list, for hours. apt then drops that index, and
# the i386 halves of multiarch pairs (zlib1g, libssl3, ...) may be older than
# their amd64 halves from the suite whose index did arrive. So a failed index
# is named and passed over, and an install that cannot be resolved is tried
# again with the release's own base suite as the target release.
set -euo pipefail

packages=(
  cmake ninja-build g++ make googletest libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb x11-utils locales
  fonts-liberation fonts-wqy-microhei fonts-thai-tlwg fonts-wine
  python3 python3-pefile python3-pil zip osslsigncode openssl
  clang
)
# libFuzzer and the sanitizers' runtime of the clang that is installed.
clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1 || true)
[ -n "$clang_major" ] && packages+=("libclang-rt-$clang_major-dev")
# For tools/test-install-deps.sh alone: its own packages in place of these.
[ -z "${WIRENEST_DEPS_PACKAGES:-}" ] || read -ra packages <<<"$WIRENEST_DEPS_PACKAGES"

missing() {
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t todo < <(missing)
[ ${#todo[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! $SUDO apt-get update -qq >"$log" 2>&1; then
  failed=$(sed -n 's/^E\(rror\)\?: Failed to fetch \([^ ]*\).*/\2/p' "$log" | paste -sd' ')
  [ -n "$failed" ] || { cat "$log" >&2; echo "install-deps: apt-get update failed" >&2; exit 1; }
  echo "install-deps: passing over the index apt could not fetch: $failed"
fi
install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1; }
if ! install "${todo[@]}"; then
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  echo "install-deps: the install could not be resolved; installing again with $release as the target release (-t $release)"
  if [ -z "$release" ] || ! install -t "$release" "${todo[@]}"; then
    cat "$log" >&2
    echo "install-deps: nothing worked; packages: ${todo[*]}; failed index: ${failed:-none}" >&2
    exit 1
  fi
fi
# clang came with this run: its runtime's package name is known only now.
# Once only, should its version not read as expected.
[ -n "$clang_major" ] || [ -n "${WIRENEST_DEPS_AGAIN:-}" ] || WIRENEST_DEPS_AGAIN=1 exec "$0"
