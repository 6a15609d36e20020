#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# qvweb under load: the gateway's CPU and the bytes per browser, on an idle
# terminal and on one scrolling 50 lines per second, with 1 and 10 browsers.
# The browsers are WebSocket readers that take everything at once (a browser
# on a fast link), so the gateway's own cost is what is measured. Goal: 10
# browsers on the scrolling terminal under 25% of one core.
#
#   bench/web/gateway_bench.sh BUILD_DIR [OUT_DIR]     (root; RUN_SECONDS=10)
# The sender (on a private Xvfb) and qvweb run in network namespaces of their
# own; nothing leaves the machine. Needs Debian's python3-websockets.
set -uo pipefail
BUILD=$(readlink -f "${1:?usage: gateway_bench.sh BUILD_DIR [OUT_DIR]}")
OUT=${2:-$BUILD/bench-results}
RUN_SECONDS=${RUN_SECONDS:-10}
mkdir -p "$OUT"
OUT=$(readlink -f "$OUT")
. "$(dirname "$(readlink -f "$0")")/../../tests/e2e/e2e_lib.sh"
QCSEND=$BUILD/sender/shell/qcsend
QVWEB=$BUILD/receiver/web/qvweb
NODES=(s w)
declare -A ADDR=([s]=10.79.0.1 [w]=10.79.0.2)
e2e_init qcwb
e2e_network
start_xvfb 1024x768x24 DISPLAY
export DISPLAY

# The terminal: 5 lines every 100 ms while WORK/scroll exists.
cat >"$WORK/scroller.sh" <<'SH'
n=0
while :; do
  if [ -e "$1/scroll" ]; then
    for _ in 1 2 3 4 5; do
      n=$((n + 1)); printf '%6d  -rw-r--r-- 1 root root %7d Dec  7 05:%02d libexample-%d.so\n' \
        $n $((n * 7919 % 9000000)) $((n % 60)) $((n % 101))
    done
  fi
  sleep 0.1
done
SH
spawn_in s xterm -geometry 120x46+0+0 -e bash "$WORK/scroller.sh" "$WORK"
cat >"$WORK/reader.py" <<'PY'
import asyncio, os, sys, websockets
async def main(url, path):
    total = 0
    async with websockets.connect(url, max_size=None, origin="http://127.0.0.1:8080") as ws:
        async def report():
            while True:
                # Replaced whole, so that the shell never reads it half written.
                tmp = os.path.join(os.path.dirname(path), "." + os.path.basename(path))
                open(tmp, "w").write("%d\n" % total)
                os.replace(tmp, path)
                await asyncio.sleep(0.5)
        asyncio.ensure_future(report())
        async for m in ws:
            total += len(m)
asyncio.run(main(sys.argv[1], sys.argv[2]))
PY

mkdir -p "$WORK/w/config"
(cd "$WORK/w" && XDG_CONFIG_HOME=$WORK/w/config exec ip netns exec "$TAG-w" \
   "$QVWEB" --http 127.0.0.1:8080 --public 2>"$WORK/w/stderr") &
PIDS+=($!); QVWEB_PID=$!
start_sender s sender
wait_for 30 w "Quillview - Receiving" 1 || { fail "qvweb receives nothing"; exit 1; }

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
HZ=$(getconf CLK_TCK)
bytes_of() { local t=0 f; for f in "$WORK"/bytes.*; do t=$((t + $(cat "$f" 2>/dev/null || echo 0))); done; echo $t; }
echo "[" >"$OUT/web_gateway_bench.json"
first=1
for browsers in 1 10; do
  readers=()
  for i in $(seq "$browsers"); do
    spawn_in w /usr/bin/python3 "$WORK/reader.py" ws://127.0.0.1:8080/stream "$WORK/bytes.$i"
    readers+=("$SPAWNED")
  done
  sleep 3
  for screen in idle scrolling; do
    [ $screen = scrolling ] && touch "$WORK/scroll" || rm -f "$WORK/scroll"
    sleep 2
    t0=$(ticks "$QVWEB_PID"); b0=$(bytes_of); s0=$(date +%s.%N)
    sleep "$RUN_SECONDS"
    t1=$(ticks "$QVWEB_PID"); b1=$(bytes_of); s1=$(date +%s.%N)
    read -r cpu rate < <(awk -v t=$((t1 - t0)) -v hz="$HZ" -v b=$((b1 - b0)) -v n="$browsers" \
      -v s0="$s0" -v s1="$s1" 'BEGIN { d = s1 - s0; printf "%.1f %.0f\n", 100 * t / hz / d, b / n / d }')
    printf 'qvweb, %2d browser(s), %-9s terminal: %5.1f%% of a core, %8d bytes/s per browser\n' \
      "$browsers" "$screen" "$cpu" "$rate"
    [ $first -eq 1 ] || echo "," >>"$OUT/web_gateway_bench.json"
    first=0
    printf '{"browsers": %d, "screen": "%s", "cpu_percent_of_core": %s, "bytes_per_second_per_browser": %s}' \
      "$browsers" "$screen" "$cpu" "$rate" >>"$OUT/web_gateway_bench.json"
  done
  rm -f "$WORK/scroll"
  for p in "${readers[@]}"; do kill "$p" 2>/dev/null; done
  rm -f "$WORK"/bytes.*
done
echo "]" >>"$OUT/web_gateway_bench.json"
echo "results: $OUT/web_gateway_bench.json"
