#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on its inputs: entries in the given
order, one fixed date, fixed permissions, and CR LF line ends in .txt
entries so that Notepad on older Windows shows them properly.

usage: make-zip.py OUT.zip DATE NAME=SOURCE...
  DATE    seconds since 1970 (UTC) for every entry, e.g. the commit time
  NAME    path inside the zip (forward slashes); SOURCE a file on disk
Folders get entries of their own, before their first file."""

import sys
import time
import zipfile

FILE_MODE = 0o100644
DIR_MODE = 0o040755
MSDOS_DIRECTORY = 0x10


def entry(name, date, mode):
    info = zipfile.ZipInfo(name, date_time=date)
    info.create_system = 3  # Unix, so that the mode below means something
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= MSDOS_DIRECTORY
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    out, seconds, pairs = argv[1], int(argv[2]), argv[3:]
    # Zip dates are local-time fields from 1980 on; UTC keeps them the same
    # on every build machine.
    date = time.gmtime(max(seconds, 315532800))[:6]
    folders = set()
    with zipfile.ZipFile(out, "w") as z:
        for pair in pairs:
            name, sep, source = pair.partition("=")
            if not sep or not name or name.startswith("/") or ".." in name.split("/"):
                sys.stderr.write("make-zip.py: bad entry %r\n" % pair)
                return 2
            parts = name.split("/")
            for depth in range(1, len(parts)):
                folder = "/".join(parts[:depth]) + "/"
                if folder not in folders:
                    folders.add(folder)
                    z.writestr(entry(folder, date, DIR_MODE), b"")
            with open(source, "rb") as f:
                data = f.read()
            if name.lower().endswith(".txt"):
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
            z.writestr(entry(name, date, FILE_MODE), data, compresslevel=9)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
