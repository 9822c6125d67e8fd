// Sorvane: puts PDF security settings onto every PDF file of a list of folder jobs. Without
// arguments it opens its window; with any argument it runs every enabled job without a window and
// ends with exit status 0 (every file OK), 1 (a file NG) or 2 (the run could not run).
#include <string>
#include <vector>

#include "apps/sorvane/Unit1.h"
#include "platform/ProgramFolder.h"
#include "ui/Forms.h"
#include "ui/wx/WxBackend.h"

int main(int argc, char** argv) {
  ui::wx::InstallWxBackend(argc, argv);
  ui::Application().SetTitle("Sorvane");
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(platform::ArgumentToAnsi(argv[i]));
  ui::Application().CreateForm<TForm1>(std::move(arguments));
  ui::Application().Run();
  int exitCode = ui::Application().ExitCode();
  ui::Application().DestroyForms();
  ui::Application().StopBackend();
  return exitCode;
}
