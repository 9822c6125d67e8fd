// The built program, copied into a program folder of its own with the outside tool in bin/, run
// silently as a script would run it. Its outputs are judged by pdfinfo, qpdf and pdftoppm.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "apps/sorvane/ToolEngine.h"
#include "platform/IniFiles.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// One job, the file it gets and what the output must show.
struct LockCase {
  const char* folder;
  std::string source;
  std::string inputPassword;  // what opens the input ("" for a plain one)
  std::function<void(TJobSettings&)> job;
  const char* version;  // of the output's header
  const char* checkVersion;
  bool encrypted;
  std::string user, owner;
  const char* revision;  // qpdf's "R = n"
  V permissions;         // lines of qpdf --show-encryption
  const char* title;     // UTF-8; null when the input's own title stays
};

class SorvaneProgram : public SorvaneFormTest {
 protected:
  void SetUp() override {
    SorvaneFormTest::SetUp();
    if (!FileExists(ProgramDir() + "Sorvane")) GTEST_SKIP() << "Sorvane was not built";
    SV_REQUIRE_JUDGES("pdfinfo", "qpdf", "pdftoppm");
    fs::copy_file(ProgramDir() + "Sorvane", Prog() + "Sorvane");
    fs::create_symlink(ProgramDir() + "bin/AHPDFToolCmd26", ToolPath());
  }
  CommandResult Run() {
    return RunCommand({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", Prog() + "Sorvane", "/s"},
                      Prog());
  }
  // A copy of a file as <folder>/<name>.
  std::string Input(const std::string& from, const std::string& folder, const std::string& name) {
    Folder(rtl::ExtractFileName(folder));
    std::string to = folder + "/" + name;
    CopyFile(from, to);
    return to;
  }
  static std::string Example(const char* name) { return SourceDir() + "examples/" + name; }
  // pdfinfo of a file, opened with the password as -upw or -opw ("" when it cannot be opened).
  static std::string Info(const std::string& path, const std::string& option = "",
                          const std::string& password = "") {
    V argv{"pdfinfo", "-enc", "UTF-8"};
    if (!option.empty()) argv.insert(argv.end(), {option, password});
    argv.push_back(path);
    CommandResult r = RunCommand(argv);
    return r.exitCode == 0 ? r.out : "";
  }
  // The first page rendered small and grey.
  std::string Render(const std::string& path, const std::string& password) {
    static int n = 0;
    const std::string out = Prog() + "render" + std::to_string(++n);
    V argv{"pdftoppm", "-r", "24", "-gray", "-singlefile", "-f", "1", "-l", "1"};
    if (!password.empty()) argv.insert(argv.end(), {"-opw", password});
    argv.insert(argv.end(), {path, out});
    CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << path << ": " << r.err;
    return r.exitCode == 0 ? ReadFile(out + ".pgm") : "";
  }
  void CheckOutput(const LockCase& c, const std::string& out, const std::string& inputRender,
                   const std::string& inputTitle) {
    SCOPED_TRACE(c.folder);
    // The header as the job asked, the rest a whole file by qpdf's judgement.
    EXPECT_EQ(ReadFile(out).substr(0, 8), std::string("%PDF-") + c.version);
    CommandResult check = RunCommand({"qpdf", "--check", "--password=" + c.owner, out});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

    const std::string info = c.user.empty() ? Info(out) : Info(out, "-upw", c.user);
    ASSERT_NE(info, "") << "pdfinfo cannot open it with the user password";
    EXPECT_EQ(Field(info, "PDF version"), c.version);
    EXPECT_EQ(Field(info, "Encrypted").substr(0, 3), c.encrypted ? "yes" : "no");
    EXPECT_EQ(Field(info, "Title"), c.title ? std::string(c.title) : inputTitle);
    EXPECT_EQ(Render(out, c.owner), inputRender);
    if (!c.encrypted) return;
    EXPECT_NE(Info(out, "-opw", c.owner), "") << "the owner password does not open it";
    if (!c.user.empty()) {
      EXPECT_EQ(Info(out), "") << "it opens without a password";
    }
    CommandResult enc = RunCommand({"qpdf", "--show-encryption", "--password=" + c.owner, out});
    EXPECT_NE(enc.out.find(std::string(c.revision) + "\n"), std::string::npos) << enc.out;
    for (const std::string& line : c.permissions)
      EXPECT_NE(enc.out.find(line + "\n"), std::string::npos) << line << "\n" << enc.out;
  }
};

}  // namespace

