"""Start-up and install benchmark: Wirenest.exe side by side with
Baseline.exe (the same work in plain Win32 C, linked with the same
resources), in one Wine prefix and one run of wnbench.

For each program: start to dialog visible and OK to result box visible
(median, min-max, interquartile range), the ratio ours/baseline of the
medians, the executable's size and the peak working set, as a table and as
JSON.  A missed target is printed, not failed on: the exit code is non-zero
only when the runs themselves failed.

Environment (set by CMake): WIRENEST_KIT_DIR (the kit), WNAGENT, WNBENCH,
WNBASELINE (the three programs), WIRENEST_BENCH_DIR (its own Wine prefix
and session lock).
"""

import argparse
import datetime
import json
import os
import platform
import random
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import pefile  # noqa: E402  Debian's python3-pefile
import winenv  # noqa: E402
from facts import (ENGLISH, EXE_NAME, IDD_ABOUT, IDD_INSTALLER, IDI_APP, IDS_INSTALL_OK, MODULES,  # noqa: E402
                   RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_STRING, RT_VERSION, dword)

OURS, BASELINE = EXE_NAME, "Baseline.exe"
CAPTION = "Wirenest"
MAX_RATIO = 1.10
MAX_SIZE = 32768
METRICS = (("start_to_dialog_ms", "start to dialog visible, ms"),
           ("ok_to_box_ms", "OK to result box visible, ms"))

# What res/Wirenest.rc puts into the executable, by resource type: the two
# dialogs, the string block of the About entry (IDs 96-111 are block 7),
# the icon group, the version block and the manifest.  RT_ICON: any.
EXPECTED_RESOURCES = {RT_DIALOG: {IDD_ABOUT, IDD_INSTALLER}, RT_STRING: {7}, RT_GROUP_ICON: {IDI_APP},
                      RT_VERSION: {1}, RT_MANIFEST: {1}, RT_ICON: set()}


def read_pe(path):
    """(stripped: no COFF symbols nor debug sections, {resource type id: set of
    name ids}) of a PE32 file, or of a PE32+ one when the x86_64 build is timed."""
    image = pefile.PE(path, fast_load=True)
    runs_32bit = winenv.select_wine().runs_32bit
    if image.OPTIONAL_HEADER.Magic != (pefile.OPTIONAL_HEADER_MAGIC_PE if runs_32bit
                                       else pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS):
        raise ValueError("%s is not %s" % (path, "PE32" if runs_32bit else "PE32+ (the x86_64 build)"))
    header = image.FILE_HEADER
    stripped = (header.PointerToSymbolTable == 0 and header.NumberOfSymbols == 0
                and not any(s.Name.startswith(b".debug") for s in image.sections))
    image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    root = getattr(image, "DIRECTORY_ENTRY_RESOURCE", None)
    # Named types and names: none of ours.
    resources = {t.id: {n.id for n in t.directory.entries if n.name is None}
                 for t in (root.entries if root else []) if t.name is None and hasattr(t, "directory")}
    return stripped, resources


def missing_resources(resources):
    missing = []
    for type_id, names in sorted(EXPECTED_RESOURCES.items()):
        have = resources.get(type_id)
        missing += ["type %d id %d" % (type_id, n) for n in sorted(names - have)] if have else ["type %d" % type_id]
    return missing


def spread(values):
    """median, min, max and the quartiles of a list (None when empty)."""
    if not values:
        return None
    q1, _, q3 = statistics.quantiles(values, n=4, method="inclusive") if len(values) > 1 else (values[0],) * 3
    return {"median": statistics.median(values), "min": min(values), "max": max(values),
            "q1": q1, "q3": q3, "n": len(values)}


def ratio(ours, baseline):
    return ours["median"] / baseline["median"] if ours and baseline and baseline["median"] else None


def ratio_interval(ours, baseline, rounds=2000, level=0.90):
    """How far the ratio of medians moves when the runs are drawn again
    (bootstrap, fixed seed): (low, high) at that level, or None."""
    if not ours or not baseline:
        return None
    draw = random.Random(1)
    ratios = sorted(statistics.median(draw.choices(ours, k=len(ours)))
                    / statistics.median(draw.choices(baseline, k=len(baseline))) for _ in range(rounds))
    cut = int(rounds * (1 - level) / 2)
    return ratios[cut], ratios[rounds - 1 - cut]


def machine():
    try:
        cpu = next((l.split(":", 1)[1].strip() for l in winenv.read("/proc/cpuinfo").decode().splitlines()
                    if l.startswith("model name")), "unknown")
    except OSError:
        cpu = "unknown"
    wine = winenv.select_wine()
    build = ("PE32 (i686) under 32-bit Wine" if wine.runs_32bit
             else "x86_64 build under 64-bit Wine: " + winenv.FALLBACK_NOTE)
    return {"cpu": cpu, "cores": os.cpu_count(), "wine": wine.version, "build": build,
            "system": "%s %s" % (platform.system(), platform.release())}


