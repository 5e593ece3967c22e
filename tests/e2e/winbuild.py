"""Builds what the Wine suite runs: the given targets of the Windows build,
and, on a machine whose kernel runs no 32-bit code, the same targets of
the x86_64 build of the same sources in <build>/x64 (see winenv.py).

    winbuild.py [--x64-only] <build dir> <target>...
    winbuild.py --amd64-manifest <manifest> <copy>   (for CMake)

The PE32 build is brought up to date first (it is what ships and what the
release checks read), unless --x64-only says the caller has done that,
as a target of that build does."""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", ".."))


def run(cmd):
    print("+ " + " ".join(cmd), flush=True)
    subprocess.run(cmd, check=True)


SHIPPED_ARCH, X64_ARCH = b'processorArchitecture="X86"', b'processorArchitecture="amd64"'


def amd64_manifest(source, copy):
    """The manifest for the x86_64 tree: processor amd64 for itself and the
    common controls, every other byte as shipped.  Written only when it
    changes, so the resources are not rebuilt for nothing."""
    with open(source, "rb") as f:
        shipped = f.read()
    if shipped.count(SHIPPED_ARCH) != 2:
        print("%s: expected %s twice (itself and the common controls), found %d"
              % (source, SHIPPED_ARCH.decode(), shipped.count(SHIPPED_ARCH)), file=sys.stderr)
        return 1
    data = shipped.replace(SHIPPED_ARCH, X64_ARCH)
    if os.path.exists(copy):
        with open(copy, "rb") as f:
            if f.read() == data:
                return 0
    os.makedirs(os.path.dirname(os.path.abspath(copy)), exist_ok=True)
    with open(copy, "wb") as f:
        f.write(data)
    return 0


def main(argv):
    if argv[:1] == ["--amd64-manifest"] and len(argv) == 3:
        return amd64_manifest(argv[1], argv[2])
    import winenv
    x64_only = argv[:1] == ["--x64-only"]
    if x64_only:
        argv = argv[1:]
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    build, targets = os.path.abspath(argv[0]), argv[1:]
    if not x64_only:
        run(["cmake", "--build", build, "--target"] + targets)
    if winenv.select_wine().runs_32bit:  # finds out, once, whether 32-bit Wine runs here
        print("this machine runs 32-bit Wine: the suite runs the PE32 build in %s" % build)
        return 0
    x64 = os.path.join(build, winenv.X64_TREE)
    print("[winenv] %s; building it in %s" % (winenv.FALLBACK_NOTE, x64), flush=True)
    # Configured every time: cheap, and a changed source list or toolchain
    # file is taken up without a stale cache.
    run(["cmake", "-S", SOURCE, "-B", x64, "-G", "Unix Makefiles",
         "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake", "mingw-x86_64.cmake"),
         "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DWIRENEST_TARGET=windows", "-DWIRENEST_WINE64_TREE=ON"])
    run(["cmake", "--build", x64, "-j%d" % (os.cpu_count() or 1), "--target"] + targets)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
