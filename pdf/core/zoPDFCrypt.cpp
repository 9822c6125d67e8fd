#include "pdf/core/zoPDFCrypt.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFResStrs.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "platform/LocalTime.h"
#include "platform/OsRandom.h"

// ---- MD5 ----

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

#define ZO_MD5_STEP(f, a, b, c, d, x, s, ac) \
  a += f(b, c, d) + (x) + (ac);              \
  a = RotateLeft(a, s) + b

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

void Md5Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = LoadLE32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  ZO_MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
  ZO_MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
  ZO_MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
  ZO_MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
  ZO_MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
  ZO_MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
  ZO_MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
  ZO_MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
  ZO_MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
  ZO_MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
  ZO_MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
  ZO_MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
  ZO_MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
  ZO_MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
  ZO_MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
  ZO_MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

  ZO_MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
  ZO_MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
  ZO_MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
  ZO_MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
  ZO_MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
  ZO_MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
  ZO_MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
  ZO_MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
  ZO_MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
  ZO_MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
  ZO_MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
  ZO_MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
  ZO_MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
  ZO_MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
  ZO_MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
  ZO_MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

  ZO_MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
  ZO_MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
  ZO_MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
  ZO_MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
  ZO_MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
  ZO_MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
  ZO_MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
  ZO_MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
  ZO_MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
  ZO_MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
  ZO_MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
  ZO_MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
  ZO_MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
  ZO_MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
  ZO_MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
  ZO_MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

  ZO_MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
  ZO_MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
  ZO_MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
  ZO_MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
  ZO_MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
  ZO_MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
  ZO_MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
  ZO_MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
  ZO_MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
  ZO_MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
  ZO_MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
  ZO_MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
  ZO_MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
  ZO_MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
  ZO_MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
  ZO_MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef ZO_MD5_STEP

}  // namespace

void Md5Init(TMD5Context& context) {
  context.State[0] = 0x67452301;
  context.State[1] = 0xefcdab89;
  context.State[2] = 0x98badcfe;
  context.State[3] = 0x10325476;
  context.Count[0] = context.Count[1] = 0;
  std::memset(context.Buffer, 0, sizeof context.Buffer);
}

void Md5Update(TMD5Context& context, const void* bytes, size_t length) {
  if (length == 0) return;
  const auto* in = static_cast<const uint8_t*>(bytes);
  size_t used = (context.Count[0] >> 3) & 63;
  uint64_t bits = (static_cast<uint64_t>(context.Count[1]) << 32) | context.Count[0];
  bits += static_cast<uint64_t>(length) << 3;
  context.Count[0] = static_cast<uint32_t>(bits);
  context.Count[1] = static_cast<uint32_t>(bits >> 32);

  size_t i = 0;
  if (used > 0) {
    size_t room = 64 - used;
    if (length < room) {
      std::memcpy(context.Buffer + used, in, length);
      return;
    }
    std::memcpy(context.Buffer + used, in, room);
    Md5Transform(context.State, context.Buffer);
    i = room;
  }
  for (; i + 64 <= length; i += 64)
    Md5Transform(context.State, in + i);
  if (i < length) std::memcpy(context.Buffer, in + i, length - i);
}

void Md5Final(TMD5Context& context, TMD5Digest& digest) {
  uint8_t bits[8];
  StoreLE32(bits, context.Count[0]);
  StoreLE32(bits + 4, context.Count[1]);
  static const uint8_t padding[64] = {0x80};
  size_t used = (context.Count[0] >> 3) & 63;
  size_t padLen = used < 56 ? 56 - used : 120 - used;
  Md5Update(context, padding, padLen);
  Md5Update(context, bits, 8);
  for (int i = 0; i < 4; ++i)
    StoreLE32(digest.data() + 4 * i, context.State[i]);
  std::memset(&context, 0, sizeof context);
}

TMD5Digest Md5(const void* bytes, size_t length) {
  TMD5Context c;
  Md5Init(c);
  Md5Update(c, bytes, length);
  TMD5Digest d;
  Md5Final(c, d);
  return d;
}

// ---- RC4 ----

namespace {

// The state after the key schedule of the last key used on this thread: the strings and the
// stream of one object share their key, and a copy of the state costs far less than the schedule.
struct Rc4Schedule {
  size_t length = 0;  // 0: none yet
  uint8_t key[256];
  uint32_t state[256];
};

}  // namespace

