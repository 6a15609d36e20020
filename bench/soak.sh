#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Soak run: a busy desktop broadcast for a long time to three receivers on
# lossy links, the sender killed and restarted again and again, one display
# resize in the middle. At the end every receiver must show the screen, and
# no receiver may have grown by 1 MB or more after its first minute.
#
#   bench/soak.sh BUILD_DIR [OUT_DIR]        (root; Xvfb, xterm, xlogo, xclock,
#                                              xdotool, xrandr, ImageMagick)
#   SOAK_SECONDS   length of the busy part (600)
#   SOAK_RESTART   the sender is killed (SIGKILL) and restarted every this
#                  many seconds (60)
#
# The desktop (1280x800x24): an xterm printing lines without pause, two
# windows moving, a clock that comes and goes. Each receiver's link drops 5%
# of what it receives. Halfway through, the screen becomes 1024x768; the
# sender then ends by itself and is started again. Resident memory (VmRSS)
# of every receiver and of each sender instance is sampled every 10 s into
# OUT_DIR/soak-rss.tsv; the summary table goes to OUT_DIR/soak-summary.txt.
# Hosts are network namespaces on a private bridge; nothing leaves the
# machine.
set -uo pipefail
# shellcheck source=../tests/e2e/e2e_lib.sh
. "$(dirname "$0")/../tests/e2e/e2e_lib.sh"

BUILD=$(readlink -f "${1:?usage: bench/soak.sh BUILD_DIR [OUT_DIR]}")
OUT=$(readlink -f "${2:-$BUILD/bench-results}")
SOAK_SECONDS=${SOAK_SECONDS:-600}
SOAK_RESTART=${SOAK_RESTART:-60}
QCSEND=$BUILD/sender/shell/qcsend
QVRECV=$BUILD/receiver/shell/qvrecv
COMPARE=$BUILD/tests/e2e/qc_compare_png
for p in "$QCSEND" "$QVRECV" "$COMPARE"; do
  [ -x "$p" ] || { echo "not built: $p"; exit 1; }
done
mkdir -p "$OUT"
RECEIVERS=(r1 r2 r3)
NODES=(s "${RECEIVERS[@]}")
declare -A ADDR=([s]=10.79.0.1 [r1]=10.79.0.11 [r2]=10.79.0.12 [r3]=10.79.0.13)
DEPTH=24
e2e_init qcsoak
e2e_network
for n in "${RECEIVERS[@]}"; do
  e2e_loss "$n" 0.05 || { fail "iptables statistic match unavailable"; exit 1; }
done

# --- the desktop ---------------------------------------------------------------
start_xvfb 1280x800x24 DISPLAY
export DISPLAY
xsetroot -solid '#2b4a6f'
# Every generator stops once WORK/still exists, and leaves its window as it is.
xterm -hold -geometry 100x40+20+20 -bg black -fg '#e0e0e0' -e bash -c \
  "i=0; while [ ! -e '$WORK/still' ]; do echo \"line \$i \$(date +%T.%N) \$RANDOM\$RANDOM\"; i=\$((i+1)); sleep 0.02; done" \
  2>/dev/null &
PIDS+=($!)
xlogo -geometry 160x160+700+60 -title mover1 & PIDS+=($!)
xlogo -geometry 120x120+900+400 -bg '#803020' -title mover2 & PIDS+=($!)
for w in mover1 mover2; do xdotool search --sync --name "^$w\$" >/dev/null; done
(
  i=0
  while [ ! -e "$WORK/still" ]; do
    # Inside 1024x768, which the screen keeps after the resize.
    xdotool search --name '^mover1$' windowmove %1 $(( 600 + (i * 13) % 240 )) $(( 40 + (i * 7) % 500 )) 2>/dev/null
    xdotool search --name '^mover2$' windowmove %1 $(( 40 + (i * 11) % 800 )) $(( 450 + (i * 5) % 180 )) 2>/dev/null
    i=$((i + 1))
    sleep 0.1
  done
) &
MOVER=$!
PIDS+=("$MOVER")
(
  while [ ! -e "$WORK/still" ]; do
    xclock -geometry 140x140+860+180 -update 1 & c=$!
    sleep 7; kill "$c"; wait "$c" 2>/dev/null
    sleep 5
  done
) 2>/dev/null &
CLOCK=$!
PIDS+=("$CLOCK")

