#include <gtest/gtest.h>

#include <limits>
#include <regex>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFParsers.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "tests/support/TestSupport.h"

using namespace std::string_literals;

namespace {

// A memory stream of another class: the reader goes through the stream's slots instead of its
// memory.
class SlotStream : public rtl::TMemoryStream {
 public:
  using rtl::TMemoryStream::TMemoryStream;
};

// A compact text of an object tree.
std::string Describe(const TzoPDFObject* o) {
  if (!o) return "nil";
  switch (o->ObjectType()) {
    case otBoolean:
      return o->AsBoolean()->GetText();
    case otInteger:
      return "i" + o->AsInteger()->GetText();
    case otInt64:
      return "l" + o->AsInt64()->GetText();
    case otReal:
      return "r" + FloatToStrDot(o->AsReal()->Value());
    case otString:
      return (o->AsString()->IsHex() ? "h" : "s") + o->AsString()->Text();
    case otName:
      return o->AsName()->Text();
    case otNull:
      return "null";
    case otArray: {
      std::string s = "[";
      for (int i = 0; i < o->AsArray()->Count(); ++i)
        s += (i ? " " : "") + Describe(o->AsArray()->GetItem(i));
      return s + "]";
    }
    case otDictionary: {
      std::string s = "<<";
      const auto* d = o->AsDict();
      for (int i = 0; i < d->Count(); ++i)
        s += " " + d->GetKeyAt(i)->Text() + " " + Describe(d->GetValueAt(i));
      return s + " >>";
    }
    case otStream:
      return "stream" + Describe(o->AsStream()->Dict()) + (o->AsStream()->Data() ? "+data" : "");
    case otIndirectReference: {
      const auto* r = o->AsReference();
      return rtl::Format("R(%d,%d,%d)", r->DocumentNumber(), r->ObjectNumber(),
                         static_cast<int>(r->Generation()));
    }
    case otIndirectObject: {
      const auto* r = o->AsIndirect();
      return rtl::Format("obj(%d,%d,%d){", r->DocumentNumber(), r->ObjectNumber(),
                         static_cast<int>(r->Generation())) +
             Describe(r->DirectObject()) + "}";
    }
  }
  return "?";
}

// Runs f over a reader on bytes; gives its result or "E:" and the message of what it raised.
template <class F>
std::string Outcome(F&& f) {
  try {
    return f();
  } catch (const rtl::Exception& e) {
    return "E:" + e.Message();
  }
}

// Both ways of reading: straight from memory and through the stream's slots.
class ReaderTest : public testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<rtl::TMemoryStream> Source(const std::string& bytes) {
    if (GetParam()) return std::make_unique<SlotStream>(bytes);
    return std::make_unique<rtl::TMemoryStream>(bytes);
  }
};

INSTANTIATE_TEST_SUITE_P(Memory, ReaderTest, testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Slots, ReaderTest, testing::Values(true));

}  // namespace

