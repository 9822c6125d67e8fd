// What the check does without an outside program: list lines, the version read from a
// file's first line, paths.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/apps/kettrin/KettrinTestSupport.h"

using sv::test::J;
using sv::test::WriteFile;
using V = std::vector<std::string>;

TEST(SplitCsvLine, SplitsAtCommasWithQuotedFields) {
  struct Case {
    std::string line;
    V fields;
  } cases[] = {
      {"/d/a.pdf,user,owner,1.4", {"/d/a.pdf", "user", "owner", "1.4"}},
      {"", {""}},
      {",", {"", ""}},
      {"a,,c,", {"a", "", "c", ""}},
      {"a b , c", {"a b ", " c"}},  // blanks are kept
      {"/d/a.pdf,u,o,1.4,more,fields", {"/d/a.pdf", "u", "o", "1.4", "more", "fields"}},
      {"\"a,b\",c", {"a,b", "c"}},
      {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},
      {"\"\"\"\",x", {"\"", "x"}},
      // A quoted last field is followed by one more, empty, field.
      {"a,\"b\"", {"a", "b", ""}},
      {"\"\"", {"", ""}},
      {"a,\"b\",", {"a", "b", ""}},
      // Without its closing quote the field runs to the end of the line.
      {"a,\"open,end", {"a", "open,end", ""}},
      // The character after a closing quote is taken as the separator, whatever it is.
      {"\"x\"y,z", {"x", "", "z"}},
      // Second bytes of double-byte characters are never commas or quotes.
      {J("ソ,表,\"予\",能"), {J("ソ"), J("表"), J("予"), J("能")}},
  };
  for (const Case& c : cases) {
    V fields{"left over"};
    EXPECT_EQ(SplitCsvLine(c.line, fields), static_cast<int>(c.fields.size())) << c.line;
    EXPECT_EQ(fields, c.fields) << c.line;
  }
}

TEST(ReadPdfVersion, TakesTheCharacterAfterPdf1OfTheFirstNonEmptyLine) {
  sv::test::TempDir dir;
  struct Case {
    const char* what;
    std::string bytes;
    std::string version;
  } cases[] = {
      {"a header", "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n1 0 obj", "1.4"},
      {"lower case", "%pdf-1.5\n", "1.5"},
      {"the character is upper-cased", "%PDF-1.a\n", "1.A"},
      {"empty lines before it", "\r\n\n\r%PDF-1.6\n", "1.6"},
      {"anywhere in the line", "junk %PDF-1.3 more", "1.3"},
      {"a restart inside the key", "PPDF-PDF-1.7", "1.7"},
      {"CR alone ends a line", "%PDF-1.2\r4", "1.2"},
      {"not in the first non-empty line", "junk\n%PDF-1.4\n", "1.?"},
      {"a line of blanks is not empty", "   \n%PDF-1.4\n", "1.?"},
      {"ends right after at the end of the file", "%PDF-1.", "1.?"},
      {"ends right after at the end of the line", "%PDF-1.\r\n4", "1.?"},
      {"only line ends", "\r\n\r\n", "1.?"},
      {"a long first line", std::string(200000, 'x') + "%PDF-1.5\n", "1.5"},
      {"the key across the read buffer", std::string(65533, 'x') + "PDF-1.2", "1.2"},
      {"a long first line without it", std::string(300000, 'x') + "\n%PDF-1.4", "1.?"},
  };
  for (const Case& c : cases) {
    std::string path = dir / "f.pdf";
    WriteFile(path, c.bytes);
    std::string version = "left over";
    EXPECT_TRUE(ReadPdfVersion(path, version)) << c.what;
    EXPECT_EQ(version, c.version) << c.what;
  }
}

TEST(ReadPdfVersion, AFileThatCannotBeReadGivesFalseAndSaysWhy) {
  sv::test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);  // would wait for a writer
  WriteFile(dir / "empty.pdf", "");
  struct Case {
    std::string path, problem;
  } cases[] = {
      {dir / "missing.pdf", "No such file or directory"},
      {dir.Path(), "Is a directory"},
      {dir / "pipe", "Not a regular file"},
      {"/dev/null", "Not a regular file"},
      {dir / "empty.pdf", J("空のファイルです")},
      // Says it is empty, and its reading waits for the kernel (or is not allowed).
      {"/proc/kmsg", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string version = "left over", problem;
    EXPECT_FALSE(ReadPdfVersion(c.path, version, &problem)) << c.path;
    EXPECT_EQ(version, "1.?") << c.path;
    EXPECT_NE(problem.find(c.path), std::string::npos) << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

TEST(KettrinPaths, RelativePathsAreTakenBelowTheProgramFolder) {
  sv::test::TempDir prog;
  platform::SetProgramFolderForTests(prog.Path(), "Kettrin");
  EXPECT_EQ(ExpandPath("data/a.pdf"), prog / "data/a.pdf");
  EXPECT_EQ(ExpandPath("abc"), prog / "abc");
  EXPECT_EQ(ExpandPath("/abs/a.pdf"), "/abs/a.pdf");
  EXPECT_EQ(ExpandPath("ab"), "ab");  // two characters or fewer stay as they are
  EXPECT_EQ(ExpandPath(""), "");
  EXPECT_EQ(ToolPath(), prog / "bin/AHPDFToolCmd26");
  EXPECT_EQ(WorkFilePath(), prog / "$output.pdf");
  EXPECT_EQ(FailureListPath(), prog / "KettrinLog.txt");
  EXPECT_EQ(AppIniPath(), prog / "Kettrin.ini");
  EXPECT_EQ(ResultCsvPath("/d/log/log_check.csv"), "/d/log/log_check_log.csv");
  EXPECT_EQ(ResultCsvPath("/d/list.CSV"), "/d/list_log.csv");
  platform::SetProgramFolderForTests("");
}
