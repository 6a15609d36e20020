#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks its contents.
#   package_test.sh BUILD_DIR
set -euo pipefail
BUILD=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
(cd "$BUILD" && cpack -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; exit 1; }
deb=$(ls "$WORK"/out/quillcast_*.deb)
# Whole outputs are captured before grep reads them: with pipefail, grep -q
# ending a pipe early would fail the writer with SIGPIPE.
info=$(dpkg-deb --info "$deb")
grep -q 'Package: quillcast' <<<"$info" || { echo "package name missing"; exit 1; }
grep -Eq 'Depends:.*libqt6' <<<"$info" || { echo "no Qt dependency recorded"; exit 1; }
dpkg -x "$deb" "$WORK/root"
fail=0
for f in usr/bin/qcsend usr/bin/qvrecv \
         usr/share/applications/qcsend.desktop usr/share/applications/qvrecv.desktop \
         usr/share/quillcast/autostart/qvrecv-autostart.desktop \
         usr/share/man/man1/qcsend.1 usr/share/man/man1/qvrecv.1 \
         usr/share/icons/hicolor/scalable/apps/qcsend.svg usr/share/icons/hicolor/scalable/apps/qvrecv.svg \
         usr/share/icons/hicolor/48x48/apps/qcsend.png usr/share/icons/hicolor/48x48/apps/qvrecv.png; do
  if [ ! -s "$WORK/root/$f" ]; then echo "missing: /$f"; fail=1; fi
done
for p in qcsend qvrecv; do
  [ -x "$WORK/root/usr/bin/$p" ] || { echo "not executable: $p"; fail=1; }
  "$WORK/root/usr/bin/$p" --version >/dev/null 2>&1 || { echo "$p --version failed"; fail=1; }
  grep -q "^Exec=$p" "$WORK/root/usr/share/applications/$p.desktop" || { echo "bad Exec in $p.desktop"; fail=1; }
  # The manual page documents the group, the ports and the settings file.
  for word in 234.0.0.1 'P+1' '.conf' '.log'; do
    grep -qF -- "$word" "$WORK/root/usr/share/man/man1/$p.1" || { echo "$p.1 lacks $word"; fail=1; }
  done
done
grep -q '^Exec=qvrecv' "$WORK/root/usr/share/quillcast/autostart/qvrecv-autostart.desktop" || fail=1
[ $fail -eq 0 ] && echo "package contents complete: $(basename "$deb")"
exit $fail
