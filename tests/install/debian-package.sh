#!/usr/bin/env bash
# Builds the Debian package from the build tree and inspects it: its contents, its
# dependencies and lintian's verdict (no errors).
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$work"/tessary_*.deb)
contents=$(dpkg-deb --contents "$deb")
for f in ./usr/bin/Tessary ./usr/bin/tessary-cli ./usr/share/man/man1/tessary-cli.1.gz \
  ./usr/libexec/tessary/xar ./usr/lib/libpreference.so.1 \
  ./usr/share/applications/com.ombrel.Tessary.desktop ./usr/share/doc/tessary/copyright; do
  grep -q " $f\( \|$\)" <<<"$contents" || fail "the package lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in 7zip libqt5widgets5 libarchive13 libplist3; do
  grep -q "\b$d\b" <<<"$depends" || fail "the package does not depend on $d: $depends"
done
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
if grep -q '^E:' "$work/lintian.log"; then
  cat "$work/lintian.log" >&2
  fail "lintian reports errors"
fi
echo "package $(basename "$deb") passes lintian without errors"
