"""Runs the real Wirenest.exe under 32-bit Wine and looks at it from outside.

One WineEnv per test run: its own Xvfb (unless a display is given), a
private 32-bit prefix under the build folder (created once, then reused),
and a persistent wineserver for speed.  Each start of the program is an
AppRun: a kit folder of its own under C:\\kits, a clean settings key, a
time limit on every wait, and on failure a screenshot and Wine's output
saved under <e2e>/artifacts and named in the failure message.  Each test
of a TestCase starts from a clean machine (restore_state: settings,
per-program Windows version, kits, target tree on drive C, INF store).
Nothing is left running afterwards, which `winenv.py leftovers` checks at
the end of a run.

On a machine whose kernel runs no 32-bit code, 32-bit Wine cannot start
at all.  There, and only there, the suite runs the x86_64 build of the
same sources (the tree <build>/x64, made by winbuild.py in e2e_build)
under 64-bit Wine in a win64 prefix of its own, and says so in every
test's output: select_wine(), which every entry point calls first, finds
out which (the i386 loader is started once) and points the paths CTest
gives into that tree.  Importing this module starts nothing.

Standard library only.  Environment (set by CTest):
  WIRENEST_KIT_DIR    folder with Wirenest.exe and the language modules
                      (WIRENEST_E2E_KIT_DIR, when set, wins)
  WNAGENT             path of wnagent.exe
  WIRENEST_E2E_DIR    working folder (default: <kit>/../e2e)
  WIRENEST_BUILD_DIR  the Windows build folder (default: <kit>/..)
"""

import errno
import fcntl
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

SETTINGS_KEY = r"HKCU\SOFTWARE\Ombrel\Pelmora\Settings"
SETTINGS_ROOT = r"HKCU\SOFTWARE\Ombrel"
APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults"
TARGET_ROOT = "RuruRIZIrizuViz"
EXE_NAME = "Wirenest.exe"
MODULES = ENGLISH, CHS, CHT, SPANISH, THAI = (
    "DravikEngRes.dll", "DravikChsRes.dll", "DravikChtRes.dll", "DravikSpnRes.dll", "DravikThaiRes.dll")
PACKAGE = "Ombrel_K58_USB_Driver-Win2kXp_Modem"
PACKAGE_FILES = ("OMK58CDC.INF", "OMK58CDC.sys", "OMK58_un.exe")
# The dialogs' buttons and the language modules' strings.
IDOK, IDCANCEL = 1, 2
IDS_STEP1, IDS_STEP2, IDS_INSTALL_OK, IDS_INSTALL_FAILED = 1, 2, 3, 4

# Wine prints these when a program crashes and ShowCrashDialog is 0,
# whatever WINEDEBUG says.
CRASH_MARKERS = ("Unhandled page fault", "Unhandled exception", "starting debugger")

SCREEN = "1024x768"
FIRST_DISPLAY = 50
PREFIX_SETTINGS = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="%s"
""" % SCREEN

MARLETT = "/usr/share/wine/fonts/marlett.ttf"

# What a registration leaves under C:\windows: the INF store, and the driver
# store in which Wine 10 stages the package, as Windows does from Vista on
# (Wine 8 keeps none).  What each held right after the prefix was made is
# restored before each test.
STORES = {"inf": ("windows", "inf"),
          "driverstore": ("windows", "system32", "driverstore", "filerepository")}
STORES_BASELINE = ".wirenest-stores"

# Under the work folder: every Xvfb a session started, for leftovers().
XVFB_RECORD = "xvfb-started"

# Registry values for AppRun(settings=...): {name: (type, bytes)}.
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4


def dword(n):
    return (REG_DWORD, struct.pack("<I", n))


def sz(text):
    return (REG_SZ, text.encode("ascii") + b"\0")


def windows_path(unix_path):
    """The Z: drive of a default prefix maps the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def log(text):
    print("[winenv] " + text, file=sys.stderr, flush=True)


def lock_session(work_dir, timeout=300):
    """One session per prefix at a time: a second test run or the demo
    waits here instead of killing the first one's programs.  Returns the
    open lock file; closing it releases the lock."""
    lock = open(os.path.join(work_dir, "session.lock"), "w")
    deadline = time.monotonic() + timeout
    said = False
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return lock
        except BlockingIOError:
            if time.monotonic() > deadline:
                lock.close()
                raise RuntimeError("the Wine prefix in %s stayed busy for %d s" % (work_dir, timeout))
            if not said:
                log("waiting for another run that uses %s" % work_dir)
                said = True
            time.sleep(0.5)


def remove_path(path):
    """Removes a file, a link (not what it points to) or a folder tree."""
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def tree_state(root):
    """{relative path: (kind, size, mtime)} of everything under root."""
    state = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            kind = "link" if os.path.islink(path) else "dir" if os.path.isdir(path) else "file"
            state[os.path.relpath(path, root)] = (kind, st.st_size if kind == "file" else 0, st.st_mtime_ns)
    return state


def tree_changes(before, after, label):
    return ["%s: %s %s" % (label, "added" if p not in before else "removed" if p not in after else "changed", p)
            for p in sorted(set(before) | set(after)) if before.get(p) != after.get(p)]


def parse_reg_export(data):
    """A regedit export as {key: [value lines]}, continuation lines joined."""
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("latin-1")
    keys, key, pending = {}, None, ""
    for line in text.splitlines():
        line = pending + line.strip() if pending else line
        if line.endswith("\\") and key is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            keys[key] = []
        elif key is not None and line and not line.startswith(";"):
            keys[key].append(line)
    return keys


VALUE_NAME = re.compile(r'(@|"(?:[^"\\]|\\.)*")=')


