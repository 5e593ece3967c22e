"""Driver installation by the real Wirenest.exe under Wine: what OK does on
each platform, the folder tree and the copies on drive C, the INF in the
system's INF store, and the result box.

The INF store is Wine's %windir%\\inf.  Wine stores the INF under its own
name when that is free, so a stored copy is found by its content, never by
name.  Registration calls are counted in Wine's setupapi trace.  Expected
texts come from the language module itself (wnagent loadstring).

How the store is made to refuse (Wine runs as root, so file permissions
cannot do it): a dangling symbolic link takes the INF's own name in
C:\\windows\\inf.  Wine finds no stored copy with the same bytes, and its
copy onto the link fails with ERROR_FILE_EXISTS in both copy styles
(SetupCopyOEMInfW, measured under Wine 8 and 10), so the program rightly
tries replace-only mode too; but see test_store_refuses.

Wine keeps no DACL that it is given: GetFileSecurity afterwards answers
from the Unix mode bits.  What the program sets on the driver's folders is
read from the trace of a Wine server of the run's own (wineserver -d1,
what WINEDEBUG=+server starts): the owner and DACL that reached the server
for each path (installcheck.security_set)."""

import os
import shutil
import unittest

import winenv
from facts import (CP932_CHAR, CP932_LANG, ENGLISH, IDCANCEL, IDOK, IDS_INSTALL_FAILED, IDS_INSTALL_OK, NOT_ENGLISH,
                   PACKAGE, TARGET_FOLDER_PATH, TARGET_ROOT, TARGET_ROOT_PATH, PACKAGE_FILES as FILES)
from installcheck import InstallTestCase, registrations

ERROR_FILE_EXISTS, ERROR_INSUFFICIENT_BUFFER = 80, 122
SP_COPY_REPLACEONLY, SP_COPY_NOOVERWRITE = 0x2, 0x8

TARGET_INF = TARGET_FOLDER_PATH + "\\OMK58CDC.INF"
WINDOWS_ONLY = "For Windows only !"


# The security of the driver's folders: Administrators own them; SYSTEM and
# Administrators have full control, Users read and execute; protected from
# what C:\ passes on.  Target files already there get the same access.  As
# the server shows it: control 0x1004 is a DACL present and protected; ACE
# flags 3 pass it on to files and folders below; 1f01ff is full control.
def server_sd(ace_flags):
    aces = ",".join("{type=ACCESS_ALLOWED,flags=%d,mask=%s,sid=%s}" % (ace_flags, mask, sid)
                    for mask, sid in (("1f01ff", "S-1-5-18"), ("1f01ff", "S-1-5-32-544"),
                                      ("1200a9", "S-1-5-32-545")))
    return "control=00001004,owner=S-1-5-32-544,group=<not present>,sacl={},dacl={%s}" % aces


FOLDER_SD, FILE_SD = server_sd(3), server_sd(0)
OWNER_AND_DACL = 0x1 | 0x4  # OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
PROTECTED_FOLDERS = [(TARGET_ROOT_PATH, OWNER_AND_DACL, FOLDER_SD),
                     (TARGET_FOLDER_PATH, OWNER_AND_DACL, FOLDER_SD)]

env = None
setUpModule, tearDownModule = winenv.module_fixtures(globals())


class SamplePackageTest(unittest.TestCase):
    def test_strings_3_and_4_differ(self):
        # Otherwise a box showing the wrong one would pass.
        ok = env.module_string(ENGLISH, IDS_INSTALL_OK)["text"]
        failed = env.module_string(ENGLISH, IDS_INSTALL_FAILED)["text"]
        self.assertNotEqual(ok, "")
        self.assertNotEqual(ok, failed)


