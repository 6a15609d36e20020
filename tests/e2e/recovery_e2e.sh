#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Black-box recovery test: a receiver is never left frozen on a transmission
# that has ended, and a sender is never kept from starting by someone else's.
# Every host is a network namespace on a private bridge (see e2e_lib.sh).
#
#   recovery_e2e.sh QCSEND QVRECV COMPARE_TOOL
#
# The cases run side by side, each on its own hosts and port:
#  a. a headless receiver follows sender A (800x600); A is killed (SIGKILL,
#     no disconnection datagram) and sender B starts on another screen
#     (640x480): the receiver's snapshot must equal B's screen within 25 s;
#  b. the same with a receiver window on its own Xvfb: the window must show
#     B's screen;
#  c. sender C's screen is resized (xrandr --fb): C ends, and the wire must
#     carry its disconnection datagram, which sends its receiver back to
#     waiting at once;
#  d. receivers (windowed) whose stored port is the port sender D uses, started
#     with -port N, must never show D, not even when D's init message comes
#     while they start (D's init is repeated on the wire to make that likely);
#  e. two users' senders on one host (root and nobody, neither with a
#     runtime folder, one /tmp) must both transmit;
#  f. two receivers, each behind its own 5% loss, must equal a terminal's
#     screen within 3 s after it stops printing (lost rows are repaired, not
#     left for a full-screen update); a receiver started during the
#     transmission has its picture within 3 s; ten started at once cost at
#     most two full-screen updates;
#  g. the same screen signed (qcsend --new-key) by a second sender: two
#     receivers that trust its key, each behind 5% loss, must equal it within
#     3 s after the terminal stops (repairs go out under later signature
#     lists), naming the signing sender as their source.
# Each case prints "case X: passed" or "case X: FAILED: reason".
set -uo pipefail
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL (qc_compare_png)}")
# a and b use the default port, 5982.
PORT_C=5990 PORT_D=5986 PORT_D_CMD=5988 PORT_E1=5992 PORT_E2=5994 PORT_F=5996 PORT_G=5998
NODES=(s r1 r2 cs cr ds d1 d2 d3 e fs f1 f2 fj gs g1 g2)
declare -A ADDR=([s]=10.78.0.1 [r1]=10.78.0.11 [r2]=10.78.0.12 [cs]=10.78.0.2 [cr]=10.78.0.21
                 [ds]=10.78.0.3 [d1]=10.78.0.31 [d2]=10.78.0.32 [d3]=10.78.0.33 [e]=10.78.0.4
                 [fs]=10.78.0.5 [f1]=10.78.0.51 [f2]=10.78.0.52 [fj]=10.78.0.53
                 [gs]=10.78.0.6 [g1]=10.78.0.61 [g2]=10.78.0.62)
DEPTH=24
e2e_init qcr
e2e_network
declare -A RESULT

case_failed() {  # case reason
  [ -n "${RESULT[$1]:-}" ] && return
  RESULT[$1]="FAILED: $2"
  fail "case $1: $2"
}
case_passed() { [ -n "${RESULT[$1]:-}" ] || RESULT[$1]=passed; }

# An invisible cursor for the sender screens, so that the remote cursor the
# receiver window draws hides no pixel of the comparison.
printf '#define b_width 1\n#define b_height 1\n#define b_x_hot 0\n#define b_y_hot 0\n%s\n' \
  'static char b_bits[] = {' '  0x00, };' >"$WORK/blank.xbm"
on_screen() {  # node display command...
  local n=$1 d=$2; shift 2
  in_ns "$n" env DISPLAY="$d" "$@"
}
paint() {  # node display background foreground
  on_screen "$1" "$2" xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
  on_screen "$1" "$2" xsetroot -mod 9 7 -fg "$4" -bg "$3"
}
grab() { on_screen "$1" "$2" import -window root "$3"; }

