#!/usr/bin/env python3
"""A scripted TCP peer on loopback for the client's HTTP tests. It is written independently of the client:
it replays raw reply bytes and records the raw request bytes, and can misbehave on request.

  replay_peer.py SCRIPT.json

SCRIPT: {"reply": "<hex>", "record": "<path>", "mode": "close"|"silent"|"keep"|"noread",
         "pieces": [sizes...], "piece_delay_ms": n, "lifetime_s": n, "connections": n}
It prints the port it listens on (one line), serves the given number of connections one after another
(each: read the request, send the reply, then close, stay silent, or keep the connection open until the
client closes it; "noread" accepts and then neither reads nor answers) and ends by itself after lifetime_s
seconds at the latest.
"""
import json
import socket
import sys
import time


def request_complete(data):
    """True once data holds a request header and, when it announces one, its whole body."""
    end = data.find(b"\r\n\r\n")
    if end < 0:
        return False
    length = 0
    for line in data[:end].split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":", 1)[1])
    return len(data) >= end + 4 + length


def read_request(conn, deadline):
    """Reads a request header and, when it announces one, its body."""
    data = b""
    conn.settimeout(0.2)
    while time.monotonic() < deadline:
        try:
            chunk = conn.recv(65536)
        except socket.timeout:
            chunk = None
        if chunk == b"":
            break
        if chunk:
            data += chunk
        if request_complete(data):
            break
    return data


def main():
    script = json.load(open(sys.argv[1]))
    reply = bytes.fromhex(script.get("reply", ""))
    mode = script.get("mode", "close")
    pieces = script.get("pieces") or [len(reply)]
    delay = script.get("piece_delay_ms", 0) / 1000.0
    deadline = time.monotonic() + script.get("lifetime_s", 20)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", script.get("port", 0)))
    server.listen(4)
    server.settimeout(0.2)
    print(server.getsockname()[1], flush=True)
    recorded = b""
    for _ in range(script.get("connections", 1)):
        conn = None
        while conn is None and time.monotonic() < deadline:
            try:
                conn, _ = server.accept()
            except socket.timeout:
                pass
        if conn is None:
            break
        if mode == "noread":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            while time.monotonic() < deadline:
                time.sleep(0.1)
            conn.close()
            continue
        recorded += read_request(conn, deadline)
        if "record" in script:
            with open(script["record"], "wb") as f:
                f.write(recorded)
        sent = 0
        for size in pieces:
            if sent >= len(reply):
                break
            conn.sendall(reply[sent:sent + size])
            sent += size
            if delay:
                time.sleep(delay)
        if sent < len(reply):
            conn.sendall(reply[sent:])
        if mode == "silent" or mode == "keep":
            conn.settimeout(0.2)
            while time.monotonic() < deadline:
                try:
                    if conn.recv(65536) == b"":
                        break
                except socket.timeout:
                    pass
                except OSError:
                    break
        conn.close()
    server.close()


if __name__ == "__main__":
    main()
