"""Reproducible build: two clean builds of the Windows preset from the same
sources, in different folders, at different times, under a different time
zone and umask, give byte-identical Wirenest.exe, language modules and kit
archives, none holding a build or source path.  Environment (set by CTest):
WIRENEST_REPRO_DIR, a scratch folder of the build tree for the two builds."""

import os
import shutil
import subprocess
import sys
import time
import unittest

import pefile  # Debian's python3-pefile

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from facts import MODULES  # noqa: E402
from machine import read  # noqa: E402

OUTPUTS = (["kit/Wirenest.exe"] + ["kit/" + m for m in MODULES] + ["Wirenest-kit.zip", "Wirenest-demo-kit.zip"])
TARGETS = ("Wirenest", "sample_modules", "kit_zips")


def build_environment():
    """The caller's environment less its make settings, with the date the
    archives carry, the last commit's: fixed here, so both builds agree."""
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    try:
        date = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        date = ""
    env["SOURCE_DATE_EPOCH"] = date if date.isdigit() else "0"
    return env


def build(source, binary, env, options=(), must=True):
    """Configures the Windows preset's build with extra -D options and builds
    the shipped files: (the step that failed or None, its output), or raises."""
    failed = None
    for step in (["cmake", "-S", source, "-B", binary, "-G", "Unix Makefiles",
                  "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/mingw-i686.cmake" % source,
                  "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DWIRENEST_TARGET=windows"] + list(options),
                 ["cmake", "--build", binary, "-j%d" % (os.cpu_count() or 1), "--target"] + list(TARGETS)):
        done = subprocess.run(step, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = done.stdout.decode(errors="replace")
        if done.returncode:
            failed = " ".join(step)
            break
    if failed and must:
        raise AssertionError("%s failed:\n%s" % (failed, output[-4000:]))
    return failed, output


def where(data, offset):
    """The PE section an offset falls in, to make a difference readable."""
    try:
        image = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return ""
    for s in image.sections:
        if s.PointerToRawData <= offset < s.PointerToRawData + s.SizeOfRawData:
            return " (section %s + 0x%x)" % (s.Name.rstrip(b"\0").decode("ascii", "replace"),
                                             offset - s.PointerToRawData)
    return " (headers)"


def scratch_folder(variable):
    """The scratch folder CTest names in this variable, made afresh."""
    scratch = os.environ[variable]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    return scratch


class ReproducibleBuild(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        scratch = scratch_folder("WIRENEST_REPRO_DIR")
        base = build_environment()

        # First build: from the sources where they are.
        cls.first = os.path.join(scratch, "first")
        build(SOURCE, cls.first, dict(base, TZ="UTC"))

        # Second build: a copy of the sources under another, longer path,
        # at least two seconds later, in another time zone and umask.
        copy = os.path.join(scratch, "elsewhere", "a-different-checkout", "Wirenest")
        shutil.copytree(SOURCE, copy, symlinks=True, ignore=shutil.ignore_patterns(".git", "build", "__pycache__"))
        time.sleep(2)
        cls.second = os.path.join(scratch, "elsewhere", "out")
        old = os.umask(0o077)
        try:
            build(copy, cls.second, dict(base, TZ="Asia/Bangkok"))
        finally:
            os.umask(old)
        cls.paths = [p.encode() for p in (SOURCE, copy, scratch, cls.first, cls.second)]

    def test_outputs_are_byte_identical(self):
        for name in OUTPUTS:
            with self.subTest(file=name):
                a, b = read(os.path.join(self.first, name)), read(os.path.join(self.second, name))
                if a != b:
                    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
                    self.fail("%s differs: %d and %d bytes, first at offset 0x%x%s" % (
                        name, len(a), len(b), at, where(a, at)))

    def test_outputs_hold_no_build_paths(self):
        for root in (self.first, self.second):
            for name in OUTPUTS:
                with self.subTest(file=os.path.join(root, name)):
                    data = read(os.path.join(root, name))
                    self.assertEqual([], [p.decode() for p in self.paths if p in data])

    def test_programs_carry_no_link_time(self):
        for name in OUTPUTS:
            if name.endswith((".exe", ".dll")):
                with self.subTest(file=name):
                    image = pefile.PE(os.path.join(self.first, name), fast_load=True)
                    self.assertEqual(0, image.FILE_HEADER.TimeDateStamp)


if __name__ == "__main__":
    unittest.main()
