"""Bad input for the real Wirenest.exe under Wine: a generated matrix of
registry values (every registry type, sizes 0 to 8 bytes, random bytes)
and damaged language modules.  Every run has to end with the installer
dialog showing the lines of the module the settings choose, or with the
"Error" box naming the module that could not be loaded; never with a
crash, a hang or any other window.  Nothing on drive C and in the INF
store changes unless OK is pressed.

All runs of a group go through one wnagent sweep: it lays out the
registry for each case, starts the program, reads what it shows, presses
Cancel (or OK) and waits for the end.  Random bytes come from a fixed seed,
printed at the start; WIRENEST_SWEEP_SEED=<number> repeats another run's
matrix.  Expected lines are read from the modules themselves (wnagent
loadstring), as the program shows them in the default code page; which
module the program really loaded is read from its module list, since two
modules' lines may turn into the same question marks there."""

import json
import os
import random
import struct
import sys
import time
import unittest

import pefile  # Debian's python3-pefile

import winenv
from facts import (CHS, CHT, ENGLISH, EXE_NAME, IDS_INSTALL_OK, MODULES, REG_BINARY, REG_DWORD, REG_SZ, SETTINGS_KEY,
                   SETTINGS_ROOT, SPANISH, TARGET_ROOT, THAI, dword, load_error)
from installcheck import InstallChecks
from winenv import crash_lines

REG_TYPES = ("REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
             "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST",
             "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD")
REG_QWORD = 11
SIZES = range(0, 9)

PELMORA_KEY = SETTINGS_KEY.rsplit("\\", 1)[0]

# Two kits for the registry cases: with every module, and without two that
# the settings can choose, so both the dialog and the error box are reached.
KITS = {"full": MODULES, "partial": tuple(m for m in MODULES if m not in (CHS, THAI))}

DEFAULT_SEED = 58001
TIMEOUT_MS = 10000
EXCEPTION_CODES = 0xC0000000

env = None
seed = int(os.environ.get("WIRENEST_SWEEP_SEED") or DEFAULT_SEED)
start_env, tearDownModule = winenv.module_fixtures(globals())


def setUpModule():
    print("random bytes from seed %d (WIRENEST_SWEEP_SEED=%d repeats them)" % (seed, seed),
          file=sys.stderr, flush=True)
    start_env()


# ---- what the program must choose -----------------------------------------

SUBKEY = "a subkey"  # a key where a value is looked for


def read_number(value):
    """The number the program gets from one value, or None if it cannot be
    read: absent, not a value, or longer than the 4 bytes of a number (the
    type plays no part; shorter values fill the low bytes)."""
    if not isinstance(value, tuple) or len(value[1]) > 4:
        return None
    return int.from_bytes(value[1], "little")


def chosen_module(values):
    """The module the settings choose; values: {name: (type, bytes) or
    SUBKEY} under the settings key, names in any case.  SubLangID counts
    only when PrimLangID was read."""
    values = {name.lower(): v for name, v in values.items()}
    prim = read_number(values.get("primlangid"))
    sub = read_number(values.get("sublangid")) if prim is not None else None
    prim, sub = prim or 0, sub or 0
    if prim == 30:
        return THAI
    return {(4, 1): CHT, (4, 2): CHS, (10, 3): SPANISH}.get((prim, sub), ENGLISH)


def describe_value(value):
    if value == SUBKEY:
        return SUBKEY
    kind, data = value
    return "%s %d bytes %s" % (REG_TYPES[kind] if kind < len(REG_TYPES) else kind, len(data), data.hex() or "-")


