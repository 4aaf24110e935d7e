"""Update from the game, uninstall from Apps & features, and the sweep of
stale temporary copies: the real GormEkSetup.exe under Wine."""
import os
import re
import shutil
import subprocess
import time

import pytest

from harness import (DRIVER, IDNO, IDOK, IDYES, SETUP_EXE, SetupProcess,
                     differences_from_package, driver,
                     game_log, install_through_window, one, set_temp, statuses, temp_dir,
                     unix_path, wait_until, watch, wine_processes)

pytestmark = pytest.mark.usefixtures("clean_machine")

HOST = "downloads.gormek.example"


def start_game(folder):
    """Starts the installed sample game; returns its window description."""
    SetupProcess(exe=unix_path(folder + "\\Gorm Ek.exe"))
    return driver(["target", "GormEkSample"], ["wait-window", 30000])[-1]


def test_update_from_the_game_folder(site, clean_machine):
    # Game data that stays the same across versions, and a level that changes.
    assets = os.urandom(3 * 1024 * 1024)
    site.publish_game(42, extra={"data/assets.bin": assets, "data/level 2.dat": b"two" * 100})
    folder = install_through_window(site, clean_machine, start_menu=False, desktop=False)
    install = unix_path(folder)
    (install / "only-in-42.txt").write_text("an earlier file")
    # A tool gives the unchanged data other bytes, keeping its size and
    # time: the record beside the game still vouches for it, so an update
    # that read it would mend it, and one that trusts the record does not.
    stolen = install / "data" / "assets.bin"
    kept = stolen.stat()
    stolen.write_bytes(bytes(b ^ 0x5A for b in assets))
    os.utime(stolen, ns=(kept.st_atime_ns, kept.st_mtime_ns))
    site.publish_game(43, extra={"data/assets.bin": assets, "data/level 2.dat": b"2" * 300})
    game = start_game(folder)
    assert game["title"] == "Gorm Ek 42"

    # What the game does: start its folder's setup program with /update, the
    # folder and its own process id.
    first = SetupProcess("/update", folder, "/pid", game["pid"], "/site", site.url,
                         exe=install / "GormEkSetup.exe")
    # The first process hands over to a temporary copy and ends at once.
    assert first.wait(timeout=30) == 0
    win = one("wait-window", 30000)
    assert win["title"] == "Updating Gorm Ek"
    assert re.fullmatch(r"C:\\users\\[^\\]+\\Temp\\GormEkSetup-\d+\.exe", win["image"]), win
    copies = wine_processes("GormEkSetup-")
    assert len(copies) == 1
    args = copies[0][copies[0].index(next(a for a in copies[0] if a.endswith(".exe"))) + 1:]
    assert args[:6] == ["/update", folder, "/pid", str(game["pid"]), "/relocated", "/pid"]
    assert args[6].isdigit() and args[7:] == ["/site", site.url]

    # It waits for the game: nothing changes while the game runs.
    assert wait_until(lambda: one("status")["status"] == "Waiting for Gorm Ek to close...")
    assert (install / "game-version.txt").read_text() == "42\n"
    driver(["target", "GormEkSample"], ["close"])

    events = watch(60000)
    assert events[-1].get("gone"), events
    assert "Creating shortcuts..." not in statuses(events)
    assert (install / "game-version.txt").read_text() == "43\n"
    assert (install / "only-in-42.txt").exists()
    # Only what changed came over the wire: the package's tail (its index),
    # then the changed entries; the folder is now the new package's, byte
    # for byte.
    reqs, sent, size = site.package_traffic(43)
    assert reqs[0]["range"] == "bytes=-65536", reqs
    assert all(r["range"] and r["if_range"] for r in reqs[1:]), reqs
    assert sent < size // 10, (sent, size)
    package = site.dir / "GormEk-0043.zip"
    assert differences_from_package(install, package) == ["data/assets.bin"]
    reg = one("reg-dump")
    assert reg["uninstall"]["DisplayVersion"]["data"] == "0043"
    assert reg["settings"]["Version"]["data"] == "0043"
    paths = one("paths")
    assert not unix_path(paths["startMenuLink"]).exists()
    assert not unix_path(paths["desktopLink"]).exists()
    # The game is started again, the new version.
    assert wait_until(lambda: "version=43" in game_log())
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])
    # The same package again: its tail names the recorded one, and nothing
    # beyond the tail is fetched.
    assert SetupProcess("/update", folder, "/site", site.url).wait(timeout=120) == 0
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])
    assert [r["range"] for r in site.package_traffic(43)[0][len(reqs):]] == ["bytes=-65536"]
    # A Reinstall reads every byte, and mends what the update trusted.
    install_through_window(site, clean_machine, start_menu=False, desktop=False)
    assert differences_from_package(install, package) == []


