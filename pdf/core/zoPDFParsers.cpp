#include "pdf/core/zoPDFParsers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"

namespace {

// ---- Byte classes ----

enum : uint8_t {
  kWhite = 1,       // NUL HT LF CR SP
  kTokenDelim = 2,  // white space and ( ) / < > [ ]
  kNameDelim = 4,   // HT LF CR SP and ( ) / < > [ ] (NUL is a regular byte here)
};

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> t{};
  for (int b : {0, 9, 10, 13, 32})
    t[b] |= kWhite | kTokenDelim;
  for (int b : {9, 10, 13, 32})
    t[b] |= kNameDelim;
  for (int b : {'(', ')', '/', '<', '>', '[', ']'})
    t[b] |= kTokenDelim | kNameDelim;
  return t;
}
constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

inline bool Is(int b, uint8_t cls) {
  return (kClasses[static_cast<uint8_t>(b)] & cls) != 0;
}

// What a read error names as the byte found.
std::string Found(int b) {
  return b < 0 ? std::string("end of data") : std::string(1, static_cast<char>(b));
}

// ---- Cursor ----

// The reading position of one short step of the reader. Over a plain memory stream it works on
// the memory itself and writes the position back when it goes; over any other stream it goes
// through the filter's byte operations. A cursor must be gone before the reader moves by other
// means (a nested read).
class Cursor {
 public:
  Cursor(rtl::TMemoryStream* mem, TzoRandomAccessFilter& filter) : mem_(mem), filter_(filter) {
    if (mem_) {
      data_ = mem_->Buffer().data();
      size_ = static_cast<int64_t>(mem_->Buffer().size());
      pos_ = mem_->CurrentPosition();
    }
  }
  ~Cursor() {
    if (mem_) mem_->SetCurrentPosition(pos_);
  }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  bool Fast() const { return mem_ != nullptr; }

  // The byte at the position, -1 at the end.
  int Peek() {
    if (mem_) return pos_ < size_ ? data_[pos_] : -1;
    return filter_.AtEnd() ? -1 : filter_.PeekByte();
  }
  // The byte ahead bytes after the position, -1 beyond the end.
  int PeekAt(int64_t ahead) {
    if (mem_) return pos_ + ahead < size_ ? data_[pos_ + ahead] : -1;
    int64_t p = filter_.Position();
    filter_.Skip(ahead);
    int b = Peek();
    filter_.SetPosition(p);
    return b;
  }
  void Next() {
    if (mem_)
      ++pos_;
    else
      filter_.Skip(1);
  }
  void Advance(int64_t n) {
    if (mem_)
      pos_ += n;
    else
      filter_.Skip(n);
  }
  int64_t Pos() { return mem_ ? pos_ : filter_.Position(); }
  void Seek(int64_t p) {
    if (mem_)
      pos_ = p;
    else
      filter_.SetPosition(p);
  }
  int64_t Size() { return mem_ ? size_ : filter_.Size(); }
  // True when the bytes at the position are s (nothing moves).
  bool Matches(std::string_view s) {
    if (mem_)
      return size_ - pos_ >= static_cast<int64_t>(s.size()) &&
             std::memcmp(data_ + pos_, s.data(), s.size()) == 0;
    std::string got;
    filter_.PeekString(static_cast<int64_t>(s.size()), got);
    return got == s;
  }
  // Count bytes from the position into out (fewer at the end); the position moves past them.
  void Copy(int64_t count, void* out) {
    if (mem_) {
      std::memcpy(out, data_ + pos_, static_cast<size_t>(count));
      pos_ += count;
      return;
    }
    filter_.ReadBuffer(out, count);
  }
  // The memory of a fast cursor.
  const uint8_t* Data() const { return data_; }

  void SkipWhite() {
    if (mem_) {
      int64_t p = pos_;
      while (p < size_) {
        uint8_t b = data_[p];
        if (Is(b, kWhite)) {
          ++p;
        } else if (b == '%') {
          ++p;
          while (p < size_ && data_[p] != '\n' && data_[p] != '\r')
            ++p;
        } else {
          break;
        }
      }
      pos_ = p;
      return;
    }
    for (;;) {
      int b = Peek();
      if (b < 0) return;
      if (Is(b, kWhite)) {
        Next();
      } else if (b == '%') {
        Next();
        while ((b = Peek()) >= 0 && b != '\n' && b != '\r')
          Next();
      } else {
        return;
      }
    }
  }

