// Document settings operations: compression, page transitions, rotation, units, page ranges.
#include "pdf/core/zoConsts.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoUtils.h"
#include "pdf/document/zoCstPDFDoc.h"

void TzoCustomPDFDocument::SetCompression(uint8_t method, uint8_t level) {
  compression_->Enabled = true;
  compression_->Method = method;
  compression_->Level = level;
}

std::unique_ptr<TzoPDFDictObject> TzoCustomPDFDocument::BuildTransition(uint8_t effect,
                                                                        float duration) const {
  auto d = std::make_unique<TzoPDFDictObject>();
  d->AddName("/Type", "/Trans");
  d->AddObject("/D", std::make_unique<TzoPDFRealObject>(duration));
  auto style = [&](std::string_view s) { d->AddName("/S", s); };
  auto name = [&](std::string_view key, std::string_view v) { d->AddName(key, v); };
  switch (effect) {
    case 1:
    case 2:
    case 3:
    case 4:
      style("/Split");
      name("/Dm", effect <= 2 ? "/H" : "/V");
      name("/M", effect % 2 == 1 ? "/I" : "/O");
      break;
    case 5:
    case 6:
      style("/Blinds");
      name("/Dm", effect == 5 ? "/H" : "/V");
      break;
    case 7:
    case 8:
      style("/Box");
      name("/M", effect == 7 ? "/I" : "/O");
      break;
    case 9:
    case 10:
    case 11:
    case 12:
      style("/Wipe");
      d->AddInteger("/Di", (effect - 9) * 90);
      break;
    case 13:
      style("/Dissolve");
      break;
    case 14:
    case 15:
    case 16:
      style("/Glitter");
      d->AddInteger("/Di", effect == 14 ? 0 : effect == 15 ? 270 : 315);
      break;
    default:
      style("/R");
      break;
  }
  return d;
}

void TzoCustomPDFDocument::ApplyTransitions(const std::string& pageRange, uint8_t effect,
                                            float duration) {
  std::vector<int32_t> pages;
  ParsePageRange(pageRange, PageCount(), pages);
  for (int32_t p : pages) {
    TzoPDFDictObject* page = pages_[static_cast<size_t>(p - 1)]->DirectObject()->AsDict();
    page->SetValue("/Dur", std::make_unique<TzoPDFRealObject>(duration));
    page->SetValue("/Trans", BuildTransition(effect, duration));
  }
}

int32_t TzoCustomPDFDocument::GetPageRotation(int32_t pageNumber) {
  if (pageNumber < 1 || pageNumber > PageCount())
    RaiseMsg<EInvalidPageError>(SInvalidPageNumber, pageNumber);
  TzoPDFDictObject* page = pages_[static_cast<size_t>(pageNumber - 1)]->DirectObject()->AsDict();
  TzoPDFObject* rotate = page->GetValue("/Rotate");
  if (!rotate) return 0;
  TzoPDFIntegerObject* value = inputStore_->GetInteger(rotate);
  return value ? value->Value() : 0;
}

double TzoCustomPDFDocument::ConvertToPoints(TzoMeasurementUnit unit, double value) {
  switch (unit) {
    case muPixels:
      return value / ScreenPixelsPerInch() * 72;
    case muPoints:
      return value;
    case muInches:
      return value * 72;
    case muMM:
      return value * 2.83464;
    case muTwips:
      return value * 0.05;
  }
  return value;
}

namespace {

// The items of a comma text: an item ends at a comma or a blank; runs of blanks and one comma
// between items are skipped; a double-quoted part is one item.
std::vector<std::string> CommaItems(std::string_view t) {
  std::vector<std::string> items;
  size_t i = 0;
  auto blank = [](char c) { return static_cast<uint8_t>(c) <= ' '; };
  while (i < t.size() && blank(t[i]))
    ++i;
  while (i < t.size()) {
    std::string item;
    if (t[i] == '"') {
      ++i;
      for (;;) {
        if (i >= t.size()) break;
        if (t[i] == '"') {
          if (i + 1 < t.size() && t[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += t[i++];
      }
    } else {
      while (i < t.size() && t[i] != ',' && !blank(t[i]))
        item += t[i++];
    }
    items.push_back(std::move(item));
    while (i < t.size() && blank(t[i]))
      ++i;
    if (i < t.size() && t[i] == ',') {
      ++i;
      while (i < t.size() && blank(t[i]))
        ++i;
      if (i >= t.size()) items.emplace_back();
    }
  }
  return items;
}

}  // namespace

void TzoCustomPDFDocument::ParsePageRange(const std::string& range, int32_t pageCount,
                                          std::vector<int32_t>& pages) {
  const std::string t = range.empty() ? "1-" + rtl::IntToStr(pageCount) : range;
  std::vector<std::string> items = CommaItems(t);
  if (items.empty()) return;
  std::vector<int32_t> out;
  auto bad = [&](const std::string& what) -> void {
    RaiseMsg<EInvalidPageError>(SInvalidPageRange, what);
  };
  for (const std::string& item : items) {
    size_t dash = item.find('-');
    if (dash != std::string::npos) {
      std::string a = rtl::Trim(item.substr(0, dash));
      std::string b = rtl::Trim(item.substr(dash + 1));
      int32_t start = 1, end = pageCount;
      if (!a.empty() && !rtl::TryStrToInt(a, start)) bad(t);
      if (!b.empty() && !rtl::TryStrToInt(b, end)) bad(t);
      if (start < 1 || start > end) bad(item);
      if (end > pageCount) bad(item);
      for (int32_t p = start; p <= end; ++p)
        out.push_back(p);
    } else {
      int32_t n = 0;
      if (!rtl::TryStrToInt(item, n)) bad(t);
      if (n < 1 || n > pageCount) RaiseMsg<EInvalidPageError>(SInvalidPageNumber, n);
      out.push_back(n);
    }
  }
  // The list's former content is replaced.
  pages = std::move(out);
}
