#include "apps/sorvane/Rw_ini.h"

#include <gtest/gtest.h>

#include "platform/IniFiles.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using sv::test::Ansi;
using sv::test::ReadFile;
using sv::test::WriteFile;

namespace {
class RwIni : public sv::test::SorvaneFolderTest {};

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i)
    s += static_cast<char>(i);
  return s;
}
}  // namespace

TEST(Base64, CodesTheRfc4648VectorsAndDecodesThemBack) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xff\xfe", "//4="},
      {std::string(1, '\0'), "AA=="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Encode(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(Base64Decode(c.text), c.bytes) << c.text;
  }
  EXPECT_EQ(Base64Decode(Base64Encode(AllBytes())), AllBytes());
  EXPECT_EQ(Base64Encode(AllBytes()).find_first_of("\r\n"), std::string::npos);
}

TEST(Base64, DecodingStopsAtPaddingAndRefusesCharactersOutsideTheAlphabet) {
  EXPECT_EQ(Base64Decode("Zg==Zm9v"), "f");  // stops at the first "="
  EXPECT_EQ(Base64Decode("Zg"), "f");        // a last group without padding
  EXPECT_EQ(Base64Decode("Zm8"), "fo");
  for (const char* bad : {"Zm9v!", "Zm 9v", "Zm-v", "Z", "Zm9vY", "Zm9v\r\n"}) {
    try {
      Base64Decode(bad);
      ADD_FAILURE() << bad;
    } catch (const rtl::EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid Base64 text");
    }
  }
}