class FirstRunTest(InstallTestCase):
    def test_first_run(self):
        calls = self.install("first", IDS_INSTALL_OK, security=True)
        self.assertTrue(os.path.isdir(env.drive_c(TARGET_ROOT, PACKAGE)))
        self.check_installed()
        added = sorted(set(env.store_listing()) - set(self.store_before))
        inf_store = [name for name in added if "/" not in name]
        self.assertEqual(len(inf_store), 2, "added to the store: %s" % added)  # the INF and its .pnf
        self.check_staged(added)
        self.assertEqual(calls, [(TARGET_INF, SP_COPY_NOOVERWRITE)])
        # New copies take the folder's DACL; nothing is set on them.
        self.assertEqual(self.security, PROTECTED_FOLDERS)

    def test_renamed_executable_names_the_box(self):
        calls = self.install("renamed", IDS_INSTALL_OK, caption="K58 Setup", exe="K58 Setup.exe")
        self.assertEqual(len(calls), 1)


class SecondRunTest(InstallTestCase):
    def test_second_run(self):
        self.install("earlier", IDS_INSTALL_OK)
        self.check_installed()
        targets = {name: env.target_state(name) for name in FILES}
        calls = self.install("second", IDS_INSTALL_OK, security=True)
        self.assertEqual(calls, [(TARGET_INF, SP_COPY_NOOVERWRITE), (TARGET_INF, SP_COPY_REPLACEONLY)])
        # The earlier run's files get the folder's access too.
        self.assertEqual(self.security, PROTECTED_FOLDERS + [
            (TARGET_FOLDER_PATH + "\\" + name, OWNER_AND_DACL, FILE_SD) for name in FILES])
        for name in FILES:
            with self.subTest(file=name):
                self.assertEqual(env.target_state(name), targets[name])
        self.assertEqual(env.store_listing(), self.store_before)


class FailureTest(InstallTestCase):
    def check_nothing_registered(self, calls):
        self.assertEqual(calls, [])
        self.assertEqual(env.store_listing(), self.store_before)

    def test_package_absent_without_earlier_run(self):
        calls = self.install("nopackage", IDS_INSTALL_FAILED, extra={})
        self.assertEqual(os.listdir(env.drive_c(TARGET_ROOT, PACKAGE)), [])
        self.check_nothing_registered(calls)

    def test_file_in_the_way_of_the_package_folder(self):
        os.makedirs(env.drive_c(TARGET_ROOT))
        in_the_way = b"a file, not the package folder\r\n"
        winenv.write(env.drive_c(TARGET_ROOT, PACKAGE), in_the_way)
        calls = self.install("intheway", IDS_INSTALL_FAILED, security=True)
        self.assertEqual(winenv.read(env.drive_c(TARGET_ROOT, PACKAGE)), in_the_way)
        self.assertEqual(self.security, PROTECTED_FOLDERS[:1])  # nothing set on the file
        self.check_nothing_registered(calls)

    def test_link_at_the_root(self):
        # A link on drive C is a reparse point to Wine, as a junction is to
        # Windows: nothing may be made where it points, nor anywhere else.
        elsewhere = env.drive_c("Elsewhere")
        os.mkdir(elsewhere)
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        os.symlink("Elsewhere", env.drive_c(TARGET_ROOT))  # removed by remove_installation
        before = winenv.tree_state(env.drive_c())
        calls = self.install("linked", IDS_INSTALL_FAILED)
        changes = winenv.tree_changes(before, winenv.tree_state(env.drive_c()), "drive C")
        self.assertEqual([c for c in changes if c != "drive C: changed kits"], [])
        self.check_nothing_registered(calls)

    def test_store_refuses(self):
        store = env.store_listing()
        link = env.drive_c("windows", "inf", "OMK58CDC.INF")
        os.symlink("/nonexistent/wirenest-refuses", link)
        calls = self.install("refused", IDS_INSTALL_FAILED)
        # Wine's SetupCopyOEMInfA (dlls/setupapi/misc.c) leaves the size of
        # this early failure uninitialised and, when the stack's garbage
        # exceeds the buffer, answers 122 instead of 80: then the program
        # rightly makes no replace-only call.  Which one depends on the stack.
        first = [(TARGET_INF, SP_COPY_NOOVERWRITE)]
        self.assertIn(calls, (first, first + [(TARGET_INF, SP_COPY_REPLACEONLY)]))
        self.check_installed(stored=0)
        # Wine 10 stages the package in its driver store first and leaves it
        # there when the copy into C:\windows\inf fails (measured).
        added = set(env.store_listing()) - set(store)
        self.check_staged(added)

        # What the program was told, from the stores as it found them: both
        # copy styles refused, with 80 or that 122.
        for style in (SP_COPY_NOOVERWRITE, SP_COPY_REPLACEONLY):
            env.restore_stores(["driverstore"])
            answer = env.must("infcopy", TARGET_INF, style)
            self.assertEqual(answer["result"], 0, answer)
            self.assertIn(answer["lasterror"], (ERROR_FILE_EXISTS, ERROR_INSUFFICIENT_BUFFER), answer)
        os.remove(link)
        env.restore_stores(["driverstore"])  # what the measurement staged, as above
        self.assertEqual(env.store_listing(), store)

    def test_differing_target_is_kept(self):
        os.makedirs(env.drive_c(TARGET_ROOT, PACKAGE))
        older = b"older driver, not this package's\r\n"
        winenv.write(env.target("OMK58CDC.sys"), older)
        calls = self.install("differs", IDS_INSTALL_FAILED, security=True)
        self.assertEqual(winenv.read(env.target("OMK58CDC.sys")), older)
        # Secured as it is, then refused by the check after the copies.
        self.assertEqual(self.security, PROTECTED_FOLDERS + [
            (TARGET_FOLDER_PATH + "\\OMK58CDC.sys", OWNER_AND_DACL, FILE_SD)])
        self.check_nothing_registered(calls)


