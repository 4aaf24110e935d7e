"""The players' path: HTTPS from nginx (tools/https-site) with certificate
checks on, through the download site built into the exe (a build whose
GORMEK_SITE_URL is https://localhost:47443/), without "/site"."""
import os
import re

import pytest

from harness import (HttpsSite, IDC_INSTALL, SETUP_EXE_HTTPS, SetupProcess, driver, game_log,
                     one, temp_dir, unix_path, wait_until, watch, wine_processes)

pytestmark = pytest.mark.usefixtures("clean_machine")

HINT = ("The site's security certificate was not accepted: check that this computer's "
        "date and time are right. Security software that inspects connections, or a "
        "fault in the site's certificate, can also cause this.")


@pytest.fixture
def https_site(tmp_path):
    return HttpsSite(tmp_path)


def open_window(*args):
    proc = SetupProcess(*args, exe=SETUP_EXE_HTTPS)
    one("wait-window", 30000)
    return proc


def install(folder):
    proc = open_window()
    one("set-text", 2, folder)
    one("set-check", 6, 0)
    one("key", "enter")
    events = watch(120000)
    assert events[-1].get("finished"), events
    one("key", "enter")  # "Close"
    one("wait-gone", 10000)
    assert proc.wait() == 0
    return folder + "\\Gorm Ek"


def test_install_update_uninstall_through_the_built_in_site(https_site, clean_machine):
    https_site.publish_both(42)
    folder = install(clean_machine)
    reg = one("reg-dump")
    assert reg["settings"]["Version"]["data"] == "0042"
    assert (unix_path(folder) / "GormEkSetup.exe").read_bytes() == SETUP_EXE_HTTPS.read_bytes()

    # The game starts the folder's setup program with no "/site"; the
    # temporary copy is handed the built-in site and updates from it.
    https_site.publish_both(43)
    SetupProcess(exe=unix_path(folder + "\\Gorm Ek.exe"))
    game = driver(["target", "GormEkSample"], ["wait-window", 30000])[-1]
    driver(["target", "GormEkSample"], ["click", 201])
    # The update may be over before a driver process could look at its
    # window: the copy's command line is read from /proc as it starts.
    copies = []
    assert wait_until(lambda: copies.extend(wine_processes("GormEkSetup-")) or copies,
                      timeout=60, step=0.02)
    assert copies[0][-2:] == ["/site", HttpsSite.URL], copies
    assert not any(a == "/site" for a in game_log().split())
    events = watch(120000)
    assert events[-1].get("gone"), events
    assert wait_until(lambda: "version=43" in game_log())
    assert one("reg-dump")["settings"]["Version"]["data"] == "0043"
    driver(["target", "GormEkSample"], ["wait-window", 30000], ["close"], ["wait-gone", 10000])
    del game

    line = one("reg-dump")["uninstall"]["UninstallString"]["data"]
    proc = SetupProcess("/uninstall", exe=unix_path(line[1:line.index('"', 1)]))
    one("wait-box", 30000)
    one("key", "y")
    assert proc.wait() == 0
    assert one("wait-box", 60000)["text"] == "Gorm Ek was removed."
    one("key", "enter")
    assert wait_until(lambda: not wine_processes("GormEkSetup-"))
    assert not unix_path(folder).exists()


def test_update_failure_names_the_built_in_host(https_site, clean_machine):
    # No version file on the site: 404.
    proc = SetupProcess("/update", clean_machine + "\\Gorm Ek", exe=SETUP_EXE_HTTPS)
    one("wait-window", 30000)
    box = watch(60000)[-1]["box"]
    assert re.fullmatch(re.escape(f"The update failed:\nThe server answered 404 for\n"
                                  f"{HttpsSite.URL}version.txt?t=") + r"\d+" +
                        re.escape("\n\nYou can also download the installer again from "
                                  "localhost."), box["text"]), box
    one("key", "enter")
    one("wait-gone", 10000)
    assert proc.wait() == 0


# What only a run of the built-in exe shows: the certificate line in the
# player's box, and a failed package that leaves nothing behind. Every server
# and certificate fault over HTTPS is in HttpDownloadTest
# (FailuresDeleteTheFile, HttpsAndRefusedCertificates), through the same
# nginx; a fault of the built-in site itself is the update-failure test above.
FAULTS = [
    # (name, the site to use, the sentence as a pattern)
    ("truncated", HttpsSite.FAULTS + "_f/cut-100000+rangefail-416/",
     re.escape("The download was incomplete. Try again.")),
    ("expired", "https://localhost:47444/",
     re.escape("Could not reach https://localhost:47444/") + r"version\.txt\?t=\d+" +
     re.escape(".\nCheck your internet connection.\n" + HINT)),
]


def test_every_fault_over_https_then_a_retry_succeeds(https_site, clean_machine):
    """A package cut short and a refused certificate each end with the
    player's sentence, leave no package in the temporary folder and no
    registry change; a retry through the built-in site then succeeds."""
    https_site.publish_both(42, extra={"big.bin": os.urandom(300 * 1024)})
    for name, site, sentence in FAULTS:
        proc = open_window("/site", site)
        one("set-text", 2, clean_machine)
        one("click", IDC_INSTALL)
        box = watch(60000)[-1].get("box")
        assert box and re.fullmatch(sentence, box["text"]), (name, box)
        one("key", "enter")
        one("close")
        one("wait-gone", 10000)
        assert proc.wait() == 0, name
        assert not list(temp_dir().glob("GormEk-*.zip")), name
        assert one("reg-dump") == {"uninstall": None, "settings": None}, name
    install(clean_machine)
    assert one("reg-dump")["settings"]["Version"]["data"] == "0042"
