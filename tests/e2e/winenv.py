"""Runs the real Wirenest.exe under Wine and looks at it from outside.

One WineEnv per test run: its own Xvfb (unless a display is given), a
private prefix made once, a persistent wineserver.  Which Wine and build
run is winbuild.py's answer; drive C and the registry machine.py's, the
screen screen.py's.  Each start of the program is an AppRun: a kit folder
of its own under C:\\kits, a time limit on every wait, and on failure a
screenshot and Wine's output saved under <e2e>/artifacts and named in the
message.  `winenv.py leftovers` checks at the end that nothing runs on.

Environment (set by CTest):
  WIRENEST_KIT_DIR    folder with Wirenest.exe and the language modules
                      (WIRENEST_E2E_KIT_DIR, when set, wins)
  WNAGENT             path of wnagent.exe
  WIRENEST_E2E_DIR    working folder (default: <kit>/../e2e)
  WIRENEST_BUILD_DIR  the Windows build folder (default: <kit>/..)
"""

import fcntl
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from facts import (CP932_CHAR, CP932_LANG, ENGLISH, EXE_NAME, IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDOK, IDS_STEP1,
                   IDS_STEP2, MODULES, REG_SZ, SETTINGS_KEY, TARGET_ROOT, load_error)
from screen import SCREEN, SESSION_VARIABLE, Screen, Xvfb
# The test scripts and the benchmark import the harness as winenv alone.
from machine import APP_DEFAULTS, STORES_BASELINE, Machine, read, tree_changes, tree_state, windows_path, write  # noqa: F401
from winbuild import FALLBACK_NOTE, WOW64_WORK, build_path, log, poll, select_wine

# Wine prints these when a program crashes and ShowCrashDialog is 0,
# whatever WINEDEBUG says.
CRASH_MARKERS = ("Unhandled page fault", "Unhandled exception", "starting debugger")

PREFIX_SETTINGS = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="%s"
""" % SCREEN

MARLETT = "/usr/share/wine/fonts/marlett.ttf"


def lock_session(work_dir, timeout=300):
    """One session per prefix at a time: a second test run or the demo
    waits here instead of killing the first one's programs.  Returns the
    open lock file; closing it releases the lock."""
    lock = open(os.path.join(work_dir, "session.lock"), "w")

    def locked():
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            return False
    if not locked():
        log("waiting for another run that uses %s" % work_dir)
        if not poll(locked, timeout, 0.5):
            lock.close()
            raise RuntimeError("the Wine prefix in %s stayed busy for %d s" % (work_dir, timeout))
    return lock


class HelperError(AssertionError):
    pass


def json_lines(data):
    """The JSON answers among a program's output lines."""
    return [json.loads(l) for l in data.decode("ascii", "replace").splitlines() if l.startswith("{")]


def end_process(proc):
    """Kills a process if it still runs, and reaps it."""
    if proc.poll() is None:
        proc.kill()
    proc.wait()


def crash_lines(text):
    """Wine's reports of a crash in a program's output."""
    return [l.strip() for l in text.splitlines() if any(m in l for m in CRASH_MARKERS)]


