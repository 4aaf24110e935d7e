"""The install as a player sees it: the real GormEkSetup.exe under Wine,
its window driven by the UI driver, against tools/site on 127.0.0.1."""
import re

import pytest

from harness import (IDC_CANCEL, IDC_INSTALL, IDOK, SETUP_EXE, SetupProcess, Watch,
                     click_and_watch, controls, control, game_log, one, set_dpi, set_temp,
                     statuses, temp_dir, time_after, unix_path, wait_until, watch)

pytestmark = pytest.mark.usefixtures("clean_machine")


def start_install(site, *extra, exe=SETUP_EXE):
    proc = SetupProcess("/site", site.url, *extra, exe=exe)
    one("wait-window", 30000)
    return proc


def set_folder(folder):
    edit = control(controls(), cls="Edit")
    one("set-text", edit["index"], folder)


def set_launch(checked):
    box = control(controls(), text="Start Gorm Ek when done")
    one("set-check", box["index"], 1 if checked else 0)


# The lines of an install, in the order they come.
INSTALL_LINES = [r"Checking for the newest version\.\.\.",
                 r"Downloading version 0042\.\.\.  0 / 0 MB", r"Unpacking\.\.\.",
                 r"Creating shortcuts\.\.\.", r"Gorm Ek 0042 is installed\."]


def test_install_happy_path(site, clean_machine, signed_setup):
    # The version file and the package are each held until their status
    # line has been seen. The exe is signed, as players download it.
    site.fault("version.txt", "hold-0")
    site.fault("GormEk-0042.zip", "hold-65536")
    signed, _ = signed_setup
    proc = start_install(site, exe=signed)
    folder = clean_machine + "\\Spiele"
    set_folder(folder)
    set_launch(False)
    run = Watch(["click", IDC_INSTALL])
    run.wait_for_status("Checking for the newest version...")
    site.release("version.txt")
    run.wait_for_status("Downloading version 0042...")
    site.release("GormEk-0042.zip")
    events = run.end()
    assert proc.proc.poll() is None

    # Each line seen is one of the run's, in its order; the quick steps
    # after the download may pass between two looks.
    lines = statuses(events)
    steps = [next(i for i, p in enumerate(INSTALL_LINES) if re.fullmatch(p, l)) for l in lines]
    assert steps == sorted(steps) and steps[0] == 0 and steps[-1] == 4, lines
    positions = [e["pos"] for e in events if "pos" in e]
    assert positions[-1] == 1000
    assert positions == sorted(positions)

    items = controls()
    assert control(items, id=IDC_INSTALL)["text"] == "Close"
    assert control(items, id=IDC_INSTALL)["enabled"]
    assert not control(items, id=IDC_CANCEL)["visible"]
    assert control(items, cls="Edit")["text"] == folder + "\\Gorm Ek"
    assert not control(items, cls="Edit")["enabled"]

    install = unix_path(folder + "\\Gorm Ek")
    assert (install / "Gorm Ek.exe").read_bytes() == (site.root / "game-42" / "Gorm Ek.exe").read_bytes()
    assert (install / "data" / "level 1.dat").exists()
    # The copy that updates and uninstalls later keeps the signature.
    assert (install / "GormEkSetup.exe").read_bytes() == signed.read_bytes()
    assert not list(temp_dir().glob("GormEk-*.zip"))

    win_folder = folder + "\\Gorm Ek"
    reg = one("reg-dump")
    u, s = reg["uninstall"], reg["settings"]
    assert u["DisplayName"]["data"] == "Gorm Ek"
    assert u["DisplayVersion"]["data"] == "0042"
    assert u["UninstallString"]["data"] == f'"{win_folder}\\GormEkSetup.exe" /uninstall'
    assert u["InstallLocation"]["data"] == win_folder
    assert u["EstimatedSize"]["type"] == 4 and u["EstimatedSize"]["data"] > 0
    assert s["InstallDir"] == {"type": 1, "bytes": 2 * (len(win_folder) + 1), "data": win_folder}
    assert s["Version"]["data"] == "0042"
    paths = one("paths")
    for link in (paths["startMenuLink"], paths["desktopLink"]):
        info = one("read-link", link)
        assert info["target"] == win_folder + "\\Gorm Ek.exe"
        assert info["workdir"] == win_folder
    assert game_log() == ""

    # Cancel went away with the focus on it: the focus is on "Close", and
    # Enter presses it.
    assert [c["id"] for c in items if c["focused"]] == [IDC_INSTALL]
    one("key", "enter")
    one("wait-gone", 10000)
    assert proc.wait() == 0
    # The cache was bypassed and the agent named on every request.
    reqs = [r for r in site.requests() if not r["path"].startswith("/_control")]
    assert reqs[0]["path"].startswith("/version.txt?t=")
    assert all(r["user_agent"] == "GormEkSetup/1.0" and r["pragma"] == "no-cache" for r in reqs)


