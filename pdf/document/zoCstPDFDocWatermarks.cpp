// Watermark templates and their processor: placement of a stamp in a page box, the anchor of a
// rotated stamp, the image stamp's content and one content stream per distinct page box.
#include <algorithm>
#include <cmath>

#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoPDFFont.h"
#include "platform/CodePage.h"
#include "platform/Fonts.h"

// ---- Templates ----

void TzoCustomWatermarkTemplate::AdjustAnchor(double& x, double& y, double width,
                                              double height) const {
  double c, s;
  CosSinDeg(Angle, c, s);
  // The corners of the stamp relative to its anchor, after the rotation.
  const double cx[4] = {0, width * c, -height * s, width * c - height * s};
  const double cy[4] = {0, width * s, height * c, width * s + height * c};
  // The offset of the point of the stamp that its position puts on the placement point: an
  // edge of its bounding box (position 0 left or top, 2 right or bottom), the centre (1), or
  // the top-left corner (3).
  auto offset = [](uint8_t position, const double(&v)[4], bool topDown) {
    const double low = *std::min_element(v, v + 4), high = *std::max_element(v, v + 4);
    switch (position) {
      case 1:
        return (low + high) / 2;
      case 2:
        return topDown ? low : high;
      case 3:
        return v[2];
      default:
        return topDown ? high : low;
    }
  };
  x -= offset(HorizontalPosition, cx, false);
  y -= offset(VerticalPosition, cy, true);
}

// ---- TzoImageWatermarkTemplate ----

namespace {

constexpr const char* SImageStampWithoutPicture =
    "The image stamp has no picture to take its size from";

// Page-content numbers of the image stamp: fixed notation with `decimals` decimals.
std::string Fixed(double v, int decimals) {
  return FloatToStrFDot(v, ffFixed, 10, decimals);
}

}  // namespace

double TzoImageWatermarkTemplate::WidthInPoints(TzoMeasurementUnit unit) const {
  if (Width != 0) return TzoCustomPDFDocument::ConvertToPoints(unit, Width);
  if (!image_) throw EPDFException(SImageStampWithoutPicture);
  return PixelsToPoints(image_->Width());
}

double TzoImageWatermarkTemplate::HeightInPoints(TzoMeasurementUnit unit) const {
  if (Height != 0) return TzoCustomPDFDocument::ConvertToPoints(unit, Height);
  if (!image_) throw EPDFException(SImageStampWithoutPicture);
  return PixelsToPoints(image_->Height());
}

std::string TzoImageWatermarkTemplate::Render(const std::string& resourceName,
                                              const std::string& gStateName,
                                              TzoMeasurementUnit unit, double x, double y) const {
  const double w = WidthInPoints(unit), h = HeightInPoints(unit);
  AdjustAnchor(x, y, w, h);
  double c, s;
  CosSinDeg(Angle, c, s);
  // Translation, rotation about the anchor, then the picture's size; the rotation keeps four
  // decimals so that the corners of a large picture stay within a hundredth of a point.
  std::string t = "q\r0 g 0 G\r";
  t += "1 0 0 1 " + Fixed(x, 3) + " " + Fixed(y, 3) + " cm\r";
  t += Fixed(c, 4) + " " + Fixed(s, 4) + " " + Fixed(-s, 4) + " " + Fixed(c, 4) + " 0 0 cm\r";
  t += Fixed(w, 3) + " 0 0 " + Fixed(h, 3) + " 0 0 cm\r";
  if (!gStateName.empty()) t += gStateName + " gs \r";
  t += resourceName + " Do\r";
  t += "Q\r\n";
  return t;
}

// ---- TzoTextWatermarkTemplate ----

TzoTextWatermarkTemplate::TzoTextWatermarkTemplate() {
  Font.SetCharset(ui::ANSI_CHARSET);
}

