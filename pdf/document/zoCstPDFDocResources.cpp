// Page resources for stamping: image XObjects made from pictures, graphics states with opacity,
// font resources (simple TrueType and Type1 fonts with /Widths, Type0 fonts over a CIDFontType2
// with /W and a ToUnicode CMap; not embedded, embedded whole or as a subset), and the search of
// a page's fonts for one of ours that a stamp can draw with again.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "pdf/core/zoDZLIB.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoPDFFont.h"

namespace {

// Wraps obj as a new indirect object of the document (a number above every number of the file,
// generation 0, one reference), adds it to the input store and returns a reference to it.
std::unique_ptr<TzoPDFIndirectReference> AddNewObject(TzoCustomPDFDocument& doc,
                                                      std::unique_ptr<TzoPDFObject> obj) {
  TzoPDFObjectStore& store = doc.InputStore();
  TzoPDFIndirectObject* added = store.Add(TzoPDFIndirectObject::CreateReferenced(
      doc.DocumentNumber(), store.NextObjectNumber(), 0, true, std::move(obj)));
  return CreateReferenceTo(*added);
}

// A stream length as the writer takes it.
std::unique_ptr<TzoPDFObject> LengthObject(int64_t size) {
  if (size > std::numeric_limits<int32_t>::max()) return std::make_unique<TzoPDFInt64Object>(size);
  return std::make_unique<TzoPDFIntegerObject>(static_cast<int32_t>(size));
}

}  // namespace

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddImageResource(
    const TGraphic& graphic, const std::string& name) {
  // Every picture becomes a plain bitmap first: icons and JPEG pictures are drawn onto a white one.
  TBitmap bitmap;
  if (const auto* b = dynamic_cast<const TBitmap*>(&graphic)) {
    bitmap.Assign(*b);
  } else if (dynamic_cast<const TIcon*>(&graphic) || dynamic_cast<const TJPEGImage*>(&graphic)) {
    bitmap.SetSize(graphic.Width(), graphic.Height());
    graphic.Draw(bitmap, 0, 0);
  } else {
    // TMetafile has no renderer here; other classes are unknown.
    RaiseMsg<EUnsupportedImageError>(SUnsupportedImage, graphic.ClassName());
  }
  // An image of no pixels is no valid XObject.
  if (bitmap.Empty())
    throw EInvalidGraphic(rtl::Format("The picture is empty (%s)", graphic.ClassName()));

  std::unique_ptr<rtl::TMemoryStream> samples = BitmapToRGB(bitmap);
  auto data = std::make_unique<rtl::TMemoryStream>();
  DeflateInto(*samples, *data);
  samples.reset();

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/XObject");
  dict->AddName("/Subtype", "/Image");
  dict->AddName("/Name", name);
  dict->AddInteger("/Width", bitmap.Width());
  dict->AddInteger("/Height", bitmap.Height());
  dict->AddInteger("/BitsPerComponent", 8);
  dict->AddName("/ColorSpace", "/DeviceRGB");
  dict->AddName("/Filter", "/FlateDecode");
  dict->AddObject("/Length", LengthObject(data->Size()));
  return AddNewObject(*this,
                      std::make_unique<TzoPDFStreamObject>(std::move(dict), std::move(data)));
}

std::unique_ptr<rtl::TMemoryStream> TzoCustomPDFDocument::BitmapToRGB(const TBitmap& bitmap) {
  // The bitmap's rows already are R, G, B bytes, top row first, with nothing between them.
  const std::vector<uint8_t>& pixels = bitmap.Pixels();
  auto out = std::make_unique<rtl::TMemoryStream>();
  out->WriteBuffer(pixels.data(), static_cast<int64_t>(pixels.size()));
  return out;
}

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddOpacityState(double strokeOpacity,
                                                                               double fillOpacity) {
  if (strokeOpacity == 100 && fillOpacity == 100) return nullptr;
  // Opacities beyond 0 .. 1 are no valid values; NaN raises in the number text.
  auto fraction = [](double percent) { return FloatToStrDot(std::clamp(percent / 100, 0.0, 1.0)); };
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/CA", fraction(strokeOpacity));
  dict->AddName("/ca", fraction(fillOpacity));
  dict->AddName("/Type", "/ExtGState");
  return AddNewObject(*this, std::move(dict));
}

int64_t TzoCustomPDFDocument::DeflateInto(rtl::TMemoryStream& source, rtl::TStream& dest) {
  const int64_t before = dest.Size();
  TCompressionStream z(clDefault, &dest);
  z.WriteBuffer(source.Memory(), source.Size());
  z.Finish();
  return dest.Size() - before;
}

