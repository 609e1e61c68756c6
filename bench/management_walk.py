#!/usr/bin/env python3
"""The scripted management walk of the release program on a data folder of many curve packs:
"--curve-test CURVE OUT --management-project" on an X server of its own, in a fresh home whose
data folder holds PACKS packs in the root group, or spread over PROJECTS project files. Prints
the walk's seconds and its exit code, or that it did not end within the time given.

    bench/management_walk.py build/release/sonetra 5000 [--projects 400] [--timeout 600]

The files are written as the store writes them (project files, the root file, one capture file
per pack), from the file formats alone."""
import argparse
import json
import math
import os
import signal
import struct
import subprocess
import tempfile
import time

CAPTURE_VALUES = 256
HERE = os.path.dirname(os.path.abspath(__file__))


def capture_bytes(seed):
    n = CAPTURE_VALUES
    freq = [20.0 * 1000 ** (i / (n - 1)) for i in range(n)]
    level = [3.0 * math.sin(i / 17.0 + seed) for i in range(n)]
    phase = [float((i * 7 + seed) % 360 - 180) for i in range(n)]
    coherence = [0.95] * n
    values = freq + level + phase + coherence
    return b"SNTRAW3" + struct.pack("<i", n) + struct.pack("<%df" % len(values), *values)


def pack_object(i, raw_file):
    return {"schema": 3, "name": "主扩 %02d" % (i + 1), "use": "主扩", "seq": i + 1,
            "time": "12-06 17:09", "count": 2, "rawFile": raw_file,
            "rawPoints": CAPTURE_VALUES, "delayMs": 3.25, "phaseCompensated": True,
            "smoothBands": 6,
            "bands": [{"freq": 40.0 * (b + 1), "gain": -3.5 + 0.5 * b, "q": 1.4,
                       "enabled": True} for b in range(8)],
            "edges": {"low": {"on": True, "kind": "LR", "order": 4, "hz": 45.0},
                      "high": {"on": True, "kind": "BW", "order": 2, "hz": 16000.0},
                      "lcSuspect": False},
            "curves": []}


def write_json(path, value):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(value, f, ensure_ascii=False, indent=4)


def write_data_folder(home, packs, projects):
    root = os.path.join(home, "Documents", "Tovan测量工作流")
    projects_dir = os.path.join(root, "工程")
    raw_dir = os.path.join(root, "曲线", "raw")
    os.makedirs(projects_dir)
    os.makedirs(raw_dir)
    groups = [[] for _ in range(projects + 1)]
    for i in range(packs):
        raw_file = "0f8fad5b-d9cb-469f-a165-%012d.raw" % i
        with open(os.path.join(raw_dir, raw_file), "wb") as f:
            f.write(capture_bytes(i))
        groups[i % projects if projects else projects].append(pack_object(i, raw_file))
    for p in range(projects):
        name = "工程 %03d" % p
        write_json(os.path.join(projects_dir, name + ".json"),
                   {"name": name, "roomType": "室内", "packs": groups[p],
                    "curves": 2 * len(groups[p])})
    write_json(os.path.join(root, "曲线", "curve_packs_root.json"), {"packs": groups[projects]})


def write_curve(path):
    """600 points from 20 Hz to 20 kHz, flat but for a 9 dB resonance at 2 kHz (Q 4)."""
    a = 10 ** (9.0 / 40)
    with open(path, "w", encoding="utf-8") as f:
        f.write("频率\t幅度\t相位\t相干\n")
        for i in range(600):
            freq = 20.0 * 1000 ** (i / 599)
            x = freq / 2000.0
            real = (1 - x * x) ** 2
            db = 10 * math.log10((real + (x * a / 4) ** 2) / (real + (x / (a * 4)) ** 2))
            f.write("%.3f\t%.4f\t0\t0.98\n" % (freq, db))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("packs", type=int)
    parser.add_argument("--projects", type=int, default=0)
    parser.add_argument("--timeout", type=float, default=600)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="snt-walk-") as home:
        write_data_folder(home, options.packs, options.projects)
        curve = os.path.join(home, "curve.txt")
        write_curve(curve)
        env = {key: value for key, value in os.environ.items() if not key.startswith("XDG_")}
        env.update(HOME=home, LANG="C.UTF-8", QT_SCALE_FACTOR="1", QT_QPA_PLATFORM="xcb",
                   QSG_RENDER_LOOP="basic", PULSE_SERVER="unix:/nonexistent/pulse")
        command = [os.path.join(HERE, "..", "tests", "support", "own_x_server.sh"),
                   os.path.abspath(options.program), "--size", "600x1145", "--curve-test", curve,
                   os.path.join(home, "out"), "--management-project"]
        start = time.monotonic()
        # A session of its own, so that a walk that does not end is stopped with its X server.
        walk = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            code = walk.wait(timeout=options.timeout)
        except subprocess.TimeoutExpired:
            os.killpg(walk.pid, signal.SIGTERM)
            walk.wait()
            print("packs %d projects %d: not ended after %.0f s"
                  % (options.packs, options.projects, options.timeout))
            return
        print("packs %d projects %d: %.1f s, exit code %d"
              % (options.packs, options.projects, time.monotonic() - start, code))


if __name__ == "__main__":
    main()