  // The next byte unconditionally, then every byte up to a token delimiter.
  void ScanToken(std::string& out) {
    out.clear();
    if (mem_) {
      if (pos_ >= size_) return;
      int64_t start = pos_++;
      while (pos_ < size_ && !Is(data_[pos_], kTokenDelim))
        ++pos_;
      out.assign(reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(pos_ - start));
      return;
    }
    int b = Peek();
    if (b < 0) return;
    out += static_cast<char>(b);
    Next();
    while ((b = Peek()) >= 0 && !Is(b, kTokenDelim)) {
      out += static_cast<char>(b);
      Next();
    }
  }

  // ScanToken, the token lent as a view: of the memory for a fast cursor (valid while the source
  // is not changed), else of storage.
  std::string_view ScanTokenView(std::string& storage) {
    if (mem_) {
      if (pos_ >= size_) return {};
      int64_t start = pos_++;
      while (pos_ < size_ && !Is(data_[pos_], kTokenDelim))
        ++pos_;
      return {reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(pos_ - start)};
    }
    ScanToken(storage);
    return storage;
  }

  // For a fast cursor: the bytes up to the next backslash or end delimiter of a string ("(" and
  // ")" for a literal one, ">" for a hex one) appended to out in one go. Nothing otherwise.
  void AppendStringRun(std::string& out, bool hex) {
    if (!mem_) return;
    int64_t p = pos_;
    if (hex) {
      while (p < size_ && data_[p] != '>' && data_[p] != '\\')
        ++p;
    } else {
      while (p < size_ && data_[p] != '(' && data_[p] != ')' && data_[p] != '\\')
        ++p;
    }
    out.append(reinterpret_cast<const char*>(data_ + pos_), static_cast<size_t>(p - pos_));
    pos_ = p;
  }

  // The cursor standing behind a name's "/": out := "/" and ScanNameBytes, made in one go over
  // memory.
  int ScanName(std::string& out) {
    if (mem_) {
      const int64_t start = pos_ - 1;
      while (pos_ < size_ && !Is(data_[pos_], kNameDelim))
        ++pos_;
      out.assign(reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(pos_ - start));
      return pos_ < size_ ? data_[pos_] : -1;
    }
    out = "/";
    return ScanNameBytes(out);
  }

  // Bytes up to a name delimiter (or the end) appended to out; returns the byte that stopped the
  // scan (-1 at the end), not taken.
  int ScanNameBytes(std::string& out) {
    if (mem_) {
      if (pos_ >= size_) return -1;
      int64_t start = pos_;
      while (pos_ < size_ && !Is(data_[pos_], kNameDelim))
        ++pos_;
      out.append(reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(pos_ - start));
      return pos_ < size_ ? data_[pos_] : -1;
    }
    int b;
    while ((b = Peek()) >= 0 && !Is(b, kNameDelim)) {
      out += static_cast<char>(b);
      Next();
    }
    return b;
  }

 private:
  rtl::TMemoryStream* mem_;
  TzoRandomAccessFilter& filter_;
  const uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t pos_ = 0;
};

// One more level of nesting while it lives.
class LevelGuard {
 public:
  LevelGuard(int32_t& depth, int32_t* containers) : depth_(depth), containers_(containers) {
    ++depth_;
    if (containers_) ++*containers_;
  }
  ~LevelGuard() {
    --depth_;
    if (containers_) --*containers_;
  }
  LevelGuard(const LevelGuard&) = delete;
  LevelGuard& operator=(const LevelGuard&) = delete;

 private:
  int32_t& depth_;
  int32_t* containers_;
};

// The elements a container pushes while it is read; whatever is left of them goes when it does.
template <class T>
class PendingScope {
 public:
  explicit PendingScope(std::vector<T>& pending) : pending_(pending), start_(pending.size()) {}
  ~PendingScope() { pending_.resize(start_); }
  PendingScope(const PendingScope&) = delete;
  PendingScope& operator=(const PendingScope&) = delete;

