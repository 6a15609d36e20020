#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# qvweb end-to-end: a sender on an Xvfb screen in one network namespace;
# qvweb (HTTPS with its self-signed certificate, which Chromium is told to
# trust) and headless Chromium (five tabs) in another, whose link drops 3% of
# the datagrams. Each tab's canvas, read back, must equal the screen pixel
# for pixel: at first, after changes, while a client that never reads hangs
# on (qvweb's memory stays bounded; the client is dropped when it stops
# answering pings), after malformed input and a hostile host's attacks, after
# the sender stopped and a new one started, and after qvweb restarted (the
# pages reconnect by themselves, with the kept certificate and cookie). The
# token moves from the address bar into an HttpOnly cookie; without it: 403;
# a page of another origin cannot open the stream even with the token; a
# foreign Host name gets 421; connections and memory stay capped.
#
#   web_e2e.sh QCSEND QVWEB COMPARE_TOOL
set -uo pipefail
. "$(dirname "$0")/../e2e/e2e_lib.sh"
QCSEND=$(readlink -f "${1:?QCSEND}")
QVWEB=$(readlink -f "${2:?QVWEB}")
COMPARE=$(readlink -f "${3:?COMPARE_TOOL}")
TOOL=(/usr/bin/python3 "$(dirname "$(readlink -f "$0")")/browser_tool.py")
NODES=(s w)
declare -A ADDR=([s]=10.78.0.1 [w]=10.78.0.2)
PAGE="https://127.0.0.1:8443/?token=s3cret"
GW=https://127.0.0.1:8443
e2e_init qcw
e2e_network
e2e_loss w 0.03 || { fail "iptables statistic match unavailable"; exit 1; }
start_xvfb 1024x768x24 DISPLAY
export DISPLAY
in_ns s xsetroot -solid '#2b4a6f'

mkdir -p "$WORK/w/config"
# In a sanitizer build freed memory waits in a quarantine that would count as
# growth below; without it, the resident size shows what qvweb keeps.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0:thread_local_quarantine_size_kb=0
start_qvweb() {
  (cd "$WORK/w" && XDG_CONFIG_HOME=$WORK/w/config exec ip netns exec "$TAG-w" \
     "$QVWEB" --http 127.0.0.1:8443 --token s3cret --tls-self-signed 2>>"$WORK/w/stderr") &
  PIDS+=($!); QVWEB_PID=$!
  wait_for 20 w "open $PAGE" "$1" || fail "qvweb did not start"
}
start_qvweb 1
CERT=$WORK/w/config/Quillcast/qvweb-tls.crt
[ "$(stat -c %a "$WORK/w/config/Quillcast/qvweb-tls.key")" = 600 ] || fail "the key is readable by others"
grep -q "fingerprint $(openssl x509 -in "$CERT" -noout -fingerprint -sha256 | cut -d= -f2)" "$WORK/w/stderr" ||
  fail "the printed fingerprint is not the certificate's"
SPKI=$(openssl x509 -in "$CERT" -pubkey -noout | openssl pkey -pubin -outform der |
       openssl dgst -sha256 -binary | base64)
export QV_TLS=1  # the tool's raw connections
spawn_in w chromium --headless=new --no-sandbox --disable-gpu --user-data-dir="$WORK/chrome" \
  --ignore-certificate-errors-spki-list="$SPKI" \
  --remote-debugging-port=9222 --window-size=1200,900 about:blank >"$WORK/chrome.log" 2>&1
for _ in $(seq 100); do in_ns w curl -sf http://127.0.0.1:9222/json/version >/dev/null && break; sleep 0.1; done
in_ns w "${TOOL[@]}" open 9222 "$PAGE" 5 || fail "Chromium did not open the page"
start_sender s sender1

