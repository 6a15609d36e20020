#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Black-box broadcast test: one qcsend and several qvrecv, each in its own
# network namespace, joined by veth links to a bridge that lives in a
# namespace of its own. Nothing touches the machine's own network.
#
#   broadcast_e2e.sh QCSEND QVRECV DEPTH COMPARE_TOOL
#
# DEPTH is the depth of the sender's Xvfb screen (24 or 16). The test:
#  1. starts three headless receivers (one with 5% loss on its link) and the
#     sender (qcsend --headless -start) on an Xvfb screen;
#  2. changes the screen several times, starts a fourth receiver late, and
#     checks that every receiver's snapshot equals the sender's screen;
#  3. stops the sender (SIGTERM): every receiver must go back to waiting;
#     a new sender's transmission must then be followed again;
#  4. starts a second sender on the same port, which must refuse to start.
# Every namespace and process is removed at the end, also on failure.
set -uo pipefail
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
DEPTH=${3:-24}
COMPARE=$(readlink -f "${4:?COMPARE_TOOL (qc_compare_png)}")
PORT=5982
NODES=(s r1 r2 r3 r4 s2)
declare -A ADDR=([s]=10.77.0.1 [r1]=10.77.0.11 [r2]=10.77.0.12 [r3]=10.77.0.13 [r4]=10.77.0.14 [s2]=10.77.0.2)
e2e_init qce
e2e_network
# 5% loss on the third receiver's link.
e2e_loss r3 0.05 || { fail "iptables statistic match unavailable"; exit 1; }

# --- the sender's screen --------------------------------------------------------
start_xvfb "1024x768x$DEPTH" DISPLAY
export DISPLAY

# Pictures for the screen: detailed ones (many rows, many datagrams) and a
# last, simpler one that is quick to repair on the lossy link.
convert -size 1024x768 gradient:'#203060-#e0a040' "$WORK/gradient.png"
convert -size 1024x768 pattern:checkerboard -fill '#c03030' -draw 'circle 512,384 512,120' \
  -fill white -pointsize 40 -draw "text 100,700 'Quillcast end-to-end'" "$WORK/pattern.png"
screen_image() { in_ns s display -window root "$1" >/dev/null 2>&1 || true; }

# --- 1. three receivers, then the sender ----------------------------------
in_ns s xsetroot -solid '#2b4a6f'
for n in r1 r2 r3; do start_receiver "$n"; done
for n in r1 r2 r3; do
  wait_for 10 "$n" "Quillview - Disconnected" 1 || fail "$n did not start"
done
start_sender s sender1
for n in r1 r2 r3; do
  wait_for 30 "$n" "Quillview - Receiving" 1 || fail "$n did not receive the transmission"
done
say "receivers follow the transmission"

# --- 2. screen changes, a late receiver, pictures compared -----------------
screen_image "$WORK/gradient.png"; sleep 2
in_ns s xsetroot -solid '#6f2b4a'; sleep 1
screen_image "$WORK/pattern.png"; sleep 2
start_receiver r4
wait_for 30 r4 "Quillview - Receiving" 1 || fail "late receiver r4 did not catch up"
in_ns s xsetroot -mod 7 5 -fg '#f0e060' -bg '#304070'
sleep 2
pictures_match 90 r1 r2 r3 r4 && say "every snapshot equals the screen (r3 with 5% loss, r4 started late)" ||
  fail "snapshots differ from the screen"
say "r3 lost $(grep -c 'Lost packet' "$WORK/r3/Quillview.log" 2>/dev/null) packets on its lossy link"

# --- 3. the sender stops, a new one starts ----------------------------------
kill -TERM "$PID_sender1"
wait "$PID_sender1"; rc=$?
[ "$rc" -eq 0 ] || fail "qcsend ended with $rc on SIGTERM"
for n in r1 r2 r3 r4; do
  wait_for 15 "$n" "Quillview - Disconnected" 2 || fail "$n did not go back to waiting"
done
say "every receiver restarted and waits"
in_ns s xsetroot -solid '#1f6e3a'
start_sender s sender2
for n in r1 r2 r3 r4; do
  wait_for 40 "$n" "Quillview - Receiving" 2 || fail "$n did not follow the new sender"
done
in_ns s xsetroot -mod 4 4 -fg '#e0e0e0' -bg '#803020'
sleep 2
pictures_match 90 r1 r2 r3 r4 && say "the new sender's picture is followed" ||
  fail "snapshots differ after the new sender started"

# --- 4. a second sender on the same port is refused ------------------------
start_sender s2 sender3
wait_for 20 sender3 "Another transmitter detected at IP 10.77.0.1, port $PORT" 1 &&
  say "second sender refused: $(grep -m1 'Another transmitter' "$WORK/sender3/stderr")" ||
  fail "second sender was not refused"

# --- the receivers end in order ------------------------------------------------
for n in r1 r2 r3 r4; do
  pid=PID_$n
  kill -TERM "${!pid}"; wait "${!pid}"; rc=$?
  [ "$rc" -eq 0 ] || fail "qvrecv $n ended with $rc on SIGTERM"
done

if [ "$FAILED" -eq 0 ]; then
  say "passed (depth $DEPTH)"
  exit 0
fi
for f in "$WORK"/*/stderr; do echo "--- $f"; tail -5 "$f"; done
exit 1
