// The outside-tool engine with the real stand-in tool bin/AHPDFToolCmd26, judged by qpdf and
// poppler's pdfinfo.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "apps/sorvane/ToolEngine.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using sv::test::Ansi;
using sv::test::Field;
using sv::test::ReadFile;
using sv::test::RunCommand;
namespace fs = std::filesystem;

namespace {

int Pages(const std::string& path, const std::string& password = "") {
  std::vector<std::string> cmd = {"pdfinfo"};
  if (!password.empty()) cmd.insert(cmd.end(), {"-upw", password});
  cmd.push_back(path);
  auto r = RunCommand(cmd);
  return r.exitCode == 0 ? std::stoi(Field(r.out, "Pages")) : -1;
}

class LockWithToolEndToEnd : public sv::test::SorvaneFolderTest {
 protected:
  void SetUp() override {
    SorvaneFolderTest::SetUp();
    std::string tool = sv::test::ProgramDir() + "bin/AHPDFToolCmd26";
    ASSERT_TRUE(fs::exists(tool)) << "the built tool is missing: " << tool;
    fs::create_symlink(tool, ToolPath());
    fs::create_directories(Prog() + "data");
  }
  // A copy of a file in the data folder.
  std::string Copy(const std::string& from, const std::string& name = "") {
    std::string to = Prog() + "data/" + (name.empty() ? fs::path(from).filename().string() : name);
    sv::test::CopyFile(from, to);
    return to;
  }
  // The job of a 1.6 or 1.7 target with user and owner passwords.
  void Job(int ver, const std::string& user, const std::string& owner) {
    JobSettings = TJobSettings();
    JobSettings.Ver = ver;
    JobSettings.UserPassWord = user;
    JobSettings.MasterPassWord = owner;
  }
  std::string Example(const char* name) { return sv::test::SourceDir() + "examples/" + name; }
};

}  // namespace

TEST_F(LockWithToolEndToEnd, OwnExamplesGetEncryptionRestrictionsVersionAndInformation) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  struct Case {
    const char* example;
    int ver;
    std::string user, owner;
    int pr, cp, md, da, an, ff, ac, web;
    const char* method;  // qpdf's name of the stream encryption
    // qpdf --show-encryption lines, in its order: print, extract, accessibility, assembly,
    // forms, annotations, other
    std::vector<std::string> allowed;
  } cases[] = {
      {"info.pdf",
       4,
       "user",
       "owner",
       0,
       1,
       1,
       1,
       1,
       1,
       1,
       1,
       "AESv3",
       {"print high resolution: allowed", "extract for any purpose: not allowed",
        "extract for accessibility: not allowed", "modify document assembly: not allowed",
        "modify forms: not allowed", "modify annotations: not allowed",
        "modify other: not allowed"}},
      {"plain.pdf",
       3,
       "",
       "master",
       1,
       0,
       0,
       0,
       0,
       0,
       0,
       0,
       "AESv2",
       {"print high resolution: not allowed", "extract for any purpose: allowed",
        "extract for accessibility: allowed", "modify document assembly: allowed",
        "modify forms: allowed", "modify annotations: allowed", "modify other: allowed"}},
      {"outline.pdf",
       3,
       "view",
       "",
       1,
       1,
       1,
       1,
       1,
       1,
       1,
       1,
       "AESv2",  // no owner: no restrictions
       {"print high resolution: allowed", "extract for any purpose: allowed",
        "modify other: allowed"}},
      {"outline.pdf",
       4,
       "view",
       "boss",
       0,
       0,
       1,
       0,
       0,
       0,
       1,
       0,
       "AESv3",  // -nca, -nab -ncc
       {"print high resolution: allowed", "extract for any purpose: not allowed",
        "extract for accessibility: not allowed", "modify document assembly: not allowed",
        "modify annotations: allowed", "modify other: not allowed"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.example) + " ver " + std::to_string(c.ver));
    std::string in = Copy(Example(c.example));
    Job(c.ver, c.user, c.owner);
    JobSettings.PR = c.pr, JobSettings.CP = c.cp, JobSettings.MD = c.md, JobSettings.DA = c.da;
    JobSettings.AN = c.an, JobSettings.FF = c.ff, JobSettings.AC = c.ac, JobSettings.Web = c.web;
    JobSettings.Title = Ansi("日本語の題「ソ表」");
    JobSettings.Author = Ansi("作成者");
    JobSettings.Subject = "Subject";
    JobSettings.Keywords = "k1, k2";
    JobSettings.Creator = "Creator";
    JobSettings.Producer = Ansi("ＰＤＦ変換");
    ASSERT_EQ(LockWithTool(in), 0);

    std::string opener = c.user.empty() ? c.owner : c.user;
    auto info = RunCommand({"pdfinfo", "-upw", c.user.empty() ? "" : c.user, in});
    if (c.user.empty()) info = RunCommand({"pdfinfo", in});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(Field(info.out, "PDF version"), c.ver == 4 ? "1.7" : "1.6");
    EXPECT_EQ(Field(info.out, "Title"), "日本語の題「ソ表」");
    EXPECT_EQ(Field(info.out, "Author"), "作成者");
    EXPECT_EQ(Field(info.out, "Subject"), "Subject");
    EXPECT_EQ(Field(info.out, "Keywords"), "k1, k2");
    EXPECT_EQ(Field(info.out, "Creator"), "Creator");
    EXPECT_EQ(Field(info.out, "Producer"), "ＰＤＦ変換");
    EXPECT_EQ(Field(info.out, "Optimized"), c.web ? "yes" : "no");
    EXPECT_EQ(Pages(in, c.user), Pages(Example(c.example)));
    if (!c.owner.empty()) {
      EXPECT_EQ(RunCommand({"pdfinfo", "-opw", c.owner, in}).exitCode, 0);
      EXPECT_NE(RunCommand({"pdfinfo", "-upw", "wrong", in}).exitCode, 0);
    }
    if (!c.user.empty()) {
      EXPECT_NE(RunCommand({"pdfinfo", in}).exitCode, 0);
    }

    auto enc = RunCommand({"qpdf", "--password=" + opener, "--show-encryption", in});
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(Field(enc.out, "stream encryption method"), c.method);
    for (const auto& line : c.allowed)
      EXPECT_NE(enc.out.find(line), std::string::npos) << line;
    EXPECT_EQ(RunCommand({"qpdf", "--password=" + opener, "--check", in}).exitCode, 0);
  }
}