@pytest.mark.parametrize("how", ["copy outside the folder", "relocated"])
def test_update_runs_in_place(site, clean_machine, how):
    # Exactly one shortcut box checked, each way round; the update then
    # leaves the shortcut that exists untouched and makes no other.
    only_start_menu = how == "relocated"
    folder = install_through_window(site, clean_machine, start_menu=only_start_menu,
                                    desktop=not only_start_menu)
    paths = one("paths")
    made, absent = (("startMenuLink", "desktopLink") if only_start_menu
                    else ("desktopLink", "startMenuLink"))
    link = unix_path(paths[made])
    assert one("read-link", paths[made])["target"] == folder + "\\Gorm Ek.exe"
    assert not unix_path(paths[absent]).exists()
    before = (link.read_bytes(), link.stat().st_mtime_ns)
    site.publish_game(44)
    # The version file is held until the window has been looked at.
    site.fault("version.txt", "hold-0")
    if how == "relocated":
        exe, extra = unix_path(folder) / "GormEkSetup.exe", ["/relocated"]
        image = folder + "\\GormEkSetup.exe"
    else:
        exe, extra, image = SETUP_EXE, [], None
    # An update fetches only what changed and is over in a moment: the
    # version file's answer waits 5 s, so that its window can be looked at.
    site.fault("version.txt", "pause-0-5+times-1")
    proc = SetupProcess("/update", folder, *extra, "/site", site.url, exe=exe)
    win = one("wait-window", 30000)
    if image:
        assert win["image"] == image
    else:
        assert win["image"].lower().endswith("\\build\\release\\gormeksetup.exe")
    assert not wine_processes("GormEkSetup-")
    site.release("version.txt")
    events = watch(60000)
    assert events[-1].get("gone")
    assert proc.wait() == 0
    assert (unix_path(folder) / "game-version.txt").read_text() == "44\n"
    assert (link.read_bytes(), link.stat().st_mtime_ns) == before
    assert not unix_path(paths[absent]).exists()
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])


@pytest.fixture
def unusable_temp_folder():
    """Points the user's TEMP at a folder that does not exist, so no copy of
    the program can be made there."""
    set_temp("C:\\no such temp")
    yield "C:\\no such temp\\"
    set_temp()


def test_failed_relaunch_runs_in_place_and_update_failure_box(site, clean_machine,
                                                               unusable_temp_folder):
    folder = clean_machine + "\\Gorm Ek"
    unix_path(folder).mkdir()
    shutil.copy(SETUP_EXE, unix_path(folder) / "GormEkSetup.exe")
    proc = SetupProcess("/update", folder, "/site", site.url,
                        exe=unix_path(folder) / "GormEkSetup.exe")
    win = one("wait-window", 30000)
    assert win["image"] == folder + "\\GormEkSetup.exe"  # no copy could be made
    box = watch(60000)[-1]["box"]
    assert box["title"] == "Gorm Ek"
    assert box["text"] == ("The update failed:\nCould not save the download to "
                           f"{unusable_temp_folder}GormEk-0042.zip\n\n"
                           f"You can also download the installer again from {HOST}.")
    one("answer-box", IDOK)
    one("wait-gone", 10000)
    assert proc.wait() == 0


def test_update_failure_shows_the_update_box_and_closes(site, clean_machine):
    site.fault("version.txt", "status-500")
    proc = SetupProcess("/update", clean_machine + "\\Gorm Ek", "/site", site.url)
    one("wait-window", 30000)
    box = watch(60000)[-1]["box"]
    assert box["title"] == "Gorm Ek"
    assert re.fullmatch(re.escape(f"The update failed:\nThe server answered 500 for\n"
                                  f"{site.url}version.txt?t=") + r"\d+" +
                        re.escape(f"\n\nYou can also download the installer again from {HOST}."),
                        box["text"]), box
    one("key", "enter")
    one("wait-gone", 10000)
    assert proc.wait() == 0
    assert game_log() == ""


def run_uninstall_string():
    line = one("reg-dump")["uninstall"]["UninstallString"]["data"]
    exe = line[1:line.index('"', 1)]
    assert line == f'"{exe}" /uninstall'
    return SetupProcess("/uninstall", exe=unix_path(exe))