TEST_F(SorvaneProgram, ASilentRunRewritesEveryJobsFilesAsTheJobAsks) {
  const V allNot = {
      "extract for accessibility: not allowed", "extract for any purpose: not allowed",
      "print low resolution: not allowed",      "print high resolution: not allowed",
      "modify document assembly: not allowed",  "modify forms: not allowed",
      "modify annotations: not allowed",        "modify other: not allowed"};
  const V allAllowed = {"extract for accessibility: allowed",
                        "extract for any purpose: allowed",
                        "print high resolution: allowed",
                        "modify document assembly: allowed",
                        "modify forms: allowed",
                        "modify annotations: allowed",
                        "modify other: allowed"};
  const V defaults = {"extract for any purpose: not allowed", "print high resolution: allowed",
                      "modify other: not allowed", "modify annotations: not allowed"};
  std::vector<LockCase> cases = {
      {"a13", Example("info.pdf"), "",
       [](TJobSettings& j) {
         j.Ver = 0, j.PR = 1, j.UserPassWord = "user", j.MasterPassWord = "owner";
         j.Title = Ansi("題名のテスト"), j.Author = Ansi("作者"), j.Subject = "sub";
       },
       "1.3", "1.3", true, "user", "owner", "R = 3", allNot, "題名のテスト"},
      {"b14",
       Example("outline.pdf"),
       "",
       [](TJobSettings& j) {
         j.Ver = 1, j.BT = 1, j.UserPassWord = "u40", j.MasterPassWord = "o40";
         j.MD = j.CP = j.AN = j.DA = j.FF = j.AC = 0;
       },
       "1.4",
       "1.4",
       true,
       "u40",
       "o40",
       "R = 2",
       {"extract for any purpose: allowed", "print high resolution: allowed",
        "modify other: allowed", "modify annotations: allowed"},
       ""},  // the library sets every text
      {"c15", Example("plain.pdf"), "",
       [](TJobSettings& j) {
         j.Ver = 2, j.PW = 0, j.UserPassWord = "not used", j.MasterPassWord = "boss";
       },
       "1.5", "1.5", true, "", "boss", "R = 3", defaults, ""},
      {"d_veroff", Example("plain.pdf"), "",
       [](TJobSettings& j) {
         j.Ver = 0, j.VerEn = 0, j.UserPassWord = "u", j.MasterPassWord = "o";
       },
       "1.4", "1.3", true, "u", "o", "R = 3", defaults, ""},
      {"e16", Example("outline.pdf"), "",
       [](TJobSettings& j) {
         j.Ver = 3, j.UserPassWord = "u16", j.MasterPassWord = "o16", j.Title = "six";
       },
       "1.6", "1.6", true, "u16", "o16", "R = 4", defaults, "six"},
      {"f17",
       Example("info.pdf"),
       "",
       [](TJobSettings& j) {
         j.Ver = 4, j.UserPassWord = "u17", j.MasterPassWord = "o17", j.PR = 1;
       },
       "1.7",
       "1.7",
       true,
       "u17",
       "o17",
       "R = 6",
       {"extract for any purpose: not allowed", "print high resolution: not allowed"},
       nullptr},  // the tool sets only the texts given
      {"g_all", Example("outline.pdf"), "",
       [](TJobSettings& j) {
         j.Ver = 2, j.UserPassWord = "all", j.MasterPassWord = "owner";
         j.MD = j.CP = j.AN = j.DA = j.FF = j.AC = 0;
       },
       "1.5", "1.5", true, "all", "owner", "R = 3", allAllowed, ""},
  };
  if (HasCorpus()) {
    // A protected input opened with its owner password: with EN off it is saved unprotected and
    // keeps its information; with EN on it gets the job's security.
    const std::string enc = CorpusDir() + "peer/enc-R3,V2,U=view,O=master.pdf";
    cases.push_back({"h_enoff",
                     enc,
                     "master",
                     [](TJobSettings& j) {
                       j.Ver = 2, j.EN = 0, j.OpenPassWord = "master", j.UserPassWord = "x";
                     },
                     "1.5",
                     "1.5",
                     false,
                     "",
                     "",
                     "",
                     {},
                     nullptr});
    cases.push_back({"i_reenc", CorpusDir() + "peer/enc-R2,V1,U=view,O=master.pdf", "master",
                     [](TJobSettings& j) {
                       j.Ver = 1, j.OpenPassWord = "master", j.UserPassWord = "new",
                       j.MasterPassWord = "newowner";
                     },
                     "1.4", "1.4", true, "new", "newowner", "R = 3", defaults, ""});
    cases.push_back(
        {"j_doc",
         CorpusDir() + "docs/fontconfig-user.pdf",
         "",
         [](TJobSettings& j) { j.Ver = 0, j.BT = 1, j.UserPassWord = "d", j.MasterPassWord = "o"; },
         "1.3",
         "1.3",
         true,
         "d",
         "o",
         "R = 2",
         {},
         ""});
  }
  V results, checks, outputs, renders, titles;
  for (const LockCase& c : cases) {
    const std::string folder = Prog() + c.folder;
    const std::string out = Input(c.source, folder, "in.pdf");
    Job(folder, c.job);
    outputs.push_back(out);
    renders.push_back(Render(out, c.inputPassword));
    titles.push_back(Field(Info(out, "-opw", c.inputPassword), "Title"));
    results.push_back(out + ",OK");
    // The check list names the passwords the file was given.
    checks.push_back(out + "," + c.user + "," + c.owner + "," + c.checkVersion);
  }

  CommandResult r = Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(results));
  EXPECT_EQ(ReadFile(CheckLogPath()), Lines(checks));
  for (size_t i = 0; i < cases.size(); ++i)
    CheckOutput(cases[i], outputs[i], renders[i], titles[i]);
  rtl::TIniFile ini(AppIniPath());
  EXPECT_EQ(ini.ReadInteger("Pos", "Top", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Pos", "Left", -1), 0);
  EXPECT_TRUE(FileExists(DefaultIniPath()));

  // Kettrin, beside Sorvane, checks the files of the check list: every password and version as
  // listed, but the job that kept the writer's header.
  if (!FileExists(ProgramDir() + "Kettrin")) GTEST_SKIP() << "Kettrin was not built";
  fs::copy_file(ProgramDir() + "Kettrin", Prog() + "Kettrin");
  CommandResult k =
      RunCommand({"env", "-u", "DISPLAY", Prog() + "Kettrin", "/n", "/f" + CheckLogPath()});
  EXPECT_EQ(k.exitCode, 1) << k.err;
  V expected;
  for (size_t i = 0; i < cases.size(); ++i) {
    const LockCase& c = cases[i];
    const std::string version = std::string(c.version) == c.checkVersion ? "OK" : "NG";
    // A file with the owner password alone opens without one; its owner password is checked.
    const char* passwords = !c.encrypted ? ",OK,NG,NG" : c.user.empty() ? ",OK,NG,OK" : ",--,OK,OK";
    expected.push_back(outputs[i] + "," + version + passwords);
  }
  EXPECT_EQ(ReadFile(Prog() + "log/log_check_log.csv"), Lines(expected));

  // A file that loses its protection after the run fails the next check; the others stay as they
  // were.
  size_t changed = cases.size();
  for (size_t i = 0; i < cases.size() && changed == cases.size(); ++i)
    if (cases[i].encrypted && !cases[i].user.empty() && expected[i].ends_with(",--,OK,OK"))
      changed = i;
  ASSERT_LT(changed, cases.size());
  fs::copy_file(Example("plain.pdf"), outputs[changed], fs::copy_options::overwrite_existing);
  k = RunCommand({"env", "-u", "DISPLAY", Prog() + "Kettrin", "/n", "/f" + CheckLogPath()});
  EXPECT_EQ(k.exitCode, 1) << k.err;
  const std::string again = ReadFile(Prog() + "log/log_check_log.csv");
  for (size_t i = 0; i < cases.size(); ++i) {
    if (i == changed) continue;
    EXPECT_NE(again.find(expected[i] + "\r\n"), std::string::npos) << expected[i];
  }
  EXPECT_EQ(again.find(expected[changed] + "\r\n"), std::string::npos) << again;
  EXPECT_NE(again.find(outputs[changed] + ","), std::string::npos) << again;
}

TEST_F(SorvaneProgram, FilesThatCannotBeRewrittenAreNgAndStayByteForByte) {
  SV_REQUIRE_CORPUS();
  const std::string lib = Prog() + "lib", tool = Prog() + "tool";
  const std::string userOnly =
      Input(CorpusDir() + "peer/enc-R3,V2,U=view,O=master.pdf", lib, "a_user_only.pdf");
  const std::string aes = Input(CorpusDir() + "peer/V4-aes.pdf", lib, "b_aes.pdf");
  const std::string damaged = Input(CorpusDir() + "peer/bad-xref.pdf", lib, "c_damaged.pdf");
  WriteFile(lib + "/d_cut.pdf", ReadFile(Example("plain.pdf")).substr(0, 300));
  const std::string cut = lib + "/d_cut.pdf";
  const std::string good = Input(Example("plain.pdf"), lib, "e_good.pdf");
  const std::string wrong =
      Input(CorpusDir() + "peer/enc-R2,V1,U=view,O=master.pdf", tool, "wrong.pdf");
  Job(lib, [](TJobSettings& j) { j.Ver = 0, j.OpenPassWord = "view", j.MasterPassWord = "o"; });
  Job(tool, [](TJobSettings& j) { j.Ver = 4, j.OpenPassWord = "nothing"; });
  const std::string libWrong =
      Input(CorpusDir() + "peer/enc-R2,V1,U=view,O=master.pdf", Prog() + "libwrong", "wrong.pdf");
  Job(Prog() + "libwrong", [](TJobSettings& j) { j.Ver = 1, j.OpenPassWord = "wrong"; });
  const V ng = {userOnly, aes, damaged, cut, wrong, libWrong};
  V before;
  for (const std::string& f : ng)
    before.push_back(ReadFile(f));

  CommandResult r = Run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(ReadFile(ResultLogPath()),
            Lines({userOnly + ",NG", aes + ",NG", damaged + ",NG", cut + ",NG", good + ",OK",
                   libWrong + ",NG", wrong + ",NG"}));
  for (size_t i = 0; i < ng.size(); ++i)
    EXPECT_EQ(ReadFile(ng[i]), before[i]) << ng[i];
  // Each library failure is said on standard error with its file.
  for (const std::string& f : {userOnly, aes, damaged, cut})
    EXPECT_NE(r.err.find("Sorvane: " + f + ": "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("User cannot change encryption settings"), std::string::npos) << r.err;
  EXPECT_NE(Field(Info(good, "-opw", "o"), "PDF version"), "<none: PDF version>");
  // No file was left beside the inputs.
  EXPECT_EQ(std::distance(fs::directory_iterator(lib), fs::directory_iterator()), 5);

  // The next run starts both logs afresh.
  fs::remove(good);
  r = Run();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines({userOnly + ",NG", aes + ",NG", damaged + ",NG",
                                              cut + ",NG", libWrong + ",NG", wrong + ",NG"}));
}

TEST_F(SorvaneProgram, ARunThatCannotRunEndsWithStatusTwoAndSaysWhy) {
  // No settings folder can be made: a file stands in its place.
  fs::remove_all(Prog() + "setting");
  WriteFile(Prog() + "setting", "");
  ::chmod((Prog() + "setting").c_str(), 0644);  // whatever the mask: another user may not write it
  CommandResult r = Run();
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Sorvane: " + Prog() + "setting"), std::string::npos) << r.err;

  // The log cannot be written.
  fs::remove(Prog() + "setting");
  fs::create_directories(ResultLogPath());
  r = Run();
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(ResultLogPath()), std::string::npos) << r.err;

  // Nothing to do is a run where every file was OK.
  fs::remove(ResultLogPath());
  r = Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(ResultLogPath()), "");
  EXPECT_EQ(ReadFile(CheckLogPath()), "");
}

