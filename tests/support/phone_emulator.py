#!/usr/bin/python3
"""A phone used as a measurement microphone, emulated from the wire format alone.

It connects to the phone-audio server, introduces itself with "audio-hello" and streams "QK"
frames of 16-bit samples. The phone's clock runs `ppm` parts per million fast against the
computer's, so a second of computer time holds rate * (1 + ppm / 1e6) phone samples. What the
phone "hears" is a synthesised signal, optionally through a peaking filter and a gain.

Commands, one JSON object a line on stdin; one JSON answer a line on stdout, with "ok":
  {"op": "open", "url": "ws://...", "id": ID, "name": NAME, "rate": N}
  {"op": "signal", "kind": "sweep" | "pattern", "start": HZ, "end": HZ, "duration": S,
   "amplitude": A, "offset": S, "ppm": PPM, "frame": SAMPLES,
   "filter": {"f0": HZ, "gain_db": DB, "q": Q} | null}
        "sweep": the exponential sweep from start to end over duration seconds, repeated,
        shifted by offset seconds; "pattern": sample n is the 16-bit value
        ((n * 40503 + 12345) mod 65536) - 32768, so a reader can check every sample.
  {"op": "advance", "until_ms": T}   sends every sample due by computer time T ms (counted from
                                     the first advance at T = 0) -> {"end": next index}
  {"op": "stream", "seconds": S, "speed": X, "events": [...]}
        sends in real time (X times faster) for S seconds of phone time -> {"end": next index}
        events, at phone seconds since the stream began:
          {"at": S, "kind": "gap", "samples": N}       the next N indices are never sent
          {"at": S, "kind": "silence", "seconds": D}   the microphone captures digital silence
          {"at": S, "kind": "reconnect", "pause": D}   the connection drops and comes back D
                                                       seconds later with the same id; the
                                                       phone kept counting samples meanwhile
  {"op": "close"}
"""

import asyncio
import json
import math
import struct
import sys

import websockets


class Peaking:
    """The usual audio-equaliser peaking biquad."""

    def __init__(self, rate, f0, gain_db, q):
        a = 10.0 ** (gain_db / 40.0)
        w0 = 2.0 * math.pi * f0 / rate
        alpha = math.sin(w0) / (2.0 * q)
        a0 = 1.0 + alpha / a
        self.b = [(1.0 + alpha * a) / a0, -2.0 * math.cos(w0) / a0, (1.0 - alpha * a) / a0]
        self.a = [-2.0 * math.cos(w0) / a0, (1.0 - alpha / a) / a0]
        self.x1 = self.x2 = self.y1 = self.y2 = 0.0

    def __call__(self, x):
        y = (self.b[0] * x + self.b[1] * self.x1 + self.b[2] * self.x2
             - self.a[0] * self.y1 - self.a[1] * self.y2)
        self.x2, self.x1 = self.x1, x
        self.y2, self.y1 = self.y1, y
        return y


