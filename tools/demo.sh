#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The demo broadcast. Everything runs inside a private network namespace, so
# no datagram reaches a real network.
#
#   tools/demo.sh BUILD_DIR [--duration SECONDS] [--out DIR]
#
# Without $DISPLAY: a private Xvfb screen with a terminal and a clock is
# broadcast by qcsend and received by a headless qvrecv; the received picture
# is written as a PNG, with a summary. With $DISPLAY: the user's screen is
# broadcast and a receiver window shows it until the user quits.
set -euo pipefail

BUILD=${1:?usage: demo.sh BUILD_DIR [--duration S] [--out DIR]}
shift
DURATION=12
OUT=$PWD/demo-output
while [ $# -gt 0 ]; do
  case $1 in
    --duration) DURATION=$2; shift 2 ;;
    --out) OUT=$2; shift 2 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
BUILD=$(cd "$BUILD" && pwd)
QCSEND=$BUILD/sender/shell/qcsend
QVRECV=$BUILD/receiver/shell/qvrecv
for p in "$QCSEND" "$QVRECV"; do
  [ -x "$p" ] || { echo "demo.sh: $p is not built" >&2; exit 1; }
done

# Re-run inside a private network namespace: as root with unshare -n, else in
# an unprivileged user namespace where the system allows one.
if [ -z "${QC_DEMO_IN_NETNS:-}" ]; then
  export QC_DEMO_IN_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare -n -- "$0" "$BUILD" --duration "$DURATION" --out "$OUT"
  fi
  exec unshare -r -n -- "$0" "$BUILD" --duration "$DURATION" --out "$OUT" || {
    echo "demo.sh: cannot create a private network namespace (run as root)" >&2
    exit 1
  }
fi
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo

mkdir -p "$OUT"
WORK=$(mktemp -d)
export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
PIDS=()
cleanup() {
  [ ${#PIDS[@]} -gt 2 ] && kill -CONT "${PIDS[1]}" "${PIDS[2]}" 2>/dev/null
  for ((i=${#PIDS[@]}-1; i>=0; i--)); do kill "${PIDS[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Datagrams and bytes that reach the receivers, counted by the kernel.
iptables -A INPUT -p udp --dport 5982 2>/dev/null || true
# Update datagrams: type code 0xFFFC (bytes FC FF) at the start of the payload.
iptables -A INPUT -p udp --dport 5982 -m u32 --u32 "0>>22&0x3C@8>>16=0xFCFF" 2>/dev/null || true
counters() {  # prints "packets bytes" of INPUT rule $1
  iptables -L INPUT -v -n -x 2>/dev/null | awk -v n="$1" 'NR==n+2 {print $1, $2}'
}

if [ -n "${DISPLAY:-}" ] && [ -z "${QC_DEMO_HEADLESS:-}" ]; then
  echo "Broadcasting your screen ($DISPLAY) inside a private network namespace."
  echo "Quit the receiver window (or press Ctrl+C) to end."
  "$QCSEND" --headless -start & PIDS+=($!)
  "$QVRECV"
  exit 0
fi

# --- Display-less demo --------------------------------------------------------
# The server picks a free display itself and writes its number once it
# accepts clients: no race with another server starting at the same time.
# -noreset: by default it starts over whenever its last client leaves, and
# the clients here come one after another (the check, xsetroot, xclock), so
# one could meet it in the middle of that.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$WORK/display" 2>"$WORK/xvfb.log" &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$WORK/display")
xset -q >/dev/null 2>&1 || {
  echo "demo.sh: Xvfb did not start" >&2
  cat "$WORK/xvfb.log" >&2
  exit 1
}
xsetroot -solid '#2b4a6f'

xclock -geometry 220x220+1020+40 -update 1 & PIDS+=($!)
xterm -geometry 100x30+40+40 -bg black -fg '#e0e0e0' \
  -e bash -c 'for i in $(seq 1 150); do echo "Quillcast demo line $i: the quick brown fox jumps over the lazy dog"; sleep 0.05; done; sleep 600' &
PIDS+=($!)

"$QCSEND" --headless -start 2> "$WORK/qcsend.err" & SENDER=$!; PIDS+=($SENDER)
sleep 1
"$QVRECV" --headless --snapshot "$OUT/quillcast-demo.png" 2> "$WORK/qvrecv.err" & RECEIVER=$!
PIDS+=($RECEIVER)

# Change the screen a few times while the broadcast runs.
STEP=$(( DURATION / 4 )); [ "$STEP" -lt 1 ] && STEP=1
y=460
for colour in '#3a6b35' '#6f2b4a' '#4a4a4a'; do
  sleep "$STEP"
  xsetroot -solid "$colour"
  y=$((y + 60))
  xterm -geometry 40x4+700+$y -bg '#fff8dc' -fg black -e bash -c "echo 'Background now $colour'; sleep 600" &
  PIDS+=($!)
done

# Let the picture settle: freeze the clock and the scrolling terminal, then
# give the receiver time to catch up.
kill -STOP "${PIDS[1]}" "${PIDS[2]}" 2>/dev/null || true
sleep 2
import -display "$DISPLAY" -window root "$OUT/quillcast-demo-screen.png"
kill -USR1 "$RECEIVER"
sleep 1
read -r packets bytes <<<"$(counters 1)"
read -r updates _ <<<"$(counters 2)"
kill -TERM "$RECEIVER" "$SENDER" 2>/dev/null || true
wait "$RECEIVER" 2>/dev/null || true
wait "$SENDER" 2>/dev/null || true

[ -s "$OUT/quillcast-demo.png" ] || { echo "demo.sh: the receiver wrote no picture" >&2; cat "$WORK/qvrecv.err" >&2; exit 1; }
echo
echo "Quillcast demo: received picture written to $OUT/quillcast-demo.png"
echo "  (the sender's screen at that moment: $OUT/quillcast-demo-screen.png)"
echo "  datagrams received: ${packets:-?}, bytes: ${bytes:-?}, update datagrams: ${updates:-?}"
