#!/usr/bin/env bash
# Writes GormEkSetup.buildinfo beside a built exe: what built it, so that
# anyone can build the same bytes again later (tools/reproduce --buildinfo).
#   tools/lib/buildinfo.sh EXE SITE_URL SOURCE_DIR COMPILER_ID
# The commit ends in "-dirty" when the tree had uncommitted changes.
set -euo pipefail
exe=$1 site=$2 source=$3 compiler=$4
commit=$(git -C "$source" rev-parse HEAD 2>/dev/null || echo unknown)
if [ "$commit" != unknown ] &&
   [ -n "$(git -C "$source" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit=$commit-dirty
fi
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev mingw-w64-common cmake ninja-build)
[ "$compiler" = Clang ] && packages+=(clang lld)
{
  echo "# What built $(basename "$exe"); check an exe against it with"
  echo "# tools/reproduce --buildinfo THIS_FILE EXE on a checkout of the repository."
  echo "commit: $commit"
  echo "site: $site"
  echo "compiler: $compiler"
  for p in "${packages[@]}"; do
    echo "package: $p $(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo none)"
  done
  echo "sha256: $(sha256sum <"$exe" | cut -d' ' -f1)"
} >"${exe%.exe}.buildinfo.tmp"
mv "${exe%.exe}.buildinfo.tmp" "${exe%.exe}.buildinfo"