def test_install_then_start_the_game(site, clean_machine):
    proc = start_install(site)
    set_folder(clean_machine)
    one("click", IDC_INSTALL)
    events = watch(60000)
    assert events[-1].get("gone")
    assert proc.wait() == 0
    folder = clean_machine + "\\Gorm Ek"
    assert wait_until(lambda: "started" in game_log())
    assert f"folder={folder}" in game_log()
    assert f"cwd={folder}" in game_log()


# Install layout, in creation order: class, text, style, x, y, w, h, id.
INSTALL_LAYOUT = [
    ("Static", "Install Gorm Ek", 0x50000000, 16, 14, 448, 26, 0),
    ("Static", "Install folder:", 0x50000000, 16, 50, 448, 18, 0),
    ("Edit", None, 0x50810080, 16, 70, 352, 24, 0),
    ("Button", "Browse...", 0x50010000, 376, 69, 88, 26, 101),
    ("Button", "Add to the Start menu", 0x50010003, 16, 106, 448, 22, 0),
    ("Button", "Create a desktop shortcut", 0x50010003, 16, 130, 448, 22, 0),
    ("Button", "Start Gorm Ek when done", 0x50010003, 16, 154, 448, 22, 0),
    ("Static", "", 0x5000000C, 16, 190, 448, 20, 0),
    ("msctls_progress32", "", 0x50000000, 16, 214, 448, 18, 0),
    ("Button", "Install", 0x50010001, 272, 248, 96, 30, 102),
    ("Button", "Cancel", 0x50010000, 376, 248, 88, 30, 103),
]

UPDATE_LAYOUT = [
    ("Static", "Updating Gorm Ek", 0x50000000, 16, 14, 448, 26, 0),
    ("Static", None, 0x5000000C, 16, 50, 448, 20, 0),
    ("msctls_progress32", "", 0x50000000, 16, 74, 448, 18, 0),
    # The only button has the focus, so it looks like Enter's.
    ("Button", "Cancel", 0x50000001, 376, 106, 88, 30, 103),
]


def scale(v, dpi):
    # MulDiv rounds halves away from zero.
    return (v * dpi * 2 + 96) // (96 * 2)


def check_layout(items, layout, dpi):
    assert len(items) == len(layout)
    for c, (cls, text, style, x, y, w, h, cid) in zip(items, layout):
        assert c["class"].lower() == cls.lower(), c
        if text is not None:
            assert c["text"] == text, c
        # The edit control takes WS_BORDER over and draws the border itself.
        ignore = 0x00800000 if cls == "Edit" else 0
        assert c["style"] & ~ignore == style & ~ignore, c
        assert c["rect"] == [scale(x, dpi), scale(y, dpi), scale(w, dpi), scale(h, dpi)], c
        assert c["id"] == cid, c


