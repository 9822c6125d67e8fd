#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>

#include "pdf/core/zoDZLIB.h"
#include "pdf/core/zoFilters.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes)
    s += static_cast<char>(b);
  return s;
}

std::string Fixture(const std::string& name) {
  return sv::test::ReadFile(sv::test::SourceDir() + "tests/pdf/core/fixtures/filters/" + name);
}

std::string Random(size_t n, unsigned seed) {
  std::mt19937 rnd(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(rnd() & 0xFF);
  return s;
}

// Text with long repeats: LZW codes of many bytes each.
std::string Repetitive(size_t n, unsigned seed) {
  std::mt19937 rnd(seed);
  static const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "\n", "epsilon "};
  std::string s;
  while (s.size() < n)
    s += words[rnd() % 6];
  s.resize(n);
  return s;
}

// The error message of f when it raises E; otherwise a text that says what happened.
template <class E>
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "(no exception)";
}

// Writes LZW codes as a PDF decoder reads them: most significant bit first, 9 to 12 bits wide,
// the width following the decoder's table (one code early with earlyChange 1).
class LzwCodeWriter {
 public:
  explicit LzwCodeWriter(int earlyChange) : early_(earlyChange) {}
  void Clear() {
    Put(256);
    width_ = 9;
    next_ = 258;
    first_ = true;
  }
  void Code(int code) {
    Put(code);
    if (!first_ && next_ < 4096) ++next_;
    if (!first_ && next_ + early_ >= (1 << width_) && width_ < 12) ++width_;
    first_ = false;
  }
  std::string End() {
    Put(257);
    if (bits_ > 0) out_ += static_cast<char>((acc_ << (8 - bits_)) & 0xFF);
    bits_ = 0;
    return out_;
  }

 private:
  void Put(int code) {
    acc_ = (acc_ << width_) | static_cast<uint32_t>(code);
    bits_ += width_;
    while (bits_ >= 8) {
      bits_ -= 8;
      out_ += static_cast<char>((acc_ >> bits_) & 0xFF);
    }
  }
  int early_;
  int width_ = 9, next_ = 258, bits_ = 0;
  bool first_ = true;
  uint32_t acc_ = 0;
  std::string out_;
};

// A plain LZW encoder of the tests, written from the PDF standard. With a full table it sends a
// clear code (clearAtFull) or goes on with 12-bit codes and no new entries.
std::string LzwEncode(const std::string& in, int earlyChange, bool clearAtFull) {
  LzwCodeWriter writer(earlyChange);
  std::unordered_map<std::string, int> dict;
  int next = 258;
  auto reset = [&] {
    writer.Clear();
    dict.clear();
    for (int i = 0; i < 256; ++i)
      dict[std::string(1, static_cast<char>(i))] = i;
    next = 258;
  };
  reset();
  std::string w;
  for (char c : in) {
    std::string wc = w + c;
    if (dict.count(wc)) {
      w = wc;
      continue;
    }
    writer.Code(dict[w]);
    if (next < 4096) {
      dict[wc] = next++;
    } else if (clearAtFull) {
      reset();
    }
    w = std::string(1, c);
  }
  if (!w.empty()) writer.Code(dict[w]);
  return writer.End();
}

// Runs a PostScript decode filter of Ghostscript over data; "" with a note when gs is missing.
std::string GhostscriptDecode(const std::string& filterName, const std::string& data) {
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "in", data);
  auto r = sv::test::RunCommand(
      {"gs", "-q", "-dNOSAFER", "-dNODISPLAY", "-dBATCH", "-c",
       "/inf (" + dir / "in" + ") (r) file /" + filterName + " filter def /outf (" + dir / "out" +
           ") (w) file def /buf 4096 string def { inf buf readstring exch outf exch writestring "
           "not { exit } if } loop outf closefile quit"});
  if (r.exitCode != 0) return "gs failed: " + r.err + r.out;
  return sv::test::ReadFile(dir / "out");
}

// Runs a Python expression over the bytes of data (the variable d); its bytes are the result.
std::string PythonDecode(const std::string& expr, const std::string& data) {
  sv::test::TempDir dir;
  sv::test::WriteFile(dir / "in", data);
  auto r = sv::test::RunCommand({"python3", "-c",
                                 "import sys, zlib, base64\nd = open(sys.argv[1], 'rb').read()\n"
                                 "open(sys.argv[2], 'wb').write(" +
                                     expr + ")",
                                 dir / "in", dir / "out"});
  if (r.exitCode != 0) return "python failed: " + r.err;
  return sv::test::ReadFile(dir / "out");
}

