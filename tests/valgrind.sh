#!/usr/bin/env bash
# Runs the test suite under Valgrind memcheck (a Debug build without sanitizers)
# and fails on any memory error or leak.
#
#   tests/valgrind.sh [extra gtest filter]
#
# Environment: BUILD_DIR (default build/valgrind). The heaviest hostile-input
# tests (a million levels, 64 MB strings, 16 MB values, multi-MB texts) are left
# out: under Valgrind they take many minutes, and the ASan build runs them.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/valgrind}
heavy="Hostile.MillionLevels*:Hostile.SixtyFour*:Hostile.Sixteen*:Hostile.Unterminated*"
heavy+=":Hostile.HundredThousand*:Deep*.*Million*:*Million*"
filter="${1:-*}-${heavy}"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE= -DVX_BUILD_TOOLS=OFF \
  -DVX_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --target vx_tests -j2

valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes --quiet \
  "$build/tests/vx_tests" --gtest_filter="$filter" --gtest_brief=1
echo "valgrind: clean ($filter)"