# The picture of a headless receiver equals a screen: "" or why not.
snapshot_differs() {  # receiver screen.png
  if ! snapshot "$1"; then
    echo "no picture ($(tail -1 "$WORK/$1/stderr"))"
  elif ! $COMPARE "$WORK/$1/snap.png" "$2" "$DEPTH" >"$WORK/$1/compare" 2>&1; then
    tail -1 "$WORK/$1/compare"
  fi
}

# The receiver window of r2 (no window manager: the window is its picture)
# equals a screen: "" or why not.
window_differs() {  # screen.png
  local id geometry
  id=$(on_screen r2 "$DISPLAY_R2" xdotool search --onlyvisible --name '^Quillview$' 2>/dev/null | head -1)
  [ -n "$id" ] || { echo "no receiver window"; return; }
  geometry=$(on_screen r2 "$DISPLAY_R2" xdotool getwindowgeometry --shell "$id" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print w "x" h "+" x "+" y}')
  on_screen r2 "$DISPLAY_R2" import -window root "$WORK/r2/desk.png"
  convert "$WORK/r2/desk.png" -crop "$geometry" +repage "$WORK/r2/window.png"
  if ! $COMPARE "$WORK/r2/window.png" "$1" "$DEPTH" >"$WORK/r2/compare" 2>&1; then
    echo "window $geometry: $(tail -1 "$WORK/r2/compare")"
  fi
}

# Retries a *_differs check until it holds or the time (seconds since the
# epoch) is up; the last reason is in WHY.
until_same() {  # deadline check args...
  local deadline=$1; shift
  while :; do
    WHY=$("$@")
    [ -z "$WHY" ] && return 0
    [ "$(date +%s)" -ge "$deadline" ] && return 1
    sleep 2
  done
}

write_listener "$WORK/listen.py"
# Waits for a transmission's first init message on a port and for a trigger
# file, then repeats the init on the group (bursts of ten every half
# millisecond) for the given seconds.
cat >"$WORK/repeat_init.py" <<'EOF'
import os, socket, sys, time
port, seconds, trigger = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", port))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("234.0.0.1") + bytes(4))
data = b""
while len(data) < 24 or data[:2] != b"\xff\xff":
    data = s.recv(65536)
print("init seen", flush=True)
while not os.path.exists(trigger):
    time.sleep(0.05)
out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 64)
print("repeating", flush=True)
end = time.time() + seconds
while time.time() < end:
    for _ in range(10):
        out.sendto(data, ("234.0.0.1", port))
    time.sleep(0.0005)
print("done", flush=True)
EOF

# --- screens ---------------------------------------------------------------------
start_xvfb 800x600x24 DISPLAY_A
start_xvfb 640x480x24 DISPLAY_B
start_xvfb 1024x768x24 DISPLAY_R2
start_xvfb 800x600x24 DISPLAY_C
start_xvfb 640x480x24 DISPLAY_D
start_xvfb 640x480x24 DISPLAY_E
start_xvfb 800x600x24 DISPLAY_DR
start_xvfb 640x480x24 DISPLAY_F
paint s "$DISPLAY_A" '#2b4a6f' '#e0c040'
paint s "$DISPLAY_B" '#6f2b2b' '#40e0a0'
paint cs "$DISPLAY_C" '#305030' '#f0f0f0'
paint ds "$DISPLAY_D" '#503050' '#a0a0f0'
on_screen r2 "$DISPLAY_R2" xsetroot -solid '#202020'

