#!/usr/bin/env python3
"""Reads one curve pack of a data root the way another program would: the pack object from the
root pack file, and its capture files with the layout "SNTRAW3", int32 n, then n float32 each of
frequencies, levels, phases and coherences (little-endian). Prints them as one JSON object."""
import json
import os
import struct
import sys


def read_capture(raw_dir, name):
    if not name:
        return None
    with open(os.path.join(raw_dir, name), "rb") as f:
        data = f.read()
    if data[:7] != b"SNTRAW3":
        raise SystemExit("bad magic in " + name)
    (n,) = struct.unpack_from("<i", data, 7)
    if len(data) != 11 + 16 * n:
        raise SystemExit("bad size of " + name)
    arrays = [list(struct.unpack_from("<%df" % n, data, 11 + 4 * n * k)) for k in range(4)]
    return dict(zip(("freq", "level", "phase", "coherence"), arrays))


def main():
    root, name = sys.argv[1], sys.argv[2]
    with open(os.path.join(root, "曲线", "curve_packs_root.json"), encoding="utf-8") as f:
        packs = json.load(f)["packs"]
    matches = [p for p in packs if p.get("name") == name]
    if len(matches) != 1:
        raise SystemExit("%d packs named %s" % (len(matches), name))
    pack = matches[0]
    raw_dir = os.path.join(root, "曲线", "raw")
    out = {"pack": pack,
           "first": read_capture(raw_dir, pack.get("rawFile")),
           "second": read_capture(raw_dir, pack.get("rawFile2")),
           "rawFiles": sorted(os.listdir(raw_dir))}
    json.dump(out, sys.stdout)


main()
