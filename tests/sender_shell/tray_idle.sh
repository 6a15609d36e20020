#!/usr/bin/env bash
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
# The icon in the tray's window (the tray grows to the left of the screen's
# right edge as icons embed).
tray_icon() { in_ns s import -window root -crop 64x24+576+0 rgb:- 2>/dev/null | md5sum; }
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

before=$(tray_icon)
t0=$EPOCHREALTIME
in_ns s xsetroot -solid '#6f3050'
sleep 1
after=$(tray_icon)
t1=$EPOCHREALTIME
changed=$(updates_between "$t0" "$t1")
say "a real change: $changed update datagrams"
[ "$changed" -ge 1 ] || fail "the change was not sent"
[ "$before" != "$after" ] || fail "the icon did not move while the change went out"
sleep 2
t0=$EPOCHREALTIME
sleep 4
quiet=$(updates_between "$t0" "$EPOCHREALTIME")
[ "$quiet" -eq 0 ] || fail "$quiet update datagrams after the change was out"

kill -TERM "$PID_sender"; wait "$PID_sender" || fail "qcsend ended with $? on SIGTERM"
[ "$FAILED" -eq 0 ] && { say passed; exit 0; }
exit 1
