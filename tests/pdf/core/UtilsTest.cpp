#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <numbers>

#include "pdf/core/zoConsts.h"
#include "pdf/core/zoPDFConsts.h"
#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

// Number texts never carry an exponent; tiny values become 0 (never -0); NaN and infinity are
// refused.
TEST(NumberTexts, GeneralAndRealForms) {
  struct Case {
    double value;
    const char* general;  // FloatToStrDot
    const char* real;     // TzoPDFRealObject text
  } cases[] = {
      {1.5, "1.5", "1.5000000000"},
      {0.5, "0.5", "0.5000000000"},
      {612, "612", "612.0000000000"},
      {-0.25, "-0.25", "-0.2500000000"},
      {12345.678901234, "12345.678901234", "12345.6789000000"},
      {123.456789012345, "123.456789012345", "123.4567890000"},
      {0.123456789012, "0.123456789012", "0.1234567890"},
      {0.0123456789012, "0.0123456789012", "0.0123456789"},
      {1.0 / 3, "0.333333333333333", "0.3333333333"},
      {2.0 / 3, "0.666666666666667", "0.6666666667"},
      {0, "0", "0.0000000000"},
      {-0.0, "0", "0.0000000000"},
      {1e-11, "0.00000000001", "0.0000000000"},
      {-1e-11, "-0.00000000001", "0.0000000000"},
      {6e-11, "0.00000000006", "0.0000000001"},
      {1.5e-7, "0.00000015", "0.0000001500"},
      {1e-20, "0", "0.0000000000"},
      {-1e-20, "0", "0.0000000000"},
      {4e-16, "0", "0.0000000000"},
      {6e-16, "0.000000000000001", "0.0000000000"},
      {1e15, "1000000000000000", "1000000000000000.0000000000"},
      {12345678901.5, "12345678901.5", "12345678900.0000000000"},
      {-1e20, "-100000000000000000000", "-100000000000000000000.0000000000"},
      {1.2345678901234567e17, "123456789012346000", "123456789000000000.0000000000"},
      {9.99999999999, "9.99999999999", "10.0000000000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToStrDot(c.value), c.general) << c.value;
    EXPECT_EQ(RealToPDFText(c.value), c.real) << c.value;
  }
  std::string huge = RealToPDFText(1e300);
  EXPECT_EQ(huge.size(), 301u + 11u);
  EXPECT_EQ(huge.substr(0, 11), "10000000000");
  EXPECT_EQ(huge.find_first_of("eE"), std::string::npos);
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_THROW(FloatToStrDot(bad), rtl::EConvertError);
    EXPECT_THROW(RealToPDFText(bad), rtl::EConvertError);
    EXPECT_THROW(FloatToStrFDot(bad, ffFixed, 15, 4), rtl::EConvertError);
  }
}

TEST(NumberTexts, FormattedForms) {
  EXPECT_EQ(FloatToStrFDot(1234.56, ffExponent, 4, 2), "1.235E+03");
  EXPECT_EQ(FloatToStrFDot(0.00012345, ffExponent, 3, 0), "1.23E-4");
  EXPECT_EQ(FloatToStrFDot(-0.0, ffExponent, 3, 2), "0.00E+00");
  EXPECT_EQ(FloatToStrFDot(1234567.891, ffNumber, 10, 2), "1,234,567.89");
  EXPECT_EQ(FloatToStrFDot(-123.4, ffNumber, 10, 0), "-123");
  EXPECT_EQ(FloatToStrFDot(1.0, ffFixed, 15, 4), "1.0000");
  EXPECT_EQ(FloatToStrFDot(1e25, ffFixed, 3, 1), "10000000000000000000000000.0");
  EXPECT_EQ(FloatToStrFDot(1.23456, ffGeneral, 3, 0), "1.23");
}

TEST(NumberTexts, ReadingWithAFullStop) {
  struct Case {
    const char* text;
    double value;
  } good[] = {{"1.5", 1.5},  {" 2.25 ", 2.25}, {"-3", -3},
              {"+4.5", 4.5}, {"1e3", 1000},    {".5", 0.5}};
  for (const Case& c : good)
    EXPECT_EQ(StrToFloatDot(c.text), c.value) << c.text;
  for (const char* bad : {"", " ", "abc", "1,5", "1.5x", "nan", "inf", "1e999", "+-1", "--1"}) {
    try {
      StrToFloatDot(bad);
      ADD_FAILURE() << bad;
    } catch (const rtl::EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid floating point value");
    }
  }
}