  size_t Start() const { return start_; }
  int32_t Count() const { return static_cast<int32_t>(pending_.size() - start_); }

 private:
  std::vector<T>& pending_;
  size_t start_;
};

// A decimal integer with an optional sign; false when text is anything else or beyond 64 bits.
bool ParseDecimal(std::string_view text, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

// A number of an object header or reference: rtl::StrToInt of text, with plain decimal digits
// (the usual case) read here.
int32_t ObjectNumberOf(std::string_view text) {
  if (!text.empty() && text.size() <= 9) {
    int32_t v = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
      v = v * 10 + (text[i] - '0');
    if (i == text.size()) return v;
  }
  return rtl::StrToInt(text);
}

// The byte length of one end of line (CR LF, LF or CR) that ends data[0 .. end), 0 when none.
int64_t EndOfLineBefore(const std::string& data, int64_t end) {
  if (end >= 1 && data[static_cast<size_t>(end - 1)] == '\n')
    return end >= 2 && data[static_cast<size_t>(end - 2)] == '\r' ? 2 : 1;
  if (end >= 1 && data[static_cast<size_t>(end - 1)] == '\r') return 1;
  return 0;
}

// Position of the last occurrence of word in buf that stands between word delimiters (or the ends
// of the buffer); -1 when there is none.
int64_t LastWholeWord(const uint8_t* buf, int64_t size, std::string_view word) {
  if (!buf || size <= 0) return -1;
  std::string_view text(reinterpret_cast<const char*>(buf), static_cast<size_t>(size));
  size_t from = std::string_view::npos;
  for (;;) {
    size_t at = text.rfind(word, from);
    if (at == std::string_view::npos) return -1;
    size_t end = at + word.size();
    bool before = at == 0 || IsWordDelimiter(buf[at - 1]);
    bool after = end >= text.size() || IsWordDelimiter(buf[end]);
    if (before && after) return static_cast<int64_t>(at);
    if (at == 0) return -1;
    from = at - 1;
  }
}

}  // namespace

#define ZO_CURSOR(c) Cursor c(FastMemory(), *this)

TzoPDFStreamReader::TzoPDFStreamReader(int32_t documentNumber, rtl::TStream* source)
    : TzoRandomAccessFilter(source), documentNumber_(documentNumber) {}

void TzoPDFStreamReader::SetCurrentObject(int32_t objectNumber, int32_t generation) {
  currentObjectNumber_ = objectNumber;
  currentGeneration_ = generation;
}

void TzoPDFStreamReader::SetCharge(int64_t step, std::function<void(int64_t)> charge) {
  chargeStep_ = charge ? std::max<int64_t>(step, 1) : std::numeric_limits<int64_t>::max();
  charge_ = std::move(charge);
}

void TzoPDFStreamReader::ChargeMade() {
  const int64_t made = made_;
  made_ = 0;
  if (charge_ && made > 0) charge_(made);
}

void TzoPDFStreamReader::BeginValue() {
  if (depth_ == 0) SetCurrentObject(-1, -1);
}

void TzoPDFStreamReader::SkipWhiteSpace() {
  ZO_CURSOR(c);
  c.SkipWhite();
}

bool TzoPDFStreamReader::AtEndOfLine() {
  ZO_CURSOR(c);
  int b = c.Peek();
  return b == '\n' || b == '\r';
}

std::string TzoPDFStreamReader::ReadToken() {
  ZO_CURSOR(c);
  std::string t;
  c.ScanToken(t);
  c.SkipWhite();
  return t;
}

std::string TzoPDFStreamReader::PeekToken() {
  ZO_CURSOR(c);
  c.SkipWhite();
  int64_t p = c.Pos();
  std::string t;
  c.ScanNameBytes(t);
  c.Seek(p);
  return t;
}

