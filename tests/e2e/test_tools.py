"""The test bench's own tools touch only what they started: stale pid files,
a developer's shell with WINEPREFIX exported, and a step that hangs in CI."""
import json
import os
import subprocess
import sys
import time

from conftest import REPO

sys.path.insert(0, str(REPO / "tools" / "lib"))
import started  # noqa: E402


def alive(proc):
    return proc.poll() is None


def test_stale_pid_files_and_a_shell_with_the_prefix_end_nothing(tmp_path):
    """A live process the tools did not start, named by every kind of stale
    pid file the stops read and carrying the prefix in its environment as a
    developer's shell would, survives every stop and clean-up that
    tools/check and tools/demo run at their exit."""
    # A prefix of its own, so that the clean-up's wineserver -k finds no
    # server and leaves this session's alone.
    prefix = tmp_path / "prefix"
    bystander = subprocess.Popen(["sleep", "300"],
                                 env={**os.environ, "WINEPREFIX": str(prefix)})
    try:
        pid = bystander.pid
        https = tmp_path / "https"
        https.mkdir()
        # Written by an older tool (a pid alone), and for a process that
        # ended, its pid since given to another (a start time that differs).
        (https / "nginx.pid").write_text(f"{pid}\n")
        (https / "nginx.owner").write_text(f"{pid} 1\n")
        (https / "fault-site.pid").write_text(f"{pid}\n")
        (https / "tls-site.pid").write_text(f"{pid} 1\n")
        env = {**os.environ, "GORMEK_HTTPS_DIR": str(https)}
        subprocess.run([str(REPO / "tools" / "https-site"), "stop"], env=env, check=True)
        for text in (f"{pid}\n", f"{pid} 1\n"):
            (tmp_path / "site.pid").write_text(text)
            subprocess.run([str(REPO / "tools" / "site"), "--stop", str(tmp_path / "site.pid")])
        # A run of its own ends its Wine processes, not a shell that only has
        # WINEPREFIX exported (tools/check's exit trap).
        subprocess.run(["bash", "-c", '. "$1"; gormek_end_prefix_processes', "end",
                        str(REPO / "tools" / "lib" / "env.sh")],
                       env={**os.environ, "GORMEK_RUN": "another-run",
                            "GORMEK_PREFIX": str(prefix)}, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)
        assert alive(bystander)
        # The same pid file written for the process itself does stop it.
        started.write_pid_file(str(tmp_path / "site.pid"), pid)
        subprocess.run([str(REPO / "tools" / "site"), "--stop", str(tmp_path / "site.pid")])
        assert bystander.wait(timeout=10) != 0
    finally:
        bystander.kill()
        bystander.wait()


def test_a_step_that_hangs_is_ended_in_bounded_time(tmp_path):
    """What .ci/run wraps each step in: past the limit, the step's processes
    are listed and ended, and the step fails with 124."""
    marker = tmp_path / "never"
    begin = time.monotonic()
    result = subprocess.run(
        [str(REPO / "tools" / "lib" / "time-limit"), "2", "bash", "-c",
         f"sleep 300 & sleep 301; touch {marker}"],
        env={**os.environ, "GORMEK_STARTED": str(tmp_path / "started"),
             "GORMEK_PREFIX": str(tmp_path / "prefix"), "GORMEK_RUN": "another-run"},
        capture_output=True, text=True, timeout=120)
    took = time.monotonic() - begin
    assert result.returncode == 124, result.stderr
    assert took < 60
    assert "sleep 300" in result.stderr and "sleep 301" in result.stderr
    assert "was ended after 2 s" in result.stderr
    assert not marker.exists()
    left = subprocess.run(["pgrep", "-f", "^sleep 30[01]$"], capture_output=True)
    assert left.returncode == 1, left.stdout


# A stand-in for Wine: each run appends a line to `runs`, then acts as told
# by the file `plan` (one line per run: what it prints and its exit code).
FAKE_WINE = """#!/bin/bash
echo run >>"$RUNS"
n=$(wc -l <"$RUNS")
line=$(sed -n "${n}p" "$PLAN")
[ -n "${line% *}" ] && [ "${line% *}" != - ] && echo "${line% *}" >&2
exit "${line##* }"
"""


