// sorvane-lock-example FILE [USER_PASSWORD [OWNER_PASSWORD]]
// Rewrites FILE in place with the outside tool as a job with target version 1.7 would: AES-256,
// the user and owner passwords (default "user" and "owner"), every restriction but printing,
// web optimisation and Japanese document information. Exit code 0 when the file was rewritten.
#include <cstdio>
#include <string>

#include "apps/sorvane/Rw_ini.h"
#include "apps/sorvane/ToolEngine.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: sorvane-lock-example FILE [USER_PASSWORD [OWNER_PASSWORD]]\n");
    return 2;
  }
  std::string path = platform::ArgumentToAnsi(argv[1]);
  if (path.empty() || path[0] != '/') path = platform::ProgramFolder() + path;
  if (!platform::FileExists(path)) {
    std::fprintf(stderr, "sorvane-lock-example: %s: no such file\n", argv[1]);
    return 2;
  }
  for (const char* sub : {"setting", "temp", "log"})
    platform::ForceDirectories(platform::ProgramFolder() + sub);

  JobSettings = TJobSettings();
  JobSettings.Ver = 4;
  JobSettings.PR = 0;
  JobSettings.UserPassWord = argc > 2 ? platform::ArgumentToAnsi(argv[2]) : "user";
  JobSettings.MasterPassWord = argc > 3 ? platform::ArgumentToAnsi(argv[3]) : "owner";
  JobSettings.Title = platform::Utf8ToAnsi("ソルヴァーネの例");
  JobSettings.Author = platform::Utf8ToAnsi("山田太郎");
  JobSettings.Subject = "Outside tool engine example";
  JobSettings.Keywords = "Sorvane, example";
  CurrentFile = path;

  int32_t result = -1;
  try {
    result = LockWithTool(path);
  } catch (const rtl::Exception& e) {
    std::fprintf(stderr, "sorvane-lock-example: %s\n", platform::AnsiToUtf8(e.Message()).c_str());
  }
  std::printf("%s,%s\n", platform::AnsiToUtf8(path).c_str(), result == 0 ? "OK" : "NG");
  if (result != 0) std::fprintf(stderr, "sorvane-lock-example: result %d\n", result);
  return result == 0 ? 0 : 1;
}
