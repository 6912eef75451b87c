#!/usr/bin/env bash
# Line and branch coverage of src/ by the test suite: builds the `coverage`
# preset (gcc --coverage, -O0), runs vx_tests and prints gcovr's summary, one
# line per source file, and the overall figures.
#
#   tests/coverage.sh [gtest filter]
#
# Environment: BUILD_DIR (default build/coverage). Also writes an HTML report to
# $BUILD_DIR/coverage.html.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/coverage}
filter=${1:-*}

# Atomic counter updates: the thread tests would otherwise leave torn counts.
cmake --preset coverage -B "$build" -DVX_BUILD_TOOLS=OFF -DVX_BUILD_EXAMPLES=OFF \
  -DCMAKE_CXX_FLAGS=-fprofile-update=atomic >/dev/null
cmake --build "$build" --target vx_tests -j2
find "$build" -name '*.gcda' -delete
status=0
"$build/tests/vx_tests" --gtest_filter="$filter" --gtest_brief=1 >"$build/coverage-tests.log" 2>&1 ||
  status=$?

# Only this build's data: other build folders in the tree may hold older runs.
common=(--root . --object-directory "$build" --filter 'src/' --exclude-unreachable-branches
        --exclude-throw-branches "$build")
gcovr "${common[@]}" --html-details "$build/coverage.html" >/dev/null
gcovr "${common[@]}" --txt
gcovr "${common[@]}" --branches --txt | tail -n +1
# gcovr 5 checks an output path by creating and unlinking it: never give it /dev/null.
gcovr "${common[@]}" --print-summary --txt "$build/coverage-summary.txt"
if [ "$status" -ne 0 ]; then
  grep -E "FAILED|Failure" "$build/coverage-tests.log" | head -20 >&2
  echo "coverage: the tests failed (exit $status); figures above are of that run" >&2
  exit 1
fi