def test_install_layout_at_96_dpi(site, clean_machine):
    proc = start_install(site)
    win = one("window")
    assert win["title"] == "Gorm Ek Setup"
    assert win["client"] == [480, 292]
    assert win["style"] & 0x00CA0000 == 0x00CA0000
    assert not win["style"] & 0x00050000  # no sizing border, no maximise box
    items = controls()
    check_layout(items, INSTALL_LAYOUT, 96)
    assert [c["checked"] for c in items[4:7]] == [1, 1, 1]
    assert items[2]["text"].endswith("\\Programs\\Gorm Ek")
    assert items[8]["pos"] == 0 and items[8]["max"] == 1000
    tab_stops = [c["index"] for c in items if c["style"] & 0x00010000]
    assert tab_stops == [2, 3, 4, 5, 6, 9, 10]
    # Tab to Cancel: the default-button look goes with the focus, and Enter
    # presses Cancel, which closes the idle window at once.
    one("key", "tab")
    items = controls()
    assert focused(items) == [10]
    assert default_buttons(items) == [IDC_CANCEL]
    one("key", "enter")
    one("wait-gone", 10000)
    assert proc.wait() == 0
    assert site.requests() == []


def test_reinstall_layout_when_already_installed(site, clean_machine):
    folder = clean_machine + "\\Earlier\\Gorm Ek"
    one("set-install-dir", folder)
    proc = start_install(site)
    items = controls()
    assert control(items, id=IDC_INSTALL)["text"] == "Reinstall"
    assert items[7]["text"] == "Already installed: installing again gets the newest version."
    assert items[2]["text"] == folder
    # A failed reinstall leaves the button as it was.
    site.fault("version.txt", "status-500")
    one("click", IDC_INSTALL)
    assert watch(60000)[-1].get("box")
    one("answer-box", IDOK)
    assert control(controls(), id=IDC_INSTALL)["text"] == "Reinstall"
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0


def test_update_layout(site, clean_machine):
    # The update starts at once; the version file is held while we look.
    site.fault("version.txt", "hold-0")
    proc = SetupProcess("/update", clean_machine, "/site", site.url)
    win = one("wait-window", 30000)
    assert win["title"] == "Updating Gorm Ek"
    assert win["client"] == [480, 150]
    items = controls()
    check_layout(items, UPDATE_LAYOUT, 96)
    assert not any(c["style"] & 0x00010000 for c in items)  # no tab stops
    assert [c["id"] for c in items if c["focused"]] == [IDC_CANCEL]
    one("key", "esc")  # as the Cancel button
    assert one("status")["status"] == "Cancelling..."
    site.release("version.txt")  # the cancel ends the run once the package downloads
    one("wait-gone", 30000)
    assert proc.wait() == 0


@pytest.fixture
def dpi_144():
    set_dpi(144)
    yield 144
    set_dpi(None)


def test_install_layout_at_144_dpi(site, clean_machine, dpi_144):
    proc = start_install(site)
    win = one("window")
    assert win["client"] == [720, 438]
    items = controls()
    check_layout(items, INSTALL_LAYOUT, 144)
    assert control(items, id=IDC_INSTALL)["rect"][:2] == [408, 372]
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0


def fail_version_404(site, root):
    site.fault("version.txt", "status-404")
    return re.escape(f"The server answered 404 for\n{site.url}version.txt?t=") + r"\d+"


def fail_version_html(site, root):
    site.fault("version.txt", "html")
    return re.escape("The version file on the server is not valid.")


def fail_version_zero(site, root):
    (site.dir / "version.txt").write_text("0\n")
    return re.escape("The version file on the server is not valid.")


def fail_package(status):
    def setup(site, root):
        site.fault("GormEk-0042.zip", f"status-{status}")
        return re.escape(f"The server answered {status} for\n{site.url}GormEk-0042.zip")
    return setup


def fail_package_cut(site, root):
    site.fault("GormEk-0042.zip", "cut-3000+rangefail-416")
    return re.escape("The download was incomplete. Try again.")


