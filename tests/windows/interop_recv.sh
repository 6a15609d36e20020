#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The Linux qcsend to qvrecv.exe under Wine: the sender multicasts a
# patterned Xvfb screen, the Windows receiver shows it on a second Xvfb.
#  1. Windowed on a larger screen: the viewer window's client area (Wine
#     maps it as the X window named "Quillview") equals the sender's screen
#     pixel for pixel; again after the sender has ended (the window goes)
#     and started anew. Alt+Enter, Escape and Alt+F4 in the window, a
#     double click on the tray icon.
#  2. Full screen (registry value FullScreen = 1) on a screen of 75 % of the
#     picture's size: the whole screen holds the picture scaled down, within
#     a tolerance against ImageMagick's own scaling.
#  3. Windowed again, from a 16-bit sender screen: every channel exactly
#     the nearest 8-bit value of the sender's 5- or 6-bit one, as the
#     screen's own picture has it (bit replication would put the green 13
#     of '#cc3366' at 52, not 53).
#  4. Windowed on a screen smaller than the picture: scroll bars, the
#     picture's top-left part, scrolling with the mouse wheel.
#  5. The remote cursor where the sender's pointer is, and no trace of it
#     where it was.
#  6. A video plays on the sender's screen (ffplay): its region arrives as
#     H.264, which qvrecv.exe decodes with Media Foundation (under Wine:
#     winegstreamer); with the player stopped on a frame the window shows
#     that frame closely (PSNR) and the rest exactly.
#   interop_recv.sh PREFIX QVRECV_EXE QCSEND COMPARE_PNG
# Runs in a private network namespace (only lo, multicast routed to it);
# the Wine server is started inside it, so no datagram leaves the machine.
set -eu
if [ "${QC_INTEROP_NETNS:-}" != "$$" ]; then
  exec unshare -n sh -c 'ip link set lo up && ip link set lo multicast on &&
    ip route add 224.0.0.0/4 dev lo && QC_INTEROP_NETNS=$$ exec "$0" "$@"' "$0" "$@"
fi
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
WINE=/usr/lib/wine/wine64
EXE=$2 QCSEND=$3 COMPARE=$4
for prog in "$QCSEND" "$COMPARE"; do
  [ -x "$prog" ] || { echo "missing $prog: build the native tree (build/release) first" >&2; exit 1; }
