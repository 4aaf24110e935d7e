#!/usr/bin/python3
"""Writes the zip packages that the unpacking tests extract with tar.exe,
and a folder tree with a link loop for the size walk.

    make_test_packages.py OUT_DIR

A file's content is always (its relative path + "\\n") * 100 in UTF-8, so the
tests can check what comes out without a manifest.
"""
import os
import sys
import zipfile


def content(rel):
    return ((rel + "\n") * 100).encode("utf-8")


def write_package(path, names, extra=()):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for rel in names:
            if rel.endswith("/"):
                z.writestr(zipfile.ZipInfo(rel), b"")
            else:
                z.writestr(rel, content(rel))
        for info_name, data in extra:
            z.writestr(zipfile.ZipInfo(info_name), data)


def main(out):
    os.makedirs(out, exist_ok=True)
    tree = [
        "Gorm Ek.exe",
        "data/levels/level one.dat",
        "data/levels/deep/er/still/deeper.bin",
        "Sprachen/\u00dcbersetzung \u00e9t\u00e9.txt",
        "\u65e5\u672c\u8a9e/\u30c6\u30b9\u30c8.txt",
        ".config/.hidden",
        ".leading dot.txt",
        "empty folder/",
    ]
    write_package(os.path.join(out, "tree.zip"), tree)
    write_package(os.path.join(out, "v1.zip"),
                  ["Gorm Ek.exe", "old-only.txt", "shared/shared.txt"])
    with zipfile.ZipFile(os.path.join(out, "v2.zip"), "w") as z:
        z.writestr("Gorm Ek.exe", b"version two")
        z.writestr("shared/shared.txt", b"version two")
    write_package(os.path.join(out, "escape.zip"), ["Gorm Ek.exe"],
                  extra=[("../escaped.txt", b"outside"),
                         ("sub/../../escaped2.txt", b"outside")])
    with open(os.path.join(out, "tree.zip"), "rb") as f:
        whole = f.read()
    with open(os.path.join(out, "truncated.zip"), "wb") as f:
        f.write(whole[: len(whole) // 2])
    with open(os.path.join(out, "corrupt.zip"), "wb") as f:
        f.write(bytes((i * 37 + 11) % 256 for i in range(5000)))

    # A folder with a symbolic link back to itself, for the size walk. Wine
    # shows a Unix symlink to a folder as a directory reparse point.
    loop = os.path.join(out, "linkloop", "sub")
    os.makedirs(loop, exist_ok=True)
    with open(os.path.join(loop, "f.bin"), "wb") as f:
        f.write(b"z" * 2048)
    link = os.path.join(loop, "loop")
    if not os.path.islink(link):
        os.symlink("..", link)


if __name__ == "__main__":
    main(sys.argv[1])
