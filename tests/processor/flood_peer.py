#!/usr/bin/python3
"""A peer posing as a processor that floods one kind of message, written from the protocol text
alone (Python's standard library, nothing shared with the client).

    flood_peer.py --flood probe|read|export|page|socket [--bytes N] [--announce]

It listens on 127.0.0.1 at a free port and prints {"port": P}. It answers the connection's probe,
its login and full read, the export trigger, the export file and the web page with small answers
and accepts the level WebSocket, except the one target named, which gets N bytes (default
256 MiB): an HTTP body of N bytes without a length (with --announce: announcing it), or one
WebSocket text frame of N bytes, at the pace of a gigabit link (125 MB/s), the fastest a
processor's network carries (faster, as loopback goes, Qt's network thread may read on for a
while before it takes the client's cut, dropping what it reads). After each flood it prints {"flood": target, "sent": bytes,
"closed": bool}: how much it got out before the client closed the connection (closed false: the
client took it all, or stopped reading for 30 s). It ends when its stdin closes.
"""

import argparse
import base64
import hashlib
import json
import socket
import socketserver
import struct
import sys
import threading
import time

CHUNK = 1024 * 1024
LINK_BYTES_PER_SECOND = 125e6
WEBSOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
ARGS = None
PRINT_LOCK = threading.Lock()


def report(entry):
    with PRINT_LOCK:
        print(json.dumps(entry), flush=True)


def read_request(conn):
    """The request line, the headers (lower-case names) and the body of one HTTP request."""
    data = b""
    while b"\r\n\r\n" not in data:
        more = conn.recv(65536)
        if not more:
            return None, {}, b""
        data += more
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    length = int(headers.get("content-length", "0"))
    while len(body) < length:
        more = conn.recv(65536)
        if not more:
            break
        body += more
    return lines[0], headers, body


def answer(conn, body, content_type="application/json"):
    conn.sendall(("HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
                  "Connection: close\r\n\r\n" % (content_type, len(body))).encode() + body)


def stream(conn, head):
    """Sends `head`, then the flood's bytes, until they are all out or the client closes."""
    sent = 0
    conn.settimeout(30)
    try:
        conn.sendall(head)
        filler = b"a" * CHUNK
        start = time.monotonic()
        while sent < ARGS.bytes:
            piece = filler[:min(CHUNK, ARGS.bytes - sent)]
            conn.sendall(piece)
            sent += len(piece)
            ahead = sent / LINK_BYTES_PER_SECOND - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)
        closed = False
    except (BrokenPipeError, ConnectionResetError):
        closed = True
    except socket.timeout:
        closed = False
    report({"flood": ARGS.flood, "sent": sent, "closed": closed})


def flood_http(conn):
    head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
    if ARGS.announce:
        head += "Content-Length: %d\r\n" % ARGS.bytes
    stream(conn, (head + "\r\n").encode())


def open_websocket(conn, headers):
    key = headers.get("sec-websocket-key", "")
    accept = base64.b64encode(hashlib.sha1((key + WEBSOCKET_GUID).encode()).digest()).decode()
    conn.sendall(("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Accept: %s\r\n\r\n" % accept).encode())


def level_socket(conn, headers):
    open_websocket(conn, headers)
    if ARGS.flood == "socket":
        # One unmasked text frame (FIN, opcode 1) with a 64-bit payload length.
        stream(conn, bytes([0x81, 127]) + struct.pack(">Q", ARGS.bytes))
        return
    while conn.recv(65536):
        pass


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        line, headers, body = read_request(conn)
        if line is None:
            return
        method, path = line.split(" ")[:2]
        path = path.split("?")[0]
        if path == "/server1" and headers.get("upgrade", "").lower() == "websocket":
            level_socket(conn, headers)
            return
        target = None
        if method == "POST" and path == "/test.fcgi":
            command = json.loads(body.decode("utf-8") or "{}")
            target = "probe" if "DEVICEINFO" in command else "read" if "CURSOR" in command else None
        elif path == "/data_export/SAVE0.txt":
            target = "export"
        elif path == "/":
            target = "page"
        if target == ARGS.flood:
            flood_http(conn)
        elif target == "probe":
            answer(conn, b'{"data":{"DEVINFOdev_name0":"Flood"}}')
        elif target == "page":
            answer(conn, b"<html>Moriat console</html>", "text/html")
        elif target == "export":
            answer(conn, b"export", "text/plain")
        else:
            answer(conn, b'{"data":{"status":"ok"}}')


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global ARGS
    parser = argparse.ArgumentParser(description="A processor that floods one kind of message")
    parser.add_argument("--flood", required=True,
                        choices=["probe", "read", "export", "page", "socket"])
    parser.add_argument("--bytes", type=int, default=256 * 1024 * 1024)
    parser.add_argument("--announce", action="store_true")
    ARGS = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    report({"port": server.server_address[1]})
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
