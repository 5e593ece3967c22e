"""Which Wine runs the suite here, and the build it runs.

Where the kernel runs no 32-bit code, 32-bit Wine cannot start at all:
there, and only there, the suite runs the x86_64 build of the same sources
(the tree <build>/x64) under 64-bit Wine in a win64 prefix of its own, and
says so in every test's output.  select_wine(), which every entry point
calls first, finds out (the i386 loader is started once) and points the
paths CTest gives into that tree.  Importing this module starts nothing.

As a script it builds the given targets of the Windows build and, where
32-bit Wine cannot run, the same targets of the x86_64 build.

    winbuild.py [--x64-only] <build dir> <target>...
    winbuild.py --amd64-manifest <manifest> <copy>   (for CMake)

The PE32 build is brought up to date first (it is what ships and what the
release checks read), unless --x64-only says the caller has done that,
as a target of that build does."""

import errno
import os
import re
import subprocess
import sys
import time

from facts import SHIPPED_ARCH, X64_ARCH

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", ".."))

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
X64_TREE = "x64"  # under the Windows build folder
# Set: the PE32 runs in a 64-bit prefix of its own, <e2e>/wow64 (WoW64).
WOW64_VARIABLE, WOW64_WORK = "WIRENEST_E2E_WOW64", "wow64"
FALLBACK_NOTE = ("this machine runs no 32-bit code: running the x86_64 build of the same sources under 64-bit Wine")
# Paths CTest hands over, all under the Windows build folder; the x64 tree
# has the same layout.
BUILT_PATHS = ("WIRENEST_KIT_DIR", "WNAGENT", "WNNOLINES", "WNNOSTRINGS", "WNLONGLINE", "WNPLANTED", "WNPLANTEDLANG",
               "WNUNGUARDED", "WNCONTRACT", "WIRENEST_E2E_DIR", "WNBENCH", "WNBASELINE", "WIRENEST_BENCH_DIR")


def log(text):
    print("[winenv] " + text, file=sys.stderr, flush=True)


