# Sourced by the build and test scripts: one bound for a shared host. CMAKE_BUILD_PARALLEL_LEVEL
# (default every core) is the build's jobs at once and the tests' (CTest's jobs, programs or
# fuzz targets side by side). One that is no whole number above 0 stops the script, status 2.
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "$(basename "$0"): CMAKE_BUILD_PARALLEL_LEVEL=$jobs is not a number of jobs (1 or more); not running" >&2
  exit 2
fi
export CMAKE_BUILD_PARALLEL_LEVEL="$jobs"
# A compiler cache, where there is one: a build folder made anew (a fresh clone) reuses what
# an earlier one compiled.
launcher=()
if command -v ccache >/dev/null && [ "${KEL_CCACHE:-1}" != 0 ]; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Paths below the clone are hashed relative to it: a clone elsewhere hits the same entries.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
# The builds' precompiled headers (KEL_PCH): the cache must take a file that includes one,
# though the header was made a moment ago and records the time it was made.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
# CTest starts the tests that took longest first when it knows their times; a fresh clone
# does not, and on few cores the longest one started last holds the stage up by its whole
# length. Each build folder's times are kept outside the clone, beside the compiler cache,
# and handed to CTest. Run in the build folder: kel_ctest <CTest arguments...>
kel_ctest() {
  local keep="${KEL_CTEST_TIMES:-${XDG_CACHE_HOME:-$HOME/.cache}/kel-ctest-times}/$(basename "$PWD").txt" rc=0
  mkdir -p Testing/Temporary "$(dirname "$keep")" 2>/dev/null || true
  [ -s Testing/Temporary/CTestCostData.txt ] || ! [ -s "$keep" ] || cp "$keep" Testing/Temporary/CTestCostData.txt
  ctest "$@" || rc=$?
  [ ! -s Testing/Temporary/CTestCostData.txt ] || cp Testing/Temporary/CTestCostData.txt "$keep" 2>/dev/null || true
  return "$rc"
}
