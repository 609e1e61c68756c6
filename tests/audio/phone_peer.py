#!/usr/bin/python3
"""A stand-in for the phone application, written against the wire format only.

Reads one JSON command per line on stdin and answers each with one JSON line on stdout:
  {"op": "open", "conn": NAME, "url": "ws://..." | "wss://..."}
  {"op": "text", "conn": NAME, "text": "..."}
  {"op": "frame", "conn": NAME, "seq": N, "index": N, "samples": [int16, ...],
   "extra": N (trailing bytes)}
  {"op": "bytes", "conn": NAME, "hex": "..."}
  {"op": "wait_closed", "conn": NAME, "timeout": SECONDS}  -> {"ok": true, "code": N}
  {"op": "close", "conn": NAME}
Every answer has "ok"; failures carry "error". The script ends when stdin closes.
"""

import asyncio
import json
import ssl
import struct
import sys

import websockets


def frame_bytes(cmd):
    samples = cmd["samples"]
    header = b"QK" + struct.pack("<IQI", cmd["seq"], cmd["index"], len(samples))
    return header + struct.pack("<%dh" % len(samples), *samples) + b"\xa5" * cmd.get("extra", 0)


async def run_command(conns, cmd):
    op = cmd["op"]
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
