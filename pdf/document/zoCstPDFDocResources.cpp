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
#include "platform/CodePage.h"

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

void CheckSimpleFontEncoding(uint8_t index) {
  if (index < kSimpleFontEncodings) return;
  const std::string what =
      index < EncodingNames.size() ? std::string(EncodingNames[index]) : std::to_string(index);
  throw EUnsupportedFontError(rtl::Format(SInvalidFontEncoding, what));
}

namespace {

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
  std::vector<int32_t> widths(224);
  for (size_t i = 0; i < widths.size(); ++i) {
    const char32_t c = SimpleEncodingChar(encodingIndex, static_cast<uint8_t>(i + 32));
    widths[i] = f.CharWidth(c != 0 ? c : 0xFFFF);  // no character: glyph 0
  }
  return widths;
}

// The /W entries (first, last, width) of the glyphs from 1, runs of equal widths together;
// with drawnOnly just the glyphs that EncodeText gave.
std::vector<int32_t> CIDWidths(const TzoPDFFont& f, bool drawnOnly = false) {
  const std::vector<int32_t>& glyphs = f.GlyphWidths();
  std::vector<int32_t> w;
  if (drawnOnly) {
    for (uint16_t g : f.EncodedGlyphs()) {
      if (g >= glyphs.size()) continue;
      const size_t n = w.size();
      if (n >= 3 && w[n - 2] + 1 == g && w[n - 1] == glyphs[g])
        w[n - 2] = g;
      else
        w.insert(w.end(), {static_cast<int32_t>(g), static_cast<int32_t>(g), glyphs[g]});
    }
    return w;
  }
  for (size_t g = 1; g < glyphs.size();) {
    size_t last = g;
    while (last + 1 < glyphs.size() && glyphs[last + 1] == glyphs[g])
      ++last;
    w.insert(w.end(), {static_cast<int32_t>(g), static_cast<int32_t>(last), glyphs[g]});
    g = last + 1;
  }
  return w;
}

// The /W entries of an Adobe-Japan1 font: the CIDs whose width in the font is not the default
// 1000, runs of equal widths together.
std::vector<int32_t> Japan1CIDWidths(const TzoPDFFont& f) {
  const std::vector<int32_t>& widths = f.Japan1Widths();
  std::vector<int32_t> w;
  for (size_t cid = 1; cid < widths.size();) {
    if (widths[cid] < 0 || widths[cid] == 1000) {
      ++cid;
      continue;
    }
    size_t last = cid;
    while (last + 1 < widths.size() && widths[last + 1] == widths[cid])
      ++last;
    w.insert(w.end(), {static_cast<int32_t>(cid), static_cast<int32_t>(last), widths[cid]});
    cid = last + 1;
  }
  return w;
}

