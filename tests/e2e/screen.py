"""The screen of a WineEnv: its private X server and pictures of what the
program shows, read and written through PIL (Debian's python3-pil)."""

import os
import subprocess

from PIL import Image

from machine import windows_path
from winbuild import poll

SCREEN = "1024x768"
FIRST_DISPLAY = 50
# In the environment of each Xvfb a session starts: its work folder, by
# which the end of a run finds a server left running.
SESSION_VARIABLE = "WIRENEST_XVFB_SESSION"


class Xvfb:
    """A private X server on the first free display from FIRST_DISPLAY."""

    def __init__(self, log_path, session):
        self.log_path = log_path
        self.session = session
        self.proc = None
        self.display = None

    def start(self):
        for n in range(FIRST_DISPLAY, FIRST_DISPLAY + 40):
            socket = "/tmp/.X11-unix/X%d" % n
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists(socket):
                continue
            with open(self.log_path, "ab") as out:
                proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", SCREEN + "x24", "-nolisten", "tcp"],
                                        stdout=out, stderr=subprocess.STDOUT, start_new_session=True,
                                        env=dict(os.environ, **{SESSION_VARIABLE: self.session}))
            if poll(lambda: proc.poll() is not None or os.path.exists(socket), 10) and proc.poll() is None:
                self.proc, self.display = proc, ":%d" % n
                return self.display
            # Lost a race for this display, or a hung start: try the next.
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        raise RuntimeError("no free X display from :%d (see %s)" % (FIRST_DISPLAY, self.log_path))

    def stop(self):
        if self.proc:
            self.proc.terminate()
            if not poll(lambda: self.proc.poll() is not None, 5):
                self.proc.kill()
            self.proc.wait()
        self.proc = None


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
