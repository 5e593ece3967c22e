"""The installer dialog's system commands under Wine: the About command
(any ID from 0x0010 to 0x001F) opens the About box over the dialog, and
the system's own commands keep their default processing."""

import unittest

import winenv
from facts import ABOUT_STYLE, ABOUT_VERSION, COPYRIGHT, IDCANCEL, IDOK, SYSTEM_ADDED_STYLE

SC_MOVE, SC_MINIMIZE, SC_CLOSE, SC_RESTORE = 0xF010, 0xF020, 0xF060, 0xF120
GUI_INMOVESIZE, WS_VISIBLE = 0x2, 0x10000000

env = None
setUpModule, tearDownModule = winenv.module_fixtures(globals())


class AboutBoxTest(unittest.TestCase):

    def state(self, dlg):
        """What a user sees of the installer dialog."""
        w = env.must("window", dlg["hwnd"])
        children = env.must("children", dlg["hwnd"])["children"]
        return {"text": w["text"], "style": w["style"], "exstyle": w["exstyle"], "rect": w["rect"],
                "enabled": w["enabled"], "visible": w["visible"],
                "children": [(c["id"], c["text"], c["style"], c["visible"], c["rect"]) for c in children]}

    def open_about(self, app, dlg, command):
        app.syscommand(dlg, command)
        about = app.wait_window("About Wirenest", 10000)
        self.assertEqual(about["owner"], dlg["hwnd"], "About box owner")
        self.assertEqual(about["pid"], dlg["pid"])
        self.assertEqual(about["style"], ABOUT_STYLE | SYSTEM_ADDED_STYLE | WS_VISIBLE, "style 0x%08x" % about["style"])
        installer = env.must("window", dlg["hwnd"])
        self.assertFalse(installer["enabled"], "the installer dialog stays enabled under the About box")
        (al, at, ar, ab), (il, it, ir, ib) = about["rect"], installer["rect"]  # centres within a pixel
        self.assertLessEqual(max(abs(al + ar - il - ir), abs(at + ab - it - ib)), 2, "About %s over %s"
                             % (about["rect"], installer["rect"]))
        texts = [c["text"] for c in env.must("children", about["hwnd"])["children"]][1:]
        self.assertEqual(texts, [ABOUT_VERSION, COPYRIGHT, "OK"])
        focus = app.focus(about).get("window", {})
        self.assertEqual((focus.get("id"), focus.get("text")), (IDOK, "OK"), "focus: %s" % focus)
        return about

    def test_about_closed_by_ok_and_by_escape_then_unchanged(self):
        with env.run("about") as app:
            dlg = app.wait_window("Wirenest")
            before = self.state(dlg)
            for command, key in ((0x0010, None), (0x001F, None), (0x0010, "escape")):
                with self.subTest(command="0x%04X" % command, key=key):
                    about = self.open_about(app, dlg, command)
                    app.key(about, key) if key else app.click(about, IDOK)
                    env.must("gone", about["hwnd"], 5000)
                    self.assertEqual(self.state(dlg), before)
            self.assertEqual([w["text"] for w in app.visible_windows()], ["Wirenest"])
            self.assertEqual(app.end_with(dlg, IDCANCEL), 0)


class DefaultSystemCommandsTest(unittest.TestCase):
    """Commands outside the About range reach the system's processing: each
    check looks for what only that processing does."""

    def end_unchanged(self, app, dlg):
        """No About box, the dialog where it was, then Cancel."""
        self.assertEqual(env.must("window", dlg["hwnd"])["rect"], dlg["rect"])
        self.assertEqual([w["text"] for w in app.visible_windows()], ["Wirenest"])
        self.assertTrue(env.must("window", dlg["hwnd"])["enabled"])
        app.end_with(dlg, IDCANCEL)

    def wait_state(self, dlg, test, timeout=5):
        """The dialog's thread state once test holds for it, else as it is after timeout seconds."""
        state = lambda: env.must("threadstate", dlg["hwnd"])
        return winenv.poll(lambda: next(filter(test, [state()]), None), timeout, 0.1) or state()

    def test_move_starts_the_move_loop(self):
        with env.run("move") as app:
            dlg = app.wait_window("Wirenest")
            app.syscommand(dlg, SC_MOVE)
            s = self.wait_state(dlg, lambda s: s["flags"] & GUI_INMOVESIZE)
            self.assertTrue(s["flags"] & GUI_INMOVESIZE, "no move loop: %s" % s)
            self.assertEqual(s["movesize"], dlg["hwnd"], s)
            app.key(dlg, "escape")  # ends the move where it began
            s = self.wait_state(dlg, lambda s: not s["flags"] & GUI_INMOVESIZE)
            self.assertFalse(s["flags"] & GUI_INMOVESIZE, "the move loop did not end: %s" % s)
            self.end_unchanged(app, dlg)

    def test_neighbours_of_the_about_range_then_minimize_and_restore(self):
        # 0x000F and 0x0020 mask to 0x0000 and 0x0020: not About, and the
        # system does nothing with them.  Posted messages arrive in order,
        # so once the minimize that follows them has happened they are done.
        with env.run("minimize") as app:
            dlg = app.wait_window("Wirenest")
            for command in (0x000F, 0x0020, SC_MINIMIZE):
                app.syscommand(dlg, command)
            self.assertTrue(self.wait_state(dlg, lambda s: s["iconic"])["iconic"], "not minimized")
            app.syscommand(dlg, SC_RESTORE)
            self.assertFalse(self.wait_state(dlg, lambda s: not s["iconic"])["iconic"], "not restored")
            self.end_unchanged(app, dlg)

    def test_close_ends_the_program(self):
        with env.run("close") as app:
            dlg = app.wait_window("Wirenest")
            app.syscommand(dlg, SC_CLOSE)
            self.assertEqual(app.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
