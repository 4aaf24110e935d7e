"""The summary of tools/check: every test that failed in any round, with how
many times, from the JUnit files of CTest and pytest.

    test_results.py RESULTS_DIR ROUNDS

Files are named SUITE-ROUND.xml; SUITE-ROUND.exit says that the runner itself
failed in that round (a crash, a time-out) even where no test case did.
Exit code 1 when anything failed."""
import collections
import pathlib
import sys
import xml.etree.ElementTree as ET


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
    word = "round" if rounds == 1 else "rounds"
    if not counts:
        print(f"check: every test passed in {rounds} {word}")
        return 0
    print(f"check: failures in {rounds} {word}:")
    for name, n in sorted(counts.items()):
        print(f"  {n} of {rounds}  {name}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
