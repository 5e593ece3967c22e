"""Runs wnprobe.exe (WNPROBE, set by CTest) in a WineEnv's prefix.

wnprobe reads an executable the way Windows reads it (version API,
resource API, dialog manager) and lists what a running process loaded."""

import os


def path():
    exe = os.environ.get("WNPROBE")
    if not exe:
        raise RuntimeError("set WNPROBE (CTest does)")
    return os.path.abspath(exe)


def run(env, *args, timeout=30):
    """One wnprobe command; returns its JSON answer, which has to be ok."""
    return env.must(*args, timeout=timeout, program=path())
