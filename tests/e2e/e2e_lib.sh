# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Helpers shared by the end-to-end scripts and the soak benchmark; sourced,
# never run. Every host is a network namespace of its own, joined by veth
# links to a bridge in one more namespace, so nothing touches the machine's
# own network.
#
# The sourcing script sets, before calling e2e_init:
#   QCSEND, QVRECV    the programs (absolute paths)
#   NODES, ADDR       host names and their addresses (declare -A ADDR), e.g.
#                     NODES=(s r1); ADDR=([s]=10.77.0.1 [r1]=10.77.0.11)
# and may set DEPTH (24), SCREEN_NODE (s, where pictures_match grabs the
# screen) and COMPARE (qc_compare_png). e2e_init makes WORK, TAG and the
# exit trap; e2e_network builds the links.
#
# Processes started through these helpers are listed in PIDS and ended at
# exit (TERM, then KILL), namespaces are deleted, and WORK is kept when a
# check failed (FAILED=1).

e2e_init() {  # prefix
  TAG=$1$$
  WORK=$(mktemp -d "/tmp/$1-XXXXXX")
  BRIDGE_NS=$TAG-br
  PIDS=()
  FAILED=0
  START=$(date +%s)
  DEPTH=${DEPTH:-24}
  SCREEN_NODE=${SCREEN_NODE:-s}
  trap e2e_cleanup EXIT
  trap 'exit 1' INT TERM
}

say() { printf '[%3ds] %s\n' "$(( $(date +%s) - START ))" "$*"; }
fail() { say "FAIL: $*"; FAILED=1; }

