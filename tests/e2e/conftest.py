"""Shared helpers of the end-to-end tests: the repository, the Wine prefix of
the test bench, and running Windows programs in it."""
import json
import os
import pathlib
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
# The harness (tools/lib, shared with the demo and the bench) holds the
# paths of the test bench and runs Windows programs in its prefix.
sys.path.insert(0, str(REPO / "tools" / "lib"))
from harness import BUILD, PREFIX, wine, windows_path  # noqa: E402,F401


def pytest_runtest_logreport(report):
    """With CI's reruns (pytest-rerunfailures), each failure that is run
    again is recorded with its output for tools/lib/test_results.py."""
    log = os.environ.get("GORMEK_RERUN_LOG")
    if log and report.outcome == "rerun":
        with open(log, "a", encoding="utf-8") as f:
            f.write(json.dumps({"test": report.nodeid, "when": report.when,
                                "output": report.longreprtext}) + "\n")


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


def authority(d, stem, name):
    """A throwaway certificate authority STEM.key and STEM.pem in folder d,
    named name; returns a function that runs openssl in d."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=d, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{stem}.key",
            "-out", f"{stem}.pem", "-days", "30", "-subj", f"/CN={name}",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    return openssl


@pytest.fixture(scope="session")
def signed_setup(tmp_path_factory):
    """The release exe signed by tools/sign with a throwaway code-signing
    authority made here: (signed exe, the authority's certificate)."""
    d = tmp_path_factory.mktemp("signing")
    ext = d / "ext.cnf"
    ext.write_text("[leaf]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                   "extendedKeyUsage=codeSigning\n")

    openssl = authority(d, "ca", "GormEk Test Code Signing CA")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "studio.key", "-out",
            "studio.csr", "-subj", "/CN=GormEk Test Studio")
    openssl("x509", "-req", "-in", "studio.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "30", "-out", "studio.pem", "-extfile", str(ext),
            "-extensions", "leaf")
    openssl("pkcs12", "-export", "-inkey", "studio.key", "-in", "studio.pem", "-out",
            "studio.pfx", "-passout", "pass:pfx password")
    signed = d / "GormEkSetup.exe"
    subprocess.run([str(REPO / "tools" / "sign"), "--pfx", str(d / "studio.pfx"), "--url",
                    "https://studio.example/gormek", "--ca", str(d / "ca.pem"), "--no-timestamp",
                    str(BUILD / "GormEkSetup.exe"), str(signed)], check=True,
                   env={**os.environ, "GORMEK_SIGN_PASSWORD": "pfx password"},
                   stdout=subprocess.DEVNULL)
    return signed, d / "ca.pem"
