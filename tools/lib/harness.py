"""Drives the real GormEkSetup.exe under Wine: a local download site with the
sample game, the UI driver, and the prefix's files and registry. Used by the
end-to-end tests (tests/e2e) and by the demo, the bench and the screenshots."""
import json
import os
import pathlib
import pwd
import shutil
import signal
import subprocess
import time
import urllib.parse
import urllib.request
import zipfile

import sys

REPO = pathlib.Path(__file__).resolve().parents[2]
PREFIX = pathlib.Path(os.environ.get("GORMEK_PREFIX", REPO / "build" / "wine-prefix"))
BUILD = REPO / "build" / "release"
# Every Wine process a run starts carries one run's mark (tools/check and
# the other scripts pass their own on); the clean-up ends only processes
# that carry it.
os.environ.setdefault("GORMEK_RUN", f"python-{os.getpid()}")

sys.path.insert(0, str(REPO / "tools" / "lib"))
import started  # noqa: E402  (which processes are this run's)


def windows_path(path):
    """The Windows view of a Unix path: Wine maps / to drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def run(args, stdout, stderr, timeout, cwd=None):
    """Runs a command (tools/wine-run and a Windows program) in a process
    group of its own; returns its exit code. Past the timeout the whole
    group ends, Wine's process with it, before TimeoutExpired is raised."""
    proc = subprocess.Popen([str(a) for a in args], stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=stderr, cwd=cwd,
                            start_new_session=True)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        end_group(proc)
        raise


def windows_pid(proc):
    """The Unix pid of the Windows program that tools/wine-run (started as
    proc) runs: its child that Wine's loader became."""
    for child in started.children().get(proc.pid, []):
        try:
            if os.path.basename(os.readlink(f"/proc/{child}/exe")).startswith("wine"):
                return child
        except OSError:
            continue
    return None


def end_group(proc):
    """Ends a process started with a group of its own, and what it started
    in it, and waits for it."""
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except OSError:
        pass
    proc.wait()


def wine(*args, timeout=120, cwd=None):
    """Runs a Windows program in the test prefix (tools/wine-run, which runs
    it once more when Wine did not start it); returns its exit code.

    Output goes to files, never pipes: Wine's helper processes can inherit
    pipes and keep a reader waiting."""
    log = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / f"gormek-wine-{os.getpid()}.log"
    with open(log, "ab") as out:
        return run([WINE_RUN, *args], out, out, timeout, cwd)


def set_temp(folder="%USERPROFILE%\\Temp"):
    """Points the user's TEMP and TMP at folder (the prefix's own, by
    default) for the programs started from now on. Every later test relies
    on the default coming back, so a failure is never ignored."""
    for name in ("TEMP", "TMP"):
        assert wine("reg", "add", "HKCU\\Environment", "/v", name, "/t", "REG_EXPAND_SZ",
                    "/d", folder, "/f") == 0, f"{name} could not be set to {folder}"


def set_dpi(dpi=None):
    """The display's DPI for the programs started from now on (Wine reads
    LogPixels); None puts 96, the default, back."""
    key = "HKCU\\Control Panel\\Desktop"
    if dpi is None:
        assert wine("reg", "delete", key, "/v", "LogPixels", "/f") == 0, "LogPixels stays"
    else:
        assert wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi),
                    "/f") == 0, f"LogPixels could not be set to {dpi}"


WINE_RUN = REPO / "tools" / "wine-run"
SETUP_EXE = BUILD / "GormEkSetup.exe"
# The same program built with https://localhost:47443/ as its download site.
SETUP_EXE_HTTPS = REPO / "build" / "players-path" / "GormEkSetup.exe"
DRIVER = BUILD / "tools" / "ui_driver.exe"
GAME_EXE = BUILD / "sample" / "Gorm Ek.exe"
USER = PREFIX / "drive_c" / "users" / pwd.getpwuid(os.getuid()).pw_name
LOGS = pathlib.Path(os.environ.get("GORMEK_E2E_LOGS", BUILD / "e2e-logs"))

# Control ids of the setup window.
IDC_BROWSE, IDC_INSTALL, IDC_CANCEL = 101, 102, 103
IDOK, IDYES, IDNO = 1, 6, 7


def unix_path(win):
    """The prefix's Unix path for a C: path, or the Z: mapping."""
    if win[:2].upper() == "Z:":
        return pathlib.Path(win[2:].replace("\\", "/"))
    assert win[:2].upper() == "C:", win
    return PREFIX / "drive_c" / win[3:].replace("\\", "/")


class DriverError(AssertionError):
    pass