def test_uninstall_through_the_registered_command(site, clean_machine):
    folder = install_through_window(site, clean_machine)
    paths = one("paths")
    # No (the N key): nothing changes.
    proc = run_uninstall_string()
    box = one("wait-box", 30000)
    assert box == {"title": "Uninstall Gorm Ek", "text": f"Remove Gorm Ek from\n{folder} ?"}
    one("key", "n")
    assert proc.wait() == 0
    assert unix_path(folder + "\\Gorm Ek.exe").exists()
    assert one("reg-dump")["settings"] is not None
    assert unix_path(paths["desktopLink"]).exists()

    # Yes (the Y key): the first process hands over to a temporary copy,
    # which removes all; Enter closes its box.
    proc = run_uninstall_string()
    one("wait-box", 30000)
    one("key", "y")
    assert proc.wait() == 0
    box = one("wait-box", 60000)
    assert box == {"title": "Uninstall Gorm Ek", "text": "Gorm Ek was removed."}
    assert len(wine_processes("GormEkSetup-")) == 1
    one("key", "enter")
    assert wait_until(lambda: not wine_processes("GormEkSetup-"))
    assert not unix_path(folder).exists()
    assert unix_path(clean_machine).exists()
    assert one("reg-dump") == {"uninstall": None, "settings": None}
    assert not unix_path(paths["startMenuLink"]).exists()
    assert not unix_path(paths["desktopLink"]).exists()


def test_uninstall_from_a_console_in_the_game_folder_without_install_dir(site, clean_machine):
    """The player opens a console in the game folder and runs the setup
    program there; a cleaner has removed InstallDir. The temporary copy
    removes the folder named in the question, and does not hold it as its
    working folder."""
    folder = install_through_window(site, clean_machine, start_menu=False, desktop=False)
    one("reg-delete-value", "settings", "InstallDir")
    proc = SetupProcess("/uninstall", exe=unix_path(folder) / "GormEkSetup.exe",
                        cwd=unix_path(folder))
    box = one("wait-box", 30000)
    assert box["text"] == f"Remove Gorm Ek from\n{folder} ?"
    one("answer-box", IDYES)
    assert proc.wait() == 0
    box = one("wait-box", 60000)
    assert box == {"title": "Uninstall Gorm Ek", "text": "Gorm Ek was removed."}
    one("answer-box", IDOK)
    assert wait_until(lambda: not wine_processes("GormEkSetup-"))
    assert not unix_path(folder).exists()
    assert one("reg-dump") == {"uninstall": None, "settings": None}


def test_uninstall_with_a_file_held_open(site, clean_machine):
    folder = install_through_window(site, clean_machine)
    holder = SetupProcess("hold-file", folder + "\\data\\level 1.dat", "60000",
                          exe=DRIVER)
    assert wait_until(lambda: b"holding" in holder.output(), timeout=30)
    proc = SetupProcess("/uninstall", "/confirmed")
    box = one("wait-box", 60000)
    assert box == {"title": "Uninstall Gorm Ek",
                   "text": "Gorm Ek was removed, but some files could not be deleted.\n"
                           f"Close the game and delete this folder by hand:\n{folder}"}
    one("answer-box", IDOK)
    assert proc.wait() == 0
    holder.kill()
    assert one("reg-dump") == {"uninstall": None, "settings": None}


def safety_no_game(root):
    return root + "\\NoGame\\Gorm Ek", {}


def safety_trailing_backslash(root):
    return root + "\\Trail\\Gorm Ek\\", {"Gorm Ek.exe": b"MZ"}


def safety_short_name(root):
    return root + "\\G", {"Gorm Ek.exe": b"MZ"}


def safety_game_is_a_folder(root):
    return root + "\\Dir\\Gorm Ek", {"Gorm Ek.exe/inside.txt": b"x"}


@pytest.mark.parametrize("case", [safety_no_game, safety_trailing_backslash,
                                  safety_short_name, safety_game_is_a_folder])
def test_safety_test_leaves_the_folder_alone(clean_machine, case):
    folder, files = case(clean_machine)
    base = unix_path(folder.rstrip("\\"))
    base.mkdir(parents=True)
    (base / "save game.dat").write_bytes(b"precious")
    for rel, data in files.items():
        p = base / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
    one("set-install-dir", folder)
    proc = SetupProcess("/uninstall", "/confirmed")
    box = one("wait-box", 60000)
    assert box["text"] == "Gorm Ek was removed."
    one("answer-box", IDOK)
    assert proc.wait() == 0
    assert (base / "save game.dat").read_bytes() == b"precious"
    assert one("reg-dump") == {"uninstall": None, "settings": None}


