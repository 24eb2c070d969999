#!/usr/bin/env bash
# scripts/check-format on small copies of the repository: in an unpacked tarball
# (no .git) it still finds and checks the sources, and where it cannot list them
# (git missing, or no source at all) it fails instead of passing on nothing.
set -euo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

tree() {
  mkdir -p "$1/scripts" "$1/src" "$1/build/dev"
  cp "$source/scripts/check-format" "$1/scripts/"
  cp "$source/.clang-format" "$1/"
  printf 'int f()\n{\n    return 1;\n}\n' >"$1/src/good.cpp"
}

# A tarball: a badly formatted source is found without git; build folders are not sources.
tree "$work/tarball"
printf 'int   g( ) {return 2;}\n' >"$work/tarball/src/bad.cpp"
printf 'int   h( ) {return 3;}\n' >"$work/tarball/build/dev/generated.cpp"
if out=$(bash "$work/tarball/scripts/check-format" 2>&1); then
  fail "a misformatted source in a tree without .git passed: $out"
fi
grep -q 'src/bad.cpp' <<<"$out" || fail "the misformatted source is not named: $out"
! grep -q 'generated.cpp' <<<"$out" || fail "a build folder was checked: $out"
rm "$work/tarball/src/bad.cpp"
out=$(bash "$work/tarball/scripts/check-format" 2>&1) || fail "a formatted tarball failed: $out"
grep -q '1 files formatted' <<<"$out" || fail "the tarball's one source was not counted: $out"

# A checkout whose git cannot be run: no silent pass.
tree "$work/checkout"
mkdir "$work/checkout/.git"
mkdir "$work/bin"
for tool in bash clang-format dirname diff find sort grep sed cat mkdir rm; do
  path=$(command -v "$tool") && ln -s "$path" "$work/bin/$tool"
done
if out=$(PATH="$work/bin" bash "$work/checkout/scripts/check-format" 2>&1); then
  fail "the check passed in a checkout without git: $out"
fi
grep -q 'git' <<<"$out" || fail "the failure does not say git is missing: $out"

# Nothing to check at all.
tree "$work/empty"
rm "$work/empty/src/good.cpp"
if out=$(bash "$work/empty/scripts/check-format" 2>&1); then
  fail "the check passed with no source to check: $out"
fi
echo "check-format finds the sources with or without git and fails when it cannot"
