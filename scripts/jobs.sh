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
