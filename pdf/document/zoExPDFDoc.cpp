// Formatted text: the tag language read into runs of one font, the runs laid out on lines that
// share a baseline, each run stamped as a text watermark.
#include "pdf/document/zoExPDFDoc.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"

namespace {

constexpr const char* SFormattedTagUnterminated =
    "Formatted text: the tag at character %d has no closing \">\"";
constexpr const char* SFormattedQuoteUnterminated =
    "Formatted text: the quoted value at character %d has no closing quote";
constexpr const char* SFormattedUnknownAttribute =
    "Formatted text: unknown attribute %s in the FONT tag at character %d";
constexpr const char* SFormattedBadSize =
    "Formatted text: SIZE %s at character %d is no whole number of points from 1 to %d";
constexpr const char* SFormattedBadColor =
    "Formatted text: COLOR %s at character %d is neither # and six hexadecimal digits nor a "
    "colour name";
constexpr const char* SFormattedBadCharset = "Formatted text: unknown CHARSET %s at character %d";
constexpr const char* SFormattedEmptyFace = "Formatted text: empty FACE at character %d";

// The largest font size: 16384 pixels per em, what the font layer draws at most.
constexpr int kMaxFontSize = 16384 * 72 / ui::kScreenPixelsPerInch;

struct ColorName {
  std::u16string_view name;
  uint32_t rgb;  // 0xRRGGBB
};
// The sixteen colour names of HTML 4.01.
constexpr std::array<ColorName, 16> kColorNames = {{{u"BLACK", 0x000000},
                                                    {u"SILVER", 0xC0C0C0},
                                                    {u"GRAY", 0x808080},
                                                    {u"WHITE", 0xFFFFFF},
                                                    {u"MAROON", 0x800000},
                                                    {u"RED", 0xFF0000},
                                                    {u"PURPLE", 0x800080},
                                                    {u"FUCHSIA", 0xFF00FF},
                                                    {u"GREEN", 0x008000},
                                                    {u"LIME", 0x00FF00},
                                                    {u"OLIVE", 0x808000},
                                                    {u"YELLOW", 0xFFFF00},
                                                    {u"NAVY", 0x000080},
                                                    {u"BLUE", 0x0000FF},
                                                    {u"TEAL", 0x008080},
                                                    {u"AQUA", 0x00FFFF}}};

struct CharsetName {
  std::u16string_view name;
  ui::TFontCharset charset;
};
constexpr std::array<CharsetName, 19> kCharsetNames = {{
    {u"ANSI_CHARSET", ui::ANSI_CHARSET},
    {u"DEFAULT_CHARSET", ui::DEFAULT_CHARSET},
    {u"SYMBOL_CHARSET", ui::SYMBOL_CHARSET},
    {u"MAC_CHARSET", ui::MAC_CHARSET},
    {u"SHIFTJIS_CHARSET", ui::SHIFTJIS_CHARSET},
    {u"HANGEUL_CHARSET", ui::HANGEUL_CHARSET},
    {u"JOHAB_CHARSET", ui::JOHAB_CHARSET},
    {u"GB2312_CHARSET", ui::GB2312_CHARSET},
    {u"CHINESEBIG5_CHARSET", ui::CHINESEBIG5_CHARSET},
    {u"GREEK_CHARSET", ui::GREEK_CHARSET},
    {u"TURKISH_CHARSET", ui::TURKISH_CHARSET},
    {u"VIETNAMESE_CHARSET", ui::VIETNAMESE_CHARSET},
    {u"HEBREW_CHARSET", ui::HEBREW_CHARSET},
    {u"ARABIC_CHARSET", ui::ARABIC_CHARSET},
    {u"BALTIC_CHARSET", ui::BALTIC_CHARSET},
    {u"RUSSIAN_CHARSET", ui::RUSSIAN_CHARSET},
    {u"THAI_CHARSET", ui::THAI_CHARSET},
    {u"EASTEUROPE_CHARSET", ui::EASTEUROPE_CHARSET},
    {u"OEM_CHARSET", ui::OEM_CHARSET},
}};

template <class E, class... A>
[[noreturn]] void RaiseFmt(const char* format, const A&... args) {
  throw E(rtl::Format(format, args...));
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// ASCII letters in upper case; names of tags and attributes compare so.
std::u16string Upper(std::u16string_view s) {
  std::u16string r(s);
  for (char16_t& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return r;
}

std::string Ansi(std::u16string_view s) {
  return platform::WideToAnsi(s);
}

// One piece of text drawn with one font, on one line.
struct Run {
  std::u16string text;
  ui::TFont font;
  size_t line = 0;
};

// The runs of a formatted text and the font size of each line (the largest of its runs; for a
// line without runs the size of the font in force where it ends).
struct ParsedText {
  std::vector<Run> runs;
  std::vector<int> lineSizes;
};

class FormattedTextParser {
 public:
  explicit FormattedTextParser(std::u16string_view text) : text_(text) {
    ui::TFont base;
    base.SetName("Arial");
    base.SetCharset(ui::ANSI_CHARSET);
    base.SetSize(12);
    base.SetStyle(0);
    base.SetColor(ui::clBlack);
    fonts_.push_back(base);
  }

  ParsedText Parse() {
    while (pos_ < text_.size()) {
      const char16_t c = text_[pos_];
      if (c == u'<') {
        if (!ReadTag()) run_ += text_[pos_++];
      } else if (c == u'\n' ||
                 (c == u'\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\n')) {
        EndLine();
        pos_ += c == u'\r' ? 2 : 1;
      } else {
        run_ += c;
        ++pos_;
      }
    }
    EndLine();
    return std::move(parsed_);
  }

 private:
  enum class Tag { kNone, kStyle, kUnstyle, kFont, kUnfont };

  ui::TFont& Top() { return fonts_.back(); }

  // Ends the current run; a run that continues the one before in the same font joins it.
  void EndRun() {
    if (run_.empty()) return;
    lineSize_ = std::max(lineSize_, Top().Size());
    const size_t line = parsed_.lineSizes.size();
    if (!parsed_.runs.empty() && parsed_.runs.back().line == line &&
        parsed_.runs.back().font.SameAs(Top()))
      parsed_.runs.back().text += run_;
    else
      parsed_.runs.push_back({std::move(run_), Top(), line});
    run_.clear();
  }

  void EndLine() {
    EndRun();
    parsed_.lineSizes.push_back(lineSize_ > 0 ? lineSize_ : Top().Size());
    lineSize_ = 0;
  }

  // The position (1-based) of the tag's "<", for messages.
  int32_t TagPlace() const { return static_cast<int32_t>(tagStart_ + 1); }

  [[noreturn]] void Unterminated() const {
    RaiseFmt<EPDFException>(SFormattedTagUnterminated, TagPlace());
  }

  // Reads the tag at pos_ when it is one of the language's; false (nothing read) otherwise.
  bool ReadTag() {
    size_t end = pos_ + 1;
    while (end < text_.size() && text_[end] != u'>' && !IsBlank(text_[end]))
      ++end;
    const std::u16string name = Upper(text_.substr(pos_ + 1, end - pos_ - 1));
    ui::TFontStyles style = 0;
    Tag tag = Tag::kNone;
    const bool closing = !name.empty() && name[0] == u'/';
    const std::u16string bare = closing ? name.substr(1) : name;
    if (bare == u"B")
      style = ui::fsBold;
    else if (bare == u"I")
      style = ui::fsItalic;
    else if (bare == u"U")
      style = ui::fsUnderline;
    else if (bare == u"STRIKEOUT")
      style = ui::fsStrikeOut;
    if (style)
      tag = closing ? Tag::kUnstyle : Tag::kStyle;
    else if (bare == u"FONT")
      tag = closing ? Tag::kUnfont : Tag::kFont;
    if (tag == Tag::kNone) return false;

    tagStart_ = pos_;
    pos_ = end;
    EndRun();
    switch (tag) {
      case Tag::kStyle:
        SkipToTagEnd();
        Top().SetStyle(Top().Style() | style);
        break;
      case Tag::kUnstyle:
        SkipToTagEnd();
        Top().SetStyle(Top().Style() & ~style);
        break;
      case Tag::kFont: {
        ui::TFont font = Top();
        ReadFontAttributes(font);
        fonts_.push_back(font);
        break;
      }
      case Tag::kUnfont:
        SkipToTagEnd();
        if (fonts_.size() > 1) fonts_.pop_back();
        break;
      case Tag::kNone:
        break;
    }
    return true;
  }

  // Past the ">" that ends the tag.
  void SkipToTagEnd() {
    const size_t close = text_.find(u'>', pos_);
    if (close == std::u16string_view::npos) Unterminated();
    pos_ = close + 1;
  }

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_]))
      ++pos_;
  }

  // The attributes up to the tag's ">", applied to font.
  void ReadFontAttributes(ui::TFont& font) {
    for (;;) {
      while (pos_ < text_.size() && (IsBlank(text_[pos_]) || text_[pos_] == u'"'))
        ++pos_;
      if (pos_ >= text_.size()) Unterminated();
      if (text_[pos_] == u'>') {
        ++pos_;
        return;
      }
      const size_t nameStart = pos_;
      while (pos_ < text_.size() && text_[pos_] != u'=' && text_[pos_] != u'>' &&
             !IsBlank(text_[pos_]))
        ++pos_;
      const std::u16string name = Upper(text_.substr(nameStart, pos_ - nameStart));
      SkipBlanks();
      std::optional<std::u16string> value;
      if (pos_ < text_.size() && text_[pos_] == u'=') {
        ++pos_;
        SkipBlanks();
        value = ReadValue();
      }
      if (name != u"SIZE" && name != u"COLOR" && name != u"FACE" && name != u"CHARSET")
        RaiseFmt<EPDFException>(SFormattedUnknownAttribute, Ansi(name), TagPlace());
      if (value) Apply(font, name, *value);
    }
  }

  // A value "in quotes", or up to a blank, a quote or the tag's ">".
  std::u16string ReadValue() {
    if (pos_ >= text_.size()) Unterminated();
    if (text_[pos_] == u'"') {
      const size_t close = text_.find(u'"', pos_ + 1);
      if (close == std::u16string_view::npos)
        RaiseFmt<EPDFException>(SFormattedQuoteUnterminated, static_cast<int32_t>(pos_ + 1));
      std::u16string v(text_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
      return v;
    }
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != u'>' && text_[pos_] != u'"' &&
           !IsBlank(text_[pos_]))
      ++pos_;
    if (pos_ >= text_.size()) Unterminated();
    return std::u16string(text_.substr(start, pos_ - start));
  }

  void Apply(ui::TFont& font, const std::u16string& name, const std::u16string& value) {
    if (name == u"SIZE") {
      int size = 0;
      const bool digits = !value.empty() && value.size() <= 5 &&
                          std::all_of(value.begin(), value.end(),
                                      [](char16_t c) { return c >= u'0' && c <= u'9'; });
      for (char16_t c : digits ? value : std::u16string())
        size = size * 10 + (c - u'0');
      if (!digits || size < 1 || size > kMaxFontSize)
        RaiseFmt<rtl::EConvertError>(SFormattedBadSize, Ansi(value), TagPlace(), kMaxFontSize);
      font.SetSize(size);
    } else if (name == u"COLOR") {
      std::optional<uint32_t> rgb = ParseColor(value);
      if (!rgb) RaiseFmt<EPDFException>(SFormattedBadColor, Ansi(value), TagPlace());
      // TColor keeps red in its low byte.
      font.SetColor(
          static_cast<ui::TColor>(((*rgb >> 16) & 0xFF) | (*rgb & 0xFF00) | ((*rgb & 0xFF) << 16)));
    } else if (name == u"FACE") {
      if (value.empty()) RaiseFmt<EPDFException>(SFormattedEmptyFace, TagPlace());
      font.SetName(Ansi(value));
    } else {
      const std::u16string upper = Upper(value);
      auto it = std::find_if(kCharsetNames.begin(), kCharsetNames.end(),
                             [&](const CharsetName& n) { return n.name == upper; });
      if (it == kCharsetNames.end())
        RaiseFmt<EPDFException>(SFormattedBadCharset, Ansi(value), TagPlace());
      font.SetCharset(it->charset);
    }
  }

  static std::optional<uint32_t> ParseColor(const std::u16string& value) {
    const std::u16string upper = Upper(value);
    for (const ColorName& n : kColorNames)
      if (n.name == upper) return n.rgb;
    if (value.size() != 7 || value[0] != u'#') return std::nullopt;
    uint32_t rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
      const char16_t c = upper[i];
      const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                        : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                 : -1;
      if (digit < 0) return std::nullopt;
      rgb = rgb << 4 | static_cast<uint32_t>(digit);
    }
    return rgb;
  }

  std::u16string_view text_;
  size_t pos_ = 0;
  size_t tagStart_ = 0;
  std::vector<ui::TFont> fonts_;  // the font stack; its bottom is never removed
  std::u16string run_;
  int lineSize_ = 0;
  ParsedText parsed_;
};