def registry_writes(before, after):
    """{(key, value name)} of every value added, removed or changed between
    two registry states; (key, None) for a key added or removed."""
    writes = set()
    for key in set(before) | set(after):
        if key not in before or key not in after:
            writes.add((key, None))
        elif before[key] != after[key]:
            for line in set(before[key]) ^ set(after[key]):
                name = VALUE_NAME.match(line)
                writes.add((key, name.group(1) if name else line))
    return writes


def registry_changes(before, after, wine_own=frozenset()):
    """One line per registry write, leaving out wine_own: what Wine itself
    writes whenever a program starts (WineEnv.wine_own_writes)."""
    writes = sorted(registry_writes(before, after) - set(wine_own), key=lambda w: (w[0], w[1] or ""))
    changes = []
    for key, name in writes:
        if name is None:
            changes.append("registry: %s [%s] %s" % ("added" if key in after else "removed", key,
                                                      after.get(key, "")))
        else:
            lines = lambda state: sorted(l for l in state[key] if l.startswith(name + "="))
            changes.append("registry: changed [%s] %s -> %s" % (key, lines(before), lines(after)))
    return changes


# ---- 32-bit Wine, or the x86_64 build under 64-bit Wine --------------------

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
X64_TREE = "x64"  # under the Windows build folder
FALLBACK_NOTE = ("this machine runs no 32-bit code: running the x86_64 build of the same "
                 "sources under 64-bit Wine")
# Paths CTest hands over, all under the Windows build folder; the x64 tree
# has the same layout.
BUILT_PATHS = ("WIRENEST_KIT_DIR", "WNAGENT", "WNNOLINES", "WNNOSTRINGS",
               "WNPLANTED", "WNPLANTEDLANG", "WNUNGUARDED",
               "WIRENEST_E2E_DIR", "WNBENCH", "WNBASELINE", "WIRENEST_BENCH_DIR")


def wine_version(loader):
    """What a Wine loader says of its version ("wine-8.0 (Debian ...)"), or
    None where the kernel refuses to start it: one without IA-32 emulation
    refuses any i386 program with ENOEXEC.  That, and only that, means no;
    anything else is an error, never a fallback."""
    try:
        proc = subprocess.run([loader, "--version"], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=60)
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
        version = wine_version(WINE32_LOADER)
        self.runs_32bit = version is not None
        self.version = version or wine_version(WINE64_LOADER)
        self.major = int(re.match(r"wine-(\d+)", self.version).group(1))
        self.arch = "win32" if self.runs_32bit else "win64"
        # The wine command: Debian's wrapper picks the 32-bit loader whenever
        # it is installed, runnable or not, so the fallback names the 64-bit
        # one itself.
        self.command = "wine" if self.runs_32bit else WINE64_LOADER
        # Where Wine 8 and Wine 10 answer differently (both measured), the
        # check that sees it says so with this: Wine 10 stages packages, as
        # Windows does from Vista on.
        self.keeps_driver_store = self.major >= 10


_wine = None


def select_wine():
    """Finds out, once, which Wine runs here (the i386 loader is started
    once) and, where only 64-bit Wine runs, points the paths CTest gave into
    the x64 tree, saying so loudly.  Every entry point calls it first."""
    global _wine
    if _wine is None:
        _wine = Wine()
        if not _wine.runs_32bit:
            log(FALLBACK_NOTE)
            build_dir = os.environ.get("WIRENEST_BUILD_DIR")
            if not build_dir and os.environ.get("WIRENEST_KIT_DIR"):
                build_dir = os.path.dirname(os.path.abspath(os.environ["WIRENEST_KIT_DIR"]))
            for name in BUILT_PATHS:
                if os.environ.get(name) and build_dir:
                    os.environ[name] = x64_path(os.environ[name], build_dir)
    return _wine


def x64_path(path, build_dir):
    """The same file in the x64 tree, for a path under the build folder.
    A path already in that tree stays (a child process inherits the
    environment this module has pointed there)."""
    rel = os.path.relpath(os.path.abspath(path), os.path.abspath(build_dir))
    if rel == os.pardir or rel.startswith(os.pardir + os.sep):
        return path
    if rel == X64_TREE or rel.startswith(X64_TREE + os.sep):
        return path
    return os.path.join(os.path.abspath(build_dir), X64_TREE, rel)


def build_path(path, build_dir=None):
    """Where a built file (or work folder) of the Windows build is for this
    run: as given, or in the x64 tree when 32-bit Wine cannot run."""
    if select_wine().runs_32bit or not path:
        return path
    if build_dir is None:
        build_dir = os.environ.get("WIRENEST_BUILD_DIR")
    if not build_dir:
        kit = os.environ.get("WIRENEST_KIT_DIR")
        if not kit:
            raise RuntimeError("set WIRENEST_BUILD_DIR or WIRENEST_KIT_DIR (CTest does)")
        build_dir = os.path.dirname(os.path.abspath(kit))
    return x64_path(path, build_dir)


class HelperError(AssertionError):
    pass


def json_lines(data):
    """The JSON answers among a program's output lines."""
    return [json.loads(l) for l in data.decode("ascii", "replace").splitlines() if l.startswith("{")]


def crash_lines(text):
    """Wine's reports of a crash in a program's output."""
    return [l for l in text.splitlines() if any(m in l for m in CRASH_MARKERS)]


