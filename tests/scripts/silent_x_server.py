#!/usr/bin/python3
"""An X server that takes connections on its display and never answers, as a hung one does.

Usage: silent_x_server.py NUMBER SECONDS [READY_FD]

It listens on the display's socket file, /tmp/.X11-unix/X<NUMBER>, alone: that is how a server in
another network namespace is seen, since its abstract socket name lies in that namespace. Once it
listens it writes the display's lock file, /tmp/.X<NUMBER>-lock, with its process id, as X
servers do, and with READY_FD it writes its number to that descriptor, as Xvfb -displayfd does.
Every connection is taken and then left without a byte. It lets the number go after SECONDS, or
when terminated, and removes both files.
"""

import contextlib
import os
import select
import signal
import socket
import sys
import time


def hold(listener, seconds):
    taken = []
    deadline = time.monotonic() + seconds
    while (left := deadline - time.monotonic()) > 0:
        if select.select([listener], [], [], left)[0]:
            taken.append(listener.accept()[0])


def main():
    number, seconds = int(sys.argv[1]), float(sys.argv[2])
    socket_path = f"/tmp/.X11-unix/X{number}"
    lock_path = f"/tmp/.X{number}-lock"
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    os.makedirs(os.path.dirname(socket_path), exist_ok=True)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(socket_path)
    listener.listen(64)
    try:
        with open(lock_path, "w") as lock:
            lock.write(f"{os.getpid():10d}\n")
        if len(sys.argv) > 3:
            ready = int(sys.argv[3])
            os.write(ready, f"{number}\n".encode())
            os.close(ready)
        hold(listener, seconds)
    finally:
        for path in (socket_path, lock_path):
            with contextlib.suppress(FileNotFoundError):
                os.unlink(path)


if __name__ == "__main__":
    main()
