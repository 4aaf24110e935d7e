"""The install as a player sees it: the real GormEkSetup.exe under Wine,
its window driven by the UI driver, against tools/site on 127.0.0.1."""
import re

import pytest

from harness import (IDC_CANCEL, IDC_INSTALL, IDOK, SETUP_EXE, SetupProcess, controls,
                     control, driver, game_log, one, statuses, temp_dir, unix_path,
                     wait_until, watch)

pytestmark = pytest.mark.usefixtures("clean_machine")


def start_install(site, *extra):
    proc = SetupProcess("/site", site.url, *extra)
    one("wait-window", 30000)
    return proc


def set_folder(folder):
    edit = control(controls(), cls="Edit")
    one("set-text", edit["index"], folder)


def set_launch(checked):
    box = control(controls(), text="Start Gorm Ek when done")
    one("set-check", box["index"], 1 if checked else 0)


def test_install_happy_path(site, clean_machine):
    # A slow version file and package keep every status line on screen long
    # enough to be seen.
    site.fault("version.txt", "trickle-1")
    site.fault("GormEk-0042.zip", "trickle-65536")
    proc = start_install(site)
    folder = clean_machine + "\\Spiele"
    set_folder(folder)
    set_launch(False)
    one("click", IDC_INSTALL)
    events = watch(60000)
    assert proc.proc.poll() is None

    lines = statuses(events)
    assert lines[0] == "Checking for the newest version..."
    downloads = [l for l in lines if l.startswith("Downloading")]
    assert downloads and all(re.fullmatch(r"Downloading version 0042\.\.\.  0 / 0 MB", l)
                             for l in downloads), lines
    assert lines[-3:] == ["Unpacking...", "Creating shortcuts...", "Gorm Ek 0042 is installed."]
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
    assert (install / "GormEkSetup.exe").read_bytes() == SETUP_EXE.read_bytes()
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

    one("click", IDC_INSTALL)  # "Close"
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
