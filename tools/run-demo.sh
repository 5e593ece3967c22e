#!/usr/bin/env bash
# Builds Wirenest for 32-bit Windows and starts the installer on the sample
# kit under Wine, on a fresh Debian 12 machine.
#
# With DISPLAY set, the installer opens on that display (inside Wine's
# virtual desktop window) and this script waits until it ends.  Without
# DISPLAY it runs on a private Xvfb: it saves a screenshot of the dialog to
# build/windows/demo/dialog.png, presses OK (which installs the sample driver
# package into the Wine prefix), saves the result box to
# build/windows/demo/result.png, presses the box's OK, waits for the end and
# says where both pictures are.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

tools/install-deps.sh
cmake --preset windows
cmake --build --preset windows

build="$root/build/windows"
# Where the kernel runs no 32-bit code: the x86_64 build under 64-bit Wine
# (winenv.py then takes the kit from build/windows/x64 and says so).
# Debian's own interpreter: the one that sees python3-pil.
/usr/bin/python3 "$root/tests/e2e/winbuild.py" --x64-only "$build" Wirenest sample_modules wnagent
exec /usr/bin/python3 "$root/tests/e2e/winenv.py" demo \
  --kit "$build/kit" \
  --helper "$build/tests/e2e/wnagent.exe" \
  --work "$build/e2e" \
  --out "$build/demo"