def summarize(runs, exes, exe_files):
    """The report's figures from wnbench's runs (warm-up runs left out)."""
    programs = {}
    timed = {name: [r for r in runs if r["name"] == name and not r["warmup"] and r["ok"]] for name in exes}
    for name, mine in timed.items():
        stripped, resources = read_pe(exe_files[name])
        programs[name] = {
            "runs_ok": len(mine), "size_bytes": os.path.getsize(exe_files[name]), "stripped": stripped,
            "runs_failed": sum(1 for r in runs if r["name"] == name and not r["warmup"] and not r["ok"]),
            "resources_missing": missing_resources(resources),
            "peak_working_set_bytes": spread([r["peak_working_set"] for r in mine if r["peak_working_set"]]),
            **{key: spread([r[key] for r in mine]) for key, _ in METRICS}}
    ours, base = programs[OURS], programs[BASELINE]
    ratios = {key: ratio(ours[key], base[key]) for key, _ in METRICS}
    ratios.update({key + "_interval90": ratio_interval(*([r[key] for r in timed[name]] for name in exes))
                   for key, _ in METRICS})
    targets = {key + "_ratio": ratios[key] is not None and ratios[key] <= MAX_RATIO for key, _ in METRICS}
    # The size target is the shipped PE32's; the x86_64 build's size says
    # nothing about it, so that build leaves the target unjudged (None).
    targets["size"] = ((ours["size_bytes"] <= MAX_SIZE and ours["stripped"] and not ours["resources_missing"])
                       if winenv.select_wine().runs_32bit else None)
    return programs, ratios, targets


def met(ok):
    return "not judged (not the PE32 build)" if ok is None else "met" if ok else "target missed"


def print_report(report, out=sys.stdout):
    p, m = report["programs"], report["machine"]
    w = out.write
    w("Wirenest start-up and install benchmark, %s\n" % report["date"])
    w("Machine: %s, %s cores, %s, %s\n" % (m["cpu"], m["cores"], m["wine"], m["system"]))
    w("Programs: %s\n" % m["build"])
    w("%d timed runs of each program, taking turns (after %d warm-up run(s) each)\n\n"
      % (report["runs_per_program"], report["warmup_per_program"]))
    w("%-24s %9s %9s %9s   %s\n" % ("", "median", "min", "max", "interquartile range"))
    for key, title in METRICS:
        w("%s\n" % title)
        for name in (OURS, BASELINE):
            s = p[name][key]
            w("  %-22s %9s\n" % (name, "no runs") if s is None else "  %-22s %9.1f %9.1f %9.1f   %.1f-%.1f\n"
              % (name, s["median"], s["min"], s["max"], s["q1"], s["q3"]))
        r, band = report["ratios"][key], report["ratios"][key + "_interval90"]
        w("  %-22s %9s   (90%% of redrawn runs: %s; target <= %.2f: %s)\n"
          % ("ratio ours/baseline", "n/a" if r is None else "%.3f" % r, "n/a" if band is None
             else "%.3f-%.3f" % tuple(band), MAX_RATIO, met(report["targets"][key + "_ratio"])))
    w("peak working set, KiB\n")
    for name in (OURS, BASELINE):
        s = p[name]["peak_working_set_bytes"]
        w("  %-22s %9s\n" % (name, "n/a") if s is None else "  %-22s %9.0f %9.0f %9.0f\n"
          % (name, s["median"] / 1024, s["min"] / 1024, s["max"] / 1024))
    w("executable size\n")
    for name in (OURS, BASELINE):
        q = p[name]
        w("  %-22s %9d bytes (%s, %s)\n" % (name, q["size_bytes"], "stripped" if q["stripped"] else "NOT stripped",
          "missing " + ", ".join(q["resources_missing"]) if q["resources_missing"] else "all resources"))
    w("  %s within %d bytes, stripped, with every resource: %s\n" % (OURS, MAX_SIZE, met(report["targets"]["size"])))
    failed = sum(q["runs_failed"] for q in p.values()) + report["warmup_failed"]
    if failed:
        w("\n%d run(s) FAILED:\n" % failed)
        for r in report["runs"]:
            if not r["ok"]:
                w("  %s run %s: %s\n" % (r["name"], "warm-up" if r["warmup"] else r["run"], r["error"]))


