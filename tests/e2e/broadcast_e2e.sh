#!/usr/bin/env bash
# Black-box broadcast test: one qcsend and several qvrecv, each in its own
# network namespace, joined by veth links to a bridge that lives in a
# namespace of its own. Nothing touches the machine's own network.
#
#   broadcast_e2e.sh QCSEND QVRECV DEPTH DISPLAY_NUMBER COMPARE_TOOL
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

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
DEPTH=${3:-24}
DNUM=${4:-81}
COMPARE=$(readlink -f "${5:?COMPARE_TOOL (qc_compare_png)}")
PORT=5982
TAG=qce$$
WORK=$(mktemp -d /tmp/qc-e2e-XXXXXX)
BRIDGE_NS=$TAG-br
NODES=(s r1 r2 r3 r4 s2)
declare -A ADDR=([s]=10.77.0.1 [r1]=10.77.0.11 [r2]=10.77.0.12 [r3]=10.77.0.13 [r4]=10.77.0.14 [s2]=10.77.0.2)
PIDS=()
FAILED=0
START=$(date +%s)

say() { printf '[%3ds] %s\n' "$(( $(date +%s) - START ))" "$*"; }
fail() { say "FAIL: $*"; FAILED=1; }

cleanup() {
  for ((i=${#PIDS[@]}-1; i>=0; i--)); do kill -TERM "${PIDS[i]}" 2>/dev/null; done
  sleep 0.5
  for ((i=${#PIDS[@]}-1; i>=0; i--)); do kill -KILL "${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
  for n in "${NODES[@]}"; do ip netns del "$TAG-$n" 2>/dev/null; done
  ip netns del "$BRIDGE_NS" 2>/dev/null
  if [ "$FAILED" -ne 0 ]; then
    say "logs kept in $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

in_ns() { local n=$1; shift; ip netns exec "$TAG-$n" "$@"; }

# --- network: a bridge namespace and one veth link per node ----------------
ip netns add "$BRIDGE_NS" || { echo "cannot create network namespaces (need root)"; exit 1; }
ip -n "$BRIDGE_NS" link set lo up
ip -n "$BRIDGE_NS" link add br0 type bridge mcast_snooping 0
ip -n "$BRIDGE_NS" link set br0 up
for n in "${NODES[@]}"; do
  ns=$TAG-$n
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip link add "v$TAG$n" netns "$ns" type veth peer name "b$n" netns "$BRIDGE_NS" 2>/dev/null ||
    { ip link add "v$TAG$n" type veth peer name "b$TAG$n" &&
      ip link set "v$TAG$n" netns "$ns" && ip link set "b$TAG$n" netns "$BRIDGE_NS" &&
      ip -n "$BRIDGE_NS" link set "b$TAG$n" name "b$n"; }
  ip -n "$ns" link set "v$TAG$n" name eth0
  ip -n "$ns" addr add "${ADDR[$n]}/24" dev eth0
  ip -n "$ns" link set eth0 multicast on up
  ip -n "$ns" route add 224.0.0.0/4 dev eth0
  ip -n "$BRIDGE_NS" link set "b$n" master br0 up
done
# 5% loss on the third receiver's link.
in_ns r3 iptables -A INPUT -m statistic --mode random --probability 0.05 -j DROP ||
  { fail "iptables statistic match unavailable"; exit 1; }

# --- the sender's screen --------------------------------------------------------
# The display number given, or the next free one up to :89 when another run
# holds it. -noreset: the screen must keep its picture when the last client
# leaves.
XVFB_PID=
for d in $(seq "$DNUM" 89); do
  [ -e "/tmp/.X$d-lock" ] && continue
  (exec ip netns exec "$TAG-s" Xvfb ":$d" -nolisten tcp -noreset -screen 0 "1024x768x$DEPTH" \
     >"$WORK/xvfb.log" 2>&1) &
  pid=$!
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    in_ns s env DISPLAY=":$d" xset q >/dev/null 2>&1 && break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null && in_ns s env DISPLAY=":$d" xset q >/dev/null 2>&1; then
    XVFB_PID=$pid
    PIDS+=($pid)
    export DISPLAY=:$d
    break
  fi
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
done
[ -n "$XVFB_PID" ] || { fail "no free display for Xvfb from :$DNUM to :89"; exit 1; }

# Pictures for the screen: detailed ones (many rows, many datagrams) and a
# last, simpler one that is quick to repair on the lossy link.
convert -size 1024x768 gradient:'#203060-#e0a040' "$WORK/gradient.png"
convert -size 1024x768 pattern:checkerboard -fill '#c03030' -draw 'circle 512,384 512,120' \
  -fill white -pointsize 40 -draw "text 100,700 'Quillcast end-to-end'" "$WORK/pattern.png"
screen_image() { in_ns s display -window root "$1" >/dev/null 2>&1 || true; }

start_receiver() {  # node
  local n=$1
  mkdir -p "$WORK/$n/config/Quillcast"
  echo "EnableLogging=1" >"$WORK/$n/config/Quillcast/Receiver.conf"
  (cd "$WORK/$n" && XDG_CONFIG_HOME=$WORK/$n/config exec ip netns exec "$TAG-$n" \
     "$QVRECV" --headless --snapshot "$WORK/$n/snap.png" 2>"$WORK/$n/stderr") &
  PIDS+=($!)
  eval "PID_$n=$!"
}

start_sender() {  # node name
  local n=$1 name=$2
  mkdir -p "$WORK/$name/config/Quillcast" "$WORK/$name/run"
  echo "EnableLogging=1" >"$WORK/$name/config/Quillcast/Vorazudud.conf"
  chmod 700 "$WORK/$name/run"
  (cd "$WORK/$name" && XDG_CONFIG_HOME=$WORK/$name/config XDG_RUNTIME_DIR=$WORK/$name/run \
     exec ip netns exec "$TAG-$n" "$QCSEND" --headless -start 2>"$WORK/$name/stderr") &
  PIDS+=($!)
  eval "PID_$name=$!"
}

count() { local c; c=$(grep -c -- "$2" "$WORK/$1/stderr" 2>/dev/null); echo "${c:-0}"; }

wait_for() {  # seconds node text count
  local deadline=$(( $(date +%s) + $1 ))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    [ "$(count "$2" "$3")" -ge "$4" ] && return 0
    sleep 0.2
  done
  return 1
}

# Every receiver's snapshot equals the screen, within the time given.
pictures_match() {  # seconds receivers...
  local deadline=$(( $(date +%s) + $1 )); shift
  local n pid ok
  while :; do
    in_ns s import -window root "$WORK/screen.png"
    ok=1
    for n in "$@"; do
      pid=$(eval echo "\$PID_$n")
      rm -f "$WORK/$n/snap.png"
      kill -USR1 "$pid"
      for _ in $(seq 30); do [ -s "$WORK/$n/snap.png" ] && break; sleep 0.1; done
      if ! $COMPARE "$WORK/$n/snap.png" "$WORK/screen.png" "$DEPTH" >"$WORK/$n/compare" 2>&1; then
        ok=0
      fi
    done
    [ "$ok" -eq 1 ] && return 0
    if [ "$(date +%s)" -ge "$deadline" ]; then
      for n in "$@"; do say "  $n: $(tail -1 "$WORK/$n/compare")"; done
      return 1
    fi
    # A receiver notices a lost datagram only when a later numbered one
    # arrives; on a screen that has gone still, the last datagram of a burst
    # can be lost unnoticed. A new cursor shape is such a later datagram and
    # changes no pixel: the receiver then asks for the full-screen update.
    cursor_turn=$(( ${cursor_turn:-0} + 1 ))
    in_ns s xsetroot -cursor_name "$([ $((cursor_turn % 2)) -eq 0 ] && echo left_ptr || echo crosshair)"
    sleep 2
  done
}

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
if pictures_match 90 r1 r2 r3 r4; then
  say "every snapshot equals the screen (r3 with 5% loss, r4 started late)"
else
  fail "snapshots differ from the screen"
fi
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
if pictures_match 90 r1 r2 r3 r4; then
  say "the new sender's picture is followed"
else
  fail "snapshots differ after the new sender started"
fi

# --- 4. a second sender on the same port is refused ------------------------
start_sender s2 sender3
if wait_for 20 sender3 "Another transmitter detected at IP 10.77.0.1, port $PORT" 1; then
  say "second sender refused: $(grep -m1 'Another transmitter' "$WORK/sender3/stderr")"
else
  fail "second sender was not refused"
fi

# --- the receivers end in order ------------------------------------------------
for n in r1 r2 r3 r4; do
  pid=$(eval echo "\$PID_$n")
  kill -TERM "$pid"
  wait "$pid"; rc=$?
  [ "$rc" -eq 0 ] || fail "qvrecv $n ended with $rc on SIGTERM"
done

if [ "$FAILED" -eq 0 ]; then
  say "passed (depth $DEPTH)"
  exit 0
fi
for f in "$WORK"/*/stderr; do echo "--- $f"; tail -5 "$f"; done
exit 1
