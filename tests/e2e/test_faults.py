"""The fault catalogue: one end-to-end test per fault a player can meet. Each
proves that the player sees the sentence meant for that fault, that nothing is left
half-written (no partial package, registry untouched), and that a retry then
succeeds."""
import os
import pathlib
import re
import shutil
import subprocess

import pytest

from harness import (DRIVER, IDC_CANCEL, IDC_INSTALL, IDOK, SetupProcess, Watch,
                     click_and_watch, driver, one, set_temp, statuses, temp_dir, time_after,
                     unix_path, wait_until, watch)

pytestmark = pytest.mark.usefixtures("clean_machine")

NOTHING = {"uninstall": None, "settings": None}


def open_window(site):
    proc = SetupProcess("/site", site.url)
    one("wait-window", 30000)
    one("set-check", 6, 0)  # do not start the game at the end
    return proc


def install(folder):
    one("set-text", 2, folder)
    return click_and_watch(IDC_INSTALL)


def expect_failure(events, pattern):
    box = events[-1].get("box")
    assert box, events
    assert box["title"] == "Gorm Ek Setup"
    assert re.fullmatch(pattern, box["text"]), box["text"]
    one("answer-box", IDOK)
    assert not list(temp_dir().glob("GormEk-*.zip"))  # no partial package
    assert one("reg-dump") == NOTHING  # registry untouched


def expect_success_and_close(events, proc, folder):
    assert events[-1].get("finished"), events
    assert one("reg-dump")["settings"]["InstallDir"]["data"] == folder + "\\Gorm Ek"
    one("click", IDC_INSTALL)
    one("wait-gone", 10000)
    assert proc.wait() == 0


# Faults of the site, each: (file, fault, expected sentence).
SITE_FAULTS = [
    ("404 for the package", "GormEk-0042.zip", "status-404",
     lambda url: re.escape(f"The server answered 404 for\n{url}GormEk-0042.zip")),
    ("500 for the version file", "version.txt", "status-500",
     lambda url: re.escape(f"The server answered 500 for\n{url}version.txt?t=") + r"\d+"),
    ("HTML error page served as version.txt", "version.txt", "html",
     lambda url: re.escape("The version file on the server is not valid.")),
    # Every answer breaks and ranges are refused, so going on after the
    # break cannot help: the break's own sentence ends the run.
    ("truncated download", "GormEk-0042.zip", "cut-5000+rangefail-416",
     lambda url: re.escape("The download was incomplete. Try again.")),
    ("connection reset", "GormEk-0042.zip", "reset-70000+rangefail-416",
     lambda url: re.escape("The download was interrupted.")),
]


@pytest.mark.parametrize("name,file,fault,expected", SITE_FAULTS,
                         ids=[f[0] for f in SITE_FAULTS])
def test_site_fault_then_retry(site, clean_machine, name, file, fault, expected):
    site.fault(file, fault)
    proc = open_window(site)
    expect_failure(install(clean_machine), expected(site.url))
    site.clear_faults()
    expect_success_and_close(install(clean_machine), proc, clean_machine)


def test_server_down_then_retry(site, clean_machine):
    site.stop()
    proc = open_window(site)
    expect_failure(install(clean_machine),
                   re.escape(f"Could not reach {site.url}version.txt?t=") + r"\d+" +
                   re.escape(".\nCheck your internet connection."))
    site.start()
    expect_success_and_close(install(clean_machine), proc, clean_machine)


def test_redirect_is_followed(site, clean_machine):
    site.fault("GormEk-0042.zip", "redirect")
    site.fault("version.txt", "redirect")
    proc = open_window(site)
    events = install(clean_machine)
    assert statuses(events)[-1] == "Gorm Ek 0042 is installed."
    expect_success_and_close(events, proc, clean_machine)


