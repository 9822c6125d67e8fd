// The start of a program: the toolkit module (loaded only when a window is shown), the main form
// made from the command-line arguments, the message loop, and the exit code the form set (2 when a
// window was needed and the toolkit module could not be loaded). Only the programs' main.cpp
// include it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/ProcessHeap.h"
#include "platform/ProgramFolder.h"
#include "ui/BackendModule.h"
#include "ui/Forms.h"

template <class MainForm>
int RunProgram(int argc, char** argv, const char* title) {
  platform::KeepFreedHeapMemory();
  ui::TBackendModule toolkit("svui_wx.so", argc > 0 && argv[0] ? argv[0] : title);
  toolkit.Install();
  ui::Application().SetTitle(title);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(platform::ArgumentToAnsi(argv[i]));
  ui::Application().CreateForm<MainForm>(std::move(arguments));
  ui::Application().Run();
  int exitCode = ui::Application().ExitCode();
  ui::Application().DestroyForms();
  ui::Application().StopBackend();
  return toolkit.LoadFailed() ? 2 : exitCode;
}
