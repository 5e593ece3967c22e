"""Start-up of the real Wirenest.exe under Wine: the installer dialog, the
choice of the language module from the registry, and the error box when
the module cannot be loaded.

Expected texts are read from the modules themselves (wnagent loadstring),
never written down here."""

import os
import re
import unittest

import winenv
from facts import (CP932_CHAR, CP932_LANG, ENGLISH, IDC_STEP1_TEXT, IDCANCEL, IDOK, IDS_STEP1, IDS_STEP2,
                   INSTALLER_EXSTYLE, INSTALLER_STYLE, MODULES, NOT_ENGLISH, REG_BINARY, REG_SZ, SYSTEM_ADDED_STYLE,
                   TEMPLATE_STEP1, TEMPLATE_STEP2, dword, sz)

env = None
setUpModule, tearDownModule = winenv.module_fixtures(globals())


class InstallerDialogTest(winenv.TestCase):
    """The dialog as it opens without any settings, and how it ends."""

    def test_no_settings_key(self):
        step1, step2 = env.module_lines(ENGLISH)
        # Otherwise a dialog that kept its template texts would pass.
        self.assertNotEqual(step1, TEMPLATE_STEP1, "sample module line 1 equals the template's")
        self.assertNotEqual(step2, TEMPLATE_STEP2, "sample module line 2 equals the template's")

        with env.run("nokey") as app:
            dlg = app.wait_window("Wirenest")
            self.assertEqual(dlg["class"], "#32770")
            self.assertEqual(dlg["style"], INSTALLER_STYLE | SYSTEM_ADDED_STYLE, "style 0x%08x" % dlg["style"])
            self.assertTrue(dlg["exstyle"] & INSTALLER_EXSTYLE, "exstyle 0x%08x" % dlg["exstyle"])
            self.assertEqual(dlg["owner"], 0)
            self.assertTrue(dlg["centred_workarea"], "rect %s, work area %s" % (dlg["rect"], dlg["workarea"]))
            self.assertEqual(app.lines(dlg), [step1, step2])

            focus = app.focus(dlg).get("window", {})
            self.assertEqual((focus.get("id"), focus.get("text")), (IDOK, "OK"), "focus: %s" % focus)

            self.assertEqual([w["text"] for w in app.visible_windows()], ["Wirenest"])

            app.end_with(dlg, IDCANCEL)

    def test_setupapi_from_the_system_folder(self):
        # By full path from GetSystemDirectoryA's C:\windows\system32, which
        # WoW64 redirects to syswow64: what Wine maps for the program shows it
        # (GetModuleFileName and the loaddll trace say system32 either way).
        with env.run("sysdir", wine_debug="trace+module") as app:
            app.end_with(app.wait_window("Wirenest"), IDCANCEL)
            mapped = [(tid, path.replace("\\\\", "\\").lower()) for tid, path in re.findall(
                r'^(\w+):trace:module:map_image_into_view mapping PE file L"(.*?)"', app.wine_output(), re.M)]
        # A 64-bit loader maps the PE32 too before it hands it on.
        program = {tid for tid, path in mapped if path.endswith("\\sysdir\\wirenest.exe")}
        setupapi = [path for tid, path in mapped if tid in program and path.endswith("\\setupapi.dll")]
        folder = "syswow64" if winenv.select_wine().wow64 else "system32"
        self.assertEqual(setupapi, ["\\??\\c:\\windows\\%s\\setupapi.dll" % folder], program)

    def test_cancel_and_escape_end_program_writing_nothing(self):
        # Every file and folder on drive C (the kit included) and the whole
        # registry, compared from the moment before the start to the end.
        settings = {"PrimLangID": dword(10), "SubLangID": dword(3)}
        for kit, press in (("cancel", lambda app, dlg: app.click(dlg, IDCANCEL)),
                           ("escape", lambda app, dlg: app.key(dlg, "escape"))):
            with self.subTest(kit=kit):
                with env.run(kit, settings=settings, record_state=True) as app:
                    press(app, app.wait_window("Wirenest"))
                    app.wait_exit()
                    self.assertEqual(app.machine_changes(), [])

    def test_module_without_instruction_lines(self):
        # Empty strings replace the template's texts too.
        nolines = os.environ["WNNOLINES"]
        self.assertEqual(env.module_string(nolines, IDS_STEP1)["text"], "")
        with env.run("nolines", modules=[], extra={ENGLISH: nolines}) as app:
            dlg = app.wait_window("Wirenest")
            self.assertEqual(app.lines(dlg), ["", ""])
            app.end_with(dlg, IDCANCEL)