namespace {
struct CommaPoint : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};
}  // namespace

TEST(NumberTexts, LocaleDoesNotChangeTheSeparator) {
  std::locale before = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  std::string previousC = std::setlocale(LC_NUMERIC, nullptr);
  bool commaC = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) {
      commaC = true;
      break;
    }
  EXPECT_EQ(FloatToStrDot(1.5), "1.5");
  EXPECT_EQ(RealToPDFText(-0.25), "-0.2500000000");
  EXPECT_EQ(StrToFloatDot("2.5"), 2.5);
  EXPECT_THROW(StrToFloatDot("2,5"), rtl::EConvertError);
  if (commaC) {
    EXPECT_EQ(*std::localeconv()->decimal_point, ',');  // left as it was set
  }
  std::setlocale(LC_NUMERIC, previousC.c_str());
  std::locale::global(before);
}

TEST(LiteralStrings, Escaping) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a(b)c\\", "a\\(b\\)c\\\\"}, {"\t", "\t"}, {"\b\n\f\r", "\\b\\n\\f\\r"},
      {"\x80\xFF", "\x80\xFF"},     {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EscapePDFString(c.in), c.out) << c.in;
}

TEST(LiteralStrings, Unescaping) {
  using namespace std::string_literals;
  struct Case {
    std::string in, out;
  } cases[] = {
      {"\\101", "A"},       {"\\0", "\0"s},   {"\\1234", "S4"},  // three digits at most
      {"\\400", "\0"s},                                          // modulo 256
      {"\\777", "\xFF"},    {"\\12a", "\na"}, {"\\q", "q"},      // no escape: the backslash goes
      {"\\8", "8"},         {"\\b", "\b"},    {"\\n\\r\\t\\f\\(\\)\\\\", "\n\r\t\f()\\"},
      {"a\\\r\nb", "ab"},  // line continuation
      {"a\\\nb", "ab"},     {"a\\\rb", "ab"}, {"a\\\r\r", "a\r"},
      {"a\\\n\nb", "a\nb"}, {"ab\\", "ab"},   {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnescapePDFString(c.in), c.out) << c.in;
    std::vector<uint8_t> buf(c.out.size() + 4, 0xEE);
    size_t n = UnescapePDFBytes(c.in, buf);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<ptrdiff_t>(n)), c.out) << c.in;
  }
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  EXPECT_EQ(UnescapePDFString(EscapePDFString(all)), all);
}

TEST(LiteralStrings, UnescapeIntoAFixedBuffer) {
  uint8_t three[3] = {0, 0, 0};
  EXPECT_EQ(UnescapePDFBytes("ab\\143def", three), 3u);
  EXPECT_EQ(std::string(three, three + 3), "abc");
  EXPECT_EQ(UnescapePDFBytes("abc", std::span<uint8_t>()), 0u);
}

TEST(HexAndOctal, Conversions) {
  EXPECT_EQ(StrToHex("\x01\xAB z"), "01AB207A");
  EXPECT_TRUE(IsHexText("0aF9"));
  EXPECT_FALSE(IsHexText("0G"));
  EXPECT_FALSE(IsHexText("0x"));
  EXPECT_TRUE(IsHexText(""));
  EXPECT_EQ(HexToStr("48 65 6C 6C 6F>"), "Hello");
  EXPECT_EQ(HexToStr("414"), "A@");  // an odd last digit is followed by 0
  EXPECT_EQ(HexToStr("7>"), "\x70");
  EXPECT_EQ(HexToBytes("4 1\n4"), (std::vector<uint8_t>{0x41, 0x40}));
  uint8_t b = 9;
  EXPECT_EQ(HexToByte("1FF", b), 0);
  EXPECT_EQ(b, 255);
  EXPECT_EQ(HexToByte("ZZ", b), -1);
  EXPECT_EQ(b, 0);
  EXPECT_TRUE(IsOctalText("017"));
  EXPECT_FALSE(IsOctalText("018"));
  OctalToByte("777", b);
  EXPECT_EQ(b, 255);
  OctalToByte("101", b);
  EXPECT_EQ(b, 65);
  OctalToByte("9", b);
  EXPECT_EQ(b, 0);
}