std::string DecodeString(TzoFilter& f, const std::string& data) {
  std::string out;
  f.DecodeString(data, out);
  return out;
}

}  // namespace

// ---- Codecs nobody here wrote ----

TEST(Filters, FixturesOfOtherEncodersDecodeToTheOriginal) {
  const std::string original = Fixture("sample.bin");
  ASSERT_GT(original.size(), 9000u);
  struct Case {
    const char* file;
    std::function<std::unique_ptr<TzoFilter>()> make;
  };
  const Case cases[] = {
      {"sample.zlib", [] { return std::make_unique<TzoFlateFilter>(); }},
      {"sample.a85", [] { return std::make_unique<TzoAscii85Filter>(); }},
      {"sample.lzw", [] { return std::make_unique<TzoLZWFilter>(); }},
      {"sample-ec0.lzw", [] { return std::make_unique<TzoLZWFilter>(0); }},
      {"sample.rle", [] { return std::make_unique<TzoRLEFilter>(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string encoded = Fixture(c.file);
    auto f = c.make();
    EXPECT_EQ(DecodeString(*f, encoded), original);
    rtl::TMemoryStream in(encoded);
    in.SetPosition(5);  // streams are read whole, wherever they stand
    auto out = f->DecodeStream(in);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->ToString(), original);
  }
}

TEST(Filters, OurEncodingsDecodeWithOtherDecoders) {
  SV_REQUIRE_JUDGES("python3", "gs");
  const std::string data = Fixture("sample.bin") + Random(3000, 5) + std::string(1000, 'q');
  std::string flate, a85, rle, hex;
  TzoFlateFilter().EncodeString(data, clDefault, flate);
  TzoAscii85Filter().EncodeString(data, a85);
  TzoRLEFilter().EncodeString(data, rle);
  TzoAsciiHexFilter().EncodeString(data, hex);

  EXPECT_EQ(PythonDecode("zlib.decompress(d)", flate), data);
  EXPECT_EQ(PythonDecode("base64.a85decode(d[:-2])", a85), data);
  EXPECT_EQ(PythonDecode("bytes.fromhex(d[:-1].decode())", hex), data);
  EXPECT_EQ(GhostscriptDecode("RunLengthDecode", rle), data);
  EXPECT_EQ(GhostscriptDecode("ASCII85Decode", a85), data);
  EXPECT_EQ(GhostscriptDecode("ASCIIHexDecode", hex), data);
  EXPECT_EQ(GhostscriptDecode("FlateDecode", flate), data);
}

// ---- Round trips and stream forms ----

TEST(Filters, EncodersRoundTrip) {
  const std::string inputs[] = {"",
                                "a",
                                std::string(4, '\0'),
                                std::string(5, '\0'),
                                Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
                                "ab",
                                "abc",
                                "aab",
                                "aabb",
                                "abbcccddddeeeee",
                                std::string(129, 'x'),
                                std::string(257, 'y') + "z",
                                Random(1000, 1),
                                Random(300, 2) + std::string(300, 'r') + Random(5, 3)};
  for (const std::string& in : inputs) {
    SCOPED_TRACE(testing::PrintToString(in.substr(0, 20)));
    std::string enc, dec;
    TzoAsciiHexFilter hex;
    hex.EncodeString(in, enc);
    EXPECT_EQ(DecodeString(hex, enc), in);
    TzoAscii85Filter a85;
    a85.EncodeString(in, enc);
    EXPECT_EQ(DecodeString(a85, enc), in);
    EXPECT_EQ(enc.find('\n'), std::string::npos);
    TzoRLEFilter rle;
    rle.EncodeString(in, enc);
    EXPECT_EQ(DecodeString(rle, enc), in);
    for (TCompressionLevel level : {clNone, clFastest, clDefault, clMax}) {
      TzoFlateFilter flate;
      flate.EncodeString(in, level, enc);
      EXPECT_EQ(DecodeString(flate, enc), in);
    }
    TzoLZWFilter lzw;
    EXPECT_EQ(DecodeString(lzw, LzwEncode(in, 1, true)), in);
  }
}

TEST(Filters, StreamFormsAndWhereTheirResultsStand) {
  const std::string data = "Hello, stream filters";
  rtl::TMemoryStream src(data);
  struct Case {
    std::unique_ptr<TzoFilter> filter;
    bool decodedAtEnd;
  };
  Case cases[4];
  cases[0] = {std::make_unique<TzoAsciiHexFilter>(), true};
  cases[1] = {std::make_unique<TzoAscii85Filter>(), true};
  cases[2] = {std::make_unique<TzoRLEFilter>(), false};
  cases[3] = {std::make_unique<TzoFlateFilter>(), false};
  for (Case& c : cases) {
    auto enc = c.filter->EncodeStream(src, clDefault);
    if (!enc) enc = c.filter->EncodeStream(src);
    ASSERT_TRUE(enc);
    std::string encString;
    c.filter->EncodeString(data, clDefault, encString);
    if (encString.empty()) c.filter->EncodeString(data, encString);
    EXPECT_EQ(enc->ToString(), encString);
    auto dec = c.filter->DecodeStream(*enc);
    EXPECT_EQ(dec->ToString(), data);
    EXPECT_EQ(dec->Position(), c.decodedAtEnd ? dec->Size() : 0);
  }
  // Only Flate takes a level; LZW does not encode.
  EXPECT_EQ(TzoAsciiHexFilter().EncodeStream(src, clMax), nullptr);
  EXPECT_EQ(TzoFlateFilter().EncodeStream(src), nullptr);
  EXPECT_EQ(TzoLZWFilter().EncodeStream(src), nullptr);
  std::string out = "old";
  TzoLZWFilter().EncodeString(data, out);
  EXPECT_EQ(out, "");
  rtl::TMemoryStream lzwData(LzwEncode(data, 1, true));
  auto lzw = TzoLZWFilter().DecodeStream(lzwData);
  EXPECT_EQ(lzw->ToString(), data);
  EXPECT_EQ(lzw->Position(), lzw->Size());
}

TEST(Filters, DecodeStringMayWriteOverItsInput) {
  std::string s = "414243>";
  TzoAsciiHexFilter().DecodeString(s, s);
  EXPECT_EQ(s, "ABC");
  TzoAscii85Filter().EncodeString(s, s);
  TzoAscii85Filter().DecodeString(s, s);
  EXPECT_EQ(s, "ABC");
  TzoRLEFilter().EncodeString(s, s);
  TzoRLEFilter().DecodeString(s, s);
  EXPECT_EQ(s, "ABC");
}

// ---- The cases the filters are known by ----

TEST(Filters, KnownCases) {
  struct Case {
    const char* what;
    std::function<std::unique_ptr<TzoFilter>()> make;
    std::string in, out;
  };
  auto hex = [] { return std::make_unique<TzoAsciiHexFilter>(); };
  auto a85 = [] { return std::make_unique<TzoAscii85Filter>(); };
  auto rle = [] { return std::make_unique<TzoRLEFilter>(); };
  auto lzw = [] { return std::make_unique<TzoLZWFilter>(); };
  // The example of the PDF reference: 256 45 258 258 65 259 66 257 in 9-bit codes.
  const std::string lzwExample = Bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01});
  const Case cases[] = {
      {"hex with blanks", hex, "4 1 >", "A"},
      {"hex odd last digit", hex, "7>", Bytes({0x70})},
      {"hex lower case, stops at >", hex, "6a6B>zz>", "jk"},
      {"hex all PDF white space", hex, Bytes({'4', 0, '1', 9, 10, 12, 13, ' ', '4', '2', '>'}),
       "AB"},
      {"hex empty", hex, ">", ""},
      {"a85 groups", a85, "87cURD]i,\"Ebo80~>", "Hello World!"},
      {"a85 z between groups", a85, "z!!~>", Bytes({0, 0, 0, 0, 0})},
      {"a85 white space", a85, Bytes({'8', 0, '7', 12, 'c', 'U', 9, 'R', '~', '>'}), "Hell"},
      {"a85 max group", a85, "s8W-!~>", Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
      {"a85 empty", a85, "~>", ""},
      {"rle literal", rle, Bytes({2, 'a', 'b', 'c', 128}), "abc"},
      {"rle run", rle, Bytes({254, 'x', 128}), "xxx"},
      {"rle literal of 128", rle, Bytes({0, 128, 128}), Bytes({128})},
      {"lzw reference example", lzw, lzwExample, Bytes({45, 45, 45, 45, 45, 65, 45, 45, 45, 66})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeString(*c.make(), c.in), c.out);
  }
  // A stream that does not start with a clear code decodes as well.
  std::string noClear = LzwEncode("abcabcabcabc", 1, true);
  // Drop the leading 9-bit clear code by re-packing the bits.
  std::string bitsText;
  for (char ch : noClear)
    for (int i = 7; i >= 0; --i)
      bitsText += ((static_cast<uint8_t>(ch) >> i) & 1) ? '1' : '0';
  bitsText = bitsText.substr(9);
  while (bitsText.size() % 8)
    bitsText += '0';
  std::string repacked;
  for (size_t i = 0; i < bitsText.size(); i += 8)
    repacked += static_cast<char>(std::stoi(bitsText.substr(i, 8), nullptr, 2));
  EXPECT_EQ(DecodeString(*lzw(), repacked), "abcabcabcabc");
}

TEST(Filters, RunLengthEncoderChoosesItsRuns) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", Bytes({128})},
      {"a", Bytes({0, 'a', 128})},
      {"abc", Bytes({2, 'a', 'b', 'c', 128})},
      {"aab", Bytes({255, 'a', 0, 'b', 128})},
      {"abbbc", Bytes({0, 'a', 254, 'b', 0, 'c', 128})},
      {std::string(130, 'x'), Bytes({129, 'x', 255, 'x', 128})},
      {std::string(129, 'x'), Bytes({129, 'x', 0, 'x', 128})},
      {"abbcc", Bytes({0, 'a', 255, 'b', 255, 'c', 128})},
      {"abbc", Bytes({3, 'a', 'b', 'b', 'c', 128})},
  };
  for (const auto& c : cases) {
    std::string out;
    TzoRLEFilter().EncodeString(c.in, out);
    EXPECT_EQ(out, c.out) << testing::PrintToString(c.in);
  }
  // A literal of more than 128 bytes is split.
  std::string lit = Random(300, 9), out;
  for (size_t i = 1; i < lit.size(); ++i)
    if (lit[i] == lit[i - 1]) lit[i] = static_cast<char>(lit[i] ^ 1);
  TzoRLEFilter().EncodeString(lit, out);
  ASSERT_EQ(out.size(), 300u + 3 + 1);
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 127);
  EXPECT_EQ(static_cast<uint8_t>(out[129]), 127);
  EXPECT_EQ(static_cast<uint8_t>(out[258]), 300 - 256 - 1);
}