std::unique_ptr<TzoPDFObject> TzoPDFStreamReader::ReadObject() {
  BeginValue();
  int b, b2;
  {
    ZO_CURSOR(c);
    c.SkipWhite();
    b = c.Peek();
    b2 = b == '<' ? c.PeekAt(1) : -1;
  }
  switch (b) {
    case '[':
      return ReadArray();
    case '/':
      return ReadName();
    case '(':
      return ReadStringObject();
    case '<':
      if (b2 == '<') return ReadDictionary();
      return ReadStringObject();
    case 't':
    case 'f':
    case 'n': {
      const std::string_view word = b == 't' ? "true" : b == 'f' ? "false" : "null";
      ZO_CURSOR(c);
      if (!c.Matches(word)) {
        if (b == 'n') RaiseMsg<ENullObjectError>(SExpectedNull);
        RaiseMsg<EBooleanError>(SExpectedBoolean, word);
      }
      c.Advance(static_cast<int64_t>(word.size()));
      Made(0);
      if (b == 'n') return std::make_unique<TzoPDFNullObject>();
      return std::make_unique<TzoPDFBooleanObject>(b == 't');
    }
    case ')':
    case '>':
    case ']':
    case '}':
      return nullptr;
    default:
      return ReadNumberOrObject();
  }
}

std::unique_ptr<TzoPDFObject> TzoPDFStreamReader::ReadNumberOrObject() {
  std::string s1, s2, s3;  // the tokens, when the source is not plain memory
  std::string_view t1, t2, t3;
  bool reference = false, header = false;
  {
    ZO_CURSOR(c);
    t1 = c.ScanTokenView(s1);
    c.SkipWhite();
    const int64_t afterT1 = c.Pos();
    t2 = c.ScanTokenView(s2);
    c.SkipWhite();
    t3 = c.ScanTokenView(s3);
    reference = t3 == "R";
    header = !reference && t3.size() == 3 && (t3[0] | 0x20) == 'o' && rtl::SameText(t3, "obj");
    if (reference || header)
      c.SkipWhite();
    else
      c.Seek(afterT1);
  }
  if (reference || header) {
    int32_t objectNumber = ObjectNumberOf(t1);
    auto generation = static_cast<uint16_t>(ObjectNumberOf(t2));
    if (reference) {
      Made(0);
      return std::make_unique<TzoPDFIndirectReference>(documentNumber_, objectNumber, generation);
    }
    return ReadIndirect(objectNumber, generation);
  }
  Made(static_cast<int64_t>(t1.size()));
  if (t1.find('.') != std::string_view::npos) {
    double v;
    if (TryStrToFloatDot(t1, v)) return std::make_unique<TzoPDFRealObject>(v);
    return std::make_unique<TzoPDFStringObject>(std::string(t1));
  }
  int64_t v;
  if (!ParseDecimal(t1, v)) throw rtl::Exception(FmtLoadMessage(SInvalidInteger, std::string(t1)));
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
    return std::make_unique<TzoPDFIntegerObject>(static_cast<int32_t>(v));
  return std::make_unique<TzoPDFInt64Object>(v);
}

std::unique_ptr<TzoPDFObject> TzoPDFStreamReader::ReadIndirect(int32_t objectNumber,
                                                               int32_t generation) {
  if (depth_ >= MaxDepth) RaiseMsg<EDictionaryReadError>(SDictionaryReadError, "obj");
  LevelGuard level(depth_, nullptr);
  SetCurrentObject(objectNumber, generation);
  std::unique_ptr<TzoPDFObject> inner = ReadObject();
  Made(0);
  const auto gen = static_cast<uint16_t>(generation);
  bool isStream;
  {
    // PeekToken() == "stream", without making the token.
    ZO_CURSOR(c);
    c.SkipWhite();
    const bool word = c.Matches("stream");
    const int after = word ? c.PeekAt(6) : 0;
    isStream = word && (after < 0 || Is(after, kNameDelim));
  }
  if (isStream) {
    std::unique_ptr<TzoPDFDictObject> dict = TakeAs<TzoPDFDictObject>(inner);
    if (!dict) throw rtl::EInvalidCast();
    return std::make_unique<TzoPDFIndirectObject>(
        documentNumber_, objectNumber, gen, std::make_unique<TzoPDFStreamObject>(std::move(dict)));
  }
  return std::make_unique<TzoPDFIndirectObject>(documentNumber_, objectNumber, gen,
                                                std::move(inner));
}