TEST(TextRoutines, WideSlicesAndPositions) {
  std::string s = platform::Utf8ToAnsi("日本語abc");
  EXPECT_EQ(platform::AnsiToUtf8(WideLeftStr(s, 2)), "日本");
  EXPECT_EQ(platform::AnsiToUtf8(WideRightStr(s, 4)), "語abc");
  EXPECT_EQ(platform::AnsiToUtf8(WideMidStr(s, 2, 3)), "本語a");
  EXPECT_EQ(platform::AnsiToUtf8(WideMidStr(s, 0, 2)), "日");
  EXPECT_EQ(WideMidStr(s, 7, 1), "");
  EXPECT_EQ(WideLeftStr(s, -1), "");
  EXPECT_EQ(platform::AnsiToUtf8(WideRightStr(s, 100)), "日本語abc");

  EXPECT_EQ(PosEx("ab", "xxabab"), 3);
  EXPECT_EQ(PosEx("ab", "xxabab", 4), 5);
  EXPECT_EQ(PosEx("ab", "xxabab", 6), 0);
  EXPECT_EQ(PosEx("ab", "xxabab", 0), 0);
  EXPECT_EQ(PosEx("", "xxabab", 1), 0);
}

TEST(TextRoutines, ReplaceAndContainIgnoringCase) {
  EXPECT_EQ(WideReplaceText(u"Page <%Page%> of <%PAGE%>", u"<%page%>", u"3"), u"Page 3 of 3");
  EXPECT_EQ(WideReplaceText(u"aa", u"A", u"aa"), u"aaaa");  // replacements are not searched again
  EXPECT_EQ(WideReplaceText(u"ａＢｃ and Ωμ", u"ＡＢＣ", u"x"), u"x and Ωμ");
  EXPECT_EQ(WideReplaceText(u"Ωμ", u"ωΜ", u"y"), u"y");
  EXPECT_EQ(WideReplaceText(u"Arial Black", u" ", u""), u"ArialBlack");
  EXPECT_EQ(WideReplaceText(u"text", u"", u"x"), u"text");
  EXPECT_EQ(WideReplaceText(u"", u"a", u"x"), u"");
  EXPECT_TRUE(ContainsText("Text <%date%>", "<%"));
  EXPECT_TRUE(ContainsText("xABCx", "abc"));
  EXPECT_FALSE(ContainsText("xABCx", "abd"));
  EXPECT_FALSE(ContainsText("xABCx", ""));
}

