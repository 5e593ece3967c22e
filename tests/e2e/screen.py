"""The screen of a WineEnv: its private X server and pictures of what the
program shows, read and written through PIL (Debian's python3-pil)."""

import os
import subprocess
import time

from PIL import Image

from machine import windows_path

SCREEN = "1024x768"
FIRST_DISPLAY = 50
# Under the work folder: every Xvfb a session started, for xvfb_leftovers().
XVFB_RECORD = "xvfb-started"


class Xvfb:
    """A private X server on the first free display from FIRST_DISPLAY."""

    def __init__(self, log_path, record_path=None):
        self.log_path = log_path
        self.record_path = record_path  # "pid display" per server, for xvfb_leftovers()
        self.proc = None
        self.display = None

    def start(self):
        for n in range(FIRST_DISPLAY, FIRST_DISPLAY + 40):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            with open(self.log_path, "ab") as out:
                proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", SCREEN + "x24",
                                         "-nolisten", "tcp"],
                                        stdout=out, stderr=subprocess.STDOUT,
                                        start_new_session=True)
            deadline = time.monotonic() + 10
            while proc.poll() is None and time.monotonic() < deadline:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.proc, self.display = proc, ":%d" % n
                    if self.record_path:
                        with open(self.record_path, "a") as f:
                            f.write("%d %s\n" % (proc.pid, self.display))
                    return self.display
                time.sleep(0.05)
            # Lost a race for this display, or a hung start: try the next.
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        raise RuntimeError("no free X display from :%d (see %s)" % (FIRST_DISPLAY, self.log_path))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


def xvfb_leftovers(work_dir):
    """Every Xvfb that a session of this work folder started and that still
    runs.  Ended servers are forgotten; one still running is named again
    next time."""
    record = os.path.join(work_dir, XVFB_RECORD)
    if not os.path.exists(record):
        return []
    with open(record) as f:
        started = [line.split() for line in f if line.strip()]
    found, alive = [], []
    for pid, display in started:
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if os.path.basename(argv[0]) == b"Xvfb" and display.encode() in argv:
            found.append("Xvfb %s on %s" % (pid, display))
            alive.append("%s %s\n" % (pid, display))
    with open(record, "w") as f:
        f.writelines(alive)
    return found


def save_png(image, png_path, palette=False):
    """Saves a picture as PNG; with palette, 8-bit indexed when it has at
    most 256 colours (a dialog has far fewer), each colour kept exactly."""
    image = image.convert("RGB")
    colours = image.getcolors(256) if palette else None
    if colours:
        index = {rgb: i for i, (_, rgb) in enumerate(colours)}
        indexed = Image.frombytes("P", image.size, bytes(index[p] for p in image.getdata()))
        indexed.putpalette([c for _, rgb in colours for c in rgb])
        image = indexed
    image.save(png_path, optimize=True)
    return png_path


class Screen:
    """Pictures of the screen, for a WineEnv (must)."""

    def screen(self, name="screen"):
        """The screen as Windows draws it, as a PIL image (RGB)."""
        bmp = os.path.join(self.artifacts, name + ".bmp")
        self.must("screenshot", windows_path(bmp))
        try:
            with Image.open(bmp) as image:
                return image.convert("RGB")
        finally:
            os.remove(bmp)

    def screenshot(self, png_path):
        """The screen saved as PNG."""
        return save_png(self.screen(), png_path)
