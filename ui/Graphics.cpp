#include "ui/Graphics.h"

#include "platform/CodePage.h"
#include "platform/Fonts.h"

namespace ui {

std::string DefaultFontName() {
  return platform::Utf8ToAnsi("ＭＳ Ｐゴシック");
}

namespace {
int PointsToHeight(int points) {
  return -((points * kScreenPixelsPerInch + 36) / 72);
}
}  // namespace

TFont::TFont()
    : name_(DefaultFontName()),
      height_(PointsToHeight(9)),
      charset_(SHIFTJIS_CHARSET),
      color_(clWindowText),
      style_(0) {}

void TFont::SetName(std::string name) {
  if (name == name_) return;
  name_ = std::move(name);
  Changed();
}

int TFont::Size() const {
  int64_t h = height_ < 0 ? -static_cast<int64_t>(height_) : height_;
  return static_cast<int>((h * 72 + kScreenPixelsPerInch / 2) / kScreenPixelsPerInch);
}

void TFont::SetSize(int points) {
  SetHeight(PointsToHeight(points));
}

void TFont::SetHeight(int height) {
  if (height == height_) return;
  height_ = height;
  Changed();
}

void TFont::SetCharset(TFontCharset charset) {
  if (charset == charset_) return;
  charset_ = charset;
  Changed();
}

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Changed();
}

void TFont::SetStyle(TFontStyles style) {
  if (style == style_) return;
  style_ = style;
  Changed();
}

void TFont::SetPitch(TFontPitch pitch) {
  if (pitch == pitch_) return;
  pitch_ = pitch;
  Changed();
}

void TFont::Assign(const TFont& other) {
  if (SameAs(other)) return;
  name_ = other.name_;
  height_ = other.height_;
  charset_ = other.charset_;
  color_ = other.color_;
  style_ = other.style_;
  pitch_ = other.pitch_;
  Changed();
}

bool TFont::SameAs(const TFont& other) const {
  return name_ == other.name_ && height_ == other.height_ && charset_ == other.charset_ &&
         color_ == other.color_ && style_ == other.style_ && pitch_ == other.pitch_;
}

void TFont::Changed() {
  if (OnChange) OnChange();
}

std::unique_ptr<platform::FontFace> CreateFontFace(const TFont& font) {
  platform::FontRequest request;
  request.family = platform::AnsiToUtf8(font.Name());
  request.height = font.Height();
  request.weight = (font.Style() & fsBold) ? 700 : 400;
  request.italic = (font.Style() & fsItalic) != 0;
  request.charset = font.Charset();
  request.pitch = font.Pitch() == fpFixed      ? platform::FontPitch::kFixed
                  : font.Pitch() == fpVariable ? platform::FontPitch::kVariable
                                               : platform::FontPitch::kDefault;
  return platform::FontFace::Find(request);
}

}  // namespace ui