TEST_F(SorvaneProgram, EveryFileIsReachedByItsOwnNameOrIsNgWithItsReason) {
  SV_REQUIRE_JUDGES("mutool");
  // Names as a Linux input method types them: the JIS forms of the wave dash and its kin, which
  // code page 932 holds under the codes of their full-width forms; names it cannot hold at all;
  // a name with a line break; two names that are one in code page 932.
  struct Name {
    const char* utf8;
    const char* logged;  // the name in the logs (UTF-8 here); null: as the name itself
    bool ok;
  };
  const std::vector<Name> names = {
      {"10〜20.pdf", nullptr, true},
      {"a‖b−c.pdf", nullptr, true},
      {"caf?.pdf", nullptr, true},
      {"café.pdf", "caf?.pdf", false},
      {"line\nbreak.pdf", "line?break.pdf", false},
      {"〜x.pdf", nullptr, false},
      {"～x.pdf", nullptr, true},
      {"¢£¬—.pdf", nullptr, true},
  };
  V results, checks, ok, ng, before;
  for (const char* job : {"lib〜", "tool‖"}) {
    const std::string dir = Prog() + job;  // UTF-8 on the disk
    const std::string ansiDir = Ansi(dir.c_str());
    const bool lib = std::string(job) == "lib〜";
    fs::create_directories(dir);
    Job(ansiDir, [&](TJobSettings& j) {
      j.Ver = lib ? 1 : 4;
      j.UserPassWord = "user";
      j.MasterPassWord = "owner";
    });
    for (const Name& n : names) {
      const std::string path = dir + "/" + n.utf8;
      CopyFile(Example("plain.pdf"), path);
      const std::string logged = ansiDir + "/" + Ansi(n.logged ? n.logged : n.utf8);
      if (n.ok) {
        ok.push_back(path);
        results.push_back(logged + ",OK");
        checks.push_back(logged + ",user,owner," + (lib ? "1.4" : "1.7"));
      } else {
        ng.push_back(path);
        before.push_back(ReadFile(path));
        results.push_back(logged + ",NG(InvalidFileName)");
      }
    }
  }

  CommandResult r = Run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(results));
  EXPECT_EQ(ReadFile(CheckLogPath()), Lines(checks));
  for (const std::string& f : ok) {
    SCOPED_TRACE(f);
    EXPECT_EQ(Info(f), "") << "opens without a password";
    EXPECT_EQ(Field(Info(f, "-upw", "user"), "Encrypted").substr(0, 3), "yes");
    CommandResult check = RunCommand({"qpdf", "--check", "--password=owner", f});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(RunCommand({"mutool", "info", f}).exitCode, 0);
    EXPECT_EQ(RunCommand({"mutool", "info", "-p", "user", f}).exitCode, 0);
  }
  for (size_t i = 0; i < ng.size(); ++i)
    EXPECT_EQ(ReadFile(ng[i]), before[i]) << ng[i];
  // Each such file is said with its reason.
  EXPECT_NE(r.err.find("caf?.pdf: "), std::string::npos) << r.err;
}

