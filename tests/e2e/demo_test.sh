#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the demo without a display and checks what it leaves behind.
#   demo_test.sh DEMO_SCRIPT BUILD_DIR COMPARE_TOOL
set -euo pipefail
DEMO=$1 BUILD=$2 COMPARE=$3
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
env -u DISPLAY -u QC_DEMO_IN_NETNS bash "$DEMO" "$BUILD" --duration 6 --out "$OUT" | tee "$OUT/summary"
grep -q "received picture written to $OUT/quillcast-demo.png" "$OUT/summary"
grep -Eq 'datagrams received: [1-9][0-9]*, bytes: [1-9][0-9]*, update datagrams: [1-9]' "$OUT/summary"
# The received picture equals the private screen (within the 32-bit colour
# reduction of the wire format).
"$COMPARE" "$OUT/quillcast-demo.png" "$OUT/quillcast-demo-screen.png" 24
echo "demo picture matches the screen"