void Rc4Crypt(std::span<const uint8_t> key, const void* source, void* destination, size_t length) {
  const size_t n = key.size();
  if (n < 1 || n > 256) throw rtl::Exception("RC4: Invalid key length");
  thread_local Rc4Schedule last;
  if (last.length != n || std::memcmp(last.key, key.data(), n) != 0) {
    // Word-sized entries and indices: faster than bytes on current processors.
    uint32_t* t = last.state;
    for (uint32_t i = 0; i < 256; ++i)
      t[i] = i;
    uint32_t j = 0;
    for (size_t i = 0, k = 0; i < 256; ++i) {
      j = (j + t[i] + key[k]) & 0xFF;
      std::swap(t[i], t[j]);
      if (++k == n) k = 0;
    }
    std::memcpy(last.key, key.data(), n);
    last.length = n;
  }
  uint32_t s[256];
  std::memcpy(s, last.state, sizeof s);
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  uint8_t x = 0, y = 0;
  auto next = [&]() -> uint32_t {
    ++x;
    const uint32_t sx = s[x];
    y = static_cast<uint8_t>(y + sx);
    const uint32_t sy = s[y];
    s[x] = sy;
    s[y] = sx;
    return s[static_cast<uint8_t>(sx + sy)];
  };
  // Eight keystream bytes gathered into a word and applied at once: half the time of a byte at a
  // time. Source and destination may be the same buffer.
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t stream = 0;
    for (int b = 0; b < 8; ++b) {
      const int shift = std::endian::native == std::endian::little ? 8 * b : 8 * (7 - b);
      stream |= static_cast<uint64_t>(next()) << shift;
    }
    uint64_t word;
    std::memcpy(&word, in + i, sizeof word);
    word ^= stream;
    std::memcpy(out + i, &word, sizeof word);
  }
  for (; i < length; ++i)
    out[i] = static_cast<uint8_t>(in[i] ^ next());
}

std::string Rc4(std::span<const uint8_t> key, std::string_view data) {
  std::string out(data.size(), '\0');
  Rc4Crypt(key, data.data(), out.data(), data.size());
  return out;
}

// ---- Settings ----

void TzoPDFEncryptionSettings::CheckCanChange() const {
  if (!canChange_) throw rtl::Exception("User cannot change encryption settings");
}

void TzoPDFEncryptionSettings::SetEnabled(bool value) {
  CheckCanChange();
  enabled_ = value;
  ++changes_;
}

void TzoPDFEncryptionSettings::SetLevel(TzoPDFEncryptionLevel value) {
  CheckCanChange();
  level_ = value;
  ++changes_;
}

const std::string& TzoPDFEncryptionSettings::OwnerPassword() const {
  static const std::string empty;
  return canChange_ ? ownerPassword_ : empty;
}

void TzoPDFEncryptionSettings::SetOwnerPassword(const std::string& value) {
  CheckCanChange();
  ownerPassword_ = value;
  ++changes_;
}

void TzoPDFEncryptionSettings::SetUserPassword(const std::string& value) {
  CheckCanChange();
  userPassword_ = value;
  ++changes_;
}

void TzoPDFEncryptionSettings::SetUserPermissions(TzoUserPermissions value) {
  CheckCanChange();
  userPermissions_ = value;
  ++changes_;
}

// ---- Handler checks ----

namespace {

// An Integer or Int64 value; false for anything else (null included).
bool IntegerValue(const TzoPDFObject* obj, int64_t& value) {
  if (!obj) return false;
  if (const auto* i = obj->AsInteger()) {
    value = i->Value();
    return true;
  }
  if (const auto* i = obj->AsInt64()) {
    value = i->Value();
    return true;
  }
  return false;
}

std::string DescribeNumber(const TzoPDFDictObject& d, std::string_view key) {
  int64_t v;
  const TzoPDFObject* obj = d.GetValue(key);
  if (IntegerValue(obj, v)) return std::string(key) + " " + rtl::IntToStr(v);
  return std::string(key) + (obj ? " (" + obj->GetTypeName() + ")" : " (none)");
}

// The bytes of the string at key, or what the key holds instead.
std::string StringEntry(const TzoPDFDictObject& d, std::string_view key, const char* error) {
  const TzoPDFObject* obj = d.GetValue(key);
  const TzoPDFStringObject* s = obj ? obj->AsString() : nullptr;
  if (!s) throw rtl::Exception(error);
  return PDFStringBytes(*s);
}

}  // namespace

