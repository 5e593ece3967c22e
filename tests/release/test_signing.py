"""Signed builds: a throwaway CA and certificates made with openssl, one
build of the Windows preset in a scratch folder, first unsigned and then
signed, and the bad inputs that must stop a signed build.  Environment (set
by CTest): WIRENEST_SIGN_DIR, a scratch folder of the build tree."""

import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

import pefile  # Debian's python3-pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_reproducible as repro  # noqa: E402
from machine import read, write  # noqa: E402  (test_reproducible put tests/e2e on the path)

PROGRAMS = ("Wirenest.exe",) + repro.MODULES
UNREACHABLE_TSA = "http://127.0.0.1:9/"  # the discard port: nothing listens
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]  # its address is a file offset

# name, what a row changes of the good signing options, the one line the
# build must stop with.
BAD_INPUTS = (
    ("wrong password", {"PASSWORD_FILE": "wrong.txt"},
     r"signing: wrong password for \S+/good\.p12 \(read from \S+/wrong\.txt\)"),
    ("missing certificate file", {"PKCS12": "missing.p12"},
     r"signing: cannot read the PKCS#12 file \S+/missing\.p12"),
    ("damaged certificate file", {"PKCS12": "damaged.p12"},
     r"signing: cannot read the PKCS#12 file \S+/damaged\.p12: not PKCS#12 or damaged"),
    ("missing password file", {"PASSWORD_FILE": "missing.txt"},
     r"signing: cannot read the password file \S+/missing\.txt"),
    ("certificate not for code signing", {"PKCS12": "server.p12"},
     r"signing: the certificate in \S+/server\.p12 is not for code signing \(no Code Signing in its extended key usage\)"),
    ("timestamp server unreachable", {"TIMESTAMP_URL": UNREACHABLE_TSA},
     r"signing: osslsigncode could not sign \S+\.(exe|dll): .*127\.0\.0\.1:9/"),
    ("certificate without its password file", {"PASSWORD_FILE": ""},
     r"signing needs both WIRENEST_SIGN_PKCS12 and WIRENEST_SIGN_PASSWORD_FILE"),
)


