#!/usr/bin/python3
"""An mDNS peer over python3-zeroconf, an implementation independent of the program's.

  encode                      print a hex response: PTR, SRV, TXT and A of one RTSP device
  decode HEX                  print the records of a response, one line each
  register ADDR NAME SECONDS  announce an RTSP device from ADDR, withdraw it after SECONDS
  resolve ADDR SECONDS        print every RTSP device found from ADDR within SECONDS
"""
import socket
import sys
import time

from zeroconf import (DNSAddress, DNSIncoming, DNSOutgoing, DNSPointer, DNSService, DNSText,
                      ServiceBrowser, ServiceInfo, Zeroconf, const)

SERVICE = "_rtsp._tcp.local."
NAME = "Desk 1 (Stage)"
TXT = b"\x0cmodel=X32-AE\x04path"


def encode():
    out = DNSOutgoing(const._FLAGS_QR_RESPONSE | const._FLAGS_AA)
    instance = f"{NAME}.{SERVICE}"
    records = [
        DNSPointer(SERVICE, const._TYPE_PTR, const._CLASS_IN, 4500, instance),
        DNSService(instance, const._TYPE_SRV, const._CLASS_IN | const._CLASS_UNIQUE, 120, 0, 0,
                   8554, "desk-1.local."),
        DNSText(instance, const._TYPE_TXT, const._CLASS_IN | const._CLASS_UNIQUE, 4500, TXT),
        DNSAddress("desk-1.local.", const._TYPE_A, const._CLASS_IN | const._CLASS_UNIQUE, 120,
                   socket.inet_aton("169.254.77.9")),
    ]
    for record in records:
        out.add_answer_at_time(record, 0)
    print(out.packets()[0].hex())


def decode(data):
    message = DNSIncoming(bytes.fromhex(data))
    assert message.valid
    for r in message.answers:
        if r.type == const._TYPE_PTR:
            value = r.alias
        elif r.type == const._TYPE_SRV:
            value = f"{r.server} {r.port}"
        elif r.type == const._TYPE_TXT:
            value = r.text.hex()
        elif r.type == const._TYPE_A:
            value = socket.inet_ntoa(r.address)
        else:
            continue
        print(f"{r.type} {r.name} {r.ttl} {int(r.unique)} {value}")


def register(address, name, seconds):
    zc = Zeroconf(interfaces=[address])
    info = ServiceInfo(SERVICE, f"{name}.{SERVICE}", port=8554, properties={"model": "X32-AE"},
                       server="desk-1.local.", addresses=[socket.inet_aton(address)])
    zc.register_service(info)
    print("registered", flush=True)
    time.sleep(seconds)
    zc.unregister_service(info)
    print("unregistered", flush=True)
    zc.close()


def resolve(address, seconds):
    zc = Zeroconf(interfaces=[address])
    found = []

    class Listener:
        def add_service(self, zc, type_, name):
            found.append(name)

        def update_service(self, zc, type_, name):
            pass

        def remove_service(self, zc, type_, name):
            print(f"removed {name}", flush=True)

    ServiceBrowser(zc, SERVICE, Listener())
    deadline = time.time() + seconds
    reported = set()
    while time.time() < deadline:
        for name in found:
            info = zc.get_service_info(SERVICE, name, timeout=2000)
            if name not in reported and info and info.parsed_addresses():
                reported.add(name)
                print(f"found {name} {info.server} {info.parsed_addresses()[0]}:{info.port}",
                      flush=True)
        time.sleep(0.2)
    zc.close()


if __name__ == "__main__":
    role = sys.argv[1]
    if role == "encode":
        encode()
    elif role == "decode":
        decode(sys.argv[2])
    elif role == "register":
        register(sys.argv[2], sys.argv[3], float(sys.argv[4]))
    elif role == "resolve":
        resolve(sys.argv[2], float(sys.argv[3]))
