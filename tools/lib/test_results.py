"""The summary of tools/check: every test that failed in any round, with how
many times, from the JUnit files of CTest and pytest; with CI's reruns, each
test that passed only when run again.

    test_results.py RESULTS_DIR ROUNDS [--reruns]

Files are named SUITE-ROUND.xml; SUITE-ROUND.exit says that the runner itself
failed in that round (a crash, a time-out) even where no test case did. With
--reruns, SUITE-ROUND.log holds CTest's output (CTest's --repeat
until-pass:2 prints each attempt) and SUITE-ROUND.reruns pytest's first
failures (tests/e2e/conftest.py writes them for pytest-rerunfailures). Each
test that needed its rerun is printed as "FLAKY: <test>" with its first
failure's output and listed in flaky-tests.txt beside RESULTS_DIR.
Exit code 1 when anything failed, when more than MAX_FLAKY tests needed a
rerun, or when a first failure was a crash, a hang, or the setup program
ending abnormally: those are never a test's timing."""
import collections
import json
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

MAX_FLAKY = 2
# What a first failure shows when the program, not the timing, failed: Wine's
# line for a crash (tools/lib/env.sh turns its debugger off), the harness's
# ProgramEndedAbnormally, pytest-timeout's and CTest's time-outs.
ABNORMAL = re.compile(r"wine: Unhandled|ProgramEndedAbnormally|Failed: Timeout|\*\*\*Timeout"
                      r"|\*\*\*Exception")


def failed_cases(path):
    """Names of the failed test cases in one JUnit file."""
    names = []
    for case in ET.parse(path).iter("testcase"):
        failed = case.get("status") == "fail" or any(
            child.tag in ("failure", "error") for child in case)
        if failed:
            cls = case.get("classname", "")
            name = case.get("name", "?")
            names.append(f"{cls}::{name}" if cls and cls not in name else name)
    return names


CTEST_RESULT = re.compile(r"^\s*(?:\d+/\d+ )?Test\s+#\d+: (\S+) \.*\s*(\*\*\*)?(.*?)\s+[\d.]+ sec$")
CTEST_START = re.compile(r"^\s+Start\s+\d+: ")


def ctest_reruns(log):
    """{test: its first failure's output} for the tests whose last attempt
    in CTest's output passed after an earlier one failed."""
    attempts = collections.defaultdict(list)  # test -> [(passed, line + output)]
    current = None
    for line in log.read_text(errors="replace").splitlines():
        result = CTEST_RESULT.match(line)
        if result:
            current = [result.group(3) == "Passed" and not result.group(2), [line]]
            attempts[result.group(1)].append(current)
        elif CTEST_START.match(line) or line.startswith(("The following tests", "Total Test")):
            current = None
        elif current is not None:
            current[1].append(line)
    return {test: "\n".join(tries[0][1]) for test, tries in attempts.items()
            if len(tries) > 1 and tries[-1][0] and not tries[0][0]}


def pytest_reruns(path):
    """{test: its first failure's output} from conftest's rerun record."""
    found = {}
    for line in path.read_text(errors="replace").splitlines():
        entry = json.loads(line)
        found.setdefault(entry["test"], entry["output"])
    return found


def flaky_tests(results):
    """{"suite: test": first failure's output} of every rerun."""
    flaky = {}
    for log in sorted(results.glob("*.log")):
        suite = log.stem.rsplit("-", 1)[0]
        for test, output in ctest_reruns(log).items():
            flaky[f"{suite}: {test}"] = output
    for rec in sorted(results.glob("*.reruns")):
        suite = rec.stem.rsplit("-", 1)[0]
        for test, output in pytest_reruns(rec).items():
            flaky[f"{suite}: {test}"] = output
    return flaky


def judge_reruns(results):
    """Prints the reruns; the reasons they fail the run (none: they pass)."""
    flaky = flaky_tests(results)
    (results.parent / "flaky-tests.txt").write_text("".join(f"{t}\n" for t in flaky))
    reasons = []
    for test, output in sorted(flaky.items()):
        print(f"FLAKY: {test}\n{output}\n")
        if ABNORMAL.search(output):
            reasons.append(f"{test}: its first failure was not a test's timing "
                           "(a crash, a hang or an abnormal end); never passed by a rerun")
    if len(flaky) > MAX_FLAKY:
        reasons.append(f"{len(flaky)} tests needed a rerun (at most {MAX_FLAKY} may)")
    return reasons


def main():
    results, rounds = pathlib.Path(sys.argv[1]), int(sys.argv[2])
    counts = collections.Counter()
    runs = 0
    for xml in sorted(results.glob("*.xml")):
        suite = xml.stem.rsplit("-", 1)[0]
        runs += 1
        try:
            for name in failed_cases(xml):
                counts[f"{suite}: {name}"] += 1
        except ET.ParseError:
            counts[f"{suite}: (its results could not be read)"] += 1
    for exit_file in sorted(results.glob("*.exit")):
        suite = exit_file.stem.rsplit("-", 1)[0]
        if not any(k.startswith(f"{suite}: ") for k in counts):
            counts[f"{suite}: {exit_file.read_text().strip()}"] += 1
    if not counts and runs < 3 * rounds:
        counts["(a round wrote no results)"] += 1
    reasons = judge_reruns(results) if "--reruns" in sys.argv[3:] else []
    word = "round" if rounds == 1 else "rounds"
    for reason in reasons:
        print(f"check: {reason}")
    if not counts:
        print(f"check: every test passed in {rounds} {word}")
        return 1 if reasons else 0
    print(f"check: failures in {rounds} {word}:")
    for name, n in sorted(counts.items()):
        print(f"  {n} of {rounds}  {name}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
