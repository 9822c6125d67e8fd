// The wxWidgets backend of the widget layer. A program installs it at start; the toolkit itself
// starts only when the first form is shown or a message box is needed (never in a silent run).
#pragma once

#include <string>

namespace ui {
class TForm;
}

namespace ui::wx {

// Makes the application start wxWidgets (GTK 3) on demand. argc/argv go to the toolkit.
void InstallWxBackend(int argc = 0, char** argv = nullptr);

// Writes a PNG picture of the form's window as the screen shows it (through the window's device
// context, menu bar included). False when the form has no window or the file cannot be written.
bool SaveScreenshot(TForm& form, const std::string& pngPath);

// The installed font family (UTF-8) that stands in for a Windows font name (UTF-8): the forms'
// "ＭＳ Ｐゴシック" is IPAPGothic, "ＭＳ ゴシック" IPAGothic, Arial Liberation Sans, ...; other
// names are kept.
std::string ToolkitFontName(const std::string& windowsName);

}  // namespace ui::wx
