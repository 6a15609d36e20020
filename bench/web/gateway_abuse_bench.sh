#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# qvweb under abuse: one hostile host of the LAN (a namespace of its own)
# attacks the gateway while it serves a scrolling terminal and a real
# headless Chromium watches. Printed: the gateway's RSS and CPU in each
# phase, the real browser's time to its first picture while the attack
# holds, whether a page of another site or a foreign Host name gets the
# picture, and the token guesses the gateway compares per second.
#
#   bench/web/gateway_abuse_bench.sh BUILD_DIR [OUT_DIR]      (root)
#   QVWEB=/path/to/other/qvweb ... to measure another build of the gateway
# The gateway runs with --token on plain HTTP (what every build has), so
# builds compare; nothing leaves the machine. Needs chromium and Debian's
# python3-websockets.
set -uo pipefail
BUILD=$(readlink -f "${1:?usage: gateway_abuse_bench.sh BUILD_DIR [OUT_DIR]}")
OUT=${2:-$BUILD/bench-results}
mkdir -p "$OUT"
OUT=$(readlink -f "$OUT")
HERE=$(dirname "$(readlink -f "$0")")
. "$HERE/../../tests/e2e/e2e_lib.sh"
QCSEND=$BUILD/sender/shell/qcsend
QVWEB=$(readlink -f "${QVWEB:-$BUILD/receiver/web/qvweb}")
TOOL=(/usr/bin/python3 "$HERE/../../tests/web/browser_tool.py")
NODES=(s w a)
declare -A ADDR=([s]=10.77.0.1 [w]=10.77.0.2 [a]=10.77.0.3)
GW=10.77.0.2
PAGE="http://$GW:8080/?token=s3cret"
e2e_init qcwa
e2e_network
start_xvfb 1024x768x24 DISPLAY
export DISPLAY

# The terminal: 5 lines every 100 ms.
cat >"$WORK/scroller.sh" <<'SH'
n=0
while :; do
  for _ in 1 2 3 4 5; do
    n=$((n + 1)); printf '%6d  -rw-r--r-- 1 root root %7d Dec  7 05:%02d libexample-%d.so\n' \
      $n $((n * 7919 % 9000000)) $((n % 60)) $((n % 101))
  done
  sleep 0.1
done
SH
spawn_in s xterm -geometry 120x46+0+0 -e bash "$WORK/scroller.sh"

mkdir -p "$WORK/w/config"
# Started as from a desktop session: a soft open-file limit of 1024.
(cd "$WORK/w" && XDG_CONFIG_HOME=$WORK/w/config exec ip netns exec "$TAG-w" \
   prlimit --nofile=1024:"$(ulimit -Hn)" "$QVWEB" --http 0.0.0.0:8080 --token s3cret \
   2>"$WORK/w/stderr") &
PIDS+=($!); QVWEB_PID=$!
start_sender s sender
wait_for 30 w "Quillview - Receiving" 1 || { fail "qvweb receives nothing"; exit 1; }
spawn_in w chromium --headless=new --no-sandbox --disable-gpu --user-data-dir="$WORK/chrome" \
  --remote-debugging-port=9222 --window-size=1200,900 about:blank >"$WORK/chrome.log" 2>&1
for _ in $(seq 100); do in_ns w curl -sf http://127.0.0.1:9222/json/version >/dev/null && break; sleep 0.1; done
say "watching: $(in_ns w "${TOOL[@]}" firstpicture 9222 "$PAGE") to the first picture"

HZ=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$QVWEB_PID/stat"; }
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$QVWEB_PID/status" 2>/dev/null || echo 0; }
# Runs "$@" while sampling the gateway; prints peak RSS (kB) and CPU (%).
measure() {
  local t0 s0 peak=0 r pid
  t0=$(ticks); s0=$(date +%s.%N)
  "$@" & pid=$!
  while kill -0 $pid 2>/dev/null; do
    r=$(rss); [ "${r:-0}" -gt $peak ] && peak=$r; sleep 0.2
  done
  wait $pid
  awk -v p=$peak -v t=$(( $(ticks) - t0 )) -v hz="$HZ" -v s0="$s0" -v s1="$(date +%s.%N)" \
    'BEGIN { printf "%d %.1f\n", p, 100 * t / hz / (s1 - s0) }'
}
attack() { in_ns a "${TOOL[@]}" "$@"; }

sleep 3
read -r idle_rss idle_cpu < <(measure sleep 5)
say "gateway, one browser, scrolling terminal: RSS ${idle_rss} kB, ${idle_cpu}% of a core"

heads() {
  attack bighead $GW 8080 4 100 >"$WORK/heads.out" 2>&1 &
  attack bigbody $GW 8080 100 >"$WORK/body.out" 2>&1
  wait
}
read -r head_rss head_cpu < <(measure heads)
say "4 endless headers + a 500 MB body: peak RSS ${head_rss} kB (+$((head_rss - idle_rss)) kB), ${head_cpu}% of a core"
say "  $(cat "$WORK/heads.out")"
say "  $(cat "$WORK/body.out")"

# The hold: 1,000 idle connections and 64 stalled WebSockets, then a real
# browser opens the page.
spawn_in a "${TOOL[@]}" stalls $GW 8080 "/stream?token=s3cret" 64 >"$WORK/stalls.out" 2>&1
STALLS=$SPAWNED
spawn_in a "${TOOL[@]}" idle $GW 8080 1000 25 >"$WORK/idle.out" 2>&1
IDLE=$SPAWNED
sleep 8
hold() {
  in_ns w "${TOOL[@]}" firstpicture 9222 "$PAGE" >"$WORK/hold.out" 2>&1
  sleep 2
}
read -r hold_rss hold_cpu < <(measure hold)
say "1,000 idle connections + 64 stalled WebSockets held: a new browser tab paints its first picture in $(cat "$WORK/hold.out");"
say "  gateway: peak RSS ${hold_rss} kB, ${hold_cpu}% of a core, $(ls /proc/$QVWEB_PID/fd | wc -l) descriptors"
wait "$IDLE"; say "  $(cat "$WORK/idle.out")"
kill "$STALLS" 2>/dev/null

cross=$(attack cross $GW 8080 "/stream?token=s3cret")
say "$cross"
guessing() { attack guess $GW 8080 5 >"$WORK/guess.out" 2>&1; }
read -r guess_rss guess_cpu < <(measure guessing)
say "$(cat "$WORK/guess.out"); gateway ${guess_cpu}% of a core"

guesses=$(awk '{print $(NF - 3)}' "$WORK/guess.out")
cat >"$OUT/web_gateway_abuse_bench.json" <<JSON
{"qvweb": "$QVWEB",
 "idle_rss_kb": $idle_rss, "idle_cpu_percent": $idle_cpu,
 "header_attack_peak_rss_kb": $head_rss, "header_attack_cpu_percent": $head_cpu,
 "hold_first_picture": "$(cat "$WORK/hold.out")", "hold_peak_rss_kb": $hold_rss, "hold_cpu_percent": $hold_cpu,
 "cross_origin": "$cross", "token_guesses_compared_per_second": $guesses}
JSON
echo "results: $OUT/web_gateway_abuse_bench.json"
