#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of a build folder and checks it: lintian (no
# error, no warning) judges its form; this script adds what lintian cannot
# know: the files each program needs, the Qt platform plugins, installation
# into a scratch root with dpkg, the installed programs' --version and
# dependency resolution with apt-get. A step whose tool is missing says
# SKIPPED; when everything that ran passed but a step was skipped, the exit
# status is 77, which ctest shows as a skipped test rather than a silent pass.
#   package_test.sh BUILD_DIR PROJECT_VERSION
set -euo pipefail
BUILD=$1
VERSION=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail=0
skips=0
bad() { echo "FAIL: $*"; fail=1; }
skipped() { echo "SKIPPED: $*"; skips=$((skips + 1)); }

(cd "$BUILD" && cpack -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; exit 1; }
debs=("$WORK"/out/quillcast_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "expected one quillcast_*.deb, got: ${debs[*]}"; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"

# Whole outputs are captured before grep reads them: with pipefail, grep -q
# ending a pipe early would fail the writer (SIGPIPE).
# The platform plugins are loaded at run time, so no library scan finds them.
depends=$(dpkg-deb --field "$deb" Depends)
grep -q 'qt6-qpa-plugins' <<<"$depends" || bad "no dependency on Qt's platform plugins: $depends"

# --- Contents: every program with its menu entry, manual page and icons;
# the manual pages name the group, the ports and the settings and log files.
root=$WORK/contents
dpkg-deb -x "$deb" "$root"
[ -s "$root/usr/share/quillcast/autostart/qvrecv-autostart.desktop" ] || bad "missing: the autostart entry"
for p in qcsend qvrecv; do
  for f in usr/bin/$p usr/share/applications/$p.desktop usr/share/man/man1/$p.1.gz \
           usr/share/icons/hicolor/scalable/apps/$p.svg usr/share/icons/hicolor/48x48/apps/$p.png; do
    [ -s "$root/$f" ] || bad "missing: /$f"
  done
  page=$(zcat "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null || true)
  for word in 234.0.0.1 'P+1' '.conf' '.log'; do
    grep -qF -- "$word" <<<"$page" || bad "$p.1 lacks $word"
  done
done

for f in usr/bin/qvweb usr/share/man/man1/qvweb.1.gz; do
  [ -s "$root/$f" ] || bad "missing: /$f"
done

# --- lintian: no errors and no warnings.
if command -v lintian >/dev/null; then
  rc=0
  lintian --tag-display-limit 0 "$deb" >"$WORK/lintian.log" 2>&1 || rc=$?
  # lintian's own complaint about running as root is not about the package.
  grep -v 'running with root privileges is not recommended' "$WORK/lintian.log" || true
  if grep -Eq '^[EW]: ' "$WORK/lintian.log"; then bad "lintian reports errors or warnings (above)"
  elif [ $rc -ne 0 ]; then bad "lintian failed with status $rc"; fi
else
  skipped "lintian check: lintian is not installed (apt-get install lintian)"
fi

# --- Installation into a scratch root, as root or not, with no chroot.
# Nothing is installed there but this package, so its dependencies are
# ignored here; apt-get checks them below.
inst=$WORK/root
mkdir -p "$inst/var/lib/dpkg/info" "$inst/var/lib/dpkg/updates"
: >"$inst/var/lib/dpkg/status"
if dpkg --root="$inst" --force-not-root --force-script-chrootless --force-depends \
        --log=/dev/null -i "$deb" >"$WORK/dpkg.log" 2>&1; then
  for p in qcsend qvrecv qvweb; do
    # The installed programs print their version without a display.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$inst/usr/bin/$p" --version 2>&1) ||
      bad "installed $p --version failed: $out"
    grep -qF "$VERSION" <<<"$out" || bad "installed $p --version says: $out"
    echo "installed $p --version: $out"
  done
else
  cat "$WORK/dpkg.log"; bad "dpkg could not install the package into $inst"
fi

# --- Dependencies: would apt install the package here?
if command -v apt-get >/dev/null; then
  rc=0
  (cd "$WORK/out" && apt-get --simulate install "./$(basename "$deb")") >"$WORK/apt.log" 2>&1 || rc=$?
  if [ $rc -ne 0 ] || ! grep -Eq '^Inst quillcast |quillcast is already the newest version' "$WORK/apt.log"; then
    cat "$WORK/apt.log"; bad "apt-get cannot or would not install the package (status $rc)"
  fi
else
  skipped "dependency check: apt-get is not installed"
fi

[ $fail -eq 0 ] || exit 1
if [ $skips -gt 0 ]; then
  echo "package checks passed, but $skips step(s) SKIPPED (above): $(basename "$deb")"
  exit 77
fi
echo "package complete and clean: $(basename "$deb")"
