#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <string>

#include "pdf/core/zoClasses.h"
#include "pdf/core/zoDZLIB.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Sample(size_t n, unsigned seed = 7) {
  std::mt19937 rnd(seed);
  std::string s;
  s.reserve(n);
  // Compressible, but not trivially: words of a small alphabet with random bytes between them.
  while (s.size() < n) {
    s += "stream endstream obj ";
    s += static_cast<char>(rnd() & 0xFF);
  }
  s.resize(n);
  return s;
}

std::string Compress(const std::string& data, TCompressionLevel level = clDefault) {
  rtl::TMemoryStream dest;
  TCompressionStream z(level, &dest);
  z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  z.Finish();
  return dest.ToString();
}

// zlib's own one-call inflate: the judge of what the compressing stream wrote.
std::string Uncompress(const std::string& zdata, size_t size) {
  std::string out(size, '\0');
  uLongf len = static_cast<uLongf>(size);
  int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &len,
                      reinterpret_cast<const Bytef*>(zdata.data()), zdata.size());
  if (rc != Z_OK) return "zlib error " + std::to_string(rc);
  out.resize(len);
  return out;
}

std::string ReadAll(TDecompressionStream& z, int64_t piece = 4096) {
  std::string out, buf(static_cast<size_t>(piece), '\0');
  for (;;) {
    int64_t n = z.Read(buf.data(), piece);
    out.append(buf, 0, static_cast<size_t>(n));
    if (n < piece) return out;
  }
}

template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "(no exception)";
}

}  // namespace

TEST(ZStream, EmptyInputStillMakesACompleteZlibStream) {
  for (bool explicitFinish : {true, false}) {
    rtl::TMemoryStream dest;
    {
      TCompressionStream z(clDefault, &dest);
      if (explicitFinish) z.Finish();
    }
    ASSERT_GT(dest.Size(), 2) << explicitFinish;
    EXPECT_EQ(Uncompress(dest.ToString(), 16), "");
    dest.SetPosition(0);
    TDecompressionStream d(&dest);
    char c;
    EXPECT_EQ(d.Read(&c, 1), 0);
    EXPECT_TRUE(d.StreamEnded());
    EXPECT_EQ(dest.Position(), dest.Size());
  }
}

TEST(ZStream, FourLevelsDecodeToTheSameBytes) {
  const std::string data = Sample(200000);
  std::string sizes;
  int64_t previous = 0;
  for (TCompressionLevel level : {clNone, clFastest, clDefault, clMax}) {
    std::string z = Compress(data, level);
    EXPECT_EQ(Uncompress(z, data.size()), data) << int(level);
    rtl::TMemoryStream src(z);
    TDecompressionStream d(&src);
    EXPECT_EQ(ReadAll(d, 10240), data) << int(level);
    if (level == clNone) {
      // Stored blocks: the data itself stands in the zlib stream; the first block is type 00.
      EXPECT_GT(z.size(), data.size());
      EXPECT_EQ(static_cast<uint8_t>(z[2]) & 0x06, 0);
      EXPECT_NE(z.find(data.substr(0, 1000)), std::string::npos);
    } else {
      EXPECT_LT(static_cast<int64_t>(z.size()), static_cast<int64_t>(data.size()) / 2);
    }
    if (level == clMax) {
      EXPECT_LE(static_cast<int64_t>(z.size()), previous);
    }
    previous = static_cast<int64_t>(z.size());
  }
  rtl::TMemoryStream dest;
  EXPECT_THROW(TCompressionStream(static_cast<TCompressionLevel>(4), &dest), EZCompressionError);
}

TEST(ZStream, WritesAtTheDestinationPositionAndCountsInput) {
  rtl::TMemoryStream dest;
  dest.WriteString("HEAD");
  TCompressionStream z(clFastest, &dest);
  EXPECT_EQ(z.StrmPos(), 4);
  const std::string data = Sample(1000);
  EXPECT_EQ(z.Write(data.data(), 600), 600);
  z.WriteBuffer(data.data() + 600, 400);
  EXPECT_EQ(z.Seek(0, rtl::TSeekOrigin::soCurrent), 1000);
  EXPECT_EQ(z.Position(), 1000);
  // Somebody moves the destination meanwhile: the zlib data still follow "HEAD" without a gap.
  dest.SetPosition(0);
  z.Finish();
  EXPECT_EQ(dest.ToString().substr(0, 4), "HEAD");
  EXPECT_EQ(Uncompress(dest.ToString().substr(4), data.size()), data);
  EXPECT_EQ(z.StrmPos(), dest.Size());
}