std::unique_ptr<TzoPDFArrayObject> TzoPDFStreamReader::ReadArray() {
  BeginValue();
  {
    ZO_CURSOR(c);
    c.SkipWhite();
    int b = c.Peek();
    if (b != '[') RaiseMsg<EArrayReadError>(SArrayReadError, Found(b));
    if (depth_ >= MaxDepth) RaiseMsg<EArrayReadError>(SArrayReadError, "[");
    c.Next();
  }
  LevelGuard level(depth_, &containerDepth_);
  PendingScope items(pending_);
  for (;;) {
    {
      ZO_CURSOR(c);
      c.SkipWhite();
      int b = c.Peek();
      if (b == ']') {
        c.Next();
        break;
      }
      if (b < 0) RaiseMsg<EArrayReadError>(SArrayReadError, Found(b));
    }
    std::unique_ptr<TzoPDFObject> item = ReadObject();
    if (!item) {
      ZO_CURSOR(c);
      RaiseMsg<EArrayReadError>(SArrayReadError, Found(c.Peek()));
    }
    pending_.push_back(std::move(item));
  }
  Made(int64_t{items.Count()} * static_cast<int64_t>(sizeof(void*)));
  auto array = std::make_unique<TzoPDFArrayObject>();
  array->Reserve(items.Count());
  for (size_t i = items.Start(); i < pending_.size(); ++i)
    array->Add(std::move(pending_[i]));
  return array;
}

std::unique_ptr<TzoPDFNameObject> TzoPDFStreamReader::ReadName() {
  std::string text = ReadNameText();
  Made(static_cast<int64_t>(text.size()));
  return std::make_unique<TzoPDFNameObject>(std::move(text));
}

std::string TzoPDFStreamReader::ReadNameText() {
  ZO_CURSOR(c);
  c.SkipWhite();
  int b = c.Peek();
  if (b != '/') RaiseMsg<ENameReadError>(SNameReadError, Found(b));
  c.Next();
  std::string text;
  int stop = c.ScanName(text);
  if (stop < 0) {
    // The end of the data ends a name read on its own, not one inside an array or dictionary.
    if (containerDepth_ > 0) RaiseMsg<ENameReadError>(SNameReadError, text);
  } else if (Is(stop, kWhite)) {
    c.Next();
  }
  return text;
}

std::unique_ptr<TzoPDFDictObject> TzoPDFStreamReader::ReadDictionary() {
  BeginValue();
  {
    ZO_CURSOR(c);
    c.SkipWhite();
    for (int i = 0; i < 2; ++i) {
      int b = c.Peek();
      if (b != '<') RaiseMsg<EDictionaryReadError>(SDictionaryReadError, Found(b));
      c.Next();
    }
    if (depth_ >= MaxDepth) RaiseMsg<EDictionaryReadError>(SDictionaryReadError, "<<");
  }
  LevelGuard level(depth_, &containerDepth_);
  PendingScope values(pending_);
  PendingScope keys(pendingKeys_);
  for (;;) {
    {
      ZO_CURSOR(c);
      c.SkipWhite();
      int b = c.Peek();
      if (b == '>' && c.PeekAt(1) == '>') {
        c.Advance(2);
        break;
      }
      if (b != '/') RaiseMsg<EDictionaryReadError>(SDictionaryReadError, Found(b));
    }
    pendingKeys_.push_back(ReadNameText());
    Made(static_cast<int64_t>(pendingKeys_.back().size()));  // the key, a name of the entry
    pending_.push_back(ReadObject());
  }
  Made(int64_t{values.Count()} * static_cast<int64_t>(sizeof(void*)));
  auto dict = std::make_unique<TzoPDFDictObject>();
  dict->Reserve(values.Count());
  for (size_t i = 0; i < static_cast<size_t>(values.Count()); ++i)
    dict->AppendEntry(std::move(pendingKeys_[keys.Start() + i]),
                      std::move(pending_[values.Start() + i]));
  return dict;
}

