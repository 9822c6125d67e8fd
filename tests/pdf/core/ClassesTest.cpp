#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <random>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoPDFUtils.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes)
    s += static_cast<char>(b);
  return s;
}

// A memory stream of another class: the random-access filter reads it through its slots, not
// through the direct memory path.
class OtherMemoryStream : public rtl::TMemoryStream {
 public:
  using rtl::TMemoryStream::TMemoryStream;
};

}  // namespace

TEST(ExtMemStream, BigEndianNumbers) {
  TzoExtMemStream m;
  m.WriteLongWord(258);
  m.WriteWord(0xFFFE);
  m.WriteByte(7);
  const uint8_t more[] = {1, 2};
  m.WriteBytes(more);
  m.WriteString("ab");
  EXPECT_EQ(m.ToString(), Bytes({0, 0, 1, 2, 0xFF, 0xFE, 7, 1, 2, 'a', 'b'}));
  m.SetPosition(0);
  EXPECT_EQ(m.ReadLongWord(), 258u);
  EXPECT_EQ(m.ReadSmallInt(), -2);
  m.Skip(-2);
  EXPECT_EQ(m.ReadWord(), 65534);
  EXPECT_EQ(m.ReadByte(), 7);
  std::string s;
  EXPECT_EQ(m.ReadString(100, s), 4);  // only what is there
  EXPECT_EQ(s, Bytes({1, 2, 'a', 'b'}));
  // At the end: missing bytes read as 0 and nothing moves past the end.
  EXPECT_EQ(m.ReadLongWord(), 0u);
  EXPECT_EQ(m.ReadByte(), 0);
  EXPECT_EQ(m.Position(), m.Size());
  // A last word cut in half reads its one byte high.
  m.SetPosition(m.Size() - 1);
  EXPECT_EQ(m.ReadWord(), 'b' << 8);
}

TEST(ExtMemStream, SkipIsClampedAndPaddingCounts) {
  TzoExtMemStream m(std::string(13, 'x'));
  m.Skip(100);
  EXPECT_EQ(m.Position(), 13);
  m.Skip(-100);
  EXPECT_EQ(m.Position(), 0);
  m.Skip(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(m.Position(), 13);
  m.Skip(std::numeric_limits<int64_t>::min());
  EXPECT_EQ(m.Position(), 0);

  m.PadToLongWord();
  EXPECT_EQ(m.PadCount(), 3);
  EXPECT_EQ(m.Size(), 16);
  EXPECT_EQ(m.ToString().substr(13), std::string(3, '\0'));
  m.PadToLongWord();
  EXPECT_EQ(m.PadCount(), 0);
  EXPECT_EQ(m.Size(), 16);
  EXPECT_EQ(m.Position(), 16);
}

TEST(StreamFilters, NullStreamAndWrongDirection) {
  try {
    TzoReadOnlyFilter f(nullptr);
    FAIL();
  } catch (const EInvalidStream& e) {
    EXPECT_EQ(e.Message(), "Invalid Stream! Cannot create with null stream");
  }
  EXPECT_THROW(TzoWriteOnlyFilter(nullptr), EInvalidStream);
  EXPECT_THROW(TzoRandomAccessFilter(nullptr), EInvalidStream);

  rtl::TMemoryStream m("abc");
  TzoRandomAccessFilter r(&m);
  try {
    r.Write("x", 1);
    FAIL();
  } catch (const ::EReadError& e) {
    EXPECT_EQ(e.Message(), "A write-only filter cannot read");
  }
  EXPECT_EQ(m.ToString(), "abc");
  EXPECT_EQ(m.Position(), 0);

  rtl::TMemoryStream out;
  TzoWriteOnlyFilter w(&out);
  w.WriteString("hello");
  EXPECT_EQ(out.ToString(), "hello");
  char buf[2];
  try {
    w.Read(buf, 2);
    FAIL();
  } catch (const ::EReadError& e) {
    EXPECT_EQ(e.Message(), "A write-only filter cannot read");
  }
  EXPECT_EQ(w.Seek(1, rtl::TSeekOrigin::soBeginning), 1);
  EXPECT_EQ(out.Position(), 1);
}

TEST(StreamFilters, ReadOnlySizeIsTakenAtCreation) {
  rtl::TMemoryStream m("abcd");
  TzoReadOnlyFilter f(&m);
  m.SetPosition(4);
  m.WriteString("ef");
  EXPECT_EQ(f.Size(), 4);
  f.SetPosition(1);
  char c;
  EXPECT_EQ(f.Read(&c, 1), 1);
  EXPECT_EQ(c, 'b');
  EXPECT_EQ(m.Position(), 2);
}

// The peek and step-back rules hold on both reading paths: straight from a TMemoryStream's memory
// and through the slots of any other stream.
class RandomAccess : public testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<rtl::TMemoryStream> Make(std::string_view bytes) {
    if (GetParam()) return std::make_unique<rtl::TMemoryStream>(bytes);
    return std::make_unique<OtherMemoryStream>(bytes);
  }
};