// What AddFontResource writes for f; with japan1, a composite font is shown through
// UniJIS-UTF16-H. A simple font with an encoding other than the first three, or a composite
// one without TrueType data, raises.
FontPlan PlanFont(const TzoPDFFont& f, uint8_t encodingIndex, bool japan1 = false) {
  const ui::TFont& font = f.Font();
  const bool trueType = f.Info().FontKind == fkTrueType;
  FontPlan plan;
  plan.composite = !f.IsWesternCharset() && font.Charset() != ui::SYMBOL_CHARSET;
  plan.baseFont = "/" + PDFNameText(TzoCustomPDFDocument::FontKey(font));
  if (plan.composite) {
    if (!trueType) RaiseMsg<EUnsupportedFontError>(SUnsupportedFont, font.Name());
    plan.subtype = "/Type0";
    plan.encoding = japan1 ? "/UniJIS-UTF16-H" : "/Identity-H";
    plan.widths = japan1 ? Japan1CIDWidths(f) : CIDWidths(f);
  } else {
    CheckSimpleFontEncoding(encodingIndex);
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

// The characters of text that the content draws: control characters have no glyph.
std::u16string DrawnCharacters(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text)
    if (c >= 0x20) out += c;
  return out;
}

// The characters whose glyphs a simple font draws for text: each character's code in the
// encoding ("?" where it has none; symbol fonts their own byte codes) read back.
std::u16string ShownCharacters(const TzoPDFFont& f, std::u16string_view text,
                               uint8_t encodingIndex) {
  const bool symbol = f.Font().Charset() == ui::SYMBOL_CHARSET;
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = platform::NextCodePoint(text, i);
    if (c < 0x20) continue;
    if (symbol) {
      out += static_cast<char16_t>(SymbolByteCode(c));
      continue;
    }
    uint8_t b = '?';
    SimpleEncodingCode(encodingIndex, c, b);
    out += static_cast<char16_t>(SimpleEncodingChar(encodingIndex, b));
  }
  return out;
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

// The font resource of a Japanese font that is not embedded: a /Type0 font with /Encoding
// /UniJIS-UTF16-H over a /CIDFontType2 of the collection Adobe-Japan1 whose /W gives the font's
// width of each CID, and a ToUnicode CMap of the characters of text.
std::unique_ptr<TzoPDFIndirectReference> AddJapan1Font(TzoCustomPDFDocument& doc, TzoPDFFont& f,
                                                       const FontPlan& plan,
                                                       const std::string& name,
                                                       std::u16string_view text) {
  // Objects in the order ToUnicode, descriptor, CID font, font.
  rtl::TMemoryStream cmap;
  cmap.WriteString(f.Japan1ToUnicodeCMap(text));
  auto data = std::make_unique<rtl::TMemoryStream>();
  const int64_t length = doc.DeflateInto(cmap, *data);
  auto sd = std::make_unique<TzoPDFDictObject>();
  sd->AddObject("/Length", LengthObject(length));
  sd->AddName("/Filter", "/FlateDecode");
  std::unique_ptr<TzoPDFIndirectReference> toUnicode =
      AddNewObject(doc, std::make_unique<TzoPDFStreamObject>(std::move(sd), std::move(data)));

  std::unique_ptr<TzoPDFIndirectReference> descriptor =
      AddNewObject(doc, doc.BuildFontDescriptor(f, plan.baseFont, nullptr));
  auto cid = std::make_unique<TzoPDFDictObject>();
  cid->AddName("/Type", "/Font");
  cid->AddName("/Subtype", "/CIDFontType2");
  cid->AddName("/BaseFont", plan.baseFont);
  cid->AddObject("/FontDescriptor", std::move(descriptor));
  auto info = std::make_unique<TzoPDFDictObject>();
  info->AddObject("/Registry", std::make_unique<TzoPDFStringObject>("(Adobe)"));
  info->AddObject("/Ordering", std::make_unique<TzoPDFStringObject>("(Japan1)"));
  info->AddInteger("/Supplement", Japan1Supplement());
  cid->AddObject("/CIDSystemInfo", std::move(info));
  cid->AddObject("/W", IntegerArray(plan.widths));
  cid->AddInteger("/DW", 1000);
  auto descendants = std::make_unique<TzoPDFArrayObject>();
  descendants->Add(AddNewObject(doc, std::move(cid)));

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddName("/Type", "/Font");
  dict->AddName("/Subtype", plan.subtype);
  dict->AddName("/Name", name);
  dict->AddName("/BaseFont", plan.baseFont);
  dict->AddName("/Encoding", plan.encoding);
  dict->AddObject("/ToUnicode", std::move(toUnicode));
  dict->AddObject("/DescendantFonts", std::move(descendants));
  dict->AddName(kFontKeyEntry, plan.fingerprint);
  return AddNewObject(doc, std::move(dict));
}

}  // namespace

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddFontResource(
    const ui::TFont& font, const std::string& name, const std::string& text, uint8_t encodingIndex,
    uint8_t embedMode) {
  return AddFontResource(font, name, DecodeFontText(text, font.Charset()), encodingIndex,
                         embedMode);
}