TEST(ZStream, RefusedOperationsRaise) {
  rtl::TMemoryStream dest;
  TCompressionStream c(clDefault, &dest);
  char buf[8] = {};
  const std::string invalid = SZInvalidOperation;
  EXPECT_EQ(MessageOf<EZCompressionError>([&] { c.Read(buf, 1); }), invalid);
  EXPECT_EQ(MessageOf<EZCompressionError>([&] { c.Seek(0, rtl::TSeekOrigin::soBeginning); }),
            invalid);
  EXPECT_EQ(MessageOf<EZCompressionError>([&] { c.Seek(1, rtl::TSeekOrigin::soCurrent); }),
            invalid);
  EXPECT_EQ(MessageOf<EZCompressionError>([&] { c.Size(); }), invalid);
  EXPECT_EQ(MessageOf<EZCompressionError>([&] { c.Write(buf, -1); }), invalid);
  c.Finish();
  c.Finish();  // a second call does nothing
  EXPECT_EQ(MessageOf<EZCompressionError>([&] { c.Write(buf, 1); }), invalid);

  rtl::TMemoryStream src(Compress("0123456789"));
  TDecompressionStream d(&src);
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Write(buf, 1); }), invalid);
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Read(buf, -5); }), invalid);
  EXPECT_EQ(d.Read(buf, 4), 4);
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Seek(-1, rtl::TSeekOrigin::soCurrent); }),
            invalid);
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Seek(2, rtl::TSeekOrigin::soBeginning); }),
            invalid);
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Seek(-1, rtl::TSeekOrigin::soEnd); }), invalid);
  EXPECT_EQ(d.Read(buf, 8), 6);
  EXPECT_EQ(std::string(buf, 6), "456789");

  EXPECT_THROW(TCompressionStream(clDefault, nullptr), EZCompressionError);
  EXPECT_THROW(TDecompressionStream(nullptr), EZDecompressionError);
}

TEST(ZStream, SourceIsLeftRightAfterTheZlibStream) {
  const std::string data = Sample(150000);
  const std::string z = Compress(data);
  for (int64_t piece : {1, 777, 10240, 1 << 20}) {
    rtl::TMemoryStream src("PRE" + z + "TRAILING BYTES");
    src.SetPosition(3);
    TDecompressionStream d(&src);
    EXPECT_EQ(ReadAll(d, piece), data) << piece;
    EXPECT_EQ(src.Position(), static_cast<int64_t>(3 + z.size())) << piece;
    EXPECT_EQ(d.StrmPos(), src.Position());
    char c;
    EXPECT_EQ(d.Read(&c, 1), 0);
  }
}

TEST(ZStream, SeeksOfTheDecompressingStream) {
  const std::string data = Sample(100000);
  rtl::TMemoryStream src(Compress(data));
  TDecompressionStream d(&src);
  std::string buf(64, '\0');
  d.ReadBuffer(buf.data(), 64);
  EXPECT_EQ(buf, data.substr(0, 64));
  // Back to the start: the first decompressed byte again.
  EXPECT_EQ(d.Seek(0, rtl::TSeekOrigin::soBeginning), 0);
  d.ReadBuffer(buf.data(), 64);
  EXPECT_EQ(buf, data.substr(0, 64));
  // Forward from here and from the beginning (the current position included).
  EXPECT_EQ(d.Seek(20000, rtl::TSeekOrigin::soCurrent), 20064);
  EXPECT_EQ(d.Seek(30000, rtl::TSeekOrigin::soBeginning), 30000);
  EXPECT_EQ(d.Seek(30000, rtl::TSeekOrigin::soBeginning), 30000);
  d.ReadBuffer(buf.data(), 64);
  EXPECT_EQ(buf, data.substr(30000, 64));
  EXPECT_EQ(d.Position(), 30064);
  EXPECT_EQ(d.Seek(0, rtl::TSeekOrigin::soEnd), static_cast<int64_t>(data.size()));
  // Past the end of the data: the class library's read error.
  d.Seek(0, rtl::TSeekOrigin::soBeginning);
  EXPECT_THROW(d.Seek(static_cast<int64_t>(data.size()) + 1, rtl::TSeekOrigin::soCurrent),
               rtl::EReadError);
}