TEST_P(RandomAccess, PeekAtAndBeforeTheEnd) {
  auto m = Make("abcd");
  TzoRandomAccessFilter f(m.get());
  EXPECT_FALSE(f.EndOfStream());
  m->SetPosition(2);
  EXPECT_EQ(f.PeekByte(), 'c');
  EXPECT_FALSE(f.EndOfStream());
  EXPECT_EQ(m->Position(), 2);
  m->SetPosition(3);
  EXPECT_EQ(f.PeekByte(), 'd');  // the last byte
  EXPECT_TRUE(f.EndOfStream());
  EXPECT_EQ(m->Position(), 3);
  m->SetPosition(4);
  EXPECT_EQ(f.PeekByte(), 0);  // nothing left: no step back either
  EXPECT_TRUE(f.EndOfStream());
  EXPECT_EQ(m->Position(), 4);
  m->SetPosition(0);
  f.PeekByte();
  EXPECT_FALSE(f.EndOfStream());
}

TEST_P(RandomAccess, ReadsAndStepsAtTheEnds) {
  auto m = Make("abcd");
  TzoRandomAccessFilter f(m.get());
  std::string s;
  EXPECT_EQ(f.ReadByte(), 'a');
  EXPECT_EQ(f.PeekString(9, s), 3);  // fewer bytes than asked: back by what was read
  EXPECT_EQ(s, "bcd");
  EXPECT_EQ(f.Position(), 1);
  EXPECT_EQ(f.ReadString(2, s), 2);
  EXPECT_EQ(s, "bc");
  EXPECT_EQ(f.Position(), 3);
  // A count from damaged data allocates no more than the bytes left.
  EXPECT_EQ(f.ReadString(std::numeric_limits<int64_t>::max(), s), 1);
  EXPECT_EQ(s, "d");
  EXPECT_TRUE(f.AtEnd());
  EXPECT_EQ(f.ReadByte(), 0);
  EXPECT_EQ(f.Position(), 4);
  EXPECT_EQ(f.ReadString(5, s), 0);
  EXPECT_EQ(s, "");
  EXPECT_EQ(f.PeekString(-3, s), 0);
  EXPECT_EQ(f.Position(), 4);

  f.StepBack();
  EXPECT_EQ(f.ReadByte(), 'd');
  f.SetPosition(0);
  f.StepBack();  // never before the start
  EXPECT_EQ(f.Position(), 0);
  f.Skip(-10);
  EXPECT_EQ(f.Position(), 0);
  f.Skip(2);
  EXPECT_EQ(f.ReadByte(), 'c');
  f.Skip(10);  // not clamped at the end
  EXPECT_EQ(f.Position(), 13);
  EXPECT_TRUE(f.AtEnd());
  EXPECT_EQ(f.ReadByte(), 0);
  EXPECT_EQ(f.PeekByte(), 0);
  EXPECT_TRUE(f.EndOfStream());
  f.Skip(std::numeric_limits<int64_t>::max());  // no overflow
  EXPECT_TRUE(f.AtEnd());
}

