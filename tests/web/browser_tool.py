# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives headless Chromium through its DevTools protocol, and plays bad or
slow browsers, for the qvweb end-to-end test. Run with Debian's python3
(it needs python3-websockets).

  browser_tool.py open DEVPORT URL N        open N tabs on URL
  browser_tool.py canvas DEVPORT TAB OUT    write tab TAB's picture canvas as PNG
  browser_tool.py eval DEVPORT TAB EXPR     print the value of EXPR in tab TAB
  browser_tool.py shot DEVPORT TAB OUT      write a screenshot of tab TAB as PNG
  browser_tool.py cookies DEVPORT TAB       print the tab's cookies (JSON)
  browser_tool.py firstpicture DEVPORT URL  open URL in a new tab; print the seconds
                                            until its first picture is painted
  browser_tool.py stall HOST PORT PATH      open the stream, then never read
  browser_tool.py garbage HOST PORT         send malformed HTTP and WebSocket input
and plays a hostile host (each prints one line of figures):
  browser_tool.py idle HOST PORT N SECONDS  hold N connections that send nothing;
                                            prints how many the gateway kept
  browser_tool.py bighead HOST PORT N MB    N connections sending one endless header
                                            (up to MB each); prints the bytes the
                                            gateway took and when it hung up
  browser_tool.py bigbody HOST PORT MB      a GET announcing 500 MB of body
  browser_tool.py stalls HOST PORT PATH N   N WebSockets that never read
  browser_tool.py cross HOST PORT PATH      the stream from another site's page, and
                                            under a foreign Host name: served or not
  browser_tool.py guess HOST PORT SECONDS   wrong tokens as fast as answered, on one
                                            connection; prints the tokens compared
                                            per second (answers other than 429)
