#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Attack bench: an ordinary host on the LAN against a transmission. A sender
# shows a 1280x800 screen whose terminal prints 50 lines a second; two
# honest headless receivers watch it; a third host (qc_attacker) forges a
# disconnection, init, updates and keep-alives under the live identifier,
# replays a recording of an earlier transmission, floods repair, refresh
# and wrong-identifier requests at 10, 100 and 1000 a second, and sends junk
# to both ports. Per phase it prints the sender's output (kB/s) and CPU (% of
# a core) and the receivers' CPU, and whether both receivers' pictures
# equal the screen 1 s after the attack, following the right sender. Last,
# a second sender starts beside a host that sends junk to its port.
#
#   bench/attack.sh BUILD_DIR [OUT_DIR]        (root; Xvfb, xterm, ImageMagick)
#   QCSEND, QVRECV, COMPARE   other programs (e.g. an older build, for "before")
#   ATTACKER                  the attacker (default BUILD_DIR's qc_attacker)
#   ATTACK_SECONDS            length of each phase (10)
#   ATTACK_SIGNED=1           the sender signs (qcsend --new-key), receivers --trust
#   ATTACK_PHASES             phases to run (default: all, in the order below)
#
# Hosts are network namespaces on a private bridge; nothing leaves the machine.
set -uo pipefail
# shellcheck source=../tests/e2e/e2e_lib.sh
. "$(dirname "$0")/../tests/e2e/e2e_lib.sh"

BUILD=$(readlink -f "${1:?usage: bench/attack.sh BUILD_DIR [OUT_DIR]}")
OUT=$(readlink -f "${2:-$BUILD/bench-results}")
QCSEND=${QCSEND:-$BUILD/sender/shell/qcsend}
QVRECV=${QVRECV:-$BUILD/receiver/shell/qvrecv}
COMPARE=${COMPARE:-$BUILD/tests/e2e/qc_compare_png}
ATTACKER=${ATTACKER:-$BUILD/bench/attack/qc_attacker}
SECONDS_PER_PHASE=${ATTACK_SECONDS:-10}
SIGNED=${ATTACK_SIGNED:-0}
PHASES=${ATTACK_PHASES:-"quiet repair:10 repair:100 repair:1000 refresh:1000 wrongid:1000 junk:1000 forge replay"}
PORT=5982
mkdir -p "$OUT"
NODES=(s r1 r2 a s2)
declare -A ADDR=([s]=10.82.0.1 [r1]=10.82.0.11 [r2]=10.82.0.12 [a]=10.82.0.66 [s2]=10.82.0.2)
e2e_init qca
e2e_network
start_xvfb 1280x800x24 DISPLAY
export DISPLAY
xsetroot -solid '#203040'
printf '#define b_width 1\n#define b_height 1\n#define b_x_hot 0\n#define b_y_hot 0\n%s\n' \
  'static char b_bits[] = {' '  0x00, };' >"$WORK/blank.xbm"
xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
# The terminal prints 50 lines a second while WORK/print exists.
xterm -geometry 200x58+0+0 -bg black -fg '#e0e0e0' -e bash -c \
  "i=0; while :; do if [ -e '$WORK/print' ]; then
     echo \"line \$i \$RANDOM\$RANDOM the quick brown fox jumps over the lazy dog \$i\"; i=\$((i+1));
     sleep 0.02; else sleep 0.05; fi; done" 2>/dev/null &
PIDS+=($!)
sleep 1
RESULTS=$OUT/attack$([ "$SIGNED" = 1 ] && echo -signed).txt
: >"$RESULTS"
report() { echo "$*" | tee -a "$RESULTS"; }

in_ns s iptables -A OUTPUT -p udp --dport $PORT
sent_bytes() { in_ns s iptables -L OUTPUT -v -x -n | awk '/udp/ {print $2; exit}'; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
TICKS=$(getconf CLK_TCK)

TRUST=()
if [ "$SIGNED" = 1 ]; then
  mkdir -p "$WORK/snd/config"
  KEY=$(XDG_CONFIG_HOME=$WORK/snd/config in_ns s "$QCSEND" --new-key | awk 'NF == 1 && length($1) == 44 {print $1}')
  [ -n "$KEY" ] || { fail "qcsend --new-key printed no key"; exit 1; }
  TRUST=(--trust "$KEY")
  report "signed transmission, key $KEY"
fi

start_all() {
  start_sender s snd
  sleep 2
  start_receiver r1 "${TRUST[@]}"
  start_receiver r2 "${TRUST[@]}"
  sleep 2
}
stop_receivers() {
  kill "$PID_r1" "$PID_r2" 2>/dev/null || true
  wait "$PID_r1" "$PID_r2" 2>/dev/null
}
sample() {
  local n pid
  for n in r1 r2; do rm -f "$WORK/$n/snap.png"; pid=PID_$n; kill -USR1 "${!pid}" 2>/dev/null; done
  in_ns s import -window root "$WORK/screen.png"
  for n in r1 r2; do
    for _ in $(seq 30); do [ -s "$WORK/$n/snap.png" ] && break; sleep 0.1; done
  done
}

start_all
# A recording of this first transmission, replayed later against another one.
in_ns a "$ATTACKER" record $PORT 4 "$WORK/recorded.bin" >/dev/null
kill "$PID_snd"; wait "$PID_snd" 2>/dev/null
stop_receivers
sleep 1

report "$(printf '%-13s %10s %9s %8s %8s %7s %s' phase 'sent kB/s' 'sender%' 'r1%' 'r2%' exact 'followed')"
for phase in $PHASES; do
  kind=${phase%%:*} rate=${phase#*:}
  start_all
  touch "$WORK/print"
  sleep 1
  in_ns s iptables -Z OUTPUT
  c0=$(cpu_ticks "$PID_snd") r10=$(cpu_ticks "$PID_r1") r20=$(cpu_ticks "$PID_r2")
  t0=$(date +%s.%N)
  case $kind in
    quiet) sleep "$SECONDS_PER_PHASE" ;;
    forge) in_ns a "$ATTACKER" forge $PORT "$SECONDS_PER_PHASE" >>"$WORK/attacker.log" ;;
    replay) in_ns a "$ATTACKER" replay $PORT "$SECONDS_PER_PHASE" "$WORK/recorded.bin" >>"$WORK/attacker.log" ;;
    *) in_ns a "$ATTACKER" "$kind" $PORT "$rate" "$SECONDS_PER_PHASE" >>"$WORK/attacker.log" ;;
  esac
  secs=$(echo "$(date +%s.%N) - $t0" | bc)
  bytes=$(sent_bytes)
  c1=$(cpu_ticks "$PID_snd") r11=$(cpu_ticks "$PID_r1") r21=$(cpu_ticks "$PID_r2")
  rm -f "$WORK/print"
  sleep 1
  sample
  exact=0
  for n in r1 r2; do
    $COMPARE "$WORK/$n/snap.png" "$WORK/screen.png" 24 >/dev/null 2>&1 && exact=$((exact + 1))
  done
  # The right sender: every init the receivers took came from s.
  foreign=$(grep -h 'Received server init\|Transmission from' "$WORK"/r1/Quillview.log "$WORK"/r2/Quillview.log |
            grep -c "Transmission from" )
  others=$(grep -h 'Transmission from' "$WORK"/r1/Quillview.log "$WORK"/r2/Quillview.log | grep -vc "${ADDR[s]}:")
  inits=$(cat "$WORK"/r1/Quillview.log "$WORK"/r2/Quillview.log | grep -c 'Received server init message')
  if [ "$foreign" -gt 0 ]; then follow="$([ "$others" = 0 ] && echo "s only" || echo "ATTACKER too")"
  else follow="$inits inits (no source check)"; fi
  pct() { echo "($2 - $1) * 100 / $TICKS / $secs" | bc -l; }
  report "$(printf '%-13s %10.1f %9.1f %8.1f %8.1f %5d/2 %s' "$phase" \
    "$(echo "$bytes / $secs / 1000" | bc -l)" "$(pct "$c0" "$c1")" "$(pct "$r10" "$r11")" \
    "$(pct "$r20" "$r21")" "$exact" "$follow")"
  kill "$PID_snd"; wait "$PID_snd" 2>/dev/null
  stop_receivers
  # What the receivers' checks dropped (logged when they stop).
  grep -h 'from other sources dropped\|qvViewer: Signed' "$WORK"/r1/Quillview.log |
    sed 's/^[0-9:]* qvViewer: /    r1: /' | tee -a "$RESULTS"
  for n in r1 r2; do mv "$WORK/$n/Quillview.log" "$WORK/$n/Quillview-$kind-$rate.log" 2>/dev/null; done
  sleep 1
done

# The start check beside a host that sends junk to the port every 200 ms.
in_ns a "$ATTACKER" junk 6990 5 8 >/dev/null &
PIDS+=($!)
sleep 1
start_sender s2 snd2 -port 6990
sleep 4
if grep -q 'Another transmitter' "$WORK/snd2/Quillcast.log"; then
  report "qcsend -start beside a junk sender: refused"
else
  report "qcsend -start beside a junk sender: $(grep -q 'Sending fullscreen update' "$WORK/snd2/Quillcast.log" && echo starts || echo 'did not start')"
fi
