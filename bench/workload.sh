#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The sender's workload: what one transmission costs while a terminal is
# idle, typed into, the mouse moved over it, the terminal printing 50 lines a
# second and printing as fast as it can, with 1 and with 4 headless receivers;
# and idle again with the sender's icon in a tray on the screen (a teacher's
# desktop has one).
#
#   bench/workload.sh BUILD_DIR [OUT_DIR]   (root; Xvfb, xterm, xlogo, xdotool,
#                                            trayer; for SCENE=wlr sway, foot, wtype)
#   PHASE_SECONDS   length of each phase (10)
#   RECEIVER_SETS   receiver counts to run ("1 4")
#   PHASES          phases to run ("idle typing pointer lines fast tray")
#   KEY_SECONDS     time between key presses in the typing phase (0.1; 0.3 in the
#                   portal scene, whose frames can take longer than 0.1 s)
#   SCENE           x11 (default); wlr: the same terminal in foot on a headless
#                   sway (run as nobody), sent with --capture wlr, keys typed with
#                   wtype (a virtual keyboard); portal: foot on a headless GNOME
#                   (mutter, PipeWire, the ScreenCast portal pre-approved), sent
#                   with --capture portal, keys through mutter's remote-desktop
#                   API. Wayland scenes run the idle, typing, lines and fast phases
#
# The scene: Xvfb 1920x1080x24, an xterm of 110x45 characters and two static
# windows. Per phase and receiver count it prints one line:
#   sender CPU %, display server CPU % (Xvfb or sway), receiver CPU % (mean per receiver), Mbit/s
#   leaving the sender, and the change-to-wire latency: for typing, from each
#   key press to the first update datagram after it (p50/p95, ms); for the
#   pointer, from each move (XTEST, as a mouse would) to the first cursor
#   position datagram after it; for the
#   printing phases, the gaps between update datagrams while printing (p95
#   and max: how old the receivers' picture of a changing screen gets, ms)
#   and the time from the end of the printing to the last update datagram;
#   for the idle phases, the update datagrams per second. The tray phase runs
#   last: trayer at the screen's top right, the sender started again with its
#   tray icon (not headless), 6 s to settle, then the phase.
# Latencies are read by a probe that timestamps every datagram in a node of
# its own; receivers decode in well under a millisecond more. Hosts are
# network namespaces on a private bridge; nothing leaves the machine.
set -uo pipefail
# shellcheck source=../tests/e2e/e2e_lib.sh
. "$(dirname "$0")/../tests/e2e/e2e_lib.sh"

BUILD=$(readlink -f "${1:?usage: bench/workload.sh BUILD_DIR [OUT_DIR]}")
OUT=${2:-$BUILD/bench-results}
mkdir -p "$OUT" && OUT=$(readlink -f "$OUT")
PHASE_SECONDS=${PHASE_SECONDS:-10}
RECEIVER_SETS=${RECEIVER_SETS:-"1 4"}
PHASES=${PHASES:-"idle typing pointer lines fast tray"}
QCSEND=$BUILD/sender/shell/qcsend
QVRECV=$BUILD/receiver/shell/qvrecv
for p in "$QCSEND" "$QVRECV"; do [ -x "$p" ] || { echo "not built: $p"; exit 1; }; done
[ -n "$PYTHON" ] || { echo "python3 is needed for the probe"; exit 1; }
NODES=(s p r1 r2 r3 r4)
declare -A ADDR=([s]=10.81.0.1 [p]=10.81.0.2 [r1]=10.81.0.11 [r2]=10.81.0.12 [r3]=10.81.0.13
                 [r4]=10.81.0.14)
e2e_init qcwork
e2e_network

# --- the scene ---------------------------------------------------------------
SCENE=${SCENE:-x11}
MODE=$WORK/mode
echo idle >"$MODE"
# The terminal's program follows the mode file: idle (echoes what is typed),
# lines (50 lines a second) or fast (as fast as the terminal takes them).
cat >"$WORK/term.sh" <<'EOF'
i=0
while :; do
  read -r m <"$1"
  case $m in
    lines) printf 'line %6d  the quick brown fox jumps over the lazy dog %s\n' $i "$EPOCHREALTIME"
           i=$((i + 1)); read -r -t 0.02 _ <>"$2" ;;
    fast) for ((k = 0; k < 500; k++)); do
            printf 'line %6d  the quick brown fox jumps over the lazy dog 0123456789 %d\n' $i $k
            i=$((i + 1)); done ;;
    *) read -r -t 0.05 _ <>"$2" ;;
  esac