// One table of well-formed and malformed objects: the object read (or the error) and the bytes
// left after it.
TEST_P(ReaderTest, ObjectsAndTheirErrors) {
  const std::string deepArrays(100000, '[');
  std::string deepDicts;
  for (int i = 0; i < 50000; ++i)
    deepDicts += "<</A ";
  std::string deepObjects;
  for (int i = 0; i < 2000; ++i)
    deepObjects += "1 0 obj ";
  std::string mixed;
  for (int i = 0; i < 300; ++i)
    mixed += "[<</K ";
  std::string justDeepEnough = std::string(512, '[') + std::string(512, ']');
  std::string tooDeep = std::string(513, '[') + std::string(513, ']');

  const struct {
    std::string input, expected, rest;
  } cases[] = {
      // References, indirect objects and numbers.
      {"12 0 R", "R(7,12,0)", ""},
      {"12 0 r", "i12", "0 r"},
      {"12 70000 R", "R(7,12,4464)", ""},  // the generation keeps 16 bits
      {"7 0 OBJ << /Length 5 >> stream\nabcde\nendstream", "obj(7,7,0){stream<< /Length i5 >>}",
       "stream\nabcde\nendstream"},
      {"1 0 obj 1 0 R endobj", "obj(7,1,0){R(7,1,0)}", "endobj"},
      {"4 1 obj (x) endobj", "obj(7,4,1){s(x)}", "endobj"},
      {"3.25", "r3.25", ""},
      {"-.5 ", "r-0.5", ""},
      {"1.2.3", "s1.2.3", ""},
      {"4294967296", "l4294967296", ""},
      {"-2147483648", "i-2147483648", ""},
      {"2147483648", "l2147483648", ""},
      {"+17", "i17", ""},
      {"99999999999999999999", "E:'99999999999999999999' is not a valid integer value", ""},
      {"x 0 R", "E:'x' is not a valid integer value", ""},
      {"\f5", "E:'\f5' is not a valid integer value", ""},  // form feed is no white space
      {"", "E:'' is not a valid integer value", ""},
      {"1 0 obj [1 2] stream", "E:Invalid class typecast", "stream"},
      // "stream" counts as a whole word only, also at the very end of the data.
      {"1 0 obj << >> streamer", "obj(7,1,0){<< >>}", "streamer"},
      {"1 0 obj << >> stream\0"s, "obj(7,1,0){<< >>}", "stream\0"s},
      {"1 0 obj << >>\nstream", "obj(7,1,0){stream<< >>}", "stream"},
      {"1 0 obj << >> stream[", "obj(7,1,0){stream<< >>}", "stream["},
      // Numbers of references beyond plain short digits.
      {"+5 0 R", "R(7,5,0)", ""},
      {"0000000012 00 R", "R(7,12,0)", ""},
      {"2147483647 0 R", "R(7,2147483647,0)", ""},
      {"2147483648 0 R", "E:'2147483648' is not a valid integer value", ""},
      {"1 x R", "E:'x' is not a valid integer value", ""},
      // Keywords.
      {"true]", "true", "]"},
      {"false", "false", ""},
      {"null", "null", ""},
      {"trux", "E:Expected boolean (true) object", "trux"},
      {"fals", "E:Expected boolean (false) object", "fals"},
      {"nul", "E:Expected PDF null object", "nul"},
      {")", "nil", ")"},
      {"}", "nil", "}"},
      // Comments and white space.
      {"%comment\r\n \t\0005 "s, "i5", ""},
      {"  % only a comment", "E:'' is not a valid integer value", ""},
      // Names.
      {"/Name#20x", "/Name#20x", ""},
      {"/A/B", "/A", "/B"},
      {"/A\0B "s, "/A\0B"s, ""},
      {"/ ", "/", ""},
      {"[/Na", "E:Error reading PDF name string (/Na)", ""},
      // Literal strings.
      {"(a(b)c)", "s(a(b)c)", ""},
      {"(a\\)b)", "s(a)b)", ""},
      {"(ab\\)cd(e)f>g)", "s(ab)cd(e)f>g)", ""},
      {"(a\\\nb)", "s(ab)", ""},
      {"(a\\\rb)", "s(ab)", ""},
      {"(a\\\r\nb)", "s(ab)", ""},  // one continuation, CR LF included
      {"(\\n\\r\\t\\b\\f\\(\\)\\\\\\101\\0\\1234\\q)", std::string("s(\n\r\t\b\f()\\A\0S4q)", 16),
       ""},
      {"(line\r\nbreak)", "s(line\r\nbreak)", ""},
      {"()", "s()", ""},
      {"(abc", "E:Error reading PDF string (end of data)", ""},
      {"(a(b)", "E:Error reading PDF string (end of data)", ""},
      {"(abc\\", "E:Error reading PDF string (end of data)", ""},
      // Hex strings.
      {"<48 65>", "h<48 65>", ""},
      {"<>", "h<>", ""},
      {"<4142", "E:Error reading PDF string (end of data)", ""},
      {"<41\\\n42\\\r43>", "h<414243>", ""},
      {"<41(42)>", "h<41(42)>", ""},
      // Arrays.
      {"[ ]x", "[]", "x"},
      {"[1 [2] /N]", "[i1 [i2] /N]", ""},
      {"[1 2 R 3]", "[R(7,1,2) i3]", ""},
      {"[(a)(b)<63>]", "[s(a) s(b) h<63>]", ""},
      {"[1 2", "E:Error reading PDF array (end of data)", ""},
      {"[1 2 >>", "E:Error reading PDF array (>)", ">>"},
      {"[1 )", "E:Error reading PDF array ())", ")"},
      {deepArrays, "E:Error reading PDF array ([)", ""},
      {justDeepEnough, "", ""},
      // Dictionaries.
      {"<< /A 1 /A 2 >>", "<< /A i1 /A i2 >>", ""},
      {"<</A>>", "<< /A nil >>", ""},
      {"<< /A << /B [true] >> >>", "<< /A << /B [true] >> >>", ""},
      {"<< /A 1", "E:Error reading PDF dictionary (end of data)", ""},
      {"<< /A 1 >", "E:Error reading PDF dictionary (>)", ">"},
      {"<< 1 2 >>", "E:Error reading PDF dictionary (1)", "1 2 >>"},
      {"<< /A ] >>", "E:Error reading PDF dictionary (])", "] >>"},
      {"7 0 obj << /A 1", "E:Error reading PDF dictionary (end of data)", ""},
      {deepDicts, "E:Error reading PDF dictionary (<<)", ""},
      {deepObjects, "E:Error reading PDF dictionary (obj)", ""},
      {mixed, "E:Error reading PDF array ([)", ""},
      {tooDeep, "E:Error reading PDF array ([)", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << c.input.substr(0, 40));
    auto source = Source(c.input);
    TzoPDFStreamReader r(7, source.get());
    std::string got = Outcome([&] { return Describe(r.ReadObject().get()); });
    if (c.input == justDeepEnough) {
      EXPECT_EQ(got.front(), '[');
      EXPECT_EQ(got.size(), 1024u);
      continue;
    }
    EXPECT_EQ(got, c.expected);
    if (c.input.size() < 1000) {
      std::string rest;
      r.ReadString(r.Size(), rest);
      if (got.rfind("E:", 0) != 0 || !c.rest.empty()) {
        EXPECT_EQ(rest, c.rest);
      }
    }
  }
}