def test_break_mid_package_goes_on_where_it_left_off(site, clean_machine):
    """A connection lost in the middle of the package: the status line says
    so and counts down, then the download goes on from where it broke (the
    bar never goes back), past a passing server error, asks only for the
    missing bytes, and installs."""
    site.publish_game(42, extra={"big.bin": os.urandom(3 * 1024 * 1024)})
    package = (site.dir / "GormEk-0042.zip").stat().st_size
    # The first answer ends at 1.5 MB and the second brings nothing more, so
    # the third waits a second; it meets a CDN's passing 503, which keeps
    # the bytes: the fourth goes on from 1.5 MB.
    site.fault("GormEk-0042.zip", "stuck-1500000,stuck-1500000,status-503")
    proc = open_window(site)
    events = install(clean_machine)
    lines = statuses(events)
    wait = next(i for i, l in enumerate(lines) if l.startswith("Connection lost. Trying again"))
    # After the break the download line counts on from where it broke: never
    # from 0 again. (Which lines the watch catches depends on the machine's
    # load: the line for 1 MB can be replaced by the next before a look.)
    counted = [l for l in lines[wait:] if l.startswith("Downloading version 0042...")]
    assert not any(re.fullmatch(r"Downloading version 0042\.\.\.  0 / \d MB", l)
                   for l in counted), lines
    positions = [e["pos"] for e in events if "pos" in e]
    assert positions == sorted(positions)
    reqs = [r for r in site.requests() if r["path"] == "/GormEk-0042.zip"]
    assert [r["range"] for r in reqs] == [None] + ["bytes=1500000-"] * 3
    assert sum(r["sent"] for r in reqs) == package
    expect_success_and_close(events, proc, clean_machine)


def test_slow_server_with_cancel_then_retry(site, clean_machine):
    site.publish_game(42, extra={"big.bin": os.urandom(2 * 1024 * 1024)})
    # A server that sends the first 64 KiB and then nothing, until released.
    site.fault("GormEk-0042.zip", "hold-65536")
    proc = open_window(site)
    one("set-text", 2, clean_machine)
    run = Watch(["click", IDC_INSTALL])
    run.wait_for_status("Downloading")
    one("click", IDC_CANCEL)
    site.release("GormEk-0042.zip")
    assert run.end()[-1].get("gone")
    assert proc.wait() == 0
    assert not list(temp_dir().glob("GormEk-*.zip"))
    assert one("reg-dump") == NOTHING
    site.clear_faults()
    proc = open_window(site)
    expect_success_and_close(install(clean_machine), proc, clean_machine)


@pytest.fixture
def small_temp_drive():
    """A 4 MiB tmpfs as drive T: of the prefix, with TEMP pointing at it."""
    from conftest import PREFIX
    mount = pathlib.Path("/tmp") / f"gormek-full-{os.getpid()}"
    mount.mkdir(exist_ok=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(mount)]).returncode:
        pytest.skip("cannot mount a small file system here")
    drive = PREFIX / "dosdevices" / "t:"
    drive.unlink(missing_ok=True)
    drive.symlink_to(mount)
    set_temp("T:\\")
    yield mount
    set_temp()
    drive.unlink(missing_ok=True)
    subprocess.run(["umount", str(mount)])
    mount.rmdir()


