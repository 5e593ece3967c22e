#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test:
# the host unit tests, then the end-to-end tests under 32-bit Wine (or, where
# the kernel runs no 32-bit code, the x86_64 build under 64-bit Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

cmake --preset host
cmake --build --preset host -j"$(nproc)"
ctest --preset host

cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows
