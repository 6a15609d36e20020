#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Crowd workload: what a class of receivers on a lossy network (Wi-Fi)
# costs the sender and the network, and whether every picture is exact.
#
#   bench/crowd.sh BUILD_DIR [OUT_DIR]    (root; Xvfb, xterm, ImageMagick)
#   QCSEND, QVRECV, COMPARE, BURST_LOSS   override the programs
#   CROWD_CONFIGS   "receivers:loss" list, loss 0, 1, 5 (% random, each
#                   link on its own) or burst (1% random plus bursts: 1% of
#                   the time in ~20 ms periods that lose 90%)
#                   (default "1:0 1:5 30:0 30:1 30:5 30:burst 60:0 60:5 60:burst")
#   CROWD_SAMPLES   printing bursts per configuration (4), each PRINT_S s (4)
#
# A 1920x1080 screen with an xterm that prints 50 lines a second; each
# receiver is a headless qvrecv in its own network namespace on one bridge,
# its link dropping what it receives. Per configuration, measured over the
# samples: bytes and datagrams the sender sent (and, per line the terminal
# printed, against the lossless run of the same crowd, which comes first),
# requests reaching the sender per
# second, repairs the sender made, parity rebuilds and suppressed requests
# at the receivers, the repair latency p50/p95 (a loss to its rebuild, or
# to the answer of its request, from the receivers' logs, with the sender's
# wait for the next frame added), the sender's CPU (and of it the time in
# user space: the system time includes the kernel's delivery of every
# datagram to each receiver's namespace on this one machine, which a real
# network's switch does), the receivers' mean CPU, and pictures exact 1 s
# after the screen stopped;
# the lines printed; then the sender's bytes in the measured windows and in
# the whole run against its fresh bytes (ratios that do not depend on how
# fast the terminal printed in the lossless run).
set -uo pipefail
# shellcheck source=../tests/e2e/e2e_lib.sh
. "$(dirname "$0")/../tests/e2e/e2e_lib.sh"

BUILD=$(readlink -f "${1:?usage: bench/crowd.sh BUILD_DIR [OUT_DIR]}")
OUT=$(readlink -f "${2:-$BUILD/bench-results}")
QCSEND=${QCSEND:-$BUILD/sender/shell/qcsend}
QVRECV=${QVRECV:-$BUILD/receiver/shell/qvrecv}
COMPARE=${COMPARE:-$BUILD/tests/e2e/qc_compare_png}
BURST_LOSS=${BURST_LOSS:-$BUILD/tools/qc_burst_loss}
CONFIGS=${CROWD_CONFIGS:-"1:0 1:5 30:0 30:1 30:5 30:burst 60:0 60:5 60:burst"}
SAMPLES=${CROWD_SAMPLES:-4}
PRINT_S=${PRINT_S:-4}
mkdir -p "$OUT"
most=0
for c in $CONFIGS; do [ "${c%%:*}" -gt "$most" ] && most=${c%%:*}; done
NODES=(s)
declare -A ADDR=([s]=10.82.0.1)
for i in $(seq "$most"); do NODES+=("r$i"); ADDR[r$i]=10.82.0.$((10 + i)); done
DEPTH=24
e2e_init qcc  # short: interface names hold the tag and the node (15 characters)
e2e_network
start_xvfb 1920x1080x24 DISPLAY
export DISPLAY
xsetroot -solid '#203040'
printf '#define b_width 1\n#define b_height 1\n#define b_x_hot 0\n#define b_y_hot 0\n%s\n' \
  'static char b_bits[] = {' '  0x00, };' >"$WORK/blank.xbm"
xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
# The terminal prints 50 lines a second while WORK/go exists. It starts
# full of such lines: until its 80 rows are filled a line changes one row,
# not the whole window, and the first sample of the first configuration
# (the lossless run that the others are compared with) sent 40% less than
# the rest (15% less with the window full of shorter lines).
xterm -geometry 300x80+0+0 -bg black -fg '#e0e0e0' -e bash -c \
  "line() { echo \"line \$1 \$RANDOM\$RANDOM the quick brown fox jumps over the lazy dog \$1\"; }
   for i in \$(seq 100); do line -\$i; done
   i=0; while :; do while [ -e '$WORK/go' ]; do
     line \$i; i=\$((i+1));
     echo \$i >'$WORK/lines';
     sleep 0.02; done; sleep 0.05; done" 2>/dev/null &
PIDS+=($!)
sleep 1
RESULTS=$OUT/crowd.txt
: >"$RESULTS"
report() { echo "$*" | tee -a "$RESULTS"; }

in_ns s iptables -A OUTPUT -p udp --dport 5982
in_ns s iptables -A INPUT -p udp --dport 5983
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
uticks() { awk '{print $14}' "/proc/$1/stat" 2>/dev/null || echo 0; }  # user time only
percentile() {  # p < numbers
  sort -n | awk -v p="$1" '{v[NR]=$1} END {if (NR==0) {print "-"; exit}
    i=int((NR*p+99)/100); if (i<1) i=1; print v[i]}'
}
declare -A LOSSLESS
# The sender's account so far ("kB sent, parity, extra"), which it writes
# to its log on SIGUSR1; "-" when no line came.
account_now() {
  local log=$WORK/snd/Quillcast.log before line
  before=$(grep -ac 'kB so far' "$log")
  kill -USR1 "$PID_snd"
  for _ in $(seq 100); do
    line=$(grep -a 'kB so far' "$log" | sed -n "$((before + 1))p")
    if [ -n "$line" ]; then
      echo "$line" | sed -n 's/.*Sent \([0-9]*\) kB so far, of which \([0-9]*\) kB parity and \([0-9]*\) kB.*/\1 \2 \3/p'
      return
    fi
    sleep 0.05
  done
  echo -
}
hz=$(getconf CLK_TCK)

