#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sending from a GNOME desktop through the ScreenCast portal: a headless
# mutter with xdg-desktop-portal(-gnome), PipeWire and WirePlumber on a
# private session bus and runtime folder, qcsend, a headless qvrecv and a
# wire listener, each in its own network namespace. A small Wayland client
# covers the screen with a known picture.
#
#   portal_e2e.sh QCSEND QVRECV COMPARE_TOOL PATTERN_CLIENT
#
#  1. a pre-approved restore token: qcsend picks the portal by itself, starts
#     without a dialog, and the receiver's picture equals the client's, also
#     after a band of it changed (mutter sends no damage: rows compared);
#  2. a still screen puts nothing but keep-alives on the wire;
#  3. a second start with the token qcsend stored starts without a dialog;
#  4. without a token nobody answers the dialog: qcsend gives up after its
#     timeout, says why, closes the portal session and exits non-zero;
#  5. quitting while the dialog waits (the program's loop runs meanwhile)
#     ends qcsend at once, in order, and closes the portal session.
set -uo pipefail
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL (qc_compare_png)}")
PATTERN=$(readlink -f "${4:?PATTERN_CLIENT (qc_wayland_pattern)}")
PORT=5982
NODES=(s r1 w)
declare -A ADDR=([s]=10.78.0.1 [r1]=10.78.0.11 [w]=10.78.0.12)
for tool in mutter pipewire wireplumber dbus-daemon gdbus busctl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
e2e_init qcp
e2e_network

# --- the desktop ------------------------------------------------------------------
# shellcheck source=gnome_desktop.sh
. "$(dirname "$0")/gnome_desktop.sh"
gnome_desktop_start 640x480 || exit 1
spawn_in s "${SESSION[@]}" WAYLAND_DISPLAY=wayland-0 "$PATTERN" "$WORK/pattern.ppm" \
  >"$WORK/pattern.out" 2>&1
PID_pattern=$SPAWNED
wait_for 20 pattern.out "shown 0" 1 || { fail "the pattern client showed nothing"; exit 1; }
gnome_screencast_approve || exit 1

# The receiver's picture equals the client's.
matches_pattern() {  # seconds
  local deadline=$(( $(date +%s) + $1 ))
  while :; do
    snapshot r1 && $COMPARE "$WORK/r1/snap.png" "$WORK/pattern.ppm" 24 >"$WORK/compare" 2>&1 &&
      return 0
    [ "$(date +%s)" -ge "$deadline" ] && { say "  $(tail -1 "$WORK/compare")"; return 1; }
    sleep 1
  done
}
started_in() {  # sender: seconds from the portal request to the first frame
  awk '/Capturing a .* through the ScreenCast portal/ {print; exit}' "$WORK/$1/Quillcast.log"
}

# --- 1. pre-approved start, pictures byte-exact ----------------------------------
write_listener "$WORK/listen.py"
spawn_in w "$PYTHON" -u "$WORK/listen.py" "$PORT" >"$WORK/wire" 2>&1
start_receiver r1
wait_for 10 r1 "Quillview - Disconnected" 1 || fail "r1 did not start"
mkdir -p "$WORK/sender1/config/Quillcast"
echo "$TOKEN" >"$WORK/sender1/config/Quillcast/ScreenCastToken"
start_sender s sender1
wait_for 30 r1 "Quillview - Receiving" 1 || fail "r1 did not receive the transmission"
grep -q "ScreenCast portal capture (Wayland session)" "$WORK/sender1/stderr" ||
  fail "qcsend did not choose the portal by itself: $(head -1 "$WORK/sender1/stderr")"
[ -n "$(started_in sender1)" ] || fail "no portal capture in the log"
matches_pattern 20 && say "pre-approved start: the receiver's picture equals the client's" ||
  fail "the picture differs from the client's"
kill -USR1 "$PID_pattern"
wait_for 10 pattern.out "shown 1" 1 || fail "the pattern client did not redraw"
matches_pattern 20 && say "... also after a band of rows changed" ||
  fail "the picture differs after a band of rows changed"

# --- 1b. a pointer appears: its cursor comes as metadata -----------------------
# Mutter's remote-desktop API gives the headless session a pointer; the
# helper keeps its session until it is ended.
cat >"$WORK/pointer.py" <<'EOF_POINTER'
import sys, time, dbus
bus = dbus.SessionBus()
mutter = bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
path = mutter.CreateSession(dbus_interface="org.gnome.Mutter.RemoteDesktop")
session = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                         "org.gnome.Mutter.RemoteDesktop.Session")
session.Start()
for step in range(int(sys.argv[1])):
    session.NotifyPointerMotionRelative(dbus.Double(7.0), dbus.Double(5.0))
    time.sleep(0.05)
print("moved", flush=True)
time.sleep(3600)
EOF_POINTER
lines=$(wc -l <"$WORK/wire")
spawn_in s /usr/bin/python3 -u "$WORK/pointer.py" 20 >"$WORK/pointer.out" 2>&1
wait_for 20 pointer.out "moved" 1 || fail "no pointer: $(tail -1 "$WORK/pointer.out")"
# A loaded machine delays mutter's frames: wait for them, up to 20 s. A
# busy sender sends only the latest position of several moves.
for _ in $(seq 100); do
  shapes=$(tail -n +"$((lines + 1))" "$WORK/wire" | awk '$3 == "fff9"' | wc -l)
  moves=$(tail -n +"$((lines + 1))" "$WORK/wire" | awk '$3 == "fffa"' | wc -l)
  [ "$shapes" -ge 1 ] && [ "$moves" -ge 1 ] && break
  sleep 0.2
done
if [ "$shapes" -lt 1 ] || [ "$moves" -lt 1 ]; then
  fail "the pointer's cursor: $shapes shapes and $moves positions sent"