def fail_package_reset(site, root):
    site.fault("GormEk-0042.zip", "reset-70000+rangefail-416")
    return re.escape("The download was interrupted.")


def fail_corrupt_package(site, root):
    (site.dir / "GormEk-0043.zip").write_bytes(b"PK\x03\x04" + bytes(range(256)) * 20)
    (site.dir / "version.txt").write_text("43\n")
    return re.escape("Unpacking failed. Make sure Gorm Ek is closed and try again.")


def fail_package_without_game(site, root):
    site.write_package(44, {"readme.txt": b"no game here", "Gorm Ek.exe/": b""})
    return re.escape("The download did not contain the game.")


CASES = [
    ("version 404", fail_version_404, None),
    ("version file is an HTML page", fail_version_html, None),
    ("version 0", fail_version_zero, None),
    ("package 404", fail_package(404), None),
    ("package 500", fail_package(500), None),
    ("package cut short", fail_package_cut, None),
    ("connection reset", fail_package_reset, None),
    ("corrupt package", fail_corrupt_package, None),
    ("package without the game", fail_package_without_game, None),
    ("folder under a file", None, "file.txt\\sub"),
    ("folder that cannot be written", None, "unwritable"),
]


def test_every_failure_reaches_an_error_box_and_the_window_recovers(site, clean_machine):
    root = unix_path(clean_machine)
    (root / "file.txt").write_text("a file, not a folder")
    # A folder named ".write-test" where the write test wants its file.
    (root / "unwritable" / "Gorm Ek" / ".write-test").mkdir(parents=True)
    proc = start_install(site)
    set_launch(False)
    for name, fault, subfolder in CASES:
        site.clear_faults()
        (site.dir / "version.txt").write_text("42\n")
        folder = clean_machine + "\\" + (subfolder or "ok")
        win_install = folder + "\\Gorm Ek"
        if fault:
            expected = fault(site, root)
        elif subfolder.startswith("file.txt"):
            expected = re.escape(f"Could not create the folder\n{win_install}\nPick another folder.")
        else:
            expected = re.escape(f"No permission to write to\n{win_install}\nPick another folder.")
        set_folder(folder)
        one("click", IDC_INSTALL)
        events = watch(60000)
        box = events[-1].get("box")
        assert box, (name, events)
        assert box["title"] == "Gorm Ek Setup", name
        assert re.fullmatch(expected, box["text"]), (name, box["text"])
        one("answer-box", IDOK)
        items = controls()
        assert items[7]["text"] == "", name  # status line cleared
        assert items[8]["pos"] == 0, name
        assert all(items[i]["enabled"] for i in (2, 3, 4, 5, 6, 9)), name
        assert items[9]["text"] == "Install", name
        assert one("reg-dump") == {"uninstall": None, "settings": None}, name
        assert not list(temp_dir().glob("GormEk-*.zip")), name

    # With the site mended, the next press of Install succeeds.
    site.clear_faults()
    (site.dir / "version.txt").write_text("42\n")
    set_folder(clean_machine + "\\ok")
    one("click", IDC_INSTALL)
    assert watch(60000)[-1].get("finished")
    assert one("reg-dump")["settings"]["Version"]["data"] == "0042"
    one("click", IDC_INSTALL)
    one("wait-gone", 10000)
    assert proc.wait() == 0


def test_unreachable_site(clean_machine):
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    url = f"http://127.0.0.1:{port}/"
    proc = SetupProcess("/site", url)
    one("wait-window", 30000)
    set_folder(clean_machine)
    # Enter in the folder box installs; after the error box the focus is
    # back in the folder box (not on Cancel, which had it during the run),
    # so the next Enter installs again.
    one("key", "tab")
    one("key", "tab")
    assert focused(controls()) == [2]
    for _ in range(2):
        one("key", "enter")
        box = watch(60000)[-1]["box"]
        assert re.fullmatch(re.escape(f"Could not reach {url}version.txt?t=") + r"\d+" +
                            re.escape(".\nCheck your internet connection."), box["text"])
        one("key", "enter")  # answers the box
        one("wait-no-box", 10000)
        items = controls()
        assert focused(items) == [2]
        assert default_buttons(items) == [IDC_INSTALL]
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0