std::string TzoCustomPDFDocument::FontKey(const ui::TFont& font) {
  // A blank byte is never the second byte of a double-byte character.
  std::string key = font.Name();
  key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
  const bool bold = font.Style() & ui::fsBold, italic = font.Style() & ui::fsItalic;
  if (bold || italic) key += ',';
  if (bold) key += "Bold";
  if (italic) key += "Italic";
  return key;
}

// ---- Font resources ----

namespace {

// The codes 32 .. 255 of MacRomanEncoding and MacExpertEncoding as the characters their glyph
// names stand for (0: no glyph). The small capitals, old-style figures and the like of
// MacExpertEncoding are the private-use characters that fonts give them.
constexpr char16_t kMacRoman[224] = {
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x0000,  // 78
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x0000, 0x00C6, 0x00D8,  // A8
    0x0000, 0x00B1, 0x0000, 0x0000, 0x00A5, 0x00B5, 0x0000, 0x0000,  // B0
    0x0000, 0x0000, 0x0000, 0x00AA, 0x00BA, 0x0000, 0x00E6, 0x00F8,  // B8
    0x00BF, 0x00A1, 0x00AC, 0x0000, 0x0192, 0x0000, 0x0000, 0x00AB,  // C0
    0x00BB, 0x2026, 0x0020, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x0000,  // D0
    0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8
    0x0000, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8
};
constexpr char16_t kMacExpert[224] = {
    0x0020, 0xF721, 0xF6F8, 0xF7A2, 0xF724, 0xF6E4, 0xF726, 0xF7B4,  // 20
    0x207D, 0x207E, 0x2025, 0x2024, 0x002C, 0x002D, 0x002E, 0x2044,  // 28
    0xF730, 0xF731, 0xF732, 0xF733, 0xF734, 0xF735, 0xF736, 0xF737,  // 30
    0xF738, 0xF739, 0x003A, 0x003B, 0x0000, 0xF6DE, 0x0000, 0xF73F,  // 38
    0x0000, 0x0000, 0x0000, 0x0000, 0xF7F0, 0x0000, 0x0000, 0x00BC,  // 40
    0x00BD, 0x00BE, 0x215B, 0x215C, 0x215D, 0x215E, 0x2153, 0x2154,  // 48
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0xFB00, 0xFB01,  // 50
    0xFB02, 0xFB03, 0xFB04, 0x208D, 0x0000, 0x208E, 0xF6F6, 0xF6E5,  // 58
    0xF760, 0xF761, 0xF762, 0xF763, 0xF764, 0xF765, 0xF766, 0xF767,  // 60
    0xF768, 0xF769, 0xF76A, 0xF76B, 0xF76C, 0xF76D, 0xF76E, 0xF76F,  // 68
    0xF770, 0xF771, 0xF772, 0xF773, 0xF774, 0xF775, 0xF776, 0xF777,  // 70
    0xF778, 0xF779, 0xF77A, 0x20A1, 0xF6DC, 0xF6DD, 0xF6FE, 0x0000,  // 78
    0x0000, 0xF6E9, 0xF6E0, 0x0000, 0x0000, 0x0000, 0x0000, 0xF7E1,  // 80
    0xF7E0, 0xF7E2, 0xF7E4, 0xF7E3, 0xF7E5, 0xF7E7, 0xF7E9, 0xF7E8,  // 88
    0xF7EA, 0xF7EB, 0xF7ED, 0xF7EC, 0xF7EE, 0xF7EF, 0xF7F1, 0xF7F3,  // 90
    0xF7F2, 0xF7F4, 0xF7F6, 0xF7F5, 0xF7FA, 0xF7F9, 0xF7FB, 0xF7FC,  // 98
    0x0000, 0x2078, 0x2084, 0x2083, 0x2086, 0x2088, 0x2087, 0xF6FD,  // A0
    0x0000, 0xF6DF, 0x2082, 0x0000, 0xF7A8, 0x0000, 0xF6F5, 0xF6F0,  // A8
    0x2085, 0x0000, 0xF6E1, 0xF6E7, 0xF7FD, 0x0000, 0xF6E3, 0x0000,  // B0
    0x0000, 0xF7FE, 0x0000, 0x2089, 0x2080, 0xF6FF, 0xF7E6, 0xF7F8,  // B8
    0xF7BF, 0x2081, 0xF6F9, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,  // C0
    0x0000, 0xF7B8, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0xF6FA,  // C8
    0x2012, 0xF6E6, 0x0000, 0x0000, 0x0000, 0x0000, 0xF7A1, 0x0000,  // D0
    0xF7FF, 0x0000, 0x00B9, 0x00B2, 0x00B3, 0x2074, 0x2075, 0x2076,  // D8
    0x2077, 0x2079, 0x2070, 0x0000, 0xF6EC, 0xF6F1, 0xF6F3, 0x0000,  // E0
    0x0000, 0xF6ED, 0xF6F2, 0xF6EB, 0x0000, 0x0000, 0x0000, 0x0000,  // E8
    0x0000, 0xF6EE, 0xF6FB, 0xF6F4, 0xF7AF, 0xF6EA, 0x207F, 0xF6EF,  // F0
    0xF6E2, 0xF6E8, 0xF6F7, 0xF6FC, 0x0000, 0x0000, 0x0000, 0x0000,  // F8
};

// The key under which a font dictionary carries the fingerprint of what this library wrote.
constexpr std::string_view kFontKeyEntry = "/ZoFontKey";

// How a font is written, but for its subset tag.
struct FontPlan {
  bool composite = false;
  std::string subtype;          // "/TrueType", "/Type1" or "/Type0"
  std::string baseFont;         // "/" and the font key as a PDF name
  std::string encoding;         // "/WinAnsiEncoding" ... or "/Identity-H"
  std::vector<int32_t> widths;  // the /Widths of 32 .. 255, or the /W entries
  std::string fingerprint;      // the /ZoFontKey name
};

// 64-bit FNV-1a.
class Hash {
 public:
  void Add(std::string_view bytes) {
    for (char c : bytes)
      Byte(static_cast<uint8_t>(c));
    Byte(0);
  }
  void Add(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
      Byte(static_cast<uint8_t>(v >> shift));
  }
  uint64_t Value() const { return h_; }

