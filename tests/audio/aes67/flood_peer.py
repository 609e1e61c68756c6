#!/usr/bin/python3
"""A hostile peer for the network tests, written from the protocols' text alone: it floods the
stack with spoofed traffic, or forges PTP times no master can send.

  flood_peer.py sap FIRST COUNT RATE          COUNT announcements of distinct sessions (spoofed
                                               origins), then one of the session "Flood end FIRST"
  flood_peer.py mdns FIRST COUNT RATE ADDRESS  COUNT answers naming new hosts, then the device
                                               "Flood end FIRST" at ADDRESS
  flood_peer.py ptp FIRST COUNT RATE           COUNT Announces of distinct grandmasters (poor
                                               clocks), then the best grandmaster 02-EE-...-FIRST
  flood_peer.py ptp-forged IDENTITY            Syncs and Follow_Ups of the master IDENTITY (hex,
                                               port 1) whose times and corrections are extreme
  flood_peer.py rtsp HOST PORT BYTES           connects, sends BYTES of pipelined DESCRIBEs and
                                               never reads an answer; prints "sent N" and "closed"

Multicast leaves from the interface that holds the default route, with a hop limit of 1. Every
sender prints "done" when it is through. RATE is in packets per second.
"""
import select
import socket
import struct
import sys
import time

SAP_GROUPS = ("224.2.127.254", "239.255.255.255")
MDNS_GROUP = "224.0.0.251"
PTP_GROUP = "224.0.1.129"


def multicast_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    return s


def paced(packets, rate):
    """The packets at RATE a second, the last one (the end mark) ten times over a second: a busy
    receiver may drop a datagram, and the mark must arrive."""
    start = time.monotonic()
    for n, packet in enumerate(packets):
        ahead = n / rate - (time.monotonic() - start)
        if ahead > 0:
            time.sleep(ahead)
        yield packet
    for _ in range(10):
        time.sleep(0.1)
        yield packets[-1]


# --- SAP (RFC 2974) with SDP (RFC 4566) -----------------------------------------------------------

def sap_packet(n, name):
    origin = struct.pack(">I", 0x0A000000 + n)  # 10.x.y.z, never a real host here
    sdp = ("v=0\r\no=- %d 1 IN IP4 %s\r\ns=%s\r\nc=IN IP4 239.69.%d.%d/32\r\nt=0 0\r\n"
           "m=audio 5004 RTP/AVP 96\r\na=rtpmap:96 L24/48000/2\r\na=ptime:1\r\n"
           % (n, socket.inet_ntoa(origin), name, (n >> 8) & 255, n & 255)).encode()
    return struct.pack(">BBH", 0x20, 0, n & 0xFFFF) + origin + b"application/sdp\0" + sdp


def flood_sap(first, count, rate):
    s = multicast_socket()
    packets = [sap_packet(first + i, "Spoof %d" % (first + i)) for i in range(count)]
    packets.append(sap_packet(first + count, "Flood end %d" % first))
    for packet in paced(packets, rate):
        s.sendto(packet, (SAP_GROUPS[1], 9875))


# --- mDNS (RFC 1035, RFC 6762) --------------------------------------------------------------------

def dns_name(dotted):
    return b"".join(bytes([len(label)]) + label.encode() for label in dotted.split(".")) + b"\0"


def dns_record(name, rtype, ttl, data, unique=True):
    rclass = 0x8001 if unique else 1
    return dns_name(name) + struct.pack(">HHIH", rtype, rclass, ttl, len(data)) + data


def dns_response(records):
    return struct.pack(">HHHHHH", 0, 0x8400, 0, len(records), 0, 0) + b"".join(records)


def flood_mdns(first, count, rate, address):
    s = multicast_socket()
    packets = []
    for i in range(count):
        n = first + i
        host = "spoof-%d.local" % n
        packets.append(dns_response([dns_record(host, 1, 120, struct.pack(">I", 0x0A000000 + n))]))
    service = "_rtsp._tcp.local"
    instance = "Flood end %d.%s" % (first, service)
    end_host = "flood-end-%d.local" % first
    packets.append(dns_response([
        dns_record(service, 12, 4500, dns_name(instance), unique=False),
        dns_record(instance, 33, 120, struct.pack(">HHH", 0, 0, 8554) + dns_name(end_host)),
        dns_record(end_host, 1, 120, socket.inet_aton(address)),
    ]))
    for packet in paced(packets, rate):
        s.sendto(packet, (MDNS_GROUP, 5353))