class Xvfb:
    """A private X server on the first free display from FIRST_DISPLAY."""

    def __init__(self, log_path, record_path=None):
        self.log_path = log_path
        self.record_path = record_path  # "pid display" per server, for leftovers()
        self.proc = None
        self.display = None

    def start(self):
        for n in range(FIRST_DISPLAY, FIRST_DISPLAY + 40):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            with open(self.log_path, "ab") as out:
                proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", SCREEN + "x24",
                                         "-nolisten", "tcp"],
                                        stdout=out, stderr=subprocess.STDOUT,
                                        start_new_session=True)
            deadline = time.monotonic() + 10
            while proc.poll() is None and time.monotonic() < deadline:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.proc, self.display = proc, ":%d" % n
                    if self.record_path:
                        with open(self.record_path, "a") as f:
                            f.write("%d %s\n" % (proc.pid, self.display))
                    return self.display
                time.sleep(0.05)
            # Lost a race for this display, or a hung start: try the next.
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        raise RuntimeError("no free X display from :%d (see %s)" % (FIRST_DISPLAY, self.log_path))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


class WineEnv:
    active = None  # the started environment of this process, for TestCase

    def __init__(self, kit_dir, helper, work_dir, display=None, prefix_reg=""):
        """prefix_reg: more REGEDIT4 lines (no header) put into the prefix
        when it is made, e.g. font settings."""
        self.prefix_reg = prefix_reg
        self.kit_dir = os.path.abspath(kit_dir)
        self.helper_path = os.path.abspath(helper)
        self.work_dir = os.path.abspath(work_dir)
        self.prefix = os.path.join(self.work_dir, "prefix")
        self.home = os.path.join(self.work_dir, "home")
        self.artifacts = os.path.join(self.work_dir, "artifacts")
        self.logs = os.path.join(self.work_dir, "logs")
        self.display = display
        self.xvfb = None
        self.lock = None
        self.prefix_seconds = None  # set when this run created the prefix
        self._wine_own_writes = None

    @classmethod
    def from_environment(cls):
        select_wine()  # which may point the paths CTest gives elsewhere
        # Given by hand, WIRENEST_E2E_KIT_DIR runs the suite on another kit
        # (a signed one, say) than the build's own, which CTest names.
        kit = os.environ.get("WIRENEST_E2E_KIT_DIR") or os.environ.get("WIRENEST_KIT_DIR")
        helper = os.environ.get("WNAGENT")
        if not kit or not helper:
            raise RuntimeError("set WIRENEST_KIT_DIR and WNAGENT (CTest does)")
        work = os.environ.get("WIRENEST_E2E_DIR") or os.path.join(os.path.dirname(os.path.abspath(kit)), "e2e")
        return cls(kit, helper, work)

    def check_built(self):
        """The kit and helper this run uses exist (in the fallback, e2e_build
        made them in the x64 tree)."""
        for path in (os.path.join(self.kit_dir, EXE_NAME), self.helper_path):
            if not os.path.exists(path):
                raise RuntimeError("%s is missing: run the e2e_build test (ctest) or tests/e2e/winbuild.py%s"
                                   % (path, "" if select_wine().runs_32bit else " (" + FALLBACK_NOTE + ")"))

    # ---- lifetime -----------------------------------------------------

    def start(self, fresh_artifacts=True):
        """fresh_artifacts: empty the artifacts folder, so that what it holds
        afterwards belongs to this run's failures only."""
        self.check_built()
        for d in (self.work_dir, self.home, self.logs):
            os.makedirs(d, exist_ok=True)
        self.lock = lock_session(self.work_dir)
        wine = select_wine()
        log("%s, the %s" % (wine.version, "PE32 build in a 32-bit prefix" if wine.runs_32bit
                            else "x86_64 build in a 64-bit prefix"))
        try:
            if fresh_artifacts:
                shutil.rmtree(self.artifacts, ignore_errors=True)
            os.makedirs(self.artifacts, exist_ok=True)
            if not self.display:
                self.xvfb = Xvfb(os.path.join(self.logs, "xvfb.log"),
                                 os.path.join(self.work_dir, XVFB_RECORD))
                self.display = self.xvfb.start()
            self._ensure_prefix()
            # A server left over from an interrupted run would hold the old display.
            self.stop_server()
            self.start_server()
            self.restore_state()
        except BaseException:
            self.stop()
            raise
        WineEnv.active = self
        return self

    def start_server(self, desktop=True):
        # Persistent: every helper call would otherwise pay the server start.
        subprocess.run(["wineserver", "-p"], env=self.environment(), check=True, timeout=30)
        if desktop:
            # Bring the desktop up now: started by the program under test, it
            # comes up a moment later and takes the foreground from it.
            self.must("windows", "explorer.exe")

    def stop_server(self):
        """Ends the server and every process of the prefix with it."""
        self._wineserver("-k")
        self._wineserver("-w")

    def stop(self):
        if WineEnv.active is self:
            WineEnv.active = None
        try:
            self.stop_server()
        finally:
            if self.xvfb:
                self.xvfb.stop()
                self.xvfb = None
            if self.lock:
                self.lock.close()  # releases the session lock
                self.lock = None

    def environment(self, wine_debug="-all", lang=None, dll_overrides=""):
        """Wine's environment; lang (e.g. "zh_CN.UTF-8") sets the locale, and
        with it the ANSI code page the programs run with (default 1252);
        dll_overrides is added to WINEDLLOVERRIDES (e.g. "uxtheme=n,b")."""
        env = dict(os.environ)
        for name in [k for k in env if k.startswith("LC_")]:
            del env[name]
        if lang:
            env.update(LOCPATH=self._locale_dir(lang), LC_ALL=lang)
        env.update(
            WINEPREFIX=self.prefix, WINEARCH=select_wine().arch, WINEDEBUG=wine_debug,
            WINEDLLOVERRIDES=";".join(filter(None, ["mscoree=;mshtml=", dll_overrides])),
            HOME=self.home, LANG=lang or "C.UTF-8",
            XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
            XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
            XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
            DISPLAY=self.display or "")
        if not select_wine().runs_32bit:
            env["WINELOADER"] = WINE64_LOADER  # what Wine starts further programs with
        return env

    def _wineserver(self, flag):
        if os.path.isdir(self.prefix):
            subprocess.run(["wineserver", flag], env=self.environment(), timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _locale_dir(self, lang):
        """Wine takes the code page from the glibc locale, which must exist:
        build it once under the work folder rather than system-wide."""
        base = os.path.join(self.work_dir, "locale")
        if not os.path.isdir(os.path.join(base, lang)):
            os.makedirs(base, exist_ok=True)
            name, charmap = lang.split(".")
            partial = os.path.join(base, lang + ".partial")
            shutil.rmtree(partial, ignore_errors=True)
            # localedef warns (exit 1) about harmless details; the folder tells.
            subprocess.run(["localedef", "-i", name, "-f", charmap, partial],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            if not os.path.isdir(partial):
                raise RuntimeError("localedef could not build %s (Debian package locales)" % lang)
            os.replace(partial, os.path.join(base, lang))
        return base

    def _ensure_prefix(self):
        """Creates the prefix once (under the session lock); a stamp marks
        it complete, so a half-made one is made again."""
        stamp = os.path.join(self.prefix, ".wirenest-ready")
        baseline = os.path.join(self.prefix, STORES_BASELINE)
        if os.path.exists(stamp) and os.path.exists(baseline) and self._prefix_arch(stamp) == select_wine().arch:
            return
        log("creating the Wine prefix %s (once)" % self.prefix)
        start = time.monotonic()
        self._wineserver("-k")
        shutil.rmtree(self.prefix, ignore_errors=True)  # a half-made one
        env = self.environment()
        with open(os.path.join(self.logs, "prefix.log"), "wb") as f:
            subprocess.run([select_wine().command, "wineboot", "-i"], env=env, stdout=f, stderr=subprocess.STDOUT,
                           timeout=300, check=True)
            reg = os.path.join(self.work_dir, "prefix-settings.reg")
            with open(reg, "w") as r:
                r.write(PREFIX_SETTINGS + self.prefix_reg)
            subprocess.run([select_wine().command, "regedit", "/S", windows_path(reg)], env=env, stdout=f,
                           stderr=subprocess.STDOUT, timeout=120, check=True)
            # The registry reaches the disk when the server ends.
            subprocess.run(["wineserver", "-w"], env=env, timeout=120, check=True)
        # Wine draws caption and message-box buttons with Marlett (Debian's
        # fonts-wine), which Wine as Debian builds it does not find by itself.
        if os.path.exists(MARLETT):
            shutil.copy(MARLETT, self.drive_c("windows", "Fonts"))
        self.prefix_seconds = time.monotonic() - start
        with open(baseline, "w") as f:
            json.dump({store: sorted(os.listdir(self.drive_c(*parts))) if os.path.isdir(self.drive_c(*parts))
                       else [] for store, parts in STORES.items()}, f)
        with open(stamp, "w") as f:
            f.write("created in %.1f s\n" % self.prefix_seconds)
            f.write("arch %s\n" % select_wine().arch)
        log("prefix ready in %.1f s" % self.prefix_seconds)

    @staticmethod
    def _prefix_arch(stamp):
        """The WINEARCH a prefix was made with, from its stamp: a win32
        prefix is never reused for the 64-bit run, nor the other way round.
        Stamps from before the 64-bit run name none: those are win32."""
        with open(stamp) as f:
            named = [line.split()[1] for line in f if line.startswith("arch ")]
        return named[0] if named else "win32"

    # ---- the helper ---------------------------------------------------

    def start_program(self, program, *args, lang=None, stdout=None, stderr=None):
        """Starts a Wine program (a Unix or Windows path) in this prefix."""
        return subprocess.Popen([select_wine().command, program] + [str(a) for a in args],
                                env=self.environment(lang=lang), stdout=stdout, stderr=stderr)

    def run_program(self, program, *args, timeout=30, lang=None, out_path=None, err_path=None):
        """Runs a Wine program to its end, killed after timeout seconds:
        (exit code, None if killed; stdout; stderr), as bytes, also kept in
        out_path and err_path when given.  Files, not pipes: Wine's own
        background processes, started by whichever program comes first,
        inherit the handles and would keep a pipe open long after the
        program has ended."""
        def output(path):
            return open(path, "w+b") if path else tempfile.TemporaryFile()
        with output(out_path) as out, output(err_path) as err:
            proc = self.start_program(program, *args, lang=lang, stdout=out, stderr=err)
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                code = None
            out.seek(0)
            err.seek(0)
            return code, out.read(), err.read()

    def helper(self, *args, timeout=30, lang=None, program=None):
        """The JSON answer (ok or not) of one command of wnagent, or of
        another program of ours that answers so."""
        program = program or self.helper_path
        what = "%s %s" % (os.path.splitext(os.path.basename(program))[0], " ".join(map(str, args)))
        code, out, err = self.run_program(program, *args, timeout=timeout, lang=lang)
        if code is None:
            raise HelperError("%s: no answer within %d s" % (what, timeout))
        answers = json_lines(out)
        if not answers:
            raise HelperError("%s: no answer (exit %d): %s" % (what, code, err.decode("utf-8", "replace")[-2000:]))
        return answers[-1]

    def must(self, *args, timeout=30, lang=None, program=None):
        """A helper command that has to succeed."""
        answer = self.helper(*args, timeout=timeout, lang=lang, program=program)
        if not answer.get("ok"):
            raise HelperError("%s %s failed: %s" % (os.path.splitext(os.path.basename(program or self.helper_path))[0],
                                                   " ".join(map(str, args)), answer))
        return answer

    def module_string(self, module, string_id, lang=None):
        """A module's string as Windows reads it: "text" (the stored
        characters) and "ansi" (what an 8-bit program shows in that locale)."""
        path = module if os.path.isabs(module) else os.path.join(self.kit_dir, module)
        return self.must("loadstring", windows_path(path), string_id, lang=lang)

    def msgbox(self, window):
        return self.must("msgbox", window["hwnd"])

    def reset_settings(self):
        self.must("regdel", SETTINGS_KEY)

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def restore_state(self):
        """The machine as a test expects to find it: no settings, no
        per-program Windows version, no kits, no installed driver (target
        tree on drive C, INF store as the prefix had it).  Run when the
        environment starts and before every TestCase test."""
        self.must("regdel", SETTINGS_ROOT)
        self.must("regdel", APP_DEFAULTS)
        # C:\kits itself stays, as every run leaves it: tests compare drive C
        # before and after a run.
        kits = self.drive_c("kits")
        os.makedirs(kits, exist_ok=True)
        for name in os.listdir(kits):
            remove_path(os.path.join(kits, name))
        self.remove_installation()

    def remove_installation(self):
        """Drive C as before any installation: no target tree, nothing
        registered or staged, no link a test left in the stores."""
        remove_path(self.drive_c(TARGET_ROOT))
        self.restore_stores()

    def restore_stores(self, stores=tuple(STORES)):
        """The INF store and the driver store (or the ones named) as the
        prefix had them: no registered INF, no staged package, no link a
        test left."""
        with open(os.path.join(self.prefix, STORES_BASELINE)) as f:
            baseline = json.load(f)
        for store in stores:
            folder = self.drive_c(*STORES[store])
            for name in os.listdir(folder) if os.path.isdir(folder) else []:
                path = os.path.join(folder, name)
                if name not in baseline[store] or os.path.islink(path):
                    remove_path(path)

    def store_listing(self):
        """Every file of the INF store by name, and of the driver store as
        "driverstore/<folder>/<name>", with its bytes (None for a link)."""
        listing = {}
        for store, parts in STORES.items():
            top = self.drive_c(*parts)
            for folder, dirs, files in os.walk(top):
                for name in files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
                    path = os.path.join(folder, name)
                    rel = os.path.relpath(path, top).replace(os.sep, "/")
                    key = rel if store == "inf" else store + "/" + rel
                    if os.path.islink(path):
                        listing[key] = None
                    else:
                        listing[key] = read(path)
        return listing

    def stored_infs(self, inf=None):
        """Names of the INFs in the INF store that hold these bytes (default:
        the kit's sample INF)."""
        if inf is None:
            inf = read(os.path.join(self.kit_dir, PACKAGE, PACKAGE_FILES[0]))
        return sorted(name for name, data in self.store_listing().items()
                      if "/" not in name and name.lower().endswith(".inf") and data == inf)

    def registry_state(self):
        """The whole registry as regedit exports it, {key: [value lines]}."""
        keys = {}
        for hive in ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"):
            with tempfile.TemporaryDirectory(dir=self.work_dir) as tmp:
                out = os.path.join(tmp, "export.reg")
                subprocess.run([select_wine().command, "regedit", "/E", windows_path(out), hive], env=self.environment(),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)
                keys.update(parse_reg_export(read(out)))
        return keys

    def machine_state(self):
        """What a program could leave behind: every file and folder on
        drive C and the registry."""
        return {"files": tree_state(self.drive_c()), "registry": self.registry_state()}

    def machine_changes(self, before):
        """Differences from an earlier machine_state, one line each, less
        what Wine itself writes whenever a program starts."""
        after = self.machine_state()
        return (tree_changes(before["files"], after["files"], "drive C")
                + registry_changes(before["registry"], after["registry"], self.wine_own_writes()))

    def wine_own_writes(self):
        """The registry values that Wine writes on its own whenever a
        program starts (Wine 10 rewrites the display adapter's
        DriverDateData, say): measured once a session across a run of a
        program that only reads (wnagent listing the desktop's windows)."""
        if self._wine_own_writes is None:
            before = self.registry_state()
            self.must("windows", "explorer.exe")
            self._wine_own_writes = registry_writes(before, self.registry_state())
            if self._wine_own_writes:
                log("Wine's own registry writes, left out of comparisons: %s"
                    % sorted("%s %s" % (k, n or "(key)") for k, n in self._wine_own_writes))
        return self._wine_own_writes

    def screenshot(self, png_path, rect=None, palette=False):
        """The screen as Windows draws it, saved as PNG; rect (left, top,
        right, bottom in screen pixels) crops it, palette makes it 8-bit."""
        bmp = png_path[:-4] + ".bmp"
        self.must("screenshot", windows_path(bmp))
        bmp_to_png(bmp, png_path, rect, palette)
        os.remove(bmp)
        return png_path

    def run(self, name, **kw):
        return AppRun(self, name, **kw)

    def lay_out_kit(self, name, modules=(), extra=None, exe_source=None, exe=None):
        """C:\\kits\\<name> made afresh: the executable (default the kit's,
        named exe), language modules of the kit, and extra: {name in the kit:
        a file or folder to copy, bytes to write, or None for an empty
        folder}.  Returns the executable's Windows path."""
        kit = self.drive_c("kits", name)
        exe_source = exe_source or os.path.join(self.kit_dir, EXE_NAME)
        exe = exe or os.path.basename(exe_source)
        remove_path(kit)
        os.makedirs(kit)
        shutil.copy(exe_source, os.path.join(kit, exe))
        for m in modules:
            shutil.copy(os.path.join(self.kit_dir, m), kit)
        for file_name, source in (extra or {}).items():
            target = os.path.join(kit, file_name)
            if source is None:
                os.mkdir(target)
            elif isinstance(source, bytes):
                with open(target, "wb") as f:
                    f.write(source)
            elif os.path.isdir(source):
                shutil.copytree(source, target)
            else:
                shutil.copy(source, target)
        return "C:\\kits\\%s\\%s" % (name, exe)

    def package(self):
        """The sample package of the kit, for extra= of a run."""
        return {PACKAGE: os.path.join(self.kit_dir, PACKAGE)}


def module_fixtures(*namespaces):
    """setUpModule and tearDownModule for a test module: one environment
    from CTest's settings, started for the module's tests and kept in the
    global env of each namespace.  A module binds them with
    setUpModule, tearDownModule = winenv.module_fixtures(globals())."""
    def set_up():
        env = WineEnv.from_environment().start()
        for namespace in namespaces:
            namespace["env"] = env

    def tear_down():
        namespaces[0]["env"].stop()
    return set_up, tear_down


class TestCase(unittest.TestCase):
    """A test that starts from the clean machine of WineEnv.restore_state,
    whatever the test before it did."""

    def setUp(self):
        if WineEnv.active is None:
            raise RuntimeError("start a WineEnv in setUpModule first")
        WineEnv.active.restore_state()


class AppRun:
    """One start of the program from C:\\kits\\<name>, as a context manager.

    modules: which language modules to put beside the executable (default
    all); extra: {name in the kit: source file or folder, or None for an
    empty folder}, e.g. modules that are broken on purpose; settings: values
    to put under the settings key before the start; exe: the file name the
    executable is given in the kit (default Wirenest.exe); lang: the locale to run
    in; wine_debug: WINEDEBUG for the program (e.g. "trace+reg"); version:
    the Windows version Wine reports to this executable (winxp, win2k, win10,
    win98, win31; default: the prefix's); record_state: take machine_state()
    just before the start, for machine_changes(); exe_source: the executable
    to run instead of the kit's; dll_overrides: added to WINEDLLOVERRIDES;
    alone: no other process of the prefix runs when the program starts (the
    helper's own calls bring up Wine's desktop), so it brings up the desktop
    itself; server_trace: the run has a Wine server of its own whose trace
    of every request (wineserver -d1, as WINEDEBUG=+server would start it)
    goes into the program's output; the persistent one is stopped for the
    run and started again after."""

    def __init__(self, env, name, modules=MODULES, extra=None, settings=None, lang=None, exe=EXE_NAME,
                 wine_debug="-all", version=None, record_state=False, exe_source=None, dll_overrides="",
                 alone=False, server_trace=False):
        self.alone = alone
        self.env = env
        self.server_trace = server_trace
        self.exe_source = exe_source or os.path.join(env.kit_dir, EXE_NAME)
        self.dll_overrides = dll_overrides
        self.version = version
        self.record_state = record_state
        self.state_before = None
        self.name = name
        self.modules = modules
        self.extra = extra or {}
        self.settings = settings or {}
        self.lang = lang
        self.wine_debug = wine_debug
        self.exe = exe
        self.kit = os.path.join(env.prefix, "drive_c", "kits", name)
        self.kit_windows = "C:\\kits\\" + name
        self.log_path = os.path.join(env.logs, name + ".wine.log")
        self.proc = None

    def __enter__(self):
        env = self.env
        env.reset_settings()
        env.lay_out_kit(self.name, self.modules, self.extra, self.exe_source, self.exe)
        for value, (kind, data) in self.settings.items():
            env.must("regset", SETTINGS_KEY, value, kind, data.hex() or "-")
        if self.version:
            env.must("regset", self.app_defaults_key(), "Version", REG_SZ,
                     (self.version.encode("ascii") + b"\0").hex())
        if self.record_state:
            self.state_before = env.machine_state()
        if self.alone:
            env.stop_server()
            env.start_server(desktop=False)
        self._log = open(self.log_path, "wb")
        self.server = None
        if self.server_trace:
            self._start_traced_server()
        self.proc = subprocess.Popen([select_wine().command, self.kit_windows + "\\" + self.exe], cwd=self.kit,
                                     env=env.environment(self.wine_debug, self.lang, self.dll_overrides),
                                     stdout=self._log, stderr=subprocess.STDOUT)
        return self

    def _start_traced_server(self):
        """A server of this run's own, tracing every request into the
        program's output.  Started here rather than by the program with
        WINEDEBUG=+server: a server that the program started traced in only
        some runs (measured, Wine 8)."""
        self.env.stop_server()
        self.server = subprocess.Popen(["wineserver", "-f", "-d1"], env=self.env.environment(),
                                       stdout=self._log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while "wineserver: starting" not in self.wine_output():
            if self.server.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the tracing Wine server did not start (exit %s)" % self.server.poll())
            time.sleep(0.05)

    def __exit__(self, exc_type, exc, tb):
        crash = self.crash_lines()
        failed = exc is not None or crash
        if failed:
            notes = self._save_artifacts()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.server:
            self.env.stop_server()
            self.server.wait(60)
            self.env.start_server()
        self._log.close()
        if failed:
            shutil.copy(self.log_path, notes["wine_log"])
        os.remove(self.log_path)
        shutil.rmtree(self.kit, ignore_errors=True)
        self.env.reset_settings()
        if self.version:
            self.env.must("regdel", self.app_defaults_key())
        note = "artifacts: screenshot %s, Wine output %s" % (notes["screenshot"], notes["wine_log"]) if failed else ""
        if exc is not None:
            if hasattr(exc, "add_note"):
                exc.add_note(note)
            elif exc.args:
                exc.args = ("%s\n%s" % (exc.args[0], note),) + exc.args[1:]
            return False
        if crash:
            raise AssertionError("the program crashed: %s\n%s" % (crash[0].strip(), note))
        return False

    def _save_artifacts(self):
        # The helper gets the file name in the default code page, which may
        # lack the kit's characters (e.g. Kit表): spell those out.
        safe = "".join(c if c.isascii() and (c.isalnum() or c in "-_.") else "_%04x" % ord(c)
                       for c in self.name)
        base = os.path.join(self.env.artifacts, safe)
        notes = {"screenshot": base + ".png", "wine_log": base + ".wine.log"}
        try:
            self.env.screenshot(notes["screenshot"])
        except Exception as e:  # the failure itself matters more than its picture
            notes["screenshot"] = "(none: %s)" % e
        return notes

    def app_defaults_key(self):
        return APP_DEFAULTS + "\\" + self.exe

    def machine_changes(self):
        """What changed on drive C and in the registry since the moment
        before the start (record_state=True), one line per change."""
        if self.state_before is None:
            raise RuntimeError("start the run with record_state=True")
        return self.env.machine_changes(self.state_before)

    # ---- looking and pressing ------------------------------------------

    def crash_lines(self):
        self._log.flush()
        with open(self.log_path, "r", encoding="utf-8", errors="replace") as f:
            return [l for l in f if any(m in l for m in CRASH_MARKERS)]

    def wine_output(self):
        self._log.flush()
        with open(self.log_path, "r", encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_window(self, caption, timeout_ms=15000):
        """The program's visible top-level window with this caption."""
        answer = self.env.helper("wait", caption, timeout_ms, self.exe, timeout=timeout_ms / 1000 + 30,
                                 lang=self.lang)
        if not answer.get("ok"):
            raise AssertionError("no window %r of %s within %d ms (process %s): %s" % (
                caption, self.exe, timeout_ms, self._state(), answer))
        return answer

    def wait_box(self, dialog, timeout=15):
        """The box that a press in the dialog brings up: the first visible
        top-level window of the program other than the dialog."""
        return wait_box(self.env, self.exe, dialog, timeout, self.lang)

    def press_ok(self):
        """Presses OK in the dialog; returns the dialog and the box it brings."""
        dialog = self.wait_window("Wirenest")
        self.click(dialog, IDOK)
        return dialog, self.wait_box(dialog)

    def windows(self):
        """All top-level windows of the program, hidden ones included."""
        return self.env.must("windows", self.exe, lang=self.lang)["windows"]

    def visible_windows(self):
        return [w for w in self.windows() if w["visible"]]

    def text(self, window, control_id):
        return self.env.must("text", window["hwnd"], control_id)["text"]

    def msgbox(self, window):
        return self.env.msgbox(window)

    def focus(self, window):
        return self.env.must("focus", window["hwnd"])

    def click(self, window, control_id):
        self.env.must("click", window["hwnd"], control_id)

    def key(self, window, key):
        self.env.must("key", window["hwnd"], key)

    def syscommand(self, window, command):
        self.env.must("syscommand", window["hwnd"], command)

    def end_with(self, window, control_id):
        """Presses a button (Cancel, a box's OK) that ends the program;
        returns its exit code."""
        self.click(window, control_id)
        return self.wait_exit()

    def wait_exit(self, timeout=15):
        """The program's exit code; fails if it is still running."""
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s still running %d s later; visible windows: %s" % (
                self.exe, timeout, [w["text"] for w in self.visible_windows()]))
        crash = self.crash_lines()
        if crash:
            raise AssertionError("the program crashed: %s" % crash[0].strip())
        return code

    def _state(self):
        code = self.proc.poll()
        return "running" if code is None else "ended with code %d" % code


# ---- BMP to PNG ---------------------------------------------------------

def read_bmp(bmp_path):
    """The helper's 24- or 32-bit BMP as (width, height, rows of RGB bytes)."""
    data = read(bmp_path)
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    top_down = height < 0
    height = abs(height)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(height):
        row = y if top_down else height - 1 - y
        start = offset + row * stride
        line = data[start:start + width * step]
        rgb = bytearray(width * 3)
        rgb[0::3] = line[2::step]
        rgb[1::3] = line[1::step]
        rgb[2::3] = line[0::step]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(png_path, width, height, rows, palette=False):
    """RGB rows as a PNG; with palette, 8-bit indexed when the picture has
    at most 256 colours (a dialog has far fewer), else RGB as it is."""
    colours = None
    if palette:
        colours = {}
        for row in rows:
            for i in range(0, len(row), 3):
                colours.setdefault(row[i:i + 3], len(colours))
                if len(colours) > 256:
                    colours = None
                    break
            if colours is None:
                break
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        if colours:
            raw += bytes(colours[row[i:i + 3]] for i in range(0, len(row), 3))
        else:
            raw += row

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(png_path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3 if colours else 2, 0, 0, 0)))
        if colours:
            f.write(chunk(b"PLTE", b"".join(sorted(colours, key=colours.get))))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def bmp_to_png(bmp_path, png_path, rect=None, palette=False):
    """Converts the helper's BMP into a PNG, cropped to rect if given."""
    width, height, rows = read_bmp(bmp_path)
    if rect:
        left, top = max(rect[0], 0), max(rect[1], 0)
        right, bottom = min(rect[2], width), min(rect[3], height)
        rows = [row[left * 3:right * 3] for row in rows[top:bottom]]
        width, height = right - left, bottom - top
    write_png(png_path, width, height, rows, palette)