class Case:
    """One run: the registry layout before it, the kit it runs from, what
    to press, and what it must show (module and "dialog" or "error").
    values: the settings key's values (None: no settings key); extra
    steps lay out anything else."""

    def __init__(self, name, kit, values=None, module=None, expect=None, press="cancel", steps=(), note=""):
        self.name, self.kit, self.values, self.press, self.note = name, kit, values, press, note
        self.steps = list(steps)
        self.module = module or chosen_module(values or {})
        self.expect = expect or ("dialog" if self.module in KITS.get(kit, (self.module,)) else "error")

    def lines(self):
        steps = ["delkey\t" + SETTINGS_ROOT]
        if self.values is not None:
            steps.append("mkkey\t" + SETTINGS_KEY)
        for name, value in (self.values or {}).items():
            steps.append("mkkey\t%s\\%s" % (SETTINGS_KEY, name) if value == SUBKEY
                         else "set\t%s\t%s\t%d\t%s" % (SETTINGS_KEY, name, value[0], value[1].hex() or "-"))
        steps += self.steps
        steps.append("run\t%s\tC:\\kits\\%s\\%s\t%s" % (self.name, self.kit, EXE_NAME, self.press))
        return steps

    def __str__(self):
        layout = ", ".join("%s %s" % (n, describe_value(v)) for n, v in (self.values or {}).items())
        return "case %s (seed %d): kit %s, settings %s%s%s; expected %s %s" % (
            self.name, seed, self.kit, "{%s}" % layout if self.values is not None else "key absent",
            "; " + "; ".join(s.replace("\t", " ") for s in self.steps) if self.steps else "",
            " (%s)" % self.note if self.note else "", self.expect, self.module)


def random_value(rng, kind, size, numbers):
    """size bytes of type kind: a number the table knows (its low bytes, or
    the number followed by random bytes when longer than 4), or random
    bytes, chosen at random."""
    number = rng.choice(numbers + (None,))
    if number is None:
        return kind, bytes(rng.randrange(256) for _ in range(size))
    data = struct.pack("<I", number)[:size]
    return kind, data + bytes(rng.randrange(256) for _ in range(size - len(data)))


def registry_matrix(rng):
    """Every type and size for PrimLangID (SubLangID random or absent), and
    for SubLangID with PrimLangID 4, so that SubLangID matters."""
    cases = []
    for kind in range(len(REG_TYPES)):
        for size in SIZES:
            values = {"PrimLangID": random_value(rng, kind, size, (4, 10, 30))}
            sub = rng.choice(("absent", "dword", "random"))
            if sub == "dword":
                values["SubLangID"] = (REG_DWORD, struct.pack("<I", rng.choice((1, 2, 3))))
            elif sub == "random":
                values["SubLangID"] = random_value(rng, rng.randrange(len(REG_TYPES)), rng.choice(SIZES), (1, 2, 3))
            cases.append(Case("prim_t%d_s%d" % (kind, size), rng.choice(sorted(KITS)), values))
    for kind in range(len(REG_TYPES)):
        for size in SIZES:
            values = {"PrimLangID": (REG_DWORD, struct.pack("<I", 4)),
                      "SubLangID": random_value(rng, kind, size, (1, 2))}
            cases.append(Case("sub_t%d_s%d" % (kind, size), rng.choice(sorted(KITS)), values))
    return cases


