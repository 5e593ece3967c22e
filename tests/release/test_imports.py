"""Import audit: what Wirenest.exe and the kit's language modules import,
against the reviewed list in imports.txt: a new import fails here until
someone has checked it exists in Windows 2000 and added it.  Environment
(set by CTest): WIRENEST_KIT_DIR, the kit folder."""

import os
import re
import shutil
import subprocess
import unittest

import pefile  # Debian's python3-pefile

LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "imports.txt")
OBJDUMP = "i686-w64-mingw32-objdump"

# DLLs that Windows maps from its own folder whatever lies beside the program: known DLLs on every NT
# from 2000 on (msvcrt from Windows 7 on, and before as an import of the known DLLs).  Any other static
# import is looked for beside the program first, before any of our code runs.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}


def read_imports(path):
    """{(dll, function)}; delay-loaded DLLs end in "(delay)", ordinals read "#n"."""
    image = pefile.PE(path, fast_load=True)
    image.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    found = set()
    for attribute, suffix in (("DIRECTORY_ENTRY_IMPORT", ""), ("DIRECTORY_ENTRY_DELAY_IMPORT", "(delay)")):
        for entry in getattr(image, attribute, []):
            dll = entry.dll.decode("ascii") + suffix
            for function in entry.imports:
                name = function.name.decode("ascii") if function.name else "#%d" % function.ordinal
                found.add((dll, name))
    image.close()
    return found


def reviewed_list(path=LIST):
    """{file name: {(dll, function): whether it is "optional"}} from imports.txt."""
    listed, current = {}, None
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            section = re.fullmatch(r"\[(.+)\]", line)
            if section:
                current = section.group(1)
                if current in listed:
                    raise ValueError("%s:%d: %s listed twice" % (path, number, current))
                listed[current] = {}
                continue
            dll, *functions = line.split()
            if current is None or not functions or functions[0] == "optional":
                raise ValueError("%s:%d: expected 'DLL function [optional] ...' under a [file] line: %r"
                                 % (path, number, line))
            for function, after in zip(functions, functions[1:] + [""]):
                if function != "optional":
                    listed[current][dll, function] = after == "optional"
    return listed


class ImportAudit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.kit = os.environ["WIRENEST_KIT_DIR"]
        cls.listed = reviewed_list()

    def imports_of(self, name):
        return read_imports(os.path.join(self.kit, name))

    def test_every_program_file_of_the_kit_is_audited(self):
        files = sorted(n for n in os.listdir(self.kit)
                       if n.lower().endswith((".exe", ".dll")) and os.path.isfile(os.path.join(self.kit, n)))
        self.assertEqual(sorted(self.listed), files,
                         "the kit's .exe and .dll files and the sections of imports.txt differ")

    def test_imports_match_the_reviewed_list(self):
        for name, listed in sorted(self.listed.items()):
            with self.subTest(file=name):
                actual = self.imports_of(name)
                new = sorted(actual - set(listed))
                gone = sorted({i for i, optional in listed.items() if not optional} - actual)
                self.assertFalse(new, "%s imports functions nobody has reviewed; check each exists in "
                                      "Windows 2000, then add it to imports.txt: %s" % (name, new))
                self.assertFalse(gone, "%s no longer imports these; remove them from imports.txt: %s" % (name, gone))

    def test_only_dlls_that_windows_maps_from_its_own_folder(self):
        for name in sorted(self.listed):
            with self.subTest(file=name):
                dlls = sorted({dll for dll, _ in self.imports_of(name)})
                others = [dll for dll in dlls if dll.lower() not in KNOWN_DLLS]
                self.assertEqual([], others, "%s imports DLLs that a planted copy beside it would "
                                             "replace: %s" % (name, others))

    def test_no_delay_loaded_or_ordinal_imports(self):
        # An ordinal names different functions in different DLL versions; a delay-load fails only when called.
        for name in sorted(self.listed):
            with self.subTest(file=name):
                odd = [i for i in self.imports_of(name) if i[0].endswith("(delay)") or i[1].startswith("#")]
                self.assertEqual([], odd)

    @unittest.skipUnless(shutil.which(OBJDUMP), OBJDUMP + " is not installed")
    def test_reader_agrees_with_objdump(self):
        # The audit is only as good as its PE reader: cross-check it with binutils.
        path = os.path.join(self.kit, "Wirenest.exe")
        out = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True, check=True).stdout
        seen, dll = set(), None
        for line in out.splitlines():
            m = re.match(r"\s*DLL Name: (\S+)", line)
            if m:
                dll = m.group(1)
                continue
            # "vma hint name" (binutils 2.40, hint in decimal) or "vma <none>
            # hint name" (2.44, with an ordinal column, hint in hex).
            m = re.match(r"\s+[0-9a-f]+\s+(?:<none>\s+)?[0-9a-f]+\s+(\S+)$", line)
            if m and dll:
                seen.add((dll, m.group(1)))
        self.assertTrue(seen, "no imports found in objdump's output")
        self.assertEqual(seen, self.imports_of("Wirenest.exe"))


if __name__ == "__main__":
    unittest.main()