void CheckSupportedEncryption(const TzoPDFDictObject& encrypt) {
  const TzoPDFObject* filter = encrypt.GetValue("/Filter");
  const TzoPDFNameObject* name = filter ? filter->AsName() : nullptr;
  if (!name || name->Text() != "/Standard") {
    std::string found = name ? name->Text() : filter ? "(" + filter->GetTypeName() + ")" : "(none)";
    RaiseMsg<EUnsupportedEncryption>(SUnsupportedEncryption, "/Filter " + found);
  }
  int64_t v = 0, r = 0;
  bool hasV = IntegerValue(encrypt.GetValue("/V"), v);
  bool hasR = IntegerValue(encrypt.GetValue("/R"), r);
  if (!hasV || !hasR || (v != 1 && v != 2) || (r != 2 && r != 3))
    RaiseMsg<EUnsupportedEncryption>(
        SUnsupportedEncryption,
        "/Filter /Standard " + DescribeNumber(encrypt, "/V") + " " + DescribeNumber(encrypt, "/R"));
}

std::string PDFStringBytes(const TzoPDFStringObject& s) {
  return s.IsHex() ? HexToStr(s.GetValue()) : s.GetValue();
}

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}

// True when every character of text is one of the code page (no undefined pair, no lead byte
// without its second byte): bytes that came from elsewhere are not.
bool IsCodePageText(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!platform::IsDBCSLeadByte(static_cast<uint8_t>(text[i]))) continue;
    if (i + 1 >= text.size()) return false;
    const std::string_view pair = text.substr(i++, 2);
    // An undefined pair reads as the middle dot (which 81 45 is), a second byte that cannot be one
    // as itself after it.
    const std::u16string wide = platform::AnsiToWide(pair);
    if (wide.size() != 1 || (wide[0] == u'\u30FB' && pair != "\x81\x45")) return false;
  }
  return true;
}

// A password in the code page for bytes that a key holds as UTF-8; the bytes themselves when
// they are ASCII, or no UTF-8 of text of the code page.
std::string PasswordTextOf(const std::string& keyBytes) {
  if (IsAscii(keyBytes)) return keyBytes;
  std::string ansi = platform::Utf8ToAnsi(keyBytes);
  return IsCodePageText(ansi) && platform::AnsiToUtf8(ansi) == keyBytes ? ansi : keyBytes;
}

}  // namespace

std::string PasswordKeyBytes(std::string_view password) {
  if (IsAscii(password) || !IsCodePageText(password)) return std::string(password);
  return platform::AnsiToUtf8(password);
}

// ---- The standard handler's computations ----