def test_disk_full_for_the_package_then_retry(site, clean_machine, small_temp_drive):
    site.publish_game(42, extra={"big.bin": os.urandom(8 * 1024 * 1024)})
    # What is needed is said rounded up.
    size_mb = -(-(site.dir / "GormEk-0042.zip").stat().st_size // (1024 * 1024))
    proc = open_window(site)
    # The declared size does not fit: said before a byte is written.
    events = install(clean_machine)
    assert re.fullmatch(r"There is not enough free space in\nT:\\\n"
                        f"The download needs {size_mb} MB, and " + r"\d MB are free\.",
                        events[-1]["box"]["text"]), events[-1]
    assert not any(l.startswith("Downloading") for l in statuses(events))
    one("answer-box", IDOK)
    # Without a declared size the disk fills up during the download.
    site.fault("GormEk-0042.zip", "chunked")
    events = install(clean_machine)
    assert events[-1]["box"]["text"] == "Could not write the download to disk (is it full?)."
    one("answer-box", IDOK)
    assert not any(small_temp_drive.iterdir())  # the partial package is gone
    assert one("reg-dump") == NOTHING
    site.clear_faults()
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0
    # Once there is room (TEMP back on the big disk) the install succeeds.
    set_temp()
    proc = open_window(site)
    expect_success_and_close(install(clean_machine), proc, clean_machine)


@pytest.fixture
def read_only_folder(clean_machine):
    """An install folder on a read-only file system."""
    folder = unix_path(clean_machine + "\\ReadOnly\\Gorm Ek")
    folder.mkdir(parents=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs",
                       str(folder)]).returncode:
        pytest.skip("cannot mount a read-only file system here")
    yield clean_machine + "\\ReadOnly"
    subprocess.run(["umount", str(folder)])


def test_read_only_install_folder_then_another(site, clean_machine, read_only_folder):
    proc = open_window(site)
    expect_failure(install(read_only_folder),
                   re.escape(f"No permission to write to\n{read_only_folder}\\Gorm Ek\n"
                             "Pick another folder."))
    expect_success_and_close(install(clean_machine), proc, clean_machine)


@pytest.fixture
def small_folder(clean_machine):
    """An install folder on a 4 MiB file system."""
    folder = unix_path(clean_machine + "\\Small\\Gorm Ek")
    folder.mkdir(parents=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(folder)]).returncode:
        pytest.skip("cannot mount a small file system here")
    yield clean_machine + "\\Small"
    subprocess.run(["umount", str(folder)])


def test_package_that_unpacks_larger_than_the_drive_then_another(site, clean_machine,
                                                                  small_folder):
    """A package far smaller than what it unpacks to: its own index says how
    much the folder's drive needs, before tar.exe starts."""
    site.publish_game(42, extra={"data/zeros.bin": bytes(8 * 1024 * 1024)})
    proc = open_window(site)
    expect_failure(install(small_folder),
                   re.escape(f"There is not enough free space in\n{small_folder}\\Gorm Ek\n"
                             "Gorm Ek needs 9 MB, and ") + r"\d MB are free\.\n" +
                   re.escape("Free some space or pick another folder."))
    assert not list(unix_path(small_folder + "\\Gorm Ek").iterdir())
    assert not list(temp_dir().glob("GormEk-*.zip"))
    expect_success_and_close(install(clean_machine), proc, clean_machine)


def test_install_folder_that_is_a_file_then_another(site, clean_machine):
    (unix_path(clean_machine) / "Taken").mkdir()
    (unix_path(clean_machine) / "Taken" / "Gorm Ek").write_text("a file")
    proc = open_window(site)
    events = install(clean_machine + "\\Taken")
    expect_failure(events, r"(Could not create the folder|No permission to write to)\n" +
                   re.escape(clean_machine + "\\Taken\\Gorm Ek\nPick another folder."))
    assert (unix_path(clean_machine) / "Taken" / "Gorm Ek").read_text() == "a file"
    expect_success_and_close(install(clean_machine), proc, clean_machine)


