// Kettrin: checks the PDF files of a CSV list with pdfinfo. Without switches it opens its window;
// "/f<list> /p" checks at once and shows the results, "/f<list> /n" checks without a window and
// ends with exit status 0 (every file passed), 1 (a file failed) or 2 (the run could not run).
#include "apps/common/ProgramMain.h"
#include "apps/kettrin/Unit1.h"

int main(int argc, char** argv) {
  return RunProgram<TForm1>(argc, argv, "Kettrin");
}