# ---- the demo -----------------------------------------------------------

def wait_box(env, exe, dialog, timeout=15, lang=None):
    """The message box of the first visible top-level window of the
    program other than the dialog (the box that a press in it brings up)."""
    deadline = time.monotonic() + timeout
    while True:
        visible = [w for w in env.must("windows", exe, lang=lang)["windows"] if w["visible"]]
        others = [w for w in visible if w["hwnd"] != dialog["hwnd"]]
        if others:
            return env.msgbox(others[0])
        if time.monotonic() > deadline:
            raise HelperError("no box of %s within %d s; visible: %s" % (exe, timeout, [w["text"] for w in visible]))
        time.sleep(0.1)


def demo(kit_dir, helper, work_dir, out_dir):
    """Starts the installer on a kit.  With DISPLAY set the user drives the
    real window and this waits until it ends; without, it runs on a private
    X server, saves a screenshot of the dialog, presses OK, saves one of the
    result box, presses its OK and waits for the end."""
    display = os.environ.get("DISPLAY")
    exe = os.path.join(os.path.abspath(kit_dir), EXE_NAME)
    env = WineEnv(kit_dir, helper, work_dir, display=display).start(fresh_artifacts=False)
    try:
        if env.prefix_seconds is not None:
            print("Wine prefix created in %.1f s" % env.prefix_seconds)
        proc = subprocess.Popen([select_wine().command, windows_path(exe)], cwd=os.path.dirname(exe),
                                env=env.environment())
        try:
            if display:
                print("Wirenest is running on %s, in Wine's desktop window; "
                      "this ends when it does." % display)
                return proc.wait()
            out_dir = os.path.abspath(out_dir)
            os.makedirs(out_dir, exist_ok=True)
            dialog = env.must("wait", "Wirenest", 20000, EXE_NAME, timeout=60)
            time.sleep(1)  # the caption turns active a moment after the window shows
            dialog_png = env.screenshot(os.path.join(out_dir, "dialog.png"))
            env.must("click", dialog["hwnd"], IDOK)  # install
            box = wait_box(env, EXE_NAME, dialog, 30)
            time.sleep(0.5)  # let the box finish painting
            result_png = env.screenshot(os.path.join(out_dir, "result.png"))
            env.must("click", box["hwnd"], IDOK)
            code = proc.wait(30)
            print("Screenshot of the dialog:     %s" % dialog_png)
            print("Screenshot of the result box: %s" % result_png)
            print("Pressed OK; the result box said %r; Wirenest ended with code %d." % (box["message"], code))
            print("Installed into %s" % env.drive_c(TARGET_ROOT))
            return 0
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
    finally:
        env.stop()