TEST_P(RandomAccess, FollowsMovesOfTheWrappedStreamAndReadLoopsEnd) {
  auto m = Make("0123456789");
  TzoRandomAccessFilter f(m.get());
  m->SetPosition(7);
  EXPECT_EQ(f.ReadByte(), '7');
  EXPECT_EQ(m->Position(), 8);
  char buf[8];
  EXPECT_EQ(f.Read(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "89");
  f.SetPosition(0);
  std::string all;
  int guard = 0;
  while (!f.AtEnd() && ++guard < 100)
    all += static_cast<char>(f.ReadByte());
  EXPECT_EQ(all, "0123456789");
}

INSTANTIATE_TEST_SUITE_P(BothPaths, RandomAccess, testing::Bool(),
                         [](const auto& info) { return info.param ? "Memory" : "Slots"; });

TEST(ObjectList, AddFindAndIndexErrors) {
  TzoObjectList list;
  rtl::TObject a, b, c;
  EXPECT_EQ(list.Add(MakeObjectKey(1, 5, 0), &a), 0);
  EXPECT_EQ(list.Add(MakeObjectKey(1, 6, 0), &b), 1);
  EXPECT_EQ(list.Add(MakeObjectKey(1, 5, 0), &c), 2);  // a duplicate
  EXPECT_EQ(list.IndexOfID(MakeObjectKey(1, 5, 0)), 0);
  EXPECT_EQ(list.IndexOfID(MakeObjectKey(1, 6, 0)), 1);
  EXPECT_EQ(list.IndexOfID(MakeObjectKey(2, 5, 0)), -1);
  EXPECT_EQ(list.GetObject(2), &c);
  try {
    list.GetObject(list.Count());
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (3)");
  }
  EXPECT_THROW(list.GetObject(-1), rtl::Exception);

  try {
    list.Add(MakeObjectKey(1, -1, 0), &a);
    FAIL();
  } catch (const EInvalidID& e) {
    EXPECT_EQ(e.Message(), "Invalid unique ID (-1)");
  }
  EXPECT_THROW(list.Add(MakeObjectKey(-7, 1, 0), &a), EInvalidID);
  EXPECT_EQ(list.Count(), 3);

  list.Clear();  // the objects live on: they belong to this test
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.IndexOfID(MakeObjectKey(1, 5, 0)), -1);
  EXPECT_EQ(list.Add(MakeObjectKey(1, 5, 0), &b), 0);
  EXPECT_EQ(list.GetObject(0), &b);
}

TEST(ObjectList, GrowthSteps) {
  TzoObjectList list;
  std::vector<int32_t> capacities{list.Capacity()};
  for (int32_t i = 0; i < 118; ++i) {
    list.Add(MakeObjectKey(0, i, 0), nullptr);
    if (list.Capacity() != capacities.back()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{0, 4, 8, 12, 28, 44, 60, 76, 95, 118}));
}

// Inserts anywhere keep the constant-time lookup equal to a scan from the start.
TEST(ObjectList, LookupAgreesWithAScanUnderInserts) {
  TzoObjectList list;
  std::mt19937 rng(7);
  for (int step = 0; step < 600; ++step) {
    TzoObjectKey key =
        MakeObjectKey(static_cast<int32_t>(rng() % 3), static_cast<int32_t>(rng() % 40),
                      static_cast<uint16_t>(rng() % 2));
    int32_t index = static_cast<int32_t>(rng() % static_cast<uint32_t>(list.Count() + 1));
    list.Insert(index, key, nullptr);
    if (step % 50 == 49) {
      for (int32_t d = 0; d < 3; ++d)
        for (int32_t o = 0; o < 40; ++o)
          for (uint16_t g = 0; g < 2; ++g) {
            TzoObjectKey k = MakeObjectKey(d, o, g);
            int32_t scan = -1;
            for (int32_t i = 0; i < list.Count() && scan < 0; ++i)
              if (list.GetID(i) == k) scan = i;
            ASSERT_EQ(list.IndexOfID(k), scan);
          }
    }
  }
  EXPECT_THROW(list.Insert(list.Count() + 1, MakeObjectKey(0, 0, 0), nullptr), rtl::Exception);
  EXPECT_THROW(list.Insert(-1, MakeObjectKey(0, 0, 0), nullptr), rtl::Exception);
}

TEST(Component, AboutAndVersionReadEmpty) {
  TzoComponent c;
  c.SetAbout("x");
  c.SetVersion("1.0");
  EXPECT_EQ(c.About(), "");
  EXPECT_EQ(c.Version(), "");
}
