"""The benchmark's machinery works: its figures are computed right, its
executable checks see what is in the files, a few real runs of both
programs complete with numbers, and a run that goes wrong is counted as
failed.  Nothing here looks at a time or a ratio.  Environment: as for
bench.py (CTest sets it)."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench  # noqa: E402
import pefile  # noqa: E402  Debian's python3-pefile
import winenv  # noqa: E402  (bench put tests/e2e on the path)
from facts import CHS, CHT, ENGLISH, IDCANCEL, SPANISH, THAI, dword  # noqa: E402

SMOKE_RUNS = 3


def environment_or_skip():
    try:
        return bench.paths()
    except KeyError as e:
        raise unittest.SkipTest("set %s (CTest does)" % e)


def fake_run(name, start, ok_ms, warmup=False, ok=True, ws=20000 * 1024):
    return {"name": name, "warmup": warmup, "ok": ok, "start_to_dialog_ms": start,
            "ok_to_box_ms": ok_ms, "peak_working_set": ws}


class Figures(unittest.TestCase):
    def test_spread_of_odd_list_of_one_value_and_of_none(self):
        s = bench.spread([5.0, 1.0, 3.0, 2.0, 4.0])
        self.assertEqual((s["median"], s["min"], s["max"], s["q1"], s["q3"], s["n"]), (3.0, 1.0, 5.0, 2.0, 4.0, 5), s)
        self.assertEqual(bench.spread([7.5]), {"median": 7.5, "min": 7.5, "max": 7.5, "q1": 7.5, "q3": 7.5, "n": 1})
        self.assertIsNone(bench.spread([]))

    def test_ratio_is_ours_over_baseline_and_its_interval_brackets_it(self):
        self.assertAlmostEqual(bench.ratio({"median": 120.0}, {"median": 100.0}), 1.2)
        self.assertIsNone(bench.ratio({"median": 120.0}, None))
        self.assertIsNone(bench.ratio(None, {"median": 100.0}))
        self.assertEqual(bench.ratio_interval([2.0] * 5, [1.0] * 7), (2.0, 2.0))
        low, high = bench.ratio_interval([100.0, 110.0, 120.0, 130.0, 140.0], [100.0] * 5)
        self.assertTrue(1.0 <= low < 1.2 < high <= 1.4, (low, high))
        self.assertIsNone(bench.ratio_interval([], [1.0]))


class Executables(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = environment_or_skip()
        cls.ours = os.path.join(cls.env["WIRENEST_KIT_DIR"], bench.OURS)

    def test_both_programs_stripped_with_every_resource(self):
        for path in (self.ours, self.env["WNBASELINE"]):
            stripped, resources = bench.read_pe(path)
            self.assertTrue(stripped, path)
            self.assertEqual(bench.missing_resources(resources), [], "%s: %s" % (path, resources))

    def test_program_without_resources_is_told(self):
        # wnbench is a console program with no resources at all.
        missing = bench.missing_resources(bench.read_pe(self.env["WNBENCH"])[1])
        self.assertTrue({"type 5", "type 24"} <= set(missing), missing)

    def test_symbol_table_means_not_stripped(self):
        data = bytearray(winenv.read(self.ours))
        at = pefile.PE(data=bytes(data), fast_load=True).FILE_HEADER.get_field_absolute_offset("PointerToSymbolTable")
        data[at:at + 4] = (0x1000).to_bytes(4, "little")
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "symbols.exe")
            winenv.write(path, data)
            self.assertFalse(bench.read_pe(path)[0])

    def test_summary_leaves_out_warmup_and_failed_runs(self):
        files = {bench.OURS: self.ours, bench.BASELINE: self.env["WNBASELINE"]}
        runs = [fake_run(bench.OURS, 1000.0, 1000.0, warmup=True),
                fake_run(bench.OURS, 900.0, 900.0, ok=False),
                fake_run(bench.OURS, 120.0, 30.0), fake_run(bench.OURS, 110.0, 50.0),
                fake_run(bench.BASELINE, 100.0, 40.0), fake_run(bench.BASELINE, 100.0, 40.0, ws=0)]
        programs, ratios, targets = bench.summarize(runs, (bench.OURS, bench.BASELINE), files)
        ours = programs[bench.OURS]
        self.assertEqual((ours["runs_ok"], ours["runs_failed"]), (2, 1), ours)
        self.assertEqual(ours["start_to_dialog_ms"]["median"], 115.0, ours)
        self.assertAlmostEqual(ratios["start_to_dialog_ms"], 1.15)
        self.assertAlmostEqual(ratios["ok_to_box_ms"], 1.0)
        low, high = ratios["ok_to_box_ms_interval90"]
        self.assertTrue(low <= 1.0 <= high, (low, high))
        self.assertEqual((targets["start_to_dialog_ms_ratio"], targets["ok_to_box_ms_ratio"]), (False, True))
        # A run whose working set Wine did not report counts as no figure.
        self.assertEqual(programs[bench.BASELINE]["peak_working_set_bytes"]["n"], 1)
        self.assertEqual(ours["size_bytes"], os.path.getsize(self.ours))


class SmokeRun(unittest.TestCase):
    """bench.py with a few runs of each program, as the bench target runs it."""

    @classmethod
    def setUpClass(cls):
        cls.env = environment_or_skip()
        cls.tmp = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, cls.tmp, ignore_errors=True)
        cls.json_path = os.path.join(cls.tmp, "results.json")
        cls.proc = subprocess.run(
            [sys.executable, os.path.join(HERE, "bench.py"), "--runs", str(SMOKE_RUNS), "--warmup", "1",
             "--json", cls.json_path], capture_output=True, text=True, timeout=600)
        cls.report = json.loads(winenv.read(cls.json_path)) if os.path.exists(cls.json_path) else None

    def setUp(self):
        self.assertIsNotNone(self.report, "no results written:\n%s\n%s" % (self.proc.stdout, self.proc.stderr))

    def test_exits_0_and_prints_the_table(self):
        self.assertEqual(self.proc.returncode, 0, self.proc.stdout + self.proc.stderr)
        for line in ("start to dialog visible, ms", "OK to result box visible, ms", "ratio ours/baseline",
                     "peak working set, KiB", "executable size"):
            self.assertIn(line, self.proc.stdout)

    def test_runs_take_turns_and_do_the_same_visible_work(self):
        # Each run complete with numbers; the same result text, each box
        # captioned with its own program's name and owned by the dialog,
        # the INF stored under its own name.
        runs = self.report["runs"]
        self.assertEqual([r["name"] for r in runs], [bench.OURS, bench.BASELINE] * (SMOKE_RUNS + 1), runs)
        self.assertEqual(len({r["box_text"] for r in runs}), 1, runs)
        for r in runs:
            self.assertTrue(r["ok"], r)
            self.assertGreater(r["start_to_dialog_ms"], 0, r)
            self.assertGreater(r["ok_to_box_ms"], 0, r)
            self.assertEqual(r["exit_code"], 0, r)
            self.assertEqual(r["box_caption"], r["name"][:-4], r)
            self.assertTrue(r["box_owned_by_dialog"], r)
            self.assertEqual(r["stored_inf"].upper(), "OMK58CDC.INF", r)

    def test_summary_has_figures_for_both(self):
        for name in (bench.OURS, bench.BASELINE):
            p = self.report["programs"][name]
            self.assertEqual(p["runs_ok"], SMOKE_RUNS, p)
            for key, _ in bench.METRICS:
                self.assertEqual(p[key]["n"], SMOKE_RUNS, p)
                self.assertLessEqual(p[key]["min"], p[key]["median"], p)
                self.assertLessEqual(p[key]["median"], p[key]["max"], p)
            self.assertGreater(p["size_bytes"], 0, p)
        for key, _ in bench.METRICS:
            self.assertIsNotNone(self.report["ratios"][key])
        self.assertTrue(self.report["machine"]["wine"].startswith("wine-"), self.report["machine"])

    def test_leaves_nothing_running(self):
        self.assertEqual(winenv.leftovers(self.env["WIRENEST_BENCH_DIR"]), [])


class StartedEnv(unittest.TestCase):
    """The benchmark's Wine environment, started for the class and left clean."""

    @classmethod
    def setUpClass(cls):
        cls.paths = environment_or_skip()
        cls.env = winenv.WineEnv(cls.paths["WIRENEST_KIT_DIR"], cls.paths["WNAGENT"],
                                 cls.paths["WIRENEST_BENCH_DIR"]).start()
        cls.addClassCleanup(cls.env.stop)  # cleanups run last first: restored, then stopped
        cls.addClassCleanup(cls.env.restore_state)


