"""Runs wnprobe.exe (WNPROBE, set by CTest) in a WineEnv's prefix.

wnprobe reads an executable the way Windows reads it (version API,
resource API, dialog manager) and lists what a running process loaded."""

import json
import os
import subprocess
import tempfile

import winenv


def path():
    exe = os.environ.get("WNPROBE")
    if not exe:
        raise RuntimeError("set WNPROBE (CTest does)")
    return os.path.abspath(exe)


def run(env, *args, timeout=30):
    """One wnprobe command; returns its JSON answer, which has to be ok."""
    cmd = [winenv.WINE, path()] + [str(a) for a in args]
    # Files, not pipes: see WineEnv.helper.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(cmd, env=env.environment(), stdout=out, stderr=err)
        try:
            code = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise winenv.HelperError("wnprobe %s: no answer within %d s" % (" ".join(cmd[2:]), timeout))
        out.seek(0)
        err.seek(0)
        lines = [l for l in out.read().decode("ascii", "replace").splitlines() if l.startswith("{")]
        if not lines:
            raise winenv.HelperError("wnprobe %s: no answer (exit %d): %s" % (
                " ".join(cmd[2:]), code, err.read().decode("utf-8", "replace")[-2000:]))
    answer = json.loads(lines[-1])
    if not answer.get("ok"):
        raise winenv.HelperError("wnprobe %s failed: %s" % (" ".join(cmd[2:]), answer))
    return answer
