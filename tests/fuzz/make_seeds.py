#!/usr/bin/python3
"""Writes the zip index target's seed corpus: small real packages in the
shapes a published one may take, written by the tools that write zips
(Python's zipfile as tools/publish uses it, Info-ZIP's zip, bsdtar).

    make_seeds.py OUT_DIR
"""
import io
import os
import subprocess
import sys
import tempfile
import zipfile

GAME = {
    "Gorm Ek.exe": b"MZ" + bytes(range(256)) * 4,
    "data/level 1.dat": b"level one\n" * 40,
    "data/levels/": None,
    "Spr\u00e4che/\u00fcbersetzung.txt": "\u00e9t\u00e9\n".encode() * 9,
    "readme.txt": b"Gorm Ek\n",
}


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek back in: it writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def python_zip(out, comment=b"", stream=False, method=zipfile.ZIP_DEFLATED):
    target = Unseekable() if stream else out
    with zipfile.ZipFile(target, "w", method) as z:
        for name, data in GAME.items():
            info = zipfile.ZipInfo(name, (2026, 12, 11, 12, 0, 0))
            if data is None:
                z.writestr(info, b"")
            else:
                info.compress_type = method
                z.writestr(info, data)
        z.comment = comment
    if stream:
        with open(out, "wb") as f:
            f.write(target.data)


def tool_zip(out, command):
    with tempfile.TemporaryDirectory() as tree:
        for name, data in GAME.items():
            path = os.path.join(tree, name)
            if data is None:
                os.makedirs(path, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        subprocess.run(command + [os.path.abspath(out)] + sorted(GAME),
                       cwd=tree, check=True, stdout=subprocess.DEVNULL)


def main(out):
    os.makedirs(out, exist_ok=True)
    at = lambda name: os.path.join(out, name)
    python_zip(at("deflated.zip"))
    python_zip(at("stored.zip"), method=zipfile.ZIP_STORED)
    python_zip(at("comment.zip"), comment=b"Gorm Ek 0042, built by the studio")
    python_zip(at("descriptors.zip"), stream=True)
    with zipfile.ZipFile(at("empty.zip"), "w"):
        pass
    # Zip64 end records and extra fields although nothing needs them.
    tool_zip(at("zip64.zip"), ["zip", "-q", "-X", "-fz"])
    # Data descriptors, and extra fields of times and owners.
    tool_zip(at("bsdtar.zip"), ["bsdtar", "--format", "zip", "-cf"])
    # Info-ZIP's own names (no UTF-8 flag) and a fixed-size extra field.
    tool_zip(at("infozip.zip"), ["zip", "-q"])


if __name__ == "__main__":
    main(sys.argv[1])