TEST_F(SorvaneProgram, WhatARunCannotReachIsInTheResultLogAndAMissingFolderKeepsItsJob) {
  // A job whose folder is missing (a share not mounted yet), a disabled one, and a job with
  // sub-folders that cannot be entered under their names.
  const std::string gone = Prog() + "gone", off = Prog() + "off", here = Prog() + "here";
  Job(gone, [](TJobSettings& j) { j.UserPassWord = "u", j.MasterPassWord = "o", j.Ver = 1; });
  Job(off, [](TJobSettings& j) { j.Enable = 0; });
  Job(here, [](TJobSettings& j) { j.UserPassWord = "u", j.MasterPassWord = "o", j.Ver = 1; });
  const std::string ok = Input(Example("plain.pdf"), here, "a.pdf");
  V before;
  for (const char* sub : {"caf\xC3\xA9", "line\nbreak"}) {
    fs::create_directories(here + "/" + sub);
    before.push_back(Input(Example("plain.pdf"), here + "/" + sub, "x.pdf"));
  }
  const std::string goneJob = ReadFile(JobIniPath(gone));

  CommandResult r = Run();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(ReadFile(ResultLogPath()),
            Lines({here + "/a.pdf,OK", here + "/caf?/,NG(InvalidFileName)",
                   here + "/line?break/,NG(InvalidFileName)", gone + "/,NG(FileNotFound)"}));
  EXPECT_EQ(ReadFile(CheckLogPath()), Lines({here + "/a.pdf,u,o,1.4"}));
  EXPECT_NE(r.err.find("Sorvane: " + gone + "/: "), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(JobIniPath(gone)), goneJob);
  for (const std::string& f : before)
    EXPECT_EQ(ReadFile(f), ReadFile(Example("plain.pdf"))) << f;
  EXPECT_NE(Info(ok, "-upw", "u"), "");

  // Back again: the job runs with its own settings.
  fs::remove(JobIniPath(here));
  const std::string back = Input(Example("plain.pdf"), gone, "b.pdf");
  r = Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines({back + ",OK"}));
  EXPECT_EQ(Field(Info(back, "-upw", "u"), "Encrypted").substr(0, 3), "yes");
}

