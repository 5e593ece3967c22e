"""Faults during OK under Wine: a full disk, copies cut short, targets that
are not the package's, a file another program holds, and two installers
pressed at once.  A failed run never blocks the next: a failed copy leaves
nothing new behind, a target that is the start of its package file is
copied again, every other target stays as it was (bytes and times), and
once the fault is cleared the next OK installs.

The full disk is a small tmpfs mounted by the test (CI runs as root) that
becomes drive C itself, with links to the rest of drive C: a link or mount
point at C:\\RuruRIZIrizuViz would be a reparse point to Wine, which the
program rightly refuses."""

import contextlib
import os
import shutil
import subprocess
import tempfile

import winenv
from facts import (IDOK, IDS_INSTALL_FAILED, IDS_INSTALL_OK, PACKAGE, TARGET_FOLDER_PATH, TARGET_ROOT,
                   TARGET_ROOT_PATH, PACKAGE_FILES as FILES)
from installcheck import InstallTestCase

INF, SYS, EXE = FILES
GENERIC_READ, GENERIC_WRITE, DELETE = 0x80000000, 0x40000000, 0x10000
SHARE_ALL = 7  # FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE

# Over two reads of the program's check, and over three times the small
# disk: a copy of it stops part-way.
BIG = 200000
SMALL_DISK, BIG_DISK = "64k", "4m"

env = None
setUpModule, tearDownModule = winenv.module_fixtures(globals())