// The properties of a font that decide its font resource: face, bold and italic, character set
// and pitch (size, colour, underline and strike-out are drawn by the content).
ui::TFont FontResourceKey(const ui::TFont& font) {
  ui::TFont key;
  key.SetName(font.Name());
  key.SetCharset(font.Charset());
  key.SetPitch(font.Pitch());
  key.SetStyle(font.Style() & (ui::fsBold | ui::fsItalic));
  key.SetSize(12);
  key.SetColor(ui::clBlack);
  return key;
}

// Western and symbol fonts are named only, as readers draw them with a font of that name or a
// stand-in; the others (glyph ids that only their own font can draw) are embedded as a subset.
uint8_t EmbedModeFor(const ui::TFont& font) {
  const bool simple =
      font.Charset() == ui::SYMBOL_CHARSET || TzoPDFFont(font, 0, false, false).IsWesternCharset();
  return simple ? 0 : 2;
}

// One font resource of a call and the runs' characters it must hold.
struct SharedFont {
  ui::TFont key;   // FontResourceKey
  ui::TFont font;  // the first run's font
  std::u16string characters;
  std::string name;
  std::unique_ptr<TzoPDFIndirectReference> ref;
  uint8_t embedMode = 0;
};

// Sets the document's measurement unit for the drawing and puts it back, however the call ends.
class UnitGuard {
 public:
  UnitGuard(TzoCustomPDFDocument& doc, TzoMeasurementUnit unit)
      : doc_(doc), saved_(doc.MeasurementUnit()) {
    doc_.SetMeasurementUnit(unit);
  }
  ~UnitGuard() { doc_.SetMeasurementUnit(saved_); }
  UnitGuard(const UnitGuard&) = delete;
  UnitGuard& operator=(const UnitGuard&) = delete;