def test_game_holding_a_file_during_update_then_retry(site, clean_machine):
    import json
    from harness import install_through_window
    folder = install_through_window(site, clean_machine, start_menu=False, desktop=False)
    record = unix_path(folder) / "GormEkSetup.record"
    assert record.exists()
    # The file the game holds is one the update must replace.
    site.publish_game(43, extra={"data/level 1.dat": b"level one, version 43"})
    # A game that hangs on to one of its files and does not exit.
    holder = SetupProcess("hold-file", folder + "\\data\\level 1.dat", "60000", exe=DRIVER)
    assert wait_until(lambda: b'"pid"' in holder.output(), timeout=30)
    held = json.loads(holder.output().decode().splitlines()[0])
    proc = SetupProcess("/update", folder, "/pid", held["pid"], "/site", site.url)
    one("wait-window", 30000)
    events = watch(120000)
    box = events[-1]["box"]
    # 30 s for the id, counted from after the holder began (one clock: the
    # system tick of both driver processes), then the run goes on.
    assert time_after(events, "Waiting for Gorm Ek to close...") >= held["tick"] + 30000
    assert box["title"] == "Gorm Ek"
    assert box["text"].startswith("The update failed:\nUnpacking failed. Make sure Gorm Ek "
                                  "is closed and try again.\n\n")
    one("answer-box", IDOK)
    assert proc.wait() == 0
    assert one("reg-dump")["settings"]["Version"]["data"] == "0042"  # untouched
    # tar.exe had begun: the record of 42 no longer tells what the files are.
    assert not record.exists()
    holder.kill()
    # The retry may be over before its window could be looked at: its end
    # and what it left are what count.
    proc = SetupProcess("/update", folder, "/site", site.url)
    assert proc.wait(timeout=120) == 0
    assert one("reg-dump")["settings"]["Version"]["data"] == "0043"
    assert record.exists()
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])


@pytest.fixture
def non_ascii_temp():
    temp = "C:\\T\u00ebmp \u03a9 \u65e5"
    unix_path(temp).mkdir(exist_ok=True)
    set_temp(temp)
    yield unix_path(temp)
    set_temp()
    shutil.rmtree(unix_path(temp), ignore_errors=True)


def test_non_ascii_temporary_and_install_folders(site, clean_machine, non_ascii_temp):
    proc = open_window(site)
    folder = clean_machine + "\\Sp\u00efele \u03a9 \u30b2\u30fc\u30e0"
    events = install(folder)
    expect_success_and_close(events, proc, folder)
    assert (unix_path(folder + "\\Gorm Ek") / "Gorm Ek.exe").exists()
    assert not list(non_ascii_temp.glob("GormEk-*.zip"))


@pytest.mark.parametrize("length", [240, 259])
def test_paths_near_the_limit(site, clean_machine, length):
    """A folder box text of `length` characters (259 is the most the box
    check reads) that already ends in the game's name.

    Windows and Wine differ here. Windows refuses to create a folder whose
    path is longer than 248 characters (MAX_PATH minus room for an 8.3 file
    name), so there the 259-character install ends with the folder sentence;
    Wine has no such limit and installs. What holds on both, and is all this
    test asserts: a run that succeeds left a complete, registered install,
    and a run that fails said "Could not create the folder" and changed
    nothing. The 240-character install must succeed on both."""
    stem = clean_machine + "\\"
    folder = stem + "x" * (length - len(stem) - len("\\Gorm Ek")) + "\\Gorm Ek"
    assert len(folder) == length
    proc = open_window(site)
    one("set-text", 2, folder)
    events = click_and_watch(IDC_INSTALL)
    if length > 248 and events[-1].get("box"):  # Windows
        assert events[-1]["box"]["text"] == (f"Could not create the folder\n{folder}\n"
                                             "Pick another folder.")
        one("answer-box", 1)
        assert one("reg-dump") == {"uninstall": None, "settings": None}
        one("close")
    else:
        assert events[-1].get("finished"), events
        assert statuses(events)[-1] == "Gorm Ek 0042 is installed."
        reg = one("reg-dump")
        assert reg["settings"]["InstallDir"]["data"] == folder
        assert reg["uninstall"]["UninstallString"]["data"] == \
            f'"{folder}\\GormEkSetup.exe" /uninstall'
        assert (unix_path(folder) / "GormEkSetup.exe").exists()
        one("click", IDC_INSTALL)
    one("wait-gone", 10000)
    assert proc.wait() == 0