TEST(ZStream, DamagedDataRaiseAndTruncatedDataEndQuietly) {
  const std::string data = Sample(50000);
  const std::string z = Compress(data);

  std::string damaged = z;
  damaged[0] = 0x79;  // a header that fails its check
  rtl::TMemoryStream s1(damaged);
  TDecompressionStream d1(&s1);
  char buf[256];
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d1.Read(buf, sizeof buf); }), "data error");

  rtl::TMemoryStream s2(z.substr(0, z.size() / 2));
  TDecompressionStream d2(&s2);
  std::string part = ReadAll(d2);
  EXPECT_GT(part.size(), 0u);
  EXPECT_LT(part.size(), data.size());
  EXPECT_EQ(part, data.substr(0, part.size()));
  EXPECT_FALSE(d2.StreamEnded());
}

TEST(ZStream, PresetDictionaryEndsTheDecode) {
  // Made by Python's zlib with zdict (see fixtures/filters/make-fixtures.sh).
  const std::string z =
      sv::test::ReadFile(sv::test::SourceDir() + "tests/pdf/core/fixtures/filters/dict.zlib");
  ASSERT_TRUE(static_cast<uint8_t>(z[1]) & 0x20) << "FDICT flag expected";
  rtl::TMemoryStream src(z);
  TDecompressionStream d(&src);
  char buf[64];
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Read(buf, sizeof buf); }), "need dictionary");
}

TEST(ZStream, DecodedSizeLimit) {
  EXPECT_EQ(DecodedSizeLimit(), int64_t{256} * 1024 * 1024);
  EXPECT_THROW(SetDecodedSizeLimit(0), rtl::Exception);

  // Two MiB of zeros in about two KiB: a bomb for a limit of one MiB.
  const std::string bomb = Compress(std::string(2 << 20, '\0'), clMax);
  ASSERT_LT(bomb.size(), 8192u);
  const int64_t limit = 1 << 20;
  rtl::TMemoryStream src(bomb);
  TDecompressionStream d(&src);
  EXPECT_EQ(d.SizeLimit(), DecodedSizeLimit());
  d.SetSizeLimit(limit);
  std::string out(3 << 20, 'x');
  EXPECT_EQ(MessageOf<EZDecompressionError>([&] { d.Read(out.data(), 3 << 20); }),
            rtl::Format(SDecodedSizeLimit, limit));
  // Nothing was written past the limit (and one byte).
  EXPECT_EQ(out.find_first_not_of('\0'), static_cast<size_t>(limit + 1));
  EXPECT_THROW(d.Read(out.data(), 1), EZDecompressionError);

  // Exactly at the limit is fine.
  rtl::TMemoryStream src2(Compress(std::string(limit, 'a')));
  TDecompressionStream d2(&src2);
  d2.SetSizeLimit(limit);
  EXPECT_EQ(ReadAll(d2, 1 << 16).size(), static_cast<size_t>(limit));
}

TEST(ZStream, ProgressAfterEachFullBuffer) {
  const std::string data = Sample(400000, 3);
  rtl::TMemoryStream dest;
  int written = 0;
  {
    TCompressionStream z(clNone, &dest);
    z.OnProgress = [&](rtl::TObject* sender) {
      EXPECT_EQ(sender, &z);
      ++written;
    };
    z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    z.Finish();
  }
  EXPECT_GE(written, static_cast<int>(data.size() / 65536) - 1);
  EXPECT_LE(written, static_cast<int>(dest.Size() / 65536));

  int read = 0;
  dest.SetPosition(0);
  TDecompressionStream d(&dest);
  d.OnProgress = [&](rtl::TObject*) { ++read; };
  EXPECT_EQ(ReadAll(d, 100000), data);
  EXPECT_EQ(read, static_cast<int>((dest.Size() + 65535) / 65536));
}

TEST(ZStream, FinishReportsErrorsAndTheDestructorDoesNot) {
  // A destination that refuses writes.
  rtl::TMemoryStream mem;
  TzoReadOnlyFilter readOnly(&mem);
  auto z = std::make_unique<TCompressionStream>(clDefault, &readOnly);
  z->WriteString("some data");
  EXPECT_THROW(z->Finish(), EReadError);
  EXPECT_FALSE(z->Finished());
  EXPECT_NO_THROW(z.reset());

  auto z2 = std::make_unique<TCompressionStream>(clDefault, &readOnly);
  z2->WriteString("never finished");
  EXPECT_NO_THROW(z2.reset());
}