def paths():
    """The kit, the three programs and the work folder CMake names (by
    default bench/ beside the kit); KeyError names one that is not set."""
    winenv.select_wine()  # which may point the paths CMake gives elsewhere
    found = {n: os.environ[n] for n in ("WIRENEST_KIT_DIR", "WNAGENT", "WNBENCH", "WNBASELINE")}
    beside_kit = os.path.join(os.path.dirname(os.path.abspath(found["WIRENEST_KIT_DIR"])), "bench")
    found["WIRENEST_BENCH_DIR"] = os.environ.get("WIRENEST_BENCH_DIR") or beside_kit
    return found


def run_wnbench(env, wnbench, exes, runs, warmup, timeout_ms):
    """wnbench's JSON lines and Wine's crash reports: (runs, summary, crash lines)."""
    log_path = os.path.join(env.logs, "wnbench.wine.log")
    limit = (runs + warmup) * len(exes) * (3 * timeout_ms / 1000 + 2) + 120
    code, out, err = env.run_program(wnbench, "-n", runs, "-w", warmup, "-c", CAPTION, "-t", timeout_ms, *exes,
                                     timeout=limit, err_path=log_path)
    if code is None:
        raise RuntimeError("wnbench did not finish within %d s (Wine output: %s)" % (limit, log_path))
    lines = winenv.json_lines(out)
    crashes = winenv.crash_lines(err.decode("utf-8", "replace"))
    summary = next((l for l in lines if l.get("summary")), None)
    if summary is None:
        raise RuntimeError("wnbench gave no summary (exit %d; Wine output: %s)" % (code, log_path))
    return [l for l in lines if not l.get("summary")], summary, crashes


def main(argv=None):
    parser = argparse.ArgumentParser(description="Wirenest.exe against Baseline.exe under Wine")
    parser.add_argument("--runs", type=int, default=21, help="timed runs of each program (default 21)")
    parser.add_argument("--warmup", type=int, default=1, help="untimed runs of each first (default 1)")
    parser.add_argument("--timeout-ms", type=int, default=20000, help="limit of each wait in a run")
    parser.add_argument("--json", help="where to write the results (default <work>/bench-results.json)")
    a = parser.parse_args(argv)
    try:
        kit, helper, wnbench, baseline, work = paths().values()
    except KeyError as e:
        parser.error("set %s (the bench target and CTest do)" % e)
    json_path = a.json or os.path.join(work, "bench-results.json")
    exe_files = {OURS: os.path.join(kit, OURS), BASELINE: baseline}

    env = winenv.WineEnv(kit, helper, work).start()
    try:
        # C:\kits\<name>: the program, the language modules and the package.
        exes = [env.lay_out_kit(name, MODULES, env.package(), exe_files[exe])
                for name, exe in (("Wirenest", OURS), ("Baseline", BASELINE))]
        # English, read through both numbers the way a user's settings are.
        env.set_settings({"PrimLangID": dword(0), "SubLangID": dword(0)})
        installed_text = env.module_string(ENGLISH, IDS_INSTALL_OK)["text"]
        runs, summary, crashes = run_wnbench(env, winenv.windows_path(wnbench), exes, a.runs, a.warmup, a.timeout_ms)
        env.restore_state()
    finally:
        env.stop()

    for r in runs:
        r["name"] = r["exe"].rsplit("\\", 1)[-1]
        # A run counts only if the program said what a first install says.
        if r["ok"] and r["box_text"] != installed_text:
            r["ok"], r["error"] = False, "the result box said %r" % r["box_text"]
    programs, ratios, targets = summarize(runs, (OURS, BASELINE), exe_files)
    report = {"date": datetime.datetime.now().astimezone().isoformat(timespec="seconds"), "machine": machine(),
              "runs_per_program": a.runs, "warmup_per_program": a.warmup,
              "warmup_failed": sum(1 for r in runs if r["warmup"] and not r["ok"]), "programs": programs,
              "ratios": ratios, "targets": targets, "targets_limits": {"ratio": MAX_RATIO, "size_bytes": MAX_SIZE},
              "crash_lines": crashes, "wnbench_summary": summary, "runs": runs}
    os.makedirs(os.path.dirname(os.path.abspath(json_path)), exist_ok=True)
    winenv.write(json_path, json.dumps(report, indent=1).encode())
    print_report(report)
    print("\nResults as JSON: %s" % json_path)

    expected = a.runs + a.warmup
    counted = {name: sum(1 for r in runs if r["name"] == name) for name in (OURS, BASELINE)}
    failed = [r for r in runs if not r["ok"]]
    if failed or crashes or any(n != expected for n in counted.values()):
        print("FAILED: %d failed run(s), %d crash line(s), runs per program %s (expected %d)"
              % (len(failed), len(crashes), counted, expected))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
