#!/usr/bin/env bash
# Builds the library in Release, installs it into a temporary prefix and builds and runs the
# C and C++ consumers of tests/install against it: through CMake's find_package, then through
# pkg-config with plain compiler command lines (after moving the prefix, to prove it relocatable).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { echo "FAILED: $*" >&2; echo "install_test: $passed passed, 1 failed"; exit 1; }

echo "== build and install into a temporary prefix"
cmake -S "$root" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DVX_BUILD_TESTS=OFF \
      -DVX_BUILD_EXAMPLES=OFF -DVX_BUILD_BENCH=OFF -DVX_BUILD_FUZZ=OFF >"$work/configure.log" \
  || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/build" -j2 >"$work/build.log" || { cat "$work/build.log"; fail "build"; }
cmake --install "$work/build" --prefix "$work/prefix" >"$work/install.log" \
  || { cat "$work/install.log"; fail "install"; }

prefix="$work/prefix"
pc="$(find "$prefix" -name vornaplex_xml.pc -print -quit)"
[[ -n "$pc" ]] || fail "no vornaplex_xml.pc installed"
libdir="$(dirname "$(dirname "$pc")")"
for f in include/vornaplex_xml.h include/vornaplex_xml.hpp bin/vxml; do
  [[ -e "$prefix/$f" ]] || fail "missing $f"
done
for f in libvornaplex_xml.so libvornaplex_xml.so.2 libvornaplex_xml.so.2.1.9 \
         cmake/vornaplex_xml/vornaplex_xmlConfig.cmake \
         cmake/vornaplex_xml/vornaplex_xmlConfigVersion.cmake \
         cmake/vornaplex_xml/vornaplex_xmlTargets.cmake; do
  [[ -e "$libdir/$f" ]] || fail "missing ${libdir#$prefix/}/$f"
done
pass "layout: headers, library with its links, tool, CMake package, pkg-config file"
soname="$(readelf -d "$libdir/libvornaplex_xml.so.2.1.9" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')"
[[ "$soname" == "libvornaplex_xml.so.2" ]] || fail "SONAME is '$soname'"
pass "SONAME libvornaplex_xml.so.2"
version="$("$prefix/bin/vxml" --version)"
[[ "$version" == "KEL XML 2.1.9" ]] || fail "installed vxml --version printed '$version'"
pass "installed vxml runs: $version"

echo "== consumers through find_package (CMAKE_PREFIX_PATH)"
cmake -S "$root/tests/install" -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log" || { cat "$work/consumer.log"; fail "consumer configure"; }
cmake --build "$work/consumer" >>"$work/consumer.log" || { cat "$work/consumer.log"; fail "consumer build"; }
"$work/consumer/consumer_c" || fail "CMake-built C consumer"
pass "find_package: C consumer"
"$work/consumer/consumer_cpp" || fail "CMake-built C++ consumer"
pass "find_package: C++ consumer"

echo "== consumers through pkg-config (PKG_CONFIG_PATH), prefix moved"
mv "$prefix" "$work/moved"
export PKG_CONFIG_PATH="$work/moved/${libdir#$prefix/}/pkgconfig"
[[ "$(pkg-config --modversion vornaplex_xml)" == "2.1.9" ]] || fail "pkg-config --modversion"
pass "pkg-config finds version 2.1.9"
cflags="$(pkg-config --cflags vornaplex_xml)"
libs="$(pkg-config --libs vornaplex_xml)"
rpath="-Wl,-rpath,$(pkg-config --variable=libdir vornaplex_xml)"
# shellcheck disable=SC2086
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror $cflags "$root/tests/install/consumer.c" \
   -o "$work/pc_consumer_c" $libs "$rpath" || fail "pkg-config C build"
"$work/pc_consumer_c" || fail "pkg-config C consumer"
pass "pkg-config: C consumer"
# shellcheck disable=SC2086
c++ -std=c++17 -Wall -Wextra -Werror $cflags "$root/tests/install/consumer.cpp" \
    -o "$work/pc_consumer_cpp" $libs "$rpath" || fail "pkg-config C++ build"
"$work/pc_consumer_cpp" || fail "pkg-config C++ consumer"
pass "pkg-config: C++ consumer"

echo "install_test: $passed passed, 0 failed"
