// Sorvane's settings: the program settings file (window position, wait time, debug switch) and
// one job settings file per job folder, with the password scrambling and the Base64 coding that
// job files and their names use. The records below are the program's single current settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/RtlSysUtils.h"

// Program settings, filled once at start and written at close.
struct TAppSettings {
  int32_t Top = 0;
  int32_t Left = 0;
  int32_t Wait = 50;        // milliseconds slept in each pass of the process wait loop
  int32_t Debug = 0;        // non-zero: every outside-tool run is appended to the debug log
  int32_t TimeLimit = 300;  // seconds one outside-tool run may take (0 or less: no limit)
};

// The current job settings. Flags: non-zero is on. Texts: bytes in the ANSI code page.
struct TJobSettings {
  // Secu
  int32_t EN = 1;  // apply security
  int32_t PW = 1;  // library engine: set the user password
  int32_t PR = 0;  // restrict printing
  int32_t MD = 1;  // restrict changing the document
  int32_t CP = 1;  // restrict copying and extracting content
  int32_t AN = 1;  // restrict annotations
  int32_t DA = 1;  // restrict document assembly
  int32_t FF = 1;  // restrict filling form fields
  int32_t AC = 1;  // restrict content extraction for accessibility
  int32_t BT = 0;  // 40-bit encryption (else 128-bit)
  // PDF
  int32_t Web = 1;    // outside tool: web-optimise the output
  int32_t VerEn = 1;  // set the PDF version of the output
  int32_t Ver = 0;    // 0 "1.3" .. 4 "1.7"; 3 and 4 select the outside tool
  std::string Author;
  std::string Creator;
  std::string Keywords;
  std::string Producer;
  std::string Subject;
  std::string Title;
  std::string OpenPassWord;    // opens an input file that is already protected
  std::string MasterPassWord;  // owner password of the output
  std::string UserPassWord;    // user password of the output
  // Job
  int32_t SubDir = 1;  // walk the sub-folders too
  int32_t Enable = 1;  // take part in the run of all jobs
};

extern TAppSettings AppSettings;
extern TJobSettings JobSettings;
// The engine's result for the current file, 0 meaning success; each thread that rewrites files
// has its own.
extern thread_local int32_t ResultCode;
extern std::string CurrentFile;  // absolute path of the file being processed

// A job folder whose settings file cannot be named (an empty path, or one whose file name would
// pass the file system's 255 bytes).
class EJobIniPathError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "1.3" .. "1.7" for Ver 0 .. 4, "1.2" for any other value.
std::string VersionText(int32_t ver);
std::string VersionText();  // of JobSettings.Ver

std::string AppIniPath();      // the program file's path with ".ini" in place of its extension
std::string SettingFolder();   // program folder + "setting/"
std::string DefaultIniPath();  // program folder + "setting/default.ini"
std::string TempFolder();      // program folder + "temp/"

// program folder + "setting/" + the job file name of the folder: the Base64 text of the folder
// path (in the ANSI code page, one trailing "/" removed, but "/" itself kept) with each "/" of
// the text written as "-", then ".ini". EJobIniPathError when the name cannot be stored.
std::string JobIniPath(const std::string& folder);
// The job folder that a file name of the setting folder stands for ("<Base64>.ini"); nothing
// when the name is no job file name (not Base64 with "-" for "/", or not as JobIniPath writes it).
std::optional<std::string> JobFolderFromIniName(const std::string& fileName);

void LoadAppIni();
void SaveAppIni();  // writes Top and Left only
void ReadJobIni(const std::string& path);
void WriteJobIni(const std::string& path);  // a new file is made private to its owner (0600)

std::string EncodePassword(std::string_view password);
// EConvertError when the stored text is no Base64 text.
std::string DecodePassword(std::string_view text);

// RFC 4648 Base64 with "=" padding and no line breaks.
std::string Base64Encode(std::string_view bytes);
// Takes the characters four to a group up to the first "=" (or the end, where a last group of two
// or three characters gives one or two bytes). EConvertError "'%s' is not a valid Base64 text"
// for a character outside the alphabet or a last group of one character.
std::string Base64Decode(std::string_view text);
