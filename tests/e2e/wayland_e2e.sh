#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sending from a wlroots desktop: qcsend on a headless sway (run as the
# unprivileged user nobody, in a runtime folder of its own), a headless
# qvrecv and a wire listener, each in its own network namespace.
#
#   wayland_e2e.sh QCSEND QVRECV COMPARE_TOOL
#
#  1. qcsend picks wlr-screencopy by itself on the Wayland session and says
#     so; the receiver's picture equals grim's screenshot, byte for byte,
#     also after the background changed;
#  2. a still screen puts nothing but keep-alives on the wire, and the
#     sender uses next to no CPU;
#  3. the output's new resolution ends the transmission in order (the
#     disconnection goes out, the receiver waits again, qcsend exits);
#  4. a -region sender on the new output sends exactly grim's crop.
set -uo pipefail
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL (qc_compare_png)}")
PORT=5982
NODES=(s r1 w)
declare -A ADDR=([s]=10.79.0.1 [r1]=10.79.0.11 [w]=10.79.0.12)
for tool in sway swaybg swaymsg grim setpriv convert; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
e2e_init qcw
e2e_network
unset DISPLAY XDG_SESSION_TYPE

# --- the compositor -------------------------------------------------------------
# sway refuses to run as root: it runs as nobody, which must reach WORK.
chmod 711 "$WORK"
RT=$WORK/rt
mkdir "$RT" && chown nobody:nogroup "$RT" && chmod 700 "$RT"
convert -size 640x480 plasma:fractal -seed 7 "$WORK/plasma.png"
convert -size 640x480 pattern:checkerboard -fill '#c03030' -draw 'circle 320,240 320,60' \
  "$WORK/pattern.png"
chmod 644 "$WORK"/*.png
printf 'output HEADLESS-1 resolution 640x480 position 0 0 bg %s fill\n' "$WORK/plasma.png" \
  >"$WORK/sway.conf"
chmod 644 "$WORK/sway.conf"
spawn_in s setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -i PATH=/usr/bin:/bin HOME="$RT" XDG_RUNTIME_DIR="$RT" WLR_BACKENDS=headless \
  WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$WORK/sway.conf" >"$WORK/sway.log" 2>&1
for _ in $(seq 50); do [ -S "$RT/wayland-1" ] && ls "$RT"/sway-ipc.*.sock >/dev/null 2>&1 && break; sleep 0.1; done
[ -S "$RT/wayland-1" ] || { fail "sway did not start: $(tail -3 "$WORK/sway.log")"; exit 1; }
export WAYLAND_DISPLAY=$RT/wayland-1
SWAYSOCK=$(ls "$RT"/sway-ipc.*.sock)
sway_msg() { in_ns s env SWAYSOCK="$SWAYSOCK" swaymsg "$@" >>"$WORK/swaymsg.log" 2>&1; }
# swaybg draws the background a moment after sway starts or changes it.
settle() { sleep 1.5; }
settle

# Whether the receiver's snapshot equals grim's picture of the given
# geometry (whole output when empty), within the time given.
matches_grim() {  # seconds [geometry]
  local deadline=$(( $(date +%s) + $1 ))
  while :; do
    if [ -n "${2:-}" ]; then in_ns s grim -g "$2" "$WORK/screen.png"; else in_ns s grim "$WORK/screen.png"; fi
    snapshot r1 && $COMPARE "$WORK/r1/snap.png" "$WORK/screen.png" 24 >"$WORK/compare" 2>&1 && return 0
    [ "$(date +%s)" -ge "$deadline" ] && { say "  $(tail -1 "$WORK/compare")"; return 1; }
    sleep 1
  done
}

# --- 1. the sender chooses wlr-screencopy, pictures byte-exact -----------------
write_listener "$WORK/listen.py"
spawn_in w "$PYTHON" -u "$WORK/listen.py" "$PORT" >"$WORK/wire" 2>&1
start_receiver r1
wait_for 10 r1 "Quillview - Disconnected" 1 || fail "r1 did not start"
start_sender s sender1
wait_for 30 r1 "Quillview - Receiving" 1 || fail "r1 did not receive the transmission"
grep -q "wlr-screencopy capture (Wayland session)" "$WORK/sender1/stderr" ||
  fail "qcsend did not choose wlr-screencopy by itself: $(head -1 "$WORK/sender1/stderr")"
matches_grim 20 && say "the receiver's picture equals grim's" || fail "the picture differs from grim's"
sway_msg output HEADLESS-1 bg "$WORK/pattern.png" fill
settle
matches_grim 20 && say "... also after the background changed" ||
  fail "the picture differs from grim's after the background changed"

# --- 2. a still screen: keep-alives only ------------------------------------------
sleep 1
lines=$(wc -l <"$WORK/wire")
ticks_before=$(awk '{print $14 + $15}' "/proc/$PID_sender1/stat")
sleep 5
ticks=$(( $(awk '{print $14 + $15}' "/proc/$PID_sender1/stat") - ticks_before ))
others=$(tail -n +"$((lines + 1))" "$WORK/wire" | awk '$3 != "fff7"' | wc -l)
keepalives=$(tail -n +"$((lines + 1))" "$WORK/wire" | awk '$3 == "fff7"' | wc -l)
if [ "$others" -ne 0 ] || [ "$keepalives" -lt 5 ]; then
  fail "still screen: $keepalives keep-alives and $others other datagrams in 5 s"
fi
# 5 s are 500 ticks: at most 2% of a core (the goal, 0.5%, is a benchmark's).
[ "$ticks" -le 10 ] || fail "the sender used $ticks ticks of CPU in 5 s of a still screen"
say "still screen: $keepalives keep-alives, nothing else, $ticks CPU ticks in 5 s"

# --- 3. a new resolution ends the transmission in order ---------------------------
lines=$(wc -l <"$WORK/wire")
sway_msg output HEADLESS-1 resolution 800x600
for _ in $(seq 50); do kill -0 "$PID_sender1" 2>/dev/null || break; sleep 0.2; done
kill -0 "$PID_sender1" 2>/dev/null && fail "qcsend still runs after the output's resize"
tail -n +"$((lines + 1))" "$WORK/wire" | grep -q ' fffe ' ||
  fail "no disconnection datagram (0xFFFE) after the resize"
wait_for 10 r1 "Quillview - Disconnected" 2 || fail "r1 did not go back to waiting"
grep -q "changed its mode\|changed their size" "$WORK/sender1/Quillcast.log" ||
  fail "the sender's log does not say why it ended"
say "the resize ended the transmission: $(grep -m1 'changed' "$WORK/sender1/Quillcast.log")"

# --- 4. a region of the new output ---------------------------------------------------
settle
start_sender s sender2 --capture wlr -region 320x200+40+30
wait_for 30 r1 "Quillview - Receiving" 2 || fail "r1 did not follow the region sender"
matches_grim 20 "40,30 320x200" && say "the region sender sends exactly grim's crop" ||
  fail "the region's picture differs from grim's crop"
kill -TERM "$PID_sender2"
wait "$PID_sender2"; rc=$?
[ "$rc" -eq 0 ] || fail "qcsend ended with $rc on SIGTERM"

[ "$FAILED" -eq 0 ] && say "PASS" || say "FAILED"
exit "$FAILED"
