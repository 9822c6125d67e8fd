#include "apps/sorvane/Rw_ini.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/IniFiles.h"
#include "platform/ProgramFolder.h"

TAppSettings AppSettings;
TJobSettings JobSettings;
thread_local int32_t ResultCode = 0;
std::string CurrentFile;

namespace {

constexpr uint8_t kPasswordKey = 0x4C;
constexpr size_t kMaxFileName = 255;
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string Scramble(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out)
    c = static_cast<char>(static_cast<uint8_t>(c) ^ kPasswordKey);
  return out;
}

std::string JobFileName(const std::string& folder) {
  std::string path = folder;
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  std::string name = Base64Encode(path);
  for (char& c : name)
    if (c == '/') c = '-';
  return name + ".ini";
}

}  // namespace

std::string VersionText(int32_t ver) {
  switch (ver) {
    case 0:
      return "1.3";
    case 1:
      return "1.4";
    case 2:
      return "1.5";
    case 3:
      return "1.6";
    case 4:
      return "1.7";
    default:
      return "1.2";
  }
}

std::string VersionText() {
  return VersionText(JobSettings.Ver);
}

std::string AppIniPath() {
  return rtl::ChangeFileExt(platform::ProgramFile(), ".ini");
}

std::string SettingFolder() {
  return platform::ProgramFolder() + "setting/";
}

std::string DefaultIniPath() {
  return SettingFolder() + "default.ini";
}

std::string TempFolder() {
  return platform::ProgramFolder() + "temp/";
}

std::string JobIniPath(const std::string& folder) {
  if (folder.empty()) throw EJobIniPathError(platform::Utf8ToAnsi("ジョブのフォルダが空です"));
  std::string name = JobFileName(folder);
  if (name.size() > kMaxFileName)
    throw EJobIniPathError(rtl::Format(
        platform::Utf8ToAnsi("フォルダのパスが長すぎるため設定ファイルを作れません (%s)"), folder));
  return SettingFolder() + name;
}

std::optional<std::string> JobFolderFromIniName(const std::string& fileName) {
  if (fileName.size() <= 4 || !rtl::SameText(rtl::ExtractFileExt(fileName), ".ini"))
    return std::nullopt;
  std::string text = fileName.substr(0, fileName.size() - 4);
  for (char& c : text) {
    if (c == '/') return std::nullopt;
    if (c == '-') c = '/';
  }
  std::string folder;
  try {
    folder = Base64Decode(text);
  } catch (const rtl::EConvertError&) {
    return std::nullopt;
  }
  // Only the name JobIniPath gives that folder is its job file.
  if (folder.empty() || JobFileName(folder) != fileName) return std::nullopt;
  return folder;
}

void LoadAppIni() {
  rtl::TIniFile ini(AppIniPath());
  AppSettings.Top = ini.ReadInteger("Pos", "Top", 0);
  AppSettings.Left = ini.ReadInteger("Pos", "Left", 0);
  AppSettings.Wait = ini.ReadInteger("App", "Wait", 50);
  AppSettings.Debug = ini.ReadInteger("App", "Debug", 0);
  AppSettings.TimeLimit = ini.ReadInteger("App", "TimeLimit", 300);
}

void SaveAppIni() {
  rtl::TIniFile ini(AppIniPath());
  ini.WriteInteger("Pos", "Top", AppSettings.Top);
  ini.WriteInteger("Pos", "Left", AppSettings.Left);
}