done
KEY='HKCU\Software\Quillcast\Receiver'
WORK=$(mktemp -d)
pids=""
receiver=""
cleanup() {
  [ -z "$receiver" ] || kill "$receiver" 2>/dev/null || true
  # The prefix is shared with the other tests: leave no receiver setting.
  [ -z "${rdisplay:-}" ] || DISPLAY=$rdisplay "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  "$WINESERVER" -k 2>/dev/null || true
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  [ -n "${QC_KEEP_WORK:-}" ] && echo "kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT

# An Xvfb screen of the size given; its display lands in the variable named.
xvfb() {
  rm -f "$WORK/fifo" && mkfifo "$WORK/fifo"
  Xvfb -displayfd 5 -nolisten tcp -noreset -screen 0 "$2" 5>"$WORK/fifo" 2>/dev/null &
  pids="$pids $!"
  read -r d <"$WORK/fifo"
  eval "$1=:$d"
}

# qvrecv.exe on the receiver screen rdisplay. Wine's desktop keeps the
# display its server started with: a fresh server each time.
start_receiver() {
  { "$WINESERVER" -k && "$WINESERVER" -w; } 2>/dev/null || true
  DISPLAY=$rdisplay "$WINE" reg add "$KEY" /v FullScreen /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  (cd "$WORK" && DISPLAY=$rdisplay exec "$WINE" "$EXE" >"$WORK/qvrecv.log" 2>&1) &
  receiver=$!
}

fail() {
  echo "FAIL: $1"
  cat "$WORK/result" "$WORK/qcsend.log" "$WORK/qvrecv.log" 2>/dev/null | tail -20
  exit 1
}

# The sender: a plaid of two colours (rows and columns both change along the
# screen) and a cursor without a single visible pixel, so that the remote
# cursor the receiver draws covers nothing.
xvfb sdisplay 320x240x24
printf '#define b_width 8\n#define b_height 1\n#define b_x_hot 0\n#define b_y_hot 0\n%s\n%s\n' \
  'static unsigned char b_bits[] = {' '0x00 };' >"$WORK/blank.xbm"
DISPLAY=$sdisplay xsetroot -mod 5 3 -fg '#cc3366' -bg '#33aa77'
DISPLAY=$sdisplay xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
mkdir -p "$WORK/config" "$WORK/run" && chmod 700 "$WORK/run"
start_sender() {
  (cd "$WORK" && DISPLAY=$sdisplay XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/run \
    exec "$QCSEND" --headless -start 2>>"$WORK/qcsend.log") &
  sender=$!
  pids="$pids $sender"
}
start_sender

# The viewer window shown on the receiver screen (WxH+X+Y; empty when none).
viewer_geometry() {
  DISPLAY=$rdisplay xwininfo -name Quillview 2>/dev/null |
    awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
         /Width:/ {w=$NF} /Height:/ {h=$NF} /Map State: IsViewable/ {v=1}
         END {if (v) print w "x" h "+" x "+" y}' || true
}

# True once the viewer window's client area equals the sender's screen.
window_matches() {
  for _ in $(seq 30); do
    sleep 1
    geometry=$(viewer_geometry)
    [ -n "$geometry" ] || continue
    DISPLAY=$sdisplay import -window root "$WORK/screen.png"
    DISPLAY=$rdisplay import -window root -crop "$geometry" +repage "$WORK/window.png"
    "$COMPARE" "$WORK/window.png" "$WORK/screen.png" "${depth:-24}" >"$WORK/result" 2>&1 &&
      return 0
  done
  return 1
}

# 1. Windowed, unscaled.
xvfb rdisplay 640x480x24
start_receiver 0
window_matches || fail "the viewer window never showed the sender's screen (window $geometry)"
echo "windowed: the viewer window ($geometry) equals the sender's screen"

# The sender ends (its disconnection datagram hides the window and restarts
# the viewer) and comes back with other colours: a new window shows them.
kill -TERM "$sender"
wait "$sender" 2>/dev/null || true
for _ in $(seq 20); do [ -z "$(viewer_geometry)" ] && break; sleep 0.5; done
[ -z "$(viewer_geometry)" ] || fail "the viewer window stayed after the sender ended"
DISPLAY=$sdisplay xsetroot -mod 5 3 -fg '#3366cc' -bg '#ffcc00'
start_sender
window_matches || fail "the viewer window never showed the restarted sender's screen"
echo "sender restarted: the new viewer window ($geometry) equals its screen"

# Keys of the viewer window (Return is released before Alt, as a hand does):
# Alt+Enter shows the picture full screen, unscaled and centred; Escape goes
# back to the window as it was; Alt+F4 ends the program.
viewer_keys() {
  DISPLAY=$rdisplay xdotool search --name '^Quillview$' windowfocus "$@"
}
windowed=$geometry
viewer_keys keydown alt keydown Return keyup Return keyup alt
for _ in $(seq 20); do [ "$(viewer_geometry)" = 640x480+0+0 ] && break; sleep 0.5; done
[ "$(viewer_geometry)" = 640x480+0+0 ] || fail "Alt+Enter: window $(viewer_geometry)"
DISPLAY=$rdisplay import -window root -crop 320x240+160+120 +repage "$WORK/window.png"
"$COMPARE" "$WORK/window.png" "$WORK/screen.png" 24 >"$WORK/result" 2>&1 ||
  fail "full screen: the picture is not in the middle of the screen"
viewer_keys key Escape
for _ in $(seq 20); do [ "$(viewer_geometry)" = "$windowed" ] && break; sleep 0.5; done
[ "$(viewer_geometry)" = "$windowed" ] || fail "Escape: window $(viewer_geometry), not $windowed"
# A double click on the tray icon (the only one in Wine's own tray window)
# toggles full screen too.
tray=$(DISPLAY=$rdisplay xwininfo -name 'Wine System Tray' 2>/dev/null |
  awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x + 10, y + 10}')
DISPLAY=$rdisplay xdotool mousemove $tray click --repeat 2 --delay 80 1
for _ in $(seq 20); do [ "$(viewer_geometry)" = 640x480+0+0 ] && break; sleep 0.5; done
[ "$(viewer_geometry)" = 640x480+0+0 ] || fail "tray double click: window $(viewer_geometry)"
viewer_keys key Escape
for _ in $(seq 20); do [ "$(viewer_geometry)" = "$windowed" ] && break; sleep 0.5; done
viewer_keys keydown alt keydown F4 keyup F4 keyup alt
for _ in $(seq 20); do kill -0 "$receiver" 2>/dev/null || break; sleep 0.5; done
code=0
wait "$receiver" || code=$?
receiver=""
[ "$code" -eq 0 ] || fail "Alt+F4: qvrecv.exe ended with $code"
echo "keys: Alt+Enter, Escape, the tray icon's double click and Alt+F4 work"

# 2. Full screen, scaled to 75 %: a checkerboard of 16-pixel squares, so
# that the comparison measures placement and scale, not how the two filters
# treat fine lines.
{
  printf '#define c_width 32\n#define c_height 32\nstatic unsigned char c_bits[] = {\n'
  for row in $(seq 32); do
    if [ "$row" -le 16 ]; then printf '0xff,0xff,0x00,0x00,\n'; else printf '0x00,0x00,0xff,0xff,\n'; fi
  done
  printf '};\n'
} >"$WORK/checker.xbm"
DISPLAY=$sdisplay xsetroot -bitmap "$WORK/checker.xbm" -fg '#cc3366' -bg '#33aa77'
xvfb rdisplay 240x180x24
start_receiver 1
ok=""
for _ in $(seq 30); do
  sleep 1
  DISPLAY=$sdisplay import -window root "$WORK/screen.png"
  DISPLAY=$rdisplay import -window root "$WORK/full.png"
  convert "$WORK/screen.png" -resize '240x180!' "$WORK/expected.png"
  # Normalised root-mean-square error, 0..1, in parentheses.
  error=$(compare -metric RMSE "$WORK/full.png" "$WORK/expected.png" null: 2>&1 |
    sed -n 's/.*(\(.*\)).*/\1/p')
  echo "RMSE $error" >"$WORK/result"
  if [ -n "$error" ] && awk -v e="$error" 'BEGIN {exit !(e < 0.04)}'; then
    ok=1
    break
  fi
done
[ -n "$ok" ] || fail "the full screen never showed the scaled picture"
echo "full screen: the scaled picture covers the screen (RMSE $error)"

# 3. A 16-bit sender screen (5-6-5 pixels), shown windowed.
kill "$receiver" "$sender" 2>/dev/null || true
wait "$sender" 2>/dev/null || true
xvfb sdisplay 336x200x16
# Lines 16 pixels apart: a picture scrolled by 6 rows is another picture.
DISPLAY=$sdisplay xsetroot -mod 16 16 -fg '#cc3366' -bg '#33aa77'
DISPLAY=$sdisplay xsetroot -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
start_sender
xvfb rdisplay 640x480x24
start_receiver 0
depth=exact
window_matches || fail "the viewer window never showed the 16-bit screen (window $geometry)"
echo "16 bits: the viewer window ($geometry) equals the sender's screen"

# 4. A receiver screen smaller than the picture: the window fills the work
# area with scroll bars and shows the picture's top-left part; a turn of the
# mouse wheel scrolls it down by 6 rows.
xvfb rdisplay 200x150x24
start_receiver 0
part_matches() {  # dy
  for _ in $(seq 20); do
    sleep 0.5
    geometry=$(viewer_geometry)
    [ -n "$geometry" ] || continue
    w=${geometry%%x*} rest=${geometry#*x} h=${rest%%+*} at=${geometry#*+}
    inner=$((w - 24))x$((h - 24))
    DISPLAY=$sdisplay import -window root -crop "$inner+0+$1" +repage "$WORK/screen.png"
    DISPLAY=$rdisplay import -window root -crop "$inner+${at%+*}+${at#*+}" +repage "$WORK/window.png"
    "$COMPARE" "$WORK/window.png" "$WORK/screen.png" 16 >"$WORK/result" 2>&1 && return 0
  done
  return 1
}
part_matches 0 || fail "the small window does not show the picture's top-left part ($geometry)"
DISPLAY=$rdisplay xdotool mousemove $((${at%+*} + 20)) $((${at#*+} + 20)) click 5
part_matches 6 || fail "the mouse wheel did not scroll the picture by 6 rows"
echo "scrolling: the window ($geometry) shows the top-left part, the wheel scrolls it"

# 5. The sender's cursor is drawn into the picture: a visible one (shown
# from the sender's start) changes some pixels next to the pointer and
# nothing elsewhere, and when the pointer moves it leaves no trace.
kill "$receiver" "$sender" 2>/dev/null || true
wait "$sender" 2>/dev/null || true
xvfb sdisplay 320x240x24
DISPLAY=$sdisplay xsetroot -mod 5 3 -fg '#cc3366' -bg '#33aa77'
DISPLAY=$sdisplay xsetroot -cursor_name left_ptr
DISPLAY=$sdisplay xdotool mousemove 100 100
start_sender
xvfb rdisplay 640x480x24
start_receiver 0
depth=24
cursor_near() {  # x y: the window differs from the screen only around (x, y)
  for _ in $(seq 30); do
    sleep 1
    geometry=$(viewer_geometry)
    [ -n "$geometry" ] || continue
    DISPLAY=$sdisplay import -window root "$WORK/screen.png"
    DISPLAY=$rdisplay import -window root -crop "$geometry" +repage "$WORK/window.png"
    "$COMPARE" "$WORK/window.png" "$WORK/screen.png" 24 >"$WORK/result" 2>&1 || true
    awk -v x="$1" -v y="$2" '/pixel \(/ {split($2, p, /[(,)]/)
         if (p[2] < x - 10 || p[2] > x + 40 || p[3] < y - 10 || p[3] > y + 40) bad = 1}
       / pixels differ/ {n = $1}
       END {exit !(n >= 20 && n <= 1200 && !bad)}' "$WORK/result" && return 0
  done
  return 1
}
cursor_near 100 100 || fail "the remote cursor is not at the sender's pointer (100, 100)"
DISPLAY=$sdisplay xdotool mousemove 200 150
cursor_near 200 150 || fail "the remote cursor did not move cleanly to (200, 150)"
echo "cursor: drawn at the sender's pointer, moved without a trace"

# 6. Video. The receiver logs: it counts the frames it decodes.
kill "$receiver" "$sender" 2>/dev/null || true
wait "$sender" 2>/dev/null || true
command -v ffplay >/dev/null || fail "ffplay is missing (package ffmpeg)"
ffmpeg -loglevel error -y -f lavfi -i "testsrc2=s=192x128:r=30" -t 4 -vf "noise=alls=12:allf=t,format=yuv420p" \
  -c:v libx264 -preset ultrafast -crf 16 "$WORK/clip.mp4" || fail "could not make the clip"
DISPLAY=$sdisplay xsetroot -solid "#2b4a6f" -cursor "$WORK/blank.xbm" "$WORK/blank.xbm"
DISPLAY=$rdisplay "$WINE" reg add "$KEY" /v EnableLogging /t REG_DWORD /d 1 /f >/dev/null 2>&1
start_sender
start_receiver 0
window_matches || fail "the viewer window never showed the sender's screen before the video"
(DISPLAY=$sdisplay SDL_AUDIODRIVER=dummy exec ffplay -loglevel error -an -noborder -left 16 \
   -top 16 -loop 0 "$WORK/clip.mp4" >"$WORK/ffplay.log" 2>&1) &
player=$!
pids="$pids $player"
for _ in $(seq 100); do
  grep -q "Video frames shown" "$WORK/Quillview.log" 2>/dev/null && break
  sleep 0.1
done
grep -q "Video frames shown" "$WORK/Quillview.log" 2>/dev/null ||
  fail "qvrecv.exe decoded no video frames: $(grep -h -m2 'H.264\|decoder' "$WORK/Quillview.log")"
# A moment after the player stops the region still comes from the video
# stream (it ends after 300 ms without change).
kill -STOP "$player"
sleep 0.1
geometry=$(viewer_geometry)
DISPLAY=$sdisplay import -window root "$WORK/screen.png"
DISPLAY=$rdisplay import -window root -crop "$geometry" +repage "$WORK/window.png"
kill -CONT "$player"
kill "$player"
for f in screen window; do
  convert "$WORK/$f.png" -crop 192x128+16+16 +repage "$WORK/$f-video.png"
  # Around the player (with a margin for the region's tiles): exact.
  convert "$WORK/$f.png" -fill black -draw "rectangle 0,0 240,176" "$WORK/$f-around.png"
done
psnr=$(compare -metric PSNR "$WORK/window-video.png" "$WORK/screen-video.png" null: 2>&1 | cut -d' ' -f1)
# The clip's grain (which makes it a video to the sender) holds H.264 near
# 25 dB here, and a window one frame behind near 19 (the grain changes every
# frame); the picture from before the video scores about 6.
awk -v p="$psnr" 'BEGIN { exit !(p == "inf" || p + 0 > 14) }' ||
  fail "the video region in the window is not the sender's frame: PSNR $psnr dB"
"$COMPARE" "$WORK/window-around.png" "$WORK/screen-around.png" 24 >"$WORK/result" 2>&1 ||
  fail "the picture around the video differs"
echo "video: decoded by qvrecv.exe, $psnr dB against the sender's frame"
exit 0
