#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A small crowd on a lossy network: eight headless receivers, each in its
# own network namespace on one bridge; four drop 5% of what they receive at
# random, four lose it in Wi-Fi-like bursts (qc_burst_loss) and 1% besides.
# A terminal prints 50 lines a second for 3 s, twice; each time, within 3 s
# after it stops, every receiver's picture must equal the screen. Parity
# must have rebuilt some losses, and fewer requests may reach the sender
# than the receivers found losses (rebuilt ones ask for nothing, and a
# receiver that heard another ask for the same numbers stays quiet).
#
#   crowd_e2e.sh QCSEND QVRECV COMPARE_TOOL BURST_LOSS
set -uo pipefail
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL}")
BURST_LOSS=$(readlink -f "${4:?BURST_LOSS}")
RECEIVERS=(r1 r2 r3 r4 r5 r6 r7 r8)
NODES=(s "${RECEIVERS[@]}")
declare -A ADDR=([s]=10.83.0.1)
for i in $(seq 8); do ADDR[r$i]=10.83.0.$((10 + i)); done
DEPTH=24
e2e_init qcw  # short: interface names hold the tag and the node (15 characters)
e2e_network
start_xvfb 1280x800x24 DISPLAY
export DISPLAY
xsetroot -solid '#203040'
printf '#define b_width 1\n#define b_height 1\n#define b_x_hot 0\n#define b_y_hot 0\n%s\n' \
  'static char b_bits[] = {' '  0x00, };' >"$WORK/blank.xbm"
xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
xterm -geometry 200x58+0+0 -bg black -fg '#e0e0e0' -e bash -c \
  "i=0; while :; do if [ -e '$WORK/go' ]; then for k in \$(seq 150); do
     echo \"line \$i \$RANDOM\$RANDOM the quick brown fox jumps over the lazy dog \$i\"; i=\$((i+1));
     sleep 0.02; done; rm -f '$WORK/go'; fi; sleep 0.05; done" 2>/dev/null &
PIDS+=($!)

for i in 1 2 3 4; do e2e_loss "r$i" 0.05; done
for i in 5 6 7 8; do e2e_burst_loss "r$i" 0.01 "$i"; done
in_ns s iptables -A INPUT -p udp --dport 5983
for n in "${RECEIVERS[@]}"; do start_receiver "$n"; done
sleep 1
start_sender s snd
# A lost init message leaves a receiver waiting for its next request (5 s).
for n in "${RECEIVERS[@]}"; do
  wait_for 15 "$n" "Quillview - Receiving" 1 || fail "$n got no picture"
done
[ "$FAILED" -eq 0 ] || exit 1
in_ns s iptables -Z INPUT
marks=()
for n in "${RECEIVERS[@]}"; do marks+=("$(wc -l <"$WORK/$n/Quillview.log")"); done

# The picture of a receiver equals the screen within 3 s: "" or why not.
differs() {  # receiver
  local end=$(( $(date +%s) + 3 ))
  while :; do
    if ! snapshot "$1"; then
      WHY="no picture"
    elif $COMPARE "$WORK/$1/snap.png" "$WORK/screen.png" "$DEPTH" >"$WORK/$1/compare" 2>&1; then
      return 1
    else
      WHY=$(tail -1 "$WORK/$1/compare")
    fi
    [ "$(date +%s)" -ge "$end" ] && { echo "$WHY"; return 0; }
    sleep 0.3
  done
}
for round in 1 2; do
  touch "$WORK/go"
  for _ in $(seq 100); do [ -e "$WORK/go" ] || break; sleep 0.1; done
  in_ns s import -window root "$WORK/screen.png"
  for n in "${RECEIVERS[@]}"; do
    why=$(differs "$n") && fail "round $round: $n 3 s after the screen stopped: $why"
  done
done

requests=$(in_ns s iptables -L INPUT -v -x -n | awk '/udp/ {print $1; exit}')
losses=0 rebuilt=0 k=0
for n in "${RECEIVERS[@]}"; do
  tail -n +"$(( ${marks[k]} + 1 ))" "$WORK/$n/Quillview.log" >"$WORK/$n/run.log"
  k=$((k + 1))
  losses=$((losses + $(grep -c 'Lost packet' "$WORK/$n/run.log")))
  rebuilt=$((rebuilt + $(grep -c 'from parity after' "$WORK/$n/run.log")))
done
say "losses found $((losses + rebuilt)) (rebuilt $rebuilt), requests reaching the sender $requests"
[ "$rebuilt" -gt 0 ] || fail "no loss was rebuilt from parity"
[ "$requests" -lt $((losses + rebuilt)) ] ||
  fail "$requests requests for $((losses + rebuilt)) losses: neither parity nor suppression saved any"
[ "$FAILED" -eq 0 ] && say "passed"
exit "$FAILED"