def test_relocated_uninstall_without_install_dir_keeps_the_temp_folder(clean_machine):
    copy = temp_dir() / "GormEkSetup-1.exe"
    shutil.copy(SETUP_EXE, copy)
    (temp_dir() / "keep me.txt").write_text("x")
    proc = SetupProcess("/uninstall", "/confirmed", "/relocated", exe=copy)
    box = one("wait-box", 60000)
    assert box["text"] == "Gorm Ek was removed."
    one("answer-box", IDOK)
    assert proc.wait() == 0
    assert (temp_dir() / "keep me.txt").exists()
    (temp_dir() / "keep me.txt").unlink()


def test_uninstall_wins_over_update(site, clean_machine):
    proc = SetupProcess("/update", clean_machine, "/uninstall", "/site", site.url)
    box = one("wait-box", 30000)
    assert box["title"] == "Uninstall Gorm Ek"
    one("wait-gone", 1)  # no setup window
    one("answer-box", IDNO)
    assert proc.wait() == 0
    assert site.requests() == []


def test_stale_copies_are_swept_at_every_start(site, clean_machine):
    temp = temp_dir()
    stale = ["GormEkSetup-123.exe", "GormEkSetup-.exe", "GormEkSetup-old.exe",
             "gormeksetup-7.EXE", "GormEk-0041.zip"]
    kept = ["GormEkSetup.exe", "Other.exe", "GormEkSetup-1.txt"]
    for name in stale + kept:
        (temp / name).write_bytes(b"MZ")
    # A package a killed run left an hour ago.
    hour_ago = time.time() - 3600
    os.utime(temp / "GormEk-0041.zip", (hour_ago, hour_ago))
    running = temp / "GormEkSetup-555.exe"
    shutil.copy(SETUP_EXE, running)
    proc = SetupProcess("/site", site.url, exe=running)
    one("wait-window", 30000)
    for name in stale:
        assert not (temp / name).exists(), name
    for name in kept:
        assert (temp / name).exists(), name
        (temp / name).unlink()
    assert running.exists()  # never the running file
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0


@pytest.mark.parametrize("server", ["ranges", "zip64 package", "no ranges", "package replaced"])
def test_reinstall_fetches_only_what_differs(site, clean_machine, server):
    """A reinstall over the game mends a file changed at the same size, one
    deleted and one cut short, fetching only those (also from a package with
    zip64 records); a server without ranges sends the package whole; a
    package replaced between the index and the entries comes whole, never
    mixed with the first."""
    extra = {"data/a.bin": os.urandom(2 * 1024 * 1024), "data/b.bin": os.urandom(2 * 1024 * 1024)}
    if server == "ranges":
        # A central directory longer than the tail asked for first.
        extra.update({f"data/many/{i:04d} a file with a name of some length.txt": b"x"
                      for i in range(1000)})
    game = site.publish_game(42, extra=extra)
    if server == "zip64 package":
        names = sorted(str(p.relative_to(game)) for p in game.rglob("*") if p.is_file())
        subprocess.run(["bsdtar", "--format", "zip", "--options", "zip:zip64", "-cf",
                        str(site.dir / "GormEk-0042.zip"), *names], cwd=game, check=True)
    folder = install_through_window(site, clean_machine, start_menu=False, desktop=False)
    install = unix_path(folder)
    level = install / "data" / "level 1.dat"
    level.write_bytes(bytes(b ^ 1 for b in level.read_bytes()))
    (install / "game-version.txt").unlink()
    (install / "site.txt").write_text("cut")
    package = site.dir / "GormEk-0042.zip"
    expected = package
    if server == "no ranges":
        site.fault("GormEk-0042.zip", "norange")
    if server == "package replaced":
        first = package.read_bytes()
        site.publish_game(42, extra={**extra, "data/c.bin": b"new" * 1000})
        expected = site.dir / "replacement.zip"
        shutil.copy(package, expected)
        package.rename(site.dir / "GormEk-0042.zip.next")
        package.write_bytes(first)
        site.fault("GormEk-0042.zip", "replace+times-1")  # after the index
    sent_before = site.package_traffic(42)[1]
    install_through_window(site, clean_machine, start_menu=False, desktop=False)
    reqs, sent, size = site.package_traffic(42)
    sent -= sent_before
    assert differences_from_package(install, expected) == []
    assert not list(temp_dir().glob("GormEk-*.zip"))  # the part went too
    if server in ("ranges", "zip64 package"):
        assert sent < size // 10, (sent, size)
    else:
        assert sent >= size, (sent, size)
    if server == "no ranges":
        # The answer to the tail's request was the whole package, and it
        # was taken as such: one request, no second download.
        assert len(reqs) == 2 and reqs[-1]["range"] == "bytes=-65536", reqs
    if server == "ranges":
        # Nothing changed since: the tail alone, its directory (larger than
        # the tail) read from the record the last run left beside the game.
        install_through_window(site, clean_machine, start_menu=False, desktop=False)
        again, sent_again, _ = site.package_traffic(42)
        assert len(again) == len(reqs) + 1, again
        assert again[-1]["range"] == "bytes=-65536", again
        assert sent_again - sent - sent_before <= 128 * 1024