std::unique_ptr<TzoPDFIndirectReference> TzoCustomPDFDocument::AddFontResource(
    const ui::TFont& font, const std::string& name, const std::u16string& text,
    uint8_t encodingIndex, uint8_t embedMode) {
  TzoPDFFont f(font, 0, true, false);
  embedMode = FontEmbedMode(font, embedMode, text);
  const bool japan1 = ShowsThroughJapan1(font, embedMode, text);
  const FontPlan plan = PlanFont(f, encodingIndex, japan1);
  if (japan1) return AddJapan1Font(*this, f, plan, name, text);
  // The characters of the text are the ones a subset keeps and the ones the ToUnicode CMap
  // gives for shared glyphs.
  std::string hex;
  if (f.HasGlyphLists())
    f.EncodeText(plan.composite ? DrawnCharacters(text) : ShownCharacters(f, text, encodingIndex),
                 font.Charset(), hex);

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
    const bool subset = kind == FontFileKind::kSubset;
    if (!f.GlyphIds().empty())
      dict->AddObject("/ToUnicode", AddNewObject(*this, BuildToUnicodeStream(f, subset)));
    auto descendants = std::make_unique<TzoPDFArrayObject>();
    descendants->Add(AddNewObject(*this, BuildCIDFont(f, fontName, data.get(), subset)));
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

uint8_t TzoCustomPDFDocument::FontEmbedMode(const ui::TFont& font, uint8_t embedMode,
                                            std::u16string_view text) {
  const bool western = font.Charset() == ui::ANSI_CHARSET ||
                       (font.Charset() == ui::DEFAULT_CHARSET && platform::kAnsiCodePage == 1252);
  if (embedMode != 0 || western || font.Charset() == ui::SYMBOL_CHARSET) return embedMode;
  return ShowsThroughJapan1(font, 0, text) ? 0 : 2;
}

bool TzoCustomPDFDocument::ShowsThroughJapan1(const ui::TFont& font, uint8_t embedMode,
                                              std::u16string_view text) {
  const bool japanese = font.Charset() == ui::SHIFTJIS_CHARSET ||
                        (font.Charset() == ui::DEFAULT_CHARSET && platform::kAnsiCodePage == 932);
  return embedMode == 0 && japanese && InJapan1(text);
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
    // A font program this document already has from an earlier call serves again.
    Hash h;
    h.Add(std::string_view(reinterpret_cast<const char*>(data->Memory()),
                           static_cast<size_t>(data->Size())));
    h.Add(static_cast<uint32_t>(fontFile->Size()));
    if (auto it = fontPrograms_.find(h.Value()); it != fontPrograms_.end()) {
      const int32_t index = inputStore_->IndexOf(documentNumber_, it->second, 0);
      TzoPDFIndirectObject* known = index >= 0 ? inputStore_->GetItem(index) : nullptr;
      const TzoPDFObject* direct = known ? known->DirectObject() : nullptr;
      const TzoPDFStreamObject* stream = direct ? direct->AsStream() : nullptr;
      rtl::TMemoryStream* held = stream ? stream->Data() : nullptr;
      if (held && held->Size() == data->Size() &&
          std::memcmp(held->Memory(), data->Memory(), static_cast<size_t>(data->Size())) == 0 &&
          IsInteger(*inputStore_, stream->Dict()->GetValue("/Length1"),
                    static_cast<int32_t>(fontFile->Size()))) {
        known->AddRef();
        d->AddObject("/FontFile2", CreateReferenceTo(*known));
        return d;
      }
    }
    auto sd = std::make_unique<TzoPDFDictObject>();
    sd->AddObject("/Length1", LengthObject(fontFile->Size()));
    sd->AddObject("/Length", LengthObject(length));
    sd->AddName("/Filter", "/FlateDecode");
    std::unique_ptr<TzoPDFIndirectReference> ref =
        AddNewObject(*this, std::make_unique<TzoPDFStreamObject>(std::move(sd), std::move(data)));
    fontPrograms_[h.Value()] = ref->ObjectNumber();
    d->AddObject("/FontFile2", std::move(ref));
  }
  return d;
}

std::unique_ptr<TzoPDFDictObject> TzoCustomPDFDocument::BuildCIDFont(const TzoPDFFont& font,
                                                                     const std::string& baseFont,
                                                                     rtl::TMemoryStream* fontFile,
                                                                     bool drawnOnly) {
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
  d->AddObject("/W", IntegerArray(CIDWidths(font, drawnOnly)));
  d->AddInteger("/DW", 1000);
  d->AddName("/CIDToGIDMap", "/Identity");
  return d;
}

std::unique_ptr<TzoPDFStreamObject> TzoCustomPDFDocument::BuildToUnicodeStream(TzoPDFFont& font,
                                                                               bool encodedOnly) {
  rtl::TMemoryStream cmap;
  font.BuildToUnicodeCMap(cmap, encodedOnly);
  auto data = std::make_unique<rtl::TMemoryStream>();
  const int64_t length = DeflateInto(cmap, *data);
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddObject("/Length", LengthObject(length));
  d->AddName("/Filter", "/FlateDecode");
  return std::make_unique<TzoPDFStreamObject>(std::move(d), std::move(data));
}

bool TzoCustomPDFDocument::FindFontResource(const TzoPDFDictObject* fonts, const ui::TFont& font,
                                            std::string& name, uint8_t encodingIndex,
                                            uint8_t embedMode) {
  TzoPDFFont f(font, 0, true, false);
  const bool composite = !f.IsWesternCharset() && font.Charset() != ui::SYMBOL_CHARSET;
  // A composite font without TrueType data has no resource of ours.
  if (composite && f.Info().FontKind != fkTrueType) return false;
  // A font shown through UniJIS-UTF16-H maps only its own text's codes in its ToUnicode CMap.
  if (ShowsThroughJapan1(font, embedMode, u"")) return false;
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