TEST_F(SorvaneProgram, RunAsRootItNeitherWritesWhatItMayNotNorHandsFilesToItself) {
  // Root of a user namespace where the files' owner does not exist: it may not write a file
  // that only its owner may write, and cannot give a rewritten file back to that owner.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  if (RunCommand({"unshare", "-U", "-r", "true"}).exitCode != 0)
    GTEST_SKIP() << "no user namespaces here";
  V results, theirs;
  for (const char* job : {"lib", "tool"}) {
    const std::string dir = Prog() + job;
    Job(dir, [&](TJobSettings& j) {
      j.Ver = std::string(job) == "lib" ? 2 : 3;
      j.UserPassWord = "user";
      j.MasterPassWord = "owner";
    });
    const std::string notWritable = Input(Example("plain.pdf"), dir, "a_theirs.pdf");
    const std::string writable = Input(Example("plain.pdf"), dir, "b_theirs_open.pdf");
    const std::string mine = Input(Example("plain.pdf"), dir, "c_mine.pdf");
    ASSERT_EQ(::chown(notWritable.c_str(), 1234, 1234), 0);
    ASSERT_EQ(::chown(writable.c_str(), 1234, 1234), 0);
    ::chmod(notWritable.c_str(), 0644);
    ::chmod(writable.c_str(), 0666);
    results.insert(results.end(), {notWritable + ",NG", writable + ",NG", mine + ",OK"});
    theirs.insert(theirs.end(), {notWritable, writable});
  }
  CommandResult r = RunCommand({"unshare", "-U", "-r", "env", "-u", "DISPLAY", "-u",
                                "WAYLAND_DISPLAY", Prog() + "Sorvane", "/s"},
                               Prog());
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(results));
  for (const std::string& f : theirs) {
    SCOPED_TRACE(f);
    EXPECT_EQ(ReadFile(f), ReadFile(Example("plain.pdf")));
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 1234u);
  }
  for (const std::string& lib : {Prog() + "lib/", Prog() + "tool/"}) {
    EXPECT_NE(r.err.find(lib + "a_theirs.pdf: this user may not write the file"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(lib + "b_theirs_open.pdf: cannot give the new file the owner"),
              std::string::npos)
        << r.err;
  }
  EXPECT_NE(Info(Prog() + "lib/c_mine.pdf", "-upw", "user"), "");
  EXPECT_EQ(Info(Prog() + "lib/c_mine.pdf"), "");
}