class Phone:
    def __init__(self):
        self.ws = None
        self.url = self.hello = None
        self.rate = 48000
        self.seq = 0
        self.next_index = 0
        self.kind = "pattern"
        self.sweep = None
        self.amplitude = 0.5
        self.offset = 0.0
        self.ppm = 0.0
        self.frame = 480
        self.filter = None
        self.silent_until = -1

    async def open(self, cmd):
        self.url = cmd["url"]
        self.rate = cmd.get("rate", 48000)
        self.hello = json.dumps({"type": "audio-hello", "id": cmd["id"],
                                 "name": cmd.get("name", "Emulated phone"),
                                 "sampleRate": self.rate})
        await self.connect()

    async def connect(self):
        self.ws = await websockets.connect(self.url, open_timeout=30, ping_interval=None)
        await self.ws.send(self.hello)

    def configure(self, cmd):
        self.kind = cmd.get("kind", "pattern")
        self.sweep = (cmd.get("start", 20.0), cmd.get("end", 20000.0), cmd.get("duration", 1.0))
        self.amplitude = cmd.get("amplitude", 0.5)
        self.offset = cmd.get("offset", 0.0)
        self.ppm = cmd.get("ppm", 0.0)
        self.frame = cmd.get("frame", 480)
        f = cmd.get("filter")
        self.filter = Peaking(self.rate, f["f0"], f["gain_db"], f["q"]) if f else None

    def phone_rate(self):
        return self.rate * (1.0 + self.ppm * 1e-6)

    def value(self, n):
        if self.kind == "pattern":
            return ((n * 40503 + 12345) % 65536) - 32768
        start, end, duration = self.sweep
        # Sample n is taken at true time n / phone rate; the sweep repeats every duration.
        t = math.fmod(n / self.phone_rate() + self.offset, duration)
        k = math.log(end / start)
        x = math.sin(2.0 * math.pi * start * duration / k * (math.exp(t * k / duration) - 1.0))
        if self.filter:
            x = self.filter(x)
        x *= self.amplitude
        if n < self.silent_until:
            x = 0.0
        return max(-32768, min(32767, round(x * 32768.0)))

    async def send_until(self, end):
        while self.next_index < end:
            count = min(self.frame, end - self.next_index)
            samples = [self.value(n) for n in range(self.next_index, self.next_index + count)]
            header = b"QK" + struct.pack("<IQI", self.seq & 0xFFFFFFFF, self.next_index, count)
            await self.ws.send(header + struct.pack("<%dh" % count, *samples))
            self.seq += 1
            self.next_index += count

    def due(self, seconds):
        return math.floor(seconds * self.phone_rate())

    async def stream(self, cmd):
        loop = asyncio.get_running_loop()
        seconds, speed = cmd["seconds"], cmd.get("speed", 1.0)
        events = sorted(cmd.get("events", []), key=lambda e: e["at"])
        first, began, skipped = self.next_index, loop.time(), 0.0
        # Phone time since the stream began, gaps included.
        self.clock = lambda: min((loop.time() - began) * speed + skipped, seconds)
        while True:
            while events and events[0]["at"] <= self.clock():
                skipped += await self.event(events.pop(0), first, speed)
            await self.send_until(first + self.due(self.clock()))
            if self.clock() >= seconds:
                return {"ok": True, "end": self.next_index}
            await asyncio.sleep(0.005)

    async def event(self, event, first, speed):
        """Runs one event; answers the phone time it skips."""
        await self.send_until(first + self.due(event["at"]))
        kind = event["kind"]
        if kind == "gap":
            self.next_index += event["samples"]
            return event["samples"] / self.phone_rate()
        if kind == "silence":
            self.silent_until = self.next_index + self.due(event["seconds"])
        elif kind == "reconnect":
            await self.ws.close()
            await asyncio.sleep(event["pause"] / speed)
            await self.connect()
            self.next_index = first + self.due(self.clock())
        return 0.0


async def run(phone, cmd):
    op = cmd["op"]
    if op == "open":
        await phone.open(cmd)
    elif op == "signal":
        phone.configure(cmd)
    elif op == "advance":
        await phone.send_until(phone.due(cmd["until_ms"] / 1000.0))
        return {"ok": True, "end": phone.next_index}
    elif op == "stream":
        return await phone.stream(cmd)
    elif op == "close":
        await phone.ws.close()
    else:
        return {"ok": False, "error": "unknown op " + op}
    return {"ok": True}


async def main():
    loop = asyncio.get_running_loop()
    phone = Phone()
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            break
        try:
            answer = await run(phone, json.loads(line))
        except Exception as error:  # every failure goes back to the test as an answer
            answer = {"ok": False, "error": type(error).__name__ + ": " + str(error)}
        print(json.dumps(answer), flush=True)
    if phone.ws:
        await phone.ws.close()


asyncio.run(main())