class FailedRuns(StartedEnv):
    """wnbench on programs that never show the dialog."""

    def wnbench(self, *exes):
        runs, summary, crashes = bench.run_wnbench(self.env, winenv.windows_path(self.paths["WNBENCH"]), list(exes),
                                                   1, 0, 3000)
        self.assertEqual(crashes, [])
        return runs, summary

    def test_missing_program(self):
        runs, summary = self.wnbench("C:\\kits\\none\\Wirenest.exe")
        self.assertEqual((runs[0]["ok"], runs[0]["error"]), (False, "CreateProcess failed"), runs)
        self.assertEqual((summary["ok"], summary["failed"]), (False, 1), summary)

    def test_program_without_the_dialog_is_stopped(self):
        # Notepad shows a window, but never the installer's dialog.
        runs, summary = self.wnbench("C:\\windows\\system32\\notepad.exe")
        self.assertFalse(runs[0]["ok"], runs)
        self.assertEqual(runs[0]["error"], "timed out waiting for the window", runs)
        self.assertFalse(summary["ok"], summary)
        windows = self.env.helper("windows", "notepad.exe")
        self.assertFalse(windows.get("ok"), "notepad still running: %s" % windows)


class BaselineLikeOurs(StartedEnv):
    """The yardstick picks its texts and places its dialog as Wirenest does."""

    # (PrimLangID, SubLangID or None) -> the module the texts come from.
    CHOICES = (((10, 3), SPANISH), ((4, 1), CHT), ((4, 2), CHS), ((30, 7), THAI), ((10, 1), ENGLISH),
               ((4, None), ENGLISH))

    def test_settings_choose_module_and_dialog_is_centred(self):
        for (prim, sub), module in self.CHOICES:
            with self.subTest(prim=prim, sub=sub):
                settings = {"PrimLangID": dword(prim), **({"SubLangID": dword(sub)} if sub is not None else {})}
                with self.env.run("Baseline", exe=bench.BASELINE, exe_source=self.paths["WNBASELINE"],
                                  extra=self.env.package(), settings=settings) as app:
                    dialog = app.wait_window(bench.CAPTION)
                    self.assertTrue(dialog["centred_workarea"], dialog)
                    self.assertEqual(app.lines(dialog), self.env.module_lines(module, form="ansi"))
                    self.assertEqual(app.end_with(dialog, IDCANCEL), 0)


if __name__ == "__main__":
    unittest.main()