TEST_P(ReaderTest, TokensWhiteSpaceAndLineEnds) {
  auto source = Source("  abc/def % note\r\n<<x>>[\t]");
  TzoPDFStreamReader r(1, source.get());
  EXPECT_EQ(r.ReadToken(), " ");  // the first byte is taken whatever it is
  EXPECT_EQ(r.PeekToken(), "abc");
  EXPECT_EQ(r.Position(), 2);  // left behind the white space
  EXPECT_EQ(r.ReadToken(), "abc");
  EXPECT_EQ(r.ReadToken(), "/def");
  EXPECT_EQ(r.Position(), 18);  // white space and the comment skipped
  EXPECT_EQ(r.ReadToken(), "<");
  EXPECT_EQ(r.ReadToken(), "<x");
  EXPECT_EQ(r.PeekToken(), "");  // a delimiter comes first
  r.SetPosition(16);
  EXPECT_TRUE(r.AtEndOfLine());
  r.SkipWhiteSpace();
  EXPECT_EQ(r.Position(), 18);
  EXPECT_FALSE(r.AtEndOfLine());
  r.SetPosition(r.Size());
  EXPECT_EQ(r.ReadToken(), "");
  EXPECT_EQ(r.PeekToken(), "");
  EXPECT_FALSE(r.AtEndOfLine());
  // Beyond the end (Skip is not clamped) every read ends at once.
  r.Skip(10);
  EXPECT_EQ(r.PeekToken(), "");
  EXPECT_THROW(r.ReadName(), ENameReadError);
  EXPECT_THROW(r.ReadArray(), EArrayReadError);
  EXPECT_THROW(r.ReadStreamData(5, 1, 0), EStreamReadError);
  EXPECT_THROW(r.ReadTrailer(), ETrailerError);
}