void ReadJobIni(const std::string& path) {
  rtl::TIniFile ini(path);
  TJobSettings j;  // JobSettings changes only once the whole file has been read
  j.EN = ini.ReadInteger("Secu", "EN", 1);
  j.PW = ini.ReadInteger("Secu", "PW", 1);
  j.PR = ini.ReadInteger("Secu", "PR", 0);
  j.MD = ini.ReadInteger("Secu", "MD", 1);
  j.CP = ini.ReadInteger("Secu", "CP", 1);
  j.AN = ini.ReadInteger("Secu", "AN", 1);
  j.DA = ini.ReadInteger("Secu", "DA", 1);
  j.FF = ini.ReadInteger("Secu", "FF", 1);
  j.AC = ini.ReadInteger("Secu", "AC", 1);
  j.BT = ini.ReadInteger("Secu", "BT", 0);
  j.Web = ini.ReadInteger("PDF", "Web", 1);
  j.VerEn = ini.ReadInteger("PDF", "VerEn", 1);
  j.Ver = ini.ReadInteger("PDF", "Ver", 0);
  j.Author = ini.ReadString("PDF", "Author", "");
  j.Creator = ini.ReadString("PDF", "Creator", "");
  j.Keywords = ini.ReadString("PDF", "Keywords", "");
  j.Producer = ini.ReadString("PDF", "Producer", "");
  j.Subject = ini.ReadString("PDF", "Subject", "");
  j.Title = ini.ReadString("PDF", "Title", "");
  j.OpenPassWord = DecodePassword(ini.ReadString("PDF", "OpenPassWord", ""));
  j.MasterPassWord = DecodePassword(ini.ReadString("PDF", "MasterPassWord", ""));
  j.UserPassWord = DecodePassword(ini.ReadString("PDF", "UserPassWord", ""));
  j.SubDir = ini.ReadInteger("Job", "SubDir", 1);
  j.Enable = ini.ReadInteger("Job", "Enable", 1);
  JobSettings = std::move(j);
}

void WriteJobIni(const std::string& path) {
  platform::PrivateFileScope privateFiles;  // the file holds the passwords
  rtl::TIniFile ini(path);
  const TJobSettings& j = JobSettings;
  ini.WriteInteger("Secu", "EN", j.EN);
  ini.WriteInteger("Secu", "PW", j.PW);
  ini.WriteInteger("Secu", "PR", j.PR);
  ini.WriteInteger("Secu", "MD", j.MD);
  ini.WriteInteger("Secu", "CP", j.CP);
  ini.WriteInteger("Secu", "AN", j.AN);
  ini.WriteInteger("Secu", "DA", j.DA);
  ini.WriteInteger("Secu", "FF", j.FF);
  ini.WriteInteger("Secu", "AC", j.AC);
  ini.WriteInteger("Secu", "BT", j.BT);
  ini.WriteInteger("PDF", "Web", j.Web);
  ini.WriteInteger("PDF", "VerEn", j.VerEn);
  ini.WriteInteger("PDF", "Ver", j.Ver);
  ini.WriteString("PDF", "Author", j.Author);
  ini.WriteString("PDF", "Creator", j.Creator);
  ini.WriteString("PDF", "Keywords", j.Keywords);
  ini.WriteString("PDF", "Producer", j.Producer);
  ini.WriteString("PDF", "Subject", j.Subject);
  ini.WriteString("PDF", "Title", j.Title);
  ini.WriteString("PDF", "OpenPassWord", EncodePassword(j.OpenPassWord));
  ini.WriteString("PDF", "MasterPassWord", EncodePassword(j.MasterPassWord));
  ini.WriteString("PDF", "UserPassWord", EncodePassword(j.UserPassWord));
  ini.WriteInteger("Job", "SubDir", j.SubDir);
  ini.WriteInteger("Job", "Enable", j.Enable);
}

std::string EncodePassword(std::string_view password) {
  return Base64Encode(Scramble(password));
}

std::string DecodePassword(std::string_view text) {
  return Scramble(Base64Decode(text));
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                 static_cast<uint8_t>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6)
      out += kAlphabet[(v >> s) & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  uint32_t group = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    int v = DecodeChar(c);
    if (v < 0) throw rtl::EConvertError(rtl::Format("'%s' is not a valid Base64 text", text));
    group = group << 6 | static_cast<uint32_t>(v);
    if (++count == 4) {
      out += static_cast<char>(group >> 16);
      out += static_cast<char>(group >> 8);
      out += static_cast<char>(group);
      group = 0;
      count = 0;
    }
  }
  if (count == 1) throw rtl::EConvertError(rtl::Format("'%s' is not a valid Base64 text", text));
  if (count == 2) out += static_cast<char>(group >> 4);
  if (count == 3) {
    out += static_cast<char>(group >> 10);
    out += static_cast<char>(group >> 2);
  }
  return out;
}