TEST_F(LockWithToolEndToEnd, BadInputsGiveNonZeroResultsAndStayByteForByte) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  // Locked once, the file needs its password to be opened again.
  std::string locked = Copy(Example("info.pdf"));
  Job(4, "first", "firstowner");
  ASSERT_EQ(LockWithTool(locked), 0);
  std::string lockedBytes = ReadFile(locked);

  Job(3, "second", "secondowner");
  JobSettings.OpenPassWord = "wrong";
  EXPECT_NE(LockWithTool(locked), 0);
  EXPECT_EQ(ReadFile(locked), lockedBytes);
  JobSettings.OpenPassWord.clear();
  EXPECT_NE(LockWithTool(locked), 0);
  EXPECT_EQ(ReadFile(locked), lockedBytes);
  JobSettings.OpenPassWord = "first";
  ASSERT_EQ(LockWithTool(locked), 0);
  EXPECT_EQ(Pages(locked, "second"), 2);
  EXPECT_NE(Pages(locked, "first"), 2);

  struct Case {
    const char* name;
    std::string bytes;
  } damaged[] = {
      {"empty.pdf", ""},
      {"text.pdf", "this is no PDF file at all\n"},
      {"cut.pdf", ReadFile(Example("plain.pdf")).substr(0, 9)},
  };
  Job(4, "u", "o");
  for (const auto& c : damaged) {
    std::string path = Prog() + "data/" + c.name;
    sv::test::WriteFile(path, c.bytes);
    EXPECT_NE(LockWithTool(path), 0) << c.name;
    EXPECT_EQ(ReadFile(path), c.bytes) << c.name;
  }

  // Without the tool nothing is changed either.
  std::string plain = Copy(Example("plain.pdf"));
  fs::remove(ToolPath());
  EXPECT_EQ(LockWithTool(plain), kToolMissing);
  EXPECT_EQ(ReadFile(plain), ReadFile(Example("plain.pdf")));
}

