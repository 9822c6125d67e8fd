#include "apps/kettrin/Rw_ini.h"

#include "platform/IniFiles.h"
#include "platform/ProgramFolder.h"
#include "platform/RtlSysUtils.h"

TCheckSettings CheckSettings;

std::string AppIniPath() {
  return rtl::ChangeFileExt(platform::ProgramFile(), ".ini");
}

void LoadAppIni() {
  rtl::TIniFile ini(AppIniPath());
  CheckSettings.Top = ini.ReadInteger("Pos", "Top", 0);
  CheckSettings.Left = ini.ReadInteger("Pos", "Left", 0);
  CheckSettings.CsvPath = ini.ReadString("CSV", "Path", "");
  CheckSettings.Engine = ini.ReadInteger("PDF", "Engine", 0);
  CheckSettings.ReLock = ini.ReadInteger("PDF", "ReLock", 0);
  CheckSettings.TimeLimit = ini.ReadInteger("App", "TimeLimit", 300);
}

void SaveAppIni() {
  rtl::TIniFile ini(AppIniPath());
  ini.WriteInteger("Pos", "Top", CheckSettings.Top);
  ini.WriteInteger("Pos", "Left", CheckSettings.Left);
  ini.WriteString("CSV", "Path", CheckSettings.CsvPath);
  ini.WriteInteger("PDF", "Engine", CheckSettings.Engine);
  ini.WriteInteger("PDF", "ReLock", CheckSettings.ReLock);
}