TzoTextWatermarkTemplate::MeasuredFont::MeasuredFont() = default;
TzoTextWatermarkTemplate::MeasuredFont::MeasuredFont(const MeasuredFont&) {}
TzoTextWatermarkTemplate::MeasuredFont& TzoTextWatermarkTemplate::MeasuredFont::operator=(
    const MeasuredFont& other) {
  if (this != &other) {
    std::lock_guard<std::mutex> lock(mutex_);
    font_.reset();
    screen_.reset();
  }
  return *this;
}
TzoTextWatermarkTemplate::MeasuredFont::~MeasuredFont() = default;

void TzoTextWatermarkTemplate::MeasuredFont::Measure(const ui::TFont& font) {
  const uint64_t generation = platform::FontConfigurationGeneration();
  if (font_ && generation == generation_ && font_->Font().SameAs(font)) return;
  font_.reset();
  screen_.reset();
  font_ = std::make_unique<TzoPDFFont>(font, 0, false, false);
  screen_ = ui::CreateFontFace(font);
  generation_ = generation;
}

namespace {

// How the characters of a text stamp reach its font resource.
enum class TextCoding {
  kSimple,  // one byte each in the simple font's encoding (western character sets)
  kGlyphs,  // two-byte glyph ids of a Type0 font with Identity-H (embeddable TrueType)
  kJapan1,  // UTF-16BE codes of a Type0 font with UniJIS-UTF16-H (Japanese, not embedded)
  kAnsi,    // the bytes of the ANSI code page (fonts the library makes no resource for)
};

// One line of the stamp (a column of vertical text) as it is shown.
struct ShownLine {
  std::vector<std::string> codes;  // each character's code: its bytes, or four hex digits
  std::vector<int32_t> widths;     // each character's width in the font resource (1/1000 em)
  std::u16string text;             // the characters the codes stand for
};

std::u16string CharText(char32_t c) {
  if (c < 0x10000) return std::u16string(1, static_cast<char16_t>(c));
  return {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
          static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
}

// The text's lines, split at each line feed (the part after the last one is the last line),
// each as its font resource shows it. Other control characters have no glyph and are left out.
std::vector<ShownLine> ShowLines(std::u16string_view text, TzoPDFFont& font, TextCoding coding,
                                 uint8_t encoding) {
  const bool symbol = font.Font().Charset() == ui::SYMBOL_CHARSET;
  std::vector<ShownLine> lines(1);
  for (size_t i = 0; i < text.size();) {
    const char32_t c = platform::NextCodePoint(text, i);
    if (c == '\n') {
      lines.emplace_back();
      continue;
    }
    if (c < 0x20) continue;
    ShownLine& line = lines.back();
    switch (coding) {
      case TextCoding::kSimple: {
        uint8_t b = '?';
        char32_t shown;
        int32_t width;
        if (symbol) {
          b = SymbolByteCode(c);
          shown = b;
          width = font.Info().Width(b);
        } else {
          SimpleEncodingCode(encoding, c, b);
          shown = SimpleEncodingChar(encoding, b);
          // WinAnsi widths are the font's own table; the Mac encodings' are measured by
          // character.
          width = encoding == 0 ? font.Info().Width(b) : font.CharWidth(shown);
        }
        line.codes.emplace_back(1, static_cast<char>(b));
        line.widths.push_back(width);
        line.text += CharText(shown);
        break;
      }
      case TextCoding::kGlyphs: {
        const std::u16string one = CharText(c);
        std::string hex;
        font.EncodeText(one, font.Font().Charset(), hex);
        const uint16_t glyph = static_cast<uint16_t>(std::stoul(hex, nullptr, 16));
        // Glyph 0 is not listed in the resource's /W: it takes the default width 1000.
        const std::vector<int32_t>& widths = font.GlyphWidths();
        line.widths.push_back(glyph == 0 ? 1000 : glyph < widths.size() ? widths[glyph] : 0);
        line.codes.push_back(std::move(hex));
        line.text += one;
        break;
      }
      case TextCoding::kJapan1: {
        const std::u16string one = CharText(c);
        const char32_t code = font.Japan1Code(c);
        std::string hex;
        for (char16_t unit : CharText(code)) {
          static constexpr char kDigits[] = "0123456789ABCDEF";
          for (int shift = 12; shift >= 0; shift -= 4)
            hex += kDigits[(unit >> shift) & 0xF];
        }
        line.widths.push_back(font.Japan1Width(code));
        line.codes.push_back(std::move(hex));
        line.text += one;
        break;
      }
      case TextCoding::kAnsi: {
        const std::u16string one = CharText(c);
        line.codes.push_back(platform::WideToAnsi(one));
        line.widths.push_back(font.CharWidth(c));
        line.text += one;
        break;
      }
    }
  }
  return lines;
}

// Page-content numbers of the text stamp: fixed notation with `decimals` decimals.
std::string FixedNum(double v, int decimals, int precision = 10) {
  return FloatToStrFDot(v, ffFixed, precision, decimals);
}

}  // namespace

std::string TzoTextWatermarkTemplate::Render(const std::string& resourceName,
                                             const std::string& gStateName,
                                             TzoMeasurementUnit /*unit*/, double x,
                                             double y) const {
  std::lock_guard<std::mutex> lock(measured_.Lock());
  measured_.Measure(Font);
  TzoPDFFont& font = measured_.PDFFont();
  const bool western = font.IsWesternCharset() || Font.Charset() == ui::SYMBOL_CHARSET;
  TextCoding coding = western                              ? TextCoding::kSimple
                      : font.Info().FontKind == fkTrueType ? TextCoding::kGlyphs
                                                           : TextCoding::kAnsi;
  if (coding == TextCoding::kGlyphs &&
      TzoCustomPDFDocument::ShowsThroughJapan1(Font, EmbedMode, Text))
    coding = TextCoding::kJapan1;
  if (coding == TextCoding::kSimple) CheckSimpleFontEncoding(EncodingIndex);
  const std::vector<ShownLine> lines = ShowLines(Text, font, coding, EncodingIndex);
  const double size = Font.Size();

  // The screen's extent: each line's width, and the height that steps the characters of
  // vertical text.
  double height = 0, screenWidth = 0, resourceWidth = 0;
  size_t count = 0;
  for (const ShownLine& line : lines) {
    int32_t w = 0, h = 0;
    GetTextExtent(std::u16string_view(line.text), measured_.ScreenFace(), w, h);
    height = PixelsToPoints(h);
    screenWidth += PixelsToPoints(w);
    for (int32_t cw : line.widths)
      resourceWidth += cw * size / 1000;
    count += line.codes.size();
    if (Vertical) break;  // the height is all vertical text needs
  }
  // The character spacing makes a horizontal line as wide as the screen draws it. Vertical
  // text shows each character on its own: spacing has nothing to act on there.
  double tc = 0;
  if (!Vertical && count > 0 && std::fabs(screenWidth - resourceWidth) >= 0.0001)
    tc = (screenWidth - resourceWidth) / static_cast<double>(count);

  // Where each character goes, in text space from the first line's baseline start: lines one
  // font size apart downwards; vertical text stacked one height apart, its lines (columns) one
  // font size apart leftwards.
  struct Placed {
    double x, y, advance;
  };
  std::vector<std::vector<Placed>> placed(lines.size());
  double minX = 0, maxX = 0, minY = 0, maxY = size;
  for (size_t i = 0; i < lines.size(); ++i) {
    const double lineX = Vertical ? -static_cast<double>(i) * size : 0;
    const double lineY = Vertical ? 0 : -static_cast<double>(i) * size;
    double pen = 0;
    minX = std::min(minX, lineX);
    minY = std::min(minY, lineY);
    for (size_t k = 0; k < lines[i].codes.size(); ++k) {
      const double advance = lines[i].widths[k] * size / 1000 + tc;
      Placed p = Vertical ? Placed{lineX, -static_cast<double>(k) * height, advance}
                          : Placed{pen, lineY, advance};
      pen += advance;
      placed[i].push_back(p);
      minX = std::min({minX, p.x, p.x + advance});
      maxX = std::max({maxX, p.x, p.x + advance});
      minY = std::min(minY, p.y);
    }
  }

  // The box of every character's cell (its advance wide, one font size above its baseline)
  // goes on the placement point; the anchor is the first baseline's start.
  double c, s;
  CosSinDeg(Angle, c, s);
  AdjustAnchor(x, y, maxX - minX, maxY - minY);
  x += -minX * c + minY * s;
  y += -minX * s - minY * c;

  // The rotation as the text matrix writes it; the strokes use the same numbers.
  const double rc = std::round(c * 10000) / 10000, rs = std::round(s * 10000) / 10000;
  auto page = [&](double tx, double ty) {
    return FixedNum(x + tx * rc - ty * rs, 3) + " " + FixedNum(y + tx * rs + ty * rc, 3);
  };

  std::string t = "q\r";
  if (!gStateName.empty()) t += gStateName + " gs\r";
  t += "BT\r";
  t += FixedNum(tc, 8, 18) + " Tc 0 Tw 100 Tz " + std::to_string(Font.Size()) + " TL \r";
  t += ColorToPDFRGB(Font.Color()) + " rg\r";
  t += ColorToPDFRGB(OutlineColor) + " RG\r";
  t += std::to_string(RenderMode) + " Tr\r";
  t += resourceName + " " + std::to_string(Font.Size()) + " Tf\r";
  t += FixedNum(rc, 4) + " " + FixedNum(rs, 4) + " " + FixedNum(-rs, 4) + " " + FixedNum(rc, 4) +
       " " + FixedNum(x, 3) + " " + FixedNum(y, 3) + " Tm";
  auto show = [coding](const std::string& codes) {
    return coding == TextCoding::kGlyphs || coding == TextCoding::kJapan1
               ? "<" + codes + "> Tj"
               : "(" + EscapePDFString(codes) + ") Tj";
  };
  if (Vertical) {
    double lineX = 0, lineY = 0;  // the start of the current text line
    for (size_t i = 0; i < lines.size(); ++i)
      for (size_t k = 0; k < lines[i].codes.size(); ++k) {
        const Placed& p = placed[i][k];
        if (p.x != lineX || p.y != lineY)
          t += "\r" + FloatToStrDot(p.x - lineX) + " " + FloatToStrDot(p.y - lineY) + " Td";
        lineX = p.x;
        lineY = p.y;
        t += "\r" + show(lines[i].codes[k]);
      }
  } else {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) t += "\rT*";
      std::string codes;
      for (const std::string& code : lines[i].codes)
        codes += code;
      if (!codes.empty()) t += "\r" + show(codes);
    }
  }
  t += "\rET\r";

  // Underline and strike-out: one stroke along each line in the font's own sizes (points):
  // across horizontal text `rise` above the baseline; down a column of vertical text
  // `columnShare` of its width plus `beyond` right of its left edge.
  auto strokes = [&](double lineWidth, double rise, double columnShare, double beyond) {
    std::string lineStrokes;
    for (const std::vector<Placed>& line : placed) {
      if (line.empty()) continue;
      if (Vertical) {
        double column = 0;
        for (const Placed& p : line)
          column = std::max(column, p.advance);
        const double lx = line.front().x + column * columnShare + beyond;
        lineStrokes += page(lx, size) + " m " + page(lx, line.back().y) + " l S\r";
      } else {
        const double ly = line.back().y + rise;
        lineStrokes +=
            page(0, ly) + " m " + page(line.back().x + line.back().advance, ly) + " l S\r";
      }
    }
    if (lineStrokes.empty()) return std::string();
    return FloatToStrDot(lineWidth) + " w " + ColorToPDFRGB(Font.Color()) + " RG\r" + lineStrokes;
  };
  const TzoPDFFontInfo& info = font.Info();
  if (Font.Style() & ui::fsUnderline) {
    const double thickness = info.UnderlineSize;
    const double below = std::abs(info.UnderlinePosition) + thickness / 2;
    t += strokes(thickness, -below, 1, below);
  }
  if (Font.Style() & ui::fsStrikeOut) {
    const double thickness = info.StrikeoutSize;
    t += strokes(thickness, std::abs(info.StrikeoutPosition) - thickness / 2, 0.5, 0);
  }
  t += "Q\r\n";
  return t;
}