def test_two_setup_programs_at_once(site, clean_machine):
    """Two setup programs installing into one folder at once: the one that
    has the folder's lock works on it alone. The other ends before it
    downloads anything, with the lock's sentence (never the sentence of a
    folder that cannot be written to, nor of a download that cannot be
    saved), and at least one run finishes."""
    site.publish_game(42, extra={"big.bin": os.urandom(3 * 1024 * 1024)})
    first = open_window(site)
    second = SetupProcess("/site", site.url)
    assert wait_until(lambda: sum(_exists(i) for i in (0, 1)) == 2, timeout=30)
    # Each window is pinned by its handle: which one is first in Z-order
    # changes whenever one of them or its box is activated.
    windows = [driver(["target", "GormEkSetup", i], ["window"])[-1]["hwnd"] for i in (0, 1)]
    for w in windows:
        driver(["target-window", w], ["set-text", 2, clean_machine], ["set-check", 6, 0])
    driver(["target-window", windows[0]], ["click", IDC_INSTALL],
           ["target-window", windows[1]], ["click", IDC_INSTALL])
    outcomes = []
    for w in windows:
        events = driver(["target-window", w], ["watch", 120000], timeout=150)
        outcomes.append(events[-1])
        if events[-1].get("box"):
            driver(["target-window", w], ["answer-box", IDOK], ["close"], ["wait-gone", 10000])
        else:
            driver(["target-window", w], ["click", IDC_INSTALL], ["wait-gone", 10000])
    assert first.wait(60) == 0 and second.wait(60) == 0
    locked = (f"Another Gorm Ek setup is working on\n{clean_machine}\\Gorm Ek\n"
              "Wait until it has finished, then try again.")
    for o in outcomes:
        assert o.get("finished") or o["box"]["text"] == locked, o
    assert any(o.get("finished") for o in outcomes)
    assert not list(temp_dir().glob("GormEk-*.zip"))
    # Whatever happened, a later install succeeds.
    proc = open_window(site)
    expect_success_and_close(install(clean_machine), proc, clean_machine)


def _exists(index):
    try:
        driver(["target", "GormEkSetup", index], ["window"])
        return True
    except AssertionError:
        return False


def test_break_in_the_index_then_one_bar(site, clean_machine):
    """An update whose package index (a central directory larger than the
    tail asked for first) breaks while it downloads: once its bytes arrive
    again, the check's line replaces the lost connection's. The bar then
    runs once: the check up to 300, the download on from there to 900,
    never back."""
    many = {f"data/many/{i:04d} a file with a name of some length.txt": b"x"
            for i in range(3000)}
    site.publish_game(42, extra=many)
    folder = clean_machine + "\\Gorm Ek"
    proc = open_window(site)
    expect_success_and_close(install(clean_machine), proc, clean_machine)
    site.publish_game(43, extra={**many, "data/zz.bin": os.urandom(300 * 1024)})
    # The tail; the directory's range, broken; a passing 503, so that the
    # lost connection's line shows for a second; the directory's rest, held
    # once 128 KiB are in; the part, paused after its first read.
    site.fault("GormEk-0043.zip", ",cut-10000,status-503,hold-131072,pause-65536-3")
    update = SetupProcess("/update", folder, "/site", site.url)
    one("wait-window", 30000)
    w = Watch()

    def check_line_after_the_break():
        lines = statuses(w.events())
        lost = [i for i, l in enumerate(lines) if l.startswith("Connection lost.")]
        return lost and "Checking the installed files..." in lines[lost[0]:]
    assert wait_until(check_line_after_the_break, timeout=30), w.events()
    site.release("GormEk-0043.zip")
    events = w.end()
    assert events[-1].get("gone"), events
    assert update.wait() == 0
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])
    positions = [e["pos"] for e in events if "pos" in e]
    assert positions == sorted(positions), positions
    # The watch saw the pause in the part: the download's first position,
    # past the check's share.
    first_download = next(i for i, e in enumerate(events)
                          if e.get("status", "").startswith("Downloading version 0043"))
    later = [e["pos"] for e in events[first_download:] if "pos" in e]
    assert later and all(300 <= p <= 1000 for p in later), events
