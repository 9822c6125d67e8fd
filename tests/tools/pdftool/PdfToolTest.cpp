// AHPDFToolCmd26 run as a program, its results judged by qpdf and poppler's pdfinfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

using sv::test::CommandResult;
using sv::test::FileExists;
using sv::test::ReadFile;
using sv::test::RunCommand;
using sv::test::TempDir;
using sv::test::WriteFile;

namespace {

std::string ToolPath() {
  return sv::test::ProgramDir() + "bin/AHPDFToolCmd26";
}

CommandResult Tool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

std::string Cp932(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

// A small PDF: `pages` pages of Helvetica text, an optional Info dictionary (its body), an
// optional link annotation on the first page, optionally an LZW stream that cannot be decoded,
// entries added to the first page's dictionary and to the trailer.
struct PdfSpec {
  std::string version = "1.4";
  int pages = 2;
  std::string info;
  bool annotation = false;
  bool brokenStream = false;
  const char* firstPage = "";
  const char* trailer = "";
};

std::string MakePdf(const PdfSpec& spec) {
  std::vector<std::string> objects;  // bodies of objects 1..n
  auto add = [&objects](std::string body) {
    objects.push_back(std::move(body));
    return static_cast<int>(objects.size());
  };
  auto ref = [](int n) { return std::to_string(n) + " 0 R"; };
  int catalog = add("");
  int pagesObj = add("");
  int font = add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  std::string kids;
  for (int i = 1; i <= spec.pages; ++i) {
    std::string text = "BT /F1 24 Tf 72 700 Td (Page " + std::to_string(i) + ") Tj ET";
    int content =
        add("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
    std::string extra;
    if (i == 1 && spec.annotation)
      extra =
          " /Annots [<< /Type /Annot /Subtype /Link /Rect [72 690 200 730] /Border [0 0 0]"
          " /A << /S /URI /URI (http://example.com/) >> >>]";
    if (i == 1 && spec.brokenStream) {
      std::string junk = "this is no LZW data";
      int xo =
          add("<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] /Filter /LZWDecode"
              " /Length " +
              std::to_string(junk.size()) + " >>\nstream\n" + junk + "\nendstream");
      extra +=
          " /Resources << /Font << /F1 " + ref(font) + " >> /XObject << /X1 " + ref(xo) + " >> >>";
    } else {
      extra += " /Resources << /Font << /F1 " + ref(font) + " >> >>";
    }
    if (i == 1) extra += spec.firstPage;
    int page = add("<< /Type /Page /Parent " + ref(pagesObj) +
                   " /MediaBox [0 0 612 792] /Contents " + ref(content) + extra + " >>");
    kids += ref(page) + " ";
  }
  objects[catalog - 1] = "<< /Type /Catalog /Pages " + ref(pagesObj) + " >>";
  objects[pagesObj - 1] =
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(spec.pages) + " >>";
  int info = spec.info.empty() ? 0 : add("<< " + spec.info + " >>");

  std::string pdf = "%PDF-" + spec.version + "\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    std::string s = std::to_string(off);
    pdf += std::string(10 - s.size(), '0') + s + " 00000 n \n";
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root " + ref(catalog) +
         (info ? " /Info " + ref(info) : "") + " " + spec.trailer + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// The lines "key: value" of a program's output.
std::map<std::string, std::string> Fields(const std::string& out) {
  std::map<std::string, std::string> fields;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      size_t v = line.find_first_not_of(' ', colon + 1);
      fields[line.substr(0, colon)] = v == std::string::npos ? "" : line.substr(v);
    }
    pos = end + 1;
  }
  return fields;
}

std::map<std::string, std::string> PdfInfo(const std::string& file,
                                           const std::vector<std::string>& extra = {}) {
  std::vector<std::string> argv{"pdfinfo", "-enc", "UTF-8"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(file);
  CommandResult r = RunCommand(argv);
  if (r.exitCode != 0) return {};
  return Fields(r.out);
}

bool PdfInfoOpens(const std::string& file, const std::vector<std::string>& extra) {
  std::vector<std::string> argv{"pdfinfo"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(file);
  return RunCommand(argv).exitCode == 0;
}

// What qpdf --show-encryption says: "R", the stream method and the permissions as the set of
// those not allowed (by qpdf's names).
struct Encryption {
  std::string R;
  std::string method;
  std::set<std::string> denied;
  bool ownerMatched = false;
};

Encryption ShowEncryption(const std::string& file, const std::string& password) {
  CommandResult r = RunCommand({"qpdf", "--show-encryption", "--password=" + password, file});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto f = Fields(r.out);
  Encryption e;
  size_t rpos = r.out.find("R = ");
  if (rpos != std::string::npos) e.R = r.out.substr(rpos + 4, r.out.find('\n', rpos) - rpos - 4);
  e.method = f.count("stream encryption method") ? f["stream encryption method"] : "RC4";
  for (const auto& [k, v] : f)
    if (v == "not allowed" && k != "modify anything") e.denied.insert(k);
  e.ownerMatched = r.out.find("Supplied password is owner password") != std::string::npos;
  return e;
}

// The names in a folder.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

bool QpdfChecks(const std::string& file, const std::string& password = "") {
  std::vector<std::string> argv{"qpdf", "--check"};
  if (!password.empty()) argv.push_back("--password=" + password);
  argv.push_back(file);
  return RunCommand(argv).exitCode == 0;
}

// The tool's fixtures (tests/tools/pdftool/fixtures, made by make-fixtures.py there).
std::string Fixture(const std::string& name) {
  return sv::test::SourceDir() + "tests/tools/pdftool/fixtures/" + name;
}

// The shared judge of a rewrite: qpdf --check, pdfinfo with both passwords, page count,
// structure and the rendering of every page against the input.
std::string RewriteJudge() {
  return sv::test::SharedToolsDir() + "verify-rewrite";
}

// An object of a file as MuPDF reads it (mutool show's path, arrays counted from 1).
std::string MutoolShow(const std::string& file, const std::string& password,
                       const std::string& path) {
  CommandResult r = RunCommand({"mutool", "show", "-p", password, file, path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// The first word of the trailer's /ID in hexadecimal, as qpdf reads it.
std::string FirstIdWord(const std::string& file, const std::string& password) {
  CommandResult r =
      RunCommand({"qpdf", "--json=2", "--json-key=qpdf", "--password=" + password, file});
  std::smatch m;
  if (!std::regex_search(r.out, m, std::regex(R"re("/ID": \[\s*"b:([0-9a-f]*)")re"))) return "?";
  return m[1];
}

class PdfTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FileExists(ToolPath())) GTEST_SKIP() << "the tool is not built: " << ToolPath();
    SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  }
  std::string Input(const PdfSpec& spec, const std::string& name = "in.pdf") {
    WriteFile(dir / name, MakePdf(spec));
    return dir / name;
  }
  // Encrypts a fixture with the qpdf program (key length 40, 128 or 256).
  std::string EncryptedInput(const std::string& user, const std::string& owner, int bits) {
    std::string plain = Input({});
    std::string out = dir / ("enc" + std::to_string(bits) + ".pdf");
    std::vector<std::string> argv{"qpdf", "--allow-weak-crypto", "--encrypt", user,
                                  owner,  std::to_string(bits)};
    if (bits == 128) argv.push_back("--use-aes=y");
    argv.insert(argv.end(), {"--", plain, out});
    EXPECT_EQ(RunCommand(argv).exitCode, 0);
    std::filesystem::remove(plain);
    return out;
  }
  TempDir dir;
};

const std::set<std::string> kAll = {};
const std::set<std::string> kNoPrint = {"print low resolution", "print high resolution"};

TEST_F(PdfTool, OptionsGiveVersionMethodPasswordsAndRestrictions) {
  struct Case {
    std::string name;
    std::string inputVersion;
    std::vector<std::string> args;
    std::string version;    // pdfinfo's "PDF version"
    std::string R, method;  // empty R: not encrypted
    std::string upw, opw;   // the passwords that must open the output
    std::set<std::string> denied;
  } cases[] = {
      {"1.6 is AES-128",
       "1.4",
       {"-pdfver", "1.6", "-userpwd", "u", "-ownerpwd", "o"},
       "1.6",
       "4",
       "AESv2",
       "u",
       "o",
       kAll},
      {"1.7 is AES-256 with every restriction",
       "1.4",
       {"-pdfver", "1.7", "-userpwd", "u", "-ownerpwd", "o", "-ppa", "1", "-ncc", "-nca", "-nff",
        "-nno", "-nab"},
       "1.7",
       "6",
       "AESv3",
       "u",
       "o",
       {"print low resolution", "print high resolution", "extract for any purpose",
        "extract for accessibility", "modify document assembly", "modify forms",
        "modify annotations", "modify other"}},
      {"1.6 keeps the accessibility restriction",
       "1.4",
       {"-pdfver", "1.6", "-userpwd", "u", "-ownerpwd", "o", "-nab", "-ncc"},
       "1.6",
       "4",
       "AESv2",
       "u",
       "o",
       {"extract for accessibility", "extract for any purpose"}},
      {"1.5 is RC4 128-bit",
       "1.4",
       {"-pdfver", "1.5", "-userpwd", "u", "-ownerpwd", "o", "-ppa", "1"},
       "1.5",
       "3",
       "RC4",
       "u",
       "o",
       kNoPrint},
      {"an owner password alone leaves the user password empty",
       "1.4",
       {"-pdfver", "1.4", "-ownerpwd", "o", "-nca"},
       "1.4",
       "3",
       "RC4",
       "",
       "o",
       {"modify document assembly", "modify other"}},
      {"a user password alone is the owner password too",
       "1.4",
       {"-pdfver", "1.6", "-userpwd", "u", "-nff", "-nno"},
       "1.6",
       "4",
       "AESv2",
       "u",
       "u",
       {"modify annotations", "modify forms"}},
      {"no -pdfver keeps a 1.6 input's version: AES-128",
       "1.6",
       {"-userpwd", "u", "-ownerpwd", "o"},
       "1.6",
       "4",
       "AESv2",
       "u",
       "o",
       kAll},
      {"no -pdfver keeps a 1.7 input's version: AES-256",
       "1.7",
       {"-userpwd", "u", "-ownerpwd", "o"},
       "1.7",
       "6",
       "AESv3",
       "u",
       "o",
       kAll},
      {"no -pdfver keeps a 1.5 input's version: RC4",
       "1.5",
       {"-userpwd", "u", "-ownerpwd", "o"},
       "1.5",
       "3",
       "RC4",
       "u",
       "o",
       kAll},
      {"no -pdfver raises a 1.3 input to what RC4 128-bit needs",
       "1.3",
       {"-userpwd", "u", "-ownerpwd", "o"},
       "1.4",
       "3",
       "RC4",
       "u",
       "o",
       kAll},
      {"-pdfver lowers the version", "1.7", {"-pdfver", "1.3"}, "1.3", "", "", "", "", kAll},
      {"no options keep the version", "1.5", {}, "1.5", "", "", "", "", kAll},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PdfSpec spec;
    spec.version = c.inputVersion;
    std::string in = Input(spec);
    std::string out = dir / "out.pdf";
    std::vector<std::string> args{"-annotFile", "-d", in, "-o", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CommandResult r = Tool(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(QpdfChecks(out, c.opw));
    auto info = PdfInfo(
        out, c.upw.empty() ? std::vector<std::string>{} : std::vector<std::string>{"-upw", c.upw});
    EXPECT_EQ(info["PDF version"], c.version);
    EXPECT_EQ(info["Pages"], "2");
    if (c.R.empty()) {
      EXPECT_EQ(info["Encrypted"], "no");
    } else {
      EXPECT_TRUE(PdfInfoOpens(out, {"-opw", c.opw}));
      if (!c.upw.empty()) {
        EXPECT_FALSE(PdfInfoOpens(out, {}));
      }
      EXPECT_FALSE(PdfInfoOpens(out, {"-upw", "wrong"}));
      Encryption e = ShowEncryption(out, c.opw);
      EXPECT_EQ(e.R, c.R);
      EXPECT_EQ(e.method, c.method);
      EXPECT_EQ(e.denied, c.denied);
      EXPECT_TRUE(e.ownerMatched);
      // The user password grants what the permissions say, not the owner's rights.
      if (!c.upw.empty() && c.upw != c.opw) {
        EXPECT_FALSE(ShowEncryption(out, c.upw).ownerMatched);
      }
    }
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"in.pdf", "out.pdf"}));
    std::filesystem::remove(out);
  }
}

TEST_F(PdfTool, InformationTextsInCodePage932AndUtf8) {
  std::string in = Input({.info = "/Title (Old title) /Keywords (kept) /Creator (old)"});
  std::string out = dir / "out.pdf";
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    std::vector<std::string> args{"-d",        in,
                                  "-o",        out,
                                  "-title",    Cp932("日本語のタイトル"),
                                  "-subtitle", Cp932("副題 ①ｶﾅ"),
                                  "-author",   "Plain Author",
                                  "-creator",  "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88",  // UTF-8
                                  "-producer", Cp932("製作"),
                                  "-pdfver",   "1.7"};
    if (encrypted) args.insert(args.end(), {"-userpwd", "u", "-ownerpwd", "o"});
    CommandResult r = Tool(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto info = PdfInfo(
        out, encrypted ? std::vector<std::string>{"-upw", "u"} : std::vector<std::string>{});
    EXPECT_EQ(info["Title"], "日本語のタイトル");
    EXPECT_EQ(info["Subject"], "副題 ①ｶﾅ");
    EXPECT_EQ(info["Author"], "Plain Author");
    EXPECT_EQ(info["Creator"], "テスト");
    EXPECT_EQ(info["Producer"], "製作");
    EXPECT_EQ(info["Keywords"], "kept");  // not given: kept as it was
    EXPECT_EQ(info["Encrypted"].substr(0, 3), encrypted ? "yes" : "no");
  }
  // An input without an Info dictionary gets one.
  std::string bare = Input({}, "bare.pdf");
  ASSERT_EQ(Tool({"-d", bare, "-o", out, "-keyword", Cp932("鍵")}).exitCode, 0);
  EXPECT_EQ(PdfInfo(out)["Keywords"], "鍵");
}

TEST_F(PdfTool, PathsInCodePage932) {
  std::string folder = dir / "フォルダ";
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/入力.pdf", MakePdf({}));
  CommandResult r = Tool({"-d", Cp932((folder + "/入力.pdf").c_str()), "-o",
                          Cp932((folder + "/出力.pdf").c_str()), "-userpwd", "u"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(PdfInfoOpens(folder + "/出力.pdf", {"-upw", "u"}));
}

TEST_F(PdfTool, PasswordsAreUsedByteForByte) {
  // Japanese passwords as code page 932 bytes, and a password with a quote and a backslash.
  std::string jpUser = Cp932("ユーザー"), jpOwner = Cp932("所有者");
  std::string in = Input({});
  for (const char* version : {"1.5", "1.6", "1.7"}) {
    SCOPED_TRACE(version);
    std::string out = dir / (std::string("out") + version + ".pdf");
    ASSERT_EQ(
        Tool({"-d", in, "-o", out, "-pdfver", version, "-userpwd", jpUser, "-ownerpwd", jpOwner})
            .exitCode,
        0);
    EXPECT_TRUE(PdfInfoOpens(out, {"-upw", jpUser}));
    EXPECT_TRUE(PdfInfoOpens(out, {"-opw", jpOwner}));
    EXPECT_FALSE(PdfInfoOpens(out, {"-upw", "ユーザー"}));  // the UTF-8 bytes are another password
    // The tool opens its own output with the same bytes.
    std::string again = dir / "again.pdf";
    ASSERT_EQ(Tool({"-changeInfo", "-d", out, jpOwner, "-o", again}).exitCode, 0);
    EXPECT_EQ(Tool({"-changeInfo", "-d", out, jpUser, "-o", again}).exitCode, 2);
  }
  std::string out = dir / "quote.pdf";
  ASSERT_EQ(Tool({"-d", in, "-o", out, "-userpwd", "a\"b\\", "-pdfver", "1.6"}).exitCode, 0);
  EXPECT_TRUE(PdfInfoOpens(out, {"-upw", "a\"b\\"}));
}

TEST_F(PdfTool, WebOptLinearizesAndAnnotationsAreKept) {
  std::string in = Input({.version = "1.4", .pages = 3, .info = "", .annotation = true});
  for (bool web : {false, true}) {
    SCOPED_TRACE(web ? "-webopt" : "no -webopt");
    std::string out = dir / "out.pdf";
    std::vector<std::string> args{"-annotFile", "-d",       in,  "-o",        out, "-pdfver",
                                  "1.6",        "-userpwd", "u", "-ownerpwd", "o"};
    if (web) args.push_back("-webopt");
    ASSERT_EQ(Tool(args).exitCode, 0);
    EXPECT_EQ(PdfInfo(out, {"-upw", "u"})["Optimized"], web ? "yes" : "no");
    CommandResult lin = RunCommand({"qpdf", "--password=o", "--check-linearization", out});
    if (web)
      EXPECT_EQ(lin.exitCode, 0) << lin.out << lin.err;
    else
      EXPECT_NE(lin.out.find("not linearized"), std::string::npos) << lin.out;
    std::string qdf = dir / "qdf.pdf";
    ASSERT_EQ(RunCommand({"qpdf", "--password=o", "--decrypt", "--qdf", "--object-streams=disable",
                          out, qdf})
                  .exitCode,
              0);
    std::string text = ReadFile(qdf);
    EXPECT_NE(text.find("/Subtype /Link"), std::string::npos);
    EXPECT_NE(text.find("(http://example.com/)"), std::string::npos);
  }
}

TEST_F(PdfTool, ObjectStreamsOnlyForTargetsThatAllowThem) {
  std::string in = Input({.version = "1.4", .pages = 3, .info = "", .annotation = true});
  for (const char* version : {"1.5", "1.6", "1.7"}) {
    for (bool web : {false, true}) {
      SCOPED_TRACE(std::string(version) + (web ? " -webopt" : ""));
      std::string out = dir / "out.pdf";
      std::vector<std::string> args{"-d",    in,         "-o", out,         "-pdfver",
                                    version, "-userpwd", "u",  "-ownerpwd", "o"};
      if (web) args.push_back("-webopt");
      ASSERT_EQ(Tool(args).exitCode, 0);
      EXPECT_TRUE(QpdfChecks(out, "o"));
      CommandResult xref = RunCommand({"qpdf", "--password=o", "--show-xref", out});
      ASSERT_EQ(xref.exitCode, 0) << xref.err;
      const bool packed = xref.out.find(": compressed;") != std::string::npos;
      EXPECT_EQ(packed, std::string(version) != "1.5") << xref.out;
      EXPECT_EQ(PdfInfo(out, {"-upw", "u"})["Pages"], "3");
    }
  }
}

TEST_F(PdfTool, FixturesOfEachKindAreRewrittenWholeWithBothTargetsWithAndWithoutWebOpt) {
  // An 8-byte /ID word (the linearized write lost its cross-reference), two generations of one
  // object (the linearizer refused it), names that hold "#" (written as a stray "#", or with a
  // changed meaning: "/F#2341" as "/F#41", which reads "FA").
  SV_REQUIRE_JUDGES("../shared/tools", "mutool");
  for (const char* name :
       {"id-8-bytes.pdf", "generations.pdf", "name-hash.pdf", "name-hash-objstm.pdf"}) {
    const std::string in = Fixture(name);
    const std::string original = ReadFile(in);
    for (const char* version : {"1.6", "1.7"}) {
      for (bool web : {false, true}) {
        SCOPED_TRACE(std::string(name) + " " + version + (web ? " -webopt" : ""));
        const std::string out = dir / "$output.pdf";
        std::vector<std::string> args{"-annotFile", "-d",    in,         "-o", out,
                                      "-pdfver",    version, "-userpwd", "u",  "-ownerpwd",
                                      "o",          "-ppa",  "1"};
        if (web) args.push_back("-webopt");
        CommandResult r = Tool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        CommandResult v = RunCommand({RewriteJudge(), in, out, "u", "o"});
        EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
        auto info = PdfInfo(out, {"-upw", "u"});
        EXPECT_EQ(info["PDF version"], version);
        EXPECT_EQ(info["Optimized"], web ? "yes" : "no");
        if (web) {
          CommandResult lin = RunCommand({"qpdf", "--password=u", "--check-linearization", out});
          EXPECT_EQ(lin.exitCode, 0) << lin.out << lin.err;
        }
        if (std::string(name).find("name-hash") == 0) {
          const std::string page = MutoolShow(out, "u", "Root/Pages/Kids/1");
          EXPECT_NE(page.find("/F#2341 "), std::string::npos) << page;
          EXPECT_NE(page.find("/PieceTag /#23\n"), std::string::npos) << page;
          EXPECT_EQ(MutoolShow(out, "u", "Root/Pages/Kids/1/Annots/1/Name"), "/Note#23A\n");
        }
        EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"$output.pdf"});
        std::filesystem::remove(out);
      }
    }
    EXPECT_EQ(ReadFile(in), original);
  }
}

TEST_F(PdfTool, LinearizedEncryptedOutputWhateverTheInputsIdentifier) {
  // The output keeps the input's first /ID word when it is a string, the words that cannot be
  // kept are replaced by fresh 16 bytes.
  const std::string word32(64, 'c');
  struct Case {
    const char* name;
    std::string trailer;
    std::string firstWord;  // hexadecimal; empty: any 16 bytes
  } cases[] = {
      {"no /ID", "", ""},
      {"16 bytes", "/ID [<00112233445566778899AABBCCDDEEFF> <00>]",
       "00112233445566778899aabbccddeeff"},
      {"8 bytes", "/ID [<F123456789ABCDEF> <F123456789ABCDEF>]", "f123456789abcdef"},
      {"1 byte", "/ID [<FF> <FE>]", "ff"},
      {"32 bytes", "/ID [<" + word32 + "> <" + word32 + ">]", word32},
      {"empty words", "/ID [<> <>]", ""},
      {"words that are no strings", "/ID [1 2]", ""},
      {"no array", "/ID (abc)", ""},
  };
  for (const auto& c : cases) {
    std::string in =
        Input({.version = "1.4", .pages = 2, .info = "", .trailer = c.trailer.c_str()});
    for (const char* version : {"1.5", "1.6", "1.7"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + version);
      std::string out = dir / "out.pdf";
      CommandResult r = Tool(
          {"-d", in, "-o", out, "-webopt", "-pdfver", version, "-userpwd", "u", "-ownerpwd", "o"});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_TRUE(QpdfChecks(out, "u"));
      CommandResult lin = RunCommand({"qpdf", "--password=o", "--check-linearization", out});
      EXPECT_EQ(lin.exitCode, 0) << lin.out << lin.err;
      auto info = PdfInfo(out, {"-upw", "u"});
      EXPECT_EQ(info["Optimized"], "yes");
      EXPECT_EQ(info["Pages"], "2");
      EXPECT_TRUE(PdfInfoOpens(out, {"-opw", "o"}));
      const std::string word = FirstIdWord(out, "u");
      if (c.firstWord.empty())
        EXPECT_EQ(word.size(), 32u) << word;
      else
        EXPECT_EQ(word, c.firstWord);
      std::filesystem::remove(out);
    }
  }
}

TEST_F(PdfTool, NamesWithAStrayHashAreWrittenAsReadersTakeThem) {
  // "/A#zz" has a "#" that is no escape: every reader takes it as "#"; the output spells it
  // "#23" and reads back clean.
  SV_REQUIRE_JUDGES("mutool");
  std::string in =
      Input({.version = "1.4", .pages = 1, .info = "", .firstPage = " /PieceTag /A#zz"});
  std::string out = dir / "out.pdf";
  CommandResult r = Tool({"-d", in, "-o", out, "-pdfver", "1.7", "-userpwd", "u", "-webopt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(QpdfChecks(out, "u"));
  EXPECT_NE(MutoolShow(out, "u", "Root/Pages/Kids/1").find("/PieceTag /A#23zz\n"),
            std::string::npos);
}

TEST_F(PdfTool, OutputIsCreatedPrivateAndOnlyItsNameIsReplaced) {
  std::string in = EncryptedInput("user", "owner", 256);
  auto run = [](const std::vector<std::string>& args) {
    std::vector<std::string> argv{"sh", "-c", "umask 022; exec \"$0\" \"$@\"", ToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
  };
  auto mode = [](const std::string& path) {
    return std::filesystem::symlink_status(path).permissions() & std::filesystem::perms::all;
  };
  const auto kPrivate = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  // Kettrin's owner check writes a plain copy of the protected input: readable by its owner only,
  // also where an output readable by everyone stood.
  std::string out = dir / "$output.pdf";
  WriteFile(out, "earlier output");
  std::filesystem::permissions(out, std::filesystem::perms(0644));
  ASSERT_EQ(run({"-changeInfo", "-d", in, "owner", "-o", out, "-ncc"}).exitCode, 0);
  EXPECT_EQ(PdfInfo(out)["Encrypted"], "no");
  EXPECT_EQ(mode(out), kPrivate);
  // A link in the output's place is replaced itself; the file it points to stays as it was.
  std::string target = dir / "target";
  WriteFile(target, "someone else's file");
  std::filesystem::permissions(target, std::filesystem::perms(0644));
  std::string link = dir / "link.pdf";
  std::filesystem::create_symlink(target, link);
  ASSERT_EQ(run({"-d", in, "user", "-o", link, "-userpwd", "u"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(link)));
  EXPECT_EQ(mode(link), kPrivate);
  EXPECT_TRUE(PdfInfoOpens(link, {"-upw", "u"}));
  EXPECT_EQ(ReadFile(target), "someone else's file");
  EXPECT_EQ(mode(target), std::filesystem::perms(0644));
  EXPECT_EQ(Names(dir.Path()),
            (std::set<std::string>{"enc256.pdf", "$output.pdf", "target", "link.pdf"}));
}

TEST_F(PdfTool, EncryptedInputOpenedWithItsPasswordIsWrittenAsAsked) {
  std::string in = EncryptedInput("user", "owner", 256);
  std::string out = dir / "out.pdf";
  // Opened with either password; no new password: written without encryption.
  for (const char* pw : {"user", "owner"}) {
    SCOPED_TRACE(pw);
    CommandResult r = Tool({"-d", in, pw, "-o", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(PdfInfo(out)["Encrypted"], "no");
    EXPECT_EQ(PdfInfo(out)["Pages"], "2");
  }
  // New passwords replace the old ones.
  ASSERT_EQ(Tool({"-d", in, "user", "-o", out, "-pdfver", "1.6", "-userpwd", "new"}).exitCode, 0);
  EXPECT_TRUE(PdfInfoOpens(out, {"-upw", "new"}));
  EXPECT_FALSE(PdfInfoOpens(out, {"-upw", "user"}));
  EXPECT_EQ(ShowEncryption(out, "new").method, "AESv2");
}

TEST_F(PdfTool, RestrictionsWithoutPasswordAreIgnoredWithAWarning) {
  std::string in = Input({});
  std::string out = dir / "out.pdf";
  CommandResult r = Tool({"-d", in, "-o", out, "-ppa", "1", "-ncc", "-nab"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("warning: restrictions need a password"), std::string::npos) << r.err;
  EXPECT_EQ(PdfInfo(out)["Encrypted"], "no");
  // An empty password is no password.
  r = Tool({"-d", in, "-o", out, "-userpwd", "", "-ncc"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(PdfInfo(out)["Encrypted"], "no");
}

TEST_F(PdfTool, ChangeInfoSucceedsOnlyWithTheOwnerPassword) {
  struct Case {
    std::string user, owner;  // of the input; "-" for an unencrypted input
    std::vector<std::string> given;
    int exitCode;
  } cases[] = {
      {"user", "owner", {"owner"}, 0},
      {"user", "owner", {"user"}, 2},
      {"user", "owner", {"wrong"}, 2},
      {"user", "owner", {}, 2},
      {"", "owner", {}, 2},  // opens with the empty user password, which is not the owner's
      {"", "owner", {"owner"}, 0},
      {"same", "same", {"same"}, 0},
      {"", "", {}, 0},
      {"-", "-", {}, 0},  // nothing restricts an unencrypted file
      {"-", "-", {"any"}, 0},
  };
  for (int bits : {40, 128, 256}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(bits) + " bits, input " + c.user + "/" + c.owner + ", given " +
                   (c.given.empty() ? "none" : c.given[0]));
      std::string in = c.user == "-" ? Input({}) : EncryptedInput(c.user, c.owner, bits);
      std::string out = dir / "$output.pdf";
      std::vector<std::string> args{"-changeInfo", "-d", in};
      args.insert(args.end(), c.given.begin(), c.given.end());
      args.insert(args.end(), {"-o", out, "-ncc"});  // Kettrin's owner check
      CommandResult r = Tool(args);
      EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
      EXPECT_EQ(FileExists(out), c.exitCode == 0);
      if (c.exitCode == 2 && !c.given.empty() && c.given[0] == "user") {
        EXPECT_NE(r.err.find("not its owner password"), std::string::npos) << r.err;
      }
      if (c.exitCode == 0) {
        EXPECT_TRUE(QpdfChecks(out));
      }
      std::filesystem::remove(out);
      std::filesystem::remove(in);
    }
  }
}

TEST_F(PdfTool, BadCommandLinesExitWithOneAndWriteNothing) {
  std::string in = Input({});
  std::string out = dir / "out.pdf";
  const std::vector<std::string> cases[] = {
      {},
      {"-o", out},
      {"-d", in},
      {"-d", "", "-o", out},
      {"-d", in, "-o", out, "-bogus"},
      {"-d", in, "-o", out, "-Webopt"},
      {"-d", in, "-o", out, "-pdfver", "1.8"},
      {"-d", in, "-o", out, "-pdfver", "1.2"},
      {"-d", in, "-o", out, "-pdfver", "16"},
      {"-d", in, "-o", out, "-pdfver", "1.3", "-userpwd", "u"},
      {"-d", in, "-o", out, "-pdfver", "1.3", "-ownerpwd", "o"},
      {"-d", in, "-o", out, "-ppa", "0"},
      {"-d", in, "-o", out, "-ppa"},
      {"-d", in, "-o", out, "-title"},
      {"-d", in, "-o", out, "-o", out},
      {"-d", in, "-o", out, "-userpwd", "a", "-userpwd", "b"},
      {"-d", in, "pw", "stray", "-o", out},
      {"-o", out, "stray", "-d", in},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args)
      shown += "[" + a + "] ";
    SCOPED_TRACE(shown);
    CommandResult r = Tool(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("usage: AHPDFToolCmd26"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"in.pdf"});
  }
}

TEST_F(PdfTool, InputThatCannotBeOpenedExitsWithTwoAndWritesNothing) {
  std::string plain = Input({}, "plain.pdf");
  std::string encrypted = EncryptedInput("user", "owner", 128);
  WriteFile(dir / "garbage.pdf", "%PDF-1.4\nthis is no PDF at all\n");
  std::string broken =
      Input({.version = "1.4", .pages = 1, .info = "", .annotation = false, .brokenStream = true},
            "broken.pdf");
  // Two keys that every reader takes as one ("A#B"): one of them cannot be written cleanly.
  std::string clash = Input(
      {.version = "1.4", .pages = 1, .info = "", .firstPage = " /PieceInfo << /A#23B 1 /A#B 2 >>"},
      "clash.pdf");
  std::filesystem::create_directory(dir / "folder.pdf");
  struct Case {
    std::string name;
    std::vector<std::string> input;  // -d value and password
    std::string message;
  } cases[] = {
      {"missing", {dir / "missing.pdf"}, "no such file"},
      {"a folder", {dir / "folder.pdf"}, "no such file"},
      {"not a PDF", {dir / "garbage.pdf"}, "cannot open the input"},
      {"needs a password", {encrypted}, "needs a password"},
      {"wrong password", {encrypted, "wrong"}, "the password does not open it"},
      {"stream data that cannot be decoded", {broken}, "does not read back clean"},
      {"names that clash", {clash}, "does not read back clean"},
  };
  const std::string out = dir / "out.pdf";
  WriteFile(out, "earlier output");
  const std::set<std::string> before = Names(dir.Path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"-d"};
    args.insert(args.end(), c.input.begin(), c.input.end());
    args.insert(args.end(), {"-o", out, "-userpwd", "u"});
    CommandResult r = Tool(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(out), "earlier output");
    EXPECT_EQ(Names(dir.Path()), before);
  }
  // The broken input was refused for its data, not for the fixture: without the bad stream the
  // same file goes through.
  ASSERT_EQ(Tool({"-d", plain, "-o", out}).exitCode, 0);
}

TEST_F(PdfTool, OutputThatCannotBeWrittenExitsWithThree) {
  std::string in = Input({});
  std::filesystem::create_directory(dir / "taken.pdf");
  WriteFile(dir / "file", "x");
  const std::set<std::string> before = Names(dir.Path());
  for (const std::string& out : {dir / "no/such/folder/out.pdf", dir / "taken.pdf",
                                 dir / "file/out.pdf", dir.Path(), std::string("/proc/out.pdf")}) {
    SCOPED_TRACE(out);
    CommandResult r = Tool({"-d", in, "-o", out, "-userpwd", "u"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_EQ(Names(dir.Path()), before);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "taken.pdf"));
  }
  // Writes that fail at the end and half-way (the file size limit stands in for a full disk).
  std::string big = Input({.version = "1.4", .pages = 800, .info = ""}, "big.pdf");
  for (const std::string& input : {in, big}) {
    SCOPED_TRACE(input);
    std::string out = dir / "out.pdf";
    CommandResult r = RunCommand({"sh", "-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" \"$@\"",
                                  ToolPath(), "-d", input, "-o", out, "-userpwd", "u"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    std::set<std::string> expected = before;
    expected.insert("big.pdf");
    EXPECT_EQ(Names(dir.Path()), expected);
  }
}

TEST_F(PdfTool, ExistingOutputIsReplacedWhole) {
  std::string in = Input({});
  std::string out = dir / "out.pdf";
  WriteFile(out, std::string(1 << 20, 'x'));  // longer than the new file
  ASSERT_EQ(Tool({"-d", in, "-o", out}).exitCode, 0);
  EXPECT_TRUE(QpdfChecks(out));
  EXPECT_EQ(ReadFile(out).find('x' + std::string(100, 'x')), std::string::npos);
  // The input itself may be the output.
  ASSERT_EQ(Tool({"-d", in, "-o", in, "-userpwd", "u"}).exitCode, 0);
  EXPECT_TRUE(PdfInfoOpens(in, {"-upw", "u"}));
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"in.pdf", "out.pdf"}));
}

// The corpus: every file is either rewritten so that it holds what the input held (judged by the
// shared verify-rewrite script) or refused with exit code 2, leaving no output.
class PdfToolCorpus : public PdfTool {
 protected:
  // Rewrites each named file of the corpus folder; the folder must hold exactly these files, so
  // that a file missing, added or refused beyond the table fails the test.
  void Judge(const std::string& folder, const std::vector<std::string>& names,
             const std::map<std::string, int>& refused,
             const std::set<std::string>& unreadableToPoppler) {
    SV_REQUIRE_JUDGES("../shared/tools");
    const std::string judge = RewriteJudge();
    std::vector<std::string> found;
    for (const auto& file : sv::test::CorpusFiles(folder))
      found.push_back(std::filesystem::path(file).filename().string());
    ASSERT_EQ(found, names) << "the corpus folder " << folder << " holds other files";
    for (const auto& [name, code] : refused)
      ASSERT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    for (const auto& name : unreadableToPoppler)
      ASSERT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    for (const auto& name : names) {
      const std::string file = sv::test::CorpusDir() + folder + "/" + name;
      SCOPED_TRACE(name);
      std::string pw = OpenPassword(name);
      std::string out = dir / "out.pdf";
      std::vector<std::string> args{"-annotFile", "-d", file};
      if (!pw.empty()) args.push_back(pw);
      args.insert(args.end(), {"-o", out, "-webopt", "-pdfver", "1.7", "-title", Cp932("題名"),
                               "-userpwd", "u", "-ownerpwd", "o", "-ppa", "1", "-nca"});
      CommandResult r = Tool(args);
      auto it = refused.find(name);
      if (it != refused.end()) {
        EXPECT_EQ(r.exitCode, it->second) << r.err;
        EXPECT_TRUE(Names(dir.Path()).empty());
        continue;
      }
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_TRUE(QpdfChecks(out, "u"));
      EXPECT_EQ(PdfInfo(out, {"-upw", "u"})["Title"], "題名");
      if (!unreadableToPoppler.count(name)) {
        // The judge reads the input without a password: give it the decrypted input.
        std::string plain = dir / "plain.pdf";
        int rc = RunCommand({"qpdf", "--password=" + pw, "--decrypt", file, plain}).exitCode;
        ASSERT_TRUE(rc == 0 || rc == 3) << rc;  // 3: qpdf warned and wrote the file
        CommandResult v = RunCommand({judge, plain, out, "u", "o"});
        EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
        std::filesystem::remove(plain);
      }
      std::filesystem::remove(out);
    }
  }
  // The open password in a corpus file's name: "U=view" or "u=user"; none for "u=_".
  static std::string OpenPassword(const std::string& name) {
    for (const char* key : {"U=", "u="}) {
      size_t p = name.find(key);
      if (p == std::string::npos) continue;
      size_t end = name.find_first_of(",_.", p + 2);
      return name.substr(p + 2, end - p - 2);
    }
    return "";
  }
};

TEST_F(PdfToolCorpus, PeerFiles) {
  SV_REQUIRE_CORPUS();
  Judge("peer",
        {"11-pages-with-labels.pdf",
         "V4-aes.pdf",
         "V4.pdf",
         "annotations-no-acroform.pdf",
         "append-xref-loop.pdf",
         "bad-encryption-length.pdf",
         "bad-xref-entry.pdf",
         "bad-xref.pdf",
         "bad1.pdf",
         "bad13.pdf",
         "bad33.pdf",
         "c-ignore-xref-streams.pdf",
         "c-linearized.pdf",
         "c-r2.pdf",
         "c-r3.pdf",
         "compress-objstm-xref.pdf",
         "damaged-stream.pdf",
         "dangling-refs.pdf",
         "direct-outlines.pdf",
         "enc-R2,V1,O=master.pdf",
         "enc-R2,V1,U=view,O=master.pdf",
         "enc-R2,V1.pdf",
         "enc-R3,V2,O=master.pdf",
         "enc-R3,V2,U=view,O=master.pdf",
         "enc-R3,V2.pdf",
         "enc-XI-R6,V5,O=master.pdf",
         "encrypted-40-bit-R3.pdf",
         "encrypted-with-images.pdf",
         "extra-header-newline.pdf",
         "form-fields-and-annotations.pdf",
         "form-filled-by-acrobat.pdf",
         "leading-junk.pdf",
         "object-stream-self-ref.pdf",
         "outlines-with-loop.pdf",
         "pages-loop.pdf"},
        {
            {"bad1.pdf", 2},                 // no trailer to be found
            {"bad33.pdf", 2},                // a stream whose filter is no name
            {"damaged-stream.pdf", 2},       // LZW data that cannot be decoded
            {"pages-loop.pdf", 2},           // the page tree is a loop
            {"c-r2.pdf", 2},                 // encrypted, the password is unknown
            {"c-r3.pdf", 2},                 // encrypted, the password is unknown
            {"encrypted-40-bit-R3.pdf", 2},  // encrypted, the password is unknown
        },
        // poppler cannot read these inputs; qpdf reads them and the outputs are checked above
        {"bad-encryption-length.pdf", "object-stream-self-ref.pdf"});
}

TEST_F(PdfToolCorpus, Documents) {
  SV_REQUIRE_CORPUS();
  Judge("docs",
        {"crc-doc.1.0.pdf", "fontconfig-user.pdf", "gnucobol.pdf", "libtasn1.pdf", "manual.pdf",
         "nettle.pdf", "shared-mime-info-spec.pdf", "valgrind_manual.pdf"},
        {}, {});
}

TEST_F(PdfToolCorpus, EncryptedFiles) {
  SV_REQUIRE_CORPUS();
  Judge(
      "encrypted",
      {"aes-128_u=user_o=owner.pdf", "aes-256_u=user_o=owner.pdf", "rc4-128_u=_o=owner_noprint.pdf",
       "rc4-128_u=user_o=owner.pdf", "rc4-128_u=user_o=owner_big.pdf",
       "rc4-128_u=user_o=owner_objstm.pdf", "rc4-40_u=user_o=owner.pdf"},
      {}, {});
}

}  // namespace
