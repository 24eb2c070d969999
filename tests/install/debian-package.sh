#!/usr/bin/env bash
# Builds the Debian packages from the build tree and inspects them as Debian would:
# what goes in which package, their relations, lintian's verdict (no error, no
# warning, no hardening tag), no build path in any file, and the same bytes from a
# second run without SOURCE_DATE_EPOCH in the environment.
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

pack() {
  env -u SOURCE_DATE_EPOCH cpack --config "$build/CPackConfig.cmake" -G DEB -B "$1" >"$1.log" 2>&1 \
    || { cat "$1.log" >&2; fail "cpack could not build the packages"; }
}
pack "$work/one"
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=/usr/lib/$triplet
deb() { ls "$work/one/$1"_*.deb 2>/dev/null || fail "no package $1 among: $(cd "$work/one" && ls ./*.deb)"; }
contents() { dpkg-deb --contents "$(deb "$1")" | awk '{print $6}' | sed 's|^\.||'; }
has() { grep -qx "$2" <<<"$(contents "$1")" || fail "$1 lacks $2"; }
lacks() { ! grep -q "$2" <<<"$(contents "$1")" || fail "$1 holds $(grep "$2" <<<"$(contents "$1")" | head -3)"; }

# The program, each library in a package named after its soname, and one -dev package.
for f in /usr/bin/Tessary /usr/bin/tessary-cli /usr/libexec/tessary/xar /usr/share/man/man1/Tessary.1.gz \
  /usr/share/applications/com.ombrel.Tessary.desktop /usr/share/doc/tessary/copyright \
  /usr/share/bash-completion/completions/tessary-cli /usr/share/zsh/vendor-completions/_tessary-cli; do
  has tessary "$f"
done
lacks tessary '\.so\|/usr/include\|cmake'
for pair in libpreference1:libpreference.so.1 libfilecask1:libfilecask.so.1 \
  libtessary-corefoundation1:libtessary-corefoundation.so.1 \
  libtessary-localization1:libtessary-localization.so.1; do
  package=${pair%%:*} soname=${pair#*:}
  has "$package" "$lib/$soname"
  lacks "$package" '/usr/include\|cmake\|\.so$'
  dpkg-deb -x "$(deb "$package")" "$work/x-$package"
  objdump -p "$work/x-$package$lib/$soname" | grep -q "SONAME *$soname" \
    || fail "$lib/$soname does not carry the soname $soname"
done
for f in "$lib/libpreference.so" "$lib/libtessary-corefoundation.so" \
  /usr/include/tessary/preference/Preference.h /usr/include/tessary/CoreFoundation/CFString.h \
  /usr/include/tessary/filecask/filecask_export.h "$lib/cmake/Tessary/TessaryConfig.cmake"; do
  has libtessary-dev "$f"
done
# Nothing lands in folders other packages own under generic names.
for package in libtessary-dev libtessary-corefoundation1; do
  lacks "$package" '^/usr/include/CoreFoundation\|^/usr/lib/lib'
done

# Relations: the libraries from their packages, Qt's own translations recommended,
# the administrator prompt only suggested (it pulls in polkit, dbus and systemd).
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
depends=$(field tessary Depends)
for d in 7zip libqt5widgets5 libarchive13 libplist3 'libpreference1 (= ' 'libtessary-corefoundation1 (= '; do
  grep -qF "$d" <<<"$depends" || fail "tessary does not depend on $d: $depends"
done
grep -q 'qttranslations5-l10n' <<<"$(field tessary Recommends)" || fail "Qt's translations are not recommended"
! grep -q pkexec <<<"$depends, $(field tessary Recommends)" || fail "pkexec is more than a suggestion"
grep -q pkexec <<<"$(field tessary Suggests)" || fail "pkexec is not suggested"
grep -q 'libpreference1 (= ' <<<"$(field libtessary-dev Depends)" || fail "the -dev package does not depend on the libraries"

# lintian: no error, no warning, and the hardening in every binary: read-only
# relocations bound at start-up, position-independent executables, and fortified
# functions in the tools that take installers apart. (The programs and two
# libraries call read() and strncpy() only on buffers whose size the compiler
# cannot know, and vswprintf() through a pointer, so no call there can be fortified:
# lintian's check cannot tell that from a build without fortification.)
lintian --pedantic -I --tag-display-limit 0 "$work"/one/*.deb >"$work/lintian.log" 2>&1 || true
if grep -qE '^[EW]: |hardening-no-(relro|bindnow|pie)|hardening-no-fortify-functions .*libexec' \
  "$work/lintian.log"; then
  cat "$work/lintian.log" >&2
  fail "lintian reports errors, warnings or missing hardening"
fi

# No file of any package names the source or build folder.
for d in "$work"/one/*.deb; do
  dpkg-deb -x "$d" "$work/all"
done
found=$(grep -rlaF -e "$source" -e "$build" "$work/all" || true)
[ -z "$found" ] || fail "build paths in: $found"

# A second run gives the same bytes: every time in the packages is the last commit's.
sleep 1
pack "$work/two"
for d in "$work"/one/*.deb; do
  cmp "$d" "$work/two/$(basename "$d")" || fail "$(basename "$d") differs between two runs"
done
echo "packages $(cd "$work/one" && echo ./*.deb) pass lintian and are reproducible"