def _update_held_in_its_download(site, folder, version):
    """An update to `version` (already published, its changes over 64 KiB)
    whose part stops after one read until the site releases it: the
    folder's lock is held by then."""
    site.fault("GormEk-%04d.zip" % version, ",hold-65536")
    proc = SetupProcess("/update", folder, "/site", site.url)
    hwnd = one("wait-window", 30000)["hwnd"]
    line = "Downloading version %04d" % version
    assert wait_until(lambda: driver(["target-window", hwnd], ["status"])[-1]["status"]
                      .startswith(line), timeout=60)
    return proc, hwnd


def _close_the_game():
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])


LOCKED = "Another Gorm Ek setup is working on\n{}\nWait until it has finished, then try again."


def test_one_setup_program_at_a_time_on_a_folder(site, clean_machine):
    """A second update, to another version, while the first has looked at
    the files and is fetching what differed: the second ends with the
    lock's sentence before it fetches anything, and the folder is then the
    first's version byte for byte. An uninstall while an update is at work
    removes nothing. A run that is killed leaves no lock behind, and a lock
    file that nothing holds (a power cut) does not stop the next run."""
    folder = install_through_window(site, clean_machine, start_menu=False, desktop=True)
    install = unix_path(folder)
    site.publish_game(43, extra={"data/level 2.dat": os.urandom(200 * 1024)})
    first, first_win = _update_held_in_its_download(site, folder, 43)
    assert (install / "GormEkSetup.lock").exists()
    site.publish_game(44, extra={"data/level 2.dat": os.urandom(200 * 1024),
                                 "only-in-44.txt": b"4"})
    second = SetupProcess("/update", folder, "/site", site.url)
    # The first window shows no box: the one that comes is the second's.
    assert one("wait-box", 60000) == {
        "title": "Gorm Ek",
        "text": ("The update failed:\n" + LOCKED.format(folder) +
                 f"\n\nYou can also download the installer again from {HOST}.")}
    one("answer-box", IDOK)
    assert second.wait() == 0
    site.release("GormEk-0043.zip")
    assert driver(["target-window", first_win], ["watch", 60000], timeout=90)[-1].get("gone")
    assert first.wait() == 0
    _close_the_game()
    assert differences_from_package(install, site.dir / "GormEk-0043.zip") == []
    assert not (install / "only-in-44.txt").exists()
    assert one("reg-dump")["settings"]["Version"]["data"] == "0043"
    assert site.package_traffic(44)[0] == []
    assert not (install / "GormEkSetup.lock").exists()

    # An uninstall during an update: nothing removed, the update unharmed.
    paths = one("paths")
    third, third_win = _update_held_in_its_download(site, folder, 44)
    uninstall = SetupProcess("/uninstall", "/confirmed")
    assert one("wait-box", 60000) == {"title": "Uninstall Gorm Ek",
                                      "text": LOCKED.format(folder)}
    one("answer-box", IDOK)
    assert uninstall.wait() == 0
    assert (install / "Gorm Ek.exe").exists()
    assert unix_path(paths["desktopLink"]).exists()
    assert one("reg-dump")["settings"]["InstallDir"]["data"] == folder

    # Killed while it holds the lock: the file goes with the process.
    third.kill()
    assert wait_until(lambda: not (install / "GormEkSetup.lock").exists(), timeout=30)
    site.clear_faults()
    (install / "GormEkSetup.lock").write_bytes(b"left by a power cut")
    assert SetupProcess("/update", folder, "/site", site.url).wait(timeout=120) == 0
    _close_the_game()
    assert differences_from_package(install, site.dir / "GormEk-0044.zip") == []
    assert not (install / "GormEkSetup.lock").exists()