class PlatformTest(InstallTestCase):
    def drive_c_state(self):
        return sorted(os.listdir(env.drive_c())), env.store_listing()

    def setUp(self):
        super().setUp()
        self.before = self.drive_c_state()

    def test_win98_ends_quietly(self):
        with self.run_kit("win98", version="win98") as app:
            dialog = app.wait_window("Wirenest")
            app.click(dialog, IDOK)
            # A box would keep the program running: nobody closes it.
            app.wait_exit()
            self.assertEqual(registrations(app), [])
        self.assertFalse(os.path.lexists(env.drive_c(TARGET_ROOT)))
        self.assertEqual(self.drive_c_state(), self.before)

    def test_win31_stop_box_and_dialog_stays(self):
        with self.run_kit("win31", version="win31") as app:
            dialog, box = app.press_ok()
            self.check_box(box, WINDOWS_ONLY, "Wirenest", "stop", dialog["hwnd"])
            app.click(box, IDOK)
            env.must("gone", box["hwnd"], 10000)
            still = env.must("window", dialog["hwnd"])
            self.assertTrue(still["visible"] and still["enabled"], still)
            app.end_with(dialog, IDCANCEL)
            self.assertEqual(registrations(app), [])
        self.assertEqual(self.drive_c_state(), self.before)

    def test_cancel_touches_nothing(self):
        with self.run_kit("cancel") as app:
            app.end_with(app.wait_window("Wirenest"), IDCANCEL)
            self.assertEqual(registrations(app), [])
        self.assertFalse(os.path.lexists(env.drive_c(TARGET_ROOT)))
        self.assertEqual(self.drive_c_state(), self.before)


# A DLL of ours planted beside the program under each of these names, with
# Wine told to take it before its own (native first), as Windows takes a DLL
# that is not a known DLL.  version.dll stays builtin first: Wine's own
# user32 imports it (Windows' does not), so a planted one would show Wine's
# loader, not ours.
PLANTED = ("setupapi", "version", "uxtheme", "userenv", "apphelp", "propsys", "dwmapi",
           "cryptbase", "oleacc", "clbcatq", "comctl32")
