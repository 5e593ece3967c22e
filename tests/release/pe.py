"""Reads what a 32-bit PE file imports, straight from its headers: the
import directory and the delay-load import directory.  Standard library
only, so the release tests need nothing beyond Python."""

import struct

IMAGE_DIRECTORY_ENTRY_IMPORT = 1
IMAGE_DIRECTORY_ENTRY_SECURITY = 4  # its address is a file offset: the signature
IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT = 13
IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B
IMAGE_ORDINAL_FLAG32 = 0x80000000


class PEError(ValueError):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PEError("no MZ header")
        nt = struct.unpack_from("<I", data, 0x3C)[0]
        if data[nt:nt + 4] != b"PE\0\0":
            raise PEError("no PE signature at 0x%x" % nt)
        self.machine, sections, _, _, _, opt_size, self.characteristics = struct.unpack_from("<HHIIIHH", data, nt + 4)
        opt = nt + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC:
            raise PEError("not a PE32 optional header (magic 0x%x)" % magic)
        self.timestamp = struct.unpack_from("<I", data, nt + 8)[0]
        # File offsets of the fields that signing rewrites.
        self.checksum_at = opt + 64
        self.directories_at = opt + 96
        count = struct.unpack_from("<I", data, opt + 92)[0]
        self.directories = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        for i in range(sections):
            name, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), va, max(vsize, rsize), raw, rsize))

    def offset(self, rva):
        for _, va, size, raw, rsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rsize:
                    raise PEError("address 0x%x lies in a section's uninitialised tail" % rva)
                return raw + rva - va
        raise PEError("address 0x%x is in no section" % rva)

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def cstring(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def _thunks(self, rva):
        """Function names (or "#ordinal") of one import name table."""
        names = []
        while True:
            value = self.u32(rva)
            if value == 0:
                return names
            if value & IMAGE_ORDINAL_FLAG32:
                names.append("#%d" % (value & 0xFFFF))
            else:
                names.append(self.cstring(value + 2))  # past the hint
            rva += 4

    def imports(self):
        """[(dll, function)] of the import and delay-load directories, in
        file order; delay-loaded DLLs are marked "(delay)"."""
        found = []
        rva, size = self.directory(IMAGE_DIRECTORY_ENTRY_IMPORT)
        if rva and size:
            while True:
                original, _, _, name, first = struct.unpack_from("<IIIII", self.data, self.offset(rva))
                if name == 0:
                    break
                dll = self.cstring(name)
                found += [(dll, f) for f in self._thunks(original or first)]
                rva += 20
        rva, size = self.directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT)
        if rva and size:
            while True:
                fields = struct.unpack_from("<8I", self.data, self.offset(rva))
                if fields[1] == 0:
                    break
                dll = self.cstring(fields[1]) + " (delay)"
                found += [(dll, f) for f in self._thunks(fields[4])]
                rva += 32
        return found


def read(path):
    with open(path, "rb") as f:
        return PE(f.read())
