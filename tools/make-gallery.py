#!/usr/bin/env python3
"""Screenshots of the real Wirenest.exe under Wine for docs/gallery/: the
installer dialog and the result box in each of the five languages, and the
"Error" box.

Runs in a Wine prefix of its own (under <work>), with a virtual desktop so
that captions are drawn, and each language in a locale whose ANSI code page
shows its script.  The dialog asks for Arial, which is not free: Liberation
Sans, which has its metrics, stands in for it, with WenQuanYi Micro Hei
linked behind it for the Chinese characters, as Windows links a CJK font
behind its Latin ones.  Thai cannot come through such a link (Wine shapes
Thai text with the first font's glyphs only), so for Thai Arial stands for
Loma, the Thai interface font of the TLWG fonts.

Each picture is cropped to its window, taken once its caption is drawn
active, and saved with an 8-bit palette when it has at most 256 colours.
Before it is saved, the texts the window shows are checked against the
language module, and the font that draws them is checked to draw every
character (so no boxes and no question marks).

  make-gallery.py --kit build/windows/kit --helper .../wnagent.exe
                  --work build/windows/gallery --out docs/gallery
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import winenv  # noqa: E402
from facts import (CHS, CHT, ENGLISH, IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDOK, IDS_INSTALL_OK, IDS_STEP1,  # noqa: E402
                   IDS_STEP2, REG_SZ, SPANISH, THAI, dword)
from screen import save_png  # noqa: E402

REPLACEMENTS = r"HKCU\Software\Wine\Fonts\Replacements"

# Characters Liberation Sans lacks are taken from the linked font.
LINKED_FONTS = b"wqy-microhei.ttc,WenQuanYi Micro Hei\0\0"
PREFIX_FONTS = """
[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]
"Liberation Sans"=hex(7):%s
""" % ",".join("%02x" % b for b in LINKED_FONTS)

# file suffix, language, settings, locale (its ANSI code page shows the
# script), the font that stands for Arial
LANGUAGES = (
    ("en", "English", {}, "en_US.UTF-8", "Liberation Sans"),
    ("zh-CN", "Simplified Chinese", {"PrimLangID": dword(4), "SubLangID": dword(2)}, "zh_CN.UTF-8",
     "Liberation Sans"),
    ("zh-TW", "Traditional Chinese", {"PrimLangID": dword(4), "SubLangID": dword(1)}, "zh_TW.UTF-8",
     "Liberation Sans"),
    ("es", "Spanish", {"PrimLangID": dword(10), "SubLangID": dword(3)}, "es_ES.UTF-8", "Liberation Sans"),
    ("th", "Thai", {"PrimLangID": dword(30), "SubLangID": dword(0)}, "th_TH.UTF-8", "Loma"),
)
MODULE = {"en": ENGLISH, "zh-CN": CHS, "zh-TW": CHT, "es": SPANISH, "th": THAI}


class GalleryError(Exception):
    pass


def check(condition, message):
    if not condition:
        raise GalleryError(message)


def expected_text(env, module, string_id, lang):
    """The module's string, checked to survive the locale's code page."""
    s = env.module_string(module, string_id, lang=lang)
    check(s["ansi"] == s["text"], "%s string %d cannot be shown in %s (code page %d)"
          % (module, string_id, lang, s["acp"]))
    return s["text"]


def use_for_arial(env, font, texts, lang):
    """Makes Wine draw Arial with this font, and checks that it does and
    that every character of the texts comes out as a glyph, not a box."""
    env.must("regset", REPLACEMENTS, "Arial", REG_SZ, (font.encode("ascii") + b"\0").hex())
    answer = env.must("font", "Arial", "1", "".join(texts), lang=lang)
    check(answer["full"].endswith(font), "Arial is drawn with %s, not %s" % (answer["full"], font))
    check(not answer["missing"], "%s in %s draws boxes for %s" % (font, lang, answer["missing"]))


def caption_is_active(screen, rect):
    """Wine draws an active caption blue and an inactive one grey; looked at
    right of the caption text and left of any close button."""
    r, g, b = screen.getpixel((rect[0] + (rect[2] - rect[0]) * 3 // 5, rect[1] + 8))
    return b > r + 60


def shoot(env, window, path, timeout=10):
    """The window alone, once it is drawn as the active one: the caption
    turns active a little after the window is shown.  A box that is its
    process's first window may stay grey under Wine: it is activated again
    as a user's click would."""
    rect = env.must("window", window["hwnd"])["rect"]
    start = time.monotonic()
    activated = False
    while True:
        screen = env.screen()
        if caption_is_active(screen, rect):
            break
        waited = time.monotonic() - start
        check(waited < timeout, "the caption of %r never turned active" % window["text"])
        if waited > 2 and not activated:
            env.must("activate", window["hwnd"])
            activated = True
        time.sleep(0.2)
    left, top, right, bottom = rect
    check(0 <= left < right <= screen.width and 0 <= top < bottom <= screen.height,
          "window %s off the screen" % (rect,))
    save_png(screen.crop(tuple(rect)), path, palette=True)
    print("  %s (%d bytes)" % (path, os.path.getsize(path)))


