#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks it the way a Debian
# maintainer would: contents, lintian (no error, no warning), installation
# into a scratch root with dpkg, dependency resolution with apt-get, and the
# installed programs' --version. A step whose tool is missing says SKIPPED;
# when everything that ran passed but a step was skipped, the exit status is
# 77, which ctest shows as a skipped test rather than a silent pass.
#   package_test.sh BUILD_DIR PROJECT_VERSION
set -euo pipefail
BUILD=$1
VERSION=$2
PROGRAMS=(qcsend qvrecv)
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

# --- Control fields. Whole outputs are captured before grep reads them:
# with pipefail, grep -q ending a pipe early would fail the writer (SIGPIPE).
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = quillcast ] || bad "package name: $(field Package)"
[[ "$(field Version)" == "$VERSION"-* ]] || bad "version $(field Version) is not $VERSION-<revision>"
for f in Section Priority Maintainer Depends Description; do
  [ -n "$(field "$f")" ] || bad "control field $f missing"
done
grep -Eq 'libqt6(core|gui|widgets)6' <<<"$(field Depends)" || bad "no Qt library dependency: $(field Depends)"
grep -q 'qt6-qpa-plugins' <<<"$(field Depends)" || bad "no dependency on Qt's platform plugins"
description=$(field Description)
synopsis=$(head -n1 <<<"$description")
[ ${#synopsis} -lt 80 ] || bad "synopsis is ${#synopsis} characters long"
while IFS= read -r line; do
  [ ${#line} -lt 80 ] || bad "description line of ${#line} characters: $line"
done < <(tail -n +2 <<<"$description")

# --- Contents.
root=$WORK/contents
dpkg-deb -x "$deb" "$root"
doc=usr/share/doc/quillcast
for f in $doc/copyright $doc/changelog.Debian.gz \
         usr/share/quillcast/autostart/qvrecv-autostart.desktop; do
  [ -s "$root/$f" ] || bad "missing: /$f"
done
for p in "${PROGRAMS[@]}"; do
  for f in usr/bin/$p usr/share/applications/$p.desktop usr/share/man/man1/$p.1.gz \
           usr/share/icons/hicolor/scalable/apps/$p.svg usr/share/icons/hicolor/48x48/apps/$p.png; do
    [ -s "$root/$f" ] || bad "missing: /$f"
  done
done
# Every program in the package comes with its manual page and desktop entry.
for exe in "$root"/usr/bin/*; do
  p=$(basename "$exe")
  [ -s "$root/usr/share/man/man1/$p.1.gz" ] || bad "$p has no manual page"
  [ -s "$root/usr/share/applications/$p.desktop" ] || bad "$p has no desktop entry"
  [ -x "$exe" ] || bad "not executable: /usr/bin/$p"
  sections=$(readelf -S --wide "$exe")
  if grep -Eq '\.(symtab|debug_info)\b' <<<"$sections"; then bad "/usr/bin/$p is not stripped"; fi
done
# gzip -9n: no file name and no time stamp in the header (byte 3 holds the
# flags, bytes 4..7 the time), so rebuilding gives the same bytes.
while IFS= read -r -d '' gz; do
  header=$(od -An -tx1 -N8 "$gz" | tr -d ' \n')
  [ "${header:6:10}" = "0000000000" ] || bad "${gz#"$root"} carries a name or time stamp (header $header)"
done < <(find "$root" -name '*.gz' -print0)
# One main category per menu entry, so a program shows once in the menus.
for p in "${PROGRAMS[@]}"; do
  entry="$root/usr/share/applications/$p.desktop"
  grep -q "^Exec=$p" "$entry" || bad "bad Exec in $p.desktop"
  categories=$(sed -n 's/^Categories=//p' "$entry")
  main=0
  for c in ${categories//;/ }; do
    case $c in AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility) main=$((main + 1));; esac
  done
  [ $main -eq 1 ] || bad "$p.desktop names $main main categories: $categories"
  # The manual page documents the group, the ports and the settings and log files.
  page=$(zcat "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null || true)
  for word in 234.0.0.1 'P+1' '.conf' '.log'; do
    grep -qF -- "$word" <<<"$page" || bad "$p.1 lacks $word"
  done
done
grep -q '^Exec=qvrecv' "$root/usr/share/quillcast/autostart/qvrecv-autostart.desktop" || bad "bad autostart Exec"
# The newest changelog entry is the package's version.
if ! command -v dpkg-parsechangelog >/dev/null; then
  skipped "changelog version check: dpkg-parsechangelog (dpkg-dev) is not installed"
elif [ -s "$root/$doc/changelog.Debian.gz" ]; then
  zcat "$root/$doc/changelog.Debian.gz" >"$WORK/changelog"
  logged=$(dpkg-parsechangelog -l "$WORK/changelog" -S Version 2>&1 || true)
  [ "$logged" = "$(field Version)" ] || bad "changelog is at $logged, the package at $(field Version)"
fi
grep -qs '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$root/$doc/copyright" ||
  bad "copyright file is not machine-readable"

# --- lintian: no errors and no warnings.
if command -v lintian >/dev/null; then
  set +e
  lintian --tag-display-limit 0 "$deb" >"$WORK/lintian.log" 2>&1
  rc=$?
  set -e
  # lintian's own complaint about running as root is not about the package.
  grep -v 'running with root privileges is not recommended' "$WORK/lintian.log" || true
  if grep -Eq '^[EW]: ' "$WORK/lintian.log"; then bad "lintian reports errors or warnings (above)"
  elif [ $rc -ne 0 ]; then bad "lintian failed with status $rc"; fi
  echo "lintian: $(grep -c '^[EW]: ' "$WORK/lintian.log" || true) errors and warnings"
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
  status=$(dpkg --root="$inst" -s quillcast)
  grep -q '^Status: install ok installed' <<<"$status" || bad "dpkg does not list quillcast as installed"
  listed=$(dpkg --root="$inst" -L quillcast)
  for p in "${PROGRAMS[@]}"; do
    grep -qx "/usr/bin/$p" <<<"$listed" || bad "dpkg -L lacks /usr/bin/$p"
    # The installed programs print their version without a display.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$inst/usr/bin/$p" --version 2>&1) ||
      bad "installed $p --version failed: $out"
    grep -qF "$VERSION" <<<"$out" || bad "installed $p --version says: $out"
    echo "installed $p --version: $out"
  done
  perms=$(find "$inst/usr" \( -type d ! -perm 0755 \) -o \( -type f ! -perm 0644 ! -perm 0755 \))
  [ -z "$perms" ] || bad "unexpected permissions: $perms"
else
  cat "$WORK/dpkg.log"; bad "dpkg could not install the package into $inst"
fi

# --- Dependencies: would apt install the package here?
if command -v apt-get >/dev/null; then
  set +e
  (cd "$WORK/out" && apt-get --simulate install "./$(basename "$deb")") >"$WORK/apt.log" 2>&1
  rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    cat "$WORK/apt.log"; bad "apt-get cannot satisfy the package's dependencies"
  elif grep -Eq '^Inst quillcast |quillcast is already the newest version' "$WORK/apt.log"; then
    echo "apt-get: dependencies satisfiable"
  else
    cat "$WORK/apt.log"; bad "apt-get did not plan to install quillcast"
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