class WineEnv(Machine, Screen):
    active = None  # the started environment of this process, for TestCase

    def __init__(self, kit_dir, helper, work_dir, display=None, prefix_reg=""):
        """prefix_reg: more REGEDIT4 lines (no header) put into the prefix
        when it is made, e.g. font settings."""
        self.prefix_reg = prefix_reg
        self.kit_dir = os.path.abspath(kit_dir)
        self.helper_path = os.path.abspath(helper)
        self.work_dir = os.path.abspath(work_dir)
        self.prefix, self.home, self.artifacts, self.logs = (
            os.path.join(self.work_dir, d) for d in ("prefix", "home", "artifacts", "logs"))
        self.display = display
        self.xvfb = self.lock = self.keeper = None
        self.prefix_seconds = None  # set when this run created the prefix

    @classmethod
    def from_environment(cls):
        wine = select_wine()  # which may point the paths CTest gives elsewhere
        if wine.wow64_missing:
            raise unittest.SkipTest("WoW64 rows skipped: " + wine.wow64_missing)
        # Given by hand, WIRENEST_E2E_KIT_DIR runs the suite on another kit
        # (a signed one, say) than the build's own, which CTest names.
        kit = os.environ.get("WIRENEST_E2E_KIT_DIR") or os.environ.get("WIRENEST_KIT_DIR")
        helper = os.environ.get("WNAGENT")
        if not kit or not helper:
            raise RuntimeError("set WIRENEST_KIT_DIR and WNAGENT (CTest does)")
        work = os.environ.get("WIRENEST_E2E_DIR") or os.path.join(os.path.dirname(os.path.abspath(kit)), "e2e")
        return cls(kit, helper, os.path.join(work, WOW64_WORK) if wine.wow64 else work)

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
        log("%s, the %s build in a %s-bit prefix%s" % (wine.version, "PE32" if wine.runs_32bit else "x86_64",
                                                     wine.arch[3:], " (WoW64)" if wine.wow64 else ""))
        try:
            if fresh_artifacts:
                shutil.rmtree(self.artifacts, ignore_errors=True)
            os.makedirs(self.artifacts, exist_ok=True)
            if not self.display:
                self.xvfb = Xvfb(os.path.join(self.logs, "xvfb.log"), self.work_dir)
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
            # comes up a moment later and takes the foreground from it.  Wine
            # closes it 1 s after its last other user ends: a holder keeps it.
            out = os.path.join(self.logs, "keeper.out")
            with open(out, "wb") as f:
                self.keeper = self.start_program(self.helper_path, "hold", "C:\\windows", 0xFFFFFFFF,
                                                 windows_path(out + ".never"), hex(0x80000000), 7, stdout=f,
                                                 stderr=subprocess.DEVNULL)
            if not poll(lambda: json_lines(read(out)) or self.keeper.poll() is not None, 60) or self.keeper.poll():
                raise HelperError("the desktop's keeper did not start: %s" % read(out))

    def stop_server(self):
        """Ends the server and every process of the prefix with it."""
        self._wineserver("-k")
        self._wineserver("-w")
        if self.keeper:
            end_process(self.keeper)
            self.keeper = None

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
        env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
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
            env["WINELOADER"] = select_wine().command  # what Wine starts further programs with
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
        """Creates the prefix once (under the session lock).  A stamp marks
        it complete and names its WINEARCH: a half-made prefix is made
        again, and a win32 one never serves the 64-bit run, nor the other
        way round."""
        stamp = os.path.join(self.prefix, ".wirenest-ready")
        arch_line = "arch %s\n" % select_wine().arch
        if (os.path.exists(os.path.join(self.prefix, STORES_BASELINE)) and os.path.exists(stamp)
                and arch_line in read(stamp).decode("ascii").splitlines(True)):
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
            write(reg, (PREFIX_SETTINGS + self.prefix_reg).encode("ascii"))
            subprocess.run([select_wine().command, "regedit", "/S", windows_path(reg)], env=env, stdout=f,
                           stderr=subprocess.STDOUT, timeout=120, check=True)
            # The registry reaches the disk when the server ends.
            subprocess.run(["wineserver", "-w"], env=env, timeout=120, check=True)
        # Wine draws caption and message-box buttons with Marlett (Debian's
        # fonts-wine), which Wine as Debian builds it does not find by itself.
        if os.path.exists(MARLETT):
            shutil.copy(MARLETT, self.drive_c("windows", "Fonts"))
        self.prefix_seconds = time.monotonic() - start
        self.record_stores()
        write(stamp, ("created in %.1f s\n" % self.prefix_seconds + arch_line).encode("ascii"))
        log("prefix ready in %.1f s" % self.prefix_seconds)

    # ---- the helper ---------------------------------------------------

    def start_program(self, program, *args, lang=None, stdout=None, stderr=None, cwd=None, wine_debug="-all",
                      dll_overrides=""):
        """Starts a Wine program (a Unix or Windows path) in this prefix."""
        return subprocess.Popen([select_wine().command, program] + [str(a) for a in args], cwd=cwd,
                                env=self.environment(wine_debug, lang, dll_overrides), stdout=stdout, stderr=stderr)

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
                end_process(proc)
                code = None
            out.seek(0)
            err.seek(0)
            return code, out.read(), err.read()

    def helper(self, *args, timeout=30, lang=None):
        """The JSON answer (ok or not) of one command of wnagent."""
        what = "wnagent %s" % " ".join(map(str, args))
        code, out, err = self.run_program(self.helper_path, *args, timeout=timeout, lang=lang)
        if code is None:
            raise HelperError("%s: no answer within %d s" % (what, timeout))
        answers = json_lines(out)
        if not answers:
            raise HelperError("%s: no answer (exit %d): %s" % (what, code, err.decode("utf-8", "replace")[-2000:]))
        return answers[-1]

    def must(self, *args, timeout=30, lang=None):
        """A helper command that has to succeed."""
        answer = self.helper(*args, timeout=timeout, lang=lang)
        if not answer.get("ok"):
            raise HelperError("wnagent %s failed: %s" % (" ".join(map(str, args)), answer))
        return answer

    def module_string(self, module, string_id, lang=None):
        """A module's string as Windows reads it: "text" (the stored
        characters) and "ansi" (what an 8-bit program shows in that locale)."""
        path = module if os.path.isabs(module) else os.path.join(self.kit_dir, module)
        return self.must("loadstring", windows_path(path), string_id, lang=lang)

    def module_lines(self, module, lang=None, form="text"):
        """The module's instruction lines 1 and 2, as module_string reads them."""
        return [self.module_string(module, i, lang=lang)[form] for i in (IDS_STEP1, IDS_STEP2)]

    def reset_settings(self):
        self.must("regdel", SETTINGS_KEY)

    def set_settings(self, settings):
        """{value name: (type, bytes)} under the settings key, bytes as given."""
        for value, (kind, data) in settings.items():
            self.must("regset", SETTINGS_KEY, value, kind, data.hex() or "-")

    def run(self, name, **kw):
        return AppRun(self, name, **kw)


