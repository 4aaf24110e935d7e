# Shared paths and Wine settings for the project's scripts. Source it; it
# only sets variables. Every Wine call of the tools and tests runs with
# these, so nothing ever touches the host user's home or ~/.wine.
GORMEK_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export GORMEK_REPO
# Built tools that outlive the work tree (the Windows build of bsdtar).
export GORMEK_CACHE=${GORMEK_CACHE:-/var/cache/gormek-testbench}
# The throwaway prefix of this work tree's test runs.
export GORMEK_PREFIX=${GORMEK_PREFIX:-$GORMEK_REPO/build/wine-prefix}

gormek_wine_env() {
  export WINEPREFIX=$GORMEK_PREFIX
  export WINEDEBUG=${GORMEK_WINEDEBUG:--all}
  export WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree=d;mshtml=d'
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
    wine wineboot >/dev/null 2>&1 </dev/null || true
    # Keeps the desktop process alive between test programs.
    if [ -f "$GORMEK_CACHE/keep_desktop.exe" ]; then
      (setsid wine "$GORMEK_CACHE/keep_desktop.exe" >/dev/null 2>&1 </dev/null &)
    fi
  fi
}

# Ends every process that runs with this prefix, a wineserver left behind by
# an earlier prefix at the same path included (`wineserver -k` finds only the
# server of the prefix folder that exists now).
gormek_kill_prefix_processes() {
  local env pid
  for env in /proc/[0-9]*/environ; do
    pid=${env#/proc/}
    pid=${pid%/environ}
    if { tr '\0' '\n' <"$env"; } 2>/dev/null | grep -qxF "WINEPREFIX=$GORMEK_PREFIX"; then
      kill -9 "$pid" 2>/dev/null || true
    fi
  done
}