fi
# Metadata, not drawn in: the picture is still the client's alone.
matches_pattern 10 && say "the cursor goes out as its own shape and $moves positions, not in the picture" ||
  fail "the picture differs from the client's once a pointer exists"

# --- 2. a still screen: keep-alives only ------------------------------------------
sleep 1
lines=$(wc -l <"$WORK/wire")
ticks_before=$(awk '{print $14 + $15}' "/proc/$PID_sender1/stat")
sleep 4
ticks=$(( $(awk '{print $14 + $15}' "/proc/$PID_sender1/stat") - ticks_before ))
others=$(tail -n +"$((lines + 1))" "$WORK/wire" | awk '$3 != "fff7"' | wc -l)
[ "$others" -eq 0 ] || fail "still screen: $others datagrams besides keep-alives in 4 s"
[ "$ticks" -le 8 ] || fail "the sender used $ticks ticks of CPU in 4 s of a still screen"
say "still screen: keep-alives only, $ticks CPU ticks in 4 s"

kill -TERM "$PID_sender1"
wait "$PID_sender1"; rc=$?
[ "$rc" -eq 0 ] || fail "qcsend ended with $rc on SIGTERM"
STORED=$(cat "$WORK/sender1/config/Quillcast/ScreenCastToken" 2>/dev/null)
[[ "$STORED" =~ ^[0-9a-f-]{36}$ ]] || fail "no restore token stored: '$STORED'"
wait_for 10 r1 "Quillview - Disconnected" 2 || fail "r1 did not go back to waiting"

# --- 3. the second start reuses the stored token ----------------------------------
mkdir -p "$WORK/sender2/config/Quillcast"
cp "$WORK/sender1/config/Quillcast/ScreenCastToken" "$WORK/sender2/config/Quillcast/"
start_sender s sender2 --capture portal
wait_for 30 r1 "Quillview - Receiving" 2 || fail "r1 did not follow the second start"
[ -n "$(started_in sender2)" ] || fail "the second start did not capture: $(tail -2 "$WORK/sender2/Quillcast.log")"
matches_pattern 20 && say "second start with the stored token: no dialog, same picture" ||
  fail "the second start's picture differs"
kill -TERM "$PID_sender2"
wait "$PID_sender2"
wait_for 10 r1 "Quillview - Disconnected" 3 || fail "r1 did not go back to waiting"

# --- 4. nobody answers the dialog -------------------------------------------------
closed_before=$(count bus.log "screen cast session owned by .* closed")
export QC_PORTAL_ANSWER_TIMEOUT=3
start_sender s sender3
unset QC_PORTAL_ANSWER_TIMEOUT
for _ in $(seq 100); do kill -0 "$PID_sender3" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$PID_sender3" 2>/dev/null; then
  fail "qcsend still waits 10 s after a 3 s answer timeout"
else
  wait "$PID_sender3"; rc=$?
  [ "$rc" -ne 0 ] || fail "qcsend reported success although it could not start"
fi
grep -q "Nobody answered the desktop's screen-sharing dialog" "$WORK/sender3/Quillcast.log" ||
  fail "the log does not say why: $(tail -2 "$WORK/sender3/Quillcast.log")"
grep -q "Nobody answered the desktop's screen-sharing dialog in time" "$WORK/sender3/stderr" ||
  fail "the error message does not say why: $(tail -2 "$WORK/sender3/stderr")"
wait_for 5 bus.log "screen cast session owned by .* closed" $((closed_before + 1)) ||
  fail "the portal session was not closed"
[ "$(count r1 "Quillview - Receiving")" -eq 2 ] || fail "r1 received from the refused sender"
say "unanswered dialog: qcsend gave up after its timeout and closed the session"

# --- 5. quit while the dialog waits ---------------------------------------------
# The GNOME portal's backend (43) ends when a session is closed while its
# dialog is open; the bus starts it again on the next call, and it offers
# ScreenCast only once it has found mutter again.
for _ in $(seq 50); do
  in_ns s busctl --user introspect org.freedesktop.impl.portal.desktop.gnome \
    /org/freedesktop/portal/desktop 2>/dev/null | grep -q impl.portal.ScreenCast && break
  sleep 0.2
done
closed_before=$(count bus.log "screen cast session owned by .* closed")
export QC_PORTAL_ANSWER_TIMEOUT=120
start_sender s sender4
unset QC_PORTAL_ANSWER_TIMEOUT
wait_for 10 sender4 "Waiting for the desktop's permission to share the screen" 1 ||
  fail "qcsend does not say that it waits for the desktop: $(tail -2 "$WORK/sender4/stderr")"
quit_at=$(date +%s%N)
kill -TERM "$PID_sender4"
for _ in $(seq 30); do kill -0 "$PID_sender4" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$PID_sender4" 2>/dev/null; then
  fail "qcsend still waits for the dialog 3 s after SIGTERM"
else
  wait "$PID_sender4"; rc=$?
  [ "$rc" -eq 0 ] || fail "qcsend ended with $rc on SIGTERM during the wait"
  say "quit during the wait: qcsend ended after $(( ($(date +%s%N) - quit_at) / 1000000 )) ms"
fi
grep -q "Quit while waiting for the desktop's permission" "$WORK/sender4/Quillcast.log" ||
  fail "the log does not say that the wait was ended: $(tail -2 "$WORK/sender4/Quillcast.log")"
wait_for 5 bus.log "screen cast session owned by .* closed" $((closed_before + 1)) ||
  fail "the portal session was not closed after the quit"
[ "$(count r1 "Quillview - Receiving")" -eq 2 ] || fail "r1 received from the quitting sender"

[ "$FAILED" -eq 0 ] && say "PASS" || say "FAILED"
exit "$FAILED"
