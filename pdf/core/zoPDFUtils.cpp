#include "pdf/core/zoPDFUtils.h"

#include <algorithm>
#include <limits>

#include "pdf/core/zoConsts.h"
#include "pdf/core/zoFilters.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFResStrs.h"
#include "platform/CodePage.h"

int16_t IndexOfStr(std::span<const std::string_view> names, std::string_view s) {
  size_t n = std::min<size_t>(names.size(), std::numeric_limits<int16_t>::max());
  for (size_t i = 0; i < n; ++i)
    if (names[i] == s) return static_cast<int16_t>(i);
  return -1;
}

namespace {

// s.substr(pos, count) that is empty instead of failing past the end.
std::string_view Slice(std::string_view s, size_t pos, size_t count) {
  return pos >= s.size() ? std::string_view() : s.substr(pos, count);
}

bool IsMark(std::string_view s) {
  return s.size() == 4 && (s[0] == 'F' || s[0] == 'f') && (s[1] == 'E' || s[1] == 'e') &&
         (s[2] == 'F' || s[2] == 'f') && (s[3] == 'F' || s[3] == 'f');
}

bool IsTokenSeparator(char c) {
  return c == '\r' || c == '\n' || c == ' ';
}

// The index (1-based) of the last character before pos that counts, clamped to the text.
int64_t LastBefore(std::string_view text, int64_t pos) {
  if (pos < 1) return 0;
  return std::min<int64_t>(pos - 1, static_cast<int64_t>(text.size()));
}

}  // namespace

std::u16string PDFHexToWideString(std::string_view digits) {
  std::string s;
  s.reserve(digits.size());
  for (char c : digits)
    if (!IsPDFWhiteSpace(static_cast<uint8_t>(c))) s += c;

  if (!IsMark(Slice(s, 0, 4))) return platform::AnsiToWide(HexToStr(s));

  std::string_view t = std::string_view(s).substr(4);
  const size_t n = t.size();
  std::u16string out;
  out.reserve(n / 4 + 1);
  size_t i = 0;
  while (i + 1 < n) {
    if (t[i] == '.') {
      out += u'.';
      ++i;
    }
    if (IsMark(Slice(t, i, 4))) i += 4;
    uint8_t hi = 0, lo = 0;
    HexToByte(Slice(t, i, 2), hi);
    HexToByte(Slice(t, i + 2, 2), lo);
    i += 4;
    char16_t unit = static_cast<char16_t>((hi << 8) | lo);
    if (unit == 0) break;
    out += unit;
  }
  return out;
}

void ReadTokenBefore(std::string_view text, int64_t pos, int64_t& startIndex, std::string& token) {
  int64_t i = LastBefore(text, pos);
  while (i >= 1 && IsTokenSeparator(text[static_cast<size_t>(i - 1)]))
    --i;
  int64_t end = i;
  while (i >= 1 && !IsTokenSeparator(text[static_cast<size_t>(i - 1)]))
    --i;
  token.assign(text.substr(static_cast<size_t>(i), static_cast<size_t>(end - i)));
  startIndex = i;
}

void ReadTokensBefore(std::string_view text, int64_t pos, int32_t count, std::string& result) {
  result.clear();
  if (count <= 0) return;
  int64_t i = LastBefore(text, pos);
  while (i >= 1 && IsTokenSeparator(text[static_cast<size_t>(i - 1)]))
    --i;
  int32_t passed = 0;
  while (i >= 1 && passed < count) {
    char c = text[static_cast<size_t>(i - 1)];
    if (IsTokenSeparator(c)) {
      ++passed;
      result += ' ';
    } else {
      result += c;
    }
    --i;
  }
  std::reverse(result.begin(), result.end());
}

