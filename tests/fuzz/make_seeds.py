#!/usr/bin/python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/seed-*.

    make_seeds.py [CORPUS_FOLDER]

Every seed is written here from the formats' own descriptions (IEEE 1588, RFC 2974, RFC 4566,
RFC 2326, RFC 6762 through python3-zeroconf, RIFF WAVE, and the program's file and message
layouts), or taken from independent peers: the processor replies come from the simulated
processor of tools/processor_sim.py. Nothing is taken from the program's own writers.

The targets that replay a conversation read their input as records: a kind byte, a 32-bit
little-endian time step and a 16-bit little-endian length followed by that many bytes (see
tests/fuzz/FuzzSupport.h). Files found there already (regression inputs) are left alone.
"""
import json
import os
import socket
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))


def record(kind, step, data):
    return struct.pack("<BIH", kind, step, len(data)) + data


# --- PTP (IEEE 1588-2008, version 2) ------------------------------------------------------------

MASTER = bytes.fromhex("02aaaafffe000001")
OTHER = bytes.fromhex("02bbbbfffe000002")
EPOCH = 1_796_588_487


def ptp_header(kind, length, flags, source, sequence, control, log_interval=0, correction=0):
    return struct.pack(">BBHBBHq4s8sHHBb", kind, 2, length, 0, 0, flags, correction, b"\0" * 4,
                       source, 1, sequence, control, log_interval)


def ptp_stamp(ns):
    seconds, nanoseconds = divmod(ns, 1_000_000_000)
    return struct.pack(">HIL", seconds >> 32, seconds & 0xFFFFFFFF, nanoseconds)


def announce(source, priority1=128, log_interval=1):
    body = ptp_stamp(0) + struct.pack(">hBBBBHB8sHB", 37, 0, priority1, 248, 0xFE, 0xFFFF, 128,
                                      source, 0, 0xA0)
    return ptp_header(11, 64, 0, source, 1, 5, log_interval) + body


def sync(source, sequence, origin_ns, two_step):
    flags = 0x0200 if two_step else 0
    return ptp_header(0, 44, flags, source, sequence, 0, -3) + ptp_stamp(0 if two_step else origin_ns)


def follow_up(source, sequence, origin_ns):
    return ptp_header(8, 44, 0, source, sequence, 2, -3) + ptp_stamp(origin_ns)


def delay_resp(source, sequence, receive_ns, requester):
    return (ptp_header(9, 54, 0, source, sequence, 3, 0) + ptp_stamp(receive_ns) + requester
            + struct.pack(">H", 1))


def ptp_seeds():
    interval = 125_000_000
    two_step = record(1, 0, announce(MASTER))
    for n in range(1, 13):
        origin = EPOCH * 1_000_000_000 + n * interval
        two_step += record(0, interval, sync(MASTER, n, 0, True))
        two_step += record(1, 40_000, follow_up(MASTER, n, origin))
    two_step += record(3, 1000, b"")
    two_step += record(1, 80_000, delay_resp(MASTER, 1, EPOCH * 1_000_000_000 + 13 * interval,
                                             bytes.fromhex("020000fffe000000")))
    two_step += record(2, 4_000_000_000, b"")

    one_step = record(1, 0, announce(MASTER, log_interval=0))
    for n in range(1, 11):
        one_step += record(0, interval, sync(MASTER, n, EPOCH * 1_000_000_000 + n * interval, False))
    one_step += record(2, 3_500_000_000, b"")

    two_masters = record(1, 0, announce(OTHER, priority1=200)) + record(1, 1000, announce(MASTER))
    two_masters += record(0, interval, sync(OTHER, 7, EPOCH * 1_000_000_000, False))
    two_masters += record(0, interval, sync(MASTER, 1, EPOCH * 1_000_000_000, False))
    two_masters += record(2, 4_000_000_000, b"") + record(2, 4_000_000_000, b"")
    return {"two-step": two_step, "one-step": one_step, "two-masters": two_masters}


# --- SDP (RFC 4566) and SAP (RFC 2974) -----------------------------------------------------------

AES67_SDP = (b"v=0\r\no=- 1311738121 1311738121 IN IP4 169.254.77.2\r\ns=Stage left\r\n"
             b"c=IN IP4 239.69.1.9/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 96\r\n"
             b"a=recvonly\r\na=rtpmap:96 L24/48000/8\r\na=ptime:1\r\n"
             b"a=ts-refclk:ptp=IEEE1588-2008:02-AA-AA-FF-FE-00-00-01:0\r\na=mediaclk:direct=0\r\n")
SECOND_MEDIA_SDP = (b"v=0\n o=jdoe 2890844526 2890842807 IN IP4 10.47.16.5\ns=SDP Seminar\n"
                    b"i=A Seminar\nc=IN IP4 224.2.17.12/127\nt=2873397496 2873404696\n"
                    b"m=audio 49170 RTP/AVP 0 97\na=rtpmap:97 L16/44100\nm=video 51372 RTP/AVP 99\n"
                    b"a=rtpmap:99 h263-1998/90000\nc=IN IP6 FF15::101/3\n")


def sap(flags, hash_, origin, payload, auth=b""):
    return (struct.pack(">BBH", flags, len(auth) // 4, hash_) + socket.inet_aton(origin) + auth
            + payload)


def sap_seeds():
    announcement = sap(0x20, 0x1234, "169.254.77.2", b"application/sdp\0" + AES67_SDP)
    deletion = sap(0x24, 0x1234, "169.254.77.2", b"application/sdp\0" + AES67_SDP)
    bare = sap(0x20, 0, "169.254.77.3", SECOND_MEDIA_SDP)
    signed = sap(0x20, 7, "169.254.77.4", b"application/sdp\0" + AES67_SDP, auth=b"\1" * 8)
    conversation = (record(0, 0, announcement) + record(0, 30_000, announcement)
                    + record(0, 1, bare) + record(0, 100, signed) + record(1, 300_001, b"")
                    + record(0, 5, deletion) + record(1, 3_600_001, b""))
    return {"announce-and-delete": conversation, "once": record(0, 0, bare)}


def sdp_seeds():
    return {"aes67": AES67_SDP, "two-media": SECOND_MEDIA_SDP}


# --- RTSP (RFC 2326) ------------------------------------------------------------------------------

def rtsp_seeds():
    url = b"rtsp://169.254.77.1:8554/by-name/Pelmar"
    requests = (b"OPTIONS " + url + b" RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: seed\r\n\r\n"
                + b"DESCRIBE " + url + b" RTSP/1.0\r\nCSeq: 2\r\nAccept: application/sdp\r\n\r\n"
                + b"ANNOUNCE " + url + b" RTSP/1.0\r\nCSeq: 3\r\nContent-Type: application/sdp\r\n"
                + b"Content-Length: %d\r\n\r\n" % len(AES67_SDP) + AES67_SDP
                + b"SETUP " + url + b" RTSP/1.0\nCSeq: 4\nTransport: RTP/AVP;multicast\n\n")
    responses = (b"RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE\r\n\r\n"
                 b"RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 12345678;timeout=60\r\n\r\n"
                 b"RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Type: application/sdp\r\n"
                 + b"Content-Length: %d\r\n\r\n" % len(AES67_SDP) + AES67_SDP
                 + b"RTSP/1.0 454 Session Not Found\nCSeq: 4\n\n")
    return {"requests": requests, "responses": responses}


# --- mDNS (RFC 6762, written by python3-zeroconf) ----------------------------------------------

def dns_seeds():
    from zeroconf import (DNSAddress, DNSOutgoing, DNSPointer, DNSQuestion, DNSService, DNSText,
                          const)

    service = "_rtsp._tcp.local."
    instance = "Desk 1 (Stage)." + service

    def response(ttl):
        out = DNSOutgoing(const._FLAGS_QR_RESPONSE | const._FLAGS_AA)
        records = [
            DNSPointer(service, const._TYPE_PTR, const._CLASS_IN, 4500 * ttl, instance),
            DNSService(instance, const._TYPE_SRV, const._CLASS_IN | const._CLASS_UNIQUE,
                       120 * ttl, 0, 0, 8554, "desk-1.local."),
            DNSText(instance, const._TYPE_TXT, const._CLASS_IN | const._CLASS_UNIQUE, 4500 * ttl,
                    b"\x0cmodel=X32-AE\x04path"),
            DNSAddress("desk-1.local.", const._TYPE_A, const._CLASS_IN | const._CLASS_UNIQUE,
                       120 * ttl, socket.inet_aton("169.254.77.9")),
        ]
        for r in records:
            out.add_answer_at_time(r, 0)
        return out.packets()[0]

    query = DNSOutgoing(const._FLAGS_QR_QUERY)
    query.add_question(DNSQuestion(service, const._TYPE_PTR, const._CLASS_IN))
    conversation = (record(0, 0, query.packets()[0]) + record(0, 10, response(1))
                    + record(1, 121_000, b"") + record(0, 1000, response(0))
                    + record(0, 1000, response(1)) + record(1, 4_501_000, b""))
    return {"appear-expire-goodbye": conversation}


# --- Phone frames (the phone application's protocol) ---------------------------------------------

def phone_seeds():
    hello = json.dumps({"type": "audio-hello", "id": "5f0c7d6e-phone", "name": "Pixel",
                        "sampleRate": 48000}).encode()

    def frame(seq, index, count):
        samples = struct.pack("<%dh" % count, *((i * 997) % 65536 - 32768 for i in range(count)))
        return b"QK" + struct.pack("<IQI", seq, index, count) + samples

    conversation = record(0, 0, hello)
    for n in range(4):
        conversation += record(1, 0, frame(n, n * 480, 480))
    conversation += record(1, 0, frame(9, 4000, 240))  # a gap and a skipped sequence
    conversation += record(2, 0, struct.pack("<Qq", 100, 200))
    conversation += record(3, 0, struct.pack("<Hdd", 256, 0.25, 1.0001))
    conversation += record(4, 0, struct.pack("<q", 96))
    conversation += record(1, 0, frame(10, 10, 100))  # capture restarted
    return {"session": conversation}


# --- Processor replies (from the simulated processor) ----------------------------------------------

def processor_seeds():
    import processor_sim
    device = processor_sim.Device()
    everything = json.dumps({"data": device.everything(), "WSI": "?8f2a?"}).encode()
    merge = json.dumps({"status": "ok", "PRESETNAMEname3": "Stage", "GAINgain28": -6.5,
                        "PEQfreq140": "1250", "PEQtype140": 1, "HLPFtype4": 13}).encode()
    levels = json.dumps({"data": {"VUvu16": -12, "VUvu30": "-6", "VUvu60": 0,
                                  "GAINgain29": 3}}).encode()
    return {"read-merge-levels": record(0, 0, everything) + record(1, 0, merge)
            + record(2, 0, levels)}


# --- Files -----------------------------------------------------------------------------------------

def calibration_seeds():
    return {
        "tabs": b"\xef\xbb\xbf\"Sens Factor =-28.5dB\"\r\nHz\tdB\r\n20\t-1.5\r\n1000\t0\r\n"
                b"20000\t2.0\r\n",
        "commas-and-comments": b"# maker's curve\n20,-1.5,90\n1kHz,0\n1000,0\n+2.0e4 , 2\n",
        "values-beyond": b"20\t-1.5\n100\t1e30\n500\tnan\n1000\t-inf\n20000\t200\n",
    }


def curve_text_seeds():
    lines = ["# frequency_hz\tdb\tphase_deg\tcoherence", "# Delay: 2.5 ms"]
    for i in range(24):
        f = 20 * 1.35 ** i
        lines.append("%g\t%g\t%g\t%g" % (f, -3 + i % 5, (170 + 40 * i) % 360 - 180, 0.5 + i / 50))
    return {"four-columns": ("\n".join(lines) + "\n").encode()}


def store_seeds():
    pack = {
        "schema": 3, "name": "主扩 01", "use": "主扩", "seq": 1, "time": "05-03 21:40", "count": 2,
        "rawFile": "0f8fad5b-d9cb-469f-a165-70867728950e.raw", "rawPoints": 480,
        "pointsFile": "0f8fad5b-d9cb-469f-a165-70867728950e.raw.points", "pointCount": 3,
        "delayMs": 4.25, "rawFile2": "7c9e6679-7425-40de-944b-e07fc1f90ae7.raw", "rawPoints2": 480,
        "delayMs2": 1.5, "phaseCompensated": True, "smoothBands": 6, "levelRefDb": 94.0,
        "levelRefSet": True,
        "bands": [{"freq": 125.0, "gain": -3.5, "q": 2.1, "enabled": True},
                  {"freq": 2500.0, "gain": 1.5, "q": 0.9}],
        "edges": {"low": {"on": True, "kind": "BW", "order": 4, "hz": 60.0},
                  "high": {"on": False, "kind": "LR", "order": 2, "hz": 18000.0},
                  "lcSuspect": False},
        "question": "再测一次?", "subAlign": {"delayMs": 2.0, "polarity": -1},
        "curves": [{"label": "点位 1", "points": [1.0, 2.5, -3.0]}, {"points": [0.5]}],
    }
    project = {"name": "现场", "roomType": "室内", "roomHeight": "4 m", "programType": "Livehouse",
               "packs": [pack, {"schema": 2, "name": "old"}, {"schema": 3, "name": ""}],
               "curves": 2, "note": "kept"}
    return {"project": json.dumps(project, ensure_ascii=False, indent=4).encode()}


def captures_seeds():
    n = 8
    arrays = [[20.0 * 2 ** i for i in range(n)], [-3.0] * n, [45.0] * n, [0.9] * n]
    raw = b"SNTRAW3" + struct.pack("<i", n) + b"".join(struct.pack("<%df" % n, *a) for a in arrays)
    points = b"SNTPTS1" + struct.pack("<i", 1) + struct.pack("<i", n) + raw[11:]
    not_a_number = raw[:11 + 4 * n] + struct.pack("<f", float("nan")) + raw[15 + 4 * n:]
    return {"raw": raw, "points": points, "raw-not-a-number": not_a_number}


def eq_batch_seeds():
    curve = [[20 * 1.4 ** i, -6 + (i % 7)] for i in range(20)]
    batch = {"curves": [
        {"name": "Main L", "path": "/show/main-l.txt", "curve": curve,
         "coh": [[f, 0.95] for f, _ in curve[:10]]},
        {"name": "short", "curve": [[1000], [2000, "x"], [4000, -3, 7]]},
    ]}
    return {"two-curves": json.dumps(batch).encode()}


def riff(chunks):
    body = b"WAVE" + b"".join(cid + struct.pack("<I", len(data)) + data + b"\0" * (len(data) % 2)
                              for cid, data in chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def wav_seeds():
    def fmt(tag, channels, rate, bits):
        align = channels * bits // 8
        return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)

    extensible = fmt(0xFFFE, 2, 48000, 24) + struct.pack("<HHI", 22, 24, 3) + bytes.fromhex(
        "0100000000001000800000aa00389b71")
    return {
        "pcm16-mono": riff([(b"fmt ", fmt(1, 1, 44100, 16)),
                            (b"data", struct.pack("<8h", 0, 1000, -1000, 32767, -32768, 5, 6, 7))]),
        "float32-stereo-list": riff([(b"fmt ", fmt(3, 2, 48000, 32)), (b"LIST", b"INFOabc"),
                                     (b"data", struct.pack("<4f", 0.5, -0.5, 1.0, -1.0))]),
        "extensible-pcm24": riff([(b"fmt ", extensible), (b"data", b"\x00\x00\x80\xff\xff\x7f")]),
        "pcm8": riff([(b"fmt ", fmt(1, 1, 8000, 8)), (b"data", bytes(range(0, 256, 17)))]),
        "float64-beyond": riff([(b"fmt ", fmt(3, 1, 48000, 64)),
                                (b"data", struct.pack("<3d", 0.5, 1e300, float("nan")))]),
    }


def converter_request_seeds():
    request = {"desktop": "/home/user/Desktop", "target": "xta",
               "filters": [{"frequency_hz": 125, "gain_db": -3.5, "q": 2.1, "enabled": True,
                            "filter_type": "peq"},
                           {"frequency_hz": 8000, "gain_db": 2, "q": 0.7, "enabled": False,
                            "filter_type": "peq"}],
               "hpf": {"frequency_hz": 60, "filter_type": "butter24"},
               "lpf": {"frequency_hz": 16000, "filter_type": "lr24"}}
    nst = dict(request, target="nst")
    del nst["lpf"]
    return {"xta": json.dumps(request).encode(), "nst": json.dumps(nst).encode()}


SEEDS = {
    "ptp": ptp_seeds, "sap": sap_seeds, "sdp": sdp_seeds, "rtsp": rtsp_seeds, "dns": dns_seeds,
    "phone": phone_seeds, "processor": processor_seeds, "calibration": calibration_seeds,
    "curve_text": curve_text_seeds, "store": store_seeds, "captures": captures_seeds,
    "eq_batch": eq_batch_seeds, "wav": wav_seeds, "converter_request": converter_request_seeds,
}


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    for target, make in SEEDS.items():
        folder = os.path.join(corpus, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in make().items():
            with open(os.path.join(folder, "seed-" + name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
