#!/usr/bin/env bash
# Installs, from Debian's packages only, everything the build and the tests need.
# Safe to run again: packages already present are skipped by apt.
# The x86_64 cross compiler and wine64 serve machines whose kernel runs no
# 32-bit code: there the Wine suite runs an x86_64 build of the same sources.
set -euo pipefail

packages=(
  cmake ninja-build g++ make googletest libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb x11-utils locales
  fonts-liberation fonts-wqy-microhei fonts-thai-tlwg fonts-wine
  python3 python3-pefile python3-pil zip osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