// Stream data: the length is used when "endstream" follows it; otherwise the data runs to the
// first "endstream", less the end of line in front of it.
TEST_P(ReaderTest, StreamData) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const std::string body = "stream\nabcde\nendstream endobj";
  const struct {
    std::string input;
    int64_t length;
    std::string expected;
  } cases[] = {
      {body, 5, "abcde"},
      {body, 8, "abcde"},  // 3 bytes too long
      {body, 2, "abcde"},  // 3 bytes too short
      {body, 0, "abcde"},  // 0 while data stands before "endstream"
      {body, 2147483647, "abcde"},
      {body, kMax, "abcde"},
      {body, -5, "abcde"},
      {"stream\r\nabcde\r\nendstream", 100, "abcde"},
      {"stream\rab\r\n\r\nendstream", 100, "ab\r\n"},  // only one end of line goes
      {"stream  \r\nab\rendstream", -1, "ab"},
      {"stream\r\nendstream", 0, ""},
      {"stream endstream", 0, ""},
      {"stream\nendstream", 7, ""},
      {"  stream\nxendstreamx\nendstream", 11, "xendstreamx"},  // the length counts first
      {"stream\nabc", 3, "E:Expected PDF endstream"},
      {"stream\nabc endstrea", 3, "E:Expected PDF endstream"},
      {"stream\nabc", kMax, "E:Expected PDF endstream"},
      {"strem\nabc endstream", 3, "E:Error reading PDF stream"},
      {"", 0, "E:Error reading PDF stream"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << c.input << " length " << c.length);
    auto source = Source(c.input);
    TzoPDFStreamReader r(1, source.get());
    std::string got = Outcome([&] {
      auto data = r.ReadStreamData(c.length, 4, 0);
      EXPECT_EQ(data->Position(), data->Size());
      return data->ToString();
    });
    EXPECT_EQ(got, c.expected);
    if (got.rfind("E:", 0) != 0) {
      std::string before;
      int64_t end = r.Position();
      r.SetPosition(end - 9);
      r.ReadString(9, before);
      EXPECT_EQ(before, "endstream");  // the reader stands behind it
    }
  }
}

// Streams cut off before their "endstream" each raise the error, also when the reader has learnt
// that the rest of the data holds none; one that has its "endstream" still reads.
TEST_P(ReaderTest, StreamsWithoutEndstream) {
  auto source = Source("stream\nab endstream stream\ncd stream\nef");
  TzoPDFStreamReader r(1, source.get());
  EXPECT_EQ(r.ReadStreamData(-1, 1, 0)->ToString(), "ab ");
  int64_t second = r.Position();
  EXPECT_THROW(r.ReadStreamData(-1, 2, 0), EEndStreamError);
  r.SetPosition(second + 10);
  EXPECT_THROW(r.ReadStreamData(-1, 3, 0), EEndStreamError);
  r.SetPosition(0);
  EXPECT_EQ(r.ReadStreamData(2, 1, 0)->ToString(), "ab");
}

// With the offset of the next object given, a stream's data and its "endstream" lie before it:
// a length or an "endstream" beyond it belongs to no data of this stream.
TEST_P(ReaderTest, StreamDataEndBeforeTheNextObject) {
  const std::string first = "stream\nabcde\nendstream\nendobj\n";
  const std::string next = "2 0 obj\n<< /Length 3 >>\nstream\nxyz\nendstream\nendobj\n";
  const int64_t end = static_cast<int64_t>(first.size());
  const struct {
    std::string input;
    int64_t length;
    int64_t end;
    std::string expected;
  } cases[] = {
      {first + next, 5, end, "abcde"},
      {first + next, 9, end, "abcde"},   // too long: the search stays before the next object
      {first + next, 5, -1, "abcde"},    // no end given
      {first + next, 5, 1000, "abcde"},  // an end beyond the data
      // The stream's own "endstream" is missing: the next object's is not taken, whether the
      // length points at it or the search would find it.
      {"stream\nabcde\n" + next, 60, 13, "E:Expected PDF endstream"},
      {"stream\nabcde\n" + next, -1, 13, "E:Expected PDF endstream"},
      {"stream\nabcde\n" + next, -1, -1, "abcde\n2 0 obj\n<< /Length 3 >>\nstream\nxyz"},
      // "endstream" that reaches past the end is not the stream's.
      {first + next, 5, end - 13, "E:Expected PDF endstream"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.length << ", end " << c.end);
    auto source = Source(c.input);
    TzoPDFStreamReader r(1, source.get());
    EXPECT_EQ(Outcome([&] { return r.ReadStreamData(c.length, 1, 0, c.end)->ToString(); }),
              c.expected);
  }
}