TEST(SearchBuf, DirectionsWordsAndBounds) {
  auto find = [](std::string_view buf, int64_t selStart, int64_t selLength, std::string_view what,
                 uint32_t options) {
    // A copy on the heap of exactly the buffer's size, so a read outside it is caught.
    std::vector<uint8_t> bytes(buf.begin(), buf.end());
    return SearchBuf(bytes.data(), static_cast<int64_t>(bytes.size()), selStart, selLength, what,
                     options);
  };
  const std::string tail = "startxref 1\nstartxref 22\n%%EOF";
  const int64_t n = static_cast<int64_t>(tail.size());
  struct Case {
    std::string buf;
    int64_t selStart, selLength;
    std::string what;
    uint32_t options;
    int64_t want;
  } cases[] = {
      {"xxab", 0, 0, "ab", soDown, 2},
      {"xxab", 0, 0, "", soDown, -1},
      {"xab ab", 0, 0, "ab", soDown, 1},
      {"xab ab", 0, 0, "ab", soDown | soWholeWord, 4},
      {"xxab", 4, 0, "ab", 0, 2},
      {tail, n, 0, "startxref", soWholeWord, 12},
      {tail, 12, 0, "startxref", soWholeWord, 0},
      {"trailer startxref", 17, 0, "startxref", soWholeWord, 8},  // the end counts as a delimiter
      {"a startxrefs b", 14, 0, "startxref", soWholeWord, -1},
      {"abc", 0, 0, "c", soDown | soWholeWord, -1},  // inside a word
      {"ab c", 0, 0, "c", soDown | soWholeWord, 3},
      {"abc", 100, 0, "c", 0, -1},  // a selection past the end reads nothing outside
      {"abc", 3, 0, "abcd", 0, -1},
      {"abc", -5, 0, "a", soDown, -1},
      {"abc", 0, std::numeric_limits<int64_t>::max(), "a", soDown, -1},
      {"abc", std::numeric_limits<int64_t>::min(), 0, "a", 0, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(find(c.buf, c.selStart, c.selLength, c.what, c.options), c.want)
        << c.buf << " / " << c.what << " from " << c.selStart;
  EXPECT_EQ(SearchBuf(nullptr, 0, 0, 0, "a", soDown), -1);
}

TEST(Colours, SystemColoursAndPDFOperands) {
  EXPECT_EQ(ColorToPDFRGB(clBlack), "0.0000 0.0000 0.0000");
  EXPECT_EQ(ColorToPDFRGB(clRed), "1.0000 0.0000 0.0000");
  EXPECT_EQ(ColorToPDFRGB(clBlue), "0.0000 0.0000 1.0000");
  EXPECT_EQ(ColorToPDFRGB(0x00804020), "0.1255 0.2510 0.5020");
  EXPECT_EQ(ColorToPDFRGB(clWindowText), "0.0000 0.0000 0.0000");
  EXPECT_EQ(ColorToPDFRGB(clWindow), "1.0000 1.0000 1.0000");
  TColor c = clBtnFace;
  ResolveSysColor(c);
  EXPECT_EQ(c, 0xF0F0F0u);
  c = clSystemColor | 0xFFFF;  // names no system colour
  ResolveSysColor(c);
  EXPECT_EQ(c, 0u);
  c = 0x123456;
  ResolveSysColor(c);
  EXPECT_EQ(c, 0x123456u);
}

TEST(Units, ScreenResolution) {
  EXPECT_EQ(ScreenPixelsPerInch(), 96);
  EXPECT_DOUBLE_EQ(PixelsToPoints(96), 72);
  EXPECT_DOUBLE_EQ(PointsToPixels(72), 96);
  SetScreenPixelsPerInch(120);
  EXPECT_DOUBLE_EQ(PixelsToPoints(120), 72);
  EXPECT_DOUBLE_EQ(ScreenScale(), 120.0 / 72);
  EXPECT_THROW(SetScreenPixelsPerInch(0), rtl::Exception);
  EXPECT_EQ(ScreenPixelsPerInch(), 120);
  SetScreenPixelsPerInch(96);
  EXPECT_DOUBLE_EQ(DegToRad(180), std::numbers::pi);
}

TEST(Units, CosineAndSineOfDegreesAreExactAtRightAngles) {
  struct Row {
    double degrees, c, s;
  };
  const Row rows[] = {{0, 1, 0},
                      {90, 0, 1},
                      {180, -1, 0},
                      {270, 0, -1},
                      {360, 1, 0},
                      {-90, 0, -1},
                      {450, 0, 1},
                      {-540, -1, 0},
                      {45, std::sqrt(0.5), std::sqrt(0.5)},
                      {210, -std::sqrt(0.75), -0.5}};
  for (const Row& r : rows) {
    double c = 7, s = 7;
    CosSinDeg(r.degrees, c, s);
    EXPECT_NEAR(c, r.c, 1e-15) << r.degrees;
    EXPECT_NEAR(s, r.s, 1e-15) << r.degrees;
    if (std::fmod(r.degrees, 90) == 0) {
      EXPECT_TRUE(c == r.c && s == r.s) << r.degrees;
    }
  }
}

TEST(RandomNumbers, FixedSourceAndRange) {
  SetRandomSource([](int32_t) { return 41; });
  EXPECT_EQ(Random(100), 41);
  SetRandomSource([](int32_t range) { return range; });  // out of range: taken as 0
  EXPECT_EQ(Random(100), 0);
  SetRandomSource({});
  Randomize();
  for (int i = 0; i < 1000; ++i) {
    int32_t v = Random(7);
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 7);
  }
  EXPECT_EQ(Random(0), 0);
}

TEST(NameTables, Entries) {
  EXPECT_EQ(PageModeNames[4], "/UseAttachments");
  EXPECT_EQ(PageLayoutNames[0], "/None");
  EXPECT_EQ(ObjectTypeNames[2], "Real Object");
  EXPECT_EQ(AcceptedFontCharsets.size(), 18u);
  int delimiters = 0;
  for (int b = 0; b < 256; ++b)
    delimiters += IsWordDelimiter(static_cast<uint8_t>(b));
  EXPECT_EQ(delimiters, 194);
}