namespace {

// A silent run ended by a signal while files are being rewritten, as a service manager or a
// terminal ends it.
class SorvaneStopped : public SorvaneProgram {
 protected:
  struct Signal {
    int number;
    const char* name;
  };
  static std::vector<Signal> Signals() {
    return {{SIGTERM, "TERM"}, {SIGINT, "INT"}, {SIGHUP, "HUP"}};
  }
  std::string Source() const {
    return HasCorpus() ? CorpusDir() + "docs/fontconfig-user.pdf" : Example("plain.pdf");
  }
  // Only the jobs of one case.
  void ForgetJobs() {
    for (const auto& e : fs::directory_iterator(Prog() + "setting"))
      if (e.path().filename() != "default.ini") fs::remove(e.path());
  }
  CommandResult RunWith(const V& environment) {
    V argv{"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), {Prog() + "Sorvane", "/s"});
    return RunCommand(argv, Prog());
  }
  // What must hold after the run, whatever the moment of the signal: every file whose bytes
  // changed is OK in both logs and opens with the job's passwords, every other one is as it
  // was, and no temporary file is left beside the files or in temp/.
  void CheckStopped(const CommandResult& r, const Signal& s, const V& files,
                    const std::string& version, const V& results) {
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(std::string("SIG") + s.name + " を受けたため処理を中止しました"),
              std::string::npos)
        << r.err;
    const std::string resultLog = ReadFile(ResultLogPath()), checkLog = ReadFile(CheckLogPath());
    EXPECT_EQ(resultLog, Lines(results));
    const std::string source = ReadFile(Source());
    for (const std::string& f : files) {
      SCOPED_TRACE(f);
      const bool inLog = resultLog.find(f + ",") != std::string::npos;
      if (ReadFile(f) == source) {
        EXPECT_EQ(resultLog.find(f + ",OK\r\n"), std::string::npos);
        continue;
      }
      EXPECT_NE(resultLog.find(f + ",OK\r\n"), std::string::npos);
      EXPECT_NE(checkLog.find(f + ",u,o," + version + "\r\n"), std::string::npos);
      CommandResult check = RunCommand({"qpdf", "--check", "--password=o", f});
      EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
      EXPECT_EQ(Field(Info(f, "-upw", "u"), "PDF version"), version);
      EXPECT_TRUE(inLog);
    }
    for (const auto& e : fs::recursive_directory_iterator(Prog()))
      EXPECT_NE(e.path().filename().string().rfind(".~sv", 0), 0u) << e.path();
    EXPECT_EQ(std::distance(fs::directory_iterator(Prog() + "temp"), fs::directory_iterator()), 0);
  }
};

}  // namespace

TEST_F(SorvaneStopped, ASignalDuringLibraryRewritesEndsTheRunWithEveryRewrittenFileLogged) {
  for (const Signal& s : Signals()) {
    SCOPED_TRACE(s.name);
    ForgetJobs();
    // Two jobs; the signal comes when the fourth file of the first is handed to a thread.
    const std::string a = Prog() + "a" + s.name, b = Prog() + "b" + s.name;
    V files;
    for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf", "6.pdf"})
      files.push_back(Input(Source(), a, name));
    fs::create_directories(a + "/sub");
    files.push_back(Input(Source(), a + "/sub", "7.pdf"));
    files.push_back(Input(Source(), b, "1.pdf"));
    for (const std::string& job : {a, b})
      Job(job, [](TJobSettings& j) { j.Ver = 1, j.UserPassWord = "u", j.MasterPassWord = "o"; });

    CommandResult r = RunWith({"SORVANE_RAISE_AT_HANDOVER=" + std::to_string(s.number) + ",4"});
    // What was handed over is finished and logged; nothing after it is touched.
    CheckStopped(r, s, files, "1.4",
                 {files[0] + ",OK", files[1] + ",OK", files[2] + ",OK", files[3] + ",OK"});
    for (size_t i = 4; i < files.size(); ++i)
      EXPECT_EQ(ReadFile(files[i]), ReadFile(Source())) << files[i];
  }
}

