#!/usr/bin/env bash
# Installs what is missing, builds the Windows preset and runs the start-up
# and install benchmark: Wirenest.exe against Baseline.exe under 32-bit Wine
# (the x86_64 build under 64-bit Wine where the kernel runs no 32-bit code),
# 21 timed runs of each.  It reports; a missed target does not fail it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

cmake --preset windows -DWIRENEST_BENCH_RUNS=21
cmake --build --preset windows -j"$(nproc)"
cmake --build --preset windows --target bench