// ---- TzoCompositeWatermarkTemplate ----

TzoWatermarkTemplate* TzoCompositeWatermarkTemplate::Items(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMsg<rtl::EListError>(SListIndexOutOfBounds, index);
  return Templates[static_cast<size_t>(index)];
}

// ---- TzoWatermarkProcessor ----

TzoWatermarkProcessor::TzoWatermarkProcessor(TzoCustomPDFDocument* document,
                                             TzoMeasurementUnit unit,
                                             const TzoCustomWatermarkTemplate* tmpl)
    : document_(document), template_(tmpl), unit_(unit) {}

int32_t TzoWatermarkProcessor::FindPageBox(const TzoRectD& box) const {
  auto it = std::find_if(pageBoxes_.begin(), pageBoxes_.end(), [&](const TzoPageRect& r) {
    return r.Left == box.X1 && r.Top == box.Y1 && r.Right == box.X2 && r.Bottom == box.Y2;
  });
  return it == pageBoxes_.end() ? -1 : static_cast<int32_t>(it - pageBoxes_.begin());
}

TzoPDFIndirectReference* TzoWatermarkProcessor::ContentRef(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMsg<rtl::EListError>(SListIndexOutOfBounds, index);
  return contentRefs_[static_cast<size_t>(index)].get();
}