for config in $CONFIGS; do
  n_r=${config%%:*} loss=${config##*:}
  active=()
  for i in $(seq "$n_r"); do active+=("r$i"); done
  burst_pids=()
  for n in "${active[@]}"; do
    in_ns "$n" iptables -F INPUT
    rm -f "$WORK/$n/Quillview.log"
    case $loss in
      0) ;;
      burst) e2e_burst_loss "$n" 0.01 "${n#r}"; burst_pids+=("$SPAWNED") ;;
      *) e2e_loss "$n" "$(printf '0.%02d' "$loss")" ;;
    esac
    start_receiver "$n"
  done
  start_sender s snd
  sleep $((3 + n_r / 10))
  in_ns s iptables -Z OUTPUT; in_ns s iptables -Z INPUT
  repairs0=$(count snd/Quillcast.log 'Repairing packets')
  sender_mark=$(wc -l <"$WORK/snd/Quillcast.log" 2>/dev/null || echo 0)
  for n in "${active[@]}"; do wc -l <"$WORK/$n/Quillview.log" >"$WORK/$n/mark"; done
  # Measured while the terminal prints and for the second after it stops;
  # not while the pictures are taken and compared.
  exact=0 total=0 secs=0 s_ticks=0 s_uticks=0 r_ticks=0 out_b=0 out_d=0 in_d=0 lines=0
  acc_all=0 acc_par=0 acc_ext=0 acc_ok=1
  for _ in $(seq "$SAMPLES"); do
    t0=$(date +%s.%N) s0=$(ticks "$PID_snd") u0=$(uticks "$PID_snd") r0=0
    for n in "${active[@]}"; do pid=PID_$n; r0=$((r0 + $(ticks "${!pid}"))); done
    l0=$(cat "$WORK/lines" 2>/dev/null || echo 0)
    acc0=$(account_now)  # the sender's account at the window's start and end
    touch "$WORK/go"; sleep "$PRINT_S"; rm -f "$WORK/go"
    sleep 1
    secs=$(echo "$secs + $(date +%s.%N) - $t0" | bc)
    lines=$((lines + $(cat "$WORK/lines") - l0))
    s_ticks=$((s_ticks + $(ticks "$PID_snd") - s0))
    s_uticks=$((s_uticks + $(uticks "$PID_snd") - u0))
    for n in "${active[@]}"; do pid=PID_$n; r_ticks=$((r_ticks + $(ticks "${!pid}"))); done
    r_ticks=$((r_ticks - r0))
    acc1=$(account_now)
    if [ "$acc0" = - ] || [ "$acc1" = - ]; then
      acc_ok=0
    else
      read -r a0 p0 e0 <<<"$acc0"
      read -r a1 p1 e1 <<<"$acc1"
      acc_all=$((acc_all + a1 - a0)) acc_par=$((acc_par + p1 - p0)) acc_ext=$((acc_ext + e1 - e0))
    fi
    out=$(in_ns s iptables -L OUTPUT -v -x -n) in=$(in_ns s iptables -L INPUT -v -x -n)
    for n in "${active[@]}"; do pid=PID_$n; rm -f "$WORK/$n/snap.png"; kill -USR1 "${!pid}"; done
    in_ns s import -window root "$WORK/screen.png"
    for n in "${active[@]}"; do
      for _ in $(seq 50); do [ -s "$WORK/$n/snap.png" ] && break; sleep 0.1; done
      total=$((total + 1))
      $COMPARE "$WORK/$n/snap.png" "$WORK/screen.png" "$DEPTH" >/dev/null 2>&1 && exact=$((exact + 1))
    done
    # What the sender sent while the pictures were compared is not counted.
    in_ns s iptables -Z OUTPUT; in_ns s iptables -Z INPUT
    out_b=$((out_b + $(echo "$out" | awk '/udp/ {print $2; exit}')))
    out_d=$((out_d + $(echo "$out" | awk '/udp/ {print $1; exit}')))
    in_d=$((in_d + $(echo "$in" | awk '/udp/ {print $1; exit}')))
  done
  s_cpu=$(echo "$s_ticks * 100 / $hz / $secs" | bc -l)
  s_ucpu=$(echo "$s_uticks * 100 / $hz / $secs" | bc -l)
  r_cpu=$(echo "$r_ticks * 100 / $hz / $secs / $n_r" | bc -l)
  bytes=$out_b datagrams=$out_d requests=$in_d
  repairs=$(( $(count snd/Quillcast.log 'Repairing packets') - repairs0 ))
  rebuilt=0 suppressed=0 lat="" lat_p="" lat_a=""
  # A request for a change just sent waits for the next frame at the
  # sender, while the receiver already counts it answered by the next
  # datagram: the wait is added to that receiver's latency.
  tail -n +"$((sender_mark + 1))" "$WORK/snd/Quillcast.log" |
    sed -n 's/.*Packets \([0-9]*\) to \([0-9]*\) wait \([0-9]*\) ms.*/\1 \2 \3/p' >"$WORK/waits"
  for n in "${active[@]}"; do
    tail -n +"$(( $(cat "$WORK/$n/mark") + 1 ))" "$WORK/$n/Quillview.log" >"$WORK/$n/run.log"
    rebuilt=$((rebuilt + $(grep -c 'from parity after' "$WORK/$n/run.log")))
    suppressed=$((suppressed + $(grep -c 'asked for by another receiver' "$WORK/$n/run.log")))
    lat_a+=$(sed -n 's/.*Repair of packets \([0-9]*\) to \([0-9]*\) answered after \([0-9]*\) ms.*/\1 \2 \3/p' \
      "$WORK/$n/run.log" | awk -v waits="$WORK/waits" '
      BEGIN { while ((getline l < waits) > 0) { split(l, f, " "); w[f[1] " " f[2]] = f[3] } }
      { print $3 + w[$1 " " $2] }'; echo)$'\n'
    lat_p+=$(sed -n 's/.*from parity after \([0-9]*\) ms.*/\1/p' "$WORK/$n/run.log"; echo)$'\n'
  done
  lat=$lat_a$lat_p
  # Rates: the runs last a little more or less (the comparisons take time).
  # Against the lossless run per second (a scrolling terminal's bytes follow
  # the frames, which the sender paces, not the lines) and per line printed
  # (the terminal prints more or fewer lines a second as the machine is
  # loaded).
  rate=$(echo "$bytes / $lines" | bc -l) drate=$(echo "$datagrams / $lines" | bc -l)
  persec=$(echo "$bytes / $secs" | bc -l)
  [ "$loss" = 0 ] && LOSSLESS[$n_r]=$rate:$drate:$persec
  ratio=-
  if [ -n "${LOSSLESS[$n_r]:-}" ]; then
    IFS=: read -r l_rate l_drate l_persec <<<"${LOSSLESS[$n_r]}"
    ratio=$(printf '%.2fx bytes per second; %.2fx bytes, %.2fx datagrams per line printed' \
      "$(echo "$persec / $l_persec" | bc -l)" "$(echo "$rate / $l_rate" | bc -l)" \
      "$(echo "$drate / $l_drate" | bc -l)")
  fi
  [ "$exact" -lt "$total" ] && FAILED=1  # keeps the logs
  report "$(printf '%d receivers, loss %s: %.0f kB/s, %.0f datagrams/s, %.0f lines/s (%s), requests %.1f/s (%.2f per datagram sent), repairs %d, rebuilt %d, suppressed %d, latency p50 %s p95 %s ms (p95 rebuilt %s, answered %s), sender CPU %.1f%% (user %.1f%%), receiver CPU %.1f%%, exact %d/%d' \
    "$n_r" "$loss" "$(echo "$bytes / $secs / 1000" | bc -l)" "$(echo "$datagrams / $secs" | bc -l)" \
    "$(echo "$lines / $secs" | bc -l)" "$ratio" "$(echo "$requests / $secs" | bc -l)" "$(echo "$requests / ($datagrams + 1)" | bc -l)" "$repairs" "$rebuilt" "$suppressed" \
    "$(echo "$lat" | grep . | percentile 50)" "$(echo "$lat" | grep . | percentile 95)" \
    "$(echo "$lat_p" | grep . | percentile 95)" "$(echo "$lat_a" | grep . | percentile 95)" \
    "$s_cpu" "$s_ucpu" "$r_cpu" "$exact" "$total")"
  kill "$PID_snd"
  for n in "${active[@]}"; do pid=PID_$n; kill "${!pid}"; done
  wait "$PID_snd" 2>/dev/null
  # The sender's own account: its bytes against the screen's changes alone,
  # whatever speed the terminal reached in this run; in the measured
  # windows (the "so far" lines written at each one's start and end), and
  # in the whole run (joining and comparisons too).
  account() {  # label, "sent parity extra"
    local s_all s_par s_ext
    read -r s_all s_par s_ext <<<"$2"
    report "$(printf '  sender, %s: %d kB sent, parity %d kB, repairs and refreshes %d kB: %.2fx its fresh bytes' \
      "$1" "$s_all" "$s_par" "$s_ext" "$(echo "$s_all / ($s_all - $s_par - $s_ext + 1)" | bc -l)")"
  }
  if [ "$acc_ok" = 1 ]; then
    account "measured" "$acc_all $acc_par $acc_ext"
  else
    echo "the sender did not write its account" >&2
    FAILED=1
  fi
  account "whole run" "$(grep -a 'qcCapture: Sent [0-9]* kB,' "$WORK/snd/Quillcast.log" | tail -n 1 |
    sed -n 's/.*Sent \([0-9]*\) kB, of which \([0-9]*\) kB parity and \([0-9]*\) kB.*/\1 \2 \3/p')"
  for n in "${active[@]}"; do pid=PID_$n; wait "${!pid}" 2>/dev/null; done
  for p in "${burst_pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  sleep 1
done
