#!/usr/bin/env python3
"""Reads an EQ batch result on its own, checks its form and prints a summary as JSON: per curve
its name, path and, per scheme, its name, target index, corners and deepest cut. The form: an
array indented by four spaces, keys in alphabetical order, every key of its type. Exits 1 with
the fault otherwise."""
import json
import sys

NUMBER = (int, float)
CURVE = {"name": str, "path": str, "elapsedMs": int, "schemes": list, "beforeRaw": list,
         "beforeSmooth": list, "afterSmooth": list, "afterRaw": list, "phaseBefore": list,
         "phaseAfter": list, "coherence": list}
DETAIL = {"blocked": bool, "blockedReason": str}
SCHEME = {"name": str, "targetIndex": int, "fit": NUMBER, "maxGain": NUMBER, "maxCut": NUMBER,
          "blocked": bool, "blockedReason": str, "hpf": NUMBER, "hpfOrder": int, "lpf": NUMBER,
          "lpfOrder": int, "bands": list}
BAND = {"hz": NUMBER, "gain": NUMBER, "q": NUMBER}


def sorted_object(pairs):
    keys = [k for k, _ in pairs]
    if keys != sorted(keys):
        sys.exit("keys out of order: %s" % keys)
    return dict(pairs)


def check(obj, kinds, optional=None):
    kinds = {**kinds, **{k: v for k, v in (optional or {}).items() if k in obj}}
    if set(obj) != set(kinds):
        sys.exit("keys %s, expected %s" % (sorted(obj), sorted(kinds)))
    for key, kind in kinds.items():
        if not isinstance(obj[key], kind) or (kind is int and isinstance(obj[key], bool)):
            sys.exit("%s is %r" % (key, obj[key]))


text = open(sys.argv[1], encoding="utf-8").read()
if not text.startswith("[\n    {\n        \""):
    sys.exit("not an array indented by four spaces")
summary = []
for curve in json.loads(text, object_pairs_hook=sorted_object):
    check(curve, CURVE, DETAIL)
    schemes = []
    for scheme in curve["schemes"]:
        check(scheme, SCHEME)
        for band in scheme["bands"]:
            check(band, BAND)
        schemes.append({k: scheme[k] for k in ("name", "targetIndex", "hpf", "hpfOrder")})
        schemes[-1]["deepestCut"] = min(scheme["bands"], key=lambda b: b["gain"], default=None)
    summary.append({"name": curve["name"], "path": curve["path"], "schemes": schemes})
print(json.dumps(summary, ensure_ascii=False))
