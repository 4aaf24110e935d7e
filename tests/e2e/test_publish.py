"""tools/publish: packages a game folder for the download site."""
import os
import pathlib
import subprocess
import zipfile

from conftest import REPO, wine, windows_path

PUBLISH = REPO / "tools" / "publish"


def make_game(root: pathlib.Path):
    files = {
        "Gorm Ek.exe": b"MZ fake game",
        "data/levels/one level.dat": os.urandom(70000),
        "data/\u00e9t\u00e9.txt": "été".encode("utf-8"),
        ".hidden": b"dot file",
        "deep/a/b/c/d.bin": b"\x00" * 1000,
    }
    for rel, data in files.items():
        p = root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
    (root / "empty folder").mkdir()
    return files


def run_publish(*args):
    return subprocess.run([str(PUBLISH), *map(str, args)], capture_output=True, text=True)


def test_refuses_a_folder_without_the_game(tmp_path):
    game = tmp_path / "game"
    (game / "sub").mkdir(parents=True)
    (game / "sub" / "Gorm Ek.exe").write_bytes(b"MZ")  # not at the top level
    site = tmp_path / "site"
    r = run_publish(game, 3, site)
    assert r.returncode != 0
    assert "Gorm Ek.exe" in r.stderr
    assert not site.exists() or not any(site.iterdir())


def test_refuses_a_version_that_is_not_a_positive_number(tmp_path):
    game = tmp_path / "game"
    make_game(game)
    for bad in ("0", "-3", "abc", "2147483648"):
        r = run_publish(game, bad, tmp_path / "site")
        assert r.returncode != 0, bad
        assert not (tmp_path / "site" / "version.txt").exists()


def test_package_extracts_with_tar_to_the_same_tree(tmp_path):
    game = tmp_path / "game"
    files = make_game(game)
    site = tmp_path / "site"
    assert run_publish(game, 42, site).returncode == 0
    package = site / "GormEk-0042.zip"
    assert package.exists()
    assert (site / "version.txt").read_bytes() == b"42\n"
    with zipfile.ZipFile(package) as z:
        assert "Gorm Ek.exe" in z.namelist()

    out = tmp_path / "out dir"
    out.mkdir()
    assert wine("tar.exe", "-xf", windows_path(package), "-C", windows_path(out)) == 0
    for rel, data in files.items():
        assert (out / rel).read_bytes() == data, rel
    assert (out / "empty folder").is_dir()


def test_version_is_replaced_after_the_package_and_old_packages_stay(tmp_path):
    game = tmp_path / "game"
    make_game(game)
    site = tmp_path / "site"
    assert run_publish(game, 7, site).returncode == 0
    first = site / "GormEk-0007.zip"
    assert run_publish(game, 12345, site).returncode == 0
    assert first.exists()
    assert (site / "GormEk-12345.zip").exists()
    assert (site / "version.txt").read_text() == "12345\n"
    # Nothing half-written stays behind.
    assert sorted(p.name for p in site.iterdir()) == [
        "GormEk-0007.zip", "GormEk-12345.zip", "version.txt"]


def test_version_file_is_replaced_last_and_atomically(tmp_path):
    """Every rename publish makes is recorded: the complete package gets its
    name first, and version.txt changes only by one rename, the last."""
    game = tmp_path / "game"
    make_game(game)
    site = tmp_path / "site"
    script = (
        "import os, runpy, sys\n"
        "renames = []\n"
        "real = os.replace\n"
        "def spy(a, b):\n"
        "    renames.append((os.path.basename(a), os.path.basename(b)))\n"
        "    real(a, b)\n"
        "os.replace = spy\n"
        "sys.argv = ['publish', sys.argv[1], '5', sys.argv[2]]\n"
        "runpy.run_path(%r, run_name='__main__')\n"
        "print(renames)\n" % str(PUBLISH))
    r = subprocess.run(["/usr/bin/python3", "-c", script, str(game), str(site)],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    renames = eval(r.stdout.strip().splitlines()[-1])
    assert [b for _, b in renames] == ["GormEk-0005.zip", "version.txt"]
    assert renames[1][0] != "version.txt"  # written elsewhere, then renamed