# Every tab's canvas equals the screen within the time given (on a still
# screen a lost last datagram is only noticed at the next one: a new cursor
# shape is such a datagram, as in pictures_match; the sender may take up to
# 15 s to answer the request, hence the budgets of the lossy link).
canvases_match() {  # seconds
  local deadline=$(( $(date +%s) + $1 )) t ok
  while :; do
    in_ns s import -window root "$WORK/screen.png"
    ok=1
    for t in 0 1 2 3 4; do
      in_ns w "${TOOL[@]}" canvas 9222 $t "$WORK/tab$t.png" 2>>"$WORK/tool.log" &&
        $COMPARE "$WORK/tab$t.png" "$WORK/screen.png" 24 >"$WORK/compare$t" 2>&1 || ok=0
    done
    [ $ok -eq 1 ] && return 0
    if [ "$(date +%s)" -ge "$deadline" ]; then
      # What a tab without a picture shows (an error page, a refusal).
      for t in 0 1 2 3 4; do
        say "  tab $t: $(tail -1 "$WORK/compare$t") ($(in_ns w "${TOOL[@]}" eval 9222 $t \
          "location.href + ' ' + document.title + ': ' + document.body.innerText.slice(0, 100)" \
          2>/dev/null | tr '\n' ' '))"
      done
      return 1
    fi
    turn=$(( ${turn:-0} + 1 ))
    in_ns s xsetroot -cursor_name "$([ $((turn % 2)) -eq 0 ] && echo left_ptr || echo crosshair)"
    sleep 1
  done
}
tab_state() { in_ns w "${TOOL[@]}" eval 9222 0 "window.qvweb.state" 2>/dev/null; }

wait_for 45 w "Quillview - Receiving" 1 || fail "qvweb receives no transmission"
canvases_match 90 && say "five tabs show the screen over HTTPS" || fail "first picture differs"
[ "$(in_ns w "${TOOL[@]}" eval 9222 0 "location.href + '|' + document.cookie")" = "$GW/|" ] &&
  in_ns w "${TOOL[@]}" cookies 9222 0 | /usr/bin/python3 -c '
import json, sys
c = [c for c in json.load(sys.stdin) if c["name"] == "qvweb_token"]
sys.exit(not (c and c[0]["value"] == "s3cret" and c[0]["httpOnly"] and c[0]["secure"]
              and c[0]["sameSite"] == "Strict"))' &&
  say "the token left the address bar for an HttpOnly, SameSite=Strict cookie" ||
  fail "token still in the address, or the cookie is not as it should be"
convert -size 1024x768 gradient:'#203060-#e0a040' "$WORK/gradient.png"
in_ns s display -window root "$WORK/gradient.png" >/dev/null 2>&1
canvases_match 90 && say "a change is followed" || fail "picture differs after a change"

code() { in_ns w curl -ks -o /dev/null -w '%{http_code}' "$@"; }
[ "$(code "$GW/?token=wrong")" = 403 ] && [ "$(code "$GW/")" = 403 ] &&
  [ "$(code -b qvweb_token=s3cret "$GW/")" = 200 ] &&
  [ "$(code -H 'Host: attacker.example' -b qvweb_token=s3cret "$GW/")" = 421 ] &&
  say "wrong or missing token: 403; foreign Host: 421" || fail "wrong token or Host not refused"
in_ns w "${TOOL[@]}" garbage 127.0.0.1 8443
[ "$(code -b '' -L "$PAGE")" = 200 ] &&
  say "still serving after malformed input" || fail "not serving after malformed input"

# A hostile host: idle connections (descriptors counted), endless headers
# (memory counted), wrong tokens as fast as answered.
fds() { ls "/proc/$QVWEB_PID/fd" | wc -l; }
fd0=$(fds); rss0=$(rss_kb "$QVWEB_PID")
spawn_in w "${TOOL[@]}" idle 127.0.0.1 8443 100 3 >"$WORK/idle.out" 2>&1
sleep 2; fd1=$(fds); wait "$SPAWNED"
say "100 idle connections: qvweb held $((fd1 - fd0)) more descriptors; $(cat "$WORK/idle.out")"
[ $((fd1 - fd0)) -le 32 ] || fail "one host holds $((fd1 - fd0)) descriptors"
in_ns w "${TOOL[@]}" bighead 127.0.0.1 8443 4 100 >"$WORK/bighead.out" 2>&1
rss1=$(rss_kb "$QVWEB_PID")
say "4 endless headers: $(cat "$WORK/bighead.out"); qvweb ${rss0} -> ${rss1} kB"
[ $((rss1 - rss0)) -lt 20000 ] && grep -q 'kB sent' "$WORK/bighead.out" &&
  ! grep -q 'took all' "$WORK/bighead.out" ||
  fail "endless headers not cut off"
