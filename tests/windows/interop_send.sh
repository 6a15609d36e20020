#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# qcsend.exe under Wine to the Linux qvrecv: the Windows sender captures a
# patterned Xvfb screen through Wine's GDI and multicasts it; the Linux
# receiver's snapshot must equal the screen pixel for pixel.
#   interop_send.sh PREFIX QCSEND_EXE QVRECV COMPARE_PNG [signed]
# With "signed", qcsend.exe first makes a signing key (--new-key, stored in
# the prefix's registry, removed at the end) and the receiver trusts only
# that key (--trust).
# Runs in a private network namespace (only lo, multicast routed to it);
# the Wine server is started inside it, so no datagram leaves the machine.
set -eu
if [ "${QC_INTEROP_NETNS:-}" != "$$" ]; then
  exec unshare -n sh -c 'ip link set lo up && ip link set lo multicast on &&
    ip route add 224.0.0.0/4 dev lo && QC_INTEROP_NETNS=$$ exec "$0" "$@"' "$0" "$@"
fi
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
EXE=$2 QVRECV=$3 COMPARE=$4 SIGNED=${5:-}
for prog in "$QVRECV" "$COMPARE"; do
  [ -x "$prog" ] || { echo "missing $prog: build the native tree (build/release) first" >&2; exit 1; }
done
WORK=$(mktemp -d)
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  if [ "$SIGNED" = signed ]; then
    /usr/lib/wine/wine64 reg delete 'HKCU\Software\Quillcast\Vorazudud' /v SigningKey /f \
      >/dev/null 2>&1 || true
  fi
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
# Wine's desktop keeps the display its server started with: a fresh server.
{ "$WINESERVER" -k && "$WINESERVER" -w; } 2>/dev/null || true

mkfifo "$WORK/fifo"
Xvfb -displayfd 5 -nolisten tcp -noreset -screen 0 320x240x24 5>"$WORK/fifo" 2>/dev/null &
pids="$!"
read -r display <"$WORK/fifo"
export DISPLAY=":$display"
# A plaid of two colours: rows and columns both change along the screen.
xsetroot -mod 5 3 -fg '#cc3366' -bg '#33aa77'
xdotool mousemove 300 220

set --
if [ "$SIGNED" = signed ]; then
  key=$(/usr/lib/wine/wine64 "$EXE" --new-key 2>"$WORK/newkey.log" | tr -d '\r' |
        awk 'NF == 1 && length($1) == 44 {print $1}')
  [ -n "$key" ] || { echo "FAIL: qcsend.exe --new-key printed no key"; cat "$WORK/newkey.log"; exit 1; }
  set -- --trust "$key"
fi
XDG_CONFIG_HOME=$WORK QT_QPA_PLATFORM=offscreen \
  "$QVRECV" --headless --snapshot "$WORK/snap.png" "$@" 2>"$WORK/qvrecv.log" &
qvrecv=$!
pids="$pids $qvrecv"
(cd "$WORK" && exec /usr/lib/wine/wine64 "$EXE" -start >"$WORK/qcsend.log" 2>&1) &
pids="$pids $!"

# The screen as it is now (Wine may have put its tray window on it).
for _ in $(seq 25); do
  sleep 1
  import -window root "$WORK/screen.png"
  rm -f "$WORK/snap.png"
  kill -USR1 "$qvrecv"
  for _ in $(seq 20); do [ -s "$WORK/snap.png" ] && break; sleep 0.1; done
  if [ -s "$WORK/snap.png" ] && "$COMPARE" "$WORK/snap.png" "$WORK/screen.png" 24 \
      >"$WORK/compare" 2>&1; then
    if [ "$SIGNED" = signed ] && ! grep -q "signed" "$WORK/qcsend.log"; then
      echo "FAIL: qcsend.exe did not say it signs"; cat "$WORK/qcsend.log"; exit 1
    fi
    echo "snapshot equals the screen"
    exit 0
  fi
done
echo "FAIL: the snapshot never equalled the screen"
cat "$WORK/compare" "$WORK/qcsend.log" "$WORK/qvrecv.log" 2>/dev/null | tail -20
exit 1
