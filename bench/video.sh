#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Video workload: a 1280x720, 30 frames/s clip (a slow pan over a colourful
# picture with a photograph's grain, made with ffmpeg) plays in ffplay on a
# 1920x1080 screen, beside an xterm that scrolls 50 lines a second. Run
# with the video path off (VideoMode=0, everything lossless as before) and
# on (VideoMode=2, the default), 1 and 4 receivers.
#
#   bench/video.sh BUILD_DIR [OUT_DIR]      (root; Xvfb, xterm, ffmpeg, ImageMagick)
#   VIDEO_SECONDS     measured seconds per run (10)
#   VIDEO_RECEIVERS   receiver counts ("1 4")
#   VIDEO_MODES       VideoMode values ("0 2"); VIDEO_KEEP=1 keeps the logs
#   VIDEO_TERMINAL=0  no scrolling terminal beside the player
#
# Printed per run: sender CPU, mean receiver CPU (% of a core), Mbit/s the
# sender sent, the region's frames per second (on the wire), the region's PSNR against the screen (luma as the stream codes
# it, BT.601; BT.709 luma; RGB; with the player stopped on a frame), and whether the picture is exact 0.5 s after
# the player is closed. Hosts are network namespaces on a private bridge.
set -uo pipefail
# shellcheck source=../tests/e2e/e2e_lib.sh
. "$(dirname "$0")/../tests/e2e/e2e_lib.sh"

BUILD=$(readlink -f "${1:?usage: bench/video.sh BUILD_DIR [OUT_DIR]}")
OUT=$(readlink -f "${2:-$BUILD/bench-results}")
QCSEND=${QCSEND:-$BUILD/sender/shell/qcsend}
QVRECV=${QVRECV:-$BUILD/receiver/shell/qvrecv}
COMPARE=${COMPARE:-$BUILD/tests/e2e/qc_compare_png}
SECONDS_RUN=${VIDEO_SECONDS:-10}
mkdir -p "$OUT"
[ -n "$PYTHON" ] || { echo "python3 is needed for the probe"; exit 1; }
NODES=(s p r1 r2 r3 r4)
declare -A ADDR=([s]=10.83.0.1 [p]=10.83.0.2 [r1]=10.83.0.11 [r2]=10.83.0.12 [r3]=10.83.0.13
                 [r4]=10.83.0.14)
e2e_init qcvb
e2e_network
HZ=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
txbytes() { in_ns s cat /sys/class/net/eth0/statistics/tx_bytes; }
# The region's frames per second on the wire over the measured time: a
# probe in a node of its own writes the time of every frame's first
# fragment (video datagram, fragment 0). Every receiver on the bridge gets
# every frame (a receiver's log counts them too, but only per 100).
cat >"$WORK/probe.py" <<'EOF'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", int(sys.argv[1])))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("234.0.0.1") + bytes(4))
out = open(sys.argv[2], "w", buffering=1)
while True:
    data = s.recv(65536)
    if len(data) >= 20 and data[0] == 0xF5 and data[1] == 0xFF and data[18] == 0 and data[19] == 0:
        out.write("%.6f\n" % time.time())
EOF
spawn_in p "$PYTHON" "$WORK/probe.py" 5982 "$WORK/frames.log"
wire_fps() {  # t0 t1
  awk -v a="$1" -v b="$2" '$1 >= a && $1 < b { n++ } END { printf "%.1f", n / (b - a) }' \
    "$WORK/frames.log"
}
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

X=40 Y=40 W=1280 H=720
say "making the clip"
ffmpeg -loglevel error -y -f lavfi \
  -i "mandelbrot=s=2400x1350:maxiter=300:start_scale=0.015:start_x=-0.7436438:start_y=0.1318259:outer=normalized_iteration_count" \
  -vf "noise=alls=4:allf=u" -frames:v 1 "$WORK/picture.png" &&
ffmpeg -loglevel error -y -loop 1 -framerate 30 -i "$WORK/picture.png" -t $((SECONDS_RUN + 15)) \
  -vf "crop=$W:$H:'200+t*20':'150+t*10',format=yuv420p" -c:v libx264 -preset ultrafast -crf 20 \
  -an "$WORK/clip.mp4" || { fail "could not make the clip"; exit 1; }

start_xvfb "1920x1080x24" DISPLAY
export DISPLAY
in_ns s xsetroot -solid '#2b4a6f'
TERMINAL=()
if [ "${VIDEO_TERMINAL:-1}" != 0 ]; then
  (exec ip netns exec "$TAG-s" xterm -geometry 70x60+1360+40 -e bash -c \
     'i=0; while :; do echo "line $i: the quick brown fox jumps over the lazy dog"; i=$((i+1)); sleep 0.02; done') &
  TERMINAL=($!)
  PIDS+=("$!")