guess=$(in_ns w "${TOOL[@]}" guess 127.0.0.1 8443 4)
say "$guess"
awk '{ exit !($(NF - 3) <= 5) }' <<<"$guess" || fail "wrong tokens not throttled"

# A client that never reads, while the screen changes in full and
# incompressibly: what it misses must not pile up in qvweb.
sleep 2  # the guesses' budget refills
spawn_in w "${TOOL[@]}" stall 127.0.0.1 8443 "/stream?token=s3cret" >/dev/null 2>&1
wait_for 5 w "6 browsers watching" 1 || fail "the stalled client was not accepted"
rss0=$(rss_kb "$QVWEB_PID")
for i in 1 2; do convert -size 1024x768 xc: +noise Random "$WORK/noise$i.png"; done
for i in $(seq 24); do in_ns s display -window root "$WORK/noise$((i % 2 + 1)).png" >/dev/null 2>&1; done
in_ns s display -window root "$WORK/gradient.png" >/dev/null 2>&1
in_ns s xsetroot -solid '#6f2b4a'
canvases_match 90 && say "the reading tabs stay current" || fail "tabs behind a stalled client"
# Over TLS a reading tab's picture in flight (3 MB of noise) is held once
# more, encrypted, and the allocator keeps what it had at the peak.
rss1=$(rss_kb "$QVWEB_PID")
say "qvweb memory with a stalled client: ${rss0} kB before, ${rss1} kB after 24 noise screens"
[ $(( rss1 - rss0 )) -lt 56000 ] || fail "memory grew by $(( rss1 - rss0 )) kB"
wait_for 40 w "stopped answering; dropped" 1 && wait_for 5 w "5 browsers watching" 2 &&
  say "the stalled client was dropped" || fail "the stalled client keeps its place"

kill -TERM "$PID_sender1"; wait "$PID_sender1"
for _ in $(seq 50); do [ "$(tab_state)" = stopped ] && break; sleep 0.2; done
[ "$(tab_state)" = stopped ] && say "the page shows that the sender stopped" || fail "no stopped state"
in_ns s xsetroot -mod 4 4 -fg '#e0e0e0' -bg '#803020'
start_sender s sender2
canvases_match 90 && say "the new sender's picture is shown" || fail "picture differs after restart"

kill -TERM "$QVWEB_PID"; wait "$QVWEB_PID"; rc=$?
[ "$rc" -eq 0 ] || fail "qvweb ended with $rc on SIGTERM"
in_ns s xsetroot -solid '#405060'
start_qvweb 2
canvases_match 90 && say "the pages reconnect to a restarted gateway" || fail "no reconnection"
# A page of another origin, given the token, opens the stream: refused.
mkdir -p "$WORK/other"
spawn_in w /usr/bin/python3 -m http.server 8000 --bind 127.0.0.1 --directory "$WORK/other" \
  >/dev/null 2>&1
sleep 1
in_ns w "${TOOL[@]}" eval 9222 0 "location.href = 'http://127.0.0.1:8000/'" >/dev/null
sleep 2
cross=$(in_ns w "${TOOL[@]}" eval 9222 0 "new Promise(done => {
  const ws = new WebSocket('wss://127.0.0.1:8443/stream?token=s3cret');
  ws.onmessage = () => done('picture'); ws.onclose = () => done('refused');
  setTimeout(() => done('timeout'), 5000); })")
[ "$cross" = refused ] && say "a page of another origin is refused the stream" ||
  fail "a page of another origin got: $cross"
kill -TERM "$QVWEB_PID"; wait "$QVWEB_PID" || fail "qvweb ended with $? on SIGTERM"
[ "$FAILED" -eq 0 ] && { say passed; exit 0; }
tail -n 5 "$WORK/w/stderr" "$WORK/tool.log"
exit 1