e2e_cleanup() {
  local sig n
  for sig in TERM KILL; do
    for ((n=${#PIDS[@]}-1; n>=0; n--)); do kill -$sig "${PIDS[n]}" 2>/dev/null; done
    [ $sig = TERM ] && sleep 0.5
  done
  wait 2>/dev/null
  for n in "${NODES[@]}"; do ip netns del "$TAG-$n" 2>/dev/null; done
  ip netns del "$BRIDGE_NS" 2>/dev/null
  if [ "$FAILED" -ne 0 ]; then say "logs kept in $WORK"; else rm -rf "$WORK"; fi
}

in_ns() { local n=$1; shift; ip netns exec "$TAG-$n" "$@"; }

# Starts a command in a node in the background, as the process whose id is
# kept in PIDS (and in SPAWNED); its output goes where the caller sends it.
spawn_in() {  # node command...
  local n=$1; shift
  (exec ip netns exec "$TAG-$n" "$@") &
  SPAWNED=$!
  PIDS+=("$SPAWNED")
}

# A bridge namespace and one veth link per node, each node with its address
# and a multicast route on its link.
e2e_network() {
  local n ns
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
}

# Drops the given share of the datagrams a node receives.
e2e_loss() {  # node probability
  in_ns "$1" iptables -A INPUT -m statistic --mode random --probability "$2" -j DROP
}

# Wi-Fi-like loss on what a node receives: qc_burst_loss (BURST_LOSS, its
# path) serves the node's multicast input through NFQUEUE, with the random
# loss given and bursts (1% of the time, ~20 ms each, 90% lost) besides.
e2e_burst_loss() {  # node random-loss seed
  in_ns "$1" iptables -A INPUT -p udp -d 224.0.0.0/4 -j NFQUEUE --queue-num 0 --queue-bypass
  spawn_in "$1" "${BURST_LOSS:?BURST_LOSS}" 0 --random "$2" --bad-share 0.01 --burst-ms 20 \
    --bad-loss 0.9 --seed "$3" >"$WORK/burst-$1.txt" 2>&1
}

# Starts an Xvfb screen and stores its display (":N") in the variable named.
# It takes the first display from :100 on whose lock file is free (the
# server's own lock settles a race with another run). It runs in the
# machine's namespace, where display numbers are unique, and opens no
# network socket (-nolisten tcp); the nodes reach it through its socket
# file. -noreset: the screen keeps its picture when the last client leaves.
start_xvfb() {  # WxHxD variable
  local d pid
  for d in $(seq 100 199); do
    [ -e "/tmp/.X$d-lock" ] && continue
    (exec Xvfb ":$d" -nolisten tcp -noreset -screen 0 "$1" >>"$WORK/xvfb.log" 2>&1) &
    pid=$!
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      if DISPLAY=:$d xset q >/dev/null 2>&1; then
        PIDS+=("$pid"); printf -v "$2" ':%s' "$d"; return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  done
  fail "no free display for Xvfb ($1) from :100 to :199"
  exit 1
}

# qvrecv in a node with the given arguments (none: a windowed receiver on
# $DISPLAY), logging, with its own settings: EnableLogging=1 and the lines
# of RECEIVER_CONF (if any). The process id lands in PID_<node>.
start_receiver_with() {  # node [qvrecv arguments...]
  local n=$1; shift
  mkdir -p "$WORK/$n/config/Quillcast"
  printf 'EnableLogging=1\n%s' "${RECEIVER_CONF:-}" >"$WORK/$n/config/Quillcast/Receiver.conf"
  (cd "$WORK/$n" && XDG_CONFIG_HOME=$WORK/$n/config exec ip netns exec "$TAG-$n" \
     "$QVRECV" "$@" 2>"$WORK/$n/stderr") &
  PIDS+=($!)
  printf -v "PID_$n" '%s' "$!"
}

# A headless receiver that writes WORK/NODE/snap.png on SIGUSR1; extra
# arguments follow.
start_receiver() {  # node [qvrecv arguments...]
  local n=$1; shift
  start_receiver_with "$n" --headless --snapshot "$WORK/$n/snap.png" "$@"
}

# qcsend --headless -start on the screen of $DISPLAY (SENDER_HEADLESS set but
# empty: with its tray icon), logging, with its own settings (EnableLogging=1
# and the lines of SENDER_CONF, if any) and runtime folder; extra arguments
# follow. The process id lands in PID_<name>.
start_sender() {  # node name [qcsend arguments...]
  local n=$1 name=$2; shift 2
  mkdir -p "$WORK/$name/config/Quillcast" "$WORK/$name/run"
  printf 'EnableLogging=1\n%s' "${SENDER_CONF:-}" >"$WORK/$name/config/Quillcast/Vorazudud.conf"
  chmod 700 "$WORK/$name/run"
  (cd "$WORK/$name" && XDG_CONFIG_HOME=$WORK/$name/config XDG_RUNTIME_DIR=$WORK/$name/run \
     exec ip netns exec "$TAG-$n" "$QCSEND" ${SENDER_HEADLESS---headless} -start "$@" \
       2>"$WORK/$name/stderr") &
  PIDS+=($!)
  printf -v "PID_$name" '%s' "$!"
}

# How often a text occurs in a file under WORK (stderr of a node when only
# the node is given).
count() { local c f=$1; [ -f "$WORK/$f" ] || f=$f/stderr; c=$(grep -c -- "$2" "$WORK/$f" 2>/dev/null); echo "${c:-0}"; }

wait_for() {  # seconds node-or-file text count
  local deadline=$(( $(date +%s) + $1 ))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    [ "$(count "$2" "$3")" -ge "$4" ] && return 0
    sleep 0.2
  done
  return 1
}

# Asks a headless receiver for its picture (SIGUSR1) and waits up to 3 s for
# WORK/NODE/snap.png; false when none was written.
snapshot() {  # node
  local pid=PID_$1
  rm -f "$WORK/$1/snap.png"
  kill -USR1 "${!pid}"
  for _ in $(seq 30); do [ -s "$WORK/$1/snap.png" ] && return 0; sleep 0.1; done
  return 1
}

# Every receiver's snapshot equals the screen of $DISPLAY (grabbed in
# SCREEN_NODE), within the time given.
pictures_match() {  # seconds receivers...
  local deadline=$(( $(date +%s) + $1 )); shift
  local n ok
  while :; do
    in_ns "$SCREEN_NODE" import -window root "$WORK/screen.png"
    ok=1
    for n in "$@"; do
      snapshot "$n"
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
    in_ns "$SCREEN_NODE" xsetroot -cursor_name \
      "$([ $((cursor_turn % 2)) -eq 0 ] && echo left_ptr || echo crosshair)"
    sleep 2
  done
}

# Resident memory of a process in kB (empty when it is gone).
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null; }

# The python3 interpreter itself (not a wrapper that would stand between
# the process id kept in PIDS and the interpreter).
PYTHON=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null)

# Writes a listener script that joins 234.0.0.1 on the given ports and
# prints one line per datagram: seconds since start, port, type (the first
# two bytes, little-endian, in hex), length. Run it in a node with $PYTHON.
write_listener() {  # path
  cat >"$1" <<'EOF'
import select, socket, struct, sys, time
socks = []
for port in map(int, sys.argv[1:]):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", port))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("234.0.0.1") + bytes(4))
    socks.append((s, port))
start = time.time()
print("listening", flush=True)
while True:
    ready, _, _ = select.select([s for s, _ in socks], [], [])
    for s, port in socks:
        if s in ready:
            data = s.recv(65536)
            kind = struct.unpack("<H", data[:2])[0] if len(data) >= 2 else 0
            print("%.3f %d %04x %d" % (time.time() - start, port, kind, len(data)), flush=True)
EOF
}