def language_pictures(env, out, suffix, name, settings, lang, font):
    module = MODULE[suffix]
    step1, step2 = (expected_text(env, module, i, lang) for i in (IDS_STEP1, IDS_STEP2))
    result = expected_text(env, module, IDS_INSTALL_OK, lang)
    use_for_arial(env, font, (step1, step2, result), lang)
    print("%s (%s, Arial drawn with %s):" % (name, lang, font))
    with env.run("gallery-" + suffix, settings=settings, lang=lang, extra=env.package()) as app:
        dialog = app.wait_window("Wirenest")
        shown = (app.text(dialog, IDC_STEP1_TEXT), app.text(dialog, IDC_STEP2_TEXT))
        check(shown == (step1, step2), "the dialog shows %r, the module holds %r" % (shown, (step1, step2)))
        shoot(env, dialog, os.path.join(out, "dialog-%s.png" % suffix))

        app.click(dialog, IDOK)
        box = app.wait_box(dialog)
        check(box["message"] == result, "the result box says %r, not %r" % (box["message"], result))
        shoot(env, box, os.path.join(out, "result-%s.png" % suffix))
        app.end_with(box, IDOK)


def error_picture(env, out):
    print("Error box (no language module):")
    with env.run("K58", modules=[]) as app:
        box = app.msgbox(app.wait_window("Error"))
        check(box["icon"] == "stop", "error box icon: %s" % box["icon"])
        shoot(env, box, os.path.join(out, "error.png"))
        app.end_with(box, IDOK)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kit", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--work", required=True, help="working folder with the gallery's own prefix")
    parser.add_argument("--out", required=True, help="folder for the PNG files")
    a = parser.parse_args()
    out = os.path.abspath(a.out)
    os.makedirs(out, exist_ok=True)
    build = os.path.dirname(os.path.abspath(a.kit))
    env = winenv.WineEnv(winenv.build_path(a.kit, build), winenv.build_path(a.helper, build),
                         winenv.build_path(a.work, build), prefix_reg=PREFIX_FONTS).start()
    try:
        check(os.path.exists(winenv.MARLETT), "%s is missing (Debian package fonts-wine)" % winenv.MARLETT)
        family = env.must("font", "Marlett", "2")["family"]
        check(family == "Marlett", "the caption buttons would be drawn with %s, not Marlett" % family)
        for suffix, name, settings, lang, font in LANGUAGES:
            language_pictures(env, out, suffix, name, settings, lang, font)
        error_picture(env, out)
    except (GalleryError, AssertionError, winenv.HelperError) as e:
        print("make-gallery: %s" % e, file=sys.stderr)
        return 1
    finally:
        env.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
