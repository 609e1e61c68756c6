#!/usr/bin/python3
"""A simulated DSP loudspeaker processor, written from the processor's protocol description.

It serves, on one TCP port, the HTTP JSON commands ("/test.fcgi"), the web page ("/" and
"/index.html"), the preset export ("/save0_export.cgi", "/data_export/SAVE0.txt"), the preset
upload ("/test.fcgi/api/preset/import") and the level WebSocket ("/server1"), and answers the UDP
discovery query "ST" on its own port. Its store is seeded with a full device: every channel
parameter of the current layout, a neutral old layer, 80 preset slots and the login keys.

    processor_sim.py [--host 127.0.0.1] [--port 0] [--udp-port 0] [--control] [--levels HZ]

On start it prints one JSON line {"event": "ready", "host", "port", "udp_port"}. With --control
it then reads one JSON command per line on stdin and answers each with one JSON line on stdout
(see CONTROL below); it ends when stdin closes. Without it, it runs until interrupted.
"""

import argparse
import asyncio
import base64
import json
import logging
import socket
import struct
import sys
import time
import zlib

from aiohttp import web, WSMsgType

GROUPS_OF_DEVICE = ("DEVINFO", "PRESETINFO", "PRESETNAME", "CONFIGINFO")
SLOTS = 80


def full_device():
    """The running parameters of a freshly set-up device: inputs at 16-19 and outputs at 28-35
    in GAIN and DELAY, a neutral old layer at 20-27, 15 EQ bands per channel, two corners per
    channel, the routing matrix with input i feeding outputs i and i+4, and the dynamics."""
    p = {}
    for k in range(16, 36):
        p["GAINgain%d" % k] = 0
        p["GAINmute%d" % k] = 0
        p["GAINphase%d" % k] = 1
        p["DELAYtime%d" % k] = 0
        p["DELAYbps%d" % k] = 1
    for o in range(8):
        for i in range(4):
            p["MIXERmute%d" % (16 + o * 4 + i)] = 0 if o % 4 == i else 1
    for k in range(260):
        p["PEQfreq%d" % k] = 1000
        p["PEQgain%d" % k] = 0
        p["PEQq_value%d" % k] = 1.41
        p["PEQtype%d" % k] = 0
        p["PEQbps%d" % k] = 1
    for k in range(24):
        p["HLPFfreq%d" % k] = 20 if k < 12 else 20000
        p["HLPFtype%d" % k] = 1
        p["HLPFbps%d" % k] = 1
    for o in range(8):
        p["COMPthrd%d" % (o + 4)] = 0
        p["COMPknee%d" % (o + 4)] = 0
        p["COMPratio%d" % (o + 4)] = 4
        p["COMPattack%d" % (o + 4)] = 10
        p["COMPrelease%d" % (o + 4)] = 100
        p["LIMITERthrd%d" % o] = 10
        p["LIMITERrelease%d" % o] = 100
        p["BYPASSbypass%d" % (12 + o)] = 1
        p["BYPASSbypass%d" % (20 + o)] = 1
    return p


