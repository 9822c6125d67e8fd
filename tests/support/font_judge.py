#!/usr/bin/python3
"""fontTools as the judge of the font tests. Every command prints lines "KEY VALUE...":
numbers separated by blanks, texts as they are (table tags joined by "|").

  cmap FONT [INDEX]              the best Unicode cmap as [[code, glyph id], ...], glyph count
  metrics FONT [INDEX]           head, hhea, OS/2 and post values and every glyph's advance
  subset SUBSET SOURCE CODES     checks a subset against its source: opened with checksum
                                 checking, checkSumAdjustment, a sorted directory with correct
                                 search fields, the same glyph count; the glyphs that must stay
                                 (glyph 0, the glyphs of the characters CODES, a comma list of
                                 code points, and the components of composites among them)
                                 byte-equal to the source's and every other glyph empty; prints
                                 the problems found and the glyphs kept
  face FILE COLLECTION INDEX     checks a standalone face against face INDEX of a collection:
                                 the same tables byte for byte (head but checkSumAdjustment),
                                 checksums and checkSumAdjustment correct
"""
import struct
import sys

from fontTools.ttLib import TTFont


def load(path, index=0, **kw):
    return TTFont(path, fontNumber=int(index), lazy=False, **kw) if path.endswith(".ttc") else \
        TTFont(path, **kw)


def cmd_cmap(path, index=0):
    font = load(path, index)
    best = font.getBestCmap()
    count = font["maxp"].numGlyphs
    pairs = sorted([code, font.getGlyphID(name)] for code, name in best.items())
    pairs = [p for p in pairs if 0 < p[1] < count and p[0] != 0xFFFF]
    return {"numGlyphs": font["maxp"].numGlyphs, "pairs": pairs}


def cmd_metrics(path, index=0):
    font = load(path, index)
    os2, hhea, post, head = font["OS/2"], font["hhea"], font["post"], font["head"]
    order = font.getGlyphOrder()
    return {
        "unitsPerEm": head.unitsPerEm,
        "winAscent": os2.usWinAscent, "winDescent": os2.usWinDescent,
        "xAvgCharWidth": os2.xAvgCharWidth, "weightClass": os2.usWeightClass,
        "fsSelection": os2.fsSelection, "fsType": os2.fsType,
        "strikeoutSize": os2.yStrikeoutSize, "strikeoutPosition": os2.yStrikeoutPosition,
        "panose": [os2.panose.bFamilyType, os2.panose.bSerifStyle, os2.panose.bWeight,
                   os2.panose.bProportion],
        "capHeight": getattr(os2, "sCapHeight", 0) if os2.version >= 2 else 0,
        "familyClass": os2.sFamilyClass, "codePageRange1": getattr(os2, "ulCodePageRange1", 0),
        "advanceWidthMax": hhea.advanceWidthMax, "hheaAscent": hhea.ascent,
        "hheaDescent": hhea.descent, "lineGap": hhea.lineGap,
        "numberOfHMetrics": hhea.numberOfHMetrics,
        "underlinePosition": post.underlinePosition,
        "underlineThickness": post.underlineThickness, "italicAngle": post.italicAngle,
        "isFixedPitch": post.isFixedPitch, "numGlyphs": font["maxp"].numGlyphs,
        "advances": [font["hmtx"][name][0] for name in order],
    }


def whole_file_sum(data):
    data = data + b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def directory_problems(data):
    problems = []
    num_tables, search_range, entry_selector, range_shift = struct.unpack(">HHHH", data[4:12])
    p = 1
    e = 0
    while p * 2 <= num_tables:
        p *= 2
        e += 1
    if (search_range, entry_selector, range_shift) != (p * 16, e, num_tables * 16 - p * 16):
        problems.append("wrong search fields %r for %d tables" %
                        ((search_range, entry_selector, range_shift), num_tables))
    tags = [data[12 + 16 * i:16 + 16 * i] for i in range(num_tables)]
    if tags != sorted(tags):
        problems.append("directory not sorted: %r" % tags)
    if whole_file_sum(data) != 0xB1B0AFBA:
        problems.append("checkSumAdjustment wrong")
    return problems, [t.decode("latin-1") for t in tags]


def raw_glyphs(font):
    glyf = font["glyf"]
    return [glyf.glyphs[name].data if hasattr(glyf.glyphs[name], "data") else None
            for name in font.getGlyphOrder()]


def kept_glyphs(font, codes):
    cmap = font.getBestCmap()
    glyf = font["glyf"]
    names = {font.getGlyphName(0)}
    names.update(cmap[c] for c in codes if c in cmap)
    todo = list(names)
    while todo:
        glyph = glyf[todo.pop()]
        if glyph.isComposite():
            for component in glyph.getComponentNames(glyf):
                if component not in names:
                    names.add(component)
                    todo.append(component)
    return {font.getGlyphID(n) for n in names}


def cmd_subset(subset_path, source_path, codes):
    source = TTFont(source_path, lazy=True)
    keep = kept_glyphs(TTFont(source_path), [int(c) for c in codes.split(",") if c])
    with open(subset_path, "rb") as f:
        data = f.read()
    problems, tags = directory_problems(data)
    try:
        subset = TTFont(subset_path, checkChecksums=2, lazy=True)
        for tag in subset.keys():
            subset[tag]  # decompiles every table
    except Exception as e:  # noqa: BLE001 - any failure is the finding
        return {"problems": problems + ["fontTools cannot open the subset: %r" % e], "tags": tags}
    if subset["maxp"].numGlyphs != source["maxp"].numGlyphs:
        problems.append("glyph count %d, source %d" %
                        (subset["maxp"].numGlyphs, source["maxp"].numGlyphs))
    mine, theirs = raw_glyphs(subset), raw_glyphs(source)
    for gid, (a, b) in enumerate(zip(mine, theirs)):
        if gid in keep:
            if a != b:
                problems.append("glyph %d differs from the source" % gid)
        elif a:
            problems.append("glyph %d is not empty" % gid)
    return {"problems": problems, "tags": tags, "size": len(data), "kept": sorted(keep)}


def cmd_face(face_path, collection_path, index):
    with open(face_path, "rb") as f:
        data = f.read()
    problems, tags = directory_problems(data)
    try:
        face = TTFont(face_path, checkChecksums=2)
    except Exception as e:  # noqa: BLE001
        return {"problems": problems + ["fontTools cannot open the face: %r" % e], "tags": tags}
    original = TTFont(collection_path, fontNumber=int(index))
    if sorted(face.reader.keys()) != sorted(original.reader.keys()):
        problems.append("tables %r, collection face %r" %
                        (sorted(face.reader.keys()), sorted(original.reader.keys())))
    for tag in original.reader.keys():
        a, b = face.reader[tag], original.reader[tag]
        if tag == "head":
            a, b = a[:8] + a[12:], b[:8] + b[12:]
        if a != b:
            problems.append("table %s differs" % tag)
    return {"problems": problems, "tags": tags,
            "family": face["name"].getDebugName(1)}


def emit(key, value):
    if isinstance(value, list) and value and isinstance(value[0], list):
        for item in value:
            emit(key, item)
    elif key == "problems":
        for problem in value:
            print("problem", problem)
    elif key == "tags":
        print("tags", "|".join(value))
    elif isinstance(value, list):
        print(key, " ".join(str(v) for v in value))
    else:
        print(key, value)


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    result = {"cmap": cmd_cmap, "metrics": cmd_metrics, "subset": cmd_subset,
              "face": cmd_face}[cmd](*args)
    for key, value in result.items():
        emit(key, value)


if __name__ == "__main__":
    main()
