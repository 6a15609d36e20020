"""Drives headless Chromium through its DevTools protocol, and plays bad or
slow browsers, for the qvweb end-to-end test. Run with Debian's python3
(it needs python3-websockets).

  browser_tool.py open DEVPORT URL N        open N tabs on URL
  browser_tool.py canvas DEVPORT TAB OUT    write tab TAB's picture canvas as PNG
  browser_tool.py eval DEVPORT TAB EXPR     print the value of EXPR in tab TAB
  browser_tool.py shot DEVPORT TAB OUT      write a screenshot of tab TAB as PNG
  browser_tool.py stall HOST PORT PATH      open the stream, then never read
  browser_tool.py garbage HOST PORT         send malformed HTTP and WebSocket input
"""
import asyncio, base64, json, socket, sys, time, urllib.request
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


def raw_upgrade(host, port, path):
    s = socket.create_connection((host, int(port)))
    s.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
               % (path, host)).encode())
    return s


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
    elif cmd == "shot":
        shot = asyncio.run(call(a[0], a[1], "Page.captureScreenshot", {"format": "png"}))
        with open(a[2], "wb") as f:
            f.write(base64.b64decode(shot["data"]))
    elif cmd == "stall":
        s = raw_upgrade(a[0], a[1], a[2])
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        print("stalled", flush=True)
        time.sleep(3600)
    elif cmd == "garbage":
        for junk in (b"\x00\xff\r\n\r\n" * 50, b"GET / HTTP/9.9\r\nHost\r\n\r\n",
                     b"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\nxx",
                     b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n"):
            s = socket.create_connection((a[0], int(a[1])))
            s.sendall(junk)
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
