#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Freshness and join workload: how often, and how soon, receivers behind a
# lossy network show the sender's screen exactly, and how long a receiver
# started during a transmission waits for its first picture.
#
#   bench/freshness.sh BUILD_DIR [OUT_DIR]     (root; Xvfb, xterm, ImageMagick)
#   QCSEND, QVRECV, COMPARE   override the programs (e.g. an older build)
#   FRESH_SAMPLES             samples per configuration (20)
#   FRESH_CONFIGS             "receivers:loss%" list ("1:0 1:1 1:5 5:1 5:5"; "" for none)
#   FRESH_JOIN=0              skip the join part
#
# Freshness, per configuration: a 1280x800 screen with an xterm that prints
# 50 lines a second for 1.5 s, then stops; 500 ms later every receiver's
# picture is compared with the screen. Each receiver's link drops the given
# share of what it receives, independently (iptables statistic). Printed:
# pictures exact, losses the receivers logged, the repair latency p50/p95
# (from the receivers' repair log lines; for a receiver without them, from a
# loss to the next init message, at one-second resolution) and the bytes the
# sender sent.
#
# Join: receivers started 3, 6, 9 and 12 s after the sender (on a still text
# screen), each timed until its picture equals the screen; then 30 receivers
# started at once, and the full-screen updates the sender served for them.
# Hosts are network namespaces on a private bridge; nothing leaves the machine.
set -uo pipefail
# shellcheck source=../tests/e2e/e2e_lib.sh
. "$(dirname "$0")/../tests/e2e/e2e_lib.sh"

BUILD=$(readlink -f "${1:?usage: bench/freshness.sh BUILD_DIR [OUT_DIR]}")
OUT=$(readlink -f "${2:-$BUILD/bench-results}")
QCSEND=${QCSEND:-$BUILD/sender/shell/qcsend}
QVRECV=${QVRECV:-$BUILD/receiver/shell/qvrecv}
COMPARE=${COMPARE:-$BUILD/tests/e2e/qc_compare_png}
SAMPLES=${FRESH_SAMPLES:-20}
CONFIGS=${FRESH_CONFIGS-"1:0 1:1 1:5 5:1 5:5"}
mkdir -p "$OUT"
RECEIVERS=(r1 r2 r3 r4 r5)
NODES=(s "${RECEIVERS[@]}" j)
declare -A ADDR=([s]=10.81.0.1 [r1]=10.81.0.11 [r2]=10.81.0.12 [r3]=10.81.0.13
                 [r4]=10.81.0.14 [r5]=10.81.0.15 [j]=10.81.0.20)
DEPTH=24
e2e_init qcfresh
e2e_network
start_xvfb 1280x800x24 DISPLAY
export DISPLAY
xsetroot -solid '#203040'
printf '#define b_width 1\n#define b_height 1\n#define b_x_hot 0\n#define b_y_hot 0\n%s\n' \
  'static char b_bits[] = {' '  0x00, };' >"$WORK/blank.xbm"
xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
# The terminal prints for 1.5 s each time WORK/go appears, then removes it.
xterm -geometry 200x58+0+0 -bg black -fg '#e0e0e0' -e bash -c \
  "i=0; while :; do if [ -e '$WORK/go' ]; then for k in \$(seq 75); do
     echo \"line \$i \$RANDOM\$RANDOM the quick brown fox jumps over the lazy dog \$i\"; i=\$((i+1));
     sleep 0.02; done; rm -f '$WORK/go'; fi; sleep 0.05; done" 2>/dev/null &
PIDS+=($!)
sleep 1
RESULTS=$OUT/freshness.txt
: >"$RESULTS"
report() { echo "$*" | tee -a "$RESULTS"; }

sent_bytes() { in_ns s iptables -L OUTPUT -v -x -n | awk '/udp/ {print $2; exit}'; }
in_ns s iptables -A OUTPUT -p udp --dport 5982

# Snapshots of all the receivers at once; the screen right after.
sample() {  # receivers...
  local n pid
  for n in "$@"; do rm -f "$WORK/$n/snap.png"; pid=PID_$n; kill -USR1 "${!pid}"; done
  in_ns s import -window root "$WORK/screen.png"
  for n in "$@"; do
    for _ in $(seq 30); do [ -s "$WORK/$n/snap.png" ] && break; sleep 0.1; done
  done
}

percentile() {  # p < numbers
  sort -n | awk -v p="$1" '{v[NR]=$1} END {if (NR==0) {print "-"; exit}
    i=int((NR*p+99)/100); if (i<1) i=1; print v[i]}'
}

# Latencies in ms from a receiver log: repair lines when there are any,
# otherwise loss to the next init message.
latencies() {  # log
  if grep -q 'answered after' "$1"; then
    sed -n 's/.*answered after \([0-9]*\) ms.*/\1/p' "$1"
  else
    awk '{split($1,t,":"); s=t[1]*3600+t[2]*60+t[3]}
         /Lost packet/ && lost=="" {lost=s}
         /Received init packet/ && lost!="" {print (s-lost)*1000; lost=""}' "$1"
  fi
}