def poll(check, timeout, interval=0.05):
    """check()'s first true answer within timeout seconds, else its last."""
    deadline = time.monotonic() + timeout
    while not (found := check()) and time.monotonic() < deadline:
        time.sleep(interval)
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def wine_version(loader):
    """What a Wine loader says of its version ("wine-8.0 (Debian ...)"), or
    None where the kernel refuses to start it: one without IA-32 emulation
    refuses any i386 program with ENOEXEC.  That, and only that, means no;
    anything else is an error, never a fallback."""
    try:
        proc = subprocess.run([loader, "--version"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return None
        raise RuntimeError("cannot start %s (%s): install Wine (tools/install-deps.sh)" % (loader, e))
    if proc.returncode == 126:  # the same refusal, reported by a shell or wrapper
        return None
    if proc.returncode != 0:
        raise RuntimeError("%s --version failed (exit %d): %s"
                           % (loader, proc.returncode, proc.stdout.decode("utf-8", "replace")))
    return proc.stdout.decode("utf-8", "replace").strip()


class Wine:
    """Which Wine runs the suite here, as select_wine() finds it."""

    def __init__(self):
        # The WoW64 rows need both Wines and a kernel that runs 32-bit code;
        # wow64_missing says what is not there, and nothing more is found.
        self.wow64 = bool(os.environ.get(WOW64_VARIABLE))
        absent = [l for l in (WINE32_LOADER, WINE64_LOADER) if self.wow64 and not os.access(l, os.X_OK)]
        version = None if absent else wine_version(WINE32_LOADER)
        self.runs_32bit = version is not None
        self.wow64_missing = (absent and " and ".join(absent) + " not installed"
                              or self.wow64 and not self.runs_32bit and "this machine runs no 32-bit code")
        if self.wow64_missing:
            return
        self.version = version or wine_version(WINE64_LOADER)
        self.major = int(re.match(r"wine-(\d+)", self.version).group(1))
        self.arch = "win32" if self.runs_32bit and not self.wow64 else "win64"
        # The wine command: Debian's wrapper picks the 32-bit loader whenever
        # it is installed, runnable or not, so a 64-bit prefix names the
        # 64-bit one itself (which hands a PE32 on to the 32-bit one).
        self.command = "wine" if self.arch == "win32" else WINE64_LOADER
        # Wine 10 stages packages in a driver store (machine.STORES); Wine 8 not.
        self.keeps_driver_store = self.major >= 10


_wine = None


def select_wine():
    """Finds out, once, which Wine runs here and, where only 64-bit Wine
    runs, points the paths CTest gave into the x64 tree, saying so loudly."""
    global _wine
    if _wine is None:
        _wine = Wine()
        if not (_wine.runs_32bit or _wine.wow64):
            log(FALLBACK_NOTE)
            for name in BUILT_PATHS:
                if os.environ.get(name):
                    os.environ[name] = build_path(os.environ[name])
    return _wine


def build_path(path, build_dir=None):
    """Where a built file (or work folder) of the Windows build is for this
    run: as given, or the same file in the x64 tree when 32-bit Wine cannot
    run.  A path outside the build folder, or already in the x64 tree (a
    child process inherits the environment pointed there), stays."""
    if select_wine().runs_32bit or not path:
        return path
    if build_dir is None:
        kit = os.environ.get("WIRENEST_KIT_DIR")
        build_dir = os.environ.get("WIRENEST_BUILD_DIR") or (kit and os.path.dirname(os.path.abspath(kit)))
        if not build_dir:
            raise RuntimeError("set WIRENEST_BUILD_DIR or WIRENEST_KIT_DIR (CTest does)")
    rel = os.path.relpath(os.path.abspath(path), os.path.abspath(build_dir))
    if rel.split(os.sep)[0] in (os.pardir, X64_TREE):
        return path
    return os.path.join(os.path.abspath(build_dir), X64_TREE, rel)


def run(cmd):
    print("+ " + " ".join(cmd), flush=True)
    subprocess.run(cmd, check=True)


def amd64_manifest(source, copy):
    """The manifest for the x86_64 tree: processor amd64 for itself and the
    common controls, every other byte as shipped.  Written only when it
    changes, so the resources are not rebuilt for nothing."""
    shipped = read(source)
    if shipped.count(SHIPPED_ARCH) != 2:
        print("%s: expected %s twice (itself and the common controls), found %d"
              % (source, SHIPPED_ARCH.decode(), shipped.count(SHIPPED_ARCH)), file=sys.stderr)
        return 1
    data = shipped.replace(SHIPPED_ARCH, X64_ARCH)
    if not os.path.exists(copy) or read(copy) != data:
        os.makedirs(os.path.dirname(os.path.abspath(copy)), exist_ok=True)
        write(copy, data)
    return 0


def main(argv):
    if argv[:1] == ["--amd64-manifest"] and len(argv) == 3:
        return amd64_manifest(argv[1], argv[2])
    x64_only = argv[:1] == ["--x64-only"]
    if x64_only:
        argv = argv[1:]
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    build, targets = os.path.abspath(argv[0]), argv[1:]
    if not x64_only:
        run(["cmake", "--build", build, "--target"] + targets)
    if select_wine().runs_32bit:  # finds out, once, whether 32-bit Wine runs here
        print("this machine runs 32-bit Wine: the suite runs the PE32 build in %s" % build)
        return 0
    x64 = os.path.join(build, X64_TREE)
    log("%s; building it in %s" % (FALLBACK_NOTE, x64))
    # Configured every time: cheap, and a changed source list or toolchain
    # file is taken up without a stale cache.
    run(["cmake", "-S", SOURCE, "-B", x64, "-G", "Unix Makefiles",
         "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake", "mingw-x86_64.cmake"),
         "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DWIRENEST_TARGET=windows", "-DWIRENEST_WINE64_TREE=ON"])
    run(["cmake", "--build", x64, "-j%d" % (os.cpu_count() or 1), "--target"] + targets)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