TEST(PasswordScrambling, RoundTripsAsciiJapaneseAndEveryByte) {
  EXPECT_EQ(EncodePassword(""), "");
  EXPECT_EQ(DecodePassword(""), "");
  EXPECT_EQ(EncodePassword("A"), "DQ==");  // 0x41 ^ 0x4C = 0x0D
  EXPECT_EQ(EncodePassword("master"), Base64Encode("\x21\x2d\x3f\x38\x29\x3e"));
  for (const std::string& pw :
       {std::string("secret"), std::string("a\"b\\"), Ansi("パスワード表ソ"), AllBytes()}) {
    std::string stored = EncodePassword(pw);
    EXPECT_EQ(stored.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(DecodePassword(stored), pw);
  }
}

TEST(VersionText, MapsVerToTheVersionTexts) {
  const char* expected[] = {"1.2", "1.3", "1.4", "1.5", "1.6", "1.7", "1.2", "1.2"};
  for (int ver = -1; ver <= 6; ++ver)
    EXPECT_EQ(VersionText(ver), expected[ver + 1]) << ver;
  JobSettings.Ver = 3;
  EXPECT_EQ(VersionText(), "1.6");
}

TEST_F(RwIni, AFreshDefaultIniHoldsExactlyTheDefaults) {
  ReadJobIni(DefaultIniPath());  // missing: every field takes its default
  WriteJobIni(DefaultIniPath());
  EXPECT_EQ(DefaultIniPath(), Prog() + "setting/default.ini");
  EXPECT_EQ(ReadFile(DefaultIniPath()),
            "[Secu]\r\nEN=1\r\nPW=1\r\nPR=0\r\nMD=1\r\nCP=1\r\nAN=1\r\nDA=1\r\nFF=1\r\nAC=1\r\n"
            "BT=0\r\n\r\n"
            "[PDF]\r\nWeb=1\r\nVerEn=1\r\nVer=0\r\nAuthor=\r\nCreator=\r\nKeywords=\r\n"
            "Producer=\r\nSubject=\r\nTitle=\r\nOpenPassWord=\r\nMasterPassWord=\r\n"
            "UserPassWord=\r\n\r\n"
            "[Job]\r\nSubDir=1\r\nEnable=1\r\n");
}

TEST_F(RwIni, AJobFileRoundTripsEveryFieldWithPasswordsScrambled) {
  TJobSettings& j = JobSettings;
  j.EN = 0, j.PW = 0, j.PR = 1, j.MD = 0, j.CP = 0, j.AN = 0, j.DA = 0, j.FF = 0, j.AC = 0;
  j.BT = 1, j.Web = 0, j.VerEn = 0, j.Ver = 4, j.SubDir = 0, j.Enable = 0;
  j.Author = Ansi("作成者");
  j.Creator = "creator";
  j.Keywords = Ansi("キーワード, ソ表");
  j.Producer = " spaced ";
  j.Subject = "\"quoted\"";
  j.Title = Ansi("タイトル");
  j.OpenPassWord = "open";
  j.MasterPassWord = Ansi("マスター");
  j.UserPassWord = "us=er";
  const TJobSettings written = j;
  std::string path = JobIniPath("/data/jobs");
  WriteJobIni(path);
  std::string file = ReadFile(path);
  EXPECT_NE(file.find("MasterPassWord=" + EncodePassword(Ansi("マスター")) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(file.find("open"), std::string::npos);
  EXPECT_NE(file.find("Title=" + Ansi("タイトル") + "\r\n"), std::string::npos);

  JobSettings = TJobSettings();
  ReadJobIni(path);
  EXPECT_EQ(j.EN, 0);
  EXPECT_EQ(j.PR, 1);
  EXPECT_EQ(j.BT, 1);
  EXPECT_EQ(j.Ver, 4);
  EXPECT_EQ(j.SubDir, 0);
  EXPECT_EQ(j.Enable, 0);
  EXPECT_EQ(j.Author, written.Author);
  EXPECT_EQ(j.Keywords, written.Keywords);
  EXPECT_EQ(j.Producer, written.Producer);
  EXPECT_EQ(j.Subject, written.Subject);
  EXPECT_EQ(j.Title, written.Title);
  EXPECT_EQ(j.OpenPassWord, written.OpenPassWord);
  EXPECT_EQ(j.MasterPassWord, written.MasterPassWord);
  EXPECT_EQ(j.UserPassWord, written.UserPassWord);

  // Writing again changes values in place: the file keeps its size and layout.
  WriteJobIni(path);
  EXPECT_EQ(ReadFile(path), file);
}

TEST_F(RwIni, HandEditedJobFilesReadMissingAndBadValuesAsDefaults) {
  std::string path = Prog() + "setting/hand.ini";
  WriteFile(path, "[secu]\nen = 0\nPR=yes\n[pdf]\nVER=3\ntitle= T \nMasterPassWord=" +
                      EncodePassword("m") + "\n");
  JobSettings.Title = "old";
  JobSettings.Enable = 0;
  ReadJobIni(path);
  EXPECT_EQ(JobSettings.EN, 0);
  EXPECT_EQ(JobSettings.PR, 0);  // no integer: the default
  EXPECT_EQ(JobSettings.MD, 1);  // missing: the default
  EXPECT_EQ(JobSettings.Ver, 3);
  EXPECT_EQ(JobSettings.Title, "T");
  EXPECT_EQ(JobSettings.MasterPassWord, "m");
  EXPECT_EQ(JobSettings.Enable, 1);  // every field is replaced

  // A stored password that is no Base64 text is refused, not read as an empty password.
  WriteFile(path, "[Secu]\r\nEN=0\r\n[PDF]\r\nMasterPassWord=not base64!\r\n");
  JobSettings.EN = 1;
  EXPECT_THROW(ReadJobIni(path), rtl::EConvertError);
  EXPECT_EQ(JobSettings.EN, 1);  // nothing of the refused file was taken
}

TEST_F(RwIni, AJobFileThatCannotBeWrittenRaisesTheWriteError) {
  std::string path = Prog() + "nosuchfolder/job.ini";
  try {
    WriteJobIni(path);
    FAIL();
  } catch (const rtl::EIniFileException& e) {
    EXPECT_EQ(e.Message(), path + Ansi(" に書き込めません"));
  }
}

TEST_F(RwIni, SaveAppIniWritesOnlyThePositionAndKeepsHandEditedValues) {
  EXPECT_EQ(AppIniPath(), Prog() + "Sorvane.ini");
  LoadAppIni();
  EXPECT_EQ(AppSettings.Top, 0);
  EXPECT_EQ(AppSettings.Left, 0);
  EXPECT_EQ(AppSettings.Wait, 50);
  EXPECT_EQ(AppSettings.Debug, 0);
  EXPECT_EQ(AppSettings.TimeLimit, 300);
  AppSettings.Top = 12;
  AppSettings.Left = -3;
  SaveAppIni();
  EXPECT_EQ(ReadFile(AppIniPath()), "[Pos]\r\nTop=12\r\nLeft=-3\r\n");

  WriteFile(AppIniPath(),
            "[Pos]\r\nTop=1\r\nLeft=2\r\n\r\n[App]\r\n; tuned\r\nWait=200\r\nDebug=1\r\n"
            "TimeLimit=20\r\n");
  LoadAppIni();
  EXPECT_EQ(AppSettings.Top, 1);
  EXPECT_EQ(AppSettings.Left, 2);
  EXPECT_EQ(AppSettings.Wait, 200);
  EXPECT_EQ(AppSettings.Debug, 1);
  EXPECT_EQ(AppSettings.TimeLimit, 20);
  AppSettings.Top = 0;
  AppSettings.Left = 0;
  AppSettings.Wait = 7;
  AppSettings.Debug = 0;
  SaveAppIni();
  EXPECT_EQ(ReadFile(AppIniPath()),
            "[Pos]\r\nTop=0\r\nLeft=0\r\n\r\n[App]\r\n; tuned\r\nWait=200\r\nDebug=1\r\n"
            "TimeLimit=20\r\n");
}

TEST_F(RwIni, JobFileNamesAreBase64WithDashForSlashAndDecodeBack) {
  struct Case {
    std::string folder, name;
  } cases[] = {
      {"/data/jobs", Base64Encode("/data/jobs")},
      {"/data/jobs/", Base64Encode("/data/jobs")},  // one trailing "/" removed
      {"/", "Lw=="},                                // the root keeps its "/"
      {"/Data/A B", Base64Encode("/Data/A B")},     // case kept
      {Ansi("/データ/表"), Base64Encode(Ansi("/データ/表"))},
  };
  for (auto& c : cases) {
    for (char& ch : c.name)
      if (ch == '/') ch = '-';
    EXPECT_EQ(JobIniPath(c.folder), Prog() + "setting/" + c.name + ".ini") << c.folder;
    std::string expected = c.folder.size() > 1 && c.folder.back() == '/'
                               ? c.folder.substr(0, c.folder.size() - 1)
                               : c.folder;
    EXPECT_EQ(JobFolderFromIniName(c.name + ".ini"), expected) << c.name;
  }
  // "/data/jobs" has a "/" in its Base64 text: L2RhdGEvam9icw== .
  EXPECT_EQ(JobIniPath("/data/jobs"), Prog() + "setting/L2RhdGEvam9icw==.ini");
  EXPECT_EQ(JobIniPath("/x?"), Prog() + "setting/L3g-.ini");

  for (const char* notAJob :
       {"default.ini", "L2RhdGEvam9icw==.txt", "L3g/.ini", "L_x.ini", "L2RhdGEvam9icw==x.ini",
        "L2RhdGEvam9icw.ini", "Zh==.ini", ".ini", "L2Rh dGE=.ini"})
    EXPECT_FALSE(JobFolderFromIniName(notAJob)) << notAJob;
}

TEST_F(RwIni, AFolderWhoseJobFileNameWouldPass255BytesGetsAClearError) {
  std::string longest = "/" + std::string(185, 'a');  // 186 bytes: 248 characters + ".ini"
  std::string name = rtl::ExtractFileName(JobIniPath(longest));
  EXPECT_EQ(name.size(), 252u);
  std::string tooLong = longest + "b";  // 187 bytes: 256 characters with ".ini"
  try {
    JobIniPath(tooLong);
    FAIL();
  } catch (const EJobIniPathError& e) {
    EXPECT_NE(e.Message().find(tooLong), std::string::npos);
  }
  EXPECT_THROW(JobIniPath(""), EJobIniPathError);
}
