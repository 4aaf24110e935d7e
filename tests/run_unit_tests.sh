#!/usr/bin/env bash
# Runs the unit test program under Wine: CTest's emulator for it.
#   tests/run_unit_tests.sh PROGRAM [ARGS...]
# Wine now and then fails to start a process at all: it exits at once with
# a failure, before the program's main has run, and prints nothing (seen in
# CTest as "Failed 0.01 sec" with no output; the end-to-end harness meets the
# same with the UI driver). The test program writes "unit_tests: main" to
# stderr as its first act, so such a start is told apart from a test that
# ran: only a run that never reached main is started once more, and says so.
set -uo pipefail
run=$(dirname "$0")/../tools/wine-run
seen=$(mktemp)
trap 'rm -f "$seen"' EXIT
for try in 1 2; do
  : >"$seen"
  "$run" "$@" 2> >(tee "$seen" >&2)
  rc=$?
  wait  # for tee
  if [ "$rc" = 0 ] || grep -q '^unit_tests: main' "$seen"; then
    exit "$rc"
  fi
  echo "run_unit_tests: Wine ended the test program with $rc before its main ran (try $try of 2)" >&2
done
exit "$rc"
