# SPDX-License-Identifier: GPL-3.0-or-later
# A video on the shared screen, end to end: qcsend on an Xvfb screen where
# ffplay plays a short clip (a slow pan over a colourful picture), one
# headless qvrecv, each in its own network namespace, and beside the
# receiver qvweb with a headless Chromium page (WebCodecs). While the clip
# plays the sender sends its window as H.264: the receiver's picture of it,
# and the page's, are close to the screen (PSNR) and exact around it; once
# the player is gone the whole picture is exact again.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL (qc_compare_png)}")
QVWEB=$(readlink -f "${4:?QVWEB}")
TOOL=(/usr/bin/python3 "$(dirname "$(readlink -f "$0")")/../web/browser_tool.py")
for tool in ffmpeg ffplay compare convert chromium curl; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing"; exit 1; }
done
NODES=(s r1)
declare -A ADDR=([s]=10.78.0.1 [r1]=10.78.0.11)
e2e_init qcv
e2e_network

# The clip: 480x270, 30 frames/s, 8 s, panning over a fractal picture with
# a photograph's grain.
ffmpeg -loglevel error -y -f lavfi \
  -i "mandelbrot=s=1600x900:maxiter=300:start_scale=0.02:start_x=-0.7436438:start_y=0.1318259:outer=normalized_iteration_count" \
  -vf "noise=alls=10:allf=u" -frames:v 1 "$WORK/picture.png" &&
ffmpeg -loglevel error -y -loop 1 -framerate 30 -i "$WORK/picture.png" -t 8 \
  -vf "crop=480:270:'300+t*24':'200+t*12',format=yuv420p" \
  -c:v libx264 -preset ultrafast -crf 18 -an "$WORK/clip.mp4" ||
  { fail "could not make the clip"; exit 1; }

start_xvfb "1024x600x24" DISPLAY
export DISPLAY
in_ns s xsetroot -solid '#2b4a6f'
start_receiver r1
mkdir -p "$WORK/w/config"
(cd "$WORK/w" && XDG_CONFIG_HOME=$WORK/w/config exec ip netns exec "$TAG-r1" \
   "$QVWEB" --http 127.0.0.1:8080 --token s3cret 2>>"$WORK/w/stderr") &
PIDS+=($!)
# 127.0.0.1 over HTTP is a secure context: WebCodecs is there.
spawn_in r1 chromium --headless=new --no-sandbox --disable-gpu --user-data-dir="$WORK/chrome" \
  --remote-debugging-port=9222 --window-size=1200,900 about:blank >"$WORK/chrome.log" 2>&1
for _ in $(seq 100); do in_ns r1 curl -sf http://127.0.0.1:9222/json/version >/dev/null && break; sleep 0.1; done
wait_for 20 w "open http" 1 || fail "qvweb did not start"
in_ns r1 "${TOOL[@]}" open 9222 "http://127.0.0.1:8080/?token=s3cret" 1 || fail "Chromium did not open the page"
start_sender s sender1
wait_for 30 r1 "Quillview - Receiving" 1 || fail "r1 did not receive the transmission"
pictures_match 20 r1 || fail "r1's picture before the video differs from the screen"
page() { in_ns r1 "${TOOL[@]}" eval 9222 0 "$1" 2>>"$WORK/tool.log"; }
[ "$(page 'window.qvweb.video')" = h264 ] || fail "the page does not decode H.264: $(page 'window.qvweb.video')"

X=40 Y=60 W=480 H=270
(SDL_AUDIODRIVER=dummy exec ip netns exec "$TAG-s" ffplay -loglevel error -an -noborder \
   -left $X -top $Y -loop 0 "$WORK/clip.mp4" >"$WORK/ffplay.log" 2>&1) &
PLAYER=$!
PIDS+=("$PLAYER")
wait_for 15 sender1/Quillcast.log "qcVideo: Video region [0-9]" 1 ||
  fail "the sender found no video region"
say "video region: $(grep -m1 'qcVideo: Video region [0-9]' "$WORK/sender1/Quillcast.log")"
sleep 1.5

# The player stops on a frame: the receiver still shows it decoded from the
# video stream (the region ends only after a moment without change).
[ "$(count sender1/Quillcast.log 'Video region ended')" -eq 0 ] ||
  fail "the region ended while the clip played"
kill -STOP "$PLAYER"
sleep 0.1
snapshot r1 || fail "no snapshot from r1"
in_ns s import -window root "$WORK/screen.png"
sleep 0.4  # the gateway's pace and the page's decoder
in_ns r1 "${TOOL[@]}" canvas 9222 0 "$WORK/page.png" 2>>"$WORK/tool.log" || fail "no canvas from the page"
frames=$(page 'window.qvweb.videoFrames')
say "the page painted ${frames:-no} decoded video frames"
[ "${frames:-0}" -gt 10 ] || fail "the page decoded no video"
crop() { convert "$1" -crop ${W}x${H}+$X+$Y +repage "$2"; }
# PSNR as video is measured, on luma as the stream codes it (the BT.601
# matrix); over R, G and B for the record (the 4:2:0 chroma of any H.264
# picture alone caps that near 35 dB here).
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
luma() { convert "$1" -colorspace Rec601Luma "$2"; }
crop "$WORK/screen.png" "$WORK/screen-region.png"
luma "$WORK/screen-region.png" "$WORK/screen-luma.png"
# Around the player's window (a margin for the region's tile bounds) the
# picture is exact.
mask() { convert "$1" -fill black -draw "rectangle $((X-32)),$((Y-32)) $((X+W+32)),$((Y+H+32))" "$2"; }
mask "$WORK/screen.png" "$WORK/screen-around.png"
for shown in r1/snap page; do
  crop "$WORK/$shown.png" "$WORK/shown-region.png"
  luma "$WORK/shown-region.png" "$WORK/shown-luma.png"
  psnr_y=$(psnr "$WORK/shown-luma.png" "$WORK/screen-luma.png")
  say "$shown: region PSNR $psnr_y dB (luma), $(psnr "$WORK/shown-region.png" "$WORK/screen-region.png") dB (RGB)"
  awk -v p="$psnr_y" 'BEGIN { exit !(p == "inf" || p + 0 > 35) }' ||
    fail "$shown: region PSNR $psnr_y dB <= 35"
  mask "$WORK/$shown.png" "$WORK/shown-around.png"
  $COMPARE "$WORK/shown-around.png" "$WORK/screen-around.png" 24 >"$WORK/around.compare" 2>&1 ||
    fail "$shown: the picture around the video differs: $(tail -1 "$WORK/around.compare")"
done

# The player closes: within a moment the whole picture is exact again.
kill -CONT "$PLAYER"; kill "$PLAYER"
sleep 1
wait_for 5 sender1/Quillcast.log "Video region ended" 1 || fail "the video region did not end"
pictures_match 5 r1 || fail "r1's picture is not exact after the video"
in_ns s import -window root "$WORK/screen.png"
in_ns r1 "${TOOL[@]}" canvas 9222 0 "$WORK/page.png" 2>>"$WORK/tool.log" &&
  $COMPARE "$WORK/page.png" "$WORK/screen.png" 24 >"$WORK/page.compare" 2>&1 ||
  fail "the page's picture is not exact after the video: $(tail -1 "$WORK/page.compare")"

[ "$FAILED" -eq 0 ] && say "PASS"
exit "$FAILED"
