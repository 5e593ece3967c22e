"""What the built Wirenest.exe tells about itself, read under Wine as
Windows reads it (wnagent: version API, resource API, dialog manager): the
version block, the manifest, both dialog templates, the icon group, and the
version 6 common controls that the manifest makes the process bind.  Every
expected value is written here or in facts.py, never read back from the
resource script."""

import os
import unittest

import winenv
from facts import (ABOUT_STYLE, ABOUT_VERSION, COPYRIGHT, EXE_NAME, IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDCANCEL,
                   IDD_ABOUT, IDD_INSTALLER, IDI_APP, IDOK, INSTALLER_EXSTYLE, INSTALLER_STYLE, RT_DIALOG,
                   RT_GROUP_ICON, RT_MANIFEST, RT_VERSION, SHIPPED_ARCH, SYSTEM_ADDED_STYLE, TEMPLATE_STEP1,
                   TEMPLATE_STEP2, X64_ARCH)

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

LANG_EN_US, LANG_ZH_TW = 1033, 1028

VERSION_STRINGS = [  # in block order
    ("Comments", ""), ("CompanyName", "Ombrel Mobile"), ("FileDescription", ""), ("FileVersion", "1, 0, 0, 0"),
    ("InternalName", "Wirenest"), ("LegalCopyright", COPYRIGHT), ("LegalTrademarks", ""),
    ("OriginalFilename", "Wirenest.exe"), ("PrivateBuild", ""), ("ProductName", "Wirenest Application"),
    ("ProductVersion", "1, 0, 0, 0"), ("SpecialBuild", ""),
]

MANIFEST = b"\r\n".join([
    b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
    b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
    b'\t<assemblyIdentity version="0.1.0.0" processorArchitecture="X86" name="Ombrel.Wirenest" type="win32"/>',
    b'\t<description>Ombrel Wirenest Application</description>',
    b'\t<dependency>',
    b'\t\t<dependentAssembly>',
    b'\t\t\t<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'
    b' processorArchitecture="X86" publicKeyToken="6595b64144ccf1df" language="*"/>',
    b'\t\t</dependentAssembly>',
    b'\t</dependency>',
    b'</assembly>',
    b'<!-- Generated file: the application manifest of Wirenest.exe. -->',
    b'',
])

def manifest_of_this_build(shipped):
    """The x86_64 build's differs in the processor alone: still byte for byte."""
    return shipped if winenv.select_wine().runs_32bit else shipped.replace(SHIPPED_ARCH, X64_ARCH)


# Windows adds these to every top-level dialog's extended style (measured
# the same under Wine): WS_EX_DLGMODALFRAME (from DS_MODALFRAME) |
# WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT.
SYSTEM_ADDED_EXSTYLE = 0x00000001 | 0x00000100 | 0x00010000
# ... and WS_EX_NOPARENTNOTIFY to every control.
CONTROL_ADDED_EXSTYLE = 0x00000004
SS_ICON = 0x3

# A classic template stores a control id in 16 bits: IDC_STATIC (-1) is 0xFFFF.
IDC_STATIC_CLASSIC = 0xFFFF

ABOUT = {
    "caption": "About Wirenest", "font": ("Arial", 8, 0, 0, 1), "size": (256, 60), "style": ABOUT_STYLE, "exstyle": 0,
    "controls": [
        ("Static", IDC_STATIC_CLASSIC, None, 0x50000003, (9, 12, 21, 20)),  # icon IDI_APP
        ("Static", IDC_STATIC_CLASSIC, ABOUT_VERSION, 0x50020080, (37, 11, 192, 11)),
        ("Static", IDC_STATIC_CLASSIC, COPYRIGHT, 0x50020000, (37, 25, 183, 11)),
        ("Button", IDOK, "OK", 0x50030001, (189, 40, 60, 13)),
    ],
}

INSTALLER = {
    "caption": "Wirenest", "font": ("Arial", 9, 0, 0, 1), "size": (265, 64),
    "style": INSTALLER_STYLE, "exstyle": INSTALLER_EXSTYLE,
    "controls": [
        ("Button", IDOK, "OK", 0x50010001, (130, 44, 60, 13)),
        ("Button", IDCANCEL, "Cancel", 0x50010000, (193, 44, 60, 13)),
        ("Static", IDC_STEP1_TEXT, TEMPLATE_STEP1, 0x50020000, (10, 8, 213, 11)),
        ("Static", IDC_STEP2_TEXT, TEMPLATE_STEP2, 0x50020000, (10, 25, 213, 11)),
    ],
}