void TzoWatermarkProcessor::PlaceInBox(const TzoRectD& box, double& x, double& y) const {
  if (!template_) RaiseMsg<EUnexpectedError>(SUnexpectedError);
  switch (template_->HorizontalPosition) {
    case 1:
      x = box.X1 + (box.X2 - box.X1) / 2;
      break;
    case 2:
      x = box.X2;
      break;
    case 3:
      x = box.X1 + TzoCustomPDFDocument::ConvertToPoints(unit_, template_->X);
      break;
    default:
      x = box.X1;
      break;
  }
  switch (template_->VerticalPosition) {
    case 1:
      y = box.Y1 + (box.Y2 - box.Y1) / 2;
      break;
    case 2:
      y = box.Y1;
      break;
    case 3:
      y = box.Y2 - TzoCustomPDFDocument::ConvertToPoints(unit_, template_->Y);
      break;
    default:
      y = box.Y2;
      break;
  }
}

std::unique_ptr<TzoPDFIndirectObject> TzoWatermarkProcessor::ProcessPage(
    const std::string& resourceName, const std::string& gStateName, int32_t objectNumber,
    int32_t documentNumber, const TzoRectD& box) {
  double x = 0, y = 0;
  PlaceInBox(box, x, y);
  const std::string text = template_->Render(resourceName, gStateName, unit_, x, y);

  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->AddInteger("/Length", static_cast<int32_t>(text.size()));
  auto stream = std::make_unique<TzoPDFStreamObject>(std::move(dict),
                                                     std::make_unique<rtl::TMemoryStream>(text));
  auto content = TzoPDFIndirectObject::CreateReferenced(documentNumber, objectNumber, 0, true,
                                                        std::move(stream));
  // Room in both lists first, so that neither push_back below fails and the two stay aligned;
  // the room doubles, so that a call over many pages takes time in proportion to their number.
  auto room = [](auto& list) {
    if (list.size() == list.capacity()) list.reserve(std::max<size_t>(8, 2 * list.capacity()));
  };
  room(contentRefs_);
  room(pageBoxes_);
  contentRefs_.push_back(CreateReferenceTo(*content));
  pageBoxes_.emplace_back(box.X1, box.Y1, box.X2, box.Y2);
  return content;
}
