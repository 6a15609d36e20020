# SPDX-License-Identifier: GPL-3.0-or-later
# A video on the shared screen, end to end: qcsend on an Xvfb screen where
# ffplay plays a short clip (a slow pan over a colourful picture), one
# headless qvrecv, each in its own network namespace. While the clip plays
# the sender sends its window as H.264: the receiver's picture of it is
# close to the screen (PSNR) and exact around it; once the player is gone
# the whole picture is exact again.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"

QCSEND=$(readlink -f "${1:?QCSEND}")
QVRECV=$(readlink -f "${2:?QVRECV}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL (qc_compare_png)}")
for tool in ffmpeg ffplay compare convert; do
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
start_sender s sender1
wait_for 30 r1 "Quillview - Receiving" 1 || fail "r1 did not receive the transmission"
pictures_match 20 r1 || fail "r1's picture before the video differs from the screen"

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
crop() { convert "$1" -crop ${W}x${H}+$X+$Y +repage "$2"; }
crop "$WORK/r1/snap.png" "$WORK/r1-region.png"
crop "$WORK/screen.png" "$WORK/screen-region.png"
# PSNR as video is measured, on luma; over R, G and B for the record (the
# 4:2:0 chroma of any H.264 picture alone caps that near 35 dB here).
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
luma() { convert "$1" -colorspace Rec709Luma "$2"; }
luma "$WORK/r1-region.png" "$WORK/r1-luma.png"
luma "$WORK/screen-region.png" "$WORK/screen-luma.png"
psnr_y=$(psnr "$WORK/r1-luma.png" "$WORK/screen-luma.png")
say "region PSNR $psnr_y dB (luma), $(psnr "$WORK/r1-region.png" "$WORK/screen-region.png") dB (RGB)"
awk -v p="$psnr_y" 'BEGIN { exit !(p == "inf" || p + 0 > 35) }' || fail "region PSNR $psnr_y dB <= 35"
# Around the player's window (a margin for the region's tile bounds) the
# picture is exact.
mask() { convert "$1" -fill black -draw "rectangle $((X-32)),$((Y-32)) $((X+W+32)),$((Y+H+32))" "$2"; }
mask "$WORK/r1/snap.png" "$WORK/r1-around.png"
mask "$WORK/screen.png" "$WORK/screen-around.png"
$COMPARE "$WORK/r1-around.png" "$WORK/screen-around.png" 24 >"$WORK/around.compare" 2>&1 ||
  fail "the picture around the video differs: $(tail -1 "$WORK/around.compare")"

# The player closes: within a moment the whole picture is exact again.
kill -CONT "$PLAYER"; kill "$PLAYER"
sleep 1
wait_for 5 sender1/Quillcast.log "Video region ended" 1 || fail "the video region did not end"
pictures_match 5 r1 || fail "r1's picture is not exact after the video"

[ "$FAILED" -eq 0 ] && say "PASS"
exit "$FAILED"
