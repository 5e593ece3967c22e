#!/usr/bin/env bash
# Builds Wirenest for 32-bit Windows and writes the screenshot gallery
# docs/gallery/*.png: the installer dialog and the result box in English,
# Simplified Chinese, Traditional Chinese, Spanish and Thai, and the "Error"
# box, each taken under Wine (headless, on a private Xvfb) and cropped to
# its window.  The gallery has a Wine prefix of its own, in
# build/windows/gallery, so the test prefix keeps its settings.
#
#   tools/make-gallery.sh [build folder]     (default: build/windows)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="$(realpath -m "${1:-$root/build/windows}")"

tools/install-deps.sh
cmake --preset windows -B "$build"
cmake --build "$build" -j"$(nproc)" --target kit wnagent
# Where the kernel runs no 32-bit code: the x86_64 build under 64-bit Wine.
# Debian's own interpreter: the one that sees python3-pil.
/usr/bin/python3 "$root/tests/e2e/winbuild.py" --x64-only "$build" kit wnagent

# Pictures of what appears on the screen: never on the user's display.
unset DISPLAY
exec /usr/bin/python3 "$root/tools/make-gallery.py" \
  --kit "$build/kit" \
  --helper "$build/tests/e2e/wnagent.exe" \
  --work "$build/gallery" \
  --out "$root/docs/gallery"
