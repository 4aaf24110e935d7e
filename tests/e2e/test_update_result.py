"""An update and a reinstall end with the folder that the system's tar.exe
leaves when it unpacks the new package into an empty folder, plus the
player's own files and the setup program's: the real GormEkSetup.exe under
Wine, over packages written here entry by entry.

Which entries tar.exe makes a folder of (a name ending in "/" or "\\", an
MS-DOS folder bit, a Unix folder mode) and that it takes names from the
local headers were read off the test bench's tar.exe (libarchive 3.6.2);
Windows 10's own builds differ in version. Where one follows another rule,
the check finds such an entry changed at every update and fetches it."""
import pathlib
import random
import shutil
import struct
import warnings
import zipfile

import pytest

from harness import (GAME_EXE, SetupProcess, driver, install_through_window, unix_path,
                     wine, windows_path)

pytestmark = pytest.mark.usefixtures("clean_machine")

MSDOS_FOLDER = {"system": 0, "attributes": 0x10}
UNIX_FILE = {"system": 3, "attributes": 0o100644 << 16}
UNIX_FOLDER = {"system": 3, "attributes": (0o40755 << 16) | 0x10}


def write_package(path, version, entries):
    """The game, the row's entries in their order, then game-version.txt
    (which every version changes, so that an update always fetches a part).
    An entry is (name, bytes[, options]): options may give the system and
    attributes of its central record, and "local", another name of the same
    length for its local header."""
    entries = [("Gorm Ek.exe", GAME_EXE.read_bytes()), *entries,
               ("game-version.txt", f"{version}\n".encode())]
    renames = []
    with warnings.catch_warnings(), zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        warnings.simplefilter("ignore")  # a name held twice is the point
        for name, data, *options in entries:
            o = {**(UNIX_FOLDER if name.endswith("/") else UNIX_FILE), **(options[0] if options else {})}
            info = zipfile.ZipInfo(name, (2026, 1, 2, 3, 4, 6))
            info.create_system, info.external_attr = o["system"], o["attributes"]
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
            if "local" in o:
                renames.append((info.header_offset, o["local"].encode()))
    raw = bytearray(path.read_bytes())
    for offset, name in renames:
        assert struct.unpack_from("<H", raw, offset + 26)[0] == len(name)
        raw[offset + 30:offset + 30 + len(name)] = name
    path.write_bytes(bytes(raw))


def tree(folder, skip_own=False):
    """{relative path: bytes, or None for a folder} below a Unix folder, in
    the case the file system keeps."""
    out = {}
    for p in sorted(pathlib.Path(folder).rglob("*")):
        rel = p.relative_to(folder).as_posix()
        if skip_own and "/" not in rel and rel.lower().startswith("gormeksetup."):
            continue
        out[rel] = None if p.is_dir() else p.read_bytes()
    return out


def unpacked_by_tar(package, root):
    ref = unix_path(root + "\\tar-reference")
    shutil.rmtree(ref, ignore_errors=True)
    ref.mkdir(parents=True)
    assert wine("C:\\windows\\system32\\tar.exe", "-xf", windows_path(package),
                "-C", root + "\\tar-reference") == 0
    result = tree(ref)
    shutil.rmtree(ref)
    return result


def remove(rel):
    return lambda install: shutil.rmtree(install / rel)


def change(rel, data):
    return lambda install: (install / rel).write_bytes(data)


AAA = b"AAA" * 10
# Entries larger than the gap across which two ranges are fetched as one.
BIG = [(f"data/big {i}.bin", random.Random(i).randbytes(100 * 1024)) for i in (1, 2)]
ROWS = {
    # row: (old entries, new entries, what the player does, files the player keeps)
    "a name held twice": (
        [("data/twice.txt", b"two")], [("data/twice.txt", b"one!"), ("data/twice.txt", b"two")],
        None, {}),
    # The first of the two lies between changed entries, the last far from
    # any: the range fetched for those carries the first along.
    "names differing in case": (
        [("data/1.txt", b"old"), ("data/case.txt", b"lower"), ("data/2.txt", b"old"), *BIG],
        [("data/1.txt", b"new!"), ("data/Case.txt", b"upper"), ("data/2.txt", b"new!"), BIG[0],
         ("data/case.txt", b"lower"), BIG[1]],
        None, {}),
    "a name whose case changed": (
        [("data/Readme.txt", b"read me")], [("data/README.txt", b"read me")], None, {}),
    "backslash folder entries": (
        [], [("saves\\", b"", MSDOS_FOLDER), ("logs\\", b"")], None, {}),
    "an empty folder removed by the player": (
        [("data/empty/", b"")], [("data/empty/", b"")], remove("data/empty"), {}),
    "a new empty folder": ([], [("new folder/", b"")], None, {}),
    "a subtree and a file dropped": (
        [("old/sub/x.dll", b"x" * 50), ("old/y.dll", b"y"), ("gone.dll", b"gone")], [], None, {}),
    "a dropped file the player changed": (
        [("mod.cfg", b"default")], [], change("mod.cfg", b"mine"), {"mod.cfg": b"mine"}),
    "a dropped file named in another case": (
        [("data/Shader.bin", b"old shader")], [("data/shader.bin", b"new shader!")], None, {}),
    "a local header naming another file": (
        [("data/a.txt", AAA)],
        [("data/a.txt", AAA, {"local": "data/b.txt"}), ("data/c.txt", b"C", {"local": "data/d.txt"})],
        None, {}),
}


@pytest.mark.parametrize("row", ROWS)
def test_update_and_reinstall_end_as_a_whole_unpack(site, clean_machine, row):
    old, new, player, kept = ROWS[row]
    write_package(site.dir / "GormEk-0042.zip", 42, old)
    write_package(site.dir / "GormEk-0043.zip", 43, new)
    version = site.dir / "version.txt"
    mine = {"my saves/slot 1.sav": b"the player's own", **kept}

    def install_old():
        version.write_text("42\n")
        folder = install_through_window(site, clean_machine, start_menu=False, desktop=False)
        install = unix_path(folder)
        if player:
            player(install)
        (install / "my saves").mkdir()
        (install / "my saves" / "slot 1.sav").write_bytes(mine["my saves/slot 1.sav"])
        version.write_text("43\n")
        return folder, install

    expected = unpacked_by_tar(site.dir / "GormEk-0043.zip", clean_machine)
    expected.update({"my saves": None, **mine})

    def update(folder):
        assert SetupProcess("/update", folder, "/site", site.url).wait(timeout=120) == 0
        driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])

    folder, install = install_old()
    update(folder)
    assert tree(install, skip_own=True) == expected, "update"
    # Once in place, the same package changes nothing and, unless tar.exe
    # names some entry otherwise than the index, is not fetched again.
    before = len(site.package_traffic(43)[0])
    update(folder)
    assert tree(install, skip_own=True) == expected, "the update again"
    if "local header" not in row:
        assert [r["range"] for r in site.package_traffic(43)[0][before:]] == ["bytes=-65536"]

    shutil.rmtree(install)
    folder, install = install_old()
    install_through_window(site, clean_machine, start_menu=False, desktop=False)
    assert tree(install, skip_own=True) == expected, "reinstall"
