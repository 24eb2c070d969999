#!/usr/bin/env bash
# Installs the libraries into a temporary prefix and builds a small program of
# someone else's against them with find_package(Tessary), then runs it.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
lib=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
[ -f "$work/prefix/$lib/cmake/Tessary/TessaryConfigVersion.cmake" ] || fail "no package version file"
# The headers sit in a folder of their own, so a generic name (CoreFoundation) clashes with nobody.
[ -f "$work/prefix/include/tessary/CoreFoundation/CFString.h" ] || fail "no CoreFoundation headers under include/tessary"
[ ! -e "$work/prefix/include/CoreFoundation" ] || fail "CoreFoundation headers in the shared include folder"
cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; fail "find_package(Tessary) failed"; }
cmake --build "$work/consumer" >"$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; fail "the consumer does not build against the installed headers"; }
# Asking for a version the package does not offer must be refused.
mkdir -p "$work/wrong"
printf 'cmake_minimum_required(VERSION 3.18)\nproject(W NONE)\nfind_package(Tessary 99 CONFIG REQUIRED)\n' \
  >"$work/wrong/CMakeLists.txt"
! cmake -S "$work/wrong" -B "$work/wrong/b" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null 2>&1 \
  || fail "find_package accepted version 99"
# The consumer finds the installed libraries at run time without help.
! ldd "$work/consumer/consumer" | grep -q "$build" || fail "the consumer uses the build tree's libraries"
HOME="$work" "$work/consumer/consumer" "$work/settings.dat" | grep -q 'hello from a consumer' \
  || fail "the consumer could not keep a setting"
echo "consumer built and ran against the installed libraries"
