#include <gtest/gtest.h>

#include <set>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoPDFConsts.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFUtils.h"
#include "platform/CodePage.h"

TEST(ObjectKeys, DistinctTriplesFileApart) {
  // Triples whose decimal digits run together alike, and large document and object numbers.
  const TzoObjectKey keys[] = {
      MakeObjectKey(1, 12, 0),
      MakeObjectKey(1, 1, 20),
      MakeObjectKey(11, 2, 0),
      MakeObjectKey(100, 12, 0),
      MakeObjectKey(100, 1, 20),
      MakeObjectKey(100000, 1234567, 0),
      MakeObjectKey(2148, 12345, 0),
      MakeObjectKey(215, 123456, 0),
      MakeObjectKey(2147483647, 2147483647, 65535),
      MakeObjectKey(0, 0, 0),
  };
  TzoObjectList list;
  rtl::TObject objs[std::size(keys)];
  for (size_t i = 0; i < std::size(keys); ++i)
    list.Add(keys[i], &objs[i]);  // none refused
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(list.IndexOfID(keys[i]), static_cast<int32_t>(i));
    for (size_t j = 0; j < std::size(keys); ++j)
      EXPECT_EQ(keys[i] == keys[j], i == j) << i << " " << j;
  }
  EXPECT_EQ(MakeObjectKey(3, 4, 5), MakeObjectKey(3, 4, 5));
  EXPECT_EQ(TzoObjectKeyHash()(MakeObjectKey(3, 4, 5)), TzoObjectKeyHash()(MakeObjectKey(3, 4, 5)));
}

TEST(IndexOfStr, FindsTheFirstExactEntry) {
  EXPECT_EQ(IndexOfStr(PageModeNames, "/FullScreen"), 3);
  EXPECT_EQ(IndexOfStr(PageModeNames, "/fullscreen"), -1);
  EXPECT_EQ(IndexOfStr(PageLayoutNames, "/None"), 0);
  const std::string_view twice[] = {"a", "b", "a"};
  EXPECT_EQ(IndexOfStr(twice, "a"), 0);
}

TEST(PDFHexToWideString, MarkedAndUnmarkedDigits) {
  std::string many = "FEFF";
  for (int i = 0; i < 2000; ++i)
    many += "0041";
  struct Case {
    std::string digits;
    std::u16string want;
  } cases[] = {
      {"FEFF00410042", u"AB"},
      {"feff0041", u"A"},
      {"FEFF", u""},
      {"", u""},
      {"FE FF 00 41\n00\t42", u"AB"},  // white space between digits
      {"FEFF0041FEFF0042", u"AB"},     // a second mark at a group start is skipped
      {"FEFF004100000042", u"A"},      // the text ends before 0000
      {"FEFF00410", u"A"},             // a single last digit is dropped
      {"FEFF004", u"\x0004"},          // a last group of three digits
      {"FEFF0041.0042", u"A.B"},
      {"FEFF65E5672C", u"日本"},
      {"4142", u"AB"},
      {"93FA967B", u"日本"},               // bytes of the ANSI code page
      {many, std::u16string(2000, u'A')},  // no length cap
  };
  for (const Case& c : cases)
    EXPECT_EQ(PDFHexToWideString(c.digits), c.want) << c.digits;
}

TEST(ReadTokenBefore, WordsBeforeAPosition) {
  struct Case {
    std::string text;
    int64_t pos;
    std::string token;
    int64_t start;
  } cases[] = {
      {"12 0 obj", 9, "obj", 5},
      {"12 0 obj", 100, "obj", 5},  // past the end: from the last
                                    // character
      {"12 0 obj", 5, "0", 3},
      {"obj", 4, "obj", 0},
      {"a  b\r\n ", 8, "b", 3},
      {"  \r\n", 5, "", 0},
      {"abc", 0, "", 0},
      {"", 1, "", 0},
  };
  for (const Case& c : cases) {
    int64_t start = -9;
    std::string token = "junk";
    ReadTokenBefore(c.text, c.pos, start, token);
    EXPECT_EQ(token, c.token) << c.text << " @" << c.pos;
    EXPECT_EQ(start, c.start) << c.text << " @" << c.pos;
  }
}