 private:
  TzoCustomPDFDocument& doc_;
  TzoMeasurementUnit saved_;
};

}  // namespace

TzoExPDFDocument::TzoExPDFDocument(ConstructKey key, rtl::TComponent* owner)
    : TzoCustomPDFDocument(key, owner) {}

void TzoExPDFDocument::DrawFormattedText(const std::u16string& text, const std::string& pageRange,
                                         double x, double y) {
  // Everything that can be refused is refused before a page changes.
  const ParsedText parsed = FormattedTextParser(text).Parse();
  std::vector<int32_t> pages;
  ParsePageRange(pageRange, PageCount(), pages);

  // The layout in screen pixels, the unit the text is measured in: the runs of a line one after
  // the other from x, each line's baseline one line size below the top of the line (the
  // previous baseline). A run's cell reaches one font size above its baseline.
  auto toPixels = [this](double v) {
    const TzoMeasurementUnit unit = MeasurementUnit();
    return unit == muPixels ? v : ConvertFromPoints(muPixels, ConvertToPoints(unit, v));
  };
  const double left = toPixels(x);
  double top = toPixels(y);
  struct Placed {
    const Run* run;
    double x, y;
  };
  std::vector<Placed> placed;
  placed.reserve(parsed.runs.size());
  auto run = parsed.runs.begin();
  for (size_t line = 0; line < parsed.lineSizes.size(); ++line) {
    const double baseline = top + PointsToPixels(parsed.lineSizes[line]);
    double pen = left;
    for (; run != parsed.runs.end() && run->line == line; ++run) {
      placed.push_back({&*run, pen, baseline - PointsToPixels(run->font.Size())});
      int32_t width = 0, height = 0;
      GetTextExtent(std::u16string_view(run->text), run->font, width, height);
      pen += width;
    }
    top = baseline;
  }
  if (placed.empty() || pages.empty()) return;

  // One font resource for each distinct font, holding the glyphs of all its runs, made before
  // any page changes. A run with variables, whose characters differ from page to page, gets a
  // font of its own from the stamp (kNoFont).
  constexpr size_t kNoFont = static_cast<size_t>(-1);
  std::vector<SharedFont> fonts;
  std::vector<size_t> fontOf;
  fontOf.reserve(parsed.runs.size());
  for (const Run& run : parsed.runs) {
    if (run.text.find(u"<%") != std::u16string::npos) {
      fontOf.push_back(kNoFont);
      continue;
    }
    const ui::TFont key = FontResourceKey(run.font);
    auto it = std::find_if(fonts.begin(), fonts.end(),
                           [&](const SharedFont& f) { return f.key.SameAs(key); });
    if (it == fonts.end()) it = fonts.insert(fonts.end(), SharedFont{key, run.font, {}, {}, {}, 0});
    it->characters += run.text;
    fontOf.push_back(static_cast<size_t>(it - fonts.begin()));
  }
  std::vector<int32_t> distinct = pages;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  auto inUse = [&](const std::string& name) {
    for (const SharedFont& f : fonts)
      if (f.name == name) return true;
    for (int32_t page : distinct)
      if (PageHasResourceName(page - 1, name)) return true;
    return false;
  };
  for (SharedFont& f : fonts) {
    f.embedMode = EmbedModeFor(f.font);
    f.name = NewFontResourceName(inUse);
    f.ref = AddFontResource(f.font, f.name, f.characters, 0, f.embedMode);
  }

  UnitGuard unit(*this, muPixels);
  TzoTextWatermarkTemplate stamp;
  stamp.RenderMode = 0;
  stamp.Layer = 1;
  stamp.HorizontalPosition = 3;
  stamp.VerticalPosition = 3;
  for (size_t i = 0; i < placed.size(); ++i) {
    const Placed& p = placed[i];
    const size_t f = fontOf[i];  // one placed entry for each run, in order
    stamp.SetFont(p.run->font);
    stamp.EmbedMode = f == kNoFont ? EmbedModeFor(p.run->font) : fonts[f].embedMode;
    stamp.FontResource = f == kNoFont ? nullptr : fonts[f].ref.get();
    stamp.FontResourceName = f == kNoFont ? std::string() : fonts[f].name;
    stamp.Text = p.run->text;
    stamp.X = p.x;
    stamp.Y = p.y;
    InsertWatermark(stamp, pageRange);
  }
}

void TzoExPDFDocument::DrawFormattedTextAllPages(const std::u16string& text, double x, double y) {
  DrawFormattedText(text, "1-" + std::to_string(PageCount()), x, y);
}
