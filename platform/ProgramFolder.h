// Where the running program lies: its file and its folder, as ANSI (code page 932) byte strings.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The full path of the running executable (from /proc/self/exe).
std::string ProgramFile();
// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();

// Makes ProgramFolder() answer folder (a trailing "/" is added when missing) and ProgramFile()
// answer folder + fileName (the running executable's own name when fileName is empty). An empty
// folder goes back to the real values.
void SetProgramFolderForTests(const std::string& folder, const std::string& fileName = "");

// Whether nobody but the running user and root can change the program folder and what the
// program loads, runs or reads from it: the program folder and each folder above it are theirs
// and writable by no group and no other user (a folder above it with the sticky bit may be: no
// other user can move what is in it), and so are the entries of the program folder named in
// entries (relative names; links followed) that are there. False with, in problem, the path
// and why (ANSI code page).
bool ProgramFolderIsProtected(const std::vector<std::string>& entries, std::string* problem);

// The arguments a program was started with (argv[1..]), converted from the OS's UTF-8 to the ANSI
// code page, as the program's code sees its command line.
std::string ArgumentToAnsi(const char* utf8Argument);

}  // namespace platform