TEST_P(ReaderTest, StartXRef) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"%PDF-1.4\nstartxref\n123\n%%EOF\n", "123"},
      {"startxref 10\n%%EOF\nxref\ntrailer<<>>\nstartxref\r\n 4567 \n%%EOF", "4567"},
      {"startxref\n%%EOF\n", "E:Error reading document. Unable to read offset"},
      {"startxref\n99999999999999999999\n", "E:Error reading document. Unable to read offset"},
      {"startxref123", "E:Invalid PDF File"},  // not a whole word
      {"xstartxref 12", "E:Invalid PDF File"},
      {"no keyword here", "E:Invalid PDF File"},
      {"", "E:Invalid PDF File"},
  };
  for (const auto& c : cases) {
    auto source = Source(c.input);
    TzoPDFStreamReader r(1, source.get());
    r.SetPosition(3 < r.Size() ? 3 : 0);
    int64_t before = r.Position();
    EXPECT_EQ(Outcome([&] { return std::to_string(r.FindStartXRef()); }), c.expected) << c.input;
    EXPECT_EQ(r.Position(), before);
  }
}

TEST_P(ReaderTest, TrailerAndHeader) {
  const struct {
    std::string input, expected;
  } trailers[] = {
      {"xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 /ID [<AB>(c)] >>",
       "<< /Size i1 /ID [h<AB> s(c)] >>"},
      {"trailer<</Root 1 0 R>>", "<< /Root R(1,1,0) >>"},
      {"xref\n0 0\ntrailer [1]", "E:Invalid class typecast"},
      {"xref\n0 0\ntrailer", "E:'' is not a valid integer value"},
      {"xref\n0 0\ntree << >>", "E:Error reading PDF trailer"},
      {"xref\n0 0\n", "E:Error reading PDF trailer"},
  };
  for (const auto& c : trailers) {
    auto source = Source(c.input);
    TzoPDFStreamReader r(1, source.get());
    EXPECT_EQ(Outcome([&] { return Describe(r.ReadTrailer().get()); }), c.expected) << c.input;
  }
  const struct {
    std::string input, expected;
  } headers[] = {
      {"%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj", "4"},
      {"%PDF-1.0", "0"},
      {"%PDF-1.6\r", "6"},
      {"%PDF-1.45 ", "4"},
      {"%PDF-1.4%comment", "4"},
      {"%PDF-1.7", "E:Unsupported PDF Version (%PDF-1.7)"},
      {"%PDF-1.9\n", "E:Unsupported PDF Version (%PDF-1.9)"},
      {"%PDF-2.0", "E:Invalid PDF Header (%PDF-2.)"},
      {" %PDF-1.4", "E:Invalid PDF Header ( %PDF-1)"},
      {"%PDF-1.", "E:Invalid PDF Header (%PDF-1.)"},
      {"%PDF-1", "E:Invalid PDF Header (%PDF-1)"},
      {"", "E:Invalid PDF Header ()"},
      {"%PDF-1.x", "E:'x' is not a valid integer value"},
  };
  for (const auto& c : headers) {
    auto source = Source(c.input);
    TzoPDFStreamReader r(1, source.get());
    r.SetPosition(r.Size());
    EXPECT_EQ(Outcome([&] { return std::to_string(static_cast<int>(r.ReadHeader())); }), c.expected)
        << c.input;
  }
}

// ---- Decryption ----

namespace {

struct Keys {
  std::unique_ptr<TzoPDFEncryption> encryptor;
  std::unique_ptr<TzoPDFDecrypt> decryptor;
};

Keys OpenKeys() {
  TzoPDFEncryptionSettings s;
  s.SetUserPassword("u");
  s.SetOwnerPassword("o");
  Keys k;
  k.encryptor = std::make_unique<TzoPDFEncryption>("Output1.pdf", "D:1", s);
  k.decryptor = std::make_unique<TzoPDFDecrypt>();
  k.decryptor->SetRevision(3, 128);
  k.decryptor->SetFileID(k.encryptor->GetFileID());
  k.decryptor->SetOwnerKey(k.encryptor->GetOwnerKey());
  k.decryptor->SetUserKey(k.encryptor->GetUserKey());
  k.decryptor->SetP(k.encryptor->PermissionsToP());
  TzoPDFEncryptionSettings got;
  EXPECT_EQ(k.decryptor->Authenticate(got, "u"), 1);
  return k;
}

}  // namespace

