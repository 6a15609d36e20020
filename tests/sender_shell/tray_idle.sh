#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# qcsend with its icon in a tray on the screen it shares (Debian's trayer on
# Xvfb): an idle screen sends keep-alives only, however long it stays idle,
# while a real change still goes out and moves the icon. The icon's frames
# are part of the shared screen; were they counted as changes, each would
# send a datagram that advances the icon again, for ever.
#
#   tray_idle.sh QCSEND   (root: network namespaces)
set -uo pipefail
. "$(dirname "$0")/../e2e/e2e_lib.sh"
QCSEND=$(readlink -f "${1:?QCSEND}")
command -v trayer >/dev/null || { echo "FAIL: trayer is not installed"; exit 1; }
[ -n "$PYTHON" ] || { echo "FAIL: python3 is needed for the probe"; exit 1; }
NODES=(s p)
declare -A ADDR=([s]=10.83.0.1 [p]=10.83.0.2)
e2e_init qctray
e2e_network
start_xvfb 640x480x24 DISPLAY
export DISPLAY
in_ns s xsetroot -solid '#30506f'
spawn_in s trayer --edge top --align right --widthtype request --height 24 --SetDockType true
xdotool search --sync --class trayer >/dev/null

# One line per datagram: time and type.
cat >"$WORK/probe.py" <<'EOF'
import socket, struct, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", 5982))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("234.0.0.1") + bytes(4))
out = open(sys.argv[1], "w", buffering=1)
while True:
    data = s.recv(65536)
    out.write("%.6f %04x\n" % (time.time(), struct.unpack("<H", data[:2])[0] if len(data) >= 2 else 0))
EOF
spawn_in p "$PYTHON" "$WORK/probe.py" "$WORK/probe.log"
sleep 0.5

SENDER_HEADLESS= start_sender s sender
wait_for 10 "sender/Quillcast.log" "qcTray: Transmission started" 1 || fail "no transmission"
# The screen where the tray's window is: the icon is the only thing in it
# that changes.
tray_icon() {
  local g
  g=$(xdotool search --class trayer getwindowgeometry --shell %@ | tr '\n' ' ')
  eval "$g"
  in_ns s import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" rgb:- 2>/dev/null | md5sum
}
updates_between() {  # from to (epoch seconds)
  awk -v a="$1" -v b="$2" '$2 == "fffc" && $1 >= a && $1 < b { n++ } END { print n + 0 }' \
    "$WORK/probe.log"
}

sleep 6  # the full-screen update, the icon embedded and settled
t0=$EPOCHREALTIME
sleep 8
t1=$EPOCHREALTIME
idle=$(updates_between "$t0" "$t1")
keep=$(awk -v a="$t0" -v b="$t1" '$2 == "fff7" && $1 >= a && $1 < b { n++ } END { print n + 0 }' \
  "$WORK/probe.log")
say "idle screen with the icon in a tray: $idle update datagrams, $keep keep-alives in 8 s"
[ "$idle" -eq 0 ] || fail "an idle screen sent $idle update datagrams"
[ "$keep" -ge 8 ] || fail "only $keep keep-alives in 8 s"

# While the screen keeps changing the icon shows one frame after another
# (sampled: a whole-screen change steps it once per quarter, so a single
# change may bring back the frame it started from).
t0=$EPOCHREALTIME
( for c in 6f3050 50306f 306f50 6f6f30 306f6f 6f306f 703040 407030 304070 705030; do
    in_ns s xsetroot -solid "#$c"; sleep 0.12
  done ) &
changer=$!
frames=$(for _ in 1 2 3 4 5 6 7 8; do tray_icon; sleep 0.12; done | sort -u | wc -l)
wait "$changer"
sleep 0.5
changed=$(updates_between "$t0" "$EPOCHREALTIME")
say "a changing screen: $changed update datagrams, $frames icon frames seen"
[ "$changed" -ge 1 ] || fail "the changes were not sent"
[ "$frames" -ge 2 ] || fail "the icon did not move while the changes went out"
sleep 2
t0=$EPOCHREALTIME
sleep 4
quiet=$(updates_between "$t0" "$EPOCHREALTIME")
[ "$quiet" -eq 0 ] || fail "$quiet update datagrams after the change was out"

kill -TERM "$PID_sender"; wait "$PID_sender" || fail "qcsend ended with $? on SIGTERM"
[ "$FAILED" -eq 0 ] && { say passed; exit 0; }
exit 1
