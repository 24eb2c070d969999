#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the tree elsewhere, and uses it
# from there: the program and its tools must find their libraries, tools and data
# relative to their own location, and the desktop files must pass their validators.
set -euo pipefail
build=$1 samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
prefix=$work/moved

for f in bin/Tessary bin/tessary-cli lib/libpreference.so.1 lib/libfilecask.so.1 lib/libCoreFoundation.so.1 \
  libexec/tessary/xar libexec/tessary/pkgutil libexec/tessary/hdiutil libexec/tessary/defaults \
  libexec/tessary/cpio share/applications/com.ombrel.Tessary.desktop \
  share/metainfo/com.ombrel.Tessary.metainfo.xml share/mime/packages/com.ombrel.Tessary.xml \
  share/icons/hicolor/48x48/apps/com.ombrel.Tessary.png \
  share/icons/hicolor/scalable/apps/com.ombrel.Tessary.svg share/man/man1/Tessary.1.gz \
  share/man/man1/tessary-cli.1.gz; do
  [ -e "$prefix/$f" ] || fail "installed tree lacks $f"
done

# Libraries come from the moved tree, never from the build tree.
deps=$(ldd "$prefix/bin/Tessary")
! grep -q 'not found' <<<"$deps" || fail "unresolved libraries: $(grep 'not found' <<<"$deps")"
grep -q "libpreference.so.1 => $prefix/bin/../lib/" <<<"$deps" || fail "libpreference not taken from the prefix"
! grep -q "$build" <<<"$deps" || fail "the installed program still uses the build tree"

# The installed tools work on the sample installers.
"$prefix/libexec/tessary/xar" -t -f "$samples/TessarySample.pkg" | grep -q 'Distribution' \
  || fail "installed xar cannot list the sample flat package"
"$prefix/libexec/tessary/hdiutil" imageinfo "$samples/TessarySample.dmg" >/dev/null \
  || fail "installed hdiutil cannot read the sample disk image"

# The installed program opens the sample with its own tools: PATH holds none of ours.
home=$work/home
mkdir -p "$home"
set +e
env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" \
  XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
  timeout 8 "$prefix/bin/Tessary" "$samples/TessarySample.pkg" >"$work/log" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || { cat "$work/log" >&2; fail "the installed program ended early with status $status"; }
grep -q "loadPackage($samples/TessarySample.pkg) end valid" "$work/log" \
  || { tail -20 "$work/log" >&2; fail "the installed program did not open the sample"; }

# The installed command line works with its own tools and never opens a display,
# not even one that is named but does not answer.
env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home" \
  DISPLAY=:97 QT_QPA_PLATFORM=xcb \
  timeout 30 "$prefix/bin/tessary-cli" show "$samples/TessarySample.pkg" >"$work/show" 2>&1 \
  || { cat "$work/show" >&2; fail "the installed tessary-cli cannot show the sample"; }
grep -q '^Kind: flat package' "$work/show" || fail "tessary-cli show printed: $(head -5 "$work/show")"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home" \
  timeout 60 "$prefix/bin/tessary-cli" publish "$samples/TessarySample.pkg" --output "$work/Out.pkg" \
  --set SENTINEL_SERVER=console.example >"$work/publish" 2>&1 \
  || { cat "$work/publish" >&2; fail "the installed tessary-cli cannot publish the sample"; }
"$prefix/libexec/tessary/xar" -t -f "$work/Out.pkg" | grep -q 'Scripts' || fail "tessary-cli published no package"

# Desktop entry, AppStream data and file types, checked by their own validators.
desktop-file-validate "$prefix/share/applications/com.ombrel.Tessary.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/com.ombrel.Tessary.metainfo.xml" >/dev/null
mkdir -p "$work/xdg/mime/packages"
cp "$prefix/share/mime/packages/com.ombrel.Tessary.xml" "$work/xdg/mime/packages/"
update-mime-database "$work/xdg/mime"
printf '<?xml version="1.0"?>\n<AdminCustomization source="a.pkg"/>\n' >"$work/settings.xml"
printf '<?xml version="1.0"?>\n<Other/>\n' >"$work/other.xml"
kind() { XDG_DATA_DIRS="$work/xdg:/usr/share" XDG_DATA_HOME="$work/none" mimetype -b "$1"; }
[ "$(kind "$work/settings.xml")" = application/x-tessary-customization ] \
  || fail "a customization file is not recognised by its root element: $(kind "$work/settings.xml")"
[ "$(kind "$work/other.xml")" = application/xml ] || fail "any XML file is taken for a customization"
grep -q 'application/x-tessary-customization' "$prefix/share/applications/com.ombrel.Tessary.desktop" \
  || fail "the desktop entry does not declare customization files"
echo "installed tree works from $prefix"