// ---- LZW as the PDF standard has it ----

TEST(Filters, LzwWidthsEarlyChangeAndAFullTable) {
  // Long enough to pass 9, 10, 11 and 12 bits and fill the table.
  const std::string data = Random(6000, 11) + Repetitive(30000, 12) + Random(3000, 13);
  for (int early : {1, 0}) {
    SCOPED_TRACE(early);
    for (bool clearAtFull : {true, false}) {
      SCOPED_TRACE(clearAtFull);
      const std::string enc = LzwEncode(data, early, clearAtFull);
      std::string out;
      TzoLZWFilter(early).DecodeString(enc, out);
      EXPECT_EQ(out, data);
      TzoLZWFilter::Decode(BytesOf(enc), out, early);
      EXPECT_EQ(out, data);
    }
  }
  // The widths of one setting do not decode data of the other.
  std::string wrong;
  try {
    TzoLZWFilter(0).DecodeString(LzwEncode(data, 1, false), wrong);
  } catch (const EFilterError&) {
    wrong = "raised";
  }
  EXPECT_NE(wrong, data);
}

// ---- Malformed input ----

TEST(Filters, MalformedInputRaisesTheFilterError) {
  struct Case {
    const char* what;
    std::function<std::unique_ptr<TzoFilter>()> make;
    std::string in, error;
  };
  auto hex = [] { return std::make_unique<TzoAsciiHexFilter>(); };
  auto a85 = [] { return std::make_unique<TzoAscii85Filter>(); };
  auto rle = [] { return std::make_unique<TzoRLEFilter>(); };
  auto lzw = [] { return std::make_unique<TzoLZWFilter>(); };
  // 256, 'A' (65), 300: a code beyond the next free one (259).
  const std::string lzwBeyond = Bytes({0x80, 0x10, 0x65, 0x80});
  // 256 then 258 (no previous code to build on).
  const std::string lzwFirst = Bytes({0x80, 0x40, 0x80});
  const Case cases[] = {
      {"hex without >", hex, "4142", SEndOfDataMarkerWrong},
      {"hex empty", hex, "", SEndOfDataMarkerWrong},
      {"hex bad digit", hex, "4G>", SIllegalCharacter},
      {"hex trailing line feed", hex, "41>\n", SEndOfDataMarkerWrong},
      {"a85 without ~>", a85, "87cUR", SEndOfDataMarkerWrong},
      {"a85 only >", a85, ">", SEndOfDataMarkerWrong},
      {"a85 trailing line feed", a85, "87cURD~>\n", SEndOfDataMarkerWrong},
      {"a85 z in a group", a85, "87z~>", SZInappropriatePosition},
      {"a85 bad character", a85, "87c{~>", SIllegalCharacter},
      {"a85 tilde inside", a85, "87~cU~>", SIllegalCharacter},
      {"a85 single final", a85, "87cURD~>", SSingleFinalCharacter},
      {"a85 group too big", a85, "uuuuu~>", SASCII85GroupOutOfRange},
      {"a85 last group too big", a85, "uuuu~>", SASCII85GroupOutOfRange},
      {"rle empty", rle, "", SRLEEndOfDataMarkerWrong},
      {"rle no marker", rle, Bytes({0, 'a'}), SRLEEndOfDataMarkerWrong},
      {"rle literal into the marker", rle, Bytes({2, 'a', 128}), SUnexpectedEndOfFile},
      {"rle run without its byte", rle, Bytes({255, 128}), SUnexpectedEndOfFile},
      {"rle premature marker", rle, Bytes({128, 0, 'a', 128}), SPrematureEndOfData},
      {"lzw code beyond the next", lzw, lzwBeyond, rtl::Format(SInvalidLZWCode, 300)},
      {"lzw new code after clear", lzw, lzwFirst, rtl::Format(SInvalidLZWCode, 258)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out;
    EXPECT_EQ(ErrorOf<EFilterError>([&] { c.make()->DecodeString(c.in, out); }), c.error);
    rtl::TMemoryStream in(c.in);
    EXPECT_EQ(ErrorOf<EFilterError>([&] { c.make()->DecodeStream(in); }), c.error);
  }
  // Truncated LZW data end where the bits end.
  std::string out;
  const std::string long_ = Repetitive(5000, 3);
  const std::string enc = LzwEncode(long_, 1, true);
  TzoLZWFilter().DecodeString(enc.substr(0, enc.size() / 2), out);
  EXPECT_GT(out.size(), 0u);
  EXPECT_EQ(out, long_.substr(0, out.size()));
}

TEST(Filters, FlateErrors) {
  std::string out;
  EXPECT_EQ(ErrorOf<EZDecompressionError>([&] { TzoFlateFilter().DecodeString("not zlib", out); }),
            "data error");
  EXPECT_EQ(ErrorOf<EZDecompressionError>(
                [&] { TzoFlateFilter().DecodeString(Fixture("dict.zlib"), out); }),
            "need dictionary");
  // Data that end early give what was decoded.
  const std::string original = Fixture("sample.bin");
  const std::string z = Fixture("sample.zlib");
  TzoFlateFilter().DecodeString(z.substr(0, z.size() - 100), out);
  EXPECT_LT(out.size(), original.size());
  EXPECT_EQ(out, original.substr(0, out.size()));
  TzoFlateFilter().DecodeString("", out);
  EXPECT_EQ(out, "");
}

// A decoded-size limit for the length of one test.
class SizeLimit {
 public:
  explicit SizeLimit(int64_t limit) : old_(DecodedSizeLimit()) { SetDecodedSizeLimit(limit); }
  ~SizeLimit() { SetDecodedSizeLimit(old_); }

 private:
  int64_t old_;
};

TEST(Filters, DecompressionBombsStopAtTheLimit) {
  const int64_t limit = 1 << 20;
  SizeLimit scope(limit);
  const std::string expected = rtl::Format(SDecodedSizeLimit, limit);

  std::string flate;
  TzoFlateFilter().EncodeString(std::string(3 << 20, '\0'), clMax, flate);
  std::string rle;
  for (int i = 0; i < 9000; ++i)
    rle += Bytes({129, 'x'});
  rle += Bytes({128});
  // 'a', then each new code at once (strings of 2, 3, ... bytes), then the longest over and over.
  LzwCodeWriter writer(1);
  writer.Clear();
  writer.Code('a');
  for (int code = 258; code < 4096; ++code)
    writer.Code(code);
  for (int i = 0; i < 1000; ++i)
    writer.Code(4095);
  const std::string lzw = writer.End();
  ASSERT_LT(lzw.size(), 8000u);
  std::string a85(300000, 'z');
  a85 += "~>";

  std::string out;
  EXPECT_EQ(ErrorOf<EZDecompressionError>([&] { TzoFlateFilter().DecodeString(flate, out); }),
            expected);
  EXPECT_EQ(ErrorOf<EFilterError>([&] { TzoRLEFilter().DecodeString(rle, out); }), expected);
  EXPECT_EQ(ErrorOf<EFilterError>([&] { TzoLZWFilter().DecodeString(lzw, out); }), expected);
  EXPECT_EQ(ErrorOf<EFilterError>([&] { TzoAscii85Filter().DecodeString(a85, out); }), expected);

  // Data of exactly the limit decode.
  TzoFlateFilter().EncodeString(std::string(limit, 'b'), clFastest, flate);
  TzoFlateFilter().DecodeString(flate, out);
  EXPECT_EQ(out.size(), static_cast<size_t>(limit));
}
