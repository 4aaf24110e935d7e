#!/usr/bin/env bash
# Runs a Windows program in the test prefix with the display at DPI, as Wine
# reads it from the registry (LogPixels), and puts 96 back afterwards:
#   tests/at_dpi.sh DPI PROGRAM [ARGS...]
# The program learns the DPI it should see from GORMEK_EXPECT_DPI.
set -euo pipefail
dpi=$1
shift
run=$(dirname "$0")/../tools/wine-run
key='HKCU\Control Panel\Desktop'
# Every later test expects 96: a value left behind is said, and fails this.
restore() {
  "$run" reg delete "$key" /v LogPixels /f >/dev/null 2>&1 ||
    { echo "at_dpi: could not put LogPixels back" >&2; exit 1; }
}
trap restore EXIT
"$run" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
GORMEK_EXPECT_DPI=$dpi "$run" "$@"