def chosen_layouts():
    """Byte patterns that matter, each run from both kits."""
    layouts = [
        ("cht", {"PrimLangID": dword(4), "SubLangID": dword(1)}),
        ("chs", {"PrimLangID": dword(4), "SubLangID": dword(2)}),
        ("spn", {"PrimLangID": dword(10), "SubLangID": dword(3)}),
        ("thai", {"PrimLangID": dword(30)}),
        ("thai_sub", {"PrimLangID": dword(30), "SubLangID": dword(0xFFFFFFFF)}),
        # Shorter than a number: the low bytes.
        ("thai_1byte", {"PrimLangID": (REG_BINARY, b"\x1e")}),
        ("chs_2bytes", {"PrimLangID": (REG_BINARY, b"\x04\x00"), "SubLangID": (REG_SZ, b"\x02")}),
        ("spn_3bytes", {"PrimLangID": (REG_BINARY, b"\x0a\x00\x00"), "SubLangID": (REG_BINARY, b"\x03\x00\x00")}),
        # Longer than a number: not read, whatever the first four bytes say.
        ("thai_5bytes", {"PrimLangID": (REG_BINARY, b"\x1e\x00\x00\x00\x00")}),
        ("thai_qword", {"PrimLangID": (REG_QWORD, struct.pack("<Q", 30))}),
        ("cht_sub_qword", {"PrimLangID": dword(4), "SubLangID": (REG_QWORD, struct.pack("<Q", 1))}),
        ("chs_prim_qword", {"PrimLangID": (REG_QWORD, struct.pack("<Q", 4)), "SubLangID": dword(2)}),
        # The whole number counts, not its low word or byte.
        ("prim_all_ones", {"PrimLangID": dword(0xFFFFFFFF), "SubLangID": dword(1)}),
        ("sub_all_ones", {"PrimLangID": dword(4), "SubLangID": dword(0xFFFFFFFF)}),
        ("prim_high_word", {"PrimLangID": dword(0x00010004), "SubLangID": dword(1)}),
        ("thai_high_byte", {"PrimLangID": dword(0x0100001E)}),
        ("sub_high_word", {"PrimLangID": dword(4), "SubLangID": dword(0x00010002)}),
        # Text is bytes like any other: "4" is 34 00, the number 52.
        ("prim_text", {"PrimLangID": (REG_SZ, b"4\x00"), "SubLangID": dword(1)}),
        # Big-endian 30 is not 30.
        ("prim_big_endian", {"PrimLangID": (5, struct.pack(">I", 30))}),
        # Value names are not case-sensitive in the registry.
        ("thai_name_case", {"PRIMLANGID": dword(30)}),
        ("chs_name_case", {"primlangid": dword(4), "SUBLANGID": dword(2)}),
        # No values, or names where values belong.
        ("empty_key", {}),
        ("prim_subkey", {"PrimLangID": SUBKEY, "SubLangID": dword(1)}),
        ("sub_subkey", {"PrimLangID": dword(4), "SubLangID": SUBKEY}),
        ("prim_absent", {"SubLangID": dword(2)}),
    ]
    cases = []
    for kit in sorted(KITS):
        cases += [Case("%s_%s" % (name, kit), kit, values) for name, values in layouts]
        # A subkey named PrimLangID whose default value holds 30: the value
        # is still absent.
        cases.append(Case("prim_subkey_default_%s" % kit, kit, {"PrimLangID": SUBKEY}, steps=[
            "set\t%s\\PrimLangID\t\t%d\t%s" % (SETTINGS_KEY, REG_DWORD, struct.pack("<I", 30).hex())]))
        # Settings is a value, not a key; or the values sit one key too high.
        cases.append(Case("settings_value_%s" % kit, kit, None, ENGLISH, steps=[
            "set\t%s\tSettings\t%d\t%s" % (PELMORA_KEY, REG_DWORD, struct.pack("<I", 30).hex())]))
        cases.append(Case("values_in_parent_%s" % kit, kit, None, ENGLISH, steps=[
            "set\t%s\tPrimLangID\t%d\t%s" % (PELMORA_KEY, REG_DWORD, struct.pack("<I", 30).hex())]))
    return cases


# ---- damaged modules -----------------------------------------------------