TEST_P(ReaderTest, StringsAndStreamsAreDecryptedWithTheirObjectsKeys) {
  Keys k = OpenKeys();
  const TzoPDFEncryption& e = *k.encryptor;
  std::string lit = EscapePDFString(e.EncryptData("literal (x)", 9, 0));
  std::string data = e.EncryptData("BT (stream) Tj ET", 9, 0);
  std::string input = "9 0 obj << /T <" + StrToHex(e.EncryptData("He", 9, 0)) + "> /L (" + lit +
                      ") /A [<" + StrToHex(e.EncryptData("deep", 9, 0)) +
                      ">] /E () /H <> /Length " + std::to_string(data.size()) + " >>\nstream\n" +
                      data +
                      "\nendstream\nendobj\n"
                      "(outside) <6869>\n"
                      "trailer << /ID [<0102>] >>\n"
                      "10 3 obj (" +
                      EscapePDFString(e.EncryptData("ten", 10, 3)) + ") endobj";
  auto source = Source(input);
  TzoPDFStreamReader r(1, source.get());
  r.SetDecryptor(k.decryptor.get());
  EXPECT_EQ(r.CurrentObjectNumber(), -1);
  auto obj = r.ReadObject();
  EXPECT_EQ(Describe(obj.get()),
            "obj(1,9,0){stream<< /T s(He) /L s(literal (x)) /A [s(deep)] /E s() /H h<> /Length i" +
                std::to_string(data.size()) + " >>}");
  EXPECT_EQ(r.CurrentObjectNumber(), 9);
  EXPECT_EQ(r.CurrentGeneration(), 0);
  // A walk may read other objects before the data is read: the data still takes the key of the
  // numbers given.
  r.SetCurrentObject(-1, -1);
  auto stream = r.ReadStreamData(static_cast<int64_t>(data.size()), 9, 0);
  EXPECT_EQ(stream->ToString(), "BT (stream) Tj ET");
  EXPECT_EQ(r.PeekToken(), "endobj");
  r.ReadToken();
  // Values read outside an object are not decrypted with the key of the object before.
  EXPECT_EQ(Describe(r.ReadObject().get()), "s(outside)");
  EXPECT_EQ(r.CurrentObjectNumber(), -1);
  EXPECT_EQ(Describe(r.ReadObject().get()), "h<6869>");
  EXPECT_EQ(Describe(r.ReadTrailer().get()), "<< /ID [h<0102>] >>");
  EXPECT_EQ(Describe(r.ReadObject().get()), "obj(1,10,3){s(ten)}");
  EXPECT_EQ(r.CurrentGeneration(), 3);
  // Stream data of no object cannot be decrypted.
  auto bad = Source("stream\nabc\nendstream");
  TzoPDFStreamReader r2(1, bad.get());
  r2.SetDecryptor(k.decryptor.get());
  EXPECT_THROW(r2.ReadStreamData(3, -1, 0), EInvalidObjectNo);
}

TEST(Reader, NullSourceIsRefused) {
  EXPECT_THROW(TzoPDFStreamReader(1, nullptr), EInvalidStream);
}

// ---- Real files ----

namespace {

// Every "N G obj" that starts a line, with its position.
std::vector<std::pair<int64_t, int32_t>> ObjectHeaders(const std::string& data) {
  std::vector<std::pair<int64_t, int32_t>> out;
  static const std::regex header("(^|[\\r\\n])([0-9]+) ([0-9]+) obj\\b");
  for (auto it = std::sregex_iterator(data.begin(), data.end(), header);
       it != std::sregex_iterator(); ++it)
    out.emplace_back((*it)[2].first - data.begin(), std::stoi((*it)[2]));
  return out;
}

}  // namespace