# --- receivers and the first sender -------------------------------------------
for n in "${RECEIVERS[@]}"; do start_receiver "$n"; done
SENDERS=()
next_sender() {
  local name=sender$(( ${#SENDERS[@]} + 1 ))
  SENDERS+=("$name")
  start_sender s "$name"
  SENDER_PID=$(eval echo "\$PID_$name")
}
next_sender
for n in "${RECEIVERS[@]}"; do
  wait_for 30 "$n" "Quillview - Receiving" 1 || fail "$n did not receive the transmission"
done

# --- the busy part: samples every 10 s, restarts, one resize ------------------
RSS=$OUT/soak-rss.tsv
printf 'seconds\tprocess\tvmrss_kb\n' >"$RSS"
sample() {  # seconds
  local n pid kb
  for n in "${RECEIVERS[@]}"; do
    pid=$(eval echo "\$PID_$n")
    kb=$(rss_kb "$pid"); [ -n "$kb" ] && printf '%s\t%s\t%s\n' "$1" "$n" "$kb" >>"$RSS"
  done
  kb=$(rss_kb "$SENDER_PID"); [ -n "$kb" ] && printf '%s\t%s\t%s\n' "$1" "${SENDERS[-1]}" "$kb" >>"$RSS"
}
RESIZE_AT=$(( SOAK_SECONDS / 2 / 10 * 10 ))
[ $(( RESIZE_AT % SOAK_RESTART )) -eq 0 ] && RESIZE_AT=$(( RESIZE_AT + 30 ))
BUSY=$(date +%s)
say "busy for ${SOAK_SECONDS}s: sender restarts every ${SOAK_RESTART}s, resize at ${RESIZE_AT}s"
for (( t = 10; t <= SOAK_SECONDS; t += 10 )); do
  sleep $(( BUSY + t - $(date +%s) > 0 ? BUSY + t - $(date +%s) : 0 ))
  sample "$t"
  [ "$t" -eq "$SOAK_SECONDS" ] && break
  if [ "$t" -eq "$RESIZE_AT" ]; then
    xrandr --newmode 1024x768 0 1024 0 0 0 768 0 0 0 >/dev/null 2>&1
    xrandr --addmode screen 1024x768 >/dev/null 2>&1
    xrandr --output screen --mode 1024x768 --fb 1024x768 || fail "xrandr could not resize the screen"
    for _ in $(seq 50); do kill -0 "$SENDER_PID" 2>/dev/null || break; sleep 0.2; done
    if kill -0 "$SENDER_PID" 2>/dev/null; then
      fail "${SENDERS[-1]} still runs after the resize"
      kill -KILL "$SENDER_PID"
    fi
    wait "$SENDER_PID" 2>/dev/null
    say "screen resized to 1024x768, ${SENDERS[-1]} ended; restarting"
    next_sender
  elif [ $(( t % SOAK_RESTART )) -eq 0 ]; then
    kill -KILL "$SENDER_PID"; wait "$SENDER_PID" 2>/dev/null
    say "${SENDERS[-1]} killed; restarting"
    next_sender
  fi
done

# --- the screen made still: every receiver shows it -----------------------------
touch "$WORK/still"
wait "$MOVER" "$CLOCK" 2>/dev/null
sleep 2
if pictures_match 120 "${RECEIVERS[@]}"; then
  say "every receiver's picture equals the screen"
else
  fail "a receiver's picture differs from the screen"
fi
for n in "${RECEIVERS[@]}"; do
  say "$n lost $(grep -c 'Lost packet' "$WORK/$n/Quillview.log" 2>/dev/null) packets"
done

# --- memory summary ---------------------------------------------------------------
# Growth: the last sample against the first one at or after 60 s (receivers),
# or against the instance's first sample (senders, which live about a minute;
# shown, not judged).
SUMMARY=$OUT/soak-summary.txt
awk -F'\t' -v limit=1024 '
  NR == 1 { next }
  {
    p = $2; t = $1; kb = $3
    if (!(p in first)) { first[p] = kb; order[++n] = p; mx[p] = kb; mn[p] = kb }
    if (p ~ /^r/ && t >= 60 && !(p in base)) base[p] = kb
    last[p] = kb; count[p]++
    if (kb > mx[p]) mx[p] = kb
  }
  END {
    printf "%-10s %7s %10s %10s %10s %10s %10s  %s\n", "process", "samples", "first_kB", "base_kB", "last_kB", "max_kB", "growth_kB", "verdict"
    bad = 0
    for (i = 1; i <= n; i++) {
      p = order[i]
      receiver = p ~ /^r/
      b = receiver ? ((p in base) ? base[p] : "") : first[p]
      g = (b == "") ? "" : last[p] - b
      verdict = receiver ? ((g == "") ? "too short" : (g < limit ? "ok" : "GREW")) : "(shown)"
      if (verdict == "GREW") bad = 1
      printf "%-10s %7d %10d %10s %10d %10d %10s  %s\n", p, count[p], first[p], b, last[p], mx[p], g, verdict
    }
    exit bad
  }' "$RSS" >"$SUMMARY"
grew=$?
cat "$SUMMARY"
[ "$grew" -eq 0 ] || fail "a receiver grew by 1 MB or more after its first minute"
say "samples: $RSS, summary: $SUMMARY"
if [ "$FAILED" -eq 0 ]; then
  say "soak passed (${SOAK_SECONDS}s, ${#SENDERS[@]} sender instances)"
  exit 0
fi
exit 1
