"""Drive C and the registry of a WineEnv's prefix: the kits laid out under
C:\\kits, the driver's target tree, the INF store and the driver store, and
what a run changed.  Mixed into WineEnv, whose helper commands it uses."""

import json
import os
import re
import shutil
import subprocess
import tempfile

from facts import EXE_NAME, PACKAGE, SETTINGS_ROOT, TARGET_ROOT
from winbuild import WOW64_VARIABLE, log, read, select_wine, write

APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults"

# What a registration leaves under C:\windows: the INF store, and the driver
# store in which Wine 10 stages the package, as Windows does from Vista on
# (Wine 8 keeps none).  What each held right after the prefix was made is
# restored before each test.  For a PE32 in a 64-bit prefix Wine 10 puts it
# under syswow64 (measured), where Windows 7 and later keep system32's.
STORES = {"inf": ("windows", "inf"), "driverstore": (
          "windows", "syswow64" if os.environ.get(WOW64_VARIABLE) else "system32", "driverstore", "filerepository")}
STORES_BASELINE = ".wirenest-stores"


def windows_path(unix_path):
    """The Z: drive of a default prefix maps the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def remove_path(path):
    """Removes a file, a link (not what it points to) or a folder tree."""
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def tree_state(root):
    """{relative path: (kind, size, mtime)} of everything under root."""
    state = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            kind = "link" if os.path.islink(path) else "dir" if os.path.isdir(path) else "file"
            state[os.path.relpath(path, root)] = (kind, st.st_size if kind == "file" else 0, st.st_mtime_ns)
    return state


def tree_changes(before, after, label):
    return ["%s: %s %s" % (label, "added" if p not in before else "removed" if p not in after else "changed", p)
            for p in sorted(set(before) | set(after)) if before.get(p) != after.get(p)]


def parse_reg_export(data):
    """A regedit export as {key: [value lines]}, continuation lines joined."""
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("latin-1")
    keys, key, pending = {}, None, ""
    for line in text.splitlines():
        line = pending + line.strip() if pending else line
        if line.endswith("\\") and key is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            keys[key] = []
        elif key is not None and line and not line.startswith(";"):
            keys[key].append(line)
    return keys


VALUE_NAME = re.compile(r'(@|"(?:[^"\\]|\\.)*")=')


def registry_writes(before, after):
    """{(key, value name)} of every value added, removed or changed between
    two registry states; (key, None) for a key added or removed."""
    writes = set()
    for key in set(before) | set(after):
        if key not in before or key not in after:
            writes.add((key, None))
        elif before[key] != after[key]:
            for line in set(before[key]) ^ set(after[key]):
                name = VALUE_NAME.match(line)
                writes.add((key, name.group(1) if name else line))
    return writes


def registry_changes(before, after, wine_own=frozenset()):
    """One line per registry write, leaving out wine_own: what Wine itself
    writes whenever a program starts (Machine.wine_own_writes)."""
    writes = sorted(registry_writes(before, after) - set(wine_own), key=lambda w: (w[0], w[1] or ""))
    changes = []
    for key, name in writes:
        if name is None:
            changes.append("registry: %s [%s] %s" % ("added" if key in after else "removed", key, after.get(key, "")))
        else:
            lines = lambda state: sorted(l for l in state[key] if l.startswith(name + "="))
            changes.append("registry: changed [%s] %s -> %s" % (key, lines(before), lines(after)))
    return changes


class Machine:
    """Drive C and the registry, for a WineEnv (prefix, kit_dir, must)."""

    _wine_own_writes = None

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def target(self, name):
        """A file of the installed package on drive C."""
        return self.drive_c(TARGET_ROOT, PACKAGE, name)

    def target_state(self, name):
        """That file's bytes (or "folder") and modification time; None when absent."""
        path = self.target(name)
        if not os.path.lexists(path):
            return None
        return "folder" if os.path.isdir(path) else read(path), os.stat(path).st_mtime_ns

    def package_file(self, name):
        """A file of the kit's sample package."""
        return os.path.join(self.kit_dir, PACKAGE, name)

    def package(self):
        """The sample package of the kit, for extra= of a run."""
        return {PACKAGE: os.path.join(self.kit_dir, PACKAGE)}

    def lay_out_kit(self, name, modules=(), extra=None, exe_source=None, exe=None):
        """C:\\kits\\<name> made afresh: the executable (default the kit's,
        named exe), language modules of the kit, and extra: {name in the kit:
        a file or folder to copy, bytes to write, or None for an empty
        folder}.  Returns the executable's Windows path."""
        kit = self.drive_c("kits", name)
        exe_source = exe_source or os.path.join(self.kit_dir, EXE_NAME)
        exe = exe or os.path.basename(exe_source)
        remove_path(kit)
        os.makedirs(kit)
        shutil.copy(exe_source, os.path.join(kit, exe))
        for m in modules:
            shutil.copy(os.path.join(self.kit_dir, m), kit)
        for file_name, source in (extra or {}).items():
            target = os.path.join(kit, file_name)
            if source is None:
                os.mkdir(target)
            elif isinstance(source, bytes):
                write(target, source)
            elif os.path.isdir(source):
                shutil.copytree(source, target)
            else:
                shutil.copy(source, target)
        return "C:\\kits\\%s\\%s" % (name, exe)

    def restore_state(self):
        """The machine as a test expects to find it: no settings, no
        per-program Windows version, no kits, no installed driver (target
        tree on drive C, INF store as the prefix had it).  Run when the
        environment starts and before every TestCase test."""
        self.must("regdel", SETTINGS_ROOT)
        self.must("regdel", APP_DEFAULTS)
        # C:\kits itself stays, as every run leaves it: tests compare drive C
        # before and after a run.
        kits = self.drive_c("kits")
        os.makedirs(kits, exist_ok=True)
        for name in os.listdir(kits):
            remove_path(os.path.join(kits, name))
        self.remove_installation()

    def remove_installation(self):
        """Drive C as before any installation: no target tree, nothing
        registered or staged, no link a test left in the stores."""
        remove_path(self.drive_c(TARGET_ROOT))
        self.restore_stores()

    def record_stores(self):
        """What the stores of a new prefix hold, for restore_stores."""
        write(os.path.join(self.prefix, STORES_BASELINE), json.dumps({
            store: sorted(os.listdir(self.drive_c(*parts))) if os.path.isdir(self.drive_c(*parts)) else []
            for store, parts in STORES.items()}).encode())

    def restore_stores(self, stores=tuple(STORES)):
        """The stores (or the ones named) as the new prefix had them."""
        baseline = json.loads(read(os.path.join(self.prefix, STORES_BASELINE)))
        for store in stores:
            folder = self.drive_c(*STORES[store])
            for name in os.listdir(folder) if os.path.isdir(folder) else []:
                path = os.path.join(folder, name)
                if name not in baseline[store] or os.path.islink(path):
                    remove_path(path)

    def store_listing(self):
        """Every file of the INF store by name, and of the driver store as
        "driverstore/<folder>/<name>", with its bytes (None for a link)."""
        listing = {}
        for store, parts in STORES.items():
            top = self.drive_c(*parts)
            for folder, dirs, files in os.walk(top):
                for name in files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
                    path = os.path.join(folder, name)
                    rel = os.path.relpath(path, top).replace(os.sep, "/")
                    key = rel if store == "inf" else store + "/" + rel
                    listing[key] = None if os.path.islink(path) else read(path)
        return listing

    def stored_infs(self, inf):
        """Names of the INFs in the INF store that hold these bytes."""
        return sorted(name for name, data in self.store_listing().items()
                      if "/" not in name and name.lower().endswith(".inf") and data == inf)

    def registry_state(self):
        """The whole registry as regedit exports it, {key: [value lines]}."""
        keys = {}
        for hive in ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"):
            with tempfile.TemporaryDirectory(dir=self.work_dir) as tmp:
                out = os.path.join(tmp, "export.reg")
                subprocess.run([select_wine().command, "regedit", "/E", windows_path(out), hive],
                               env=self.environment(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=120, check=True)
                keys.update(parse_reg_export(read(out)))
        return keys

    def machine_state(self):
        """What a program could leave behind: every file and folder on
        drive C and the registry."""
        return {"files": tree_state(self.drive_c()), "registry": self.registry_state()}

    def machine_changes(self, before):
        """Differences from an earlier machine_state, one line each, less
        what Wine itself writes whenever a program starts."""
        after = self.machine_state()
        return (tree_changes(before["files"], after["files"], "drive C")
                + registry_changes(before["registry"], after["registry"], self.wine_own_writes()))

    def wine_own_writes(self):
        """The registry values that Wine writes on its own whenever a
        program starts (Wine 10 rewrites the display adapter's
        DriverDateData, say): measured once a session across a run of a
        program that only reads (wnagent listing the desktop's windows)."""
        if self._wine_own_writes is None:
            before = self.registry_state()
            self.must("windows", "explorer.exe")
            self._wine_own_writes = registry_writes(before, self.registry_state())
            if self._wine_own_writes:
                log("Wine's own registry writes, left out of comparisons: %s"
                    % sorted("%s %s" % (k, n or "(key)") for k, n in self._wine_own_writes))
        return self._wine_own_writes
