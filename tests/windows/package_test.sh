#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows packages: cpack makes the zip and the installer in
# BUILD/packages; the zip must hold the programs and the README; the
# installer, run silently under Wine, must put the programs in Program Files,
# add their Start-menu entries and an uninstaller, and the uninstaller must
# take all of it away again.
#   package_test.sh BUILD WINE_RUN PREFIX PROGRAM=START_MENU_ENTRY...
set -eu
BUILD=$1 WINE_RUN=$2 PREFIX=$3
shift 3
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$BUILD/packages"
cpack --config "$BUILD/CPackConfig.cmake" >/dev/null
zip=$(ls "$BUILD"/packages/Quillcast-*-win64.zip)
setup=$(ls "$BUILD"/packages/Quillcast-*-win64.exe)
top=$(basename "$zip" .zip)

listing=$(unzip -Z1 "$zip")
for pair in "$@"; do
  program=${pair%%=*}
  echo "$listing" | grep -qx "$top/$program.exe" || fail "$program.exe not in the zip"
done
for doc in README.txt LICENSE.txt gf-complete-LICENSE.txt; do
  echo "$listing" | grep -qx "$top/$doc" || fail "$doc not in the zip"
done
file "$setup" | grep -q 'PE32+ executable (GUI) x86-64' || fail "installer is not a 64-bit program"

programs_dir="$PREFIX/drive_c/Program Files/Quillcast"
rm -rf "$programs_dir"
"$WINE_RUN" "$PREFIX" "$setup" /S || fail "installer failed"
"$WINE_RUN" "$PREFIX" --wait
for pair in "$@"; do
  program=${pair%%=*} entry=${pair#*=}
  [ -f "$programs_dir/$program.exe" ] || fail "$program.exe not installed in Program Files"
  unzip -p "$zip" "$top/$program.exe" | cmp -s - "$programs_dir/$program.exe" ||
    fail "installed $program.exe differs from the zip's"
  find "$PREFIX/drive_c" -path '*Start Menu/Programs/Quillcast/*' -name "$entry.lnk" | grep -q . ||
    fail "no Start-menu entry $entry"
done
[ -f "$programs_dir/Uninstall.exe" ] || fail "no uninstaller"
"$WINE_RUN" "$PREFIX" reg query \
  'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
  grep -q 'Uninstall.exe' || fail "uninstaller not registered"

# The uninstaller copies itself to TEMP, starts the copy and returns at once:
# wait until the copy has ended too.
"$WINE_RUN" "$PREFIX" 'C:\Program Files\Quillcast\Uninstall.exe' /S || fail "uninstaller failed"
"$WINE_RUN" "$PREFIX" --wait
for pair in "$@"; do
  program=${pair%%=*}
  [ ! -e "$programs_dir/$program.exe" ] || fail "$program.exe left after uninstalling"
done
! find "$PREFIX/drive_c" -path '*Start Menu/Programs/Quillcast*' | grep -q . ||
  fail "Start-menu entries left after uninstalling"
echo "packages: $(basename "$zip") $(basename "$setup"): installed and removed"
