"""The two downloads: Wirenest-kit.zip holds the executable and the text on
where the maker's files go; Wirenest-demo-kit.zip a whole kit of our sample
files.  Both hold exactly the files of the build, nothing stale.  Environment
(set by CTest): WIRENEST_KIT_DIR (the kit) and WIRENEST_ZIP_DIR (the archives)."""

import os
import unittest
import zipfile

from test_reproducible import SOURCE, read  # which puts tests/e2e on the path
from facts import MODULES, PACKAGE, PACKAGE_FILES  # noqa: E402


class KitArchives(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.kit = os.environ["WIRENEST_KIT_DIR"]
        cls.zips = os.environ["WIRENEST_ZIP_DIR"]

    def open(self, name):
        z = zipfile.ZipFile(os.path.join(self.zips, name))
        self.addCleanup(z.close)
        self.assertIsNone(z.testzip(), "%s has a damaged entry" % name)
        return z

    def files(self, z):
        return sorted(n for n in z.namelist() if not n.endswith("/"))

    def assert_text_for_windows(self, z, name):
        data = z.read(name)
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "%s has bare LF line ends" % name)
        data.decode("ascii")  # Notepad on any code page shows plain ASCII alike

    def test_kit_holds_the_executable_and_where_the_maker_files_go(self):
        z = self.open("Wirenest-kit.zip")
        self.assertEqual(["Wirenest/README.txt", "Wirenest/Wirenest.exe"], self.files(z))
        self.assertEqual(read(os.path.join(self.kit, "Wirenest.exe")), z.read("Wirenest/Wirenest.exe"))
        self.assert_text_for_windows(z, "Wirenest/README.txt")
        text = z.read("Wirenest/README.txt").decode("ascii")
        for name in MODULES + (PACKAGE,) + PACKAGE_FILES:
            self.assertIn(name, text, "the kit's text does not say where %s goes" % name)

    def test_demo_kit_holds_the_sample_kit(self):
        z = self.open("Wirenest-demo-kit.zip")
        expected = {"Wirenest-demo/Wirenest.exe": os.path.join(self.kit, "Wirenest.exe")}
        expected.update(("Wirenest-demo/" + m, os.path.join(self.kit, m)) for m in MODULES)
        expected.update(("Wirenest-demo/%s/%s" % (PACKAGE, f), os.path.join(SOURCE, "sample-kit", PACKAGE, f))
                        for f in PACKAGE_FILES)
        self.assertEqual(sorted(list(expected) + ["Wirenest-demo/README.txt"]), self.files(z))
        for name, source in sorted(expected.items()):
            with self.subTest(entry=name):
                self.assertEqual(read(source), z.read(name))
        self.assert_text_for_windows(z, "Wirenest-demo/README.txt")

    def test_entries_unpack_as_plain_files_and_folders(self):
        for archive in ("Wirenest-kit.zip", "Wirenest-demo-kit.zip"):
            z = self.open(archive)
            for info in z.infolist():
                with self.subTest(archive=archive, entry=info.filename):
                    self.assertFalse(info.filename.startswith("/") or ".." in info.filename.split("/"))
                    mode = info.external_attr >> 16
                    self.assertEqual(0o040755 if info.is_dir() else 0o100644, mode, oct(mode))


if __name__ == "__main__":
    unittest.main()