// Every object of the clean corpus files reads, and every stream's data ends where its /Length
// says (or where "endstream" stands when /Length is indirect).
TEST(ReaderCorpus, EveryObjectOfTheDocumentsReads) {
  SV_REQUIRE_CORPUS();
  int objects = 0, streams = 0;
  for (const auto& path : sv::test::CorpusFiles("docs")) {
    SCOPED_TRACE(path);
    std::string bytes = sv::test::ReadFile(path);
    rtl::TMemoryStream m(bytes);
    TzoPDFStreamReader r(1, &m);
    EXPECT_LE(static_cast<int>(r.ReadHeader()), 6);
    int64_t startxref = r.FindStartXRef();
    EXPECT_GT(startxref, 0);
    EXPECT_LT(startxref, m.Size());
    {
      // A file stream is searched through its reads: the same offset.
      rtl::TFileStream f(path, rtl::TFileStream::fmOpenRead);
      TzoPDFStreamReader fr(1, &f);
      EXPECT_EQ(fr.FindStartXRef(), startxref);
      fr.SetPosition(startxref);
      EXPECT_FALSE(fr.PeekToken().empty());
    }
    for (auto [at, number] : ObjectHeaders(bytes)) {
      r.SetPosition(at);
      std::unique_ptr<TzoPDFObject> obj;
      ASSERT_NO_THROW(obj = r.ReadObject()) << "object at " << at;
      ASSERT_TRUE(obj && obj->IsIndirectObject());
      EXPECT_EQ(obj->AsIndirect()->ObjectNumber(), number);
      ++objects;
      if (auto* s = obj->AsIndirect()->DirectObject()->AsStream()) {
        auto* len = s->Dict()->GetValue("/Length");
        int64_t length = len && len->IsInteger() ? len->AsInteger()->Value() : -1;
        std::unique_ptr<rtl::TMemoryStream> data;
        ASSERT_NO_THROW(data = r.ReadStreamData(length, number, 0)) << "stream at " << at;
        if (length >= 0) {
          EXPECT_EQ(data->Size(), length);
        }
        EXPECT_EQ(r.PeekToken(), "endobj");
        ++streams;
      }
    }
  }
  EXPECT_GT(objects, 3000);
  EXPECT_GT(streams, 500);
}

// Stream data of RC4 files read through our decryptor equals what qpdf decrypts.
TEST(ReaderCorpus, DecryptedStreamsEqualQpdfs) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf");
  int compared = 0;
  for (const auto& path : sv::test::CorpusFiles("encrypted")) {
    std::string name = rtl::ExtractFileName(path);
    if (name.rfind("rc4", 0) != 0) continue;
    SCOPED_TRACE(path);
    std::string bytes = sv::test::ReadFile(path);
    rtl::TMemoryStream m(bytes);
    TzoPDFStreamReader r(1, &m);
    // The cross-reference stream holds /ID and /Encrypt.
    r.SetPosition(r.FindStartXRef());
    std::unique_ptr<TzoPDFObject> xref;
    std::unique_ptr<TzoPDFDictObject> classic;
    TzoPDFDictObject* trailer;
    if (r.PeekToken() == "xref") {
      classic = r.ReadTrailer();
      trailer = classic.get();
    } else {
      xref = r.ReadObject();
      trailer = xref->AsIndirect()->DirectObject()->AsStream()->Dict();
    }
    auto* ref = trailer->GetValue("/Encrypt")->AsReference();
    std::unique_ptr<TzoPDFDictObject> encrypt;
    for (auto [at, number] : ObjectHeaders(bytes)) {
      if (number != ref->ObjectNumber()) continue;
      r.SetPosition(at);
      auto obj = r.ReadObject();
      encrypt = CloneOf(*obj->AsIndirect()->DirectObject()->AsDict());
    }
    ASSERT_TRUE(encrypt);
    TzoPDFDecrypt d;
    d.SetFileID(PDFStringBytes(*trailer->GetValue("/ID")->AsArray()->GetItem(0)->AsString()));
    d.SetEncryptDict(*encrypt);
    TzoPDFEncryptionSettings s;
    ASSERT_EQ(d.Authenticate(s, "owner"), 1);
    r.SetDecryptor(&d);
    int inFile = 0;
    for (auto [at, number] : ObjectHeaders(bytes)) {
      r.SetPosition(at);
      auto obj = r.ReadObject();
      auto* st = obj->AsIndirect()->DirectObject()->AsStream();
      if (!st || st->Dict()->GetValue("/Type") || inFile >= 6) continue;
      auto* len = st->Dict()->GetValue("/Length");
      auto data =
          r.ReadStreamData(len && len->IsInteger() ? len->AsInteger()->Value() : -1, number, 0);
      auto q = sv::test::RunCommand({"qpdf", "--password=owner",
                                     "--show-object=" + std::to_string(number), "--raw-stream-data",
                                     path});
      ASSERT_EQ(q.exitCode, 0) << q.err;
      EXPECT_EQ(data->ToString(), q.out) << "object " << number;
      ++inFile;
      ++compared;
    }
  }
  EXPECT_GE(compared, 20);
}