def test_rejected_folder_changes_nothing(site, clean_machine):
    proc = start_install(site)
    for typed in ["Games", "", "\\\\server\\share"]:
        set_folder(typed)
        one("click", IDC_INSTALL)
        box = one("wait-box", 10000)
        assert box == {"title": "Gorm Ek Setup",
                       "text": "Please enter a full folder path, like C:\\Games\\Gorm Ek."}
        one("key", "esc")  # an OK box closes with Esc as with Enter
        one("wait-no-box", 10000)
        items = controls()
        assert items[2]["text"] == typed
        assert all(items[i]["enabled"] for i in (2, 3, 4, 5, 6, 9))
        assert items[7]["text"] == ""
    assert site.requests() == []
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0


def poll_status(predicate, timeout=30):
    seen = []
    def check():
        s = one("status")["status"]
        seen.append(s)
        return predicate(s)
    assert wait_until(check, timeout=timeout, step=0.05), seen
    return seen[-1]


def focused(items):
    return [c["index"] for c in items if c["focused"]]


def default_buttons(items):
    """The ids of the push buttons drawn as the one Enter presses."""
    return [c["id"] for c in items if c["class"] == "Button" and c["style"] & 0xF == 1]


def test_cancel_during_a_slow_download_with_the_keyboard(site, clean_machine):
    """A player with the keyboard alone: the focus starts on Install, Tab
    walks the controls in their visual order, Enter installs. While the run
    goes only Cancel can be used: the inputs are disabled, the focus and the
    default-button look are on Cancel, a click on Install does nothing, and
    Enter presses Cancel while the download waits for its next block (Esc
    then only repeats it)."""
    site.publish_game(42, extra={"big.bin": bytes(3 * 1024 * 1024)})
    # The first 64 KiB arrive, then the site holds the answer.
    site.fault("GormEk-0042.zip", "hold-65536")
    proc = start_install(site)
    set_folder(clean_machine)
    assert focused(controls()) == [9]  # Install
    order = []
    for _ in range(7):
        one("key", "tab")
        order += focused(controls())
    # Cancel, then from the top: folder, Browse, the three boxes, Install.
    assert order == [10, 2, 3, 4, 5, 6, 9]
    one("key", "enter")
    poll_status(lambda s: s.startswith("Downloading version 0042..."))
    items = controls()
    assert [c["enabled"] for c in items[2:7]] == [False] * 5
    assert not control(items, id=IDC_INSTALL)["enabled"]
    assert control(items, id=IDC_CANCEL)["enabled"]
    assert focused(items) == [10]  # nothing disabled has the focus
    assert default_buttons(items) == [IDC_CANCEL]
    assert one("click", IDC_INSTALL)["pressed"] is False
    one("key", "enter")
    assert one("status")["status"] == "Cancelling..."
    one("key", "esc")
    cancelled_run_ends(site)
    assert proc.wait() == 0
    assert not list(temp_dir().glob("GormEk-*.zip"))
    assert one("reg-dump") == {"uninstall": None, "settings": None}
    assert not (unix_path(clean_machine) / "Gorm Ek" / "Gorm Ek.exe").exists()
    assert game_log() == ""
    assert sum(r["path"].startswith("/version.txt") for r in site.requests()) == 1


