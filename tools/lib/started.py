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


if __name__ == "__main__":
    # started.py record PID NAME | started.py check FILE
    if sys.argv[1] == "record":
        record(int(sys.argv[2]), sys.argv[3])
    else:
        left = leftovers(sys.argv[2])
        for pid, name in left:
            print(f"leftovers: {name} (pid {pid}) is still running")
        sys.exit(1 if left else 0)
