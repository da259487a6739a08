#!/usr/bin/env python3
"""Differential test: ostrel-packaging against the Python packaging library.

Generates seeded random versions, specifier sets and wheel file names (valid
and malformed), asks both for the same answers and fails on any difference.
Run: differential.py --tool BUILD/ostrel-packaging [--cases N] [--seed S]
"""
import argparse
import json
import random
import subprocess
import sys

from packaging.specifiers import InvalidSpecifier, SpecifierSet
from packaging.utils import InvalidWheelFilename, parse_wheel_filename
from packaging.version import InvalidVersion, Version

SPACES = ["", "", "", " ", "  ", "\t", "\n", "\u00a0", "\u2003", "\x1f"]
MUTATION_CHARS = ".-_!+*abcdeoprstvAV0123456789 ,=<>~"


def number(r, small):
    if small:
        return str(r.randint(0, 3))
    k = r.random()
    if k < 0.6:
        return str(r.randint(0, 20))
    if k < 0.75:
        return "0" * r.randint(1, 3) + str(r.randint(0, 9))
    return str(r.randint(0, 10 ** r.randint(10, 40)))


def case(r, word):
    return "".join(c.upper() if r.random() < 0.2 else c for c in word)


def sep(r):
    return r.choice(["", "", ".", "-", "_"])


def mutate(r, s):
    for _ in range(r.randint(1, 2)):
        i = r.randint(0, len(s))
        k = r.random()
        if k < 0.4:
            s = s[:i] + r.choice(MUTATION_CHARS) + s[i:]
        elif k < 0.8:
            s = s[:i] + s[i + 1:]
        else:
            s = s[:i] + r.choice(MUTATION_CHARS) + s[i + 1:]
    return s


def version(r, allow_local=True, small=None):
    if small is None:
        small = r.random() < 0.6
    s = ""
    if r.random() < 0.1:
        s += r.choice("vV")
    if r.random() < 0.1:
        s += number(r, True) + "!"
    s += ".".join(number(r, small) for _ in range(r.choice([1, 2, 2, 3, 3, 4])))
    if r.random() < 0.35:
        s += sep(r) + case(r, r.choice(["a", "b", "c", "rc", "alpha", "beta", "pre", "preview"])) + sep(r)
        s += number(r, True) if r.random() < 0.8 else ""
    if r.random() < 0.3:
        if r.random() < 0.3:
            s += "-" + number(r, True)
        else:
            s += sep(r) + case(r, r.choice(["post", "rev", "r"])) + sep(r) + (number(r, True) if r.random() < 0.8 else "")
    if r.random() < 0.25:
        s += sep(r) + case(r, "dev") + sep(r) + (number(r, True) if r.random() < 0.8 else "")
    if allow_local and r.random() < 0.2:
        segs = ["".join(r.choice("abcXYZ0123456789") for _ in range(r.randint(1, 4))) for _ in range(r.randint(1, 3))]
        s += "+" + segs[0] + "".join(r.choice("-_.") + x for x in segs[1:])
    if r.random() < 0.1:
        s = r.choice(SPACES) + s + r.choice(SPACES)
    if r.random() < 0.12:
        s = mutate(r, s)
    return s


def clause(r):
    op = r.choice(["~=", "~=", "==", "==", "!=", "<=", ">=", ">=", "<", ">", "===", "=>", ""])
    v = version(r, allow_local=r.random() < 0.5, small=True if r.random() < 0.8 else None)
    if op in ("==", "!=") and r.random() < 0.3:
        v = v.rstrip() + ".*"
    return r.choice(SPACES[:5]) + op + r.choice(["", "", " "]) + v + r.choice(SPACES[:5])


def specifier_set(r):
    n = r.choice([0, 1, 1, 1, 2, 2, 3])
    return ",".join(clause(r) for _ in range(n)) + ("," if r.random() < 0.05 else "")


