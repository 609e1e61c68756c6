#!/usr/bin/python3
"""A stand-in for the phone application, written against the wire format only.

Reads one JSON command per line on stdin and answers each with one JSON line on stdout:
  {"op": "open", "conn": NAME, "url": "ws://..." | "wss://..."}
  {"op": "text", "conn": NAME, "text": "..."}
  {"op": "frame", "conn": NAME, "seq": N, "index": N, "samples": [int16, ...],
   "repeat": N (the samples N times over), "extra": N (trailing bytes)}
  {"op": "bytes", "conn": NAME, "hex": "..."}
  {"op": "wait_closed", "conn": NAME, "timeout": SECONDS}  -> {"ok": true, "code": N}
  {"op": "close", "conn": NAME}
Floods, as a phone would never send them:
  {"op": "flood", "conn": PREFIX, "url": ..., "count": N, "rate": N}
        opens N connections PREFIX0 ... at once, each introducing itself as a phone of its own
  {"op": "group", "conn": PREFIX, "open": N, "timeout": SECONDS}
        waits until N connections of the flood are open -> {"open": N, "codes": {CODE: COUNT}}
  {"op": "close_group", "conn": PREFIX}
  {"op": "unfinished", "url": ..., "hello": TEXT (optional), "opcode": 1 | 2,
   "fragment": BYTES, "declared": BYTES, "budget": BYTES, "timeout": SECONDS}
        on a connection of its own, written from RFC 6455 by hand: after the hello, a message
        that never ends, as fragments of "fragment" bytes or (fragment 0) as one frame whose
        header announces "declared" bytes; stops at "budget" bytes or when the server closes
        -> {"sent": BYTES, "code": the server's close code or -1}
Every answer has "ok"; failures carry "error". The script ends when stdin closes.
"""

import asyncio
import base64
import collections
import json
import os
import socket
import ssl
import struct
import sys
import threading
import urllib.parse

import websockets


def frame_bytes(cmd):
    samples = cmd["samples"] * cmd.get("repeat", 1)
    header = b"QK" + struct.pack("<IQI", cmd["seq"], cmd["index"], len(samples))
    return header + struct.pack("<%dh" % len(samples), *samples) + b"\xa5" * cmd.get("extra", 0)


async def flood(conns, cmd):
    async def one(i):
        name = "%s%d" % (cmd["conn"], i)
        conns[name] = await websockets.connect(cmd["url"], open_timeout=30, ping_interval=None)
        hello = {"type": "audio-hello", "id": name, "name": name, "sampleRate": cmd["rate"]}
        try:
            await conns[name].send(json.dumps(hello))
        except websockets.ConnectionClosed:
            pass  # closed by the server before its hello
    await asyncio.gather(*(one(i) for i in range(cmd["count"])))


def group_of(conns, prefix):
    return {name: ws for name, ws in conns.items() if name.startswith(prefix)}


async def group_state(conns, cmd):
    group = group_of(conns, cmd["conn"]).values()
    loop = asyncio.get_running_loop()
    deadline = loop.time() + cmd.get("timeout", 30)
    while sum(ws.open for ws in group) != cmd["open"] and loop.time() < deadline:
        await asyncio.sleep(0.01)
    codes = collections.Counter(str(ws.close_code) for ws in group if not ws.open)
    return {"ok": True, "open": sum(ws.open for ws in group), "codes": codes}


def raw_connect(url, timeout):
    address = urllib.parse.urlsplit(url)
    sock = socket.create_connection((address.hostname, address.port), timeout=timeout)
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall(("GET / HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
                  % (address.netloc, key)).encode())
    response = b""
    while b"\r\n\r\n" not in response:
        data = sock.recv(4096)
        if not data:
            raise ConnectionError("closed during the upgrade")
        response += data
    if not response.startswith(b"HTTP/1.1 101"):
        raise ConnectionError("no upgrade: " + response.decode(errors="replace"))
    # The server speaks only after it has read something: nothing of a frame came with the answer.
    sock.settimeout(None)
    return sock


