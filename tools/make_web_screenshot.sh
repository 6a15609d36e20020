#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/qvweb-page.png: the page of qvweb in headless Chromium, showing a
# sender's Xvfb screen (a terminal and a clock). Runs in a private network
# namespace (root); displays are picked free from :87 on.
#
#   make_web_screenshot.sh QCSEND QVWEB OUT.png
set -euo pipefail
QCSEND=$(readlink -f "$1"); QVWEB=$(readlink -f "$2"); OUT=$(readlink -f "$3")
TOOL=(/usr/bin/python3 "$(dirname "$(readlink -f "$0")")/../tests/web/browser_tool.py")
# shellcheck source=tools/shot_env.sh
source "$(dirname "$(readlink -f "$0")")/shot_env.sh"
D=87; while [ -e "/tmp/.X$D-lock" ]; do D=$((D + 1)); done
export DISPLAY=:$D
Xvfb "$DISPLAY" -nolisten tcp -noreset -screen 0 800x500x24 >/dev/null 2>&1 & PIDS+=($!)
sleep 1
xsetroot -solid '#3a6b35'
xclock -geometry 160x160+600+40 -update 1 & PIDS+=($!)
xterm -geometry 70x20+30+40 -bg black -fg '#e0e0e0' -e bash -c \
  'echo "Quillcast sender screen"; echo; ls -l /usr/share/doc | head -14; sleep 600' & PIDS+=($!)
sleep 1
(cd "$WORK" && exec "$QCSEND" --headless -start 2>/dev/null) & PIDS+=($!)
# qvweb's data socket cannot share port P with the sender's start check on
# one host: start it once the check is over.
sleep 3
(cd "$WORK" && exec "$QVWEB" --http 127.0.0.1:8080 --token demo 2>/dev/null) & PIDS+=($!)
(env -u DISPLAY chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars \
   --user-data-dir="$WORK/chrome" --remote-debugging-port=9222 --window-size=960,640 \
   about:blank >/dev/null 2>&1) & PIDS+=($!)
for _ in $(seq 100); do curl -sf http://127.0.0.1:9222/json/version >/dev/null && break; sleep 0.1; done
"${TOOL[@]}" open 9222 "http://127.0.0.1:8080/?token=demo" 1
xdotool mousemove 420 300
sleep 20
"${TOOL[@]}" shot 9222 0 "$OUT"
echo "wrote $OUT"
