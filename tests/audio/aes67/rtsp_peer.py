#!/usr/bin/python3
"""A scripted RTSP device, written from the protocol's text alone, for the route tests.

  rtsp_peer.py ADDRESS PORT SCRIPT

Listens on ADDRESS:PORT (0: any free port) and prints "listening PORT", then one JSON line per
request it reads: {"start": request line, "method", "url", "headers": [[name, value], ...],
"body"}. SCRIPT is a JSON object saying, per method, how to answer:

  "status", "reason"   the status line (default 200 and its usual phrase)
  "headers"            extra header lines, in order (a "Content-Length" here is sent as given)
  "cseq"               answer with this CSeq instead of the request's
  "action"             "reply" (default), "silent" (never answer) or "close" the connection
  "delay"              seconds to wait before answering
  "with"               another method whose answer goes out in the same segment, with the next
                       CSeq; that method's request is then not answered again

Methods the script does not name are answered 200 OK.
"""
import asyncio
import json
import sys

REASONS = {200: "OK", 400: "Bad Request", 404: "Not Found", 405: "Method Not Allowed",
           454: "Session Not Found", 455: "Method Not Valid in This State"}


def response(rule, cseq):
    status = rule.get("status", 200)
    lines = [f"RTSP/1.0 {status} {rule.get('reason', REASONS.get(status, ''))}",
             f"CSeq: {rule.get('cseq', cseq)}"]
    lines += [f"{name}: {value}" for name, value in rule.get("headers", {}).items()]
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


async def read_request(reader):
    head = (await reader.readuntil(b"\r\n\r\n")).decode("utf-8")
    lines = head.split("\r\n")[:-2]
    parts = lines[0].split(" ")
    headers = [[p.strip() for p in line.split(":", 1)] for line in lines[1:] if ":" in line]
    length = next((int(v) for n, v in headers if n.lower() == "content-length"), 0)
    body = (await reader.readexactly(length)).decode("utf-8")
    return {"start": lines[0], "method": parts[0], "url": parts[1] if len(parts) > 1 else "",
            "headers": headers, "body": body}


def serve(script):
    async def handle(reader, writer):
        answered_ahead = set()
        try:
            while True:
                request = await read_request(reader)
                print(json.dumps(request), flush=True)
                method = request["method"]
                cseq = int(next((v for n, v in request["headers"] if n.lower() == "cseq"), 0))
                if method in answered_ahead:
                    answered_ahead.discard(method)
                    continue
                rule = script.get(method, {})
                action = rule.get("action", "reply")
                if action == "silent":
                    continue
                if action == "close":
                    break
                await asyncio.sleep(rule.get("delay", 0))
                data = response(rule, cseq)
                if "with" in rule:
                    data += response(script.get(rule["with"], {}), cseq + 1)
                    answered_ahead.add(rule["with"])
                writer.write(data)
                await writer.drain()
        except (asyncio.IncompleteReadError, ConnectionError):
            pass
        writer.close()

    return handle


async def main(address, port, script):
    server = await asyncio.start_server(serve(script), address, port)
    print(f"listening {server.sockets[0].getsockname()[1]}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], int(sys.argv[2]), json.loads(sys.argv[3])))