def driver_args(commands):
    """ui_driver's command line for commands (each a list)."""
    args = []
    for c in commands:
        args += (["--"] if args else []) + [str(a) for a in c]
    return args


def driver(*commands, timeout=90):
    """Runs ui_driver with commands (each a list) and returns its JSON lines.

    Raises DriverError when a command fails."""
    args = driver_args(commands)
    LOGS.mkdir(parents=True, exist_ok=True)
    out_file = LOGS / f"driver-{os.getpid()}.out"
    err_file = LOGS / f"driver-{os.getpid()}.err"
    with open(out_file, "wb") as out, open(err_file, "ab") as err:
        rc = run([WINE_RUN, DRIVER, *args], out, err, timeout)
    text = out_file.read_text(encoding="utf-8", errors="replace")
    lines = [json.loads(l) for l in text.splitlines() if l.startswith(("{", "["))]
    if rc != 0:
        raise DriverError(f"ui_driver {args}: rc {rc}: {lines}")
    return lines


def one(*command, timeout=90):
    return driver(command, timeout=timeout)[-1]


class ProgramEndedAbnormally(AssertionError):
    """The setup program crashed or ended with a code other than 0, which it
    returns on every path: a fault of the program, never of a test's timing
    (a rerun in CI does not pass a test whose first failure was one)."""


# What Wine writes when a program crashes (tools/lib/env.sh turns its
# debugger off, so the program then ends).
CRASH_MARK = b"wine: Unhandled"


class SetupProcess:
    """GormEkSetup.exe (or another exe) running under Wine."""

    def __init__(self, *args, exe=SETUP_EXE, env=None, cwd=None):
        """cwd: a Unix folder of the prefix's drive C:, which Wine gives the
        program as its current directory."""
        LOGS.mkdir(parents=True, exist_ok=True)
        self.exe = pathlib.Path(exe)
        self.log = open(LOGS / f"setup-{time.time_ns()}.log", "wb")
        self.proc = subprocess.Popen([str(WINE_RUN), str(exe), *map(str, args)],
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=self.log, env=env, cwd=cwd,
                                     start_new_session=True)

    def output(self):
        self.log.flush()
        return pathlib.Path(self.log.name).read_bytes()

    def wait(self, timeout=60):
        """The exit code. For the setup program (whatever its copy is named)
        a crash or a code other than 0 raises ProgramEndedAbnormally."""
        try:
            rc = self.proc.wait(timeout=timeout)
        finally:
            self.log.close()
        crashed = CRASH_MARK in pathlib.Path(self.log.name).read_bytes()
        if self.exe.name.lower().startswith("gormeksetup") and (rc != 0 or crashed):
            raise ProgramEndedAbnormally(
                f"{self.exe.name} ended abnormally with exit code {rc}: "
                + pathlib.Path(self.log.name).read_text(errors="replace")[-2000:])
        return rc

    def kill(self):
        """Ends the program and waits until it has ended."""
        if self.proc.poll() is None:
            end_group(self.proc)
        self.log.close()


def controls():
    """The setup window's controls, in creation order."""
    return one("controls")


def control(items, cls=None, text=None, id=None):
    for c in items:
        if (cls is None or c["class"].lower() == cls.lower()) and \
           (text is None or c["text"] == text) and (id is None or c["id"] == id):
            return c
    raise AssertionError(f"no control {cls} {text} {id} in {items}")


def watch(timeout_ms=60000):
    """Status lines, bar positions and the end (window gone or a box)."""
    return driver(["watch", timeout_ms], timeout=timeout_ms / 1000 + 30)


def click_and_watch(control_id, timeout_ms=60000):
    """Clicks and starts watching in one driver process, so that no early
    status line is missed while a second process would start."""
    return driver(["click", control_id], ["watch", timeout_ms],
                  timeout=timeout_ms / 1000 + 30)[1:]


def statuses(events):
    """The status lines seen, without the empty line of an idle window that a
    watch may read before the first line arrives."""
    lines = [e["status"] for e in events if "status" in e]
    return lines[1:] if lines[:1] == [""] else lines


def time_after(events, line):
    """The system tick (the clock every Wine process shares) at which the
    window had moved on from the status `line`: the next status line or box
    after its last showing. A quick step's line can pass between two looks,
    so whichever comes next counts."""
    last = max(i for i, e in enumerate(events) if e.get("status") == line)
    return next(e["tick"] for e in events[last + 1:] if "status" in e or "box" in e)