def damaged_modules(rng):
    """{name: (bytes, or None for a folder, or a file path), expected
    outcome, expected lines (dialog only), what it is}.  The program maps
    the module as data: the processor it is for does not matter, and a
    file cut short behind valid headers may map (Wine maps it; Windows
    checks more of the image), its strings then missing."""
    real = winenv.read(os.path.join(env.kit_dir, ENGLISH))
    image = pefile.PE(data=real)
    pe = image.DOS_HEADER.e_lfanew
    rsrc = [s for s in image.sections if s.Name.rstrip(b"\0") == b".rsrc"][0]
    rsrc_offset, rsrc_size = rsrc.PointerToRawData, rsrc.SizeOfRawData
    # The resource data entry (address, size) of the string block of IDs 0
    # to 15 (RT_STRING, block 1, first language), and that block.
    strings = [t for t in image.DIRECTORY_ENTRY_RESOURCE.entries if t.id == pefile.RESOURCE_TYPE["RT_STRING"]][0]
    data = [b for b in strings.directory.entries if b.id == 1][0].directory.entries[0].data.struct
    entry, block = data.get_file_offset(), image.get_offset_from_rva(data.OffsetToData)

    def patched(offset, data, base=real):
        return base[:offset] + data + base[offset + len(data):]

    noise = bytes(rng.randrange(256) for _ in range(len(real)))
    if noise[:2] == b"MZ":
        noise = b"ZM" + noise[2:]
    blank = ["", ""]
    return {
        "empty": (b"", "error", None, "a file of 0 bytes"),
        "first64": (real[:64], "error", None, "the first 64 bytes"),
        "first512": (real[:512], "error or dialog", blank, "the first 512 bytes: headers only"),
        "half": (real[:len(real) // 2], "error or dialog", blank, "the first half: no resource section"),
        # Windows refuses an image whose sections run past the end of the
        # file; Wine maps it with zeros for the missing bytes.  Either way
        # no line may show more than the file holds.
        "cut_resources": (real[:rsrc_offset + rsrc_size // 2], "error or dialog", "english cut short",
                          "cut in the middle of the resource section"),
        "zeros": (bytes(len(real)), "error", None, "zero bytes, as long as the module"),
        "noise": (noise, "error", None, "random bytes, as long as the module"),
        "no_pe_signature": (patched(pe, b"XX\0\0"), "error", None, "MZ header, broken PE signature"),
        "pe_outside": (patched(0x3C, struct.pack("<I", 0x7FFFFFF0)), "error", None,
                       "MZ header pointing past the end of the file"),
        "arm": (patched(pe + 4, struct.pack("<H", 0x01C4)), "dialog", "english", "a module for ARM"),
        "folder": (None, "error", None, "a folder of that name"),
        "nostrings": (os.environ["WNNOSTRINGS"], "dialog", blank, "a valid module without a string table"),
        "nolines": (os.environ["WNNOLINES"], "dialog", blank, "a valid module without strings 1 and 2"),
        "resources_zeroed": (patched(rsrc_offset, bytes(rsrc_size)), "dialog", blank,
                             "a valid image whose resource section is zero bytes"),
        # A string table that points out of itself: its strings are missing.
        "string_past_block": (patched(block, struct.pack("<H", 0xFFFF)), "dialog", blank,
                              "the length of string 0 runs far past the end of its block"),
        "block_outside_image": (patched(entry, struct.pack("<I", image.OPTIONAL_HEADER.SizeOfImage + 0x10000)), "dialog",
                                blank, "the string block's address lies outside the image"),
        "trailing_noise": (real + bytes(rng.randrange(256) for _ in range(65536)), "dialog", "english",
                           "the module followed by 64 KB of random bytes"),
    }


# ---- running a sweep -----------------------------------------------------

def run_sweep(name, cases):
    """Runs the cases in one wnagent sweep; returns ({case name: result},
    {case name: Wine's output during that run}, whole stdout, whole stderr).
    Output files stay in the logs folder."""
    case_file = os.path.join(env.work_dir, "sweep-%s.cases" % name)
    winenv.write(case_file, "".join(line + "\r\n" for case in cases for line in case.lines()).encode())
    # Three waits per case at the most; a normal run takes well under a second.
    out = os.path.join(env.logs, "sweep-%s" % name)
    _, stdout, stderr = env.run_program(env.helper_path, "sweep", winenv.windows_path(case_file), TIMEOUT_MS,
                                        timeout=120 + len(cases) * 3 * TIMEOUT_MS / 1000,
                                        out_path=out + ".out", err_path=out + ".err")
    stdout, stderr = stdout.decode("utf-8", "replace"), stderr.decode("utf-8", "replace")
    results, output, pending = {}, {}, []
    for line in stdout.splitlines():
        if line.startswith("{"):
            answer = json.loads(line)
            if "id" in answer:
                results[answer["id"]] = answer
                output[answer["id"]] = pending
            elif not answer.get("ok"):
                results.setdefault("(steps)", []).append(answer)
            pending = []
        else:
            pending.append(line)  # a debugger's report, before the run's own line
    current = None
    for line in stderr.splitlines():
        if line.startswith("sweep: begin "):
            current = line[len("sweep: begin "):]
        elif line.startswith("sweep: end "):
            current = None
        elif current is not None:
            output.setdefault(current, []).append(line)
    env.must("regdel", SETTINGS_ROOT)
    return results, {k: "\n".join(v) for k, v in output.items()}, stdout, stderr


class Sweep:
    """For a test case of one sweep, run by its setUpClass; the machine
    is made clean again after it.  Expected lines are read once per module."""

    expected_lines = {}

    @classmethod
    def tearDownClass(cls):
        env.restore_state()

    @classmethod
    def lines_of(cls, module):
        if module not in cls.expected_lines:
            cls.expected_lines[module] = env.module_lines(module, form="ansi")
        return cls.expected_lines[module]

    def test_no_crash_anywhere(self):
        # Also what Wine printed outside any one run.
        self.assertEqual(crash_lines(self.stdout) + crash_lines(self.stderr), [])

    def check_case(self, case, lines=None):
        """The run of one case: the expected window with the expected
        content, then a normal end; the case and the observation printed on
        failure."""
        result = self.results.get(case.name)
        said = "\n%s\nobserved: %s" % (case, json.dumps(result))
        self.assertIsNotNone(result, "no result (the sweep ended early)" + said)
        crash = crash_lines(self.output.get(case.name, ""))
        self.assertEqual(crash, [], "Wine reports a crash" + said)
        self.assertNotEqual(result["outcome"], "not started", said)
        self.assertNotEqual(result["outcome"], "hang", "no window within %d ms" % TIMEOUT_MS + said)
        self.assertIsNotNone(result["exit"], "still running %d ms after the press" % TIMEOUT_MS + said)
        self.assertLess(result["exit"], EXCEPTION_CODES, "ended by an exception" + said)
        self.assertIn(result["outcome"], case.expect.split(" or "), said)
        if result["outcome"] == "dialog":
            self.assertEqual(result["windows"], ["Wirenest"], said)
            self.assertEqual(result["modules"], [case.module], said)
            if lines is None:
                lines = self.lines_of(case.module)
            if callable(lines):
                self.assertTrue(lines(result["lines"]), said)
            else:
                self.assertEqual(result["lines"], lines, said)
        else:
            self.assertEqual(result["windows"], ["Error"], said)
            self.assertEqual(result["message"], load_error(case.kit, case.module), said)
        return result


def drive_c_state():
    """Drive C without the kits folder the sweep itself fills.  Folder
    times are left out: Wine's debugger makes and removes a file in
    C:\\windows for each crash, which the crash checks report anyway."""
    state = winenv.tree_state(env.drive_c())
    return {p: (s if s[0] != "dir" else s[:2]) for p, s in state.items()
            if p != "kits" and not p.startswith("kits" + os.sep)}


class CancelSweepTest(Sweep, unittest.TestCase):
    """The registry matrix and the damaged modules, Cancel (or the box's
    OK) pressed every time, in one sweep; drive C and the INF store are
    compared from before it to after it."""

    @classmethod
    def setUpClass(cls):
        env.restore_state()
        rng = random.Random(seed)
        cls.matrix = registry_matrix(rng)
        cls.chosen = chosen_layouts()
        cls.damaged = damaged_modules(rng)
        for kit, modules in KITS.items():
            env.lay_out_kit(kit, modules)
        cls.damaged_cases = []
        for name, (content, expect, lines, what) in cls.damaged.items():
            env.lay_out_kit("damaged_" + name, extra={ENGLISH: content})
            cls.damaged_cases.append(Case("damaged_" + name, "damaged_" + name, None, ENGLISH, expect, note=what))
        cls.files_before, cls.store_before = drive_c_state(), env.store_listing()
        start = time.monotonic()
        cls.results, cls.output, cls.stdout, cls.stderr = run_sweep(
            "cancel", cls.matrix + cls.chosen + cls.damaged_cases)
        cls.files_after, cls.store_after = drive_c_state(), env.store_listing()
        runs = [r for k, r in cls.results.items() if k != "(steps)"]
        print("%d runs (%d registry matrix, %d chosen, %d damaged modules): sweep %.1f s, of it %.1f s from each "
              "start to each end" % (len(runs), len(cls.matrix), len(cls.chosen), len(cls.damaged_cases),
                                     time.monotonic() - start, sum(r.get("ms", 0) for r in runs) / 1000),
              file=sys.stderr, flush=True)

    def test_every_step_done(self):
        self.assertEqual(self.results.get("(steps)", []), [])
        expected = [c.name for c in self.matrix + self.chosen + self.damaged_cases]
        self.assertEqual([n for n in expected if n not in self.results], [])

    def check_values_as_set(self, case):
        """The registry holds exactly the bytes of the case, so the
        expectation is about what was meant."""
        result = self.results.get(case.name) or {}
        stored = {v["name"]: (v.get("type"), v.get("hex")) for v in result.get("values", [])
                  if v["key"] == SETTINGS_KEY}
        meant = {n: (v[0], v[1].hex()) for n, v in (case.values or {}).items() if v != SUBKEY}
        self.assertEqual(stored, meant, "%s\nregistry gave back: %s" % (case, result.get("values")))

    def check_layouts(self, cases):
        for case in cases:
            with self.subTest(case=case.name):
                self.check_values_as_set(case)
                self.check_case(case)

    def test_registry_matrix(self):
        self.check_layouts(self.matrix)

    def test_matrix_reaches_every_outcome(self):
        # Otherwise the matrix would test one path only.
        reached = {(c.expect, c.module) for c in self.matrix}
        for wanted in (("dialog", ENGLISH), ("dialog", CHT), ("error", CHS), ("error", THAI)):
            self.assertIn(wanted, reached, "seed %d" % seed)

    def test_chosen_patterns(self):
        self.check_layouts(self.chosen)

    def test_damaged_modules(self):
        for case in self.damaged_cases:
            content, expect, lines, what = self.damaged[case.name[len("damaged_"):]]
            with self.subTest(case=case.name, module=what):
                english = self.lines_of(ENGLISH)
                if lines == "english":
                    lines = english
                elif lines == "english cut short":
                    lines = lambda shown: all(e.startswith(l) for e, l in zip(english, shown))
                result = self.check_case(case, lines)
                print("%s (%s): %s" % (case.name, what, result.get("outcome")), file=sys.stderr)

    def test_machine_untouched(self):
        self.assertFalse(os.path.lexists(env.drive_c(TARGET_ROOT)))
        self.assertEqual(self.store_after, self.store_before,
                         "INF store: %s" % sorted(set(self.store_after) ^ set(self.store_before)))
        self.assertEqual(winenv.tree_changes(self.files_before, self.files_after, "drive C"), [])


class OkSweepTest(Sweep, InstallChecks, unittest.TestCase):
    """OK pressed with damaged but loadable modules: the installation
    happens, the result box shows string 3 of the module (empty where the
    module has none), and nothing crashes."""

    @classmethod
    def setUpClass(cls):
        env.restore_state()
        cls.modules = {"ok_nolines": os.environ["WNNOLINES"], "ok_nostrings": os.environ["WNNOSTRINGS"],
                       "ok_english": os.path.join(env.kit_dir, ENGLISH)}
        cls.cases = []
        for kit, module in cls.modules.items():
            env.lay_out_kit(kit, extra={ENGLISH: module, **env.package()})
            cls.cases.append(Case(kit, kit, None, ENGLISH, "dialog", press="ok", note=module))
        cls.results, cls.output, cls.stdout, cls.stderr = run_sweep("ok", cls.cases)

    def test_runs_end_with_result_box(self):
        for case in self.cases:
            module = self.modules[case.name]
            with self.subTest(case=case.name):
                result = self.check_case(case, self.lines_of(module))
                expected = env.module_string(module, IDS_INSTALL_OK)["ansi"]
                self.assertEqual(result.get("result"), {"caption": "Wirenest", "message": expected},
                                 "%s\nobserved: %s" % (case, json.dumps(result)))

    def test_installed(self):
        self.check_installed()


if __name__ == "__main__":
    unittest.main()