def comctl6_folder():
    """The side-by-side folder, named after the processor the process runs as."""
    return (("x86" if winenv.select_wine().runs_32bit else "amd64")
            + "_microsoft.windows.common-controls_6595b64144ccf1df_6.0.")


env = None
setUpModule, tearDownModule = winenv.module_fixtures(globals())


def kit_exe():
    return winenv.windows_path(os.path.join(env.kit_dir, EXE_NAME))


def muldiv(a, b, c):
    """Windows' MulDiv for non-negative values: rounds halves up."""
    return (a * b + c // 2) // c


class VersionBlockTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.info = env.must("version", kit_exe())

    def test_fixed_part_and_translation(self):
        i = self.info
        self.assertEqual(i["signature"], 0xFEEF04BD)
        observed = {k: i[k] for k in ("file_version", "product_version", "flags_mask", "flags",
                                      "os", "type", "subtype", "date")}
        self.assertEqual(observed, {
            "file_version": [1, 0, 0, 0], "product_version": [1, 0, 0, 0], "flags_mask": 0x3F,
            "flags": 0, "os": 0x4, "type": 0x1, "subtype": 0, "date": [0, 0]})
        self.assertEqual(i["translations"], [[0x0409, 0x04B0]])

    def test_strings_in_block_order(self):
        strings = dict(self.info["strings"])
        for key, value in VERSION_STRINGS:
            with self.subTest(key=key):
                self.assertEqual(strings.get(key), value, "VerQueryValueA \\StringFileInfo\\040904b0\\%s" % key)
        self.assertEqual([k for k, _ in self.info["strings"]], [k for k, _ in VERSION_STRINGS])


class ResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.listed = env.must("resources", kit_exe())["resources"]

    def test_languages_and_one_manifest_one_version_block(self):
        expected = {(RT_MANIFEST, 1): [LANG_ZH_TW], (RT_VERSION, 1): [LANG_EN_US],
                    (RT_DIALOG, IDD_ABOUT): [LANG_EN_US], (RT_DIALOG, IDD_INSTALLER): [LANG_EN_US],
                    (RT_GROUP_ICON, IDI_APP): [LANG_ZH_TW]}
        for (rtype, name), langs in expected.items():
            with self.subTest(type=rtype, name=name):
                self.assertEqual([r["lang"] for r in self.listed if (r["type"], r["name"]) == (rtype, name)], langs,
                                 self.listed)
        for rtype in (RT_MANIFEST, RT_VERSION):  # one of each
            self.assertEqual([r["name"] for r in self.listed if r["type"] == rtype], [1], self.listed)

    @staticmethod
    def manifest():
        return bytes.fromhex(env.must("resource", kit_exe(), RT_MANIFEST, 1, LANG_ZH_TW)["bytes"])

    def test_manifest_bytes(self):
        data = self.manifest()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), "byte-order mark")
        lines = data.split(b"\n")
        self.assertEqual(lines[-1], b"", "the last line has no line end")
        for n, line in enumerate(lines[:-1], 1):
            with self.subTest(line=n):
                self.assertTrue(line.endswith(b"\r"), "line %d ends without CR LF: %r" % (n, line))
        self.assertEqual(data, manifest_of_this_build(MANIFEST))

    def test_manifest_is_the_file_in_res(self):
        shipped = winenv.read(os.path.join(REPO, "res", "Wirenest.manifest"))
        self.assertEqual(shipped.count(SHIPPED_ARCH), 2, "res/Wirenest.manifest names processor x86 twice")
        self.assertEqual(self.manifest(), manifest_of_this_build(shipped))

    def test_icon_group_of_two_16_colour_images(self):
        g = env.must("icongroup", kit_exe(), IDI_APP, LANG_ZH_TW)
        self.assertEqual(g["type"], 1, "not an icon group")
        self.assertEqual([(e["width"], e["height"], e["bits"], e["planes"], e["colors"]) for e in g["entries"]],
                         [(32, 32, 4, 1, 16), (16, 16, 4, 1, 16)], g)
        for e in g["entries"]:
            with self.subTest(id=e["id"]):
                self.assertIsNotNone(e["image"], "the system made no icon from image %d" % e["id"])
                self.assertEqual((e["image"]["width"], e["image"]["height"], e["image"]["header_bits"]),
                                 (e["width"], e["height"], 4), e["image"])
        # The system's own choice of image for each size.
        ids = {(e["width"], e["height"]): e["id"] for e in g["entries"]}
        self.assertEqual((g["pick_32"], g["pick_16"]), (ids[(32, 32)], ids[(16, 16)]))


