#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/IniFiles.h"
#include "tests/support/TestSupport.h"

using rtl::TIniFile;
using sv::test::ReadFile;
using sv::test::TempDir;
using sv::test::WriteFile;

namespace {
std::string Ansi(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}
}  // namespace

TEST(IniFile, FindsSectionsAndKeysInAnyCaseAndReadsIntegersOrDefaults) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "; note\r\n[app]\r\n  wait = 120 \r\nDEBUG=1\r\nHex=0x1F\r\nDollar=$10\r\n"
            "[APP]\r\nwait=999\r\n[Num]\nA=abc\nB=12a\nC=\nD=1.5\nE=99999999999\nF=-7\nG= \n");
  TIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.ReadInteger("App", "Wait", 50), 120);  // the first of two sections counts
  EXPECT_EQ(ini.ReadInteger("aPP", "debug", 0), 1);
  EXPECT_EQ(ini.ReadInteger("App", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("App", "Dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("App", "Missing", 42), 42);
  EXPECT_EQ(ini.ReadInteger("Nowhere", "Wait", 42), 42);
  for (const char* key : {"A", "B", "C", "D", "E", "G"})
    EXPECT_EQ(ini.ReadInteger("Num", key, 5), 5) << key;
  EXPECT_EQ(ini.ReadInteger("Num", "F", 5), -7);
  EXPECT_EQ(ini.ReadString("num", "a", "x"), "abc");
  EXPECT_EQ(ini.ReadString("Num", "C", "x"), "");
  EXPECT_TRUE(ini.SectionExists("NUM"));
  EXPECT_TRUE(ini.ValueExists("num", "g"));
  EXPECT_FALSE(ini.ValueExists("num", "h"));

  TIniFile missing(dir / "none.ini");
  EXPECT_EQ(missing.ReadString("A", "B", "def"), "def");
  EXPECT_EQ(missing.ReadInteger("A", "B", -3), -3);
}

TEST(IniFile, WritingChangesOneValueAndKeepsEverythingElse) {
  TempDir dir;
  std::string path = dir / "job.ini";
  WriteFile(path, "; hand-written\n[Secu]\nen=1\nOther=keep me\n\n[PDF]\nTitle=old\n");
  TIniFile ini(path);
  ini.WriteInteger("SECU", "EN", 0);   // existing key: changed in place, its spelling kept
  ini.WriteString("Secu", "PR", "1");  // new key: end of its section, before the blank
  ini.WriteString("pdf", "title", Ansi("表題"));  // CP932 bytes as they are
  ini.WriteString("Job", "SubDir", "1");          // new section at the end
  EXPECT_EQ(ReadFile(path),
            "; hand-written\r\n[Secu]\r\nen=0\r\nOther=keep me\r\nPR=1\r\n\r\n[PDF]\r\n"
            "Title=" +
                Ansi("表題") + "\r\n\r\n[Job]\r\nSubDir=1\r\n");
  EXPECT_EQ(ini.ReadString("PDF", "Title", ""), Ansi("表題"));

  TIniFile fresh(dir / "fresh.ini");
  fresh.WriteInteger("Pos", "Top", 10);
  fresh.WriteInteger("Pos", "Left", -20);
  EXPECT_EQ(ReadFile(dir / "fresh.ini"), "[Pos]\r\nTop=10\r\nLeft=-20\r\n");
}

TEST(IniFile, TextValuesReadBackAsWritten) {
  TempDir dir;
  TIniFile ini(dir / "t.ini");
  const std::string values[] = {"plain",  " leading", "trailing ", "\"quoted\"",   "'single'",
                                "\"half", "a=b=c",    "",          Ansi("ソ表\\"), "x;y"};
  for (const auto& v : values) {
    ini.WriteString("S", "K", v);
    EXPECT_EQ(ini.ReadString("S", "K", "?"), v);
  }
  // A line break in a value cannot make new keys.
  ini.WriteString("S", "K", "a\r\nEN=0\nb");
  EXPECT_EQ(ini.ReadString("S", "K", "?"), "a  EN=0 b");
  EXPECT_FALSE(ini.ValueExists("S", "EN"));
}

TEST(IniFile, AFileThatCannotBeWrittenRaisesTheWriteErrorAndStaysAsItWas) {
  TempDir dir;
  WriteFile(dir / "plain", "x");
  ::mkdir((dir / "folder.ini").c_str(), 0777);
  for (std::string path : {dir / "missing/a.ini", dir / "plain/a.ini", dir / "folder.ini"}) {
    TIniFile ini(path);
    try {
      ini.WriteInteger("Pos", "Top", 1);
      ADD_FAILURE() << path;
    } catch (const rtl::EIniFileException& e) {
      EXPECT_EQ(e.Message(), path + Ansi(" に書き込めません"));
    }
  }
  // A read-only file (only enforceable when not root).
  if (::geteuid() != 0) {
    std::string ro = dir / "ro.ini";
    WriteFile(ro, "[Pos]\r\nTop=5\r\n");
    ::chmod(ro.c_str(), 0444);
    EXPECT_THROW(TIniFile(ro).WriteInteger("Pos", "Top", 1), rtl::EIniFileException);
    EXPECT_EQ(ReadFile(ro), "[Pos]\r\nTop=5\r\n");
  }
}

TEST(IniFile, AWrittenFileIsItsOwnersAloneWhateverTheMaskAndTheOldMode) {
  for (const mode_t mask : {mode_t{0}, mode_t{022}}) {
    SCOPED_TRACE(mask);
    TempDir dir;
    WriteFile(dir / "old.ini", "[Pos]\r\nTop=5\r\n");
    ::chmod((dir / "old.ini").c_str(), 0644);
    const mode_t old = ::umask(mask);
    TIniFile(dir / "new.ini").WriteInteger("Pos", "Top", 1);
    TIniFile(dir / "old.ini").WriteInteger("Pos", "Left", 2);
    ::umask(old);
    for (const char* name : {"new.ini", "old.ini"}) {
      struct stat st {};
      ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
    EXPECT_EQ(ReadFile(dir / "old.ini"), "[Pos]\r\nTop=5\r\nLeft=2\r\n");
  }
}
