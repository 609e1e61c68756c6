#!/usr/bin/env python3
"""Reads an EQ batch result file on its own, checks its form and prints a summary as JSON.

The form: a JSON array indented by four spaces, one object per curve with its keys in
alphabetical order; the types of every key as the batch writes them. The summary lists per
curve its name, path, the number of schemes and, per scheme, its name, target index, corners and
the band with the deepest cut. Exits 1, naming the fault, when the form is wrong.
"""
import json
import sys

CURVE_KEYS = {"name": str, "path": str, "elapsedMs": int, "schemes": list,
              "beforeRaw": list, "beforeSmooth": list, "afterSmooth": list, "afterRaw": list,
              "phaseBefore": list, "phaseAfter": list, "coherence": list}
DETAIL_KEYS = {"blocked": bool, "blockedReason": str}
SCHEME_KEYS = {"name": str, "targetIndex": int, "fit": (int, float), "maxGain": (int, float),
               "maxCut": (int, float), "blocked": bool, "blockedReason": str,
               "hpf": (int, float), "hpfOrder": int, "lpf": (int, float), "lpfOrder": int,
               "bands": list}
BAND_KEYS = {"hz": (int, float), "gain": (int, float), "q": (int, float)}


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def ordered_object(pairs):
    keys = [k for k, _ in pairs]
    if keys != sorted(keys):
        fail("keys not in alphabetical order: %s" % keys)
    return dict(pairs)


def check(obj, spec, where, optional=None):
    optional = optional or {}
    expected = set(spec) | (set(optional) & set(obj))
    if set(obj) != expected:
        fail("%s: keys %s, expected %s" % (where, sorted(obj), sorted(expected)))
    for key, kind in {**spec, **optional}.items():
        if key in obj and (not isinstance(obj[key], kind) or
                           (kind is int and isinstance(obj[key], bool))):
            fail("%s: %s is %r" % (where, key, obj[key]))


def point_count(points, where):
    for p in points:
        if not (isinstance(p, dict) and set(p) == {"f", "d"}) and \
                not (isinstance(p, list) and len(p) == 2):
            fail("%s: not a curve point: %r" % (where, p))
    return len(points)


def main():
    text = open(sys.argv[1], encoding="utf-8").read()
    lines = text.splitlines()
    if lines[0] != "[" or not lines[1].startswith("    {"):
        fail("not an array indented by four spaces")
    curves = json.loads(text, object_pairs_hook=ordered_object)
    summary = []
    for curve in curves:
        check(curve, CURVE_KEYS, curve.get("name"), DETAIL_KEYS)
        schemes = []
        for scheme in curve["schemes"]:
            check(scheme, SCHEME_KEYS, scheme.get("name"))
            for band in scheme["bands"]:
                check(band, BAND_KEYS, scheme["name"])
            deepest = min(scheme["bands"], key=lambda b: b["gain"], default=None)
            schemes.append({"name": scheme["name"], "targetIndex": scheme["targetIndex"],
                            "hpf": scheme["hpf"], "hpfOrder": scheme["hpfOrder"],
                            "lpf": scheme["lpf"], "lpfOrder": scheme["lpfOrder"],
                            "deepestCut": deepest})
        points = {k: point_count(curve[k], curve["name"]) for k in CURVE_KEYS
                  if CURVE_KEYS[k] is list and k != "schemes"}
        summary.append({"name": curve["name"], "path": curve["path"], "schemes": schemes,
                        "points": points, "blocked": curve.get("blocked")})
    print(json.dumps(summary, ensure_ascii=False))


main()