TEST_F(LockWithToolEndToEnd, JapaneseNamesAndPasswordsAndTheDebugLog) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  fs::create_directories(Prog() + "data/フォルダ 名");
  std::string in = Prog() + "data/フォルダ 名/表 ソ.pdf";
  sv::test::CopyFile(Example("plain.pdf"), in);
  AppSettings.Debug = 1;
  sv::test::WriteFile(DebugLogPath(), "earlier run\r\n");
  Job(4, "a\"b\\", "c d\\");
  CurrentFile = Ansi(in.c_str());
  ASSERT_EQ(LockWithTool(Ansi(in.c_str())), 0);
  EXPECT_EQ(RunCommand({"pdfinfo", "-upw", "a\"b\\", in}).exitCode, 0);
  EXPECT_EQ(RunCommand({"pdfinfo", "-opw", "c d\\", in}).exitCode, 0);

  // The tool read a copy of the input in the temporary folder.
  std::string log = sv::test::WithCopiesNamed(ReadFile(DebugLogPath()));
  EXPECT_EQ(log.rfind("earlier run\r\n**** PDF Command Dump ****\r\ninput  =" + Ansi(in.c_str()) +
                          "\r\ncommand=AHPDFToolCmd26 -annotFile -d \"" + Prog() + "temp/<copy>\" ",
                      0),
            0u)
      << log;
  EXPECT_EQ(log.substr(log.size() - 13), "\r\nresult =0\r\n");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
}

TEST_F(LockWithToolEndToEnd, EncryptedCorpusFilesOpenWithTheirPasswordOrStayUntouched) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  SV_REQUIRE_CORPUS();
  for (const auto& file : sv::test::CorpusFiles("encrypted")) {
    SCOPED_TRACE(file);
    std::string name = fs::path(file).filename();
    std::string user = name.find("u=user") != std::string::npos ? "user" : "";
    int pages = Pages(file, user);
    ASSERT_GT(pages, 0);
    std::string in = Copy(file);
    std::string original = ReadFile(in);

    Job(3, "new", "newowner");
    JobSettings.OpenPassWord = "not the password";
    EXPECT_NE(LockWithTool(in), 0);
    EXPECT_EQ(ReadFile(in), original);

    JobSettings.OpenPassWord = user.empty() ? "owner" : user;
    ASSERT_EQ(LockWithTool(in), 0);
    EXPECT_EQ(Pages(in, "new"), pages);
    EXPECT_EQ(RunCommand({"pdfinfo", "-opw", "newowner", in}).exitCode, 0);
    auto enc = RunCommand({"qpdf", "--password=new", "--show-encryption", in});
    EXPECT_EQ(Field(enc.out, "stream encryption method"), "AESv2");
  }
}

TEST_F(LockWithToolEndToEnd, CorpusFilesAreRewrittenWholeOrRefusedUntouched) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("../shared/tools");
  std::string judge = sv::test::SharedToolsDir() + "verify-rewrite";
  std::vector<std::string> files = sv::test::CorpusFiles("peer");
  for (const auto& f : sv::test::CorpusFiles("docs"))
    files.push_back(f);
  int rewritten = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file);
    std::string name = fs::path(file).filename();
    std::smatch m;
    std::string open;
    if (std::regex_search(name, m, std::regex("U=([^,.]*)"))) open = m[1];
    std::string in = Copy(file);
    std::string original = ReadFile(in);
    Job(4, "u", "o");
    JobSettings.OpenPassWord = open;
    int32_t result = LockWithTool(in);
    if (result != 0) {
      EXPECT_EQ(ReadFile(in), original) << "refused with " << result << " but changed";
      continue;
    }
    ++rewritten;
    if (Pages(file, open) < 0) {
      // Damaged beyond what poppler reads, recovered by the tool: the output must be sound.
      EXPECT_EQ(RunCommand({"qpdf", "--password=u", "--check", in}).exitCode, 0);
      EXPECT_GT(Pages(in, "u"), 0);
      EXPECT_EQ(RunCommand({"pdfinfo", "-opw", "o", in}).exitCode, 0);
    } else if (open.empty()) {
      auto v = RunCommand({judge, file, in, "u", "o"});
      EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
    } else {
      EXPECT_EQ(Pages(in, "u"), Pages(file, open));
      EXPECT_EQ(RunCommand({"pdfinfo", "-opw", "o", in}).exitCode, 0);
    }
  }
  EXPECT_GE(rewritten, static_cast<int>(files.size()) / 2);
}
