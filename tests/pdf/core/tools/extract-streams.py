#!/usr/bin/env python3
"""Writes streams of a PDF file as qpdf sees them, for the filter tests: for each stream whose
filters qpdf decodes completely and that has no predictor, N.raw (the stored bytes), N.dec (the
bytes after qpdf's decoding) and N.filter (the filter names, one per line).
Usage: extract-streams.py FILE.pdf OUTDIR [MAX_STREAMS]"""
import base64, json, os, subprocess, sys

def streams(path, level):
    out = subprocess.run(["qpdf", "--json=2", "--json-key=qpdf", "--json-stream-data=inline",
                          "--decode-level=" + level, path, "-"],
                         capture_output=True, check=False).stdout
    try:
        objs = json.loads(out)["qpdf"][1]
    except (ValueError, KeyError, IndexError):
        return {}  # qpdf cannot read the file (a password, damage): nothing to compare
    return {k: v["stream"] for k, v in objs.items() if isinstance(v, dict) and "stream" in v}

def main():
    path, outdir = sys.argv[1], sys.argv[2]
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else 1000000
    raw, dec = streams(path, "none"), streams(path, "generalized")
    n = 0
    for key, s in raw.items():
        f = s["dict"].get("/Filter")
        names = [f] if isinstance(f, str) else f
        if not names or not all(isinstance(x, str) and x.startswith("/") for x in names):
            continue
        if "/DecodeParms" in s["dict"] or "data" not in s:
            continue
        d = dec.get(key)
        if not d or "/Filter" in d["dict"] or "data" not in d:
            continue
        with open(os.path.join(outdir, "%d.raw" % n), "wb") as o:
            o.write(base64.b64decode(s["data"]))
        with open(os.path.join(outdir, "%d.dec" % n), "wb") as o:
            o.write(base64.b64decode(d["data"]))
        with open(os.path.join(outdir, "%d.filter" % n), "w") as o:
            o.write("\n".join(names) + "\n")
        n += 1
        if n >= limit:
            break
    print(n)

main()
