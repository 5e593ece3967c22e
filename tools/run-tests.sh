#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs every test: the host
# unit tests, the same again under the address and undefined-behaviour
# sanitizers, then the end-to-end tests under 32-bit Wine (or, where the
# kernel runs no 32-bit code, the x86_64 build under 64-bit Wine).
# Its last line says what ran where; .ci/run adds up those lines.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

cmake --preset host
cmake --build --preset host -j"$(nproc)"
ctest --preset host | tee build/ctest-host.log

# Halts at the first report, leaks included (build/host-sanitize).
cmake --preset host-sanitize
cmake --build --preset host-sanitize -j"$(nproc)"
ctest --preset host-sanitize | tee build/ctest-host-sanitize.log

cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows | tee build/ctest-windows.log

count() { sed -n 's/^100% tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "build/ctest-$1.log"; }
if wine=$(/usr/lib/wine/wine --version 2>/dev/null); then
  build="the PE32 under 32-bit Wine"
else
  wine=$(/usr/lib/wine/wine64 --version) build="the x86_64 build under 64-bit Wine"
fi
echo "summary: Debian $(cat /etc/debian_version), $wine, $build:" \
  "$(count host) host tests, $(count host-sanitize) host tests under sanitizers" \
  "and $(count windows) Windows tests passed"