def channel_view(params):
    """The device's own reading of its channel keys: per input (A-D) and output (1-8) the gain,
    mute, polarity and delay, the 15 EQ bands and two corners; per output also the inputs routed
    to it and its compressor and limiter. Values are as stored; a missing key reads None."""
    def band(k):
        return {name: params.get(key + str(k)) for name, key in
                (("freq", "PEQfreq"), ("gain", "PEQgain"), ("q", "PEQq_value"),
                 ("type", "PEQtype"), ("bypass", "PEQbps"))}

    def corner(k):
        return {name: params.get(key + str(k)) for name, key in
                (("freq", "HLPFfreq"), ("type", "HLPFtype"), ("bypass", "HLPFbps"))}

    def strip(index, first_band, high_pass, low_pass):
        return {"gain": params.get("GAINgain%d" % index),
                "mute": params.get("GAINmute%d" % index),
                "phase": params.get("GAINphase%d" % index),
                "delay": params.get("DELAYtime%d" % index),
                "delay_bypass": params.get("DELAYbps%d" % index),
                "bands": [band(first_band + b) for b in range(15)],
                "hpf": corner(high_pass), "lpf": corner(low_pass)}

    inputs = [strip(16 + i, 15 * i, i, 12 + i) for i in range(4)]
    outputs = []
    for o in range(8):
        out = strip(28 + o, 140 + 15 * o, 4 + o, 16 + o)
        out["mute_layer"] = params.get("GAINmute%d" % (20 + o))
        out["routes"] = [params.get("MIXERmute%d" % (16 + 4 * o + i)) == 0 for i in range(4)]
        out["comp"] = {name: params.get(name + str(o + 4)) for name in
                       ("COMPthrd", "COMPknee", "COMPratio", "COMPattack", "COMPrelease")}
        out["comp"]["bypass"] = params.get("BYPASSbypass%d" % (12 + o))
        out["limiter"] = {"LIMITERthrd": params.get("LIMITERthrd%d" % o),
                          "LIMITERrelease": params.get("LIMITERrelease%d" % o),
                          "bypass": params.get("BYPASSbypass%d" % (20 + o))}
        outputs.append(out)
    return {"inputs": inputs, "outputs": outputs}


def word_value(word, form):
    """A 32-bit validity word as the device sends it: unsigned, signed, or as decimal text."""
    if form == "signed" and word & 0x80000000:
        return word - (1 << 32)
    if form == "text":
        return str(word)
    return word