def test_a_program_that_wine_did_not_start_runs_once_more(tmp_path):
    """gormek_wine (behind tools/wine-run and every Wine start of the tools)
    runs a program again only when it ended with 1 without a word."""
    (tmp_path / "wine").write_text(FAKE_WINE)
    (tmp_path / "wine").chmod(0o755)
    cases = [  # (plan, runs, exit code, what the caller read)
        (["- 1", "ran 0"], 2, 0, "ran"),         # never started, then ran
        (["- 1", "- 1"], 2, 1, ""),              # twice: that is the answer
        (["failed 1", "ran 0"], 1, 1, "failed"),  # ran and said why
        (["- 137", "ran 0"], 1, 137, ""),        # killed
        (["- 0", "ran 0"], 1, 0, ""),            # ran silently and succeeded
    ]
    for plan, runs, code, said in cases:
        (tmp_path / "runs").unlink(missing_ok=True)
        (tmp_path / "plan").write_text("\n".join(plan) + "\n")
        result = subprocess.run(
            ["bash", "-c", '. "$1"; gormek_wine prog.exe', "x",
             str(REPO / "tools" / "lib" / "env.sh")],
            env={**os.environ, "PATH": f"{tmp_path}:{os.environ['PATH']}",
                 "RUNS": str(tmp_path / "runs"), "PLAN": str(tmp_path / "plan")},
            capture_output=True, text=True, timeout=60)
        assert len((tmp_path / "runs").read_text().splitlines()) == runs, plan
        assert result.returncode == code, plan
        assert said in result.stderr, (plan, result.stderr)


def ctest_attempts(name, *results):
    """CTest's output for one test's attempts, as --repeat until-pass prints
    them: (status, output) each."""
    lines = []
    for status, output in results:
        lines += [f"    Start 1: {name}", f"1/1 Test #1: {name} ......{status}    0.50 sec",
                  output, ""]
    return "\n".join(lines) + "\n"


PASSED_XML = '<testsuite><testcase name="A.B" classname="A.B" status="run"/></testsuite>'
FAILED_XML = ('<testsuite><testcase name="A.B" classname="A.B" status="fail">'
              '<failure message=""/></testcase></testsuite>')


def test_ci_tells_a_flaky_test_from_a_fault(tmp_path):
    """What .ci/run's reruns let pass: one or two tests whose first failure
    was an ordinary one. A rerun that fails too, a first failure that was a
    crash, and a third flaky test all fail the run."""
    flaky = ctest_attempts("A.B", ("***Failed", "[  FAILED  ] A.B"), ("   Passed", ""))
    crashed = ctest_attempts("A.B", ("***Failed", "wine: Unhandled page fault"),
                             ("   Passed", ""))
    cases = [  # (CTest's output, its JUnit file, pytest's reruns, exit code)
        (flaky, PASSED_XML, [], 0),
        (flaky, FAILED_XML, [], 1),
        (crashed, PASSED_XML, [], 1),
        (flaky, PASSED_XML, ["t.py::a", "t.py::b"], 1),
        (flaky, PASSED_XML, [("t.py::a", "harness.ProgramEndedAbnormally: x")], 1),
    ]
    script = REPO / "tools" / "lib" / "test_results.py"
    for log, xml, reruns, code in cases:
        results = tmp_path / "results"
        results.mkdir(exist_ok=True)
        (results / "gcc-1.log").write_text(log)
        for suite in ("gcc", "clang", "e2e"):
            (results / f"{suite}-1.xml").write_text(xml if suite == "gcc" else PASSED_XML)
        (results / "e2e-1.reruns").write_text("".join(
            json.dumps({"test": r if isinstance(r, str) else r[0], "when": "call",
                        "output": "AssertionError" if isinstance(r, str) else r[1]}) + "\n"
            for r in reruns))
        result = subprocess.run([sys.executable, str(script), str(results), "1", "--reruns"],
                                capture_output=True, text=True)
        assert result.returncode == code, (log, xml, reruns, result.stdout)
        assert "FLAKY: gcc: A.B" in result.stdout
        assert "gcc: A.B" in (tmp_path / "flaky-tests.txt").read_text()