NATIVE_FIRST = ",".join(n for n in PLANTED if n != "version") + "=n,b"
SC_ABOUT = 0x0010


class PlantedDllTest(InstallTestCase):
    """Each planted DLL, and a DravikEngRes.dll with the usual strings, adds
    a line to "<name>.ran" beside the program each time its DllMain runs.

    Wine 10's user32 loads uxtheme.dll by name as it attaches to any new
    process, before the process's first line (Windows maps uxtheme by full
    path), so there the planted copy runs once whatever the program does;
    Wine 8 runs none.  What Wine runs by itself is measured: the same kit,
    started the same way, around wnagent, which only says how it is used.
    The program must run nothing planted beyond that, not even once more."""

    wine_own = None

    def planted_run(self, name, exe_source=None):
        # alone: the program and the measurement both start with no process
        # left in the prefix, so that Wine does the same on its own in both.
        extra = env.package()
        extra.update({n + ".dll": os.environ["WNPLANTED"] for n in PLANTED})
        extra[ENGLISH] = os.environ["WNPLANTEDLANG"]
        return env.run(name, modules=NOT_ENGLISH, extra=extra, wine_debug="trace+setupapi",
                       dll_overrides=NATIVE_FIRST, exe_source=exe_source, alone=True)

    @staticmethod
    def markers(app):
        """{marker: how often that DLL ran}."""
        return {name: len(winenv.read(os.path.join(app.kit, name)).splitlines())
                for name in os.listdir(app.kit) if name.endswith(".ran")}

    def wine_runs_by_itself(self):
        if PlantedDllTest.wine_own is None:
            with self.planted_run("planted-by-wine", exe_source=env.helper_path) as app:
                app.wait_exit()
                ran = self.markers(app)
            self.assertEqual(ran, {"uxtheme.dll.ran": 1} if winenv.select_wine().major >= 10 else {})
            PlantedDllTest.wine_own = ran
        return PlantedDllTest.wine_own

    def test_nothing_planted_runs(self):
        wine_own = self.wine_runs_by_itself()
        with self.planted_run("planted") as app:
            dialog = app.wait_window("Wirenest")
            app.syscommand(dialog, SC_ABOUT)
            about = app.wait_window("About Wirenest", 10000)
            app.click(about, IDOK)
            env.must("gone", about["hwnd"], 5000)
            app.click(dialog, IDOK)
            box = app.wait_box(dialog)
            self.check_result_box(box, dialog, IDS_INSTALL_OK)
            app.end_with(box, IDOK)
            self.assertEqual(self.markers(app), wine_own)
            self.assertEqual(registrations(app), [(TARGET_INF, SP_COPY_NOOVERWRITE)])
        self.check_installed()

    def test_a_build_without_the_guard_runs_a_planted_dll(self):
        # So the test above can fail: the same program without its start-up
        # guard takes the planted uxtheme.dll as the dialog comes up.
        wine_own = self.wine_runs_by_itself()
        with self.planted_run("unguarded", exe_source=os.environ["WNUNGUARDED"]) as app:
            app.end_with(app.wait_window("Wirenest"), IDCANCEL)
            ran = self.markers(app)
        self.assertGreater(ran.get("uxtheme.dll.ran", 0), wine_own.get("uxtheme.dll.ran", 0), ran)


class CodePageTest(InstallTestCase):
    """Code page 932: the folder and the executable's name end in CP932_CHAR;
    cut at its second byte, the program would look for the package and the
    module in the wrong folder."""

    def test_double_byte_folder(self):
        self.assert_code_page_932()
        # The caption is the executable's name as the program cut it.
        calls = self.install("Kit" + CP932_CHAR, IDS_INSTALL_OK, caption=CP932_CHAR,
                             exe=CP932_CHAR + ".exe", lang=CP932_LANG)
        self.assertEqual(calls, [(TARGET_INF, SP_COPY_NOOVERWRITE)])
        self.check_installed()


if __name__ == "__main__":
    unittest.main()
