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
lib=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

for f in bin/Tessary bin/tessary-cli $lib/libpreference.so.1 $lib/libfilecask.so.1 \
  $lib/libtessary-corefoundation.so.1 $lib/libtessary-localization.so.1 \
  libexec/tessary/xar libexec/tessary/pkgutil libexec/tessary/hdiutil libexec/tessary/defaults \
  libexec/tessary/cpio share/applications/com.ombrel.Tessary.desktop \
  share/metainfo/com.ombrel.Tessary.metainfo.xml share/mime/packages/com.ombrel.Tessary.xml \
  share/icons/hicolor/48x48/apps/com.ombrel.Tessary.png \
  share/icons/hicolor/scalable/apps/com.ombrel.Tessary.svg share/man/man1/Tessary.1.gz \
  share/man/man1/tessary-cli.1.gz share/bash-completion/completions/tessary-cli \
  share/zsh/vendor-completions/_tessary-cli; do
  [ -e "$prefix/$f" ] || fail "installed tree lacks $f"
done

# Libraries come from the moved tree, never from the build tree.
deps=$(ldd "$prefix/bin/Tessary")
! grep -q 'not found' <<<"$deps" || fail "unresolved libraries: $(grep 'not found' <<<"$deps")"
grep -q "libpreference.so.1 => $prefix/bin/../$lib/" <<<"$deps" || fail "libpreference not taken from the prefix"
! grep -q "$build" <<<"$deps" || fail "the installed program still uses the build tree"

# The installed tools work on the sample installers.
"$prefix/libexec/tessary/xar" -t -f "$samples/TessarySample.pkg" | grep -q 'Distribution' \
  || fail "installed xar cannot list the sample flat package"
"$prefix/libexec/tessary/hdiutil" imageinfo "$samples/TessarySample.dmg" >/dev/null \
  || fail "installed hdiutil cannot read the sample disk image"

# The installed program opens the sample with its own tools: PATH holds none of ours.
# Its debug log (the worker's steps, the tools' failures) is written only with -debug.
home=$work/home
mkdir -p "$home"
# window SECONDS [ARGS...]: the window on the sample for SECONDS, or until it has
# opened it when its debug log is on.
window() {
  local seconds=$1 pid status=0
  shift
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/Tessary" "$samples/TessarySample.pkg" "$@" >"$work/log" 2>&1 &
  pid=$!
  for _ in $(seq "$seconds"); do
    sleep 1
    kill -0 "$pid" 2>/dev/null || break
    grep -q "loadPackage($samples/TessarySample.pkg) end valid" "$work/log" && break
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" || true
  else
    wait "$pid" || status=$?
    cat "$work/log" >&2
    fail "the installed program ended early with status $status"
  fi
}
begin=$SECONDS
window 120 -debug
grep -q "loadPackage($samples/TessarySample.pkg) end valid" "$work/log" \
  || { tail -20 "$work/log" >&2; fail "the installed program did not open the sample"; }
# As long again without -debug: the same work, and nothing of it on standard error.
window $((2 * (SECONDS - begin) + 2))
! grep -q 'CCopyFileThread::run()\|failed with exit code\|) begin' "$work/log" \
  || fail "the window writes its debug log without -debug: $(head -3 "$work/log")"

# --help and --version answer on standard output and end, with no display at all.
for option in --help --version; do
  env -i PATH=/usr/bin:/bin HOME="$home" timeout 10 "$prefix/bin/Tessary" "$option" >"$work/out" 2>&1 \
    || { cat "$work/out" >&2; fail "Tessary $option did not end by itself with status 0"; }
done
grep -q '^Tessary [0-9]' "$work/out" || fail "Tessary --version printed: $(cat "$work/out")"
env -i PATH=/usr/bin:/bin HOME="$home" "$prefix/bin/Tessary" --help | grep -q -- '-debug' \
  || fail "Tessary --help does not list its options"

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
version=$(env -i PATH=/usr/bin:/bin HOME="$home" timeout 10 "$prefix/bin/tessary-cli" --version) \
  || fail "tessary-cli --version did not end by itself with status 0"
[ "$version" = "tessary-cli $(sed 's/^Tessary //' "$work/out" | head -1)" ] \
  || fail "tessary-cli --version printed: $version"
# The installed bash completion completes the commands.
[ "$(bash --norc -c "source '$prefix/share/bash-completion/completions/tessary-cli' &&
  COMP_WORDS=(tessary-cli mig) COMP_CWORD=1 && _tessary_cli && echo \"\${COMPREPLY[*]}\"")" = migrate ] \
  || fail "the installed bash completion does not complete tessary-cli's commands"

# Desktop entry, AppStream data and file types, checked by their own validators.
desktop-file-validate "$prefix/share/applications/com.ombrel.Tessary.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/com.ombrel.Tessary.metainfo.xml" >/dev/null
for binary in Tessary tessary-cli; do
  grep -q "<binary>$binary</binary>" "$prefix/share/metainfo/com.ombrel.Tessary.metainfo.xml" \
    || fail "the AppStream data does not provide $binary"
done
# Both manual pages are complete: options, exit status and related pages.
for page in Tessary tessary-cli; do
  for section in OPTIONS 'EXIT STATUS' 'SEE ALSO'; do
    zcat "$prefix/share/man/man1/$page.1.gz" | grep -q "^\.SH \"\?$section" \
      || fail "$page(1) has no $section section"
  done
done
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
