#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/qvrecv-tray.png: a receiver (Qt tray view, windowed viewer) on
# one Xvfb screen showing the transmission of a sender on another, with the
# tray menu open. Runs in a private network namespace; displays :85 and :86.
#
#   make_screenshot.sh QCSEND QVRECV OUT.png
set -euo pipefail
QCSEND=$(readlink -f "$1"); QVRECV=$(readlink -f "$2"); OUT=$(readlink -f "$3")
# shellcheck source=tools/shot_env.sh
source "$(dirname "$(readlink -f "$0")")/shot_env.sh"

Xvfb :86 -nolisten tcp -noreset -screen 0 800x500x24 >/dev/null 2>&1 & PIDS+=($!)
Xvfb :85 -nolisten tcp -noreset -screen 0 1024x768x24 >/dev/null 2>&1 & PIDS+=($!)
sleep 1
# The sender's screen: a desktop with a terminal and a clock.
DISPLAY=:86 xsetroot -solid '#3a6b35'
DISPLAY=:86 xclock -geometry 160x160+600+40 -update 1 & PIDS+=($!)
DISPLAY=:86 xterm -geometry 70x20+30+40 -bg black -fg '#e0e0e0' -e bash -c \
  'echo "Quillcast sender screen"; echo; ls -l /usr/share/doc | head -14; sleep 600' & PIDS+=($!)
# The receiver's desktop with a tray host at the top.
DISPLAY=:85 xsetroot -solid '#2b4a6f'
DISPLAY=:85 trayer --edge top --align right --widthtype request --height 28 \
  --SetDockType true --transparent false --tint 0x404040 >/dev/null 2>&1 & PIDS+=($!)
sleep 1
(cd "$WORK" && DISPLAY=:86 exec "$QCSEND" --headless -start 2>/dev/null) & PIDS+=($!)
# The receiver's data socket cannot share port P with the sender's start
# check on one host: start it once the check is over.
sleep 3
(cd "$WORK" && DISPLAY=:85 exec "$QVRECV" 2>/dev/null) & PIDS+=($!)
sleep 20
# Right-click the tray icon (the trayer's only icon, top right).
read -r X Y W H < <(DISPLAY=:85 xdotool search --name '^panel$' getwindowgeometry --shell 2>/dev/null |
  awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}')
DISPLAY=:85 xdotool mousemove $((X + W / 2)) $((Y + H / 2))
sleep 0.5
DISPLAY=:85 xdotool mousedown 3
sleep 0.3
DISPLAY=:85 xdotool mouseup 3
sleep 1.5
DISPLAY=:85 import -window root "$OUT"
echo "wrote $OUT"
