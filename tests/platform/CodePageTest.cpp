// Code pages 932 and 1252 against Python's codecs, byte for byte and pair for pair; the bytes the
// C library refuses are mapped as Windows maps them.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "platform/CodePage.h"
#include "tests/support/FontTestSupport.h"

using platform::MultiByteToWide;

namespace {

// Python's decoding of every single byte and (for 932) every lead/trail pair: lines "HEX CODES",
// CODES "-" when the codec refuses the bytes.
constexpr const char* kDecodeAll = R"(
import sys
cp = sys.argv[1]
def show(bs):
    try:
        return " ".join("%04X" % ord(c) for c in bs.decode(cp))
    except UnicodeDecodeError:
        return "-"
for b in range(256):
    print("%02X" % b, show(bytes([b])))
if cp == "cp932":
    for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):
        for trail in range(0x40, 0xFD):
            if trail != 0x7F:
                print("%02X%02X" % (lead, trail), show(bytes([lead, trail])))
)";

std::string Hex(const std::u16string& w) {
  std::string out;
  char buf[8];
  for (char16_t c : w) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%04X" : " %04X", static_cast<unsigned>(c));
    out += buf;
  }
  return out;
}

struct Checked {
  int defined = 0;
  int refused = 0;
};

// Compares every line; bytes Python refuses must give `refusedAs(bytes)`.
template <class F>
Checked CompareWithPython(uint32_t codePage, const char* codec, F refusedAs) {
  Checked n;
  sv::test::CommandResult r =
      sv::test::RunCommand({sv::test::FontToolsPython(), "-I", "-c", kDecodeAll, codec});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::istringstream in(r.out);
  std::string hex, codes;
  while (in >> hex && std::getline(in, codes)) {
    codes.erase(0, 1);
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    std::string mine = Hex(MultiByteToWide(codePage, bytes));
    if (codes == "-") {
      ++n.refused;
      EXPECT_EQ(mine, refusedAs(bytes)) << codec << " " << hex;
    } else {
      ++n.defined;
      EXPECT_EQ(mine, codes) << codec << " " << hex;
    }
  }
  return n;
}

}  // namespace

TEST(CodePage, Cp1252AgainstPython) {
  Checked n = CompareWithPython(1252, "cp1252", [](const std::string& b) {
    return Hex(std::u16string(1, static_cast<char16_t>(static_cast<uint8_t>(b[0]))));
  });
  EXPECT_EQ(n.defined, 251);
  EXPECT_EQ(n.refused, 5);  // 0x81, 0x8D, 0x8F, 0x90, 0x9D: U+0081 .. U+009D
  EXPECT_EQ(MultiByteToWide(1252, "\x80\x9F\xE9"), u"\u20AC\u0178\u00E9");
}

TEST(CodePage, Cp932AgainstPython) {
  // Python refuses a lone lead byte and an undefined pair; Windows gives U+30FB, and a second
  // byte that cannot be one stands for itself.
  Checked n = CompareWithPython(932, "cp932", [](const std::string&) { return Hex(u"\u30FB"); });
  EXPECT_GT(n.defined, 7000);
  EXPECT_GT(n.refused, 1000);
  EXPECT_EQ(MultiByteToWide(932, "\x82\xA0\x81"), u"\u3042\u30FB");
  EXPECT_EQ(MultiByteToWide(932, "\x85\x30"), u"\u30FB0");
}

TEST(CodePage, CharacterSetsAndOtherCodePages) {
  const std::pair<uint8_t, uint32_t> table[] = {
      {0, 1252},   {128, 932},  {129, 949},  {130, 1361}, {134, 936},  {136, 950},
      {161, 1253}, {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256}, {186, 1257},
      {222, 874},  {238, 1250}, {204, 1251}, {1, 932},    {2, 932},    {77, 932}};
  for (auto [charset, codePage] : table)
    EXPECT_EQ(platform::CodePageOfCharset(charset), codePage) << int(charset);
  EXPECT_EQ(MultiByteToWide(1251, "\xC0\xE1"), u"\u0410\u0431");
  EXPECT_EQ(MultiByteToWide(936, "\xC4\xE3\xBA\xC3"), u"\u4F60\u597D");
  EXPECT_EQ(MultiByteToWide(1253, "a\xFF"), u"a\uFFFD");  // undefined in 1253
}

// The encoder gives back the bytes the decoder reads, and "?" for what the code page lacks.
TEST(CodePage, WideToMultiByteInvertsMultiByteToWide) {
  const std::pair<uint32_t, std::string> table[] = {
      {1252, "Caf\xE9 \x80 \x81"}, {932, "\x8E\xD0\x8A\x4F\x94\xE9 A\x5C"},
      {1251, "\xC0\xE1"},          {936, "\xC4\xE3\xBA\xC3"},
      {1253, "\xE1\xE2"},          {949, "\xC7\xD1\xB1\xDB"},
      {1250, "\x8A\x9A"},          {874, "\xA1\xA2"},
  };
  for (const auto& [codePage, bytes] : table) {
    SCOPED_TRACE(codePage);
    EXPECT_EQ(platform::WideToMultiByte(codePage, MultiByteToWide(codePage, bytes)), bytes);
  }
  EXPECT_EQ(platform::WideToMultiByte(1252, u"\u3042\u00E9"), "?\xE9");
  EXPECT_EQ(platform::WideToMultiByte(1251, u"a\u3042\U0001F600b"), "a??b");
  EXPECT_EQ(platform::WideToMultiByte(932, u"\u00E9\u3042"), "?\x82\xA0");
}