TEST_F(SorvaneStopped, ASignalWhileTheOutsideToolRunsEndsItWithWhatItStarted) {
  // The tool, on its third file, starts a program of its own, writes a part of its output and
  // sends the signal to Sorvane, then waits.
  const std::string bin = Prog() + "bin/";
  fs::remove(ToolPath());
  for (const Signal& s : Signals()) {
    SCOPED_TRACE(s.name);
    ForgetJobs();
    fs::remove(bin + "count");
    fs::remove(bin + "helper");
    WriteFile(ToolPath(),
              "#!/bin/sh\n"
              "n=$(($(cat '" +
                  bin +
                  "count' 2>/dev/null || echo 0) + 1))\n"
                  "echo $n > '" +
                  bin +
                  "count'\n"
                  "if [ $n -eq 3 ]; then\n"
                  "  printf '%%PDF-1.7 part' > '" +
                  WorkFilePath() +
                  "'\n"
                  "  sleep 600 & echo $! > '" +
                  bin +
                  "helper'\n"
                  "  kill -" +
                  s.name +
                  " $PPID\n"
                  "  wait\n"
                  "fi\n"
                  "exec '" +
                  ProgramDir() + "bin/AHPDFToolCmd26' \"$@\"\n");
    ::chmod(ToolPath().c_str(), 0755);
    const std::string t = Prog() + "t" + s.name, after = Prog() + "u" + s.name;
    V files;
    for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf"})
      files.push_back(Input(Source(), t, name));
    files.push_back(Input(Source(), after, "1.pdf"));
    for (const std::string& job : {t, after})
      Job(job, [](TJobSettings& j) { j.Ver = 4, j.UserPassWord = "u", j.MasterPassWord = "o"; });

    CommandResult r = RunWith({});
    // The file whose tool run was ended is NG and as it was.
    CheckStopped(r, s, files, "1.7", {files[0] + ",OK", files[1] + ",OK", files[2] + ",NG"});
    for (size_t i = 2; i < files.size(); ++i)
      EXPECT_EQ(ReadFile(files[i]), ReadFile(Source())) << files[i];
    ASSERT_TRUE(FileExists(bin + "helper"));
    EXPECT_TRUE(ProcessGone(std::stoi(ReadFile(bin + "helper"))));
  }
}

TEST_F(SorvaneProgram, ItsFoldersAndFilesAreItsOwnWhateverTheFileModeMask) {
  auto mode = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  for (const char* mask : {"000", "022"}) {
    SCOPED_TRACE(mask);
    // temp/ and log/ to be made; setting/ there as an older start left it.
    for (const char* sub : {"temp", "log"})
      fs::remove_all(Prog() + sub);
    fs::remove(DefaultIniPath());
    ::chmod((Prog() + "setting").c_str(), 0755);
    // A program settings file that others could read, with the debug log on.
    WriteFile(AppIniPath(), "[App]\r\nDebug=1\r\n");
    ::chmod(AppIniPath().c_str(), 0644);
    const std::string input = Input(Example("plain.pdf"), Prog() + "job", "a.pdf");
    ::chmod(input.c_str(), 0664);
    Job(Prog() + "job", [](TJobSettings& j) {
      j.Ver = 3;  // the outside tool: the debug log gets its dump
      j.UserPassWord = "user";
      j.MasterPassWord = "owner";
    });
    CommandResult r = RunCommand(
        {"sh", "-c",
         std::string("umask ") + mask + " && exec env -u DISPLAY -u WAYLAND_DISPLAY \"$0\" /s",
         Prog() + "Sorvane"},
        Prog());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(ResultLogPath()), input + ",OK\r\n");
    EXPECT_NE(ReadFile(DebugLogPath()).find(input), std::string::npos);
    for (const char* sub : {"setting", "temp", "log"})
      EXPECT_EQ(mode(Prog() + sub), 0700u) << sub;
    for (const std::string& file :
         {AppIniPath(), DefaultIniPath(), ResultLogPath(), CheckLogPath(), DebugLogPath()})
      EXPECT_EQ(mode(file), 0600u) << file;
    // A user's file keeps its own mode.
    EXPECT_EQ(mode(input), 0664u);
    EXPECT_NE(Info(input, "-upw", "user"), "");
  }
}