namespace {

std::string NewResourceName(std::string_view prefix, const TzoNameInUse& inUse) {
  constexpr int32_t kRange = std::numeric_limits<int32_t>::max();  // numbers 0 .. 2147483646
  auto make = [&](int64_t v) { return std::string(prefix) + rtl::IntToStr(v); };
  int64_t v = 0;
  for (int attempt = 0; attempt < 64; ++attempt) {
    v = Random(kRange);
    std::string name = make(v);
    if (!inUse || !inUse(name)) return name;
  }
  // The numbers drawn keep hitting names in use: count on from the last one.
  for (int32_t step = 0; step < (1 << 20); ++step) {
    v = (v + 1) % kRange;
    std::string name = make(v);
    if (!inUse(name)) return name;
  }
  throw rtl::Exception("No free resource name (" + std::string(prefix) + ")");
}

}  // namespace

std::string NewFontResourceName(const TzoNameInUse& inUse) {
  return NewResourceName("/RVNFnt", inUse);
}
std::string NewImageResourceName(const TzoNameInUse& inUse) {
  return NewResourceName("/RVNImg", inUse);
}
std::string NewGStateResourceName(const TzoNameInUse& inUse) {
  return NewResourceName("/GS", inUse);
}

std::unique_ptr<TzoPDFIndirectReference> CreateReferenceTo(const TzoPDFIndirectObject& obj) {
  return std::make_unique<TzoPDFIndirectReference>(obj.DocumentNumber(), obj.ObjectNumber(),
                                                   obj.Generation());
}

double NumberToDouble(const TzoPDFObject* obj) {
  if (obj) {
    if (const auto* i = obj->AsInteger()) return i->Value();
    if (const auto* r = obj->AsReal()) return r->Value();
  }
  RaiseMsg<EUnexpectedObjectError>(SUnexpectedObject);
}

void ArrayToRect(const TzoPDFArrayObject* arrayObj, TzoRectD& rect) {
  if (!arrayObj) RaiseMsg<EUnexpectedObjectError>(SUnexpectedObject);
  TzoRectD r;
  r.X1 = NumberToDouble(arrayObj->GetItem(0));
  r.Y1 = NumberToDouble(arrayObj->GetItem(1));
  r.X2 = NumberToDouble(arrayObj->GetItem(2));
  r.Y2 = NumberToDouble(arrayObj->GetItem(3));
  rect = r;
}

// ---- Stream filters ----

FilterKind FilterKindOf(std::string_view name) {
  int16_t i = IndexOfStr(FilterNames, name);
  if (i >= 0) return static_cast<FilterKind>(i);
  if (name == "/A85") return fkASCII85;
  RaiseMsg<EUnsupportedFilterError>(SUnsupportedFilter, name);
}

std::vector<FilterKind> GetFilterKinds(const TzoPDFObject* filterValue) {
  std::vector<FilterKind> kinds;
  if (!filterValue || filterValue->IsNull()) return kinds;  // null is as good as no entry
  if (const auto* name = filterValue->AsName()) {
    kinds.push_back(FilterKindOf(name->Text()));
  } else if (const auto* arr = filterValue->AsArray()) {
    kinds.reserve(static_cast<size_t>(arr->Count()));
    for (int32_t i = 0; i < arr->Count(); ++i) {
      const TzoPDFObject* item = arr->GetItem(i);
      const TzoPDFNameObject* itemName = item ? item->AsName() : nullptr;
      if (!itemName) throw rtl::EInvalidCast();
      kinds.push_back(FilterKindOf(itemName->Text()));
    }
  } else {
    RaiseMsg<EUnexpectedFilterObject>(SUnexpectedFilterObject, filterValue->GetTypeName());
  }
  return kinds;
}