 private:
  void Byte(uint8_t b) {
    h_ ^= b;
    h_ *= 0x100000001B3ull;
  }
  uint64_t h_ = 0xCBF29CE484222325ull;
};

// The /Widths of codes 32 .. 255 in the encoding: the measured single-byte widths for
// WinAnsiEncoding (code page 1252) and for symbol fonts (their own codes), else the width of
// the character each code of the encoding stands for.
std::vector<int32_t> SimpleWidths(const TzoPDFFont& f, uint8_t encodingIndex) {
  const std::array<int32_t, 224>& measured = f.Info().Widths;
  if (encodingIndex == 0 || f.Font().Charset() == ui::SYMBOL_CHARSET)
    return {measured.begin(), measured.end()};
  const char16_t* table = encodingIndex == 1 ? kMacRoman : kMacExpert;
  std::vector<int32_t> widths(224);
  for (size_t i = 0; i < widths.size(); ++i)
    widths[i] = f.CharWidth(table[i] != 0 ? table[i] : 0xFFFF);  // no character: glyph 0
  return widths;
}

// The /W entries (first, last, width) of the glyphs from 1, runs of equal widths together.
std::vector<int32_t> CIDWidths(const TzoPDFFont& f) {
  const std::vector<int32_t>& glyphs = f.GlyphWidths();
  std::vector<int32_t> w;
  for (size_t g = 1; g < glyphs.size();) {
    size_t last = g;
    while (last + 1 < glyphs.size() && glyphs[last + 1] == glyphs[g])
      ++last;
    w.insert(w.end(), {static_cast<int32_t>(g), static_cast<int32_t>(last), glyphs[g]});
    g = last + 1;
  }
  return w;
}

// What AddFontResource writes for f. A simple font with an encoding other than the first three,
// or a composite one without TrueType data, raises.
FontPlan PlanFont(const TzoPDFFont& f, uint8_t encodingIndex) {
  const ui::TFont& font = f.Font();
  const bool trueType = f.Info().FontKind == fkTrueType;
  FontPlan plan;
  plan.composite = !f.IsWesternCharset() && font.Charset() != ui::SYMBOL_CHARSET;
  plan.baseFont = "/" + PDFNameText(TzoCustomPDFDocument::FontKey(font));
  if (plan.composite) {
    if (!trueType) RaiseMsg<EUnsupportedFontError>(SUnsupportedFont, font.Name());
    plan.subtype = "/Type0";
    plan.encoding = "/Identity-H";
    plan.widths = CIDWidths(f);
  } else {
    if (encodingIndex > 2) {
      const std::string what = encodingIndex < EncodingNames.size()
                                   ? std::string(EncodingNames[encodingIndex])
                                   : std::to_string(encodingIndex);
      throw EUnsupportedFontError(rtl::Format(SInvalidFontEncoding, what));
    }
    plan.subtype = trueType ? "/TrueType" : "/Type1";
    plan.encoding = "/" + std::string(EncodingNames[encodingIndex]);
    plan.widths = SimpleWidths(f, encodingIndex);
  }
  // The fingerprint: what the dictionary says and, for TrueType data, the character map and the
  // glyph advances that the glyph numbers of the text depend on.
  Hash h;
  h.Add("zo font 1");
  h.Add(plan.subtype);
  h.Add(plan.baseFont);
  h.Add(plan.encoding);
  for (int32_t w : plan.widths)
    h.Add(static_cast<uint32_t>(w));
  if (trueType) {
    for (size_t k = 0; k < f.GlyphIds().size(); ++k) {
      h.Add(f.CharCodes()[k]);
      h.Add(f.GlyphIds()[k]);
    }
    for (int32_t w : f.GlyphWidths())
      h.Add(static_cast<uint32_t>(w));
  }
  char text[20];
  std::snprintf(text, sizeof text, "/%016llX", static_cast<unsigned long long>(h.Value()));
  plan.fingerprint = text;
  return plan;
}

enum class FontFileKind { kNone, kWhole, kSubset };

// What is embedded for embedMode, once the text has been encoded: nothing for a font that is not
// TrueType or may not be embedded; the whole font where a subset may not be made or would draw
// nothing of a text that is not blank.
FontFileKind ChooseFontFile(const TzoPDFFont& f, uint8_t embedMode) {
  const TzoPDFFontInfo& info = f.Info();
  if (embedMode == 0 || info.FontKind != fkTrueType || !info.Embeddable) return FontFileKind::kNone;
  if (embedMode == 1 || !info.Subsettable || f.GlyphIds().empty()) return FontFileKind::kWhole;
  bool blank = true, drawn = false;
  for (uint32_t c : f.UsedChars()) {
    blank = blank && c <= 0x20;
    drawn = drawn || f.GlyphOf(c) != 0;
  }
  return !blank && !drawn ? FontFileKind::kWhole : FontFileKind::kSubset;
}

// Six capital letters from the font key and the glyphs of the used characters: two subsets of
// one font with different glyphs get different tags.
std::string SubsetTag(const TzoPDFFont& f, const std::string& baseFont) {
  std::vector<uint16_t> glyphs = {0};
  for (uint32_t c : f.UsedChars())
    glyphs.push_back(f.GlyphOf(c));
  std::sort(glyphs.begin(), glyphs.end());
  glyphs.erase(std::unique(glyphs.begin(), glyphs.end()), glyphs.end());
  Hash h;
  h.Add(baseFont);
  for (uint16_t g : glyphs)
    h.Add(g);
  uint64_t v = h.Value();
  std::string tag;
  for (int i = 0; i < 6; ++i, v /= 26)
    tag += static_cast<char>('A' + v % 26);
  return tag;
}

std::unique_ptr<TzoPDFArrayObject> IntegerArray(const std::vector<int32_t>& values) {
  auto out = std::make_unique<TzoPDFArrayObject>();
  for (int32_t v : values)
    out->AddInteger(v);
  return out;
}

// Whether value (references followed) is the name text.
bool IsName(const TzoPDFObjectStore& store, TzoPDFObject* value, std::string_view text) {
  const TzoPDFObject* v = value ? store.Resolve(value) : nullptr;
  return v && v->AsName() && v->AsName()->Text() == text;
}

// Whether value (references followed) is the integer expected.
bool IsInteger(const TzoPDFObjectStore& store, TzoPDFObject* value, int32_t expected) {
  const TzoPDFObject* v = value ? store.Resolve(value) : nullptr;
  return v && v->AsInteger() && v->AsInteger()->Value() == expected;
}

// Whether value (references followed) is an array of exactly these integers.
bool IsIntegerArray(const TzoPDFObjectStore& store, TzoPDFObject* value,
                    const std::vector<int32_t>& expected) {
  const TzoPDFObject* v = value ? store.Resolve(value) : nullptr;
  const TzoPDFArrayObject* a = v ? v->AsArray() : nullptr;
  if (!a || a->Count() != static_cast<int32_t>(expected.size())) return false;
  for (int32_t i = 0; i < a->Count(); ++i) {
    const TzoPDFObject* e = a->GetItem(i) ? store.Resolve(a->GetItem(i)) : nullptr;
    if (!e || !e->AsInteger() || e->AsInteger()->Value() != expected[static_cast<size_t>(i)])
      return false;
  }
  return true;
}

// Whether dict is a font that AddFontResource made as plan says, without a subset.
bool IsPlannedFont(const TzoPDFObjectStore& store, const TzoPDFDictObject& dict,
                   const FontPlan& plan) {
  if (!IsName(store, dict.GetValue("/Subtype"), plan.subtype) ||
      !IsName(store, dict.GetValue("/BaseFont"), plan.baseFont) ||
      !IsName(store, dict.GetValue("/Encoding"), plan.encoding) ||
      !IsName(store, dict.GetValue(kFontKeyEntry), plan.fingerprint))
    return false;
  if (!plan.composite)
    return IsInteger(store, dict.GetValue("/FirstChar"), 32) &&
           IsInteger(store, dict.GetValue("/LastChar"), 255) &&
           IsIntegerArray(store, dict.GetValue("/Widths"), plan.widths);
  const TzoPDFObject* d = dict.GetValue("/DescendantFonts")
                              ? store.Resolve(dict.GetValue("/DescendantFonts"))
                              : nullptr;
  const TzoPDFArrayObject* descendants = d ? d->AsArray() : nullptr;
  if (!descendants || descendants->Count() != 1 || !descendants->GetItem(0)) return false;
  const TzoPDFObject* c = store.Resolve(descendants->GetItem(0));
  const TzoPDFDictObject* cid = c ? c->AsDict() : nullptr;
  return cid && IsName(store, cid->GetValue("/Subtype"), "/CIDFontType2") &&
         IsName(store, cid->GetValue("/CIDToGIDMap"), "/Identity") &&
         IsIntegerArray(store, cid->GetValue("/W"), plan.widths);
}

}  // namespace

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddFontResource(
    const ui::TFont& font, const std::string& name, const std::string& text, uint8_t encodingIndex,
    uint8_t embedMode) {
  TzoPDFFont f(font, 0, true, false);
  const FontPlan plan = PlanFont(f, encodingIndex);
  // The characters of the text (in the code page of the font's character set) are the ones a
  // subset keeps and the ones the ToUnicode CMap gives for shared glyphs.
  std::string hex;
  if (f.HasGlyphLists()) f.EncodeText(DecodeFontText(text, font.Charset()), font.Charset(), hex);

  // The font data first: bad font data raises before anything is added.
  const FontFileKind kind = ChooseFontFile(f, embedMode);
  std::string fontName = plan.baseFont;
  std::unique_ptr<rtl::TMemoryStream> data;
  if (kind == FontFileKind::kWhole) {
    data = std::make_unique<rtl::TMemoryStream>();
    f.LoadFontData(*data);
  } else if (kind == FontFileKind::kSubset) {
    fontName = "/" + SubsetTag(f, plan.baseFont) + "+" + plan.baseFont.substr(1);
    data = std::make_unique<rtl::TMemoryStream>();
    f.BuildSubset(*data);
  }

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/Font");
  if (plan.composite) {
    dict->AddName("/Subtype", plan.subtype);
    dict->AddName("/Name", name);
    dict->AddName("/BaseFont", fontName);
    dict->AddName("/Encoding", plan.encoding);
    // A font without a character map has no CMap to give.
    if (!f.GlyphIds().empty())
      dict->AddObject("/ToUnicode", AddNewObject(*this, BuildToUnicodeStream(f)));
    auto descendants = std::make_unique<TzoPDFArrayObject>();
    descendants->Add(AddNewObject(*this, BuildCIDFont(f, fontName, data.get())));
    dict->AddObject("/DescendantFonts", std::move(descendants));
  } else {
    dict->AddName("/Subtype", plan.subtype);
    dict->AddName("/BaseFont", fontName);
    dict->AddName("/Name", name);
    dict->AddName("/Encoding", plan.encoding);
    dict->AddInteger("/FirstChar", 32);
    dict->AddInteger("/LastChar", 255);
    dict->AddObject("/Widths", IntegerArray(plan.widths));
    dict->AddObject("/FontDescriptor",
                    AddNewObject(*this, BuildFontDescriptor(f, fontName, data.get())));
  }
  dict->AddName(kFontKeyEntry, plan.fingerprint);
  return AddNewObject(*this, std::move(dict));
}