// A power cut at any moment leaves the user's file either as it was or rewritten whole: the new
// file is flushed before it is given the file's name, and the folder after it, as strace shows
// the calls of a real run (by either engine, on whatever thread commits).
TEST_F(SorvaneProgram, ACommitFlushesTheNewFileBeforeNamingItAndTheFolderAfter) {
  SV_REQUIRE_JUDGES("strace");
  const std::vector<std::pair<std::string, int>> jobs = {{"lib", 1}, {"tool", 4}};
  for (const auto& [name, ver] : jobs) {
    Input(Example("plain.pdf"), Prog() + name, "in.pdf");
    Job(Prog() + name,
        [ver](TJobSettings& j) { j.Ver = ver, j.UserPassWord = "u", j.MasterPassWord = "o"; });
  }
  const std::string trace = Prog() + "trace.txt";
  CommandResult r = RunCommand({"strace", "-f", "-qq", "-y", "-o", trace, "-e",
                                "trace=fsync,fdatasync,rename,renameat,renameat2,link,linkat",
                                "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                // the leak check of a sanitizer build cannot run under a tracer
                                "ASAN_OPTIONS=detect_leaks=0", Prog() + "Sorvane", "/s"},
                               Prog());
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const auto& [name, ver] : jobs)
    EXPECT_EQ(
        Field(RunCommand({"pdfinfo", "-upw", "u", Prog() + name + "/in.pdf"}).out, "Encrypted")
            .substr(0, 3),
        "yes")
        << name;

  // Each call as it starts: "fsync <path>" or "name <source path> <folder> <name>".
  struct Call {
    std::string kind, path, folder, target;
  };
  std::vector<Call> calls;
  const std::regex start(R"(^\d+\s+(fsync|fdatasync|renameat2?|linkat|rename|link)\((.*)$)");
  const std::regex fdPath(R"(-?\d+<([^>]*)>)");
  const std::regex named(
      R"re(^(?:AT_FDCWD|-?\d+<([^>]*)>(?: ?\(deleted\))?), "([^"]*)", (?:AT_FDCWD|\d+<([^>]*)>), "([^"]*)")re");
  std::istringstream lines(ReadFile(trace));
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, start)) continue;
    const std::string kind = m[1], args = m[2];
    std::smatch a;
    if (kind == "fsync" || kind == "fdatasync") {
      if (std::regex_search(args, a, fdPath)) calls.push_back({"fsync", a[1], "", ""});
    } else if (kind == "renameat" || kind == "renameat2" || kind == "linkat") {
      if (std::regex_search(args, a, named)) {
        std::string source = a[2].str();
        if (!source.empty() && source[0] != '/') source = a[1].str() + "/" + source;
        if (a[2].str().empty()) source = a[1];  // AT_EMPTY_PATH: the descriptor's own file
        calls.push_back({"name", source, a[3], a[4]});
      }
    } else {
      ADD_FAILURE() << "a name-based call: " << line;
    }
  }
  for (const auto& [name, ver] : jobs) {
    SCOPED_TRACE(name);
    std::string folder = Prog() + name;
    while (folder.size() > 1 && folder.back() == '/')
      folder.pop_back();
    size_t naming = calls.size();
    for (size_t i = 0; i < calls.size(); ++i)
      if (calls[i].kind == "name" && calls[i].folder == folder && calls[i].target == "in.pdf")
        naming = i;
    ASSERT_LT(naming, calls.size()) << "the file was not given its name in its folder\n"
                                    << ReadFile(trace);
    // An unnamed new file is linked in under a hidden name first and renamed from there: the
    // earlier names of the same file count, back to its descriptor.
    std::vector<std::string> sources = {calls[naming].path};
    size_t first = naming;
    for (size_t i = naming; i-- > 0;)
      if (calls[i].kind == "name" && calls[i].folder + "/" + calls[i].target == sources.back()) {
        sources.push_back(calls[i].path);
        first = i;
      }
    const std::string& source = sources.front();
    bool fileFlushed = false;
    for (size_t i = 0; i < first; ++i)
      if (calls[i].kind == "fsync" &&
          (std::find(sources.begin(), sources.end(), calls[i].path) != sources.end() ||
           (sources.back().rfind("/proc/", 0) == 0 &&
            calls[i].path.find(" (deleted)") != std::string::npos)))
        fileFlushed = true;
    EXPECT_TRUE(fileFlushed) << "the new file " << source << " was not flushed before\n"
                             << ReadFile(trace);
    bool folderFlushed = false;
    for (size_t i = naming + 1; i < calls.size(); ++i)
      if (calls[i].kind == "fsync" && calls[i].path == folder) folderFlushed = true;
    EXPECT_TRUE(folderFlushed) << "the folder was not flushed after\n" << ReadFile(trace);
  }
}
