// The library's settings dialog as a real window under a private Xvfb: its texts as the toolkit
// shows them, a text the code page lacks going through the window whole, a password mismatch
// keeping it open, OK writing into the document, and a picture of every page.
#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/image.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>
#include <wx/wx.h>

#include <functional>
#include <string>
#include <vector>

#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoSettingsDlg.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/wx/XvfbDisplay.h"
#include "ui/wx/WxBackend.h"
#include "ui/wx/WxWindows.h"

using namespace sv::test;
using V = std::vector<std::string>;

namespace {

class SettingsDlgWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    if (!StartPrivateDisplay(error)) GTEST_SKIP() << error;
    ASSERT_NE(ui::Application().StartBackend(), nullptr);
  }
};

std::string Utf8(const wxString& s) {
  return s.utf8_string();
}

// The user's actions on the toolkit's windows.
void Press(ui::TControl& button) {
  wxWindow* w = ui::wx::WindowOf(button);
  wxCommandEvent pressed(wxEVT_BUTTON, w->GetId());
  pressed.SetEventObject(w);
  w->ProcessWindowEvent(pressed);
}

void Tick(ui::TCheckBox& box, bool on) {
  auto* c = Win<wxCheckBox>(box);
  c->SetValue(on);
  wxCommandEvent clicked(wxEVT_CHECKBOX, c->GetId());
  clicked.SetEventObject(c);
  clicked.SetInt(on ? 1 : 0);
  c->ProcessWindowEvent(clicked);
}

void Type(ui::TEdit& edit, const char* utf8) {
  Win<wxTextCtrl>(edit)->SetValue(wxString::FromUTF8(utf8));  // sends the text event
}

// The controls whose window sticks out of the client area of its parent's window.
void WindowsOutside(ui::TWinControl& container, V& outside) {
  for (int i = 0; i < container.ControlCount(); ++i) {
    ui::TControl* c = container.Controls(i);
    wxWindow* w = ui::wx::WindowOf(*c);
    // The notebook places its pages itself.
    if (w && w->GetParent() && !dynamic_cast<ui::TTabSheet*>(c)) {
      wxRect r = w->GetRect();
      wxSize room = w->GetParent()->GetClientSize();
      if (r.x < 0 || r.y < 0 || r.GetRight() >= room.x || r.GetBottom() >= room.y)
        outside.push_back(Utf8(w->GetLabel()) + " " + std::to_string(r.GetBottom()) + "/" +
                          std::to_string(room.y));
    }
    if (auto* inner = dynamic_cast<ui::TWinControl*>(c)) WindowsOutside(*inner, outside);
  }
}

// Distinct colours in a picture: a page drawn with its controls has many.
int Colours(const std::string& png) {
  wxImage image;
  if (!image.LoadFile(wxString::FromUTF8(png), wxBITMAP_TYPE_PNG)) return -1;
  std::vector<bool> seen(1 << 15);
  int count = 0;
  for (int y = 0; y < image.GetHeight(); ++y)
    for (int x = 0; x < image.GetWidth(); ++x) {
      int key = (image.GetRed(x, y) >> 3) << 10 | (image.GetGreen(x, y) >> 3) << 5 |
                image.GetBlue(x, y) >> 3;
      if (!seen[static_cast<size_t>(key)]) {
        seen[static_cast<size_t>(key)] = true;
        ++count;
      }
    }
  return count;
}

}  // namespace