std::unique_ptr<TzoPDFDictObject> TzoCustomPDFDocument::BuildFontDescriptor(
    const TzoPDFFont& font, const std::string& fontName, rtl::TMemoryStream* fontFile) {
  const TzoPDFFontInfo& info = font.Info();
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddName("/Type", "/FontDescriptor");
  d->AddName("/FontName", fontName);
  d->AddInteger("/Flags", info.Flags);
  d->AddObject("/FontBBox", IntegerArray({info.FontBBox.Left, info.FontBBox.Bottom,
                                          info.FontBBox.Right, info.FontBBox.Top}));
  d->AddReal("/Ascent", info.Ascent);
  d->AddReal("/Descent", info.Descent);
  d->AddReal("/CapHeight", info.CapHeight);
  d->AddInteger("/AvgWidth", info.AvgWidth);
  d->AddInteger("/MaxWidth", info.MaxWidth);
  d->AddInteger("/MissingWidth", info.MaxWidth);
  d->AddInteger("/StemV", info.StemV);
  d->AddInteger("/ItalicAngle", info.ItalicAngle);
  if (fontFile) {
    auto data = std::make_unique<rtl::TMemoryStream>();
    const int64_t length = DeflateInto(*fontFile, *data);
    auto sd = std::make_unique<TzoPDFDictObject>();
    sd->AddObject("/Length1", LengthObject(fontFile->Size()));
    sd->AddObject("/Length", LengthObject(length));
    sd->AddName("/Filter", "/FlateDecode");
    d->AddObject("/FontFile2", AddNewObject(*this, std::make_unique<TzoPDFStreamObject>(
                                                       std::move(sd), std::move(data))));
  }
  return d;
}

