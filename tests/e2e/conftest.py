"""Shared helpers of the end-to-end tests: the repository, the Wine prefix of
the test bench, and running Windows programs in it."""
import os
import subprocess
import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
PREFIX = pathlib.Path(os.environ.get("GORMEK_PREFIX", REPO / "build" / "wine-prefix"))
BUILD = REPO / "build" / "release"
# Every Wine process these tests start carries one run's mark (tools/check
# passes its own on); the clean-up ends only processes that carry it.
os.environ.setdefault("GORMEK_RUN", f"pytest-{os.getpid()}")


def windows_path(path):
    """The Windows view of a Unix path: Wine maps / to drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, timeout=120, cwd=None):
    """Runs a Windows program in the test prefix; returns its exit code.

    Output goes to files, never pipes: Wine's helper processes can inherit
    pipes and keep a reader waiting."""
    log = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / f"gormek-wine-{os.getpid()}.log"
    with open(log, "ab") as out:
        return subprocess.run([str(REPO / "tools" / "wine-run"), *map(str, args)],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                              timeout=timeout, cwd=cwd).returncode


@pytest.fixture(scope="session", autouse=True)
def _prefix_ready():
    if not (PREFIX / ".gormek-ready").exists():
        pytest.exit("no test prefix: run tools/testbench (tools/check does)", returncode=2)


@pytest.fixture
def site(tmp_path):
    """A download site with the sample game published as version 42."""
    from harness import Site
    s = Site(tmp_path)
    s.publish_game(42)
    yield s
    s.stop()


# Install folders of the end-to-end tests, below C:\ of the test prefix.
TEST_ROOT_WIN = "C:\\GormEkTest"


@pytest.fixture
def clean_machine():
    """Starts each window test from a known prefix state: no registry keys,
    no shortcuts, no packages or setup copies in the temporary folder, no
    test install folders, no game log, and no setup window left open."""
    import shutil
    from harness import driver, unix_path, temp_dir, kill_windows_processes
    kill_windows_processes("GormEkSetup", "Gorm Ek.exe", "ui_driver")
    driver(["reset-state"])
    shutil.rmtree(unix_path(TEST_ROOT_WIN), ignore_errors=True)
    unix_path(TEST_ROOT_WIN).mkdir(parents=True)
    (temp_dir() / "GormEk-game-log.txt").unlink(missing_ok=True)
    yield TEST_ROOT_WIN
    kill_windows_processes("GormEkSetup", "Gorm Ek.exe")


@pytest.fixture(scope="session")
def signed_setup(tmp_path_factory):
    """The release exe signed by tools/sign with a throwaway code-signing
    authority made here: (signed exe, the authority's certificate)."""
    d = tmp_path_factory.mktemp("signing")
    ext = d / "ext.cnf"
    ext.write_text("[leaf]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                   "extendedKeyUsage=codeSigning\n")

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=d, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
            "ca.pem", "-days", "30", "-subj", "/CN=GormEk Test Code Signing CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "studio.key", "-out",
            "studio.csr", "-subj", "/CN=GormEk Test Studio")
    openssl("x509", "-req", "-in", "studio.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "30", "-out", "studio.pem", "-extfile", str(ext),
            "-extensions", "leaf")
    openssl("pkcs12", "-export", "-inkey", "studio.key", "-in", "studio.pem", "-out",
            "studio.pfx", "-passout", "pass:pfx password")
    signed = d / "GormEkSetup.exe"
    subprocess.run([str(REPO / "tools" / "sign"), "--pfx", str(d / "studio.pfx"), "--url",
                    "https://studio.example/gormek", "--ca", str(d / "ca.pem"),
                    str(BUILD / "GormEkSetup.exe"), str(signed)], check=True,
                   env={**os.environ, "GORMEK_SIGN_PASSWORD": "pfx password"},
                   stdout=subprocess.DEVNULL)
    return signed, d / "ca.pem"
