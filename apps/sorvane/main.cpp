// Sorvane: puts PDF security settings onto every PDF file of a list of folder jobs. Without
// arguments it opens its window; with any argument it runs every enabled job without a window and
// ends with exit status 0 (every file OK), 1 (a file NG) or 2 (the run could not run).
#include "apps/common/ProgramMain.h"
#include "apps/sorvane/Unit1.h"

int main(int argc, char** argv) {
  return RunProgram<TForm1>(argc, argv, "Sorvane");
}