std::unique_ptr<TzoPDFStringObject> TzoPDFStreamReader::ReadStringObject() {
  BeginValue();
  bool isHex;
  bool escaped = false;
  // The opening delimiter, then the bytes up to the closing one, backslash pairs kept: the text
  // of the object once its closing delimiter is added.
  std::string text;
  {
    ZO_CURSOR(c);
    c.SkipWhite();
    int b = c.Peek();
    if (b != '(' && b != '<') RaiseMsg<EStringReadError>(SStringReadError, Found(b));
    isHex = b == '<';
    text += static_cast<char>(b);
    c.Next();
    int depth = 1;
    for (;;) {
      c.AppendStringRun(text, isHex);
      b = c.Peek();
      if (b < 0) RaiseMsg<EStringReadError>(SStringReadError, Found(b));
      c.Next();
      if (b == '\\') {
        int d = c.Peek();
        if (d < 0) RaiseMsg<EStringReadError>(SStringReadError, Found(d));
        c.Next();
        if (isHex && (d == '\r' || d == '\n')) continue;
        text += '\\';
        text += static_cast<char>(d);
        escaped = true;
        continue;
      }
      if (isHex) {
        if (b == '>') break;
      } else if (b == '(') {
        ++depth;
      } else if (b == ')' && --depth == 0) {
        break;
      }
      text += static_cast<char>(b);
    }
  }
  if (!isHex && escaped) text = '(' + UnescapePDFString(std::string_view(text).substr(1));

  if (decryptor_ && !(currentObjectNumber_ == -1 && currentGeneration_ == -1) && text.size() > 1) {
    std::string body = text.substr(1);
    if (isHex) body = HexToStr(body);
    decryptor_->DecryptString(body.data(), body.data(), body.size(), currentObjectNumber_,
                              currentGeneration_);
    isHex = false;
    text.reserve(body.size() + 2);
    text.assign(1, '(');
    text += body;
  }
  text += isHex ? '>' : ')';
  Made(static_cast<int64_t>(text.size()));
  return std::make_unique<TzoPDFStringObject>(std::move(text), isHex);
}

std::unique_ptr<rtl::TMemoryStream> TzoPDFStreamReader::ReadStreamData(int64_t length,
                                                                       int32_t objectNumber,
                                                                       int32_t generation,
                                                                       int64_t end) {
  auto data = std::make_unique<rtl::TMemoryStream>();
  {
    ZO_CURSOR(c);
    c.SkipWhite();
    if (!c.Matches("stream")) RaiseMsg<EStreamReadError>(SStreamReadError);
    c.Advance(6);
    int b;
    while ((b = c.Peek()) == ' ' || b == '\t')
      c.Next();
    if (c.Peek() == '\r') c.Next();
    if (c.Peek() == '\n') c.Next();
    const int64_t start = c.Pos();
    const int64_t size = c.Size();
    // The data and their "endstream" end where the next object starts (or at the end).
    const bool bounded = end >= 0 && end < size;
    const int64_t limit = bounded ? end : size;
    const int64_t available = limit > start ? limit - start : 0;

    int64_t settled = -1;
    if (length >= 0 && length <= available) {
      c.Seek(start + length);
      c.SkipWhite();
      if (c.Matches("endstream") && c.Pos() + 9 <= limit) settled = length;
    }
    if (settled < 0) {
      // The first "endstream" after the data start, less the end of line in front of it.
      int64_t found = -1;
      // A search to the end that found nothing from some start finds nothing from a later one
      // either: files with many streams cut off at the end are not searched again and again.
      const bool known = missingFrom_ >= 0 && missingSize_ == size && start >= missingFrom_;
      if (!known) {
        std::string copy;
        std::string_view rest;
        if (available > 0 && c.Fast()) {
          rest = std::string_view(reinterpret_cast<const char*>(c.Data()) + start,
                                  static_cast<size_t>(available));
        } else if (available > 0) {
          c.Seek(start);
          ReadString(available, copy);
          rest = copy;
        }
        size_t at = rest.find("endstream");
        if (at != std::string_view::npos) found = start + static_cast<int64_t>(at);
      }
      if (found < 0) {
        if (!known && !bounded) {
          missingFrom_ = start;
          missingSize_ = size;
        }
        RaiseMsg<EEndStreamError>(SExpectedEndStream);
      }
      settled = found - start;
      if (settled > 0) {
        // Only the one or two bytes in front of "endstream" are looked at.
        int64_t from = std::max<int64_t>(start, found - 2);
        std::string tail(static_cast<size_t>(found - from), '\0');
        c.Seek(from);
        c.Copy(found - from, tail.data());
        settled -= EndOfLineBefore(tail, static_cast<int64_t>(tail.size()));
      }
    }

    c.Seek(start);
    if (settled > 0 && c.Fast()) {
      // Copied once, without zero-filling the buffer first.
      data->Assign(std::string_view(reinterpret_cast<const char*>(c.Data()) + start,
                                    static_cast<size_t>(settled)));
      c.Advance(settled);
    } else if (settled > 0) {
      data->SetSize(settled);
      c.Copy(settled, data->Memory());
    }
    c.SkipWhite();
    if (!c.Matches("endstream")) RaiseMsg<EEndStreamError>(SExpectedEndStream);
    c.Advance(9);
  }
  if (decryptor_ && data->Size() > 0) {
    if (objectNumber < 0 || generation < 0) RaiseMsg<EInvalidObjectNo>(SInvalidObjectNumber);
    decryptor_->DecryptStream(*data, data->Size(), objectNumber, generation);
  }
  data->SetCurrentPosition(data->Size());
  return data;
}

