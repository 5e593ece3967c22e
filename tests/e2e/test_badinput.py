"""Bad input for the real Wirenest.exe under Wine: a generated matrix of
registry values (every registry type, sizes 0 to 8 bytes, random bytes)
and damaged language modules, hand-picked ones and WIRENEST_SWEEP_N
(default 500) generated ones, each of one kind of damage.  Every run has
to end with the installer dialog showing the lines of the module the
settings choose (a damaged module: any lines), or with the "Error" box
naming the module that could not be loaded; never with a crash, a hang or
any other window.  Nothing on drive C and in the INF store changes unless
OK is pressed.

All runs of a group go through one wnagent sweep: it lays out the
registry (and the module) for each case, starts the program, reads what
it shows, presses Cancel (or OK) and waits for the end.  Random bytes come
from a fixed seed, printed at the start; WIRENEST_SWEEP_SEED=<number>
repeats another run's, and a generated module is made again from its
seed and index (WIRENEST_SWEEP_FROM=<index> WIRENEST_SWEEP_N=1); a failed
one is also kept in the artifacts folder.  Expected lines are read from
the modules themselves (wnagent loadstring), as the program shows them in
the default code page; which module the program really loaded is read
from its module list, since two modules' lines may turn into the same
question marks there."""

import collections
import json
import os
import random
import re
import shutil
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
count, first = int(os.environ.get("WIRENEST_SWEEP_N") or 500), int(os.environ.get("WIRENEST_SWEEP_FROM") or 0)
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
    steps lay out anything else; shown: the dialog's lines, a test of
    them, or None for the module's own; kind, file: a damaged module's."""

    def __init__(self, name, kit, values=None, module=None, expect=None, press="cancel", steps=(), note="",
                 shown=None, kind=None, file=None):
        self.name, self.kit, self.values, self.press, self.note = name, kit, values, press, note
        self.shown, self.kind, self.file = shown, kind, file
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
    data = b"" if number is None else struct.pack("<I", number)[:size]
    return kind, data + rng.randbytes(size - len(data))


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
    cases, thirty = [], "%d\t%s" % (REG_DWORD, struct.pack("<I", 30).hex())
    for kit in sorted(KITS):
        cases += [Case("%s_%s" % (name, kit), kit, values) for name, values in layouts]
        # A subkey named PrimLangID whose default value holds 30: the value
        # is still absent.
        cases.append(Case("prim_subkey_default_%s" % kit, kit, {"PrimLangID": SUBKEY},
                          steps=["set\t%s\\PrimLangID\t\t%s" % (SETTINGS_KEY, thirty)]))
        # Settings is a value, not a key; or the values sit one key too high.
        cases += [Case("%s_%s" % (name, kit), kit, None, ENGLISH, steps=["set\t%s\t%s\t%s" % (PELMORA_KEY, v, thirty)])
                  for name, v in (("settings_value", "Settings"), ("values_in_parent", "PrimLangID"))]
    return cases


# ---- damaged modules -----------------------------------------------------

def fields(structures, *names):
    """{"<structure> <n> <field>": (file offset, format)} of the 2- and
    4-byte fields of pefile structures (IMAGE_ left out), or of those named."""
    found = {}
    for n, s in enumerate(structures):
        for keys, form in zip(s.__keys__, re.findall(r"\d*[A-Za-z]", s.__format_str__[1:])):
            if form in ("H", "I") and (not names or keys[-1] in names):
                found["%s %d %s" % (s.name[6:], n, keys[-1])] = (s.get_field_absolute_offset(keys[-1]), "<" + form)
    return found


class Layout:
    """The English module: where its resources lie, and for each kind of
    damage that sets a field, the fields it may set."""

    def __init__(self, real):
        image = pefile.PE(data=real)
        self.real, opt, top = real, image.OPTIONAL_HEADER, image.DIRECTORY_ENTRY_RESOURCE
        rsrc = [s for s in image.sections if s.Name.rstrip(b"\0") == b".rsrc"][0]
        self.rsrc, self.rsrc_size = rsrc.PointerToRawData, rsrc.SizeOfRawData
        dirs, entries, data, walk = [], [], [], [top]  # the resource tree
        while walk:
            d = walk.pop(0)
            dirs.append(d.struct)
            entries += [e.struct for e in d.entries]
            walk += [e.directory for e in d.entries if hasattr(e, "directory")]
            data += [e.data.struct for e in d.entries if hasattr(e, "data")]
        self.dirs, self.entries = [d.get_file_offset() for d in dirs], [e.get_file_offset() for e in entries]
        # The 16 length words of the string block of IDs 0 to 15 (RT_STRING, block 1, first language).
        block = [t for t in top.entries if t.id == pefile.RESOURCE_TYPE["RT_STRING"]][0].directory.entries[0]
        lengths = [image.get_offset_from_rva(block.directory.entries[0].data.struct.OffsetToData)]
        for _ in range(15):
            lengths.append(lengths[-1] + 2 + 2 * struct.unpack_from("<H", real, lengths[-1])[0])
        # Values that tend to break a check: the ends of the file, the image and the resources.
        self.near = [len(real), opt.SizeOfImage, self.rsrc_size, len(real) - self.dirs[0],
                     rsrc.VirtualAddress + self.rsrc_size]
        self.fields = {
            "dos_header": fields([image.DOS_HEADER], "e_magic", "e_lfanew"),
            "pe_header": fields([image.NT_HEADERS, image.FILE_HEADER]),
            "optional_header": {**fields([opt], "Magic", "SectionAlignment", "FileAlignment", "SizeOfImage",
                                         "SizeOfHeaders", "NumberOfRvaAndSizes"), **fields(opt.DATA_DIRECTORY[2:3])},
            "section_table": fields(image.sections, "Misc_VirtualSize", "VirtualAddress", "SizeOfRawData",
                                    "PointerToRawData", "Characteristics"),
            "dir_counts": fields(dirs, "NumberOfNamedEntries", "NumberOfIdEntries"),
            "dir_entry": fields(entries),
            "dir_loop": fields(entries, "OffsetToData"),
            "data_entry": fields(data),
            "string_length": {"string %d" % k: (at, "<H") for k, at in enumerate(lengths)}}
        self.kinds = ["truncate", "append", "span", "flip"] + list(self.fields)


def damage(m, kind, r, **given):
    """(bytes, what was done): the module of Layout m damaged in one way of
    the kind, with what given does not say drawn from r.  truncate cuts it,
    append adds random bytes, span overwrites a run of it, flip sets random
    bytes; a field kind sets one of m.fields[kind] to an extreme, a random
    value or one near a bound; dir_loop points a directory entry at another
    directory (itself, one above or below)."""
    real = m.real
    at = given.get("at", r.choice([r.randrange(len(real)), r.randrange(m.rsrc, len(real))]))
    if kind == "truncate":
        return real[:at], "the first %d bytes" % at
    if kind == "append":
        count = given.get("count", r.choice([1, 16, r.randrange(1, 65537)]))
        return real + r.randbytes(count), "%d random bytes appended" % count
    if kind == "flip":
        data, places = bytearray(real), sorted(r.randrange(r.choice([0, m.rsrc]), len(real))
                                               for _ in range(r.randrange(1, 9)))
        for p in places:
            data[p] = r.randrange(256)
        return bytes(data), "random bytes at " + ", ".join("0x%x" % p for p in places)
    if kind == "span":
        count, fill = given.get("count", r.randrange(len(real) - at) + 1), given.get("fill", r.choice([0, 255, None]))
        data = r.randbytes(count) if fill is None else bytes([fill]) * count
        return real[:at] + data + real[at + count:], "%d bytes from 0x%x: %s" % (count, at, data[:8].hex())
    name = given.get("field", r.choice(sorted(m.fields[kind])))
    at, form = m.fields[kind][name]
    old, top = struct.unpack_from(form, real, at)[0], (1 << 8 * struct.calcsize(form)) - 1
    values = ({0x80000000 | d - m.dirs[0] for d in m.dirs} if kind == "dir_loop" else
              {0, 1, top, top >> 1, top // 2 + 1, r.randrange(top + 1)}
              | {n + d & top for n in m.near + [old] for d in (-1, 0, 1)})
    value = given.get("value", r.choice(sorted(values - {old})))
    if kind == "dir_entry" and r.random() < 0.5 and (value ^ old) & 0x7FFFFFFF:
        value = value & 0x7FFFFFFF | old & 0x80000000  # still pointing at a directory, or at data
    data = struct.pack(form, value)
    return real[:at] + data + real[at + len(data):], "%s 0x%x at 0x%x" % (name, value, at)


# The hand-picked cases, as damage of those kinds: name, kind, what it is
# given, expected outcome and lines (the English lines, their starts, blank;
# None: no dialog).  The program maps the module as data: the processor it
# is for does not matter, and a file cut short behind valid headers may map
# (Wine maps it; Windows checks more of the image), its strings missing.
FIXED = (
    ("empty", "truncate", lambda m: {"at": 0}, "error", None),
    ("first64", "truncate", lambda m: {"at": 64}, "error", None),
    ("first512", "truncate", lambda m: {"at": 512}, "error or dialog", "blank"),  # headers only
    ("half", "truncate", lambda m: {"at": len(m.real) // 2}, "error or dialog", "blank"),  # no resource section
    # Windows refuses an image whose sections run past the end of the file;
    # Wine maps it with zeros for the missing bytes.  Either way no line may
    # show more than the file holds.
    ("cut_resources", "truncate", lambda m: {"at": m.rsrc + m.rsrc_size // 2}, "error or dialog", "starts"),
    ("zeros", "span", lambda m: {"at": 0, "count": len(m.real), "fill": 0}, "error", None),
    ("noise", "span", lambda m: {"at": 0, "count": len(m.real), "fill": None}, "error", None),
    ("no_pe_signature", "pe_header", lambda m: {"field": "NT_HEADERS 0 Signature", "value": 0x5858}, "error", None),
    ("pe_outside", "dos_header", lambda m: {"field": "DOS_HEADER 0 e_lfanew", "value": 0x7FFFFFF0}, "error", None),
    ("arm", "pe_header", lambda m: {"field": "FILE_HEADER 1 Machine", "value": 0x01C4}, "dialog", "english"),
    ("resources_zeroed", "span", lambda m: {"at": m.rsrc, "count": m.rsrc_size, "fill": 0}, "dialog", "blank"),
    # A string table that points out of itself: its strings are missing.
    ("string_past_block", "string_length", lambda m: {"field": "string 0", "value": 0xFFFF}, "dialog", "blank"),
    ("block_outside_image", "data_entry", lambda m: {"field": "RESOURCE_DATA_ENTRY 0 OffsetToData",
                                                     "value": m.near[1] + 0x10000}, "dialog", "blank"),
    ("trailing_noise", "append", lambda m: {"count": 65536}, "dialog", "english"),
)


def damaged_cases(m, english):
    """A Case for each fixed case, for two valid modules without the lines
    and a folder in the module's place, and for each generated module (seed,
    index first to first + count - 1, its kind by index).  The modules lie
    in C:\\kits\\modules; the sweep copies each into the kit "damaged"
    before its run."""
    shown = {"english": english, "blank": ["", ""], "starts": lambda lines: all(map(str.startswith, english, lines))}
    made = [(n, "fixed") + damage(m, kind, random.Random(n), **given(m)) + (expect, shown.get(lines))
            for n, kind, given, expect, lines in FIXED]
    made += [(n, "fixed", os.environ[v], "a valid module without " + n[2:], "dialog", shown["blank"])
             for n, v in (("nostrings", "WNNOSTRINGS"), ("nolines", "WNNOLINES"))]
    made += [("%s-seed%d-%d" % (k, seed, i), k) + damage(m, k, random.Random("%d/%d" % (seed, i)))
             + ("error or dialog", lambda lines: None not in lines)  # whatever the block holds, read back
             for i, k in ((i, m.kinds[i % len(m.kinds)]) for i in range(first, first + count))]
    env.lay_out_kit("modules", extra={n + ".dll": content for n, _, content, *_ in made})
    env.lay_out_kit("damaged")
    env.lay_out_kit("damaged_folder", extra={ENGLISH: None})
    return [Case("damaged_folder", "damaged_folder", None, ENGLISH, "error", note="a folder", kind="fixed")] + [
        Case("damaged_" + n, "damaged", None, ENGLISH, expect, note="%s: %s" % (kind, what), shown=lines, kind=kind,
             steps=["copy\tC:\\kits\\modules\\%s.dll\tC:\\kits\\damaged\\%s" % (n, ENGLISH)],
             file=env.drive_c("kits", "modules", n + ".dll")) for n, kind, content, what, expect, lines in made]


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
    results, output, pending, values = {}, {}, [], []
    for line in stdout.splitlines():
        if line.startswith("{"):
            answer = json.loads(line)
            if "id" in answer:
                results[answer["id"]], values = dict(answer, values=values), []
                output[answer["id"]] = pending
            elif "key" in answer:
                values.append(answer)  # a value set for the next run, read back
            elif not answer.get("ok"):
                results.setdefault("(steps)", []).append(answer)
            pending = []
        else:
            pending.append(line)  # a debugger's report, before the run's own line
    for run, text in re.findall(r"^sweep: begin (.*)\n((?:.*\n)*?)sweep: end \1$", stderr, re.M):
        output.setdefault(run, []).extend(text.splitlines())
    env.must("regdel", SETTINGS_ROOT)
    return results, {k: "\n".join(v) for k, v in output.items()}, stdout, stderr


OUTCOMES = ("dialog", "error", "crash", "hang", "other")


def verdict(result, output):
    """How a run ended, one of OUTCOMES: a crash is what Wine reports or an
    exception's exit code."""
    if crash_lines(output) or (result.get("exit") or 0) >= EXCEPTION_CODES:
        return "crash"
    if result["outcome"] == "hang" or result.get("exit", 0) is None:
        return "hang"
    return result["outcome"] if result["outcome"] in OUTCOMES[:2] else "other"


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

    def check_case(self, case):
        """The run of one case: the expected window with the expected
        content, then a normal end; the case and the observation printed on
        failure."""
        result = self.results.get(case.name)
        said = "\n%s\nobserved: %s" % (case, json.dumps(result))
        self.assertIsNotNone(result, "no result (the sweep ended early)" + said)
        # A hang: no window within TIMEOUT_MS, or still running TIMEOUT_MS after the press.
        self.assertIn(verdict(result, self.output.get(case.name, "")), case.expect.split(" or "), said)
        if result["outcome"] == "dialog":
            self.assertEqual(result["windows"], ["Wirenest"], said)
            self.assertEqual(result["modules"], [case.module], said)
            shown = self.lines_of(case.module) if case.shown is None else case.shown
            if callable(shown):
                self.assertTrue(shown(result["lines"]), said)
            else:
                self.assertEqual(result["lines"], shown, said)
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
        for kit, modules in KITS.items():
            env.lay_out_kit(kit, modules)
        module = Layout(winenv.read(os.path.join(env.kit_dir, ENGLISH)))
        cls.damaged_cases = damaged_cases(module, cls.lines_of(ENGLISH))
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
        # How each kind ended, printed whatever the checks say.
        ended = collections.Counter((c.kind, verdict(self.results.get(c.name) or {"outcome": "missing"},
                                                     self.output.get(c.name, ""))) for c in self.damaged_cases)
        print("\n%-16s" % "kind" + "".join("%8s" % o for o in OUTCOMES), file=sys.stderr)
        for kind in dict.fromkeys(c.kind for c in self.damaged_cases):
            print("%-16s" % kind + "".join("%8d" % ended[kind, o] for o in OUTCOMES), file=sys.stderr)
        for case in self.damaged_cases:
            with self.subTest(case=case.name):
                try:
                    self.check_case(case)
                except AssertionError as e:
                    kept = case.file and shutil.copy(case.file, env.artifacts)
                    raise AssertionError("%s\nmodule kept as %s" % (e, kept)) from None

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
            cls.cases.append(Case(kit, kit, None, ENGLISH, "dialog", press="ok", note=module,
                                  shown=cls.lines_of(module)))
        cls.results, cls.output, cls.stdout, cls.stderr = run_sweep("ok", cls.cases)

    def test_runs_end_with_result_box(self):
        for case in self.cases:
            module = self.modules[case.name]
            with self.subTest(case=case.name):
                result = self.check_case(case)
                expected = env.module_string(module, IDS_INSTALL_OK)["ansi"]
                self.assertEqual(result.get("result"), {"caption": "Wirenest", "message": expected},
                                 "%s\nobserved: %s" % (case, json.dumps(result)))

    def test_installed(self):
        self.check_installed()


if __name__ == "__main__":
    unittest.main()