# --- f: a terminal prints for 3 s whenever WORK/f-go appears ------------------
on_screen fs "$DISPLAY_F" xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
(DISPLAY=$DISPLAY_F exec xterm -geometry 100x34+0+0 -e bash -c \
  "i=0; while :; do if [ -e '$WORK/f-go' ]; then for k in \$(seq 150); do
     echo \"line \$i \$RANDOM\$RANDOM the quick brown fox jumps over the lazy dog\"; i=\$((i+1));
     sleep 0.02; done; rm -f '$WORK/f-go'; fi; sleep 0.05; done") 2>/dev/null &
PIDS+=($!)
for n in f1 f2; do e2e_loss "$n" 0.05; done
RECEIVER_CONF="MulticastPort=$PORT_F
" start_receiver f1
RECEIVER_CONF="MulticastPort=$PORT_F
" start_receiver f2
DISPLAY=$DISPLAY_F start_sender fs senderF -port "$PORT_F"
# g: a signing sender of the same screen.
mkdir -p "$WORK/senderG/config"
KEY_G=$(XDG_CONFIG_HOME=$WORK/senderG/config in_ns gs "$QCSEND" --new-key |
        awk 'NF == 1 && length($1) == 44 {print $1}')
[ -n "$KEY_G" ] || case_failed g "qcsend --new-key printed no key"
for n in g1 g2; do
  e2e_loss "$n" 0.05
  RECEIVER_CONF="MulticastPort=$PORT_G
" start_receiver "$n" --trust "$KEY_G"
done
DISPLAY=$DISPLAY_F start_sender gs senderG -port "$PORT_G"

# --- receivers and senders of a, b, c, d -----------------------------------
spawn_in cr "$PYTHON" -u "$WORK/listen.py" "$PORT_C" >"$WORK/c-wire" 2>&1
spawn_in ds "$PYTHON" -u "$WORK/repeat_init.py" "$PORT_D" 4 "$WORK/d-go" >"$WORK/d-repeat" 2>&1
start_receiver r1
DISPLAY=$DISPLAY_R2 start_receiver_with r2
RECEIVER_CONF="MulticastPort=$PORT_C
" start_receiver cr
DISPLAY=$DISPLAY_A start_sender s senderA
DISPLAY=$DISPLAY_C start_sender cs senderC -port "$PORT_C"
DISPLAY=$DISPLAY_D start_sender ds senderD -port "$PORT_D"

# --- e: root's and nobody's sender on one host, one /tmp, no runtime folder ----
# Both see WORK/e-tmp as /tmp (a private mount), so nothing else on the machine
# shares their lock; the X server's socket folder is mounted into it.
for who in root nobody; do
  mkdir -p "$WORK/e-tmp/$who/config/Quillcast"
  echo "EnableLogging=1" >"$WORK/e-tmp/$who/config/Quillcast/Vorazudud.conf"
done
mkdir -p "$WORK/e-tmp/.X11-unix" && chmod 1777 "$WORK/e-tmp"
chown -R 65534:65534 "$WORK/e-tmp/nobody"
# The program is copied in: the private /tmp hides a build folder under /tmp.
cp "$QCSEND" "$WORK/e-tmp/qcsend" && chmod 755 "$WORK/e-tmp/qcsend"
spawn_in e "$PYTHON" -u "$WORK/listen.py" "$PORT_E1" "$PORT_E2" >"$WORK/e-wire" 2>&1
sender_as() {  # user-home port [setpriv arguments...]
  local home=$1 port=$2; shift 2
  env -u XDG_RUNTIME_DIR HOME="/tmp/$home" XDG_CONFIG_HOME="/tmp/$home/config" \
    DISPLAY="$DISPLAY_E" ip netns exec "$TAG-e" unshare -m sh -c \
    'mount --bind /tmp/.X11-unix "$1/.X11-unix" && mount --rbind "$1" /tmp && cd "/tmp/$2" && h=$2 && shift 2 && exec "$@" 2>"/tmp/$h/stderr"' \
    sh "$WORK/e-tmp" "$home" "$@" /tmp/qcsend --headless -start -port "$port" &
  PIDS+=($!)
}
sender_as root "$PORT_E1"
sleep 2
sender_as nobody "$PORT_E2" setpriv --reuid=65534 --regid=65534 --clear-groups

# --- a, b: the first transmission is followed ---------------------------------
for n in r1 cr; do
  wait_for 30 "$n" "Quillview - Receiving" 1 || fail "$n did not receive its first transmission"
done
# A receiver with a window reports its state on its tray icon, not on stderr.
wait_for 30 r2/Quillview.log "Received server init message" 1 ||
  fail "r2 did not receive its first transmission"
grab s "$DISPLAY_A" "$WORK/screenA.png"
until_same $(( $(date +%s) + 20 )) snapshot_differs r1 "$WORK/screenA.png" ||
  case_failed a "the first transmission was not shown: $WHY"
until_same $(( $(date +%s) + 20 )) window_differs "$WORK/screenA.png" ||
  case_failed b "the first transmission was not shown: $WHY"
say "r1 and r2 show sender A"

# --- d: receivers started with -port N while D's init is repeated -------------
wait_for 10 d-repeat "init seen" 1 || fail "sender D's init message was not seen"
touch "$WORK/d-go"
wait_for 5 d-repeat repeating 1
for n in d1 d2 d3; do
  DISPLAY=$DISPLAY_DR RECEIVER_CONF="MulticastPort=$PORT_D
" start_receiver_with "$n" \
    --snapshot "$WORK/$n/snap.png" -port "$PORT_D_CMD"
  sleep 0.7
done

# --- f: the lossy receivers after the terminal stopped; a late joiner ------------
# Within 3 s, checked every 0.3 s; "" or why not.
f_differs() {  # receiver screen.png
  local end=$(( $(date +%s) + 3 ))
  while :; do
    WHY=$(snapshot_differs "$1" "$2")
    [ -z "$WHY" ] && return 0
    [ "$(date +%s)" -ge "$end" ] && return 1
    sleep 0.3
  done
}
# A lost init message leaves a receiver waiting for its next request (5 s).
for n in f1 f2; do
  wait_for 12 "$n" "Quillview - Receiving" 1 || case_failed f "$n (5% loss) got no picture"
done
for n in g1 g2; do
  wait_for 12 "$n" "Quillview - Receiving from ${ADDR[gs]}" 1 ||
    case_failed g "$n (signed, 5% loss) got no picture from the signing sender"
done
touch "$WORK/f-go"
for _ in 1 2; do
  for _ in $(seq 100); do [ -e "$WORK/f-go" ] || break; sleep 0.1; done
  grab fs "$DISPLAY_F" "$WORK/screenF.png"
  for n in f1 f2; do
    f_differs "$n" "$WORK/screenF.png" || case_failed f "$n (5% loss) 3 s after the screen stopped: $WHY"
  done
  for n in g1 g2; do
    f_differs "$n" "$WORK/screenF.png" ||
      case_failed g "$n (signed, 5% loss) 3 s after the screen stopped: $WHY"
  done
  touch "$WORK/f-go"
done
for _ in $(seq 100); do [ -e "$WORK/f-go" ] || break; sleep 0.1; done
grab fs "$DISPLAY_F" "$WORK/screenF.png"
RECEIVER_CONF="MulticastPort=$PORT_F
" start_receiver fj
if ! wait_for 3 fj "Quillview - Receiving" 1; then
  case_failed f "a receiver started during the transmission had no picture after 3 s"
elif ! f_differs fj "$WORK/screenF.png"; then
  case_failed f "a receiver started during the transmission: $WHY"
fi
f_full=$(count senderF/Quillcast.log 'Sending fullscreen update')
for i in $(seq 10); do
  mkdir -p "$WORK/fj$i/config/Quillcast"
  printf 'MulticastPort=%s\n' "$PORT_F" >"$WORK/fj$i/config/Quillcast/Receiver.conf"
  (XDG_CONFIG_HOME=$WORK/fj$i/config exec ip netns exec "$TAG-fj" "$QVRECV" --headless \
     2>"$WORK/fj$i/stderr") &
  PIDS+=($!)
done
for i in $(seq 10); do wait_for 20 "fj$i" "Quillview - Receiving" 1 || case_failed f "joiner $i got no picture"; done
f_full=$(( $(count senderF/Quillcast.log 'Sending fullscreen update') - f_full ))
[ "$f_full" -le 2 ] || case_failed f "ten receivers started at once cost $f_full full-screen updates"
say "f: ten receivers started at once cost $f_full full-screen updates"
case_passed f
case_passed g

# --- a, b: A vanishes, B starts on another screen -------------------------------
kill -KILL "$PID_senderA"
wait "$PID_senderA" 2>/dev/null
KILLED_AT=$(date +%s)
say "sender A killed"
DISPLAY=$DISPLAY_B start_sender s senderB
grab s "$DISPLAY_B" "$WORK/screenB.png"

# --- c: C's screen is resized ----------------------------------------------
c_lines=$(wc -l <"$WORK/c-wire")
# Xvfb's largest screen is its first one: the smaller size needs a mode.
{ on_screen cs "$DISPLAY_C" xrandr --newmode 640x480 0 640 0 0 0 480 0 0 0 &&
  on_screen cs "$DISPLAY_C" xrandr --addmode screen 640x480 &&
  on_screen cs "$DISPLAY_C" xrandr --output screen --mode 640x480 --fb 640x480; } >"$WORK/c-xrandr" 2>&1 ||
  case_failed c "xrandr could not resize the screen: $(tail -1 "$WORK/c-xrandr")"
for _ in $(seq 50); do kill -0 "$PID_senderC" 2>/dev/null || break; sleep 0.2; done
say "sender C ended after the resize: $(grep -m1 'Screen parameters were' "$WORK/senderC/Quillcast.log")"
sleep 3  # less than the 4 s a receiver waits for a silent transmission
tail -n +"$((c_lines + 1))" "$WORK/c-wire" | awk '{print $3}' | sort | uniq -c >"$WORK/c-types"
if ! tail -n +"$((c_lines + 1))" "$WORK/c-wire" | grep -q ' fffe '; then
  case_failed c "no disconnection datagram (0xFFFE) on the wire after the resize (seen after it: $(tr -s ' \n' ' ' <"$WORK/c-types")$([ -s "$WORK/c-types" ] || echo nothing))"
elif [ "$(count cr/Quillview.log 'Received disconnection packet')" -lt 1 ] ||
     [ "$(count cr 'Quillview - Disconnected')" -lt 2 ]; then
  case_failed c "the receiver did not go back to waiting on the disconnection"
fi
case_passed c

# --- d: verdict ------------------------------------------------------------------
sleep 5
for n in d1 d2 d3; do
  if [ "$(count "$n/Quillview.log" 'Received server init message')" -gt 0 ]; then
    case_failed d "$n (stored port $PORT_D, -port $PORT_D_CMD) followed sender D: $(grep -m1 'Received server init' "$WORK/$n/Quillview.log")"
  elif snapshot "$n"; then
    case_failed d "$n (stored port $PORT_D, -port $PORT_D_CMD) has a picture"
  fi
done
case_passed d

# --- e: verdict --------------------------------------------------------------
for who in root:$PORT_E1 nobody:$PORT_E2; do
  grep -q "^[0-9.]* ${who#*:} " "$WORK/e-wire" || case_failed e \
    "${who%:*}'s sender (port ${who#*:}) does not transmit: $(head -1 "$WORK/e-tmp/${who%:*}/stderr")"
done
case_passed e

# --- a, b: B's screen is followed -----------------------------------------
# 4 s of silence, then the next update request (every 5 s) and the
# sender's next full-update tick (every 15 s), with some slack.
until_same $(( KILLED_AT + 25 )) snapshot_differs r1 "$WORK/screenB.png" ||
  case_failed a "25 s after A was killed, r1 does not show B's screen: $WHY"
case_passed a
until_same $(( KILLED_AT + 30 )) window_differs "$WORK/screenB.png" ||
  case_failed b "30 s after A was killed, the window does not show B's screen: $WHY"
case_passed b

for c in a b c d e f g; do say "case $c: ${RESULT[$c]}"; done
[ "$FAILED" -eq 0 ] && say "passed"
