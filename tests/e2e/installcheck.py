"""What a run of the installer did, for the install and fault tests: the
registration calls in Wine's setupapi trace, the security set in a Wine
server's trace, what the installation left, and the test case that runs OK
and checks the result box."""

import re

import winenv
from facts import ENGLISH, IDOK, PACKAGE_FILES

# SetupCopyOEMInfA's trace line: source, location, media type, copy style.
REGISTRATION = re.compile(r'trace:setupapi:SetupCopyOEMInfA "(.*?)", (\S+), (\d+), (\d+),')

# The server's trace, measured under Wine 8: a request, then its reply, on
# lines of their own that start with the thread's id; threads interleave.
CREATE_FILE = re.compile(r'^([0-9a-f]{4}): create_file\( .*name=L"((?:[^"\\]|\\.)*)"')
CREATE_REPLY = re.compile(r'^([0-9a-f]{4}): create_file\(\) = (\w+) \{ handle=([0-9a-f]+) \}')
CLOSE_HANDLE = re.compile(r'^([0-9a-f]{4}): close_handle\( handle=([0-9a-f]+) \)')
SET_SECURITY = re.compile(
    r'^([0-9a-f]{4}): set_security_object\( handle=([0-9a-f]+), security_info=([0-9a-f]+), sd=\{(.*)\} \)$')


def registrations(app):
    """(source, copy style) of every SetupCopyOEMInfA call the program made."""
    return [(m.group(1).replace("\\\\", "\\"), int(m.group(4))) for m in REGISTRATION.finditer(app.wine_output())]


def security_set(output):
    """(path, information flags, descriptor) of every security set on a file
    or folder in a server trace, in order; a handle's path is that of the
    create_file whose reply in the same thread gave it."""
    sets, asked, handles = [], {}, {}
    for line in output.splitlines():
        if found := CREATE_FILE.match(line):
            name = found.group(2).replace("\\\\", "\\")
            asked[found.group(1)] = name[4:] if name.startswith("\\??\\") else name
        elif found := CREATE_REPLY.match(line):
            path = asked.pop(found.group(1), None)
            if found.group(2) == "0" and path is not None:
                handles[found.group(1), found.group(3)] = path
        elif found := CLOSE_HANDLE.match(line):
            handles.pop(found.group(1, 2), None)
        elif (found := SET_SECURITY.match(line)) and found.group(1, 2) in handles:
            sets.append((handles[found.group(1, 2)], int(found.group(3), 16), found.group(4)))
    return sets


class InstallChecks:
    """What an installation left, for any test case of the started WineEnv."""

    def check_installed(self, package=None, calls=None, stored=1):
        """The targets hold the package's bytes ({name: bytes}; default the
        sample), the store its INF stored times, and calls, if traced, one."""
        env = winenv.WineEnv.active
        package = package or {name: winenv.read(env.package_file(name)) for name in PACKAGE_FILES}
        for name in PACKAGE_FILES:
            with self.subTest(file=name):
                self.assertEqual(winenv.read(env.target(name)), package[name])
        self.assertEqual(len(env.stored_infs(package[PACKAGE_FILES[0]])), stored,
                         "store: %s" % sorted(env.store_listing()))
        if calls is not None:
            self.assertTrue(calls, "no registration")


class InstallTestCase(InstallChecks, winenv.TestCase):
    """Drive C as before any installation at the end too: no target tree,
    nothing registered or staged, no refusing link in the store."""

    def setUp(self):
        super().setUp()
        self.addCleanup(self.env.remove_installation)

    def check_staged(self, added):
        """A store listing's new names in the driver store: the INF and the
        driver where Wine stages packages, nothing where not."""
        staged = sorted(name.rsplit("/", 1)[-1].lower() for name in added if name.startswith("driverstore/"))
        self.assertEqual(staged, ["omk58cdc.inf", "omk58cdc.sys"] if winenv.select_wine().keeps_driver_store
                         else [], "added to the store: %s" % sorted(added))

    def run_kit(self, name, wine_debug="trace+setupapi", extra=None, **kw):
        """A run with the sample package (or the extra given), setupapi traced."""
        extra = self.env.package() if extra is None else extra
        return self.env.run(name, extra=extra, wine_debug=wine_debug, **kw)

    def check_result_box(self, box, dialog, string_id, caption="Wirenest", lang=None):
        self.check_box(box, self.env.module_string(ENGLISH, string_id, lang=lang)["text"], caption, "information",
                       dialog["hwnd"])

    def install(self, name, string_id, caption="Wirenest", security=False, before_ok=None, **run):
        """One run that presses OK (after before_ok(app), if given), checks
        and closes the result box, and returns the registration calls; the
        store listing before it in self.store_before, and with security, the
        security set (from the server's trace) in self.security."""
        self.store_before = self.env.store_listing()
        with self.run_kit(name, server_trace=security, **run) as app:
            if before_ok:
                before_ok(app)
            dialog, box = app.press_ok()
            self.check_result_box(box, dialog, string_id, caption, run.get("lang"))
            app.end_with(box, IDOK)
            self.security = security_set(app.wine_output()) if security else None
            return registrations(app)