done
EOF
mkfifo "$WORK/nap"
SENDER_ARGS=()
FOOT=(foot --app-id term -o font=monospace:pixelsize=13:antialias=false -W 110x45
      bash "$WORK/term.sh" "$MODE" "$WORK/nap")
if [ "$SCENE" = portal ]; then
  # shellcheck source=../tests/e2e/gnome_desktop.sh
  . "$(dirname "$0")/../tests/e2e/gnome_desktop.sh"
  gnome_desktop_start 1920x1080 || exit 1
  SERVER_PID=$(pgrep -f -n "mutter --headless --virtual-monitor 1920x1080")
  spawn_in s "${SESSION[@]}" WAYLAND_DISPLAY=wayland-0 "${FOOT[@]}" >"$WORK/foot.log" 2>&1
  gnome_screencast_approve || exit 1
  mkdir -p "$WORK/sender/config/Quillcast"
  echo "$TOKEN" >"$WORK/sender/config/Quillcast/ScreenCastToken"
  # Keys through mutter's remote-desktop API, one per line written to the
  # keys pipe (a helper keeps the session, so a key costs one D-Bus call).
  cat >"$WORK/keys.py" <<'EOF_KEYS'
import sys, dbus
bus = dbus.SessionBus()
mutter = bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
path = mutter.CreateSession(dbus_interface="org.gnome.Mutter.RemoteDesktop")
session = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                         "org.gnome.Mutter.RemoteDesktop.Session")
session.Start()
keys = open(sys.argv[1])
while keys.readline():
    session.NotifyKeyboardKeysym(dbus.UInt32(0x78), True)   # x
    session.NotifyKeyboardKeysym(dbus.UInt32(0x78), False)