def cancelled_run_ends(site):
    """After a cancel while the download is held: the window stays, saying
    "Cancelling...", for as long as the worker runs; once the answer goes
    on, the worker sees the cancel and the window closes."""
    for _ in range(3):
        assert one("status")["status"] == "Cancelling..."
    site.release("GormEk-0042.zip")
    events = watch(30000)
    # "Cancelling..." stays: the status lines posted later are dropped.
    assert statuses(events) in (["Cancelling..."], []), events
    assert events[-1].get("gone"), events
    return events


def test_close_box_during_a_slow_download_acts_as_cancel(site, clean_machine):
    site.publish_game(42, extra={"big.bin": bytes(3 * 1024 * 1024)})
    site.fault("GormEk-0042.zip", "hold-65536")
    proc = start_install(site)
    set_folder(clean_machine)
    one("click", IDC_INSTALL)
    poll_status(lambda s: s.startswith("Downloading"))
    one("close")
    one("close")  # again: changes nothing
    cancelled_run_ends(site)
    assert proc.wait() == 0
    assert one("reg-dump") == {"uninstall": None, "settings": None}


def test_cancel_during_unpacking_still_completes(site, clean_machine):
    # Thousands of files keep tar busy long enough to press Cancel.
    many = {f"data/many/{i:05d}.txt": b"x" * 100 for i in range(4000)}
    site.publish_game(42, extra=many)
    proc = start_install(site)
    set_folder(clean_machine)
    one("click", IDC_INSTALL)
    poll_status(lambda s: s == "Unpacking...", timeout=60)
    one("click", IDC_CANCEL)
    events = watch(60000)
    assert events[-1].get("gone"), events
    assert proc.wait() == 0
    folder = clean_machine + "\\Gorm Ek"
    # The run went on to its end: files, setup copy, registration.
    assert (unix_path(folder) / "data" / "many" / "03999.txt").exists()
    assert (unix_path(folder) / "GormEkSetup.exe").exists()
    assert one("reg-dump")["settings"]["InstallDir"]["data"] == folder
    # The game is not started after a cancel, even on success.
    assert game_log() == ""


def test_install_waits_for_listed_processes(site, clean_machine):
    import json
    import subprocess
    from harness import DRIVER, LOGS, WINE_RUN
    out = LOGS / "sleeper.out"
    sleeper = subprocess.Popen([str(WINE_RUN), str(DRIVER), "pid", "--", "sleep", "4000"],
                               stdin=subprocess.DEVNULL, stdout=open(out, "wb"),
                               stderr=subprocess.DEVNULL)
    assert wait_until(lambda: out.exists() and out.read_text().strip(), timeout=30)
    pid = json.loads(out.read_text().splitlines()[0])["pid"]
    proc = start_install(site, "/pid", pid)
    set_folder(clean_machine)
    set_launch(False)
    events = click_and_watch(IDC_INSTALL)
    assert events[-1].get("finished"), events
    assert sleeper.wait(timeout=30) == 0
    assert statuses(events)[0] == "Waiting for Gorm Ek to close..."
    # The run went on only once the process had ended (one clock: the
    # system tick of both driver processes).
    slept = json.loads(out.read_text().splitlines()[-1])["slept"]
    assert time_after(events, "Waiting for Gorm Ek to close...") >= slept
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0


@pytest.fixture
def temp_folder_too_long():
    """A TEMP longer than the 260-character buffer: GetTempPathW cannot give
    it, and the run has nowhere to put its package."""
    set_temp("C:\\" + "t" * 300)
    yield
    set_temp()


def test_no_temporary_folder_fails_cleanly(site, clean_machine, temp_folder_too_long):
    proc = start_install(site)
    set_folder(clean_machine)
    one("click", IDC_INSTALL)
    box = watch(60000)[-1]["box"]
    assert box == {"title": "Gorm Ek Setup",
                   "text": "The temporary folder could not be found, so the download "
                           "has nowhere to go."}
    one("answer-box", IDOK)
    one("close")
    one("wait-gone", 10000)
    assert proc.wait() == 0
    assert one("reg-dump") == {"uninstall": None, "settings": None}