def leftovers(work_dir):
    """What a session of this work folder left running: any process of its
    Wine prefix (wineserver included) and any Xvfb it started.  Waits for
    a running session to end first."""
    work_dir = os.path.abspath(work_dir)
    if not os.path.isdir(work_dir):
        return []  # no session ever ran here (e.g. only other labels ran)
    prefix = os.path.join(work_dir, "prefix")
    lock = lock_session(work_dir)
    try:
        found = []
        marker = b"WINEPREFIX=" + os.fsencode(prefix)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
            except OSError:  # ended meanwhile, or not ours to read
                continue
            if marker in environ:
                found.append("process %s: %s" % (pid, cmdline))
        record = os.path.join(work_dir, XVFB_RECORD)
        if os.path.exists(record):
            with open(record) as f:
                started = [line.split() for line in f if line.strip()]
            alive = []
            for pid, display in started:
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        argv = f.read().split(b"\0")
                except OSError:
                    continue
                if os.path.basename(argv[0]) == b"Xvfb" and display.encode() in argv:
                    found.append("Xvfb %s on %s" % (pid, display))
                    alive.append("%s %s\n" % (pid, display))
            # Ended servers are forgotten; one still running is named again next time.
            with open(record, "w") as f:
                f.writelines(alive)
        return found
    finally:
        lock.close()


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description="Wine environment for Wirenest")
    parser.add_argument("command", choices=["prepare", "demo", "leftovers"])
    parser.add_argument("--kit", help="folder with Wirenest.exe and the modules")
    parser.add_argument("--helper", help="path of wnagent.exe")
    parser.add_argument("--work", help="working folder (default: <kit>/../e2e)")
    parser.add_argument("--out", help="demo output folder (default: <kit>/../demo)")
    a = parser.parse_args()
    select_wine()
    if a.command == "leftovers":
        # The end of a test run: nothing of it may still be running.
        if not a.work:
            parser.error("leftovers needs --work")
        left = leftovers(build_path(a.work))
        for item in left:
            print("still running: " + item)
        if left:
            print("FAIL: the session of %s left %d process(es) running" % (a.work, len(left)))
            sys.exit(1)
        print("nothing left running by the sessions of %s" % build_path(a.work))
        sys.exit(0)
    if not a.kit or not a.helper:
        parser.error("%s needs --kit and --helper" % a.command)
    parent = os.path.dirname(os.path.abspath(a.kit))
    a.kit, a.helper = build_path(a.kit, parent), build_path(a.helper, parent)
    work = build_path(a.work or os.path.join(parent, "e2e"), parent)
    if a.command == "prepare":
        e = WineEnv(a.kit, a.helper, work).start(fresh_artifacts=False)
        e.stop()
        print("Wine prefix ready: %s%s" % (e.prefix, "" if e.prefix_seconds is None
                                            else " (created in %.1f s)" % e.prefix_seconds))
        sys.exit(0)
    sys.exit(demo(a.kit, a.helper, work, a.out or os.path.join(parent, "demo")))
