#!/usr/bin/env python3
"""Deep comparison of two PDF files through qpdf's JSON, object numbers aside.

Usage: compare_structure.py IN OUT [password-for-in [password-for-out [--ignore-filters]]]

Compares every catalog entry (except /Type, /Pages, /Outlines and /Version) with everything it
references, every entry of every page dictionary (inherited attributes applied), and the outline
tree (titles, nesting, destination pages). References to pages compare as their page numbers;
/Parent and /P links and stream lengths are left out; with --ignore-filters also the streams'
/Filter and /DecodeParms (an output compressed on the way). Prints the first differences; exit 1 when
there are any or either file cannot be read (a judge that cannot judge is no pass)."""
import json
from collections import deque
import subprocess
import sys

class Unreadable(Exception):
    pass


INHERITED = ("/Resources", "/MediaBox", "/CropBox", "/Rotate")
SKIPPED_KEYS = {"/Parent", "/P", "/Length"}
IGNORE_FILTERS = "--ignore-filters" in sys.argv
CATALOG_SKIPPED = {"/Type", "/Pages", "/Outlines", "/Version"}


def load(path, pw):
    cmd = ["qpdf", "--json=2", "--json-key=qpdf", "--json-key=pages", "--json-key=outlines"]
    if pw:
        cmd.append("--password=" + pw)
    cmd.append(path)
    r = subprocess.run(cmd, capture_output=True, timeout=300)
    if r.returncode not in (0, 3):
        raise Unreadable(f"qpdf cannot read {path}: {r.stderr.decode(errors='replace')[:200]}")
    return json.loads(r.stdout)


class Doc:
    def __init__(self, j):
        self.objs = j["qpdf"][1]
        self.pages = {p["object"]: i + 1 for i, p in enumerate(j["pages"])}
        self.page_refs = [p["object"] for p in j["pages"]]
        self.outlines = j.get("outlines", [])
        self.memo = {}
        self.stack = set()

    def raw(self, ref):
        o = self.objs.get("obj:" + ref)
        if o is None:
            return None
        if "stream" in o:
            d = dict(o["stream"].get("dict", {}))
            if d.get("/Type") == "/Metadata" or IGNORE_FILTERS:
                # qpdf's plain copy of an input holds XML metadata uncompressed
                d.pop("/Filter", None)
                d.pop("/DecodeParms", None)
            return {"<stream>": d}
        return o.get("value")

    def canon(self, v):
        if isinstance(v, str) and v.endswith(" R"):
            if v in self.pages:
                return "<page %d>" % self.pages[v]
            if v in self.memo:
                return self.memo[v]
            if v in self.stack:
                return "<cycle>"
            self.stack.add(v)
            c = self.canon(self.raw(v))
            self.stack.discard(v)
            self.memo[v] = c
            return c
        if isinstance(v, dict):
            return {k: self.canon(x) for k, x in sorted(v.items())
                    if k not in SKIPPED_KEYS and x is not None}
        if isinstance(v, list):
            return [self.canon(x) for x in v]
        if isinstance(v, float):
            return round(v, 4)
        if isinstance(v, int) and not isinstance(v, bool):
            return float(v)
        return v

    def catalog(self):
        root = self.objs["trailer"]["value"].get("/Root")
        return self.raw(root) or {}

    def page(self, ref):
        d = dict(self.raw(ref) or {})
        parent = d.get("/Parent")
        seen = set()
        while isinstance(parent, str) and parent not in seen:
            seen.add(parent)
            pd = self.raw(parent) or {}
            for k in INHERITED:
                if k not in d and k in pd:
                    d[k] = pd[k]
            parent = pd.get("/Parent")
        return self.canon(d)

    def outline_tree(self, items):
        # Breadth first: an item met again (an outline loop) stays where it was met first, at the
        # shallowest level, as a reader that breaks loops keeps it.
        root, seen = [], set()
        queue = deque((it, root) for it in items)
        while queue:
            it, holder = queue.popleft()
            if it.get("object") in seen:
                continue
            seen.add(it.get("object"))
            node = [it.get("title"), it.get("destpageposfrom1"), []]
            holder.append(node)
            queue.extend((k, node[2]) for k in it.get("kids", []))
        return root


def first_difference(a, b, path):
    if type(a) != type(b):
        return f"{path}: {str(a)[:80]} -> {str(b)[:80]}"
    if isinstance(a, dict):
        for k in sorted(set(a) | set(b)):
            if k not in b:
                return f"{path}{k} lost"
            if k not in a:
                return f"{path}{k} added"
            d = first_difference(a[k], b[k], path + k)
            if d:
                return d
        return None
    if isinstance(a, list):
        if len(a) != len(b):
            return f"{path}: {len(a)} elements -> {len(b)}"
        for i, (x, y) in enumerate(zip(a, b)):
            d = first_difference(x, y, f"{path}[{i}]")
            if d:
                return d
        return None
    return None if a == b else f"{path}: {str(a)[:80]} -> {str(b)[:80]}"


def main():
    try:
        a = Doc(load(sys.argv[1], sys.argv[3] if len(sys.argv) > 3 else ""))
    except Unreadable as e:
        print(e)
        sys.exit(1)
    try:
        b = Doc(load(sys.argv[2], sys.argv[4] if len(sys.argv) > 4 else ""))
    except Unreadable as e:
        print(e)
        sys.exit(1)
    diffs = []
    ca, cb = a.catalog(), b.catalog()
    for k in sorted(set(ca) - CATALOG_SKIPPED):
        if k not in cb:
            diffs.append(f"catalog {k} lost")
            continue
        d = first_difference(a.canon(ca[k]), b.canon(cb[k]), "catalog " + k)
        if d:
            diffs.append(d)
    if len(a.page_refs) != len(b.page_refs):
        diffs.append(f"pages {len(a.page_refs)} -> {len(b.page_refs)}")
    else:
        for i, (x, y) in enumerate(zip(a.page_refs, b.page_refs)):
            d = first_difference(a.page(x), b.page(y), f"page {i + 1} ")
            if d:
                diffs.append(d)
                break
    ta, tb = a.outline_tree(a.outlines), b.outline_tree(b.outlines)
    if ta != tb:
        diffs.append(first_difference(ta, tb, "outlines") or "outlines differ")
    print("; ".join(diffs[:4]))
    sys.exit(1 if diffs else 0)


if __name__ == "__main__":
    main()