def openssl(*args, cwd):
    subprocess.run(("openssl",) + args, cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """A CA, and two certificates of one key signed by it, under the password
    in password.txt: good.p12 for code signing, server.p12 for TLS only."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "30", "-subj", "/CN=Wirenest throwaway CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Wirenest throwaway publisher", cwd=folder)
    for name, data in (("password.txt", b"correct horse\n"), ("wrong.txt", b"battery staple\n"),
                       ("damaged.p12", bytes(range(256)) * 4)):
        write(os.path.join(folder, name), data)
    for name, usage in (("good", "codeSigning"), ("server", "serverAuth")):
        write(os.path.join(folder, name + ".ext"),
              b"keyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n" % usage.encode())
        openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-days", "30", "-extfile", name + ".ext", "-out", name + ".pem", cwd=folder)
        openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", name + ".pem", "-certfile", "ca.pem",
                "-passout", "file:password.txt", "-out", name + ".p12", cwd=folder)


def verify(path, ca):
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.returncode, done.stdout.decode(errors="replace")


class SignedBuild(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        scratch = repro.scratch_folder("WIRENEST_SIGN_DIR")
        cls.pki = os.path.join(scratch, "pki")
        os.makedirs(cls.pki)
        make_certificates(cls.pki)
        cls.ca = os.path.join(cls.pki, "ca.pem")

        # Nothing of the caller's own signing setup may leak into the builds.
        cls.env = {k: v for k, v in repro.build_environment().items() if not k.startswith("WIRENEST_SIGN_")}
        cls.binary = os.path.join(scratch, "build")
        cls.kit = os.path.join(cls.binary, "kit")

        # One build: unsigned first, then signed, which only links again.
        repro.build(repro.SOURCE, cls.binary, cls.env)
        cls.unsigned = {name: read(os.path.join(cls.kit, name)) for name in PROGRAMS}
        cls.build_signed()
        cls.signed = {name: read(os.path.join(cls.kit, name)) for name in PROGRAMS}
        # Kept apart: the bad-input builds empty the kit.
        cls.copies = os.path.join(scratch, "signed")
        shutil.copytree(cls.kit, cls.copies)

    @classmethod
    def options(cls, **change):
        given = dict({"PKCS12": "good.p12", "PASSWORD_FILE": "password.txt", "TIMESTAMP_URL": ""}, **change)
        return ["-DWIRENEST_SIGN_%s=%s" % (key, os.path.join(cls.pki, value) if value and key != "TIMESTAMP_URL"
                                           else value) for key, value in sorted(given.items())]

    @classmethod
    def build_signed(cls, **change):
        """Builds signed from a kit without program files: (failed step or None, output)."""
        for name in PROGRAMS:
            if os.path.exists(os.path.join(cls.kit, name)):
                os.remove(os.path.join(cls.kit, name))
        return repro.build(repro.SOURCE, cls.binary, cls.env, cls.options(**change), must=not change)

    def test_each_program_verifies_as_sha256_with_the_ca(self):
        for name in PROGRAMS:
            with self.subTest(file=name):
                status, output = verify(os.path.join(self.copies, name), self.ca)
                self.assertEqual(0, status, output)
                self.assertRegex(output, r"Message digest algorithm\s*: SHA256")

    def test_one_flipped_byte_breaks_the_signature(self):
        for name in PROGRAMS:
            with self.subTest(file=name):
                data = bytearray(self.signed[name])
                rsrc = [s.PointerToRawData for s in pefile.PE(data=bytes(data), fast_load=True).sections
                        if s.Name.rstrip(b"\0") == b".rsrc"]
                self.assertEqual(1, len(rsrc), "%s has no .rsrc section" % name)
                data[rsrc[0] + 16] ^= 0x01
                flipped = os.path.join(self.copies, "flipped-" + name)
                write(flipped, data)
                status, output = verify(flipped, self.ca)
                self.assertNotEqual(0, status, output)

    def test_signing_only_appends_the_signature(self):
        # Code, resources, manifest and version block stay byte for byte:
        # only the checksum and the signature's directory entry change, and
        # the signature follows the unsigned file.
        for name in PROGRAMS:
            with self.subTest(file=name):
                unsigned, signed = self.unsigned[name], bytearray(self.signed[name])
                header = pefile.PE(data=bytes(signed), fast_load=True).OPTIONAL_HEADER
                before = pefile.PE(data=unsigned, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
                self.assertEqual((0, 0), (before.VirtualAddress, before.Size))
                directory = header.DATA_DIRECTORY[SECURITY]
                start, size = directory.VirtualAddress, directory.Size
                self.assertEqual((len(unsigned) + 7) // 8 * 8, start, "signature at 0x%x" % start)
                self.assertEqual(len(signed), start + size)
                entry = directory.get_file_offset()
                signed[entry:entry + 8] = bytes(8)
                checksum = header.get_field_absolute_offset("CheckSum")
                signed[checksum:checksum + 4] = unsigned[checksum:checksum + 4]
                self.assertEqual(unsigned, bytes(signed[:len(unsigned)]))

    def test_archives_hold_the_signed_files(self):
        entries = [("Wirenest-kit.zip", "Wirenest/", ("Wirenest.exe",)),
                   ("Wirenest-demo-kit.zip", "Wirenest-demo/", PROGRAMS)]
        for archive, folder, names in entries:
            with zipfile.ZipFile(os.path.join(self.binary, archive)) as z:
                for name in names:
                    with self.subTest(archive=archive, file=name):
                        self.assertEqual(self.signed[name], z.read(folder + name))

    def test_signing_again_gives_the_same_bytes(self):
        self.build_signed()
        for name in PROGRAMS:
            with self.subTest(file=name):
                self.assertEqual(self.signed[name], read(os.path.join(self.kit, name)))

    def test_bad_input_stops_the_build_with_its_message(self):
        for case, change, message in BAD_INPUTS:
            with self.subTest(case=case):
                failed, output = self.build_signed(**change)
                self.assertTrue(failed, "the build went on:\n" + output[-2000:])
                self.assertRegex(output, re.compile(r"^\s*" + message + "$", re.M))
                left = sorted(n for n in os.listdir(self.kit) if n.lower().endswith((".exe", ".dll", ".signing")))
                self.assertEqual([], left, "the failed build left program files in the kit")


if __name__ == "__main__":
    unittest.main()