class Device:
    def __init__(self):
        self.log = []
        self.faults = []
        self.sockets = set()
        self.reset()

    def reset(self):
        self.params = full_device()
        self.name = "Moriat DP48"
        self.running_name = "默认"
        self.slots = {0: {"name": "默认", "params": dict(self.params)},
                      1: {"name": "出厂", "params": dict(self.params)}}
        self.startup = 0
        self.login_user = "root"
        self.login_flags = {"root": 0}
        self.password = "4826"
        self.knobs = {
            "wsi": "wsi=1a2b",       # sent as "WSI" in every reply and WebSocket answer; None: never
            "wrap": "data",          # "data": {"WSI", "data": {...}}; "flat": {"WSI", ...}
            "word_form": "unsigned",  # validity words: "unsigned", "signed" or "text"
            "preset_reply_keys": True,  # preset commands answer with the validity words and names
            "page": "<html><body>Moriat DSP console</body></html>",
            "udp_answer": True,
            "ws_mode": "accept",     # "accept" or "refuse" the level WebSocket
            "silent": False,         # no pongs, no answers and no pushes on the WebSocket
            "levels_hz": 0,          # periodic level pushes
            "levels": {},            # level number -> dB value of the periodic pushes
            "export": None,          # base64 of the export file; None: the running parameters
            "config_keys": True,     # CONFIGINFO login keys in the full read
        }

    # --- what the device reports -----------------------------------------------------------

    def preset_keys(self):
        words = [0, 0, 0]
        for slot in self.slots:
            words[slot // 32] |= 1 << (slot % 32)
        form = self.knobs["word_form"]
        keys = {"PRESETINFOpreset_valid%d0" % (w + 1): word_value(words[w], form) for w in range(3)}
        keys["PRESETNAMEname0"] = self.running_name
        for slot in range(1, SLOTS):
            keys["PRESETNAMEname%d" % slot] = self.slots[slot]["name"] if slot in self.slots else ""
        return keys

    def config_keys(self):
        if not self.knobs["config_keys"]:
            return {}
        keys = {"CONFIGINFOdefault_login_user0": self.login_user}
        keys["CONFIGINFOroot_login0"] = self.login_flags.get("root", 0)
        for user, flag in self.login_flags.items():
            keys["CONFIGINFO%s_login0" % user] = flag
        return keys

    def everything(self):
        result = dict(self.params)
        result["DEVINFOdev_name0"] = self.name
        result.update(self.preset_keys())
        result.update(self.config_keys())
        return result

    def preset_reply(self, extra=None):
        reply = {"status": "ok"}
        if self.knobs["preset_reply_keys"]:
            reply.update(self.preset_keys())
        reply.update(extra or {})
        return reply

    # --- commands ----------------------------------------------------------------------------

    def command(self, body):
        if "CURSOR" in body:
            return self.everything()
        if "DEVICEINFO" in body:
            result = {"DEVINFOdev_name0": self.name}
            if "PRESETNAME" in body:
                result.update({k: v for k, v in self.preset_keys().items()
                               if k.startswith("PRESETNAME")})
            return result
        if "login" in body:
            return {}
        if "LOGIN" in body:
            return self.login(body["LOGIN"])
        for name, run in (("SAVENAME", self.save), ("LOAD", self.load),
                          ("STARTUP", self.set_startup), ("SAVEDELETE", self.keep_only)):
            if name in body:
                return run(body[name])
        self.params.update(body)
        return {"status": "ok"}

    def login(self, args):
        user = args.get("user", "")
        if not self.login_flags.get(user, 0):
            return {"message": "No password login required"}
        if args.get("pwd") == self.password:
            return {"message": "Valid password"}
        return {"message": "Invalid password"}

    def slot_of(self, args):
        slot = args.get("id") if isinstance(args, dict) else None
        return slot if isinstance(slot, int) and 0 <= slot < SLOTS else None

    def save(self, args):
        slot = self.slot_of(args)
        if slot is None:
            return {"status": "error"}
        self.slots[slot] = {"name": str(args.get("name", "")), "params": dict(self.params)}
        return self.preset_reply()

    def load(self, args):
        slot = self.slot_of(args)
        if slot is None or slot not in self.slots:
            return {"status": "error"}
        self.params = dict(self.slots[slot]["params"])
        self.running_name = self.slots[slot]["name"]
        return self.preset_reply({"PRESETNAMEname0": self.running_name})

    def set_startup(self, args):
        slot = self.slot_of(args)
        if slot is None or slot not in self.slots:
            return {"status": "error"}
        self.startup = slot
        return {"status": "ok"}

    def keep_only(self, words):
        if not isinstance(words, list) or len(words) != 10:
            return {"status": "error"}
        masks = [int(w) & 0xFFFFFFFF for w in words]
        self.slots = {s: v for s, v in self.slots.items() if masks[s // 32] >> (s % 32) & 1}
        return self.preset_reply()

    def export_bytes(self):
        if self.knobs["export"] is not None:
            return base64.b64decode(self.knobs["export"])
        return json.dumps(self.params, sort_keys=True).encode()

    def import_file(self, content):
        """Takes an uploaded file: a JSON object of parameters becomes the running settings."""
        try:
            values = json.loads(content.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            return None
        if not isinstance(values, dict) or not values:
            return None
        self.params.update(values)
        return self.everything()

    def levels_message(self):
        levels = self.knobs["levels"]
        return {"data": {"VUvu%s" % n: v for n, v in levels.items()}} if levels else None

    # --- faults ----------------------------------------------------------------------------

    def take_fault(self, match):
        for fault in self.faults:
            if fault["match"] in match:
                if fault.get("times", -1) > 0:
                    fault["times"] -= 1
                if fault.get("times", -1) == 0:
                    self.faults.remove(fault)
                return fault
        return None


def shaped(result, fault):
    """The result of a command or an import as a "strip" (keys with the prefixes left out) or an
    "override" (the keys of "values" replaced or added) fault gives it; None for other faults."""
    if fault["kind"] == "strip":
        return {k: v for k, v in result.items() if not k.startswith(tuple(fault["prefixes"]))}
    if fault["kind"] == "override":
        return dict(result, **fault["values"])
    return None


def reply_object(device, result):
    wsi = device.knobs["wsi"]
    if device.knobs["wrap"] == "flat":
        body = dict(result)
    else:
        body = {"data": result}
    if wsi is not None:
        body["WSI"] = wsi
    return body


def json_response(body, status=200):
    return web.Response(status=status, body=json.dumps(body, ensure_ascii=False).encode(),
                        content_type="application/json")


def gzipped(data, blanks):
    """`data` followed by `blanks` blanks, as one gzip stream, compressed piece by piece."""
    packer = zlib.compressobj(9, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
    parts = [packer.compress(data)]
    piece = b" " * (1 << 20)
    while blanks > 0:
        parts.append(packer.compress(piece[:blanks]))
        blanks -= len(piece)
    parts.append(packer.flush())
    return b"".join(parts)


def abort_with_reset(request):
    sock = request.transport.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    request.transport.abort()


async def faulty_response(request, fault, normal):
    """The answer a fault turns `normal` (a callable giving the usual response) into, given after
    "ms" milliseconds when the fault names them (a slow redirect, for example)."""
    kind = fault["kind"]
    await asyncio.sleep(fault.get("ms", 0) / 1000)
    if kind == "delay":
        return normal()
    if kind == "never":
        await asyncio.sleep(3600)
    if kind == "reset":
        abort_with_reset(request)
        raise ConnectionResetError("reset by the simulated processor")
    if kind == "truncate":
        head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 400\r\n"
        request.transport.write((head + "Connection: close\r\n\r\n{\"data\":{\"DEVIN").encode())
        await asyncio.sleep(0.05)
        request.transport.close()
        raise ConnectionResetError("truncated by the simulated processor")
    if kind == "cut":
        # The head announces the whole answer ("length": its length by default, null for none),
        # the first "bytes" of the body follow, then the connection ends: "end" "reset" (the
        # default) or "close", a clean end.
        whole = normal().body
        length = fault.get("length", len(whole))
        head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        if length is not None:
            head += "Content-Length: %d\r\n" % length
        request.transport.write((head + "Connection: close\r\n\r\n").encode()
                                + whole[:fault.get("bytes", 0)])
        await asyncio.sleep(0.05)
        if fault.get("end", "reset") == "reset":
            abort_with_reset(request)
        else:
            request.transport.close()
        raise ConnectionResetError("cut by the simulated processor")
    if kind == "status":
        return web.Response(status=fault["status"], body=fault.get("body", "").encode(),
                            headers=fault.get("headers"))
    if kind == "gzip":
        # The usual answer gzip-compressed, as "Content-Encoding: gzip"; with "inflated" it is
        # padded with blanks (white space, which JSON allows after a value) to that many bytes
        # before compression, so that a body of a few kilobytes inflates to it.
        whole = normal().body
        pad = max(0, fault.get("inflated", 0) - len(whole))
        return web.Response(status=200, body=gzipped(whole, pad),
                            headers={"Content-Type": "application/json",
                                     "Content-Encoding": "gzip"})
    if kind == "body":
        return web.Response(status=200, body=fault["body"].encode(), content_type="application/json")
    raise ValueError("unknown fault " + kind)


class Simulator:
    def __init__(self, device):
        self.device = device

    def record(self, entry):
        self.device.log.append(entry)

    async def log_request(self, request):
        body = await request.read()
        entry = {"kind": "http", "method": request.method, "path": request.path,
                 "query": request.query_string, "headers": dict(request.headers),
                 "body": body.decode("utf-8", "replace"),
                 "body_b64": base64.b64encode(body).decode(), "time": time.time()}
        self.record(entry)
        return body

    async def answer(self, request, match, normal):
        fault = self.device.take_fault(match)
        if fault is None:
            return normal()
        return await faulty_response(request, fault, normal)

    async def command(self, request):
        raw = await self.log_request(request)
        try:
            body = json.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            return json_response({"status": "error", "message": "not JSON"}, 400)
        if not isinstance(body, dict):
            return json_response({"status": "error", "message": "not an object"}, 400)
        match = list(body.keys()) + [request.path, "*"]
        command_words = {"CURSOR", "DEVICEINFO", "login", "LOGIN", "SAVENAME", "LOAD",
                         "STARTUP", "SAVEDELETE"}
        if not command_words & set(body):
            match.append("write")

        def normal():
            return json_response(reply_object(self.device, self.device.command(body)))

        fault = self.device.take_fault(match)
        if fault is None:
            return normal()
        if fault["kind"] == "error":
            return json_response(reply_object(self.device, {"status": "error"}))
        if fault["kind"] == "error_outside":
            reply = reply_object(self.device, {"done": 1})
            reply["status"] = "error"
            return json_response(reply)
        if fault["kind"] in ("strip", "override"):
            return json_response(reply_object(self.device,
                                              shaped(self.device.command(body), fault)))
        return await faulty_response(request, fault, normal)

    async def page(self, request):
        await self.log_request(request)
        return await self.answer(request, [request.path, "*"], lambda: web.Response(
            body=self.device.knobs["page"].encode(), content_type="text/html"))

    async def export_trigger(self, request):
        await self.log_request(request)
        return await self.answer(request, [request.path, "*"],
                                 lambda: json_response(reply_object(self.device,
                                                                    {"status": "ok"})))

    async def export_file(self, request):
        await self.log_request(request)
        return await self.answer(request, [request.path, "*"], lambda: web.Response(
            body=self.device.export_bytes(), content_type="text/plain"))

    async def import_preset(self, request):
        raw = await self.log_request(request)
        filename, headers, content = parse_upload(request.headers.get("Content-Type", ""), raw)
        self.record({"kind": "import", "filename": filename, "part_headers": headers,
                     "content_b64": base64.b64encode(content or b"").decode()})

        def normal():
            result = self.device.import_file(content or b"")
            if result is None:
                return json_response({"status": "error"})
            return json_response(reply_object(self.device, result))

        fault = self.device.take_fault([request.path, "*"])
        if fault is not None and fault["kind"] in ("strip", "override"):
            result = shaped(self.device.import_file(content or b"") or {}, fault)
            return json_response(reply_object(self.device, result))
        if fault is None:
            return normal()
        return await faulty_response(request, fault, normal)

    async def level_socket(self, request):
        self.record({"kind": "ws_open", "headers": dict(request.headers)})
        if self.device.knobs["ws_mode"] == "refuse":
            return web.Response(status=403)
        ws = web.WebSocketResponse(autoping=False)
        await ws.prepare(request)
        self.device.sockets.add(ws)
        pusher = asyncio.ensure_future(self.push_levels(ws))
        try:
            async for msg in ws:
                if msg.type == WSMsgType.TEXT:
                    self.record({"kind": "ws_text", "text": msg.data})
                    await self.answer_text(ws, msg.data)
                elif msg.type == WSMsgType.PING:
                    answered = not self.device.knobs["silent"]
                    self.record({"kind": "ws_ping", "payload": msg.data.hex(),
                                 "answered": answered, "time": time.time()})
                    if answered:
                        await ws.pong(msg.data)
        finally:
            pusher.cancel()
            self.device.sockets.discard(ws)
            self.record({"kind": "ws_closed", "code": ws.close_code})
        return ws

    async def answer_text(self, ws, text):
        if self.device.knobs["silent"]:
            return
        try:
            message = json.loads(text)
        except ValueError:
            return
        wsi = self.device.knobs["wsi"]
        if isinstance(message, dict) and "WSI" in message and wsi is not None:
            await ws.send_str(json.dumps({"WSI": wsi}))

    async def push_levels(self, ws):
        while not ws.closed:
            hz = self.device.knobs["levels_hz"]
            await asyncio.sleep(1 / hz if hz > 0 else 0.2)
            message = self.device.levels_message()
            if hz > 0 and message and not self.device.knobs["silent"] and not ws.closed:
                await ws.send_str(json.dumps(message))


def parse_upload(content_type, raw):
    """The filename, the header lines and the content of the "file" part of a multipart/form-data
    body, read by hand so the raw bytes of the part header (UTF-8 names included) are what the
    client sent. The name is the quoted text up to the next double quote, as a form reader
    takes it: a quote inside a name ends it there, a line break inside it ends the header line."""
    marker = "boundary="
    if marker not in content_type:
        return None, [], None
    boundary = content_type.split(marker, 1)[1].split(";")[0].strip().strip('"').encode()
    for part in raw.split(b"--" + boundary):
        head, sep, body = part.partition(b"\r\n\r\n")
        if not sep or b'name="file"' not in head:
            continue
        lines = [line for line in head.split(b"\r\n") if line]
        filename = None
        for line in lines:
            if line.lower().startswith(b"content-disposition:") and b'filename="' in line:
                filename = line.split(b'filename="', 1)[1].split(b'"', 1)[0].decode("utf-8",
                                                                                 "replace")
        headers = [line.decode("utf-8", "replace") for line in lines]
        return filename, headers, body[:-2] if body.endswith(b"\r\n") else body
    return None, [], None


class DiscoveryResponder(asyncio.DatagramProtocol):
    def __init__(self, device):
        self.device = device
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, addr):
        self.device.log.append({"kind": "udp", "from": addr[0], "data_hex": data.hex()})
        if self.device.knobs["udp_answer"]:
            self.transport.sendto(b"Moriat DSP", addr)


def control(device, cmd):
    """CONTROL: one command per stdin line; the answer always has "ok".
      {"op": "seed", "params": {...}}      merge into the running parameters
      {"op": "remove", "keys": [...]}      drop parameters
      {"op": "reset_device"}               the fresh full device again (log and faults stay)
      {"op": "set", "knobs": {...}}        see Device.reset
      {"op": "device", "name", "login_user", "login_flags", "password", "running_name"}
      {"op": "slots", "slots": {"5": "name", ...}}   replace the preset slots
      {"op": "fault", "match", "kind", "times", ...} kinds: delay (ms), never, reset, truncate,
          cut (bytes, length, end), status (status, body, headers), body (body), gzip (inflated),
          error, error_outside, strip (prefixes), override (values); "ms" also delays the
          answers of never, reset, truncate, cut, status, body and gzip
      {"op": "clear_faults"}
      {"op": "push", "message": {...}} or {"op": "push", "text": "..."}   to every WebSocket,
          "after_ms": N sends it later and answers at once
      {"op": "ws_close", "code": N}        close every WebSocket
      {"op": "log"} -> {"log": [...]};  {"op": "clear_log"}
      {"op": "state"} -> {"params", "slots", "startup", "running_name", "sockets"}
      {"op": "channels"} -> {"inputs", "outputs"}: see channel_view
    """
    op = cmd["op"]
    if op == "seed":
        device.params.update(cmd["params"])
    elif op == "remove":
        for key in cmd["keys"]:
            device.params.pop(key, None)
    elif op == "reset_device":
        log, faults = device.log, device.faults
        device.reset()
        device.log, device.faults = log, faults
    elif op == "set":
        device.knobs.update(cmd["knobs"])
    elif op == "device":
        for field in ("name", "login_user", "login_flags", "password", "running_name"):
            if field in cmd:
                setattr(device, field, cmd[field])
    elif op == "slots":
        device.slots = {int(s): {"name": n, "params": dict(device.params)}
                        for s, n in cmd["slots"].items()}
    elif op == "fault":
        device.faults.append({k: v for k, v in cmd.items() if k != "op"})
    elif op == "clear_faults":
        device.faults.clear()
    elif op == "log":
        return {"ok": True, "log": device.log}
    elif op == "clear_log":
        device.log = []
    elif op == "state":
        return {"ok": True, "params": device.params, "startup": device.startup,
                "running_name": device.running_name, "sockets": len(device.sockets),
                "slots": {str(s): v["name"] for s, v in device.slots.items()}}
    elif op == "channels":
        return dict(channel_view(device.params), ok=True)
    else:
        return {"ok": False, "error": "unknown op " + op}
    return {"ok": True}


async def control_async(device, cmd):
    op = cmd["op"]
    if op == "push":
        text = cmd["text"] if "text" in cmd else json.dumps(cmd["message"], ensure_ascii=False)
        sockets = list(device.sockets)

        async def send():
            await asyncio.sleep(cmd.get("after_ms", 0) / 1000)
            for ws in sockets:
                await ws.send_str(text)
        if cmd.get("after_ms"):
            asyncio.ensure_future(send())
        else:
            await send()
        return {"ok": True, "sent": len(sockets)}
    if op == "ws_close":
        for ws in list(device.sockets):
            await ws.close(code=cmd.get("code", 1000))
        return {"ok": True}
    return control(device, cmd)


async def main():
    parser = argparse.ArgumentParser(description="Simulated DSP loudspeaker processor")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--udp-port", type=int, default=0)
    parser.add_argument("--control", action="store_true")
    parser.add_argument("--levels", type=float, default=0.0, help="level pushes per second")
    args = parser.parse_args()
    logging.getLogger("aiohttp").setLevel(logging.CRITICAL)

    device = Device()
    if args.levels > 0:
        device.knobs["levels_hz"] = args.levels
        device.knobs["levels"] = {n: -30.0 for n in list(range(16, 20)) + list(range(28, 36))}
    sim = Simulator(device)
    app = web.Application(client_max_size=64 * 1024 * 1024)
    app.router.add_get("/", sim.page)
    app.router.add_get("/index.html", sim.page)
    app.router.add_post("/test.fcgi", sim.command)
    app.router.add_post("/test.fcgi/api/preset/import", sim.import_preset)
    app.router.add_post("/save0_export.cgi", sim.export_trigger)
    app.router.add_get("/data_export/SAVE0.txt", sim.export_file)
    app.router.add_get("/server1", sim.level_socket)
    runner = web.AppRunner(app, access_log=None, handle_signals=False)
    await runner.setup()
    site = web.TCPSite(runner, args.host, args.port, reuse_address=True)
    await site.start()
    port = runner.addresses[0][1]

    loop = asyncio.get_running_loop()
    udp, _ = await loop.create_datagram_endpoint(lambda: DiscoveryResponder(device),
                                                 local_addr=(args.host, args.udp_port),
                                                 allow_broadcast=True)
    udp_port = udp.get_extra_info("sockname")[1]
    print(json.dumps({"event": "ready", "host": args.host, "port": port, "udp_port": udp_port}),
          flush=True)

    if args.control:
        while True:
            line = await loop.run_in_executor(None, sys.stdin.readline)
            if not line:
                break
            try:
                answer = await control_async(device, json.loads(line))
            except Exception as error:  # every failure goes back to the test as an answer
                answer = {"ok": False, "error": type(error).__name__ + ": " + str(error)}
            print(json.dumps(answer, ensure_ascii=False), flush=True)
    else:
        address = "%s:%d" % (args.host, port) if port != 80 else args.host
        print("Simulated processor at %s (discovery on UDP %d). Type %s in the processor panel "
              "or start the program with --procip %s; Ctrl+C ends it." %
              (address, udp_port, address, address), flush=True)
        await asyncio.Event().wait()
    udp.close()
    await runner.cleanup()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
