#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

using namespace platform;
using sv::test::ReadFile;
using sv::test::TempDir;
using sv::test::WriteFile;
namespace fs = std::filesystem;

namespace {

std::string Ansi(const char* utf8) {
  return Utf8ToAnsi(utf8);
}

void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
}

// Puts the program folder somewhere for one test and back afterwards.
class ProgramFolderScope {
 public:
  explicit ProgramFolderScope(const std::string& folder) { SetProgramFolderForTests(folder); }
  ~ProgramFolderScope() { SetProgramFolderForTests(""); }
};

class PathScope {
 public:
  explicit PathScope(const std::string& path) {
    const char* old = std::getenv("PATH");
    old_ = old ? old : "";
    ::setenv("PATH", path.c_str(), 1);
  }
  ~PathScope() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

}  // namespace

TEST(SplitCommandLine, FollowsTheMicrosoftCRuntimeRules) {
  using V = std::vector<std::string>;
  struct Case {
    std::string line;
    V args;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  a   b  ", {"a", "b"}},
      {R"("a b" c)", {"a b", "c"}},
      {R"(a"b c"d e)", {"ab cd", "e"}},
      {R"("" x "")", {"", "x", ""}},
      {R"(a\b c\\d)", {R"(a\b)", R"(c\\d)"}},        // backslashes not before a quote
      {R"(a\"b)", {R"(a"b)"}},                       // 1 -> literal quote
      {R"(a\\"b c")", {R"(a\b c)"}},                 // 2 -> one backslash, quote delimits
      {R"(a\\\"b)", {R"(a\"b)"}},                    // 3 -> one backslash and a quote
      {R"(a\\\\"b c")", {R"(a\\b c)"}},              // 4 -> two backslashes, quote delimits
      {R"("trailing\\" x)", {R"(trailing\)", "x"}},  // doubled trailing backslash
      {R"("trailing\" x)", {R"(trailing" x)"}},      // single: the quote is literal
      {R"(end\)", {R"(end\)"}},                      // at the end of the line
      {R"(end\\)", {R"(end\\)"}},
      {R"("a""b" c)", {R"(a"b)", "c"}},  // "" inside quotes: a quote, still quoted
      {R"("a""b c" d)", {R"(a"b c)", "d"}},
      {R"("unclosed arg)", {"unclosed arg"}},
      {R"(-d "/x/in.pdf" "pw" -o "/t/$output.pdf" )",
       {"-d", "/x/in.pdf", "pw", "-o", "/t/$output.pdf"}},
      // The second byte of a double-byte character is no backslash: "ソ" is 83 5C, "表" 95 5C.
      {Ansi(R"("ソ" 表" x")"), {Ansi("ソ"), Ansi("表 x")}},
      // A lead byte pairs only with a valid second byte: never with a quote, a blank or a tab.
      {"\"x\x82\" -o y", {"x\x82", "-o", "y"}},
      {"a\x82 b\x82\tc", {"a\x82", "b\x82", "c"}},
      {"\x82\"q r\"", {"\x82q r"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

TEST(QuoteArgument, GivesEveryTextBackThroughTheSplitting) {
  struct Case {
    std::string text, quoted;
  } cases[] = {
      {"", R"("")"},
      {"/data/a b.pdf", R"("/data/a b.pdf")"},
      {"a\"b", R"("a\"b")"},
      {"\"", R"("\"")"},
      {"end\\", R"("end\\")"},       // a trailing backslash doubled
      {"two\\\\", R"("two\\\\")"},   // every trailing backslash doubled
      {"in\\side", R"("in\side")"},  // a backslash inside stays single
      {"a\\\"b", R"("a\\\"b")"},     // backslashes before a quote doubled, then \"
      {"-o", R"("-o")"},
      {"tab\there\nline", "\"tab\there\nline\""},
      // Second bytes 0x5C: no backslash to double, and a real one after them still doubled.
      {Ansi("ソ"), "\"" + Ansi("ソ") + "\""},
      {Ansi("表\\"), "\"" + Ansi("表") + "\\\\\""},
      {Ansi("ソ\""), "\"" + Ansi("ソ") + "\\\"\""},
      {Ansi("パス ワード"), "\"" + Ansi("パス ワード") + "\""},
      // A lead byte without its second byte: at the end, before a quote, before a blank.
      {"x\x82", "\"x\x82\""},
      {"\x82\"", "\"\x82\"\"\""},
      {"\x82 -o /x", "\"\x82 -o /x\""},
      {"\x82\x7F", "\"\x82\x7F\""},  // 0x7F is no second byte
      {"\x81\x81\\", "\"\x81\x81\\\\\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuoteArgument(c.text), c.quoted) << c.text;
    EXPECT_EQ(SplitCommandLine("x " + QuoteArgument(c.text) + " y"),
              (std::vector<std::string>{"x", c.text, "y"}))
        << c.text;
  }
  // Texts made of the bytes that matter to either side, in every order.
  const std::string bytes = std::string("\"\\ \t-a@\x7F") + "\x81\x83\x95\x9F\xE0\xFC\xFD\x80\x40";
  std::mt19937 random(14);
  for (int n = 0; n < 20000; ++n) {
    std::string text(random() % 9, ' ');
    for (char& c : text)
      c = bytes[random() % bytes.size()];
    ASSERT_EQ(SplitCommandLine("x " + QuoteArgument(text) + " y"),
              (std::vector<std::string>{"x", text, "y"}))
        << QuoteArgument(text);
  }
}

TEST(ResolveCommandLine, SearchesProgramFolderCurrentFolderThenPath) {
  TempDir prog, cur, path1, path2;
  ProgramFolderScope scope(prog.Path());
  WriteScript(prog / "both", "exit 0");
  WriteScript(cur / "both", "exit 0");
  WriteScript(cur / "here", "exit 0");
  WriteScript(path2 / "onpath", "exit 0");
  WriteScript(path1 / "here", "exit 0");
  WriteFile(path1 / "onpath", "not executable");
  PathScope pathScope(path1.Path() + ":" + path2.Path());

  auto r = ResolveCommandLine("both -x", cur.Path());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->program, prog / "both");
  EXPECT_EQ(r->programName, "both");
  EXPECT_EQ(r->arguments, std::vector<std::string>{"-x"});
  EXPECT_EQ(ResolveCommandLine("here", cur.Path())->program, cur / "here");
  EXPECT_EQ(ResolveCommandLine("onpath a \"b c\"", cur.Path())->program, path2 / "onpath");
  EXPECT_EQ(ResolveCommandLine("onpath a \"b c\"", cur.Path())->arguments,
            (std::vector<std::string>{"a", "b c"}));
  EXPECT_FALSE(ResolveCommandLine("nothere", cur.Path()));
  EXPECT_FALSE(ResolveCommandLine("", cur.Path()));
  // A relative path is taken below the current folder and not searched for.
  fs::create_directory(cur / "bin");
  WriteScript(cur / "bin/tool", "exit 0");
  EXPECT_EQ(ResolveCommandLine("bin/tool", cur.Path())->program, cur / "bin/tool");
  EXPECT_FALSE(ResolveCommandLine("bin/tool", prog.Path()));
}

TEST(FindOnPath, TakesTheFirstExecutableOfPathOnly) {
  TempDir prog, path1, path2;
  ProgramFolderScope scope(prog.Path());
  WriteScript(prog / "tool", "exit 0");
  WriteFile(path1 / "tool", "not executable");
  fs::create_directory(path1 / "dir");
  WriteScript(path2 / "tool", "exit 0");
  WriteScript(path2 / "dir", "exit 0");
  PathScope pathScope(path1.Path() + ":" + path2.Path());
  EXPECT_EQ(FindOnPath("tool"), path2 / "tool");  // not the program folder's
  EXPECT_EQ(FindOnPath("dir"), path2 / "dir");    // a folder is no program
  EXPECT_FALSE(FindOnPath("missing"));
  EXPECT_FALSE(FindOnPath(""));
  EXPECT_FALSE(FindOnPath(prog / "tool"));  // names only
  EXPECT_TRUE(IsExecutableFile(prog / "tool"));
  EXPECT_FALSE(IsExecutableFile(path1 / "tool"));
  EXPECT_FALSE(IsExecutableFile(path1 / "dir"));
  PathScope empty("");
  EXPECT_FALSE(FindOnPath("tool"));
}

TEST(ResolveCommandLine, TriesAnUnquotedPathWithBlanksPieceByPiece) {
  TempDir dir;
  fs::create_directories(dir / "my tools/sub dir");
  WriteScript(dir / "my tools/sub dir/run", "exit 0");
  std::string base = dir / "my tools/sub dir/run";

  auto r = ResolveCommandLine(base + " one \"two three\"");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->program, base);
  EXPECT_EQ(r->programName, base);
  EXPECT_EQ(r->arguments, (std::vector<std::string>{"one", "two three"}));

  // The shorter piece wins once it is a program.
  WriteScript(dir / "my", "exit 0");
  r = ResolveCommandLine(base + " one");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->program, dir / "my");
  EXPECT_EQ(r->arguments, (std::vector<std::string>{"tools/sub", "dir/run", "one"}));

  // Quoted, the name is taken whole.
  r = ResolveCommandLine("\"" + base + "\" one");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->program, base);
  EXPECT_EQ(r->arguments, (std::vector<std::string>{"one"}));
  EXPECT_FALSE(ResolveCommandLine("\"" + dir / "my tools\" x"));
}

TEST(RunAndWait, ReturnsExitCodesOfRealChildren) {
  TempDir dir;
  WriteScript(dir / "code", "exit \"$1\"");
  WriteScript(dir / "killed", "kill -9 $$");
  WriteFile(dir / "plain", "no program");
  ::chmod((dir / "plain").c_str(), 0644);
  struct Case {
    std::string line;
    int code;
  } cases[] = {
      {dir / "code 0", 0},
      {dir / "code 3", 3},
      {dir / "code 255", 255},
      {dir / "killed", 128 + 9},
      {dir / "missing", -1},
      {dir / "plain", -1},
      {"", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RunAndWait(c.line, "", 0), c.code) << c.line;
  EXPECT_EQ(RunAndWait(dir / "code 0", dir / "no such folder", 0), -1);
}

TEST(RunAndWait, StartsInTheGivenFolderWithUtf8ArgumentsAndKeepsOurFolder) {
  TempDir dir;
  fs::create_directory(dir / "作業");
  WriteScript(dir / "show",
              "pwd > out.txt; for a in \"$@\"; do printf '[%s]' \"$a\" >> out.txt; done");
  std::string before = fs::current_path();
  std::string work = dir.Path() + Ansi("作業");
  int rc = RunAndWait(dir / "show" + Ansi(" \"日本 語\" a\\\"b ソ\\"), work, 0);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadFile(dir / "作業/out.txt"), dir / "作業\n" + std::string("[日本 語][a\"b][ソ\\]"));
  EXPECT_EQ(std::string(fs::current_path()), before);
}

TEST(RunAndWait, HandsAPathArgumentOnAsTheFileSystemSpellsIt) {
  // The file is named with the wave dash U+301C; code page 932 reads its bytes 81 60 as U+FF5E.
  TempDir dir;
  WriteFile(dir / "a\u301Cb.pdf", "wave dash");
  WriteScript(dir / "show", "cat \"$1\" > out.txt");
  const std::string path = dir.Path() + Ansi("a\uFF5Eb.pdf");
  ASSERT_EQ(RunAndWait(QuoteArgument(dir / "show") + " " + QuoteArgument(path), dir.Path(), 0), 0);
  EXPECT_EQ(ReadFile(dir / "out.txt"), "wave dash");
}

TEST(RunAndWait, ProcessesPendingEventsAndSleepsWhileTheChildRuns) {
  TempDir dir;
  WriteScript(dir / "slow", "sleep 0.5; exit 4");
  int calls = 0;
  SetPendingEventsHook([&] { ++calls; });
  auto start = std::chrono::steady_clock::now();
  int rc = RunAndWait(dir / "slow", "", 20);
  auto took = std::chrono::steady_clock::now() - start;
  SetPendingEventsHook(nullptr);
  EXPECT_EQ(rc, 4);
  EXPECT_GE(calls, 2);  // 0.5 s at 100 ms + 20 ms a pass
  EXPECT_GE(took, std::chrono::milliseconds(500));

  calls = 0;
  EXPECT_EQ(RunAndWait(dir / "missing", "", 0), -1);
  EXPECT_EQ(calls, 0);
  ProcessPendingEvents();  // no hook: nothing happens
}

TEST(RunAndWait, HandsDownOurOutputUnlessToldToDiscardIt) {
  TempDir dir;
  WriteScript(dir / "talk", "echo to-out; echo to-err >&2; exit 2");
  for (ChildOutput mode : {ChildOutput::kInherit, ChildOutput::kDiscard}) {
    bool shown = mode == ChildOutput::kInherit;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int rc = RunAndWait(dir / "talk", "", 0, mode);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(out.find("to-out") != std::string::npos, shown) << out;
    EXPECT_EQ(err.find("to-err") != std::string::npos, shown) << err;
  }
}

TEST(RunAndWait, EndsAChildAndWhatItStartedAtTheTimeLimit) {
  using namespace std::chrono_literals;
  TempDir dir;
  WriteScript(dir / "hang", "sleep 600 & echo $! > '" + dir / "pid" + "'; wait");
  WriteScript(dir / "code", "exit \"$1\"");
  int events = 0;
  SetPendingEventsHook([&] { ++events; });
  EXPECT_EQ(RunAndWait(dir / "hang", "", 20, ChildOutput::kDiscard, 1500ms), kRunTimedOut);
  SetPendingEventsHook(nullptr);
  EXPECT_GE(events, 1);
  ASSERT_TRUE(sv::test::FileExists(dir / "pid"));
  EXPECT_TRUE(sv::test::ProcessGone(std::stoi(ReadFile(dir / "pid"))));
  // Within the limit, or without one, the exit code as always.
  EXPECT_EQ(RunAndWait(dir / "code 3", "", 0, ChildOutput::kDiscard, 60s), 3);
  EXPECT_EQ(RunAndWait(dir / "code 4", "", 0, ChildOutput::kDiscard, 0ms), 4);
  EXPECT_EQ(RunAndWait(dir / "missing", "", 0, ChildOutput::kDiscard, 60s), kRunNotStarted);
}

TEST(RunAndWait, EndsAChildAndWhatItStartedWhenAskedToStop) {
  using namespace std::chrono_literals;
  TempDir dir;
  WriteScript(dir / "hang", "sleep 600 & echo $! > '" + dir / "pid" + "'; wait");
  WriteScript(dir / "code", "exit \"$1\"");
  // Asked to stop once the child has started its own: without a time limit, and long before one.
  for (std::chrono::milliseconds limit : {0ms, 600000ms}) {
    fs::remove(dir / "pid");
    int polls = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunAndWait(dir / "hang", "", 5, ChildOutput::kDiscard, limit,
                         [&] {
                           ++polls;
                           return sv::test::FileExists(dir / "pid");
                         }),
              kRunStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_GE(polls, 1);
    ASSERT_TRUE(sv::test::FileExists(dir / "pid"));
    EXPECT_TRUE(sv::test::ProcessGone(std::stoi(ReadFile(dir / "pid"))));
  }
  // Never asked: the exit code as always.
  EXPECT_EQ(RunAndWait(dir / "code 5", "", 0, ChildOutput::kDiscard, 0ms, [] { return false; }), 5);
}

TEST(StartProcess, EndTerminatesTheGroupAndKillsWhatIgnoresTheRequest) {
  TempDir dir;
  for (const char* name : {"polite", "stubborn"}) {
    SCOPED_TRACE(name);
    const bool stubborn = std::string(name) == "stubborn";
    WriteScript(dir / name, std::string(stubborn ? "trap '' TERM; " : "") +
                                "sleep 600 & echo $! > '" + dir / name + ".pid'; wait; wait");
    std::string error;
    auto p = StartProcess(dir / name, "", &error, ChildOutput::kDiscard, ProcessGroup::kOwn);
    ASSERT_TRUE(p) << error;
    for (int i = 0; i < 500 && !sv::test::FileExists(dir / name + ".pid"); ++i)
      p->WaitFor(10);
    ASSERT_FALSE(p->WaitFor(0));
    p->End(300);
    EXPECT_TRUE(p->Ended());
    EXPECT_EQ(p->ExitCode(), 128 + (stubborn ? SIGKILL : SIGTERM));
    EXPECT_TRUE(sv::test::ProcessGone(std::stoi(ReadFile(dir / name + ".pid"))));
  }
}

TEST(StartProcess, PollsAndKeepsTheExitCode) {
  TempDir dir;
  WriteScript(dir / "s", "sleep 0.3; exit 9");
  std::string error;
  auto p = StartProcess(dir / "s", "", &error);
  ASSERT_TRUE(p) << error;
  EXPECT_GT(p->Id(), 0);
  EXPECT_FALSE(p->WaitFor(0));
  EXPECT_FALSE(p->Ended());
  EXPECT_TRUE(p->WaitFor(-1));
  EXPECT_EQ(p->ExitCode(), 9);
  EXPECT_TRUE(p->WaitFor(0));
  EXPECT_FALSE(StartProcess(dir / "none", "", &error));
  EXPECT_NE(error.find("none"), std::string::npos);
}

TEST(ProgramFolder, IsTheExecutablesFolderUnlessSetForTests) {
  std::string real = ProgramFolder();
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(real.back(), '/');
  EXPECT_EQ(ProgramFile().rfind(real, 0), 0u);
  EXPECT_EQ(ProgramFile().substr(real.size()), "platform_tests");
  SetProgramFolderForTests("/x/y", "Sorvane");
  EXPECT_EQ(ProgramFolder(), "/x/y/");
  EXPECT_EQ(ProgramFile(), "/x/y/Sorvane");
  SetProgramFolderForTests("");
  EXPECT_EQ(ProgramFolder(), real);
}
