"""tools/screenshots: both layouts of the setup window at 96 and 144 DPI,
under Xvfb, into docs/ for the README."""
import os
import pathlib
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools" / "lib"))

from demo import start_xvfb, wine_env_run  # noqa: E402

DOCS = REPO / "docs"


def shot(driver, name, target="GormEkSetup"):
    bmp = DOCS / (name + ".bmp")
    driver(["target", target], ["screenshot", "Z:" + str(bmp).replace("/", "\\")])
    png = DOCS / (name + ".png")
    subprocess.run(["convert", str(bmp), str(png)], check=True)
    bmp.unlink()
    print(f"screenshots: {png.relative_to(REPO)}", flush=True)


def main():
    wine_env_run("wineserver", "-k")
    xvfb, display = start_xvfb()
    os.environ["DISPLAY"] = display
    from harness import (SetupProcess, Site, driver, install_through_window, one, set_dpi,
                         wait_until)
    import tempfile
    site = Site(pathlib.Path(tempfile.mkdtemp(prefix="gormek-shots-")))
    try:
        driver(["reset-state"])
        site.publish_game(42)
        for dpi in (96, 144):
            set_dpi(dpi)
            setup = SetupProcess("/site", site.url)
            one("wait-window", 30000)
            one("set-text", 2, "C:\\Games\\Gorm Ek")
            shot(driver, f"install-window-{dpi}")
            one("close")
            setup.wait(30)
        set_dpi(None)
        install_through_window(site, "C:\\Games", start_menu=False, desktop=False)
        site.publish_game(43)
        for dpi in (96, 144):
            set_dpi(dpi)
            # The update has checked the installed files; the request for
            # what changed (after the tail's) is held, so its window stays
            # up showing the check.
            site.fault("GormEk-0043.zip", ",hold-0")
            setup = SetupProcess("/update", "C:\\Games\\Gorm Ek", "/site", site.url)
            one("wait-window", 30000)
            assert wait_until(lambda: one("status")["status"] ==
                              "Checking the installed files...", timeout=60)
            shot(driver, f"update-window-{dpi}")
            setup.kill()
            site.release("GormEk-0043.zip")
    finally:
        set_dpi(None)
        site.stop()
        wine_env_run("wineserver", "-k")
        xvfb.terminate()


if __name__ == "__main__":
    main()