for config in $CONFIGS; do
  count_r=${config%%:*} loss=${config##*:}
  active=("${RECEIVERS[@]:0:$count_r}")
  for n in "${active[@]}"; do
    in_ns "$n" iptables -F INPUT
    [ "$loss" = 0 ] || e2e_loss "$n" "$(printf '0.%02d' "$loss")"
    rm -f "$WORK/$n/Quillview.log"
    start_receiver "$n"
  done
  start_sender s snd
  sleep 3
  in_ns s iptables -Z OUTPUT
  exact=0 total=0 t0=$(date +%s.%N)
  for i in $(seq "$SAMPLES"); do
    touch "$WORK/go"
    while [ -e "$WORK/go" ]; do sleep 0.02; done
    sleep 0.5
    sample "${active[@]}"
    for n in "${active[@]}"; do
      total=$((total + 1))
      $COMPARE "$WORK/$n/snap.png" "$WORK/screen.png" "$DEPTH" >/dev/null 2>&1 && exact=$((exact + 1))
    done
  done
  secs=$(echo "$(date +%s.%N) - $t0" | bc)
  bytes=$(sent_bytes)
  lost=0
  for n in "${active[@]}"; do lost=$((lost + $(grep -c 'Lost packet' "$WORK/$n/Quillview.log"))); done
  lat=$(for n in "${active[@]}"; do latencies "$WORK/$n/Quillview.log"; done)
  report "$(printf 'receivers %d loss %d%%: exact %d/%d, losses %d (%.0f/min per receiver), repair p50 %s ms p95 %s ms, sent %d bytes in %.0f s (%.0f kB/s)' \
    "$count_r" "$loss" "$exact" "$total" "$lost" "$(echo "$lost * 60 / $secs / $count_r" | bc -l)" \
    "$(echo "$lat" | grep . | percentile 50)" "$(echo "$lat" | grep . | percentile 95)" \
    "$bytes" "$secs" "$(echo "$bytes / $secs / 1000" | bc -l)")"
  kill "$PID_snd"
  for n in "${active[@]}"; do pid=PID_$n; kill "${!pid}"; done
  wait "$PID_snd" 2>/dev/null
  for n in "${active[@]}"; do pid=PID_$n; wait "${!pid}" 2>/dev/null; done
  sleep 1
done

[ "${FRESH_JOIN:-1}" = 0 ] && exit 0
# --- join: a still text screen ---------------------------------------------------
for n in "${RECEIVERS[@]}"; do in_ns "$n" iptables -F INPUT; done
touch "$WORK/go"; while [ -e "$WORK/go" ]; do sleep 0.05; done
in_ns s import -window root "$WORK/screen.png"
start_sender s snd
t_start=$(date +%s.%N)
waits=()
for k in 1 2 3 4; do
  n=r$k
  while [ "$(echo "$(date +%s.%N) - $t_start < $((3 * k))" | bc)" = 1 ]; do sleep 0.05; done
  t0=$(date +%s.%N)
  start_receiver "$n"
  pid=PID_$n
  # It takes signals once it has shown its first state.
  for _ in $(seq 300); do grep -q 'Quillview - ' "$WORK/$n/stderr" 2>/dev/null && break; sleep 0.01; done
  while :; do
    rm -f "$WORK/$n/snap.png"; kill -USR1 "${!pid}" 2>/dev/null
    for _ in $(seq 10); do [ -s "$WORK/$n/snap.png" ] && break; sleep 0.02; done
    [ -s "$WORK/$n/snap.png" ] && $COMPARE "$WORK/$n/snap.png" "$WORK/screen.png" "$DEPTH" >/dev/null 2>&1 && break
    [ "$(echo "$(date +%s.%N) - $t0 > 30" | bc)" = 1 ] && break
    sleep 0.05
  done
  waits+=("$(printf '+%ds: %.2f s' $((3 * k)) "$(echo "$(date +%s.%N) - $t0" | bc)")")
done
report "join (first exact picture after start): ${waits[*]}"
# Thirty receivers at once, in one host.
sleep 2
before=$(count snd/Quillcast.log 'Sending fullscreen update')
for i in $(seq 30); do
  mkdir -p "$WORK/j$i/config/Quillcast"
  printf 'EnableLogging=0\n' >"$WORK/j$i/config/Quillcast/Receiver.conf"
  (cd "$WORK/j$i" && XDG_CONFIG_HOME=$WORK/j$i/config exec ip netns exec "$TAG-j" \
     "$QVRECV" --headless 2>"$WORK/j$i/stderr") &
  PIDS+=($!)
done
sleep 8
after=$(count snd/Quillcast.log 'Sending fullscreen update')
report "30 receivers started at once: $((after - before)) full-screen updates"