class Watch:
    """A click and a watch in one driver process, running in the background,
    so that a test can act (release a held answer) once a line was seen."""

    def __init__(self, *before, timeout_ms=60000):
        """before: driver commands to run first (["click", id], ...)."""
        LOGS.mkdir(parents=True, exist_ok=True)
        self.out_file = LOGS / f"watch-{time.time_ns()}.out"
        self.skip = len(before)
        self.out = open(self.out_file, "wb")
        self.proc = subprocess.Popen([str(WINE_RUN), str(DRIVER),
                                      *driver_args([*before, ["watch", timeout_ms]])],
                                     stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        self.timeout = timeout_ms / 1000 + 30

    def lines(self):
        """The driver's lines so far (a line still being written waits)."""
        text = self.out_file.read_text(encoding="utf-8", errors="replace")
        text = text[:text.rfind("\n") + 1]
        return [json.loads(l) for l in text.splitlines() if l.startswith(("{", "["))]

    def events(self):
        return self.lines()[self.skip:]

    def wait_for(self, predicate, timeout=60):
        """Waits until a seen event matches; the watch must not end first."""
        def seen():
            if any(predicate(e) for e in self.events()):
                return True
            assert self.proc.poll() is None, f"the watch ended first: {self.lines()}"
            return False
        assert wait_until(seen, timeout=timeout, step=0.05), self.lines()

    def wait_for_status(self, prefix, timeout=60):
        self.wait_for(lambda e: e.get("status", "").startswith(prefix), timeout)

    def end(self):
        """The events once the watch has ended (window gone, a box, done)."""
        try:
            rc = self.proc.wait(timeout=self.timeout)
        except subprocess.TimeoutExpired:
            end_group(self.proc)
            raise
        finally:
            self.out.close()
        if rc != 0:
            raise DriverError(f"watch: rc {rc}: {self.lines()}")
        return self.events()


class Site:
    """A download site folder served by tools/site on 127.0.0.1."""

    def __init__(self, root: pathlib.Path):
        self.root = root
        self.dir = root / "site"
        self.dir.mkdir(parents=True, exist_ok=True)
        self.pid_file = root / "site.pid"
        self.port = 0
        self.start()
        self.url = f"http://127.0.0.1:{self.port}/"

    def start(self):
        """Starts serving (again, on the same port once it has one)."""
        port_file = self.root / "site.port"
        port_file.unlink(missing_ok=True)
        subprocess.run([str(REPO / "tools" / "site"), str(self.dir), "--port", str(self.port),
                        "--port-file", str(port_file), "--log", str(self.root / "requests.log"),
                        "--detach", "--pid-file", str(self.pid_file)], check=True)
        self.port = int(port_file.read_text())

    def stop(self):
        subprocess.run([str(REPO / "tools" / "site"), "--stop", str(self.pid_file)])

    def release(self, name):
        """Lets the answers of the file that a hold-N fault holds go on: those
        held now and those to come, until the file's faults are set again."""
        query = urllib.parse.urlencode({"file": name})
        urllib.request.urlopen(f"{self.url}_control/release?{query}", timeout=30).read()

    def fault(self, name, faults):
        query = urllib.parse.urlencode({"file": name, "fault": faults})
        urllib.request.urlopen(f"{self.url}_control/set?{query}").read()

    def clear_faults(self):
        urllib.request.urlopen(f"{self.url}_control/clear").read()

    def publish_game(self, version, extra=None, name="game", hand_on_site=True):
        """Publishes the sample game (plus extra {relpath: bytes}) as version.
        With hand_on_site the game passes this site on with "/site" when it
        starts an update; without, the setup program's built-in site is used."""
        game = self.root / f"{name}-{version}"
        if game.exists():
            shutil.rmtree(game)
        game.mkdir(parents=True)
        shutil.copy(GAME_EXE, game / "Gorm Ek.exe")
        (game / "game-version.txt").write_text(f"{version}\n")
        # The sample game hands this site on when it starts an update.
        if hand_on_site:
            (game / "site.txt").write_text(self.url + "\n")
        (game / "data").mkdir()
        (game / "data" / "level 1.dat").write_bytes(bytes(range(256)) * 40)
        for rel, data in (extra or {}).items():
            p = game / rel
            p.parent.mkdir(parents=True, exist_ok=True)
            p.write_bytes(data)
        subprocess.run([str(REPO / "tools" / "publish"), str(game), str(version), str(self.dir)],
                       check=True, stdout=subprocess.DEVNULL)
        return game

    def write_package(self, version, files):
        """A package written by hand ({name: bytes}), for broken packages."""
        path = self.dir / ("GormEk-%04d.zip" % version)
        with zipfile.ZipFile(path, "w") as z:
            for rel, data in files.items():
                z.writestr(rel, data)
        (self.dir / "version.txt").write_text(f"{version}\n")

    def package_traffic(self, version):
        """(requests of the package, body bytes sent for them, its size)."""
        name = "GormEk-%04d.zip" % version
        reqs = [r for r in self.requests() if r["path"].endswith("/" + name)]
        return reqs, sum(r["sent"] for r in reqs), (self.dir / name).stat().st_size

    def requests(self):
        """The site's log; first waits for answers still being sent, whose
        lines come after the client has had the last byte."""
        log = self.root / "requests.log"
        if not log.exists():
            return []
        urllib.request.urlopen(f"{self.url}_control/idle", timeout=60).read()
        return [json.loads(l) for l in log.read_text().splitlines()]


class HttpsSite(Site):
    """The folder that tools/https-site serves with nginx over HTTPS at
    https://localhost:47443/, the site built into SETUP_EXE_HTTPS. nginx
    must be running (tools/check starts it for the end-to-end tests)."""

    URL = "https://localhost:47443/"
    FAULTS = "https://localhost:47449/"   # tools/site behind nginx
    ROOT = REPO / "build" / "https"

    def __init__(self, root: pathlib.Path):
        self.root = root
        self.dir = self.ROOT / "site"
        self.fault_dir = self.ROOT / "fault-site"
        for d in (self.dir, self.fault_dir):
            if d.exists():
                shutil.rmtree(d)
            d.mkdir(parents=True)
            d.chmod(0o755)  # nginx's workers read as nobody
        self.url = self.URL

    def publish_both(self, version, extra=None):
        """Publishes the game without handing on a site, to the good site and
        to the one behind the fault proxy."""
        game = self.publish_game(version, extra=extra, hand_on_site=False)
        for f in self.dir.iterdir():
            shutil.copy(f, self.fault_dir / f.name)
        return game


def temp_dir():
    return USER / "Temp"


def game_log():
    p = temp_dir() / "GormEk-game-log.txt"
    return p.read_text(encoding="utf-8") if p.exists() else ""


def wait_until(predicate, timeout=20, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def prefix_processes():
    """(Unix pid, argv) of Wine's processes of this run (tools/lib/started.py
    tells them by the run's mark, never the calling shell)."""
    for pid in started.wine_pids(os.environ["GORMEK_RUN"]):
        try:
            cmdline = pathlib.Path(f"/proc/{pid}/cmdline").read_bytes()
        except OSError:
            continue
        yield pid, [a.decode("utf-8", "replace") for a in cmdline.split(b"\0") if a]


def kill_windows_processes(*names):
    """Ends leftover Windows processes of this test prefix (and no other)
    whose command line holds one of names, and waits until they have ended:
    the next test must not meet them."""
    pids = [pid for pid, argv in prefix_processes()
            if any(n in a for n in names for a in argv)]
    for pid in pids:
        try:
            os.kill(pid, 9)
        except OSError:
            pass
    assert started.wait_gone(pids, timeout=30), f"still running: {pids}"


def end_prefix_processes():
    """Records (for tools/leftovers) and ends every process of the prefix:
    Wine's server, its helpers and whatever program still runs."""
    subprocess.run(["bash", "-c", '. "$1"; gormek_end_prefix_processes', "end",
                    str(REPO / "tools" / "lib" / "env.sh")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wine_processes(fragment):
    """Command lines of this prefix's processes that hold fragment."""
    return [argv for _, argv in prefix_processes() if any(fragment in a for a in argv)]


def install_through_window(site, folder, start_menu=True, desktop=True):
    """Installs the site's newest version into folder (+ "\\Gorm Ek") by
    driving the window; returns the install folder."""
    proc = SetupProcess("/site", site.url)
    one("wait-window", 30000)
    items = one("controls")
    one("set-text", items[2]["index"], folder)
    one("set-check", 4, 1 if start_menu else 0)
    one("set-check", 5, 1 if desktop else 0)
    one("set-check", 6, 0)
    one("click", IDC_INSTALL)
    events = watch(60000)
    assert events[-1].get("finished"), events
    one("click", IDC_INSTALL)
    one("wait-gone", 10000)
    assert proc.wait() == 0
    return folder + "\\Gorm Ek"


def differences_from_package(folder, package):
    """The entries of the zip package whose file in folder (a Unix path) is
    missing or holds other bytes."""
    differ = []
    with zipfile.ZipFile(package) as z:
        for info in z.infolist():
            if info.is_dir():
                continue
            path = pathlib.Path(folder) / info.filename
            if not path.is_file() or path.read_bytes() != z.read(info):
                differ.append(info.filename)
    return differ