With QV_TLS=1 the connections speak TLS (the certificate is not checked: the
hostile host does not care). Origin and Host are the gateway's own, as a
hostile script outside a browser would send them.
"""
import asyncio, base64, http.client, json, os, socket, ssl, sys, threading, time, urllib.request
import websockets


def tabs(devport):
    with urllib.request.urlopen("http://127.0.0.1:%s/json/list" % devport) as r:
        return sorted((t for t in json.load(r) if t["type"] == "page"), key=lambda t: t["id"])


async def call(devport, tab, method, params):
    target = [t for t in tabs(devport) if t["url"].startswith("http")][int(tab)]
    async with websockets.connect(target["webSocketDebuggerUrl"], max_size=None) as ws:
        await ws.send(json.dumps({"id": 1, "method": method, "params": params}))
        while True:
            reply = json.loads(await ws.recv())
            if reply.get("id") == 1:
                return reply["result"]


def evaluate(devport, tab, expr):
    return asyncio.run(call(devport, tab, "Runtime.evaluate", {
        "expression": expr, "awaitPromise": True, "returnByValue": True}))["result"].get("value")


TLS = os.environ.get("QV_TLS") == "1"


def connect(host, port, timeout=None):
    s = socket.create_connection((host, int(port)), timeout=timeout)
    if TLS:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        s = ctx.wrap_socket(s, server_hostname=host)
    return s


def raw_upgrade(host, port, path, origin=None):
    s = connect(host, port)
    origin = origin or "%s://%s:%s" % ("https" if TLS else "http", host, port)
    s.sendall(("GET %s HTTP/1.1\r\nHost: %s:%s\r\nOrigin: %s\r\nUpgrade: websocket\r\n"
               "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n" % (path, host, port, origin)).encode())
    return s


def closed(s):
    """True when the peer has hung up (reads what waits without blocking)."""
    s.setblocking(False)
    try:
        while True:
            data = s.recv(65536)
            if not data:
                return True
    except (BlockingIOError, ssl.SSLWantReadError):
        return False
    except OSError:
        return True
    finally:
        s.setblocking(True)


def flood(host, port, mb, head):
    """Sends head, then filler, until the gateway stops taking it or hangs up."""
    sent, t0, end = 0, time.time(), "open"
    try:
        s = connect(host, port, timeout=15)
        s.sendall(head)
        chunk = b"X-Filler: " + b"a" * 65000 + b"\r\n"
        while sent < mb * 1000000:
            s.sendall(chunk)
            sent += len(chunk)
        end = "took all"
    except socket.timeout:
        end = "stalled"
    except OSError:
        end = "hung up"
    return sent, time.time() - t0, end


def main(cmd, *a):
    if cmd == "open":
        for _ in range(int(a[2])):
            req = urllib.request.Request("http://127.0.0.1:%s/json/new?%s" % (a[0], a[1]), method="PUT")
            urllib.request.urlopen(req).read()
    elif cmd == "canvas":
        data = evaluate(a[0], a[1], "document.getElementById('picture').toDataURL()")
        with open(a[2], "wb") as f:
            f.write(base64.b64decode(data.split(",", 1)[1]))
    elif cmd == "eval":
        print(evaluate(a[0], a[1], a[2]))
    elif cmd == "cookies":
        print(json.dumps(asyncio.run(call(a[0], a[1], "Network.getCookies", {}))["cookies"]))
    elif cmd == "firstpicture":
        t0 = time.time()
        req = urllib.request.Request("http://127.0.0.1:%s/json/new?%s" % (a[0], a[1]), method="PUT")
        target = json.load(urllib.request.urlopen(req))
        async def poll():
            async with websockets.connect(target["webSocketDebuggerUrl"], max_size=None) as ws:
                n = 0
                while time.time() - t0 < 30:
                    n += 1
                    await ws.send(json.dumps({"id": n, "method": "Runtime.evaluate", "params": {
                        "expression": "!!(window.qvweb && window.qvweb.rects > 0)",
                        "returnByValue": True}}))
                    while True:
                        reply = json.loads(await ws.recv())
                        if reply.get("id") == n:
                            break
                    if reply.get("result", {}).get("result", {}).get("value"):
                        return "%.2f s" % (time.time() - t0)
                    await asyncio.sleep(0.05)
                return "never (30 s)"
        print(asyncio.run(poll()), flush=True)
    elif cmd == "shot":
        shot = asyncio.run(call(a[0], a[1], "Page.captureScreenshot", {"format": "png"}))
        with open(a[2], "wb") as f:
            f.write(base64.b64decode(shot["data"]))
    elif cmd == "stall":
        s = raw_upgrade(a[0], a[1], a[2])
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        print("stalled", flush=True)
        time.sleep(3600)
    elif cmd == "idle":
        held = []
        for _ in range(int(a[2])):
            try:
                held.append(connect(a[0], a[1], timeout=2))
            except OSError:
                pass
        time.sleep(float(a[3]))
        print("idle connections: %d opened, %d still open after %s s"
              % (len(held), sum(not closed(s) for s in held), a[3]), flush=True)
    elif cmd in ("bighead", "bigbody"):
        n, mb = (int(a[2]), int(a[3])) if cmd == "bighead" else (1, int(a[2]))
        head = (b"GET / HTTP/1.1\r\nHost: %s:%s\r\n" % (a[0].encode(), a[1].encode()))
        if cmd == "bigbody":
            head += b"Content-Length: 500000000\r\n\r\n"
        results = [None] * n
        def one(i):
            results[i] = flood(a[0], a[1], mb, head)
        threads = [threading.Thread(target=one, args=(i,)) for i in range(n)]
        for t in threads: t.start()
        for t in threads: t.join()
        print("%s: " % cmd + "; ".join("%d kB sent in %.1f s, %s" % (b // 1000, d, e)
                                       for b, d, e in results), flush=True)
    elif cmd == "stalls":
        held = [raw_upgrade(a[0], a[1], a[2]) for _ in range(int(a[3]))]
        for s in held:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        print("stalled %d" % len(held), flush=True)
        time.sleep(3600)
    elif cmd == "cross":
        async def attempt(origin, host):
            headers = {"Host": host} if host else {}
            try:
                async with websockets.connect("%s://%s:%s%s" % ("wss" if TLS else "ws", a[0], a[1], a[2]),
                                              origin=origin, extra_headers=headers,
                                              ssl=ssl._create_unverified_context() if TLS else None) as ws:
                    await asyncio.wait_for(ws.recv(), 5)
                    return "picture served"
            except Exception:
                return "refused"
        print("cross-origin WebSocket: %s; foreign Host: %s" % (
            asyncio.run(attempt("https://attacker.example", None)),
            asyncio.run(attempt("http://attacker.example:%s" % a[1], "attacker.example:%s" % a[1]))),
            flush=True)
    elif cmd == "guess":
        if TLS:
            conn = http.client.HTTPSConnection(a[0], int(a[1]),
                                               context=ssl._create_unverified_context())
        else:
            conn = http.client.HTTPConnection(a[0], int(a[1]))
        compared, n, t0 = 0, 0, time.time()
        while time.time() - t0 < float(a[2]):
            conn.request("GET", "/?token=guess%d" % n)
            n += 1
            reply = conn.getresponse()
            reply.read()
            compared += reply.status != 429
        print("token guesses: %d sent, %.1f compared per second" % (n, compared / float(a[2])),
              flush=True)
    elif cmd == "garbage":
        for junk in (b"\x00\xff\r\n\r\n" * 50, b"GET / HTTP/9.9\r\nHost\r\n\r\n",
                     b"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\nxx",
                     b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n"):
            s = connect(a[0], a[1])
            try:
                s.sendall(junk)
            except OSError:
                pass
            s.close()
        # A WebSocket that sends a bad frame (reserved bits, length beyond
        # any limit), then text nobody asked for.
        s = raw_upgrade(a[0], a[1], "/stream")
        s.sendall(b"\xf2\xff" + b"\x7f" * 8 + b"\x00" * 64)
        s.close()
        s = raw_upgrade(a[0], a[1], "/stream")
        s.sendall(b"\x81\x85abcd" + bytes(c ^ k for c, k in zip(b"hello", b"abcda")))
        time.sleep(0.5)
        s.close()


if __name__ == "__main__":
    main(*sys.argv[1:])
