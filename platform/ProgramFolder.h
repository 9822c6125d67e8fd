// Where the running program lies: its file and its folder, as ANSI (code page 932) byte strings.
#pragma once

#include <string>

namespace platform {

// The full path of the running executable (from /proc/self/exe).
std::string ProgramFile();
// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();

// Makes ProgramFolder() answer folder (a trailing "/" is added when missing) and ProgramFile()
// answer folder + fileName (the running executable's own name when fileName is empty). An empty
// folder goes back to the real values.
void SetProgramFolderForTests(const std::string& folder, const std::string& fileName = "");

// The arguments a program was started with (argv[1..]), converted from the OS's UTF-8 to the ANSI
// code page, as the program's code sees its command line.
std::string ArgumentToAnsi(const char* utf8Argument);

}  // namespace platform