def module_fixtures(namespace):
    """setUpModule and tearDownModule that keep one environment, started
    from CTest's settings, in the module's global env."""
    return (lambda: namespace.update(env=WineEnv.from_environment().start()),
            lambda: namespace["env"].stop())


class TestCase(unittest.TestCase):
    """A test that starts from the clean machine of Machine.restore_state,
    whatever the test before it did."""

    def setUp(self):
        if WineEnv.active is None:
            raise RuntimeError("start a WineEnv in setUpModule first")
        self.env = WineEnv.active
        self.env.restore_state()

    def check_box(self, box, message, caption, icon, owner):
        """A message box with its one OK button."""
        self.assertEqual(box["class"], "#32770")
        self.assertEqual(box["message"], message)
        self.assertEqual(box["text"], caption)
        self.assertEqual(box["icon"], icon, "icon pixels %s" % box["icon_pixels"])
        self.assertEqual(box["owner"], owner)
        self.assertEqual([(b["id"], b["text"]) for b in box["buttons"]], [(IDOK, "OK")])

    def check_error_box(self, app, kit, module=ENGLISH):
        """The "Error" box of a module that cannot be loaded, the program's
        one window; its OK ends the program.  Returns the box's text."""
        box = app.msgbox(app.wait_window("Error"))
        self.check_box(box, load_error(kit, module), "Error", "stop", 0)
        self.assertEqual([w["text"] for w in app.visible_windows()], ["Error"])
        app.end_with(box, IDOK)
        return box["message"]

    def assert_code_page_932(self):
        """Code page 932 is what the locale gives, and CP932_CHAR ends in the
        backslash code there: otherwise a test of it passes for nothing."""
        acp = self.env.module_string(ENGLISH, IDS_STEP1, lang=CP932_LANG)["acp"]
        self.assertEqual(acp, 932, "the locale %s gives code page %d" % (CP932_LANG, acp))
        self.assertEqual(CP932_CHAR.encode("cp932"), b"\x95\x5c")


