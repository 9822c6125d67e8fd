// Kettrin: checks the PDF files of a CSV list with pdfinfo. Without switches it opens its window;
// "/f<list> /p" checks at once and shows the results, "/f<list> /n" checks without a window and
// ends with exit status 0 (every file passed), 1 (a file failed) or 2 (the run could not run).
#include <string>
#include <vector>

#include "apps/kettrin/Unit1.h"
#include "platform/ProgramFolder.h"
#include "ui/Forms.h"
#include "ui/wx/WxBackend.h"

int main(int argc, char** argv) {
  ui::wx::InstallWxBackend(argc, argv);
  ui::Application().SetTitle("Kettrin");
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
