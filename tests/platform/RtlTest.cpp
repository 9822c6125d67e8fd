#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/CodePage.h"
#include "platform/RtlClasses.h"
#include "tests/support/TestSupport.h"

using namespace rtl;

TEST(Format, PlaceholdersWidthsAndPrecision) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {Format("Invalid page number (%d)", -3), "Invalid page number (-3)"},
      {Format("Unsupported filter (%s)", "/JBIG2Decode"), "Unsupported filter (/JBIG2Decode)"},
      {Format("%.10d %.5d %s", 19, 0, "n"), "0000000019 00000 n"},
      {Format("%1.4f", 1.0), "1.0000"},
      {Format("%1.4f", 0.5), "0.5000"},
      {Format("100%% %x %X", 255u, 255), "100% ff FF"},
      {Format("%5s|%-5s|", "ab", "cd"), "   ab|cd   |"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.got, c.want);
  EXPECT_THROW(Format("%d"), EConvertError);
  EXPECT_THROW(Format("%d", "text"), EConvertError);
}

TEST(StrToInt, AcceptsWholeNumbersOnly) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("$FF"), 255);
  for (const char* bad : {"", "-", "12a", "2147483648", " 1", "1.5"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(StrToIntDef("x", 7), 7);
}

TEST(FileNames, PartsAndExtensions) {
  EXPECT_EQ(ExtractFileExt("/a/b.c/report.PDF"), ".PDF");
  EXPECT_EQ(ExtractFileExt("/a/b.c/report"), "");
  EXPECT_EQ(ExtractFileName("/a/b/c.pdf"), "c.pdf");
  EXPECT_EQ(ExtractFilePath("/a/b/c.pdf"), "/a/b/");
  EXPECT_EQ(ChangeFileExt("/a/log_check.csv", "_log.csv"), "/a/log_check_log.csv");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/b/"), "/a/b");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(MemoryStream, ReadWriteSeekAndGrow) {
  TMemoryStream m;
  m.WriteString("hello");
  EXPECT_EQ(m.Size(), 5);
  m.SetPosition(8);
  m.WriteString("!");
  EXPECT_EQ(m.ToString(), std::string("hello\0\0\0!", 9));
  m.SetPosition(7);
  char buf[16];  // room for the 10 bytes ReadBuffer asks for
  EXPECT_EQ(m.Read(buf, 4), 2);
  EXPECT_EQ(m.Read(buf, 4), 0);
  EXPECT_EQ(m.Seek(-100, TSeekOrigin::soCurrent), 0);
  EXPECT_THROW(m.ReadBuffer(buf, 10), rtl::EReadError);
}

TEST(FileStream, CreateReadAndErrors) {
  sv::test::TempDir dir;
  std::string name = dir / "f.bin";
  {
    TFileStream f(name, TFileStream::fmCreate);
    f.WriteString("abc");
  }
  TMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(m.ToString(), "abc");
  EXPECT_THROW(TFileStream(dir / "missing", TFileStream::fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(dir / "no/such/dir", TFileStream::fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(dir.Path(), TFileStream::fmOpenRead), EFOpenError);
}

TEST(FileStream, RegularOnlyOpensWithoutWaitingAndRefusesEverythingButAFile) {
  sv::test::TempDir dir;
  const std::string file = dir / "f.pdf";
  sv::test::WriteFile(file, "%PDF-1.4\n");
  {
    TFileStream f(file, TFileStream::fmOpenRead | TFileStream::fmRegularOnly);
    EXPECT_EQ(f.Size(), 9);
  }
  // A FIFO without a writer would keep a plain open waiting for ever.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const std::string& path : {dir / "pipe", std::string("/dev/null"), dir.Path()}) {
    try {
      TFileStream f(path, TFileStream::fmOpenRead | TFileStream::fmRegularOnly);
      ADD_FAILURE() << path << " was opened";
    } catch (const EFOpenError& e) {
      EXPECT_NE(e.Message().find("\"" + path + "\""), std::string::npos) << e.Message();
    }
  }
  // Without the flag a device still opens.
  EXPECT_NO_THROW(TFileStream("/dev/null", TFileStream::fmOpenRead));
}

// The data of a file leave out the holes of a sparse one, whatever its size claims.
TEST(FileStream, DataSizeLeavesOutTheHolesOfASparseFile) {
  sv::test::TempDir dir;
  constexpr int64_t kGiB = int64_t{1} << 30;
  const std::string block(4096, 'd');
  struct {
    const char* what;
    int64_t size;
    std::vector<int64_t> blocks;  // offsets of the 4 KiB blocks written
  } cases[] = {
      {"empty", 0, {}},
      {"plain", 10000, {}},
      {"all holes", 6 * kGiB, {}},
      {"data at both ends and in the middle", 2 * kGiB, {0, kGiB, 2 * kGiB - 4096}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = dir / "f.bin";
    TFileStream f(name, TFileStream::fmCreate);
    if (c.blocks.empty() && c.size < kGiB) {
      f.WriteString(std::string(static_cast<size_t>(c.size), 'p'));
    } else {
      f.SetSize(c.size);
      for (int64_t at : c.blocks) {
        f.SetPosition(at);
        f.WriteString(block);
      }
    }
    struct stat st;
    ASSERT_EQ(::fstat(f.Handle(), &st), 0);
    const bool holes = int64_t{st.st_blocks} * 512 < c.size;
    if (c.size >= kGiB && !holes) GTEST_SKIP() << "this file system keeps no holes";
    f.SetPosition(3);
    const int64_t data = f.DataSize();
    EXPECT_EQ(f.Position(), 3);
    EXPECT_EQ(f.Size(), c.size);
    if (c.size < kGiB) {
      EXPECT_EQ(data, c.size);
    } else {
      // Whole blocks of data (the file system may give each a little more room).
      const int64_t written = 4096 * static_cast<int64_t>(c.blocks.size());
      EXPECT_GE(data, written);
      EXPECT_LE(data, written + 1024 * 1024);
    }
  }
}

TEST(StringList, TextLinesAndBounds) {
  TStringList l;
  l.SetText("a\r\nb\nc\rd");
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Strings(3), "d");
  EXPECT_EQ(l.Text(), "a\r\nb\r\nc\r\nd\r\n");
  l.SetText("x\r\n\r\ny\r\n");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_THROW(l.Strings(3), EListError);
}

TEST(CodePage, RoundTripsJapaneseAndFillsGaps) {
  std::u16string jp = u"日本語のファイル名ｱｲｳ";
  EXPECT_EQ(platform::AnsiToWide(platform::WideToAnsi(jp)), jp);
  EXPECT_EQ(platform::WideToAnsi(u"\u00A5"), "\\");  // best fit, as Windows maps it
  EXPECT_EQ(platform::WideToAnsi(u"\u0100\u20AC"), "??");
  EXPECT_EQ(platform::WideToAnsi(u"表"), "\x95\x5C");  // trail byte 0x5C
  EXPECT_EQ(platform::AnsiToWide("\x80\xA0\xFD\xFE\xFF"), u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3");
  EXPECT_EQ(platform::WideToAnsi(u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3"), "\x80\xA0\xFD\xFE\xFF");
  EXPECT_EQ(platform::WideToAnsi(u"\U0001F600x"), "?x");
  EXPECT_EQ(platform::AnsiToUtf8("\x93\xfa\x96\x7b"), "日本");
  EXPECT_EQ(platform::Utf8ToAnsi("日本"), "\x93\xfa\x96\x7b");
  EXPECT_EQ(platform::Utf8ToWide("\xff\x41"), u"\uFFFDA");
}
