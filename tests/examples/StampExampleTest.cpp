// The stamp example run as its users run it, on real files: the output judged by qpdf, pdfinfo,
// pdftotext and pdffonts; refused files and wrong command lines by the exit code alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

using namespace sv::test;

namespace {

// The program, run with the leak checker of a sanitizer build told that fontconfig keeps what it
// read of the system configuration until the process ends.
std::string Example() {
  static const bool once = [] {
    const std::string supp = SourceDir() + "tests/examples/lsan-fontconfig.supp";
    return setenv("LSAN_OPTIONS", ("print_suppressions=0:suppressions=" + supp).c_str(), 1) == 0;
  }();
  EXPECT_TRUE(once);
  return ProgramDir() + "stamp-example";
}

// The options that open a file with password (none for "").
std::vector<std::string> With(std::vector<std::string> argv, const std::string& option,
                              const std::string& password, const std::string& path) {
  if (!password.empty()) {
    argv.push_back(option);
    argv.push_back(password);
  }
  argv.push_back(path);
  return argv;
}

int PageCount(const std::string& path, const std::string& password) {
  CommandResult r = RunCommand(With({"pdfinfo"}, "-upw", password, path));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const size_t at = r.out.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(r.out.substr(at + 6));
}

std::string PageText(const std::string& path, const std::string& password, int page) {
  std::vector<std::string> argv = {"pdftotext", "-f", std::to_string(page), "-l",
                                   std::to_string(page)};
  argv = With(argv, "-upw", password, path);
  argv.push_back("-");
  CommandResult r = RunCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

struct Case {
  std::string file;  // below the corpus
  std::string password;
};

TEST(StampExample, StampsAPlainAndAnEncryptedFile) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftotext", "pdffonts");
  SV_REQUIRE_CORPUS();
  const Case cases[] = {{"docs/fontconfig-user.pdf", ""},
                        {"encrypted/rc4-40_u=user_o=owner.pdf", "user"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    const std::string in = CorpusDir() + c.file;
    std::vector<std::string> argv = {Example(), in, dir / "out.pdf"};
    if (!c.password.empty()) argv.push_back(c.password);
    CommandResult r = RunCommand(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");

    CommandResult check =
        RunCommand({"qpdf", "--check", "--password=" + c.password, dir / "out.pdf"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    const int pages = PageCount(in, c.password);
    ASSERT_GT(pages, 2);
    EXPECT_EQ(PageCount(dir / "out.pdf", c.password), pages);

    // The watermark with its page numbers on the first, a middle and the last page; the banner
    // line on the first page only.
    for (int page : {1, pages / 2, pages}) {
      const std::string text = PageText(dir / "out.pdf", c.password, page);
      const std::string mark = "社外秘 " + std::to_string(page) + " / " + std::to_string(pages);
      EXPECT_NE(text.find(mark), std::string::npos) << "page " << page << ":\n" << text;
      EXPECT_EQ(text.find("stamp example") != std::string::npos, page == 1) << "page " << page;
    }
    EXPECT_NE(
        PageText(dir / "out.pdf", c.password, 1).find("Sorvane stamp example: confidential 社外秘"),
        std::string::npos);

    // pdffonts: the watermark's font an embedded subset with a ToUnicode map.
    CommandResult fonts = RunCommand(With({"pdffonts"}, "-upw", c.password, dir / "out.pdf"));
    ASSERT_EQ(fonts.exitCode, 0) << fonts.err;
    bool subset = false;
    std::istringstream lines(fonts.out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string word; words >> word;)
        w.push_back(word);
      // name, type (one or two words), encoding, emb, sub, uni, object number, generation
      const std::string face = "+" + platform::Utf8ToAnsi("ＭＳゴシック");
      if (w.size() >= 8 && w[0].size() == 6 + face.size() &&
          w[0].compare(6, face.size(), face) == 0) {
        subset = true;
        EXPECT_EQ(w[1] + " " + w[2], "CID TrueType") << line;
        EXPECT_EQ(w[w.size() - 5], "yes") << line;  // embedded
        EXPECT_EQ(w[w.size() - 4], "yes") << line;  // a subset
        EXPECT_EQ(w[w.size() - 3], "yes") << line;  // with a ToUnicode map
      }
    }
    EXPECT_TRUE(subset) << fonts.out;
  }
}

TEST(StampExample, ARefusedFileGivesOneLineAndNoOutput) {
  SV_REQUIRE_CORPUS();
  const Case cases[] = {
      {"peer/V4-aes.pdf", ""},                           // AES: not read by the library
      {"encrypted/rc4-40_u=user_o=owner.pdf", "wrong"},  // a wrong password
      {"encrypted/rc4-40_u=user_o=owner.pdf", ""},       // no password
      {"no-such-file.pdf", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.password);
    TempDir dir;
    std::vector<std::string> argv = {Example(), CorpusDir() + c.file, dir / "out.pdf"};
    if (!c.password.empty()) argv.push_back(c.password);
    CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("stamp-example: ", 0), 0u) << r.err;
    EXPECT_FALSE(FileExists(dir / "out.pdf"));
  }
}

TEST(StampExample, AWrongCommandLineGivesTwo) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {dir / "in.pdf"}, {"a", "b", "c", "d"}}) {
    std::vector<std::string> argv = {Example()};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult r = RunCommand(argv, dir.Path());
    EXPECT_EQ(r.exitCode, 2) << args.size();
    EXPECT_NE(r.err.find("usage: stamp-example IN.pdf OUT.pdf [PASSWORD]"), std::string::npos);
  }
}

// An RC4 file opened with its user password keeps both of its passwords: the owner password
// still opens the output as its owner's (qpdf), the user password as a user's.
TEST(StampExample, AnEncryptedFileKeepsBothItsPasswords) {
  for (const std::string bits : {"40", "128"}) {
    SCOPED_TRACE(bits + " bits");
    TempDir dir;
    std::vector<std::string> encrypt = {"qpdf", "--allow-weak-crypto", "--encrypt", "user", "owner",
                                        bits};
    if (bits == "128") encrypt.push_back("--use-aes=n");
    encrypt.insert(encrypt.end(), {"--", SourceDir() + "examples/plain.pdf", dir / "in.pdf"});
    ASSERT_EQ(RunCommand(encrypt).exitCode, 0);
    CommandResult r = RunCommand({Example(), dir / "in.pdf", dir / "out.pdf", "user"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string password : {"owner", "user"}) {
      SCOPED_TRACE(password);
      CommandResult shown =
          RunCommand({"qpdf", "--show-encryption", "--password=" + password, dir / "out.pdf"});
      EXPECT_NE(shown.out.find("Supplied password is " + password + " password"), std::string::npos)
          << shown.out << shown.err;
      CommandResult check =
          RunCommand({"qpdf", "--check", "--password=" + password, dir / "out.pdf"});
      EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    }
    EXPECT_NE(PageText(dir / "out.pdf", "user", 1).find("社外秘 1 / 3"), std::string::npos);
  }
}

}  // namespace

// The bundled plain file, stamped: its Japanese subsets hold the few glyphs drawn, not the
// font's whole character map, so the file stays small.
TEST(StampExample, ThePlainExampleStaysSmall) {
  TempDir dir;
  const std::string in = SourceDir() + "examples/plain.pdf";
  CommandResult r = RunCommand({Example(), in, dir / "out.pdf"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string out = ReadFile(dir / "out.pdf");
  EXPECT_LE(out.size(), 100u * 1024) << "the stamped file has " << out.size() << " bytes";
  EXPECT_NE(PageText(dir / "out.pdf", "", 1).find("社外秘 1 / "), std::string::npos);
}