int64_t TzoPDFStreamReader::FindStartXRef() {
  const uint8_t* buf = nullptr;
  int64_t size = 0;
  std::string copy;
  auto* mem = dynamic_cast<rtl::TMemoryStream*>(Stream());
  if (mem) {
    buf = mem->Memory();
    size = mem->Size();
  } else {
    int64_t p = Position();
    SetPosition(0);
    ReadString(Stream()->Size(), copy);
    SetPosition(p);
    buf = reinterpret_cast<const uint8_t*>(copy.data());
    size = static_cast<int64_t>(copy.size());
  }
  int64_t at = LastWholeWord(buf, size, "startxref");
  if (at < 0) throw rtl::Exception("Invalid PDF File");
  int64_t i = at + 9;
  while (i < size && !(buf[i] >= '0' && buf[i] <= '9'))
    ++i;
  if (i >= size) RaiseMsg<EOffsetError>(SOffsetError);
  int64_t value = 0;
  for (; i < size && buf[i] >= '0' && buf[i] <= '9'; ++i) {
    int d = buf[i] - '0';
    if (value > (std::numeric_limits<int64_t>::max() - d) / 10)
      RaiseMsg<EOffsetError>(SOffsetError);
    value = value * 10 + d;
  }
  return value;
}

std::unique_ptr<TzoPDFDictObject> TzoPDFStreamReader::ReadTrailer() {
  {
    ZO_CURSOR(c);
    for (;;) {
      int b = c.Peek();
      if (b < 0) RaiseMsg<ETrailerError>(STrailerError);
      c.Next();
      if (b == 't') break;
    }
    if (!c.Matches("railer")) RaiseMsg<ETrailerError>(STrailerError);
    c.Advance(6);
  }
  std::unique_ptr<TzoPDFObject> obj = ReadObject();
  std::unique_ptr<TzoPDFDictObject> dict = TakeAs<TzoPDFDictObject>(obj);
  if (!dict) throw rtl::EInvalidCast();
  return dict;
}

TzoPDFVersion TzoPDFStreamReader::ReadHeader() {
  SetPosition(0);
  std::string token = ReadToken();
  if (token.size() < 8 || token.compare(0, 7, "%PDF-1.") != 0)
    RaiseMsg<EInvalidHeader>(SInvalidHeader, token.substr(0, 7));
  int32_t minor = rtl::StrToInt(token.substr(7, 1));
  if (minor < 0 || minor > 6) RaiseMsg<EUnsupportedVersion>(SUnsupportedVersion, token);
  return static_cast<TzoPDFVersion>(minor);
}