class MissingModuleTest(winenv.TestCase):
    """A module that cannot be loaded: the error box, then the end."""

    def test_english_module_absent(self):
        with env.run("noeng", modules=NOT_ENGLISH) as app:
            self.check_error_box(app, "noeng")

    def test_chosen_module_absent(self):
        # No fallback to English when the chosen module is missing.
        settings = {"PrimLangID": dword(4), "SubLangID": dword(1)}
        with env.run("nocht", modules=[ENGLISH], settings=settings) as app:
            self.check_error_box(app, "nocht", "DravikChtRes.dll")

    def test_unloadable_english_module(self):
        cases = (("empty", b""), ("text", b"This is a text file, not a module.\r\n"), ("folder", None))
        for kit, source in cases:
            with self.subTest(kind=kit):
                with env.run(kit, modules=[], extra={ENGLISH: source}) as app:
                    self.check_error_box(app, kit)


class LanguageTableTest(winenv.TestCase):
    """The two registry numbers choose the module; each case checks the
    instruction lines against the strings of the module it should choose.

    Each case runs in a locale whose ANSI code page can show the expected
    module's texts; cases that expect English run under a Chinese, Thai or
    Spanish locale where they can, to show that the locale plays no part."""

    CASES = (
        # kit, settings, expected module, locale
        ("c4_1", {"PrimLangID": dword(4), "SubLangID": dword(1)}, "DravikChtRes.dll", "zh_TW.UTF-8"),
        ("c4_2", {"PrimLangID": dword(4), "SubLangID": dword(2)}, "DravikChsRes.dll", "zh_CN.UTF-8"),
        ("c4_3", {"PrimLangID": dword(4), "SubLangID": dword(3)}, ENGLISH, "zh_CN.UTF-8"),
        ("c10_3", {"PrimLangID": dword(10), "SubLangID": dword(3)}, "DravikSpnRes.dll", None),
        ("c10_1", {"PrimLangID": dword(10), "SubLangID": dword(1)}, ENGLISH, "es_ES.UTF-8"),
        ("c30_0", {"PrimLangID": dword(30), "SubLangID": dword(0)}, "DravikThaiRes.dll", "th_TH.UTF-8"),
        ("c30_7", {"PrimLangID": dword(30), "SubLangID": dword(7)}, "DravikThaiRes.dll", "th_TH.UTF-8"),
        ("c0_0", {"PrimLangID": dword(0), "SubLangID": dword(0)}, ENGLISH, "th_TH.UTF-8"),
        # SubLangID is read only after PrimLangID was read.
        ("prim4", {"PrimLangID": dword(4)}, ENGLISH, "zh_TW.UTF-8"),
        ("sub2", {"SubLangID": dword(2)}, ENGLISH, "zh_CN.UTF-8"),
        # The type is ignored: text "4" is the bytes 34 00, the number 52.
        ("sz4", {"PrimLangID": sz("4"), "SubLangID": dword(1)}, ENGLISH, "zh_TW.UTF-8"),
        # Too long to read: whether the first four bytes (4) land in the
        # number or not, with no SubLangID read the choice is English.
        ("long", {"PrimLangID": (REG_BINARY, bytes([4, 0, 0, 0, 0])), "SubLangID": dword(2)},
         ENGLISH, "zh_CN.UTF-8"),
        # Two bytes are a number too.
        ("short", {"PrimLangID": (REG_BINARY, bytes([30, 0]))}, "DravikThaiRes.dll", "th_TH.UTF-8"),
    )

    expected = {}  # (module, locale): lines, read once

    def expected_lines(self, module, lang):
        """Lines 1 and 2 as the program shows them in that locale."""
        key = (module, lang)
        if key not in self.expected:
            lines = [env.module_string(module, i, lang=lang) for i in (IDS_STEP1, IDS_STEP2)]
            for line in lines:
                # A line the code page cannot show would match any module
                # that turns into the same question marks.
                self.assertEqual(line["ansi"], line["text"],
                                 "%s cannot be shown in %s (code page %d)" % (module, lang, line["acp"]))
            self.expected[key] = [line["text"] for line in lines]
        return self.expected[key]

    def test_sample_modules_are_distinct(self):
        lines = {m: env.module_string(m, IDS_STEP1)["text"] for m in MODULES}
        self.assertEqual(len(set(lines.values())), len(lines), "line 1 of each module: %s" % lines)

    def test_settings_choose_module(self):
        for kit, settings, module, lang in self.CASES:
            with self.subTest(kit=kit, module=module):
                lines = self.expected_lines(module, lang)
                with env.run(kit, settings=settings, lang=lang) as app:
                    dlg = app.wait_window("Wirenest")
                    self.assertEqual(app.lines(dlg), lines)
                    app.end_with(dlg, IDCANCEL)