fi

RESULTS=$OUT/video.txt
: >"$RESULTS"
run() {  # mode receivers
  local mode=$1 nrecv=$2 n pid r0=0 r1=0 s0 s1 b0 b1 t0 t1 fps player py p709 prgb exact
  local recv=() conf
  for ((i = 1; i <= nrecv; i++)); do recv+=("r$i"); rm -rf "${WORK:?}/r$i"; start_receiver "r$i"; done
  SENDER_CONF="VideoMode=$mode"$'\n' start_sender s "snd$mode$nrecv"
  local snd=PID_snd$mode$nrecv
  for n in "${recv[@]}"; do wait_for 30 "$n" "Quillview - Receiving" 1 || fail "$n got no picture"; done
  (SDL_AUDIODRIVER=dummy exec ip netns exec "$TAG-s" ffplay -loglevel error -an -noborder \
     -left $X -top $Y "$WORK/clip.mp4" >/dev/null 2>&1) &
  player=$!
  PIDS+=("$player")
  sleep 4  # the player starts, the region is found
  for n in "${recv[@]}"; do pid=PID_$n; r0=$((r0 + $(ticks "${!pid}"))); done
  s0=$(ticks "${!snd}"); b0=$(txbytes); t0=$EPOCHREALTIME
  sleep "$SECONDS_RUN"
  s1=$(ticks "${!snd}"); b1=$(txbytes); t1=$EPOCHREALTIME; fps=$(wire_fps "$t0" "$t1")
  for n in "${recv[@]}"; do pid=PID_$n; r1=$((r1 + $(ticks "${!pid}"))); done
  # Quality: the player stops on a frame, the receiver shows it.
  kill -STOP "$player" "${TERMINAL[@]}"; sleep 0.1
  snapshot r1; in_ns s import -window root "$WORK/screen.png"
  convert "$WORK/r1/snap.png" -crop ${W}x${H}+$X+$Y +repage "$WORK/a.png"
  convert "$WORK/screen.png" -crop ${W}x${H}+$X+$Y +repage "$WORK/b.png"
  prgb=$(psnr "$WORK/a.png" "$WORK/b.png")
  # Luma as the stream codes it (the BT.601 matrix); BT.709's weights also
  # take in part of the 4:2:0 chroma's error, for the record.
  convert "$WORK/a.png" -colorspace Rec601Luma "$WORK/ay.png"
  convert "$WORK/b.png" -colorspace Rec601Luma "$WORK/by.png"
  py=$(psnr "$WORK/ay.png" "$WORK/by.png")
  convert "$WORK/a.png" -colorspace Rec709Luma "$WORK/ay.png"
  convert "$WORK/b.png" -colorspace Rec709Luma "$WORK/by.png"
  p709=$(psnr "$WORK/ay.png" "$WORK/by.png")
  # The player closes; 0.5 s later the picture should be exact (the
  # terminal stays stopped for the comparison).
  kill -CONT "$player"; kill "$player"
  sleep 0.5
  snapshot r1; in_ns s import -window root "$WORK/screen.png"
  if $COMPARE "$WORK/r1/snap.png" "$WORK/screen.png" 24 >/dev/null 2>&1; then exact=yes; else exact=no; fi
  [ ${#TERMINAL[@]} -eq 0 ] || kill -CONT "${TERMINAL[@]}"
  awk -v m="$mode" -v n="$nrecv" -v s=$((s1 - s0)) -v r=$((r1 - r0)) -v b=$((b1 - b0)) \
      -v f="$fps" -v t0="$t0" -v t1="$t1" -v hz="$HZ" -v py="$py" \
      -v prgb="$prgb" -v p709="$p709" -v ex="$exact" 'BEGIN {
    d = t1 - t0
    printf "VideoMode=%s %d recv  sender %5.1f%%  receiver %5.1f%%  %7.2f Mbit/s  region %4.1f fps  PSNR %s dB (luma) %s dB (BT.709 luma) %s dB (RGB)  exact 0.5 s after: %s\n",
      m, n, 100 * s / hz / d, 100 * r / hz / d / n, b * 8 / d / 1e6, f, py, p709, prgb, ex
  }' | tee -a "$RESULTS"
  kill "${!snd}"
  for n in "${recv[@]}"; do pid=PID_$n; kill "${!pid}"; done
  sleep 1
}
for nrecv in ${VIDEO_RECEIVERS:-1 4}; do
  for mode in ${VIDEO_MODES:-0 2}; do run "$mode" "$nrecv"; done
done
[ -n "${VIDEO_KEEP:-}" ] && FAILED=1  # keeps the logs
echo "results: $RESULTS"