def wheel_name(r):
    name = "".join(r.choice("abcXYZ0189._-") for _ in range(r.randint(0, 8))) if r.random() < 0.2 else r.choice(
        ["ostrel_ai", "Ostrel.AI", "foo", "foo_bar", "a.b_c"])
    parts = [name, version(r, small=True)]
    if r.random() < 0.3:
        parts.append(r.choice(["1", "12", "007", "1abc", "x1", "", str(r.randint(0, 10 ** 25))]))
    tag = [
        ".".join(r.sample(["py3", "py2", "cp311", "pp39", "PY3", "cp312"], r.randint(1, 2))),
        ".".join(r.sample(["none", "abi3", "cp311", "CP312"], r.randint(1, 2))),
        ".".join(r.sample(["any", "linux_x86_64", "manylinux2014_x86_64", "win_amd64", "Any"], r.randint(1, 2))),
    ]
    if r.random() < 0.05:
        tag = tag[: r.randint(1, 2)]
    suffix = r.choice([".whl"] * 18 + [".WHL", ".zip"])
    return "-".join(parts + tag) + suffix


def reference(request):
    """The answer of the Python packaging library, or None to skip a case it cannot answer."""
    op = request["op"]
    try:
        if op == "parse":
            return {"ok": True, "result": str(Version(request["version"]))}
        if op == "compare":
            a, b = Version(request["a"]), Version(request["b"])
            return {"ok": True, "result": (a > b) - (a < b)}
        if op == "contains":
            s = SpecifierSet(request["specifier"])
            v = Version(request["version"])
            try:
                return {"ok": True, "result": s.contains(v, prereleases=request["prereleases"])}
            except InvalidVersion:
                # "===" with text that is no version: the library raises, or not, depending on set
                # iteration order; the gateway answers by text comparison instead.
                return None
        if op == "wheel":
            name, ver, build, tags = parse_wheel_filename(request["filename"])
            return {"ok": True, "result": {"name": name, "version": str(ver), "build": list(build) if build else None,
                                           "tags": sorted(str(t) for t in tags)}}
    except (InvalidVersion, InvalidSpecifier, InvalidWheelFilename, ValueError):
        return {"ok": False}
    raise AssertionError(op)


def generate(r):
    k = r.random()
    if k < 0.25:
        return {"op": "parse", "version": version(r)}
    if k < 0.45:
        small = r.random() < 0.7
        a = version(r, small=small)
        # Some pairs are the same version spelled differently.
        b = r.choice([a.upper(), " " + a, a.replace(".", ".0.", 1), a.replace("0", "00")]) if r.random() < 0.2 else version(r, small=small)
        return {"op": "compare", "a": a, "b": b}
    if k < 0.85:
        return {"op": "contains", "specifier": specifier_set(r), "version": version(r, small=True),
                "prereleases": r.choice([None, None, True, False])}
    return {"op": "wheel", "filename": wheel_name(r)}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--cases", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()

    r = random.Random(args.seed)
    requests, expected = [], []
    while len(requests) < args.cases:
        req = generate(r)
        ref = reference(req)
        if ref is not None:
            requests.append(req)
            expected.append(ref)

    out = subprocess.run([args.tool], input="".join(json.dumps(q) + "\n" for q in requests),
                         capture_output=True, text=True, check=True).stdout.splitlines()
    if len(out) != len(requests):
        print(f"expected {len(requests)} answer lines, got {len(out)}")
        return 1
    failures = 0
    ok_answers = 0
    for req, want, line in zip(requests, expected, out):
        got = json.loads(line)
        same = got.get("ok") == want["ok"] and (not want["ok"] or got.get("result") == want["result"])
        ok_answers += want["ok"]
        if not same:
            failures += 1
            if failures <= 20:
                print("DIFFERENCE", json.dumps(req), "\n  packaging:", json.dumps(want), "\n  tool:     ", line)
    print(f"{len(requests)} cases ({ok_answers} valid, {len(requests) - ok_answers} errors), {failures} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
