#!/usr/bin/env python3
"""Prints what a data folder holds, read with nothing but the file formats: every project file
and the root file as parsed JSON, and every capture file of the raw folder decoded with struct.

.raw:    b"SNTRAW3", int32 n, then n float32 each of frequency, level, phase, coherence.
.points: b"SNTPTS1", int32 count, then per point int32 n and its four arrays of n float32.
All numbers little-endian."""
import json
import os
import struct
import sys

NAMES = ("freq", "level", "phase", "coherence")


def arrays(data, offset, n):
    values = {}
    for name in NAMES:
        values[name] = list(struct.unpack_from("<%df" % n, data, offset))
        offset += 4 * n
    return values, offset


def capture(data):
    if data[:7] == b"SNTRAW3":
        (n,) = struct.unpack_from("<i", data, 7)
        values, end = arrays(data, 11, n)
        return dict(values, kind="raw", n=n, trailing=len(data) - end)
    if data[:7] == b"SNTPTS1":
        (count,) = struct.unpack_from("<i", data, 7)
        offset, points = 11, []
        for _ in range(count):
            (n,) = struct.unpack_from("<i", data, offset)
            values, offset = arrays(data, offset + 4, n)
            points.append(dict(values, n=n))
        return {"kind": "points", "points": points, "trailing": len(data) - offset}
    return {"kind": "unknown", "size": len(data)}


def main(root):
    projects_dir = os.path.join(root, "工程")
    raw_dir = os.path.join(root, "曲线", "raw")
    snapshot = {"projects": {}, "root": None, "captures": {}}
    if os.path.isdir(projects_dir):
        for name in sorted(os.listdir(projects_dir)):
            path = os.path.join(projects_dir, name)
            if name.endswith(".json") and os.path.isfile(path):
                with open(path, encoding="utf-8") as f:
                    snapshot["projects"][name[:-5]] = json.load(f)
    root_file = os.path.join(root, "曲线", "curve_packs_root.json")
    if os.path.isfile(root_file):
        with open(root_file, encoding="utf-8") as f:
            snapshot["root"] = json.load(f)
    if os.path.isdir(raw_dir):
        for name in sorted(os.listdir(raw_dir)):
            with open(os.path.join(raw_dir, name), "rb") as f:
                snapshot["captures"][name] = capture(f.read())
    json.dump(snapshot, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
