// TFolderDialog with the toolkit's real directory dialog. The user's OK and Cancel reach the
// dialog as its buttons give them: the GTK dialog's response.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <wx/wx.h>

#include <string>

#include "apps/common/FolderDialog.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/wx/XvfbDisplay.h"
#include "ui/Forms.h"
#include "ui/wx/WxWindows.h"

namespace {

constexpr int kGtkResponseAccept = -3;
constexpr int kGtkResponseCancel = -6;

template <class F>
F Gtk(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

// Presses a button of the modal dialog that is open now (the directory dialog): true when there
// was one.
bool Respond(int response, std::string& title) {
  struct GList {
    void* data;
    GList* next;
    GList* prev;
  };
  auto list = Gtk<GList* (*)()>("gtk_window_list_toplevels");
  auto modal = Gtk<int (*)(void*)>("gtk_window_get_modal");
  auto visible = Gtk<int (*)(void*)>("gtk_widget_get_visible");
  auto respond = Gtk<void (*)(void*, int)>("gtk_dialog_response");
  auto free = Gtk<void (*)(GList*)>("g_list_free");
  auto titleOf = Gtk<const char* (*)(void*)>("gtk_window_get_title");
  auto chosen = Gtk<char* (*)(void*)>("gtk_file_chooser_get_filename");
  auto freeText = Gtk<void (*)(void*)>("g_free");
  if (!list || !modal || !visible || !respond || !free || !titleOf || !chosen || !freeText)
    return false;
  GList* windows = list();
  void* dialog = nullptr;
  for (GList* w = windows; w; w = w->next)
    if (modal(w->data) && visible(w->data)) dialog = w->data;
  free(windows);
  if (!dialog) return false;
  // The chooser reads the folder in the background; an OK before it names one gives nothing.
  if (response == kGtkResponseAccept) {
    char* name = chosen(dialog);
    if (!name) return false;
    freeText(name);
  }
  title = titleOf(dialog) ? titleOf(dialog) : "";
  respond(dialog, response);
  return true;
}

}  // namespace

TEST(FolderDialogWx, TheRealDialogOpensOnTheFolderAndGivesItBack) {
  std::string error;
  if (!sv::test::StartPrivateDisplay(error)) GTEST_SKIP() << error;
  ASSERT_NE(ui::Application().StartBackend(), nullptr);
  sv::test::TempDir tmp;
  std::string folder = tmp / platform::Utf8ToAnsi("選ぶフォルダ");
  ASSERT_EQ(mkdir(platform::AnsiToUtf8(folder).c_str(), 0755), 0);

  ui::TForm form(&ui::Application());
  form.SetBounds(10, 10, 300, 200);
  form.AfterConstruction();
  form.Show();
  TFolderDialog dialog(&form);
  dialog.SetDirectory(folder);

  int response = kGtkResponseAccept;
  bool pressed = false;
  std::string title;
  wxTimer user;
  user.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (Respond(response, title)) {
      pressed = true;
      user.Stop();
    }
  });
  user.Start(300);
  EXPECT_TRUE(dialog.Execute());
  EXPECT_TRUE(pressed);
  EXPECT_EQ(dialog.Directory(), folder);  // the preselected folder, chosen with OK
  EXPECT_EQ(title, "フォルダーの選択");

  response = kGtkResponseCancel;
  pressed = false;
  user.Start(300);
  EXPECT_FALSE(dialog.Execute());
  EXPECT_TRUE(pressed);
  EXPECT_EQ(dialog.Directory(), folder);
  form.Hide();
}
