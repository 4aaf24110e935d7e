"""The record of processes the project's scripts start (tools/leftovers checks
that none of them outlives its script).

Each line of the file named by GORMEK_STARTED is "pid start-time name"; the
start time (field 22 of /proc/PID/stat) tells a process from a later one
that got the same id. Without GORMEK_STARTED nothing is recorded."""
import os
import sys


def start_time(pid):
    """The process's start time in clock ticks, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read().decode("ascii", "replace")
    except OSError:
        return None
    # The name in parentheses may hold spaces; the fields follow its ")".
    fields = stat[stat.rindex(")") + 2:].split()
    # A zombie has ended; only its parent has not collected it yet.
    return None if fields[0] == "Z" else fields[19]


def record(pid, name):
    path = os.environ.get("GORMEK_STARTED")
    started = start_time(pid)
    if not path or started is None:
        return
    with open(path, "a") as f:
        f.write(f"{pid} {started} {name}\n")


def wait_gone(pids, timeout=10):
    """Waits until none of the processes runs (a zombie has ended); True
    when they all ended within timeout seconds."""
    import time
    deadline = time.monotonic() + timeout
    while any(start_time(p) is not None for p in pids):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def write_pid_file(path, pid):
    """Writes "pid start-time" for a process this run started, so that a
    later stop signals it only while it is still that process."""
    started = start_time(pid)
    tmp = f"{path}.tmp"
    with open(tmp, "w") as f:
        f.write(f"{pid} {started}\n")
    os.replace(tmp, path)


def owner_of_pid_file(path):
    """The pid a pid file names when that process still runs with the start
    time recorded beside it; None for a missing, stale or foreign file (one
    that holds a pid alone, as an old run or another program wrote it)."""
    try:
        fields = open(path).read().split()
        pid, started = int(fields[0]), fields[1]
    except (OSError, ValueError, IndexError):
        return None
    return pid if start_time(pid) == started else None


def ancestors():
    """This process and its parents, up to init."""
    pid, seen = os.getpid(), set()
    while pid > 0 and pid not in seen:
        seen.add(pid)
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                stat = f.read().decode("ascii", "replace")
            pid = int(stat[stat.rindex(")") + 2:].split()[1])
        except (OSError, ValueError):
            break
    return seen


def wine_pids(run):
    """The Wine processes (their executable is one of Wine's: the server,
    the loader that runs Windows programs) whose environment carries the
    run's mark GORMEK_RUN=run, never this process or its parents."""
    mark = f"GORMEK_RUN={run}".encode()
    mine = ancestors()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) in mine:
            continue
        try:
            exe = os.path.basename(os.readlink(f"/proc/{entry}/exe"))
            with open(f"/proc/{entry}/environ", "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if exe.startswith("wine") and mark in environ:
            found.append(int(entry))
    return found


def leftovers(path):
    """The recorded processes that still run: (pid, name)."""
    alive = []
    try:
        lines = open(path).read().splitlines()
    except OSError:
        return alive
    for line in lines:
        pid, started, name = line.split(" ", 2)
        if start_time(int(pid)) == started:
            alive.append((int(pid), name))
    return alive


def children():
    """{parent pid: [child pids]} of every process now."""
    tree = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read().decode("ascii", "replace")
        except OSError:
            continue
        tree.setdefault(int(stat[stat.rindex(")") + 2:].split()[1]), []).append(int(entry))
    return tree


def print_tree(pid, tree=None, depth=0):
    """The process and its descendants, one indented command line each."""
    tree = children() if tree is None else tree
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            argv = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
    except OSError:
        return
    print(f"{'  ' * depth}{pid} {argv[:200]}")
    for child in sorted(tree.get(pid, [])):
        print_tree(child, tree, depth + 1)


def end(path):
    """Ends the recorded processes that still run (TERM, then KILL)."""
    import signal
    import time
    for sig in (signal.SIGTERM, signal.SIGKILL):
        left = leftovers(path)
        for pid, _ in left:
            try:
                os.kill(pid, sig)
            except OSError:
                pass
        for _ in range(50):
            if not leftovers(path):
                return
            time.sleep(0.1)


if __name__ == "__main__":
    # started.py record PID NAME | started.py check FILE
    # started.py pid-file FILE PID | started.py owner FILE (prints the pid;
    # exit 1 when the file names no process of ours) | started.py wine-pids RUN
    # started.py tree PID | started.py end FILE
    if sys.argv[1] == "record":
        record(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "pid-file":
        write_pid_file(sys.argv[2], int(sys.argv[3]))
    elif sys.argv[1] == "tree":
        print_tree(int(sys.argv[2]))
    elif sys.argv[1] == "end":
        end(sys.argv[2])
    elif sys.argv[1] == "wine-pids":
        print("\n".join(str(p) for p in wine_pids(sys.argv[2])))
    elif sys.argv[1] == "owner":
        owner = owner_of_pid_file(sys.argv[2])
        if owner is None:
            sys.exit(1)
        print(owner)
    else:
        left = leftovers(sys.argv[2])
        for pid, name in left:
            print(f"leftovers: {name} (pid {pid}) is still running")
        sys.exit(1 if left else 0)