def big_bytes(size=BIG):
    """Bytes whose pattern does not repeat at 4,096."""
    return (bytes(range(251)) * (size // 251 + 1))[:size]


def big_inf():
    """The sample INF, padded with comment lines."""
    inf = winenv.read(env.package_file(INF))
    line = b"; padding to make the INF larger than the disk it is copied to\r\n"
    return inf + line * ((BIG - len(inf)) // len(line) + 1)


class FaultTestCase(InstallTestCase):
    def setUp(self):
        super().setUp()
        self.scratch = tempfile.mkdtemp(dir=env.work_dir, prefix="faults-")
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def hold(self, path, access=GENERIC_READ, sharing=0, timeout_ms=60000):
        """wnagent hold on a Windows path, by default for reading and shared
        with nobody; returns the function that lets go (also a cleanup)."""
        self.holds = getattr(self, "holds", 0) + 1
        release = os.path.join(self.scratch, "release%d" % self.holds)
        out = tempfile.TemporaryFile()
        proc = env.start_program(env.helper_path, "hold", path, timeout_ms, winenv.windows_path(release),
                                 hex(access), sharing, stdout=out, stderr=subprocess.DEVNULL)

        def let_go():
            if proc.poll() is None:
                open(release, "w").close()
                winenv.poll(lambda: proc.poll() is not None, 30)
            winenv.end_process(proc)
            out.close()
        self.addCleanup(let_go)

        def answer():
            out.seek(0)
            return next(iter(winenv.json_lines(out.read())), None)
        winenv.poll(lambda: answer() or proc.poll() is not None, 30)
        if answer() is None:
            self.fail("wnagent hold %s: no answer (exit %s)" % (path, proc.poll()))
        self.assertTrue(answer().get("ok"), answer())
        return let_go

    def fresh_package(self, read_only=False, **files):
        """A clean machine and a package folder in an empty scratch folder:
        the sample's files, any replaced by the bytes given (inf=, sys=,
        exe=), all read-only if asked (as on a CD: a copy keeps the source's
        read-only attribute).  Returns {name: bytes}."""
        env.restore_state()
        shutil.rmtree(self.scratch)
        self.package_dir = os.path.join(self.scratch, PACKAGE)
        os.makedirs(self.package_dir)
        package = {name: files.get(key) or winenv.read(env.package_file(name))
                   for name, key in zip(FILES, ("inf", "sys", "exe"))}
        for name, data in package.items():
            winenv.write(os.path.join(self.package_dir, name), data)
            if read_only:
                os.chmod(os.path.join(self.package_dir, name), 0o444)
        return package

    def lay_targets(self, targets):
        """What an earlier run left: {name: bytes, or None for a folder}."""
        os.makedirs(env.drive_c(TARGET_ROOT, PACKAGE), exist_ok=True)
        for name, data in targets.items():
            os.mkdir(env.target(name)) if data is None else winenv.write(env.target(name), data)
            os.utime(env.target(name), ns=(1000000000, 1000000000))  # times that a rewrite would change
        return {name: env.target_state(name) for name in FILES}

    def run_ok(self, name, expect, **run):
        return self.install(name, expect, extra={PACKAGE: self.package_dir}, **run)

    def check_failed(self, package, calls, kept=None):
        """String 4 was shown: nothing registered, and every target either
        absent, the package's, or (kept) exactly as it was laid out."""
        self.assertEqual(calls, [])
        self.assertEqual(env.store_listing(), self.store_before)
        for name in FILES:
            with self.subTest(file=name):
                now = env.target_state(name)
                if kept and name in kept:
                    self.assertEqual(now, kept[name], "a target that was not the failed copy's changed")
                elif now is not None:
                    self.assertEqual(now[0], package[name],
                                     "left behind: %d bytes of %d" % (len(now[0]), len(package[name])))


class TargetsLeftBehindTest(FaultTestCase):
    """What an earlier run or someone else left in the target folder."""

    def test_targets_left_behind(self):
        big = big_bytes(10000)
        late = bytearray(big)
        late[5000] ^= 1
        sample_sys = winenv.read(env.package_file(SYS))
        early = bytearray(sample_sys[:len(sample_sys) // 2])
        early[0] ^= 1
        cases = [
            # (what, package files, targets laid out, installs[, held open by
            # another program: (target or "" for the root, access, sharing)])
            ("a copy cut short: half the driver, an empty uninstaller", {"sys": big},
             {SYS: big[:5000], EXE: b""}, True),
            ("a target longer than its package file", {}, {SYS: sample_sys + b"\0more"}, False),
            ("a target that differs in its first bytes", {}, {SYS: bytes(early)}, False),
            ("a target of the same length that differs only after byte 4,096", {"sys": big},
             {SYS: bytes(late)}, False),
            # No read-only cut-short target: Wine keeps read-only in the Unix
            # mode bits, which the program's DACL rewrites, so it becomes
            # deletable; Windows keeps them apart (Install.FaultsDuringOK).
            ("a folder in a target's place", {}, {EXE: None}, False),
            # A handle opened before the program's changes keeps what it may
            # do: a writer or deleter stops the installation, a reader does
            # not; once the writer lets go, the next run installs.
            ("an identical driver held open by a writer", {}, {SYS: sample_sys}, False,
             (SYS, GENERIC_WRITE, SHARE_ALL)),
            ("an identical driver held open by a reader", {}, {SYS: sample_sys}, True,
             (SYS, GENERIC_READ, SHARE_ALL)),
            ("the target root held open with DELETE", {}, {}, False, ("", DELETE, SHARE_ALL)),
        ]
        for i, (what, files, targets, installs, *held) in enumerate(cases):
            with self.subTest(case=what):
                package = self.fresh_package(**files)
                before = self.lay_targets(targets)
                if held:
                    name, access, sharing = held[0]
                    let_go = self.hold(TARGET_FOLDER_PATH + "\\" + name if name else TARGET_ROOT_PATH, access, sharing)
                calls = self.run_ok("left%d" % i, IDS_INSTALL_OK if installs else IDS_INSTALL_FAILED)
                if installs:
                    self.check_installed(package, calls)
                else:
                    self.check_failed(package, calls, kept={n: before[n] for n in targets})
                if held:
                    let_go()
                    if not installs:
                        self.check_installed(package, self.run_ok("let-go%d" % i, IDS_INSTALL_OK))


class FullDiskTest(FaultTestCase):
    """The target tree on a small tmpfs: the disk fills during one of the
    three copies; then it grows and the next run installs."""

    @contextlib.contextmanager
    def small_disk(self):
        """Drive C on the small tmpfs, the target root linked from drive_c,
        where the checks look; yields the mount point."""
        disk, root = os.path.join(self.scratch, "disk"), env.drive_c(TARGET_ROOT)
        letter = os.path.join(env.prefix, "dosdevices", "c:")
        os.makedirs(disk)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + SMALL_DISK, "tmpfs", disk],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        if done.returncode:
            self.fail("mounting a %s tmpfs at %s was refused (exit %d: %s); the fault tests need root, as CI has"
                      % (SMALL_DISK, disk, done.returncode, done.stdout.decode("utf-8", "replace").strip()))
        try:
            for name in os.listdir(env.drive_c()):
                os.symlink(env.drive_c(name), os.path.join(disk, name))
            os.symlink(os.path.join(disk, TARGET_ROOT), root)
            os.remove(letter)
            os.symlink(disk, letter)
            yield disk
        finally:
            if os.path.islink(letter):
                os.remove(letter)
            os.symlink("../drive_c", letter)
            if os.path.islink(root):
                os.remove(root)
            if subprocess.run(["umount", disk], stderr=subprocess.DEVNULL, timeout=30).returncode:
                subprocess.run(["umount", "-l", disk], timeout=30, check=True)

    def test_disk_fills(self):
        cases = [
            ("during the INF copy", {"inf": big_inf()}),
            ("during the driver copy", {"sys": big_bytes()}),
            ("during the uninstaller copy", {"exe": big_bytes()}),
            ("during the driver copy from a read-only package", {"sys": big_bytes(), "read_only": True}),
        ]
        for i, (what, files) in enumerate(cases):
            with self.subTest(disk_fills=what):
                package = self.fresh_package(**files)
                with self.small_disk() as disk:
                    self.check_failed(package, self.run_ok("full%d" % i, IDS_INSTALL_FAILED))
                    subprocess.run(["mount", "-o", "remount,size=" + BIG_DISK, disk], timeout=30, check=True)
                    self.check_installed(package, self.run_ok("freed%d" % i, IDS_INSTALL_OK))


class LockedPackageTest(FaultTestCase):
    def test_locked_package_file(self):
        package = self.fresh_package()

        def hold_the_driver(app):
            self.let_go = self.hold(app.kit_windows + "\\" + PACKAGE + "\\" + SYS)
        calls = self.run_ok("locked", IDS_INSTALL_FAILED, before_ok=hold_the_driver)
        self.check_failed(package, calls)
        self.assertIsNone(env.target_state(SYS), "the held file was copied after all")

        self.let_go()
        calls = self.run_ok("unlocked", IDS_INSTALL_OK)
        self.check_installed(package, calls)


class DoubleStartTest(FaultTestCase):
    """Two installers, OK pressed in both at once: both end with string 3.
    A 64 MiB driver keeps the first copy going while the second starts on
    it; if they did not take turns, the second would see a half-made copy
    (measured: string 4 in every run so; one in four at 200,000 bytes)."""

    def test_two_installers_pressed_at_once(self):
        package = self.fresh_package(sys=big_bytes(64 << 20))
        extra = {PACKAGE: self.package_dir}
        with env.run("twinA", extra=extra) as a, env.run("twinB", extra=extra, exe="Wirenest2.exe") as b:
            dialogs = [a.wait_window("Wirenest"), b.wait_window("Wirenest")]
            # One helper call posts both presses: far within 100 ms.
            pressed = env.must("click", dialogs[0]["hwnd"], IDOK, dialogs[1]["hwnd"])
            self.assertLess(pressed["spread_ms"], 100, pressed)
            for app, dialog, caption in ((a, dialogs[0], "Wirenest"), (b, dialogs[1], "Wirenest2")):
                box = app.wait_box(dialog)
                self.check_result_box(box, dialog, IDS_INSTALL_OK, caption)
                app.click(box, IDOK)
            for app in (a, b):
                app.wait_exit()
        self.check_installed(package)


if __name__ == "__main__":
    import unittest
    unittest.main()
