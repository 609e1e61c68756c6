#!/usr/bin/env python3
"""Prints what a data folder holds, read with nothing but the file formats: every project file
and the root file as parsed JSON, and every capture file of the raw folder decoded with struct.

.raw: b"SNTRAW3", int32 n, then n float32 each of frequency, level, phase, coherence, all
little-endian."""
import json
import os
import struct
import sys


def capture(data):
    if data[:7] != b"SNTRAW3":
        return {"kind": "other", "size": len(data)}
    (n,) = struct.unpack_from("<i", data, 7)
    result = {"kind": "raw", "n": n, "trailing": len(data) - 11 - 16 * n}
    for k, name in enumerate(("freq", "level", "phase", "coherence")):
        result[name] = list(struct.unpack_from("<%df" % n, data, 11 + 4 * n * k))
    return result


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