TEST(ReadTokensBefore, CountsEverySeparator) {
  struct Case {
    std::string text;
    int64_t pos;
    int32_t count;
    std::string want;
  } cases[] = {
      {"1 0 obj", 8, 2, " 0 obj"},
      {"1 0 obj", 8, 3, "1 0 obj"},  // the start of the text comes
                                     // first
      {"x  y\r\n", 7, 2, "  y"},     // two blanks in a row end two words
      {"a\r\nb", 5, 2, "  b"},
      {"1 0 obj", 8, 0, ""},
      {"\r\n\r\n", 5, 4, ""},
  };
  for (const Case& c : cases) {
    std::string result = "junk";
    ReadTokensBefore(c.text, c.pos, c.count, result);
    EXPECT_EQ(result, c.want) << c.text << " " << c.count;
  }
}

TEST(ResourceNames, PrefixesAndNamesInUse) {
  std::vector<int32_t> draws{5, 5, 6};
  size_t next = 0;
  int32_t rangeSeen = 0;
  SetRandomSource([&](int32_t range) {
    rangeSeen = range;
    return draws[next++ % draws.size()];
  });
  std::set<std::string> used{"/RVNFnt5"};
  auto inUse = [&](const std::string& n) { return used.count(n) > 0; };
  EXPECT_EQ(NewFontResourceName(inUse), "/RVNFnt6");
  EXPECT_EQ(rangeSeen, 2147483647);
  EXPECT_EQ(NewImageResourceName(), "/RVNImg5");
  EXPECT_EQ(NewGStateResourceName(), "/GS5");

  // A source that keeps giving a name in use still ends with a free name.
  SetRandomSource([](int32_t) { return 2147483646; });
  used = {"/GS2147483646", "/GS0"};
  EXPECT_EQ(NewGStateResourceName(inUse), "/GS1");
  EXPECT_THROW(NewGStateResourceName([](const std::string&) { return true; }), rtl::Exception);

  SetRandomSource({});
  Randomize();
  std::string a = NewFontResourceName(), b = NewFontResourceName();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind("/RVNFnt", 0), 0u);
  EXPECT_EQ(b.rfind("/RVNFnt", 0), 0u);
}

TEST(ObjectNumbers, NumberToDoubleAndArrayToRect) {
  TzoPDFIntegerObject three(3);
  TzoPDFRealObject half(2.5);
  EXPECT_EQ(NumberToDouble(&three), 3.0);
  EXPECT_EQ(NumberToDouble(&half), 2.5);
  TzoPDFNameObject name("/N");
  TzoPDFInt64Object big(int64_t{1} << 40);
  const TzoPDFObject* bads[] = {&name, &big, nullptr};
  for (const TzoPDFObject* bad : bads) {
    try {
      NumberToDouble(bad);
      ADD_FAILURE();
    } catch (const EUnexpectedObjectError& e) {
      EXPECT_EQ(e.Message(), "Unexpected PDF object encountered");
    }
  }

  TzoPDFArrayObject box;
  box.AddInteger(0);
  box.AddInteger(-10);
  box.Add(std::make_unique<TzoPDFRealObject>(612.5));
  EXPECT_THROW(ArrayToRect(&box, *std::make_unique<TzoRectD>()), EUnexpectedObjectError);
  box.AddInteger(792);
  TzoRectD r;
  ArrayToRect(&box, r);
  EXPECT_EQ(r, MakeRectD(0, -10, 612.5, 792));
  box.SetItem(1, std::make_unique<TzoPDFNameObject>("/X"));  // the old element is freed here
  TzoRectD untouched = MakeRectD(1, 2, 3, 4);
  EXPECT_THROW(ArrayToRect(&box, untouched), EUnexpectedObjectError);
  EXPECT_EQ(untouched, MakeRectD(1, 2, 3, 4));
  EXPECT_THROW(ArrayToRect(nullptr, r), EUnexpectedObjectError);
}

TEST(ObjectReferences, CreateReferenceTo) {
  TzoPDFIndirectObject obj(101, 7, 2, std::make_unique<TzoPDFNullObject>());
  std::unique_ptr<TzoPDFIndirectReference> ref = CreateReferenceTo(obj);
  EXPECT_EQ(ref->DocumentNumber(), 101);
  EXPECT_EQ(ref->ObjectNumber(), 7);
  EXPECT_EQ(ref->Generation(), 2);
  EXPECT_EQ(ref->Key(), obj.Key());
}