TEST_F(SettingsDlgWindow, TheRealDialogShowsItsPagesAndWritesWhatIsTyped) {
  auto doc = TzoCustomPDFDocument::Create();
  doc->Info().SetTitle(u"Caf\u00e9 \u5831\u544a");
  auto dlg = ui::MakeForm<TzoPDFSettingsDlg>();
  dlg->SetDocument(doc.get());
  V boxes;
  auto oldHook =
      ui::Application().SetMessageBoxHook([&](const std::string& text, const std::string&, int) {
        boxes.push_back(text);
        return ui::IDOK;
      });

  std::vector<std::string> shots;
  bool secondRound = false;
  std::function<void()> fix = [&] {
    // The dialog stayed open after the mismatch, on the security page with the focus on the
    // owner password.
    secondRound = true;
    EXPECT_TRUE(ui::wx::WindowOf(*dlg)->IsShown());
    EXPECT_EQ(Win<wxNotebook>(dlg->pcSettings)->GetSelection(), 1);
    EXPECT_EQ(dlg->ActiveControl(), &dlg->edtOwnerPassword);
    Type(dlg->edtConfirmOwnerPassword, "owner");
    Press(dlg->btnOK);
  };
  wxTheApp->CallAfter([&] {
    ui::wx::Settle(100);
    wxWindow* frame = ui::wx::WindowOf(*dlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Utf8(frame->GetLabel()), "ＰＤＦドキュメントに関する設定");
    EXPECT_EQ(frame->GetClientSize(), wxSize(364, 449));
    auto* book = Win<wxNotebook>(dlg->pcSettings);
    V tabs;
    for (size_t i = 0; i < book->GetPageCount(); ++i)
      tabs.push_back(Utf8(book->GetPageText(i)));
    EXPECT_EQ(tabs, (V{"一般", "セキュリティ", "開き方", "Email", "圧縮"}));
    // The title reaches the window whole, and what the user types comes back whole.
    EXPECT_EQ(Utf8(Win<wxTextCtrl>(dlg->edtTitle)->GetValue()), "Café 報告");
    EXPECT_EQ(Utf8(Win<wxTextCtrl>(dlg->edtProducer)->GetValue()), "Quorrane Leafwright V2.5");
    EXPECT_FALSE(Win<wxTextCtrl>(dlg->edtProducer)->IsEditable());
    Type(dlg->edtAuthor, "Ærø 𠮷");
    // Under the toolkit's taller tabs every control still lies inside its page or group.
    V outside;
    WindowsOutside(*dlg, outside);
    EXPECT_EQ(outside, V{});

    // Every page, for a person to look at.
    for (int i = 0; i < dlg->pcSettings.PageCount(); ++i) {
      dlg->pcSettings.SelectPage(i);
      EXPECT_EQ(book->GetSelection(), i);
      ui::wx::Settle(150);
      shots.push_back(ArtifactDir() + "settings_dialog_" + std::to_string(i + 1) + ".png");
      EXPECT_TRUE(ui::wx::SaveScreenshot(*dlg, shots.back()));
    }

    dlg->pcSettings.SelectPage(1);
    Tick(dlg->chkEnableEncryption, true);
    EXPECT_TRUE(Win<wxTextCtrl>(dlg->edtOwnerPassword)->IsEnabled());
    EXPECT_TRUE(Win<wxTextCtrl>(dlg->edtOwnerPassword)->HasFlag(wxTE_PASSWORD));
    Type(dlg->edtOwnerPassword, "owner");
    Type(dlg->edtConfirmOwnerPassword, "Owner");
    Type(dlg->edtUserPassword, "user");
    Type(dlg->edtConfirmUserPassword, "user");
    dlg->pcSettings.SelectPage(0);
    wxTheApp->CallAfter(fix);
    Press(dlg->btnOK);
  });
  EXPECT_EQ(dlg->ShowModal(), ui::mrOk);
  ui::Application().SetMessageBoxHook(oldHook);

  EXPECT_TRUE(secondRound);
  EXPECT_EQ(boxes, V{"The Owner Passwords do not match.\r\nPlease re-enter."});
  EXPECT_EQ(doc->Info().Title(), u"Caf\u00e9 \u5831\u544a");
  EXPECT_EQ(doc->Info().Author(), u"\u00c6r\u00f8 \U00020BB7");
  EXPECT_TRUE(doc->Encryption().Enabled());
  EXPECT_EQ(doc->Encryption().OwnerPassword(), "owner");
  EXPECT_EQ(doc->Encryption().UserPassword(), "user");

  // Each page drew its own controls.
  ASSERT_EQ(shots.size(), 5u);
  for (size_t i = 0; i < shots.size(); ++i) {
    EXPECT_GT(Colours(shots[i]), 8) << shots[i];
    for (size_t j = 0; j < i; ++j)
      EXPECT_NE(ReadFile(shots[i]), ReadFile(shots[j])) << shots[i] << " " << shots[j];
  }
}