EOF_KEYS
  mkfifo "$WORK/keys"
  spawn_in s /usr/bin/python3 -u "$WORK/keys.py" "$WORK/keys" >"$WORK/keys.log" 2>&1
  exec 7>"$WORK/keys"
  sleep 3  # foot is up
  SENDER_ARGS=(--capture portal)
  PHASES=${PHASES//pointer/}; PHASES=${PHASES//tray/}
  focus_term() { :; }  # the only window has the focus
  type_key() { echo >&7; }
  KEY_SECONDS=${KEY_SECONDS:-0.3}
elif [ "$SCENE" = wlr ]; then
  # sway refuses root: it and the terminal run as nobody, which must reach WORK.
  chmod 711 "$WORK"; chmod 644 "$WORK/term.sh" "$MODE"; chmod 666 "$WORK/nap"
  RT=$WORK/rt
  mkdir "$RT" && chown nobody:nogroup "$RT" && chmod 700 "$RT"
  printf '%s\n' "output HEADLESS-1 resolution 1920x1080 position 0 0 bg #30506f solid_color" \
    "default_border none" \
    "for_window [app_id=\"term\"] floating enable, move position 40 40" \
    "exec ${FOOT[*]}" \
    >"$WORK/sway.conf"
  chmod 644 "$WORK/sway.conf"
  (exec setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin \
     HOME="$RT" XDG_RUNTIME_DIR="$RT" WLR_BACKENDS=headless WLR_RENDERER=pixman \
     WLR_LIBINPUT_NO_DEVICES=1 sway -c "$WORK/sway.conf" >"$WORK/sway.log" 2>&1) &
  PIDS+=($!)
  SERVER_PID=$!
  for _ in $(seq 50); do [ -S "$RT/wayland-1" ] && break; sleep 0.1; done
  export WAYLAND_DISPLAY=$RT/wayland-1
  unset DISPLAY
  sleep 2  # foot and the background are up
  SENDER_ARGS=(--capture wlr)
  PHASES=${PHASES//pointer/}; PHASES=${PHASES//tray/}
  focus_term() { :; }  # the only window has the focus
  type_key() { wtype x; }
else
  start_xvfb 1920x1080x24 DISPLAY
  export DISPLAY
  SERVER_PID=${PIDS[-1]}
  xsetroot -solid '#30506f'
  xterm -geometry 110x45+40+40 -title term -e bash "$WORK/term.sh" "$MODE" "$WORK/nap" &
  PIDS+=($!)
  xlogo -geometry 300x300+1300+80 & PIDS+=($!)
  xlogo -geometry 400x250+1200+600 -bg '#804020' & PIDS+=($!)
  xdotool search --sync --name '^term$' >/dev/null
  TERM_WIN=$(xdotool search --name '^term$' | head -1)
  xdotool windowfocus --sync "$TERM_WIN" 2>/dev/null
  xdotool mousemove 900 900
  focus_term() { xdotool windowfocus --sync "$TERM_WIN" 2>/dev/null; }
  type_key() { xdotool type --delay 0 x; }
fi

# The probe: one line per datagram, absolute time, port, type, length.
cat >"$WORK/probe.py" <<'EOF'
import socket, struct, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", int(sys.argv[1])))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("234.0.0.1") + bytes(4))
out = open(sys.argv[2], "w", buffering=1)
while True:
    data = s.recv(65536)
    kind = struct.unpack("<H", data[:2])[0] if len(data) >= 2 else 0
    out.write("%.6f %04x %d\n" % (time.time(), kind, len(data)))
EOF
spawn_in p "$PYTHON" "$WORK/probe.py" 5982 "$WORK/probe.log"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
txbytes() { in_ns s cat /sys/class/net/eth0/statistics/tx_bytes; }
HZ=$(getconf CLK_TCK)

# Summary of the probe's update datagrams (type fffc / fffd; cursor
# positions, fffa, for the pointer) as latencies.
cat >"$WORK/latency.py" <<'EOF'
import sys
probe, marks, mode = sys.argv[1], sys.argv[2], sys.argv[3]
kinds = ("fffa",) if mode == "pointer" else ("fffc", "fffd")
upd = [float(l.split()[0]) for l in open(probe) if l.split()[1] in kinds]
ts = [float(l) for l in open(marks) if l.strip()]
def pct(v, p):
    v = sorted(v); return v[min(len(v) - 1, int(p * len(v)))] if v else float("nan")
if mode in ("keys", "pointer"):
    lat = []
    for i, t in enumerate(ts):
        end = ts[i + 1] if i + 1 < len(ts) else t + 1.0
        after = [u for u in upd if t <= u < end]
        if after: lat.append((after[0] - t) * 1000)
    print("p50 %.1f ms  p95 %.1f ms  (%d of %d %s seen)" % (pct(lat, .5), pct(lat, .95), len(lat),
          len(ts), "moves" if mode == "pointer" else "keys"))
else:
    t0, t = ts[0], ts[-1]
    during = [u for u in upd if t0 + 0.5 <= u < t]
    gaps = [(b - a) * 1000 for a, b in zip(during, during[1:])]
    after = [u for u in upd if t <= u < t + 3.0]
    print("gaps p95 %.0f max %.0f ms, last %.0f ms after" % (pct(gaps, .95), max(gaps or [0]),
          (after[-1] - t) * 1000 if after else 0.0))
EOF

RESULTS=$OUT/workload.txt
: >"$RESULTS"
report() { echo "$*" | tee -a "$RESULTS"; }

run_phase() {  # receivers phase
  local nrecv=$1 phase=$2 s0 x0 b0 s1 x1 b1 r0=0 r1=0 n pid t0 t1 lat=""
  : >"$WORK/marks"
  for n in "${RECV[@]}"; do pid=PID_$n; r0=$((r0 + $(ticks "${!pid}"))); done
  s0=$(ticks "$PID_sender"); x0=$(ticks "$SERVER_PID"); b0=$(txbytes); t0=$EPOCHREALTIME
  case $phase in
    idle|tray) sleep "$PHASE_SECONDS" ;;
    typing)
      focus_term
      local end=$(( $(date +%s) + PHASE_SECONDS ))
      while [ "$(date +%s)" -lt "$end" ]; do
        echo "$EPOCHREALTIME" >>"$WORK/marks"; type_key; sleep "${KEY_SECONDS:-0.1}"
      done ;;
    pointer)  # relative moves: raw motion, as a mouse makes (absolute ones are warps)
      local end=$(( $(date +%s) + PHASE_SECONDS )) dx=4
      while [ "$(date +%s)" -lt "$end" ]; do
        echo "$EPOCHREALTIME" >>"$WORK/marks"; xdotool mousemove_relative -- "$dx" 0; sleep 0.1
        dx=$((-dx))
      done ;;
    lines|fast) echo "$EPOCHREALTIME" >>"$WORK/marks"; echo "$phase" >"$MODE"; sleep "$PHASE_SECONDS" ;;
  esac
  s1=$(ticks "$PID_sender"); x1=$(ticks "$SERVER_PID"); b1=$(txbytes); t1=$EPOCHREALTIME
  for n in "${RECV[@]}"; do pid=PID_$n; r1=$((r1 + $(ticks "${!pid}"))); done
  if [ "$phase" = lines ] || [ "$phase" = fast ]; then
    echo idle >"$MODE"; echo "$EPOCHREALTIME" >>"$WORK/marks"; sleep 3
  fi
  case $phase in
    typing) sleep 1; lat=$("$PYTHON" "$WORK/latency.py" "$WORK/probe.log" "$WORK/marks" keys) ;;
    pointer) sleep 1; lat=$("$PYTHON" "$WORK/latency.py" "$WORK/probe.log" "$WORK/marks" pointer) ;;
    lines|fast) lat=$("$PYTHON" "$WORK/latency.py" "$WORK/probe.log" "$WORK/marks" end) ;;
    idle|tray) lat=$(awk -v a="$t0" -v b="$t1" '$2 == "fffc" && $1 >= a && $1 < b { n++ }
                       END { printf "%.1f updates/s", n / (b - a) }' "$WORK/probe.log") ;;
  esac
  awk -v n="$nrecv" -v p="$phase" -v s=$((s1 - s0)) -v x=$((x1 - x0)) -v r=$((r1 - r0)) \
      -v b=$((b1 - b0)) -v t0="$t0" -v t1="$t1" -v hz="$HZ" -v lat="$lat" 'BEGIN {
    d = t1 - t0
    printf "%d recv  %-7s  sender %5.2f%%  X %5.2f%%  receiver %5.1f%%  %6.2f Mbit/s  %s\n",
      n, p, 100 * s / hz / d, 100 * x / hz / d, 100 * r / hz / d / n, b * 8 / d / 1e6, lat
  }' | tee -a "$RESULTS"
}

