"""The headers of a 32-bit PE file that the reproducibility and signing
checks look at: the time stamp, the sections, the data directories and
where signing rewrites them.  Standard library only."""

import struct

IMAGE_DIRECTORY_ENTRY_SECURITY = 4  # its address is a file offset: the signature
IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B


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
        sections, _, _, _, opt_size = struct.unpack_from("<HIIIH", data, nt + 6)
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

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)
