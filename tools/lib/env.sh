# Shared paths and Wine settings for the project's scripts. Source it; it
# only sets variables. Every Wine call of the tools and tests runs with
# these, so nothing ever touches the host user's home or ~/.wine.
GORMEK_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export GORMEK_REPO
# Built tools that outlive the work tree (the Windows build of bsdtar).
export GORMEK_CACHE=${GORMEK_CACHE:-/var/cache/gormek-testbench}
# The throwaway prefix of this work tree's test runs.
export GORMEK_PREFIX=${GORMEK_PREFIX:-$GORMEK_REPO/build/wine-prefix}
# The record of the processes the scripts start (tools/leftovers).
export GORMEK_STARTED=${GORMEK_STARTED:-$GORMEK_REPO/build/started-processes}
# The mark of this run: the first script of a run sets it, everything it
# starts inherits it, and the clean-up ends only Wine's processes that carry
# it. WINEPREFIX would not do: a developer's shell may have it exported.
export GORMEK_RUN=${GORMEK_RUN:-run-$$-$(date +%s%N)}

gormek_wine_env() {
  export WINEPREFIX=$GORMEK_PREFIX
  export WINEDEBUG=${GORMEK_WINEDEBUG:--all}
  # No crash debugger: a program that crashes ends at once with the
  # exception's code and Wine's line "wine: Unhandled ..." on stderr, where
  # winedbg --auto would wait without end under the null display driver.
  export WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree=d;mshtml=d;winedbg.exe=d'
  export HOME=$GORMEK_PREFIX/home
  export WINEARCH=win64
  # Wine turns Windows file names into Unix ones with the locale's character
  # set: without a UTF-8 locale (a bare CI shell) no name outside ASCII can
  # be created, and the tests use such names on purpose.
  export LC_ALL=C.UTF-8
}

# The Windows user folder of the prefix (Wine names it after the Unix user).
gormek_user_dir() {
  echo "$GORMEK_PREFIX/drive_c/users/$(id -un)"
}

# Starts one persistent wineserver for the prefix unless one runs: a cold
# start per test costs seconds. When it starts here, Wine's helper processes
# (services, devices) come up too, with every standard stream closed, or they
# would inherit the caller's pipes and keep whoever reads them (CTest, pytest)
# waiting. Call after gormek_wine_env.
gormek_start_wineserver() {
  if wineserver -p >/dev/null 2>&1 </dev/null; then
    gormek_wine wineboot >/dev/null 2>&1 </dev/null || true
    # Keeps the desktop process alive between test programs.
    if [ -f "$GORMEK_CACHE/keep_desktop.exe" ]; then
      (setsid wine "$GORMEK_CACHE/keep_desktop.exe" >/dev/null 2>&1 </dev/null &)
    fi
    gormek_record_prefix_processes
  fi
}

# Runs a Windows program under Wine (after gormek_wine_env) and returns its
# exit code. Now and then Wine fails to start a process at all: it exits
# with 1 before the program ran, without a word. Such a run is started once
# more, and says so on stderr. Every program the project runs under Wine says
# why when it fails (reg, tar.exe, the UI driver, the test programs) or exits
# with 0 on every path (the setup program), so a program that ran and failed
# is never run again; nor is one that was killed (exit 137 and the like).
# The program writes into files of its own, copied to this shell's stdout and
# stderr as they grow: that is how its silence is measured, and Wine's
# helper processes never inherit the caller's pipes.
gormek_wine() {
  local dir try rc=1 pid out err tails
  dir=$(mktemp -d "${TMPDIR:-/tmp}/gormek-wine.XXXXXX") || return 125
  # A signal to this shell goes on to the program (the tails end with it).
  trap 'kill -TERM "$pid" 2>/dev/null' TERM INT HUP
  for try in 1 2; do
    out=$dir/out.$try err=$dir/err.$try
    : >"$out"
    : >"$err"
    wine "$@" <&0 >"$out" 2>"$err" &
    pid=$!
    tail -q -s 0.02 -c +1 --pid="$pid" -f "$out" &
    tails=$!
    tail -q -s 0.02 -c +1 --pid="$pid" -f "$err" >&2 &
    tails="$tails $!"
    # wait returns early when a trapped signal comes: wait again until the
    # program has ended.
    while :; do
      wait "$pid"
      rc=$?
      kill -0 "$pid" 2>/dev/null || break
    done
    wait $tails  # they end with the program, once they have copied all
    if [ "$rc" != 1 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$try" = 2 ]; then
      break
    fi
    echo "wine-run: Wine ended $1 with 1 before it wrote a word: it never ran; starting it once more" >&2
  done
  trap - TERM INT HUP
  rm -rf "$dir"
  return "$rc"
}

# Records one started process (pid, name) for tools/leftovers.
gormek_record_started() {
  [ -n "${GORMEK_STARTED:-}" ] && [ -d "$(dirname "$GORMEK_STARTED")" ] || return 0
  /usr/bin/python3 "$GORMEK_REPO/tools/lib/started.py" record "$1" "$2" || true
}

# The ids of Wine's processes (the server, its helpers, Windows programs)
# that carry this run's mark; never this shell or its parents, whatever
# their environment holds.
gormek_prefix_pids() {
  /usr/bin/python3 "$GORMEK_REPO/tools/lib/started.py" wine-pids "$GORMEK_RUN"
}

# Records every process of the prefix that runs now (Wine's server, its
# helpers and programs) for tools/leftovers.
gormek_record_prefix_processes() {
  local pid
  for pid in $(gormek_prefix_pids); do
    gormek_record_started "$pid" "wine: $(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null | cut -c1-80)"
  done
}

# Ends every Wine process of this run, a wineserver left behind by an
# earlier prefix at the same path included (`wineserver -k` finds only the
# server of the prefix folder that exists now).
gormek_kill_prefix_processes() {
  local pid
  for pid in $(gormek_prefix_pids); do
    kill -9 "$pid" 2>/dev/null || true
  done
}

# The end of a script that ran Wine: records what still runs in the prefix,
# asks the wineserver to end it, then ends whatever is left.
gormek_end_prefix_processes() {
  gormek_record_prefix_processes
  (gormek_wine_env; wineserver -k >/dev/null 2>&1 || true)
  gormek_kill_prefix_processes
}