def client_frame(opcode, payload, fin=True, declared=None):
    """A client frame; the mask key 0 (clients must mask) leaves the payload as it is."""
    length = len(payload) if declared is None else declared
    head = bytes([(0x80 if fin else 0) | opcode])
    if length < 126:
        head += bytes([0x80 | length])
    elif length < 65536:
        head += bytes([0x80 | 126]) + struct.pack(">H", length)
    else:
        head += bytes([0x80 | 127]) + struct.pack(">Q", length)
    return head + b"\0\0\0\0" + payload


def server_close_code(stream):
    """The code of the first close frame in the bytes the server sent, or -1 when there is none."""
    while len(stream) >= 2:
        length, at = stream[1] & 0x7F, 2
        if length == 126:
            length, at = struct.unpack(">H", stream[2:4])[0], 4
        elif length == 127:
            length, at = struct.unpack(">Q", stream[2:10])[0], 10
        if stream[0] & 0x0F == 8:
            payload = stream[at:at + length]
            return struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else -1
        stream = stream[at + length:]
    return -1


def read_until_closed(sock, received, closed):
    """Takes everything the server sends until it closes the connection. A reset ends the
    connection but keeps what arrived before it readable: a server that closes while our data is
    still unread resets the connection right after its close frame, and the frame is read here."""
    try:
        while True:
            data = sock.recv(65536)
            if not data:
                break
            received.extend(data)
            if server_close_code(bytes(received)) != -1:
                break
    except OSError:
        pass
    closed.set()


def unfinished(cmd):
    timeout = cmd.get("timeout", 30)
    sock = raw_connect(cmd["url"], timeout)
    received, closed = bytearray(), threading.Event()
    reader = threading.Thread(target=read_until_closed, args=(sock, received, closed))
    reader.start()
    fragment = cmd.get("fragment", 0)
    chunk = bytes(fragment or 65536)
    sent = 0
    try:
        if "hello" in cmd:
            sock.sendall(client_frame(1, cmd["hello"].encode()))
        if not fragment:
            sock.sendall(client_frame(cmd["opcode"], b"", declared=cmd["declared"]))
        while sent < cmd["budget"] and not closed.is_set():
            if fragment:
                sock.sendall(client_frame(cmd["opcode"] if sent == 0 else 0, chunk, fin=False))
            else:
                sock.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass  # the server reset the connection: the reader still reads its close frame
    reader.join(timeout)
    try:
        sock.shutdown(socket.SHUT_RDWR)  # wakes a reader still waiting for a close
    except OSError:
        pass
    reader.join()
    sock.close()
    return {"ok": True, "sent": sent, "code": server_close_code(bytes(received))}


async def run_command(conns, cmd):
    op = cmd["op"]
    if op == "flood":
        await flood(conns, cmd)
        return {"ok": True}
    if op == "group":
        return await group_state(conns, cmd)
    if op == "close_group":
        for name, ws in group_of(conns, cmd["conn"]).items():
            await ws.close()
            del conns[name]
        return {"ok": True}
    if op == "unfinished":
        return await asyncio.to_thread(unfinished, cmd)
    if op == "open":
        context = None
        if cmd["url"].startswith("wss:"):
            # A self-signed test certificate: encryption without verification.
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
        conns[cmd["conn"]] = await websockets.connect(cmd["url"], ssl=context,
                                                      open_timeout=30, ping_interval=None)
        return {"ok": True}
    ws = conns[cmd["conn"]]
    if op == "text":
        await ws.send(cmd["text"])
    elif op == "frame":
        await ws.send(frame_bytes(cmd))
    elif op == "bytes":
        await ws.send(bytes.fromhex(cmd["hex"]))
    elif op == "wait_closed":
        await asyncio.wait_for(ws.wait_closed(), cmd.get("timeout", 30))
        return {"ok": True, "code": ws.close_code}
    elif op == "close":
        await ws.close()
        return {"ok": True, "code": ws.close_code}
    else:
        return {"ok": False, "error": "unknown op " + op}
    return {"ok": True}


async def main():
    loop = asyncio.get_running_loop()
    conns = {}
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            break
        cmd = json.loads(line)
        try:
            answer = await run_command(conns, cmd)
        except Exception as error:  # every failure goes back to the test as an answer
            answer = {"ok": False, "error": type(error).__name__ + ": " + str(error)}
        print(json.dumps(answer), flush=True)
    for ws in conns.values():
        await ws.close()


asyncio.run(main())
