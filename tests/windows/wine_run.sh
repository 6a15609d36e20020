#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a cross-built test executable under wine64.
#   wine_run.sh PREFIX EXE [ARGS...]   run EXE in the Wine prefix PREFIX
#   wine_run.sh PREFIX --boot          make a fresh prefix (wineboot -i)
#   wine_run.sh PREFIX --remove        stop its wineserver, delete the prefix
#   wine_run.sh PREFIX --wait          wait until every program in it has ended
# With QC_WINE_XVFB=WxHxDEPTH a run gets its own Xvfb as DISPLAY (Wine's GDI
# reads it), its root painted QC_XVFB_PAINT (#rrggbb) and the pointer moved
# to QC_XVFB_POINTER ("X Y"). Wine's desktop process keeps the display its
# server started with, so such a run stops the prefix's server before and
# after it; its test must run alone (RUN_SERIAL).
# Everything runs inside a private network namespace made here (only lo, with
# multicast routed to it): Wine's sockets are made by the wineserver, so the
# server too is started inside; a prefix is only ever used from such a
# namespace, which keeps every datagram on this machine.
set -eu
if [ "${QC_WINE_NETNS:-}" != "$$" ]; then
  exec unshare -n sh -c 'ip link set lo up && ip link set lo multicast on &&
    ip route add 224.0.0.0/4 dev lo && QC_WINE_NETNS=$$ exec "$0" "$@"' "$0" "$@"
fi

export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift
# Debian's wine64 keeps its loader and server out of PATH.
WINE=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
case "$1" in
  --boot)
    [ -d "$WINEPREFIX" ] && { "$WINESERVER" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w ;;
  --wait)
    "$WINESERVER" -w ;;
  --remove)
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" ;;
  *)
    [ -n "${QC_WINE_XVFB:-}" ] || exec "$WINE" "$@"
    { "$WINESERVER" -k && "$WINESERVER" -w; } 2>/dev/null || true
    fifo=$(mktemp -u) && mkfifo "$fifo"
    Xvfb -displayfd 5 -nolisten tcp -noreset -screen 0 "$QC_WINE_XVFB" 5>"$fifo" 2>/dev/null &
    xvfb=$! && trap 'kill $xvfb 2>/dev/null; rm -f "$fifo"' EXIT
    read -r display <"$fifo"
    export DISPLAY=":$display"
    xsetroot -solid "${QC_XVFB_PAINT:-black}"
    xdotool mousemove ${QC_XVFB_POINTER:-0 0}
    rc=0; "$WINE" "$@" || rc=$?
    "$WINESERVER" -k 2>/dev/null || true
    exit $rc ;;
esac