class SettingsReadTest(winenv.TestCase):
    """How the settings are read, seen in Wine's registry trace: a
    missing or unreadable PrimLangID stops the reading, and nothing is
    ever written to the key."""

    @staticmethod
    def queries(output, value):
        return [l for l in output.splitlines() if "RegQueryValueExA" in l and '"%s"' % value in l]

    def test_sub_lang_id_read_only_after_prim_lang_id(self):
        cases = (
            ("rboth", {"PrimLangID": dword(4), "SubLangID": dword(2)}, 1),
            ("rnoprim", {"SubLangID": dword(2)}, 0),
            ("rlong", {"PrimLangID": (REG_BINARY, bytes(5)), "SubLangID": dword(2)}, 0),
            # Text is stored as given, without a terminator: four bytes, a number.
            ("rtext", {"PrimLangID": (REG_SZ, b"\x04\x00\x00\x01"), "SubLangID": dword(2)}, 1),
        )
        for kit, settings, expected in cases:
            with self.subTest(kit=kit):
                with env.run(kit, settings=settings, wine_debug="trace+reg") as app:
                    dlg = app.wait_window("Wirenest")
                    output = app.wine_output()
                    # The trace proves anything only if it shows the first read.
                    self.assertEqual(len(self.queries(output, "PrimLangID")), 1)
                    sub = self.queries(output, "SubLangID")
                    self.assertEqual(len(sub), expected, "SubLangID reads: %s" % sub)
                    app.end_with(dlg, IDCANCEL)

    def test_settings_never_written(self):
        settings = {"PrimLangID": dword(10), "SubLangID": dword(3)}
        with env.run("rwrite", settings=settings, wine_debug="trace+reg") as app:
            app.end_with(app.wait_window("Wirenest"), IDCANCEL)
            output = app.wine_output()
        self.assertTrue(self.queries(output, "SubLangID"), "no registry trace in the output")
        writes = [l for l in output.splitlines() if ("NtCreateKey" in l and "Ombrel" in l)
                  or (("NtSetValueKey" in l or "NtDeleteValueKey" in l) and ("PrimLangID" in l or "SubLangID" in l))]
        self.assertEqual(writes, [])


class CodePage932Test(winenv.TestCase):
    """Code page 932: the executable is C:\\kits\\Kit表\\表.exe (CP932_CHAR), whose
    last 0x5C byte lies inside the file name: a cut there would look for the
    module in C:\\kits\\Kit表\\<0x95>."""

    LANG = CP932_LANG
    KIT, EXE = "Kit" + CP932_CHAR, CP932_CHAR + ".exe"

    def setUp(self):
        super().setUp()
        self.assert_code_page_932()

    def test_module_found_beside_double_byte_name(self):
        # The long line's double-byte character takes bytes 255 and 256:
        # LoadStringA into 256 bytes returns 254 of its 300.
        long_line = env.module_string(os.environ["WNLONGLINE"], IDS_STEP1, lang=self.LANG)["text"].encode("cp932")
        self.assertEqual((len(long_line), long_line[:254].isascii(), len(long_line[254:256].decode("cp932"))),
                         (300, True, 1), long_line)
        for module in (os.path.join(env.kit_dir, ENGLISH), os.environ["WNLONGLINE"]):
            with self.subTest(module=os.path.basename(module)):
                lines = env.module_lines(module, lang=self.LANG)
                with env.run(self.KIT, exe=self.EXE, modules=[], extra={ENGLISH: module}, lang=self.LANG) as app:
                    dlg = app.wait_window("Wirenest")
                    self.assertEqual(app.lines(dlg), lines)
                    app.end_with(dlg, IDCANCEL)

    def test_program_sees_the_double_byte_path(self):
        # The error box carries the path the program built from its own
        # name: it shows which bytes the program got and where it cut them.
        # Without a real ja_JP locale Wine hands over other bytes, and this
        # fails instead of passing for nothing.
        with env.run(self.KIT, exe=self.EXE, modules=NOT_ENGLISH, lang=self.LANG) as app:
            message = self.check_error_box(app, self.KIT)
            self.assertIn(b"\\Kit\x95\x5c\\DravikEngRes.dll", message.encode("cp932"), message)


class WindowsVersionTest(winenv.TestCase):
    """The dialog on each NT version that Wine can report to the program
    (the per-program setting); Wine's version trace shows what the program
    was told."""

    VERSIONS = (("winxp", "5.1"), ("win2k", "5.0"), ("win10", "10.0"))

    def test_dialog_on_nt_versions(self):
        step1 = env.module_string(ENGLISH, IDS_STEP1)["text"]
        for version, number in self.VERSIONS:
            with self.subTest(version=version):
                with env.run("v" + version, version=version, wine_debug="trace+ver,+loaddll") as app:
                    dlg = app.wait_window("Wirenest")
                    # The program's own thread: a Wine process that starts
                    # meanwhile traces the version it was told too.
                    output = app.wine_output()
                    program = set(re.findall(r"^(\w+):trace:loaddll:.*kits\\+v%s\\" % version, output, re.M))
                    told = [l for l in output.splitlines() if "version_init got" in l and l.split(":")[0] in program]
                    self.assertEqual(len(told), 1, told)
                    self.assertIn("got %s platform 2 " % number, told[0])
                    self.assertEqual(dlg["style"], INSTALLER_STYLE | SYSTEM_ADDED_STYLE, "style 0x%08x" % dlg["style"])
                    self.assertEqual(app.text(dlg, IDC_STEP1_TEXT), step1)
                    app.end_with(dlg, IDCANCEL)


if __name__ == "__main__":
    unittest.main()