namespace {

constexpr std::array<uint8_t, 32> kPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

using Bytes32 = std::array<uint8_t, 32>;
using Key16 = std::array<uint8_t, 16>;

// RC4 of data in place with key, then (revision 3) 19 more rounds with every key byte XOR 1 .. 19;
// reverse runs the rounds from 19 down to 0 instead (the decryption of the same chain).
void Rc4Rounds(std::span<const uint8_t> key, uint8_t* data, size_t length, int32_t revision,
               bool reverse) {
  if (revision < 3) {
    Rc4Crypt(key, data, data, length);
    return;
  }
  uint8_t k[16];
  for (int step = 0; step < 20; ++step) {
    int i = reverse ? 19 - step : step;
    for (size_t b = 0; b < key.size(); ++b)
      k[b] = static_cast<uint8_t>(key[b] ^ i);
    Rc4Crypt({k, key.size()}, data, data, length);
  }
}

// The RC4 key that encrypts /O: MD5 of the padded owner password, from revision 3 on hashed 50
// times more, each time over the first n bytes of the digest before (as the usual readers and
// writers do for keys shorter than 128 bits); its first n bytes are the key.
Key16 OwnerRc4Key(const Bytes32& paddedOwner, int32_t revision, size_t n) {
  TMD5Digest h = Md5(paddedOwner.data(), paddedOwner.size());
  if (revision >= 3)
    for (int i = 0; i < 50; ++i)
      h = Md5(h.data(), n);
  return h;
}

// The file key from the padded user password, /O, /P and the file identifier: its first n bytes.
Key16 FileKeyOf(const Bytes32& paddedUser, const Bytes32& o, int32_t p,
                const std::vector<uint8_t>& fileID, int32_t revision, size_t n) {
  TMD5Context c;
  Md5Init(c);
  Md5Update(c, paddedUser.data(), paddedUser.size());
  Md5Update(c, o.data(), o.size());
  uint8_t pb[4];
  StoreLE32(pb, static_cast<uint32_t>(p));
  Md5Update(c, pb, 4);
  Md5Update(c, fileID.data(), fileID.size());
  TMD5Digest h;
  Md5Final(c, h);
  if (revision >= 3)
    for (int i = 0; i < 50; ++i)
      h = Md5(h.data(), n);
  Key16 key{};
  std::copy_n(h.begin(), n, key.begin());
  return key;
}

// /U from the file key: revision 2 the padding string encrypted; revision 3 MD5 of the padding
// string and the file identifier through the 20 rounds, then 16 zero bytes.
Bytes32 UserValueOf(const Key16& key, size_t n, const std::vector<uint8_t>& fileID,
                    int32_t revision) {
  Bytes32 u{};
  if (revision < 3) {
    u = kPadding;
    Rc4Rounds({key.data(), n}, u.data(), u.size(), revision, false);
    return u;
  }
  TMD5Context c;
  Md5Init(c);
  Md5Update(c, kPadding.data(), kPadding.size());
  Md5Update(c, fileID.data(), fileID.size());
  TMD5Digest h;
  Md5Final(c, h);
  std::copy(h.begin(), h.end(), u.begin());
  Rc4Rounds({key.data(), n}, u.data(), 16, revision, false);
  return u;
}

// Bytes of the user password found in a decrypted /O: the 32 bytes less the longest tail that
// equals the start of the padding string.
std::string StripPadding(const Bytes32& padded) {
  for (size_t k = 0; k <= 32; ++k)
    if (std::equal(padded.begin() + static_cast<std::ptrdiff_t>(k), padded.end(), kPadding.begin()))
      return std::string(reinterpret_cast<const char*>(padded.data()), k);
  return std::string(reinterpret_cast<const char*>(padded.data()), 32);  // not reached
}

std::string AsString(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Key lengths to try: the known one, or 5 and 16 bytes when the file named none that is usable.
std::span<const size_t> CandidateLengths(const size_t& known) {
  static const size_t both[] = {5, 16};
  if (known != 0) return {&known, 1};
  return both;
}

}  // namespace

// ---- TzoBasePDFCrypt ----

std::string TzoBasePDFCrypt::GetFileID() const {
  return AsString(fileID_.data(), fileID_.size());
}

std::string TzoBasePDFCrypt::GetOwnerKey() const {
  return AsString(o_.data(), o_.size());
}

std::string TzoBasePDFCrypt::GetUserKey() const {
  return AsString(u_.data(), u_.size());
}

void TzoBasePDFCrypt::SetLevel(uint8_t level) {
  if (level > 1)
    RaiseMsg<EUnsupportedEncryption>(SUnsupportedEncryption, "level " + rtl::IntToStr(level));
  revision_ = level == 0 ? 2 : 3;
  keyLength_ = level == 0 ? 5 : 16;
  cacheValid_ = false;
}

std::array<uint8_t, 32> TzoBasePDFCrypt::PadPassword(std::string_view password) {
  Bytes32 out;
  size_t n = std::min<size_t>(password.size(), 32);
  std::memcpy(out.data(), password.data(), n);
  std::memcpy(out.data() + n, kPadding.data(), 32 - n);
  return out;
}

const std::array<uint8_t, 32>& TzoBasePDFCrypt::PaddingString() {
  return kPadding;
}

void TzoBasePDFCrypt::SetFileKey(std::span<const uint8_t> key) {
  fileKey_.fill(0);
  std::copy(key.begin(), key.end(), fileKey_.begin());
  cacheValid_ = false;
}

size_t ObjectKeyOf(std::span<const uint8_t> fileKey, int32_t objectNumber, int32_t generation,
                   TMD5Digest& key) {
  const size_t n = std::min<size_t>(fileKey.size(), 16);
  uint8_t buf[16 + 5];
  std::memcpy(buf, fileKey.data(), n);
  buf[n] = static_cast<uint8_t>(objectNumber);
  buf[n + 1] = static_cast<uint8_t>(objectNumber >> 8);
  buf[n + 2] = static_cast<uint8_t>(objectNumber >> 16);
  buf[n + 3] = static_cast<uint8_t>(generation);
  buf[n + 4] = static_cast<uint8_t>(generation >> 8);
  key = Md5(buf, n + 5);
  return std::min<size_t>(n + 5, 16);
}

size_t TzoBasePDFCrypt::ObjectKey(int32_t objectNumber, int32_t generation, TMD5Digest& key) const {
  if (cacheValid_ && cacheNumber_ == objectNumber && cacheGeneration_ == generation) {
    key = cacheKey_;
    return std::min<size_t>(keyLength_ + 5, 16);
  }
  const size_t len = ObjectKeyOf(FileKeyBytes(), objectNumber, generation, key);
  cacheKey_ = key;
  cacheNumber_ = objectNumber;
  cacheGeneration_ = generation;
  cacheValid_ = true;
  return len;
}

void TzoBasePDFCrypt::CryptObject(const void* source, void* destination, size_t length,
                                  int32_t objectNumber, int32_t generation) const {
  TMD5Digest key;
  size_t len = ObjectKey(objectNumber, generation, key);
  Rc4Crypt({key.data(), len}, source, destination, length);
}

// ---- TzoPDFEncryption ----

namespace {

// An /ID word: the MD5 of the two seeds one after the other.
TMD5Digest IdOf(std::string_view seed1, std::string_view seed2) {
  TMD5Context c;
  Md5Init(c);
  Md5Update(c, seed1.data(), seed1.size());
  Md5Update(c, seed2.data(), seed2.size());
  TMD5Digest id;
  Md5Final(c, id);
  return id;
}

}  // namespace

TzoPDFEncryption::TzoPDFEncryption(std::string_view seed1, std::string_view seed2,
                                   const TzoPDFEncryptionSettings& settings)
    : ownerPassword_(settings.ownerPassword_), userPassword_(settings.userPassword_) {
  SetLevel(settings.level_ == el40bit ? 0 : 1);
  permissions_ = settings.userPermissions_;

  const TMD5Digest id = IdOf(seed1, seed2);
  fileID_.assign(id.begin(), id.end());

  paddedOwner_ =
      PadPassword(PasswordKeyBytes(ownerPassword_.empty() ? userPassword_ : ownerPassword_));
  paddedUser_ = PadPassword(PasswordKeyBytes(userPassword_));

  Key16 ok = OwnerRc4Key(paddedOwner_, revision_, keyLength_);
  o_ = paddedUser_;
  Rc4Rounds({ok.data(), keyLength_}, o_.data(), o_.size(), revision_, false);

  Key16 key = FileKeyOf(paddedUser_, o_, PermissionsToP(), fileID_, revision_, keyLength_);
  SetFileKey({key.data(), keyLength_});
  u_ = UserValueOf(key, keyLength_, fileID_, revision_);
  updateID_ = fileID_;
}

TzoPDFEncryption::TzoPDFEncryption(const TzoPDFDecrypt& opened, std::string_view seed1,
                                   std::string_view seed2) {
  if (!opened.HasFileKey()) throw rtl::Exception("The encrypted file has not been opened");
  revision_ = opened.Revision();
  keyLength_ = opened.KeyLength();
  permissions_ = opened.Permissions();
  const std::string id = opened.GetFileID();
  fileID_.assign(id.begin(), id.end());
  const std::string o = opened.GetOwnerKey(), u = opened.GetUserKey();
  std::copy(o.begin(), o.end(), o_.begin());
  std::copy(u.begin(), u.end(), u_.begin());
  const std::string key = opened.GetFileKey();
  SetFileKey({reinterpret_cast<const uint8_t*>(key.data()), key.size()});
  keptP_ = true;
  p_ = opened.P();

  const TMD5Digest update = IdOf(seed1, seed2);
  updateID_.assign(update.begin(), update.end());
}

std::string TzoPDFEncryption::GetUpdateID() const {
  return AsString(updateID_.data(), updateID_.size());
}

int32_t TzoPDFEncryption::PermissionsToP() const {
  if (keptP_) return p_;
  const bool r3 = revision_ >= 3;
  uint32_t p = r3 ? 0xFFFFF0C0u : 0xFFFFFFC0u;
  const TzoUserPermissions s = permissions_;
  if (s.Contains(AllowPrint)) p |= 4;
  if (s.Contains(AllowModify)) p |= 8;
  if (s.Contains(AllowCopy)) p |= 16;
  if (s.Contains(AllowAnnotation)) p |= 32;
  if (r3) {
    if (s.Contains(AllowFormFill)) p |= 0x100;
    if (s.Contains(AllowAccessibility)) p |= 0x200;
    if (s.Contains(AllowDocAssembly)) p |= 0x400;
    if (s.Contains(AllowHighResPrint) && s.Contains(AllowPrint)) p |= 0x800;
  }
  return static_cast<int32_t>(p);
}

void TzoPDFEncryption::EncryptData(const void* source, void* destination, size_t length,
                                   int32_t objectNumber, int32_t generation) const {
  if (length == 0) return;
  CryptObject(source, destination, length, objectNumber, generation);
}

std::string TzoPDFEncryption::EncryptData(std::string_view data, int32_t objectNumber,
                                          int32_t generation) const {
  std::string out(data.size(), '\0');
  EncryptData(data.data(), out.data(), data.size(), objectNumber, generation);
  return out;
}

std::string TzoPDFEncryption::GetKey() const {
  return AsString(fileKey_.data(), keyLength_);
}

// ---- TzoPDFDecrypt ----

void TzoPDFDecrypt::SetEncryptDict(const TzoPDFDictObject& encrypt) {
  CheckSupportedEncryption(encrypt);
  int64_t r = 0, length = 0;
  IntegerValue(encrypt.GetValue("/R"), r);
  if (!IntegerValue(encrypt.GetValue("/Length"), length)) length = 0;
  std::string o = StringEntry(encrypt, "/O", "Invalid Owner Key.");
  std::string u = StringEntry(encrypt, "/U", "Invalid User Key.");
  int64_t p;
  if (!IntegerValue(encrypt.GetValue("/P"), p)) RaiseMsg<EInvalidPermission>(SInvalidPermission);
  // Everything is checked before anything is set.
  if (o.size() != 32) throw rtl::Exception("Invalid Owner Key.");
  if (u.size() != 32) throw rtl::Exception("Invalid User Key.");
  SetRevision(static_cast<int32_t>(r),
              length >= 0 && length <= 0x7FFFFFFF ? static_cast<int32_t>(length) : 0);
  SetOwnerKey(o);
  SetUserKey(u);
  SetP(p);
}

void TzoPDFDecrypt::SetRevision(int32_t revision, int32_t keyLengthBits) {
  if (revision != 2 && revision != 3)
    RaiseMsg<EUnsupportedEncryption>(SUnsupportedEncryption, "/R " + rtl::IntToStr(revision));
  revision_ = revision;
  if (revision == 2)
    keyLength_ = 5;
  else if (keyLengthBits >= 40 && keyLengthBits <= 128 && keyLengthBits % 8 == 0)
    keyLength_ = static_cast<size_t>(keyLengthBits / 8);
  else
    keyLength_ = 0;  // tried as 5 and as 16 bytes by the password checks
  InvalidateObjectKey();
}

void TzoPDFDecrypt::SetFileID(std::string_view bytes) {
  fileID_.assign(bytes.begin(), bytes.end());
}

void TzoPDFDecrypt::SetOwnerKey(std::string_view bytes) {
  if (bytes.size() != 32) throw rtl::Exception("Invalid Owner Key.");
  std::memcpy(o_.data(), bytes.data(), 32);
}

void TzoPDFDecrypt::SetUserKey(std::string_view bytes) {
  if (bytes.size() != 32) throw rtl::Exception("Invalid User Key.");
  std::memcpy(u_.data(), bytes.data(), 32);
}

void TzoPDFDecrypt::SetP(int64_t value) {
  p_ = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

void TzoPDFDecrypt::ApplyP() {
  const uint32_t p = static_cast<uint32_t>(p_);
  auto drop = [&](uint32_t bit, TzoUserPermissionsType t) {
    if (!(p & bit)) permissions_.Exclude(t);
  };
  drop(4, AllowPrint);
  drop(8, AllowModify);
  drop(16, AllowCopy);
  drop(32, AllowAnnotation);
  if (revision_ >= 3) {
    drop(0x100, AllowFormFill);
    drop(0x200, AllowAccessibility);
    drop(0x400, AllowDocAssembly);
    drop(0x800, AllowHighResPrint);
  }
}

bool TzoPDFDecrypt::MatchUser(const Bytes32& padded, size_t n, Key16& key) const {
  key = FileKeyOf(padded, o_, p_, fileID_, revision_, n);
  Bytes32 u = UserValueOf(key, n, fileID_, revision_);
  size_t compared = revision_ >= 3 ? 16 : 32;
  return std::equal(u.begin(), u.begin() + static_cast<std::ptrdiff_t>(compared), u_.begin());
}

bool TzoPDFDecrypt::CheckPadded(const Bytes32& padded) {
  for (size_t n : CandidateLengths(keyLength_)) {
    Key16 key;
    if (MatchUser(padded, n, key)) {
      keyLength_ = n;
      SetFileKey({key.data(), n});
      hasFileKey_ = true;
      return true;
    }
  }
  return false;
}

int32_t TzoPDFDecrypt::CheckUserPassword(std::string_view password) {
  return CheckPadded(PadPassword(password)) ? 0 : -1;
}

int32_t TzoPDFDecrypt::CheckOwnerPassword(std::string_view password, std::string& userPassword) {
  const Bytes32 paddedOwner = PadPassword(password);
  const size_t known = keyLength_;
  for (size_t n : CandidateLengths(known)) {
    Key16 ok = OwnerRc4Key(paddedOwner, revision_, n);
    Bytes32 padded = o_;
    Rc4Rounds({ok.data(), n}, padded.data(), padded.size(), revision_, true);
    size_t saved = keyLength_;
    keyLength_ = n;
    if (CheckPadded(padded)) {
      userPassword = StripPadding(padded);
      return 0;
    }
    keyLength_ = saved;
  }
  return -1;
}

int32_t TzoPDFDecrypt::Authenticate(TzoPDFEncryptionSettings& settings, std::string_view password) {
  // The key bytes of the password as written here (UTF-8 for text beyond ASCII), then, for files
  // made where the ANSI code page went into the key, its bytes as they are.
  std::vector<std::string> candidates{PasswordKeyBytes(password)};
  if (candidates[0] != password) candidates.emplace_back(password);
  for (size_t i = 0; i < candidates.size(); ++i) {
    std::string userBytes;
    if (CheckOwnerPassword(candidates[i], userBytes) != 0) continue;
    ownerAuthenticated_ = true;
    settings.SetEnabled(true);
    settings.SetOwnerPassword(std::string(password));
    // The user password comes back in the form of the key that matched.
    settings.SetUserPassword(i == 0 ? PasswordTextOf(userBytes) : userBytes);
    settings.SetUserPermissions(permissions_);
    settings.SetLevel(Level() == 0 ? el40bit : el128bit);
    return 1;
  }
  for (const std::string& candidate : candidates) {
    if (CheckUserPassword(candidate) != 0) continue;
    ApplyP();
    settings.SetEnabled(true);
    settings.SetUserPassword(std::string(password));
    settings.SetOwnerPassword(GenerateOwnerPassword());
    settings.SetUserPermissions(permissions_);
    settings.SetLevel(Level() == 0 ? el40bit : el128bit);
    settings.canChange_ = false;
    return 1;
  }
  return 0;
}

std::string TzoPDFDecrypt::GetFileKey() const {
  return AsString(fileKey_.data(), keyLength_);
}

void TzoPDFDecrypt::DecryptStream(rtl::TMemoryStream& stream, int64_t length, int32_t objectNumber,
                                  int32_t generation) const {
  int64_t n = std::clamp<int64_t>(length, 0, stream.Size());
  if (n > 0)
    CryptObject(stream.Memory(), stream.Memory(), static_cast<size_t>(n), objectNumber, generation);
  stream.SetCurrentPosition(stream.Size());
}

void TzoPDFDecrypt::DecryptString(const void* source, void* destination, size_t length,
                                  int32_t objectNumber, int32_t generation) const {
  if (length == 0) return;
  CryptObject(source, destination, length, objectNumber, generation);
}

bool TzoPDFDecrypt::IsHexDelimited(std::string_view text) {
  return !text.empty() && text.front() == '<' && text.back() == '>';
}

std::string TzoPDFDecrypt::GenerateOwnerPassword() {
  return "zoSecure" + platform::LocalDateTimeDigits() +
         rtl::IntToStr(platform::CryptoRandom(2147483647u));
}
