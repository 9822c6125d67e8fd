// Kettrin's program settings file: the window position, the list to check and the two options,
// in the program file's path with ".ini" (Kettrin.ini beside the program).
#pragma once

#include <cstdint>
#include <string>

struct TCheckSettings {
  int32_t Top = 0;
  int32_t Left = 0;
  std::string CsvPath;      // the CSV list to check (ANSI code page)
  int32_t Engine = 0;       // non-zero: the owner password is checked by the outside tool
  int32_t ReLock = 0;       // non-zero: the failure list is saved as KettrinLog.txt
  int32_t TimeLimit = 300;  // seconds one run of pdfinfo or the tool may take (0 or less: none)
};

extern TCheckSettings CheckSettings;

std::string AppIniPath();  // the program file's path with ".ini" in place of its extension

// Reads all five settings and the time limit ("App", "TimeLimit"; defaults for what is missing) /
// writes the five, integers as decimal text. SaveAppIni raises rtl::EIniFileException when the
// file cannot be written.
void LoadAppIni();
void SaveAppIni();