# --- PTP (IEEE 1588-2008) ---------------------------------------------------------------------------

def ptp_header(kind, length, flags, correction, identity, sequence, control, log_interval):
    return struct.pack(">BBHBBHq4s8sHHBb", kind, 2, length, 0, 0, flags, correction, b"\0" * 4,
                       identity, 1, sequence, control, log_interval)


def ptp_announce(identity, priority1):
    return (ptp_header(11, 64, 0, 0, identity, 1, 5, 1) + b"\0" * 10
            + struct.pack(">hBBBBHB8sHB", 37, 0, priority1, 248, 0xFE, 0xFFFF, 128, identity, 0,
                          0xA0))


def flood_ptp(first, count, rate):
    s = multicast_socket()
    packets = [ptp_announce(bytes.fromhex("02dd") + struct.pack(">IH", first + i, 0), 250)
               for i in range(count)]
    packets.append(ptp_announce(bytes.fromhex("02eeeeeeee") + struct.pack(">I", first)[1:], 0))
    for packet in paced(packets, rate):
        s.sendto(packet, (PTP_GROUP, 320))


def forge_ptp(identity_hex):
    identity = bytes.fromhex(identity_hex)
    times = [
        ((1 << 48) - 1, 0, 0),  # seconds at their largest
        (1_796_588_487, 0xFFFFFFFF, 0),  # nanoseconds far beyond a second
        (1_796_588_487, 0, (1 << 63) - 1),  # correctionField at the top
        (1_796_588_487, 0, -(1 << 63)),  # and at the bottom
    ]
    s = multicast_socket()
    for sequence, (seconds, nanoseconds, correction) in enumerate(times, start=60000):
        stamp = struct.pack(">HIL", seconds >> 32, seconds & 0xFFFFFFFF, nanoseconds)
        one_step = ptp_header(0, 44, 0, correction, identity, sequence, 0, -3) + stamp
        two_step = ptp_header(0, 44, 0x0200, 0, identity, sequence + 100, 0, -3) + b"\0" * 10
        follow_up = ptp_header(8, 44, 0, correction, identity, sequence + 100, 2, -3) + stamp
        s.sendto(one_step, (PTP_GROUP, 319))
        s.sendto(two_step, (PTP_GROUP, 319))
        s.sendto(follow_up, (PTP_GROUP, 320))
        time.sleep(0.05)


# --- RTSP (RFC 2326) ---------------------------------------------------------------------------------

def flood_rtsp(host, port, size):
    s = socket.create_connection((host, port))
    s.settimeout(30)
    sent, cseq = 0, 1
    try:
        while sent < size:
            chunk = b"".join(b"DESCRIBE rtsp://%s:%d/by-name/Pelmar RTSP/1.0\r\nCSeq: %d\r\n\r\n"
                             % (host.encode(), port, cseq + i) for i in range(1000))
            cseq += 1000
            s.sendall(chunk)
            sent += len(chunk)
    except (socket.timeout, ConnectionError):
        pass
    print("sent", sent, flush=True)
    # Waits, taking no answer, until the responder ends the connection.
    poller = select.poll()
    poller.register(s, select.POLLRDHUP)
    while not any(events & (select.POLLRDHUP | select.POLLHUP | select.POLLERR)
                  for _, events in poller.poll(60000)):
        pass
    print("closed", flush=True)


if __name__ == "__main__":
    kind, args = sys.argv[1], sys.argv[2:]
    if kind == "sap":
        flood_sap(int(args[0]), int(args[1]), float(args[2]))
    elif kind == "mdns":
        flood_mdns(int(args[0]), int(args[1]), float(args[2]), args[3])
    elif kind == "ptp":
        flood_ptp(int(args[0]), int(args[1]), float(args[2]))
    elif kind == "ptp-forged":
        forge_ptp(args[0])
    elif kind == "rtsp":
        flood_rtsp(args[0], int(args[1]), int(args[2]))
    print("done", flush=True)
