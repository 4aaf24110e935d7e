"""The walk of tools/demo: install, update from the game, uninstall."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools" / "lib"))

OUT = REPO / "build" / "demo"
INTERACTIVE = bool(os.environ.get("DISPLAY"))
# How long one step may wait: a player at the window takes the time they
# need; the headless walk's steps take seconds, so a few minutes means a hang.
STEP_S = 3600 if INTERACTIVE else 300


def say(text):
    print(f"demo: {text}", flush=True)


def wine_env_run(*cmd):
    """Runs a command with the test prefix's Wine settings."""
    script = '. "$1"; gormek_wine_env; shift; "$@"'
    subprocess.run(["bash", "-c", script, "demo", str(REPO / "tools/lib/env.sh"), *cmd],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_xvfb():
    import started
    for n in range(90, 110):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            started.record(proc.pid, "Xvfb")
            # Ready once it listens on its socket.
            deadline = time.monotonic() + 30
            while not os.path.exists(f"/tmp/.X11-unix/X{n}"):
                if proc.poll() is not None or time.monotonic() > deadline:
                    sys.exit(f"demo: Xvfb :{n} did not start")
                time.sleep(0.05)
            return proc, f":{n}"
    sys.exit("demo: no free X display number for Xvfb")


def screen(name):
    """A picture of the whole screen; best effort."""
    path = OUT / name
    subprocess.run(["import", "-window", "root", str(path)], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    say(f"screenshot {path}" if path.exists() else f"no screenshot {name} (import failed)")


def window_shot(name, target="GormEkSetup"):
    """A picture of a window; best effort: a quick step's window may be gone
    before it can be taken."""
    from harness import driver
    bmp = OUT / (name + ".bmp")
    png = OUT / (name + ".png")
    try:
        driver(["target", target], ["screenshot", "Z:" + str(bmp).replace("/", "\\")])
        subprocess.run(["convert", str(bmp), str(png)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        say(f"screenshot {png}")
    except (AssertionError, subprocess.CalledProcessError):
        say(f"no screenshot {name}: the window was gone before it could be taken")
    bmp.unlink(missing_ok=True)


def downloading_or_past(one, version):
    """True once the setup window shows the check of the installed files, the
    download of the version or a later step, or is gone."""
    try:
        status = one("status")["status"]
    except AssertionError:  # the window is gone: the run is over
        return True
    return status.startswith(("Checking the installed files",
                              f"Downloading version {version:04d}", "Unpacking",
                              "Creating", "Gorm Ek", "Updated"))


def main():
    if OUT.exists():
        shutil.rmtree(OUT)
    OUT.mkdir(parents=True)
    # Windows on another display need a new Wine session.
    wine_env_run("wineserver", "-k")
    xvfb = None
    if not INTERACTIVE:
        xvfb, display = start_xvfb()
        os.environ["DISPLAY"] = display
        say(f"no display: the walk runs by itself under Xvfb ({display})")
    from harness import (IDC_INSTALL, IDOK, IDYES, HttpsSite, SetupProcess, driver, one,
                         unix_path, wait_until, watch)
    # The players' path: nginx over HTTPS (tools/demo starts and stops it),
    # and an exe with that site built in, so no "/site" is given anywhere.
    try:
        site = HttpsSite(OUT)
        publish(site, 1)
        say(f"nginx serves version 1 of the sample game at {site.url} (HTTPS), the site "
            "built into this GormEkSetup.exe")
        driver(["reset-state"])
        walk(site, SetupProcess, driver, one, unix_path, wait_until, watch,
             IDC_INSTALL, IDOK, IDYES)
    finally:
        # Wine's programs first: they are clients of the X server.
        wine_env_run("wineserver", "-k")
        if xvfb:
            xvfb.terminate()
            xvfb.wait(timeout=30)
            os.environ.pop("DISPLAY", None)


ASSETS = []


def publish(site, version):
    """The sample game with 300 MiB of game data, so that the download can
    be watched (and photographed) for a moment. The data stays the same from
    version to version, as a game's does: an update fetches what changed."""
    if not ASSETS:
        ASSETS.append(os.urandom(300 * 1024 * 1024))
    site.publish_game(version, hand_on_site=False, extra={"data/assets.bin": ASSETS[0]})


def package_bytes_sent(version):
    """The body bytes nginx sent for the package, from its access log."""
    name = "/GormEk-%04d.zip" % version
    log = REPO / "build" / "https" / "logs" / "access.log"
    sent = 0
    for line in log.read_text(errors="replace").splitlines():
        match = re.search(r'"GET (\S+) HTTP/[\d.]+" (\d+) (\d+)', line)
        if match and match.group(1) == name:
            sent += int(match.group(3))
    return sent


def walk(site, SetupProcess, driver, one, unix_path, wait_until, watch,
         IDC_INSTALL, IDOK, IDYES):
    from harness import SETUP_EXE_HTTPS
    # 1. Install through the window.
    setup = SetupProcess(exe=SETUP_EXE_HTTPS)
    one("wait-window", 30000)
    if INTERACTIVE:
        say("the setup window is open: pick a folder and press Install "
            "(keep 'Start Gorm Ek when done' checked)")
    else:
        window_shot("1-install-window")
        one("click", IDC_INSTALL)
        # Photographed while it downloads, if a look comes in time.
        if wait_until(lambda: downloading_or_past(one, 1), timeout=STEP_S, step=0.02):
            window_shot("2-installing")
    setup.wait(timeout=STEP_S)
    reg = one("reg-dump")
    if not reg["settings"]:
        sys.exit("demo: the game was not installed; the demo ends here")
    folder = reg["settings"]["InstallDir"]["data"]
    say(f"installed version {reg['settings']['Version']['data']} into {folder}")

    # 2. Update from the game.
    publish(site, 2)
    say("version 2 is published")
    try:
        one_game = driver(["target", "GormEkSample"], ["wait-window", 20000])[-1]
    except AssertionError:
        say("starting the game")
        SetupProcess(exe=unix_path(folder + "\\Gorm Ek.exe"))
        one_game = driver(["target", "GormEkSample"], ["wait-window", 20000])[-1]
    say(f"the game runs: {one_game['title']}")
    if INTERACTIVE:
        say("press Update in the game window")
    else:
        screen("3-game-version-1.png")
        driver(["target", "GormEkSample"], ["click", 201])
        # The update window, photographed once it downloads, if a look comes
        # in time: the update may be over first.
        try:
            one("wait-window", 30000)
            if wait_until(lambda: downloading_or_past(one, 2), timeout=STEP_S, step=0.02):
                window_shot("4-updating")
        except AssertionError:
            say("the update was over before its window could be photographed")

    # The game of version 1 ends, and the update starts version 2. Both can
    # happen between two looks, and both games' windows have one class: the
    # new game's title is what is waited for.
    def game_title():
        try:
            return driver(["target", "GormEkSample"], ["window"])[-1]["title"]
        except AssertionError:  # no game window at this moment
            return ""
    if not wait_until(lambda: game_title() == "Gorm Ek 2", timeout=STEP_S, step=0.2):
        sys.exit("demo: the game of version 2 did not start; the demo ends here")
    say("the game was updated and restarted: Gorm Ek 2")
    size = (site.dir / "GormEk-0002.zip").stat().st_size
    say(f"the update fetched {package_bytes_sent(2) / 1e6:.2f} MB of the "
        f"{size / 1e6:.1f} MB package: only the entries that changed")
    if not INTERACTIVE:
        screen("5-game-version-2.png")
    driver(["target", "GormEkSample"], ["close"], ["wait-gone", STEP_S * 1000], timeout=STEP_S + 100)

    # 3. Uninstall with the command line that Apps & features holds.
    line = one("reg-dump")["uninstall"]["UninstallString"]["data"]
    say(f"uninstalling: {line}")
    exe = line[1:line.index('"', 1)]
    args = line[line.index('"', 1) + 1:].split()
    uninstall = SetupProcess(*args, exe=unix_path(exe))
    box = one("wait-box", 30000)
    say(f"asks: {box['text']!r}")
    if INTERACTIVE:
        say("answer the boxes")
    else:
        screen("6-uninstall-question.png")
        one("answer-box", IDYES)
        box = one("wait-box", 60000)
        say(f"says: {box['text']!r}")
        screen("7-uninstalled.png")
        one("answer-box", IDOK)
    uninstall.wait(timeout=STEP_S)
    wait_until(lambda: one("reg-dump")["settings"] is None, timeout=60)
    gone = not unix_path(folder).exists()
    keys_gone = one("reg-dump") == {"uninstall": None, "settings": None}
    say(f"uninstalled: folder removed: {gone}, registry keys removed: {keys_gone}")
    if not (gone and keys_gone):
        sys.exit("demo: the uninstall left the game behind")
    if not INTERACTIVE:
        say(f"screenshots are in {OUT}")


if __name__ == "__main__":
    main()