namespace {

int32_t EarlyChangeOf(const TzoPDFDictObject* parms) {
  if (parms)
    if (const TzoPDFObject* v = parms->GetValue("/EarlyChange"))
      if (const auto* i = v->AsInteger()) return i->Value() != 0 ? 1 : 0;
  return 1;
}

// Trailing white space is no part of ASCII-encoded data; for every other kind it may be data.
TzoByteSpan TrimTrailingWhiteSpace(TzoByteSpan in) {
  size_t n = in.size();
  while (n > 0 && IsPDFWhiteSpace(in[n - 1]))
    --n;
  return in.first(n);
}

// Decodes in through one filter into out (replacing it; out must not overlap in).
template <class Out>
void DecodeKind(FilterKind kind, TzoByteSpan in, Out& out, const TzoPDFDictObject* parms) {
  switch (kind) {
    case fkASCIIHex: {
      TzoByteSpan data = TrimTrailingWhiteSpace(in);
      bool hasMarker = !data.empty() && data.back() == '>';
      TzoAsciiHexFilter::Decode(data, out, hasMarker);
      return;
    }
    case fkASCII85:
      TzoAscii85Filter::Decode(TrimTrailingWhiteSpace(in), out);
      return;
    case fkFlate:
      TzoFlateFilter::Decode(in, out);
      return;
    case fkRunLength:
      TzoRLEFilter::Decode(in, out);
      return;
    case fkLZW:
      TzoLZWFilter::Decode(in, out, EarlyChangeOf(parms));
      return;
    case fkCCITTFax:
    case fkDCT:
      out.assign(in.begin(), in.end());
      return;
  }
  RaiseMsg<EUnsupportedFilterError>(SUnsupportedFilterKind);
}

// The parameters of filter index of count filters.
const TzoPDFDictObject* ParmsAt(const TzoPDFObject* decodeParms, size_t index) {
  if (!decodeParms) return nullptr;
  if (const auto* d = decodeParms->AsDict()) return d;
  if (const auto* a = decodeParms->AsArray()) {
    const TzoPDFObject* item =
        index <= static_cast<size_t>(INT32_MAX) ? a->GetItem(static_cast<int32_t>(index)) : nullptr;
    return item ? item->AsDict() : nullptr;
  }
  return nullptr;
}

}  // namespace

void DecodeFilterString(FilterKind kind, std::string_view data, std::string& out,
                        const TzoPDFDictObject* decodeParms) {
  if (kind == fkCCITTFax || kind > fkDCT) RaiseMsg<EUnsupportedFilterError>(SUnsupportedFilterKind);
  std::string result;
  DecodeKind(kind, BytesOf(data), result, decodeParms);
  out = std::move(result);
}

std::unique_ptr<rtl::TMemoryStream> DecodeFilterStream(FilterKind kind, rtl::TStream& stream,
                                                       const TzoPDFDictObject* decodeParms) {
  if (kind > fkDCT) RaiseMsg<EUnsupportedFilterError>(SUnsupportedFilterKind);
  std::vector<uint8_t> scratch, out;
  DecodeKind(kind, StreamBytes(stream, scratch), out, decodeParms);
  auto result = std::make_unique<rtl::TMemoryStream>();
  result->Buffer().swap(out);
  // Where the filter classes leave their result.
  bool atEnd = kind == fkASCIIHex || kind == fkASCII85 || kind == fkLZW;
  result->SetPosition(atEnd ? result->Size() : 0);
  return result;
}

std::unique_ptr<rtl::TMemoryStream> DecodeStreamFilters(rtl::TStream& stream,
                                                        const TzoPDFObject* filterValue,
                                                        const TzoPDFObject* decodeParms) {
  std::vector<FilterKind> kinds = GetFilterKinds(filterValue);
  std::vector<uint8_t> scratch;
  TzoByteSpan source = StreamBytes(stream, scratch);
  std::vector<uint8_t> work(source.begin(), source.end());
  scratch.clear();
  scratch.shrink_to_fit();
  std::vector<uint8_t> next;
  for (size_t i = 0; i < kinds.size(); ++i) {
    if (kinds[i] == fkCCITTFax || kinds[i] == fkDCT) continue;
    DecodeKind(kinds[i], TzoByteSpan(work), next, ParmsAt(decodeParms, i));
    work.swap(next);
  }
  auto result = std::make_unique<rtl::TMemoryStream>();
  result->Buffer().swap(work);
  result->SetPosition(0);
  return result;
}
