// The start of a program: the wx backend, the main form made from the command-line arguments, the
// message loop, and the exit code the form set. Only the programs' main.cpp include it (they link
// the toolkit).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/ProgramFolder.h"
#include "ui/Forms.h"
#include "ui/wx/WxBackend.h"

template <class MainForm>
int RunProgram(int argc, char** argv, const char* title) {
  ui::wx::InstallWxBackend(argc, argv);
  ui::Application().SetTitle(title);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(platform::ArgumentToAnsi(argv[i]));
  ui::Application().CreateForm<MainForm>(std::move(arguments));
  ui::Application().Run();
  int exitCode = ui::Application().ExitCode();
  ui::Application().DestroyForms();
  ui::Application().StopBackend();
  return exitCode;
}