for nrecv in $RECEIVER_SETS; do
  RECV=()
  for ((i = 1; i <= nrecv; i++)); do RECV+=("r$i"); start_receiver "r$i"; done
  start_sender s sender "${SENDER_ARGS[@]}"
  for n in "${RECV[@]}"; do
    wait_for 30 "$n" "Quillview - Receiving" 1 || fail "$n did not receive the transmission"
  done
  sleep 3  # the first full-screen update is out
  for phase in $PHASES; do [ "$phase" = tray ] || run_phase "$nrecv" "$phase"; done
  if [[ " $PHASES " == *" tray "* ]]; then
    kill "$PID_sender"; wait "$PID_sender" 2>/dev/null
    command -v trayer >/dev/null || { echo "trayer is needed for the tray phase"; exit 1; }
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true &
    TRAYER_PID=$!; PIDS+=("$TRAYER_PID")
    xdotool search --sync --class trayer >/dev/null
    SENDER_HEADLESS= start_sender s sender
    sleep 6  # the full-screen update, the icon embedded
    run_phase "$nrecv" tray
    kill "$TRAYER_PID"; wait "$TRAYER_PID" 2>/dev/null
  fi
  kill "$PID_sender"; wait "$PID_sender" 2>/dev/null
  # Text is no video: with VideoMode auto (the default) no region may be
  # found here (SENDER_CONF=VideoMode=0 runs the same without detection).
  echo "$nrecv recv: video regions found: $(count sender/Quillcast.log 'qcVideo: Video region [0-9]')" |
    tee -a "$RESULTS"
  for n in "${RECV[@]}"; do pid=PID_$n; kill "${!pid}"; wait "${!pid}" 2>/dev/null; done
  sleep 1
done
say "results: $RESULTS"
[ -n "${KEEP_PROBE:-}" ] && cp "$WORK/probe.log" "$WORK/marks" "$OUT/"
