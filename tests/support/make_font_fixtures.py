#!/usr/bin/python3
"""Small fixture fonts for the font tests, cut with fontTools from installed fonts.

    make_font_fixtures.py OUTDIR DEJAVU_SANS LIBERATION_SANS DEJAVU_SANS_MONO CFF_OPENTYPE

Writes into OUTDIR, each with a family name of its own:
  SvShortLoca.ttf    "SvFixture Short": a few Latin glyphs of DejaVu Sans with composites
                     (accented letters), short loca, hinting tables kept
  SvBare.ttf         "SvFixture Bare": the same without cvt, fpgm, prep, gasp
  SvRestricted.ttf   "SvFixture Restricted": the same with fsType 2 (restricted licence)
  SvNoSubset.ttf     "SvFixture NoSubset": the same with fsType 0x0100 (no subsetting)
  SvCollection.ttc   two faces: "SvFixture CollA" (from Liberation Sans) and "SvFixture CollB"
                     (from DejaVu Sans Mono)
  SvMixedTT.ttf      "SvFixture Mixed" regular with TrueType outlines (from DejaVu Sans) and
  SvMixedCff.otf     "SvFixture Mixed" bold with CFF outlines (from the CFF OpenType font)
  SvCff.otf          "SvFixture Cff": CFF outlines only
  SvLoop.ttf         "SvFixture Loop": SvShortLoca with the composite glyph of "é" naming itself
                     as its first component (FreeType opens it; its outline never ends)
  SvSymbol.ttf       "SvFixture Symbol": a symbol font as Windows has them: the glyphs of
                     SvShortLoca under the codes U+F020..U+F07E of a (3,0) character map, its only
                     one, and the symbol code page in OS/2
"""
import os
import struct
import sys

from fontTools import subset
from fontTools.ttLib import TTFont
from fontTools.ttLib.tables._c_m_a_p import CmapSubtable
from fontTools.ttLib.ttCollection import TTCollection

TEXT = "AaBbCcEeÉéÈèÊêÄäÖöÜüÅåÇçÑñ 0123456789.,-()?!"


def cut(path, text):
    options = subset.Options()
    options.layout_features = []
    options.hinting = True
    options.notdef_outline = True
    options.name_IDs = ["*"]
    options.drop_tables += ["GSUB", "GPOS", "GDEF", "kern", "FFTM", "MATH"]
    font = TTFont(path)
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=text)
    subsetter.subset(font)
    return font


def rename(font, family, style="Regular"):
    ps = family.replace(" ", "")
    name = font["name"]
    for rec in list(name.names):
        if rec.nameID in (16, 17, 21, 22):
            name.names.remove(rec)
    for rec in name.names:
        if rec.nameID in (1, 4):
            rec.string = family
        elif rec.nameID == 3:
            rec.string = ps + "-Fixture"
        elif rec.nameID == 6:
            rec.string = ps
        elif rec.nameID == 2:
            rec.string = style


def save(font, path):
    font.save(path)
    # Read back: the file must be what the tests expect of it.
    TTFont(path, checkChecksums=2)


def main():
    out, dejavu, liberation, mono, cff = sys.argv[1:6]
    os.makedirs(out, exist_ok=True)

    short = cut(dejavu, TEXT)
    rename(short, "SvFixture Short")
    save(short, os.path.join(out, "SvShortLoca.ttf"))
    assert TTFont(os.path.join(out, "SvShortLoca.ttf"))["head"].indexToLocFormat == 0

    bare = cut(dejavu, TEXT)
    for tag in ("cvt ", "fpgm", "prep", "gasp"):
        if tag in bare:
            del bare[tag]
    rename(bare, "SvFixture Bare")
    save(bare, os.path.join(out, "SvBare.ttf"))

    for file_name, family, fs_type in (("SvRestricted.ttf", "SvFixture Restricted", 0x0002),
                                       ("SvNoSubset.ttf", "SvFixture NoSubset", 0x0100)):
        font = cut(dejavu, TEXT)
        font["OS/2"].fsType = fs_type
        rename(font, family)
        save(font, os.path.join(out, file_name))

    a = cut(liberation, TEXT)
    rename(a, "SvFixture CollA")
    b = cut(mono, TEXT)
    rename(b, "SvFixture CollB")
    collection = TTCollection()
    collection.fonts = [a, b]
    path = os.path.join(out, "SvCollection.ttc")
    collection.save(path)
    TTCollection(path)

    mixed = cut(dejavu, TEXT)
    rename(mixed, "SvFixture Mixed")
    save(mixed, os.path.join(out, "SvMixedTT.ttf"))
    bold = cut(cff, TEXT)
    assert "CFF " in bold and "glyf" not in bold
    rename(bold, "SvFixture Mixed", "Bold")
    bold["OS/2"].usWeightClass = 700
    bold["OS/2"].fsSelection = (bold["OS/2"].fsSelection & ~0x40) | 0x20
    bold["head"].macStyle |= 1
    save(bold, os.path.join(out, "SvMixedCff.otf"))

    cff_only = cut(cff, TEXT)
    rename(cff_only, "SvFixture Cff")
    save(cff_only, os.path.join(out, "SvCff.otf"))

    symbol = cut(dejavu, TEXT)
    best = symbol.getBestCmap()
    table = CmapSubtable.newSubtable(4)
    table.platformID, table.platEncID, table.language = 3, 0, 0
    table.cmap = {0xF000 + code: name for code, name in best.items() if 0x20 <= code <= 0x7E}
    symbol["cmap"].tables = [table]
    symbol["OS/2"].ulCodePageRange1 = 1 << 31
    symbol["OS/2"].ulCodePageRange2 = 0
    rename(symbol, "SvFixture Symbol")
    save(symbol, os.path.join(out, "SvSymbol.ttf"))

    loop = cut(dejavu, TEXT)
    rename(loop, "SvFixture Loop")
    path = os.path.join(out, "SvLoop.ttf")
    save(loop, path)
    font = TTFont(path)
    gid = font.getGlyphID(font.getBestCmap()[ord("é")])
    assert font["glyf"][font.getGlyphName(gid)].isComposite()
    glyf_at = font.reader.tables["glyf"].offset
    loca = font["loca"]
    with open(path, "r+b") as f:
        f.seek(glyf_at + loca[gid] + 12)  # header (10 bytes), then flags, then the glyph index
        f.write(struct.pack(">H", gid))


if __name__ == "__main__":
    main()
