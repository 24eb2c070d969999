#!/usr/bin/env bash
# The source tarball holds the repository as it is laid out, under one top folder,
# without build folders; unpacked, its format check works without git.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackSourceConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack could not build the source tarball"; }
tarball=$(ls "$work"/*.tar.gz)
listing=$(tar -tzf "$tarball")
top=$(head -1 <<<"$listing" | cut -d/ -f1)
[ "$top" = "$(basename "$tarball" .tar.gz)" ] || fail "the tarball's top folder is $top"
! grep -qv "^$top/" <<<"$listing" || fail "entries outside $top/: $(grep -v "^$top/" <<<"$listing" | head -3)"
for f in CMakeLists.txt CMakePresets.json README.md scripts/test app/main.cpp res/desktop/changelog; do
  grep -qx "$top/$f" <<<"$listing" || fail "the tarball lacks $f"
done
! grep -qE "^$top/(usr|build|build-[^/]*|\.git)/" <<<"$listing" \
  || fail "the tarball packs $(grep -E "^$top/(usr|build|build-[^/]*|\.git)/" <<<"$listing" | head -3)"
tar -xzf "$tarball" -C "$work"
bash "$work/$top/scripts/check-format" >/dev/null || fail "the format check fails in the unpacked tarball"
echo "$(basename "$tarball") is laid out like the repository"