std::unique_ptr<TzoPDFDictObject> TzoCustomPDFDocument::BuildCIDFont(const TzoPDFFont& font,
                                                                     const std::string& baseFont,
                                                                     rtl::TMemoryStream* fontFile) {
  std::unique_ptr<TzoPDFIndirectReference> descriptor =
      AddNewObject(*this, BuildFontDescriptor(font, baseFont, fontFile));
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddName("/Type", "/Font");
  d->AddName("/Subtype", "/CIDFontType2");
  d->AddName("/BaseFont", baseFont);
  d->AddObject("/FontDescriptor", std::move(descriptor));
  auto info = std::make_unique<TzoPDFDictObject>();
  info->AddObject("/Registry", std::make_unique<TzoPDFStringObject>("(Adobe)"));
  info->AddObject("/Ordering", std::make_unique<TzoPDFStringObject>("(Identity)"));
  info->AddInteger("/Supplement", 0);
  d->AddObject("/CIDSystemInfo", std::move(info));
  d->AddObject("/W", IntegerArray(CIDWidths(font)));
  d->AddInteger("/DW", 1000);
  d->AddName("/CIDToGIDMap", "/Identity");
  return d;
}

std::unique_ptr<TzoPDFStreamObject> TzoCustomPDFDocument::BuildToUnicodeStream(TzoPDFFont& font) {
  rtl::TMemoryStream cmap;
  font.BuildToUnicodeCMap(cmap);
  auto data = std::make_unique<rtl::TMemoryStream>();
  const int64_t length = DeflateInto(cmap, *data);
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddObject("/Length", LengthObject(length));
  d->AddName("/Filter", "/FlateDecode");
  return std::make_unique<TzoPDFStreamObject>(std::move(d), std::move(data));
}

bool TzoCustomPDFDocument::FindFontResource(const TzoPDFDictObject* fonts, const ui::TFont& font,
                                            std::string& name, uint8_t encodingIndex) {
  TzoPDFFont f(font, 0, true, false);
  const bool composite = !f.IsWesternCharset() && font.Charset() != ui::SYMBOL_CHARSET;
  // A composite font without TrueType data has no resource of ours.
  if (composite && f.Info().FontKind != fkTrueType) return false;
  const FontPlan plan = PlanFont(f, encodingIndex);
  if (!fonts) return false;
  for (int32_t i = 0; i < fonts->Count(); ++i) {
    TzoPDFObject* value = fonts->GetValueAt(i);
    const TzoPDFObject* v = value ? inputStore_->Resolve(value) : nullptr;
    const TzoPDFDictObject* dict = v ? v->AsDict() : nullptr;
    if (!dict || !dict->GetValue("/Subtype")) continue;
    if (IsPlannedFont(*inputStore_, *dict, plan)) {
      name = fonts->GetKeyAt(i)->Text();
      return true;
    }
  }
  return false;
}
