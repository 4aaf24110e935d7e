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
    from harness import SetupProcess, Site, driver, one, set_dpi
    import tempfile
    site = Site(pathlib.Path(tempfile.mkdtemp(prefix="gormek-shots-")))
    try:
        site.publish_game(42)
        # The update waits for a held version file, so its window stays up.
        site.fault("version.txt", "hold-0")
        driver(["reset-state"])
        for dpi in (96, 144):
            set_dpi(dpi)
            setup = SetupProcess("/site", site.url)
            one("wait-window", 30000)
            one("set-text", 2, "C:\\Games\\Gorm Ek")
            shot(driver, f"install-window-{dpi}")
            one("close")
            setup.wait(30)
            setup = SetupProcess("/update", "C:\\Games\\Gorm Ek", "/site", site.url)
            one("wait-window", 30000)
            shot(driver, f"update-window-{dpi}")
            setup.kill()
    finally:
        set_dpi(None)
        site.stop()
        wine_env_run("wineserver", "-k")
        xvfb.terminate()


if __name__ == "__main__":
    main()