class DialogTemplateTest(unittest.TestCase):
    """Each template as the dialog manager builds it (CreateDialogParam,
    rectangles through MapDialogRect)."""

    def check_dialog(self, template_id, want):
        d = env.must("dialog", kit_exe(), template_id)
        bx, by = d["base"]
        self.assertEqual(d["caption"], want["caption"])
        self.assertEqual(d["style"], want["style"] | SYSTEM_ADDED_STYLE, "style 0x%08x" % d["style"])
        self.assertEqual(d["exstyle"], want["exstyle"] | SYSTEM_ADDED_EXSTYLE, "exstyle 0x%08x" % d["exstyle"])

        face, points, weight, italic, charset = want["font"]
        f = d["font"]
        self.assertEqual((f["face"], f["weight"], f["italic"], f["charset"]), (face, weight, italic, charset))
        self.assertEqual(f["height"], -muldiv(points, f["dpi"], 72), "font %s" % f)

        cx, cy = want["size"]
        self.assertEqual(d["client"], [muldiv(cx, bx, 4), muldiv(cy, by, 8)], "base units %s" % d["base"])
        self.assertEqual(d["window"][:2], [0, 0], "a template at 0, 0, created without owner")

        self.assertEqual(len(d["controls"]), len(want["controls"]), d["controls"])
        for n, (cls, cid, text, style, (x, y, w, h)) in enumerate(want["controls"]):
            c = d["controls"][n]
            with self.subTest(control=n):
                self.assertEqual((c["class"], c["id"]), (cls, cid))
                self.assertEqual(c["style"], style, "style 0x%08x" % c["style"])
                self.assertEqual(c["exstyle"], CONTROL_ADDED_EXSTYLE, "exstyle 0x%08x" % c["exstyle"])
                left, top = muldiv(x, bx, 4), muldiv(y, by, 8)
                if style & 0x1F == SS_ICON and cls == "Static":
                    # An icon static sizes itself to its icon, whatever the
                    # template says: only its position can be seen.
                    self.assertTrue(c["icon_is_128"], "the control does not show IDI_APP: %s" % c)
                    self.assertEqual(c["rect"], [left, top, left + c["icon_size"][0], top + c["icon_size"][1]])
                    self.assertEqual(c["icon_size"], [32, 32])
                else:
                    self.assertEqual(c["text"], text)
                    self.assertEqual(c["rect"], [left, top, left + muldiv(w, bx, 4), top + muldiv(h, by, 8)],
                                     "base units %s" % d["base"])

    def test_about_box(self):
        self.check_dialog(IDD_ABOUT, ABOUT)

    def test_installer_dialog(self):
        self.check_dialog(IDD_INSTALLER, INSTALLER)


class CommonControlsTest(unittest.TestCase):
    """Which comctl32 the running program bound: Wirenest imports none, the
    dialog's buttons make user32 load the one the manifest's dependency
    names, version 6 from the side-by-side store.  Wine's one comctl32
    reports 5.81 for either assembly, so the folder it was loaded from
    tells; the executable whose manifest names no dependency is the
    control case."""

    def comctl32_of_running(self, name, exe_source=None):
        with env.run(name, exe_source=exe_source) as app:
            dlg = app.wait_window("Wirenest")
            modules = env.must("modules", EXE_NAME)["modules"]
            app.end_with(dlg, IDCANCEL)
        return [m for m in modules if m["name"].lower() == "comctl32.dll"]

    def test_version_6_bound(self):
        loaded = self.comctl32_of_running("comctl6")
        self.assertEqual(len(loaded), 1, "comctl32 modules: %s" % loaded)
        folder = loaded[0]["path"].lower().split("\\")[-2]
        self.assertTrue(folder.startswith(comctl6_folder()), "comctl32 loaded from %s" % loaded[0]["path"])

    def test_without_the_dependency_no_version_6(self):
        # The same executable, its manifest's dependency blanked out in place.
        data = winenv.read(os.path.join(env.kit_dir, EXE_NAME))
        start, end = data.index(b"<dependency>"), data.index(b"</dependency>") + len(b"</dependency>")
        self.assertEqual((data.count(b"<dependency>"), data.count(b"</dependency>")), (1, 1))
        plain = os.path.join(env.work_dir, "nodependency.exe")
        winenv.write(plain, data[:start] + b" " * (end - start) + data[end:])
        try:
            loaded = self.comctl32_of_running("comctl-none", plain)
        finally:
            os.remove(plain)
        self.assertFalse([m for m in loaded if comctl6_folder() in m["path"].lower()],
                         "version 6 bound without the dependency: %s" % loaded)


if __name__ == "__main__":
    unittest.main()