class AppRun:
    """One start of the program from C:\\kits\\<name>, as a context manager.

    modules, extra, exe_source, exe: the kit as Machine.lay_out_kit lays it
    out (default: every module, the kit's Wirenest.exe); settings: values
    under the settings key; lang: the locale; wine_debug: WINEDEBUG (e.g.
    "trace+reg"); version: the Windows version Wine reports to the program
    (winxp, win2k, win10, win98, win31); record_state: machine_state() just
    before the start, for machine_changes(); dll_overrides: added to
    WINEDLLOVERRIDES; alone: no other process of the prefix runs at the
    start, so the program brings up the desktop itself; server_trace: a
    server of the run's own traces every request into the program's output."""

    def __init__(self, env, name, modules=MODULES, extra=None, settings=None, lang=None, exe=EXE_NAME,
                 wine_debug="-all", version=None, record_state=False, exe_source=None, dll_overrides="",
                 alone=False, server_trace=False):
        self.env, self.name, self.modules, self.extra, self.settings = env, name, modules, extra, settings or {}
        self.lang, self.exe, self.wine_debug, self.version = lang, exe, wine_debug, version
        self.record_state, self.exe_source, self.dll_overrides = record_state, exe_source, dll_overrides
        self.alone, self.server_trace = alone, server_trace
        self.state_before = self.proc = self.server = None
        self.kit = env.drive_c("kits", name)
        self.kit_windows = "C:\\kits\\" + name
        self.log_path = os.path.join(env.logs, name + ".wine.log")

    def __enter__(self):
        env = self.env
        env.reset_settings()
        env.lay_out_kit(self.name, self.modules, self.extra, self.exe_source, self.exe)
        env.set_settings(self.settings)
        if self.version:
            env.must("regset", self.app_defaults_key(), "Version", REG_SZ,
                     (self.version.encode("ascii") + b"\0").hex())
        if self.record_state:
            self.state_before = env.machine_state()
        if self.alone:
            env.stop_server()
            env.start_server(desktop=False)
        self._log = open(self.log_path, "wb")
        if self.server_trace:
            self._start_traced_server()
        self.proc = env.start_program(self.kit_windows + "\\" + self.exe, cwd=self.kit, lang=self.lang,
                                      wine_debug=self.wine_debug, dll_overrides=self.dll_overrides,
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
        started = lambda: "wineserver: starting" in self.wine_output()
        if not poll(lambda: self.server.poll() is not None or started(), 30) or not started():
            raise RuntimeError("the tracing Wine server did not start (exit %s)" % self.server.poll())

    def __exit__(self, exc_type, exc, tb):
        crash = crash_lines(self.wine_output())
        artifacts = os.path.join(self.env.artifacts, self.name)
        note = ""
        if exc is not None or crash:
            try:
                note = "artifacts: screenshot %s" % self.env.screenshot(artifacts + ".png")
            except Exception as e:  # the failure itself matters more than its picture
                note = "artifacts: screenshot (none: %s)" % e
        end_process(self.proc)
        if self.server or self.alone:  # the server and the desktop as every other run has them
            self.env.stop_server()
            if self.server:
                self.server.wait(60)
            self.env.start_server()
        self._log.close()
        if note:
            note += ", Wine output " + shutil.copy(self.log_path, artifacts + ".wine.log")
        os.remove(self.log_path)
        shutil.rmtree(self.kit, ignore_errors=True)
        self.env.reset_settings()
        if self.version:
            self.env.must("regdel", self.app_defaults_key())
        if exc is not None:
            exc.add_note(note)
        else:
            self.assert_no_crash(crash, note)
        return False

    def app_defaults_key(self):
        return APP_DEFAULTS + "\\" + self.exe

    def machine_changes(self):
        """What changed on drive C and in the registry since the moment
        before the start (record_state=True), one line per change."""
        if self.state_before is None:
            raise RuntimeError("start the run with record_state=True")
        return self.env.machine_changes(self.state_before)

    # ---- looking and pressing ------------------------------------------

    def wine_output(self):
        self._log.flush()
        with open(self.log_path, "r", encoding="utf-8", errors="replace") as f:
            return f.read()

    @staticmethod
    def assert_no_crash(crash, note=""):
        if crash:
            raise AssertionError("the program crashed: %s\n%s" % (crash[0], note))

    def wait_window(self, caption, timeout_ms=15000):
        """The program's visible top-level window with this caption."""
        answer = self.env.helper("wait", caption, timeout_ms, self.exe, timeout=timeout_ms / 1000 + 30,
                                 lang=self.lang)
        if not answer.get("ok"):
            code = self.proc.poll()
            raise AssertionError("no window %r of %s within %d ms (process %s): %s" % (
                caption, self.exe, timeout_ms, "running" if code is None else "ended with code %d" % code, answer))
        return answer

    def wait_box(self, dialog, timeout=15):
        """The message box of the first visible top-level window of the
        program other than the dialog (the box that a press in it brings up)."""
        others = poll(lambda: [w for w in self.visible_windows() if w["hwnd"] != dialog["hwnd"]], timeout, 0.1)
        if not others:
            raise HelperError("no box of %s within %d s; visible: %s"
                              % (self.exe, timeout, [w["text"] for w in self.visible_windows()]))
        return self.msgbox(others[0])

    def press_ok(self):
        """Presses OK in the dialog; returns the dialog and the box it brings."""
        dialog = self.wait_window("Wirenest")
        self.click(dialog, IDOK)
        return dialog, self.wait_box(dialog)

    def visible_windows(self):
        """The program's visible top-level windows."""
        return [w for w in self.env.must("windows", self.exe, lang=self.lang)["windows"] if w["visible"]]

    def text(self, window, control_id):
        return self.env.must("text", window["hwnd"], control_id)["text"]

    def lines(self, dialog):
        """The instruction lines the installer dialog shows."""
        return [self.text(dialog, IDC_STEP1_TEXT), self.text(dialog, IDC_STEP2_TEXT)]

    def msgbox(self, window):
        return self.env.must("msgbox", window["hwnd"])

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
        self.assert_no_crash(crash_lines(self.wine_output()))
        return code


# ---- the demo and the end of a run ------------------------------------------

def demo(kit_dir, helper, work_dir, out_dir):
    """Starts the installer on a kit.  With DISPLAY set the user drives the
    real window and this waits until it ends; without, it runs on a private
    X server, saves a screenshot of the dialog, presses OK, saves one of the
    result box, presses its OK and waits for the end."""
    display = os.environ.get("DISPLAY")
    env = WineEnv(kit_dir, helper, work_dir, display=display).start(fresh_artifacts=False)
    try:
        if env.prefix_seconds is not None:
            print("Wine prefix created in %.1f s" % env.prefix_seconds)
        with env.run("demo", extra=env.package()) as app:
            if display:
                print("Wirenest is running on %s, in Wine's desktop window; this ends when it does." % display)
                return app.proc.wait()
            out_dir = os.path.abspath(out_dir)
            os.makedirs(out_dir, exist_ok=True)
            dialog = app.wait_window("Wirenest", 20000)
            time.sleep(1)  # the caption turns active a moment after the window shows
            dialog_png = env.screenshot(os.path.join(out_dir, "dialog.png"))
            app.click(dialog, IDOK)  # install
            box = app.wait_box(dialog, 30)
            time.sleep(0.5)  # let the box finish painting
            result_png = env.screenshot(os.path.join(out_dir, "result.png"))
            code = app.end_with(box, IDOK)
        print("Screenshot of the dialog:     %s" % dialog_png)
        print("Screenshot of the result box: %s" % result_png)
        print("Pressed OK; the result box said %r; Wirenest ended with code %d." % (box["message"], code))
        print("Installed into %s" % env.drive_c(TARGET_ROOT))
        return 0
    finally:
        env.stop()


def leftovers(work_dir):
    """What a session of this work folder left running: any process of its
    Wine prefix (wineserver included) and any Xvfb it started.  Waits for
    a running session to end first."""
    work_dir = os.path.abspath(work_dir)
    if not os.path.isdir(work_dir):
        return []  # no session ever ran here (e.g. only other labels ran)
    lock = lock_session(work_dir)
    try:
        found = []
        markers = {os.fsencode("WINEPREFIX=" + os.path.join(work_dir, "prefix")): "process",
                   os.fsencode("%s=%s" % (SESSION_VARIABLE, work_dir)): "Xvfb"}
        # A process in another root (the Debian 13 root of the same clone)
        # may name the same paths: only this root's count.
        root = lambda pid: (lambda st: (st.st_dev, st.st_ino))(os.stat("/proc/%s/root" % pid))
        ours = root("self")
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if root(pid) != ours:
                    continue
                environ = read("/proc/%s/environ" % pid).split(b"\0")
                cmdline = read("/proc/%s/cmdline" % pid).replace(b"\0", b" ").decode("utf-8", "replace").strip()
            except OSError:  # ended meanwhile, or not ours to read
                continue
            found += ["%s %s: %s" % (what, pid, cmdline) for marker, what in markers.items() if marker in environ]
        return found
    finally:
        lock.close()


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description="Wine environment for Wirenest")
    parser.add_argument("command", choices=["demo", "leftovers"])
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
        left = [item for work in (build_path(a.work), os.path.join(build_path(a.work), WOW64_WORK))
                for item in leftovers(work)]
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
    sys.exit(demo(a.kit, a.helper, work, a.out or os.path.join(parent, "demo")))
