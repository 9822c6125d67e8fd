// Real windows under a private Xvfb: a form with several controls, its events through the
// toolkit, a drop through the toolkit's drop target, a modal run, and a screenshot.
#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dnd.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>
#include <wx/wx.h>

#include <string>
#include <vector>

#include "apps/common/NewCtrls.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/wx/XvfbDisplay.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"
#include "ui/wx/WxBackend.h"
#include "ui/wx/WxWindows.h"

using namespace ui;
using sv::test::Win;

namespace {

std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

class DisplayTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    if (!sv::test::StartPrivateDisplay(error)) GTEST_SKIP() << error;
    ASSERT_NE(Application().StartBackend(), nullptr);
  }
};

struct DropSeen {
  int num = 0;
  std::vector<std::string> files;
  int x = -1, y = -1;
};

// A window of the kind the programs have: a menu, groups, boxes, edits, lists and buttons.
class TSampleForm : public TForm {
 public:
  TSampleForm() : TForm(&Application()) {
    SetCaption("Sorvane");
    SetBorderStyle(bsSingle);
    SetBounds(40, 30, 540, 420);
    SetMenu(&MainMenu1);
    MainMenu1.Items().Add(&mmFile);
    mmFile.SetCaption(J("ファイル"));
    mmFile.Add(&mmAddDir);
    mmAddDir.SetCaption(J("フォルダ追加"));
    mmFile.Add(&N1);
    N1.SetCaption("-");
    mmFile.Add(&mmQuit);
    mmQuit.SetCaption(J("終了"));

    Pages.SetParent(this);
    Pages.SetBounds(4, 4, 524, 300);
    TabWork.SetPageControl(&Pages);
    TabWork.SetCaption(J("動作"));
    TabAbout.SetPageControl(&Pages);
    TabAbout.SetCaption("About");
    Version.SetParent(&TabAbout);
    Version.SetBounds(20, 20, 100, 16);
    Version.SetCaption("Ver0.14c");

    ListBoxJob.SetParent(&TabWork);
    ListBoxJob.SetBounds(8, 8, 250, 80);
    ListBoxJob.SetSorted(true);
    ListBoxJob.Items().AddStrings({"/data/b", "/data/A"});

    GroupSecurity.SetParent(&TabWork);
    GroupSecurity.SetBounds(8, 96, 250, 160);
    GroupSecurity.SetCaption(J("セキュリティ設定"));
    CheckBox_sEN.SetParent(&GroupSecurity);
    CheckBox_sEN.SetBounds(12, 20, 220, 20);
    CheckBox_sEN.SetCaption(J("セキュリティを使用する"));
    CheckBox_sEN.OnClick = [this](rtl::TObject*) { checkClicks.push_back(CheckBox_sEN.Checked()); };
    EditUserPW.SetParent(&GroupSecurity);
    EditUserPW.SetBounds(12, 48, 150, 22);
    EditUserPW.SetPasswordChar('*');
    EditUserPW.OnChange = [this](rtl::TObject*) { edits.push_back(EditUserPW.Text()); };
    ComboBoxPDFVer.SetParent(&GroupSecurity);
    ComboBoxPDFVer.SetBounds(12, 80, 220, 24);
    ComboBoxPDFVer.SetStyle(csDropDownList);
    for (const char* v : {"１．３　高速エンジン", "１．４　高速エンジン", "１．５　高速エンジン"})
      ComboBoxPDFVer.Items().Add(J(v));
    ComboBoxPDFVer.SetItemIndex(1);
    ComboBoxPDFVer.OnClick = [this](rtl::TObject*) { comboIndex = ComboBoxPDFVer.ItemIndex(); };
    Level.SetParent(&GroupSecurity);
    Level.SetBounds(12, 110, 220, 40);
    Level.SetCaption(J(" 暗号化レベル"));
    Level.SetColumns(2);
    Level.Items().AddStrings({"40 Bit", "128 Bit"});
    Level.SetItemIndex(0);

    Results.SetParent(&TabWork);
    Results.SetBounds(266, 8, 246, 248);
    Results.SetViewStyle(vsReport);
    Results.SetGridLines(true);
    Results.SetRowSelect(true);
    for (const char* c : {"ファイル名", "PDFVer"})
      Results.Columns().Add()->SetCaption(J(c));
    Results.Columns()[0]->SetWidth(140);
    Results.Columns()[1]->SetWidth(80);
    Results.OnCustomDrawItem = [](rtl::TObject*, TListItem* item, TColor& color) {
      if (item->SubItems().Count() > 0 && item->SubItems()[0].find(J("×")) != std::string::npos)
        color = clRed;
    };

    Bottom.SetParent(this);
    Bottom.SetBounds(0, 310, 534, 60);
    StaticState.SetParent(&Bottom);
    StaticState.SetBounds(8, 8, 300, 18);
    StaticState.SetAutoSize(false);
    StaticState.SetCaption(J("フォルダをドロップしてください"));
    SpeedButtonAll.SetParent(&Bottom);
    SpeedButtonAll.SetBounds(420, 8, 100, 28);
    SpeedButtonAll.SetCaption(J("一括処理"));
    SpeedButtonAll.OnClick = [this](rtl::TObject*) { ++allClicks; };

    FileDrop1.OnFileDrop = [this](rtl::TObject*, int num, const rtl::TStringList& files, int x,
                                  int y) {
      drop.num = num;
      for (int i = 0; i < files.Count(); ++i)
        drop.files.push_back(files.Strings(i));
      drop.x = x;
      drop.y = y;
    };
    OnCreate = [this](rtl::TObject*) {
      FileDrop1.SetAccept(true);
      FileDrop1.SetControl(this);
    };
  }
  TMainMenu MainMenu1{this};
  TMenuItem mmFile{this}, mmAddDir{this}, N1{this}, mmQuit{this};
  TPageControl Pages{this};
  TTabSheet TabWork{this}, TabAbout{this};
  TLabel Version{this};
  TListBox ListBoxJob{this};
  TGroupBox GroupSecurity{this};
  TCheckBox CheckBox_sEN{this};
  TEdit EditUserPW{this};
  TComboBox ComboBoxPDFVer{this};
  TRadioGroup Level{this};
  TListView Results{this};
  TPanel Bottom{this};
  TStaticText StaticState{this};
  TSpeedButton SpeedButtonAll{this};
  TFileDrop FileDrop1{this};
  std::vector<bool> checkClicks;
  std::vector<std::string> edits;
  int comboIndex = -1;
  int allClicks = 0;
  DropSeen drop;
};

}  // namespace

TEST_F(DisplayTest, AFormShowsItsControlsAndRoutesTheirEvents) {
  auto form = MakeForm<TSampleForm>();
  form->Show();
  wx::Settle();
  ASSERT_NE(wx::WindowOf(*form), nullptr);
  EXPECT_TRUE(wx::WindowOf(*form)->IsShown());
  EXPECT_EQ(wx::WindowOf(*form)->GetClientSize(),
            wxSize(form->ClientWidth(), form->ClientHeight()));

  // The layer's state is on the windows.
  auto* list = Win<wxListBox>(form->ListBoxJob);
  ASSERT_EQ(list->GetCount(), 2u);
  EXPECT_EQ(list->GetString(0).utf8_string(), "/data/A");
  auto* choice = Win<wxChoice>(form->ComboBoxPDFVer);
  EXPECT_EQ(choice->GetSelection(), 1);
  EXPECT_EQ(choice->GetString(0).utf8_string(), "１．３　高速エンジン");
  auto* password = Win<wxTextCtrl>(form->EditUserPW);
  EXPECT_TRUE(password->HasFlag(wxTE_PASSWORD));
  // A control inside a group box sits at the group's offset in the page.
  EXPECT_EQ(wx::WindowOf(form->CheckBox_sEN)->GetPosition(), wxPoint(8 + 12, 96 + 20));
  EXPECT_EQ(wx::WindowOf(form->CheckBox_sEN)->GetParent(), wx::ClientWindowOf(form->TabWork));

  // Toolkit events reach the controls' events; changes in code reach the windows.
  auto* check = Win<wxCheckBox>(form->CheckBox_sEN);
  check->SetValue(true);
  wxCommandEvent clicked(wxEVT_CHECKBOX, check->GetId());
  clicked.SetEventObject(check);
  check->ProcessWindowEvent(clicked);
  EXPECT_EQ(form->checkClicks, std::vector<bool>{true});
  form->CheckBox_sEN.SetChecked(false);
  EXPECT_FALSE(check->GetValue());
  EXPECT_EQ(form->checkClicks, (std::vector<bool>{true, false}));

  password->SetValue("secret");  // the toolkit's text event
  EXPECT_EQ(form->EditUserPW.Text(), "secret");
  form->EditUserPW.SetText("other");
  EXPECT_EQ(password->GetValue().utf8_string(), "other");
  EXPECT_EQ(form->edits, (std::vector<std::string>{"secret", "other"}));

  choice->SetSelection(2);
  wxCommandEvent chosen(wxEVT_CHOICE, choice->GetId());
  chosen.SetInt(2);
  chosen.SetEventObject(choice);
  choice->ProcessWindowEvent(chosen);
  EXPECT_EQ(form->comboIndex, 2);

  // Rows and their colour as the custom-draw event gives it.
  TListItem* ok = form->Results.Items().Add();
  ok->SetCaption("/data/A/a.pdf");
  ok->SubItems().Add(J("1.4  ○"));
  TListItem* ng = form->Results.Items().Add();
  ng->SetCaption("/data/A/b.pdf");
  ng->SubItems().Add(J("1.3  ×"));
  auto* report = Win<wxListCtrl>(form->Results);
  EXPECT_EQ(report->GetItemCount(), 2);
  EXPECT_EQ(report->GetItemText(1, 1).utf8_string(), "1.3  ×");
  form->Results.SetSelected(ng);
  EXPECT_NE(report->GetItemState(1, wxLIST_STATE_SELECTED), 0);
  form->Results.SetSelected(ok);  // the red row stays visible in the picture
  EXPECT_EQ(report->GetItemState(1, wxLIST_STATE_SELECTED), 0);

  // The page control follows its active page both ways.
  auto* book = Win<wxNotebook>(form->Pages);
  EXPECT_EQ(book->GetPageCount(), 2u);
  form->Pages.SetActivePage(&form->TabAbout);
  EXPECT_EQ(book->GetSelection(), 1);
  form->Pages.SetActivePage(&form->TabWork);

  // Disabling a group disables what it holds.
  form->GroupSecurity.SetEnabled(false);
  EXPECT_FALSE(check->IsEnabled());
  form->GroupSecurity.SetEnabled(true);
  EXPECT_TRUE(check->IsEnabled());

  // Fonts: the forms' Japanese font is an installed IPA font.
  EXPECT_EQ(check->GetFont().GetFaceName().utf8_string(), "IPAPGothic");
  EXPECT_EQ(check->GetFont().GetPointSize(), 9);

  // The menu bar has the menu's items.
  auto* frame = dynamic_cast<wxFrame*>(wx::WindowOf(*form));
  ASSERT_NE(frame->GetMenuBar(), nullptr);
  EXPECT_EQ(frame->GetMenuBar()->GetMenuLabelText(0).utf8_string(), "ファイル");
  int menuClicks = 0;
  form->mmAddDir.OnClick = [&](rtl::TObject*) { ++menuClicks; };
  int id = frame->GetMenuBar()->FindMenuItem(wxString::FromUTF8("ファイル"),
                                             wxString::FromUTF8("フォルダ追加"));
  ASSERT_NE(id, wxNOT_FOUND);
  wxCommandEvent menuEvent(wxEVT_MENU, id);
  frame->ProcessWindowEvent(menuEvent);
  EXPECT_EQ(menuClicks, 1);

  // The control under the mouse, also inside a group box (whose children have their own place).
  wxWindow* page = wx::ClientWindowOf(form->TabWork);
  EXPECT_EQ(wx::ControlOf(page), &form->TabWork);
  EXPECT_EQ(wx::ControlAt(page->ClientToScreen(wxPoint(8 + 200, 96 + 150))), &form->GroupSecurity);
  EXPECT_EQ(wx::ControlAt(page->ClientToScreen(wxPoint(8 + 12 + 5, 96 + 20 + 5))),
            &form->CheckBox_sEN);
  EXPECT_EQ(wx::ControlAt(page->ClientToScreen(wxPoint(262, 200))), &form->TabWork);

  wx::Settle(200);
  std::string shot = sv::test::ArtifactDir() + "uiwx_sample_form.png";
  EXPECT_TRUE(wx::SaveScreenshot(*form, shot));
  EXPECT_TRUE(sv::test::FileExists(shot));
  form->Hide();
}

TEST_F(DisplayTest, ADropThroughTheToolkitsDropTargetReachesTheHandlerWhole) {
  auto form = MakeForm<TSampleForm>();
  form->Show();
  wx::Settle();
  wxWindow* client = wx::ClientWindowOf(*form);
  ASSERT_NE(client, nullptr);
  auto* target = dynamic_cast<wxFileDropTarget*>(client->GetDropTarget());
  ASSERT_NE(target, nullptr);
  std::string deep = "/tmp/" + std::string(300, 'd') + "/フォルダ";
  wxArrayString names;
  names.Add(wxString::FromUTF8(deep));
  names.Add("/tmp/second.pdf");
  EXPECT_TRUE(target->OnDropFiles(123, 45, names));
  EXPECT_EQ(form->drop.num, 2);
  ASSERT_EQ(form->drop.files.size(), 2u);
  EXPECT_EQ(form->drop.files[0], platform::Utf8ToAnsi(deep));
  EXPECT_EQ(form->drop.files[0].size(), platform::Utf8ToAnsi(deep).size());
  EXPECT_EQ(form->drop.files[1], "/tmp/second.pdf");
  EXPECT_EQ(form->drop.x, 123);
  EXPECT_EQ(form->drop.y, 45);

  // A window that refuses drops has no drop target.
  form->FileDrop1.SetAccept(false);
  EXPECT_EQ(client->GetDropTarget(), nullptr);
  form->Hide();
}

TEST_F(DisplayTest, AModalFormRunsUntilItsButtonCloses) {
  class TDialog : public TForm {
   public:
    TDialog() : TForm(&Application()) {
      SetCaption(J("ＰＤＦドキュメントに関する設定"));
      SetBorderStyle(bsDialog);
      SetPosition(poScreenCenter);
      SetClientWidth(364);
      SetClientHeight(120);
      Edit.SetParent(this);
      Edit.SetBounds(10, 10, 200, 22);
      Ok.SetParent(this);
      Ok.SetBounds(200, 80, 75, 25);
      Ok.SetCaption("OK");
      Ok.SetDefault(true);
      Ok.SetModalResult(mrOk);
      Cancel.SetParent(this);
      Cancel.SetBounds(280, 80, 75, 25);
      Cancel.SetCaption("Cancel");
      Cancel.SetCancel(true);
      Cancel.SetModalResult(mrCancel);
    }
    TEdit Edit{this};
    TButton Ok{this}, Cancel{this};
  };
  auto dialog = MakeForm<TDialog>();
  dialog->Edit.SetText(J("日本語の入力"));
  bool shot = false;
  // The user looks at the dialog for a moment, then presses OK (the toolkit's button event).
  wxTimer user;
  user.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    shot = wx::SaveScreenshot(*dialog, sv::test::ArtifactDir() + "uiwx_modal_dialog.png");
    wxWindow* ok = wx::WindowOf(dialog->Ok);
    wxCommandEvent pressed(wxEVT_BUTTON, ok->GetId());
    pressed.SetEventObject(ok);
    ok->ProcessWindowEvent(pressed);
  });
  dialog->OnShow = [&](rtl::TObject*) { user.StartOnce(300); };
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_TRUE(shot);
  EXPECT_FALSE(dialog->Visible());
  EXPECT_FALSE(wx::WindowOf(*dialog)->IsShown());
  // Centred on the screen, and the form knows where its window went.
  wxWindow* frame = wx::WindowOf(*dialog);
  EXPECT_EQ(frame->GetPosition().x, (1280 - frame->GetSize().x) / 2);
  EXPECT_EQ(dialog->Left(), frame->GetPosition().x);
  EXPECT_EQ(dialog->Top(), frame->GetPosition().y);

  // Escape presses the cancel button.
  wxTimer escape;
  escape.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = WXK_ESCAPE;
    wx::WindowOf(*dialog)->ProcessWindowEvent(key);
  });
  dialog->OnShow = [&](rtl::TObject*) { escape.StartOnce(50); };
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
}

TEST_F(DisplayTest, AnExceptionInAHandlerIsReportedAndTheWindowGoesOn) {
  auto form = MakeForm<TSampleForm>();
  std::vector<std::string> boxes;
  auto previous =
      Application().SetMessageBoxHook([&](const std::string& t, const std::string&, int) {
        boxes.push_back(t);
        return IDOK;
      });
  form->SpeedButtonAll.OnClick = [](rtl::TObject*) { throw rtl::Exception("broken"); };
  form->Show();
  wx::Settle();
  wxWindow* button = wx::WindowOf(form->SpeedButtonAll);
  wxCommandEvent pressed(wxEVT_BUTTON, button->GetId());
  pressed.SetEventObject(button);
  button->ProcessWindowEvent(pressed);
  button->ProcessWindowEvent(pressed);
  EXPECT_EQ(boxes, (std::vector<std::string>{"broken.", "broken."}));
  Application().SetMessageBoxHook(previous);
  form->Hide();
}

TEST_F(DisplayTest, ControlsMadeAndFreedWhileTheFormIsShown) {
  auto form = MakeForm<TSampleForm>();
  form->Show();
  wx::Settle();
  {
    auto box = std::make_unique<TGroupBox>(form.get());
    box->SetParent(&form->TabWork);
    box->SetBounds(10, 10, 100, 60);
    TEdit edit(form.get());
    edit.SetParent(box.get());
    edit.SetBounds(5, 20, 80, 22);
    ASSERT_NE(wx::WindowOf(edit), nullptr);
    EXPECT_EQ(wx::WindowOf(edit)->GetPosition(), wxPoint(15, 30));
    box->SetLeft(20);
    EXPECT_EQ(wx::WindowOf(edit)->GetPosition(), wxPoint(25, 30));
    box.reset();  // the group goes first; the edit loses its window
    EXPECT_EQ(wx::WindowOf(edit), nullptr);
  }
  {
    // Typing in a memo: the text keeps what the user typed, line breaks as CR LF.
    TMemo memo(form.get());
    memo.SetParent(&form->TabWork);
    memo.SetBounds(10, 10, 200, 80);
    auto* text = Win<wxTextCtrl>(memo);
    text->SetValue(wxString::FromUTF8("本文\n2行目\n"));
    EXPECT_EQ(memo.Text(), J("本文\r\n2行目\r\n"));
    EXPECT_EQ(text->GetValue().utf8_string(), "本文\n2行目\n");
    memo.Lines().Add("3");
    EXPECT_EQ(text->GetValue().utf8_string(), "本文\n2行目\n3\n");
  }
  form->ListBoxJob.Items().Add("/data/c");
  EXPECT_EQ(Win<wxListBox>(form->ListBoxJob)->GetCount(), 3u);
  form->Hide();
  form.reset();
  wx::Settle(50);
}

namespace {
// A program's main window, closed by the user with the window's close button.
class TMainWindow : public TForm {
 public:
  TMainWindow() : TForm(&Application()) {
    SetCaption("Kettrin(V0.12)");
    SetBorderStyle(bsSingle);
    SetBounds(70, 60, 545, 546);
    Status.SetParent(this);
    Status.SetBounds(8, 8, 200, 18);
    OnCloseQuery = [this](rtl::TObject*, bool& canClose) {
      ++asked;
      canClose = asked > 1;  // the first close is refused
    };
    OnClose = [this](rtl::TObject*, TCloseAction&) {
      closedAt = {Left(), Top()};
      if (WindowState() != wsNormal) closedAt = {-1, -1};
    };
  }
  TStaticText Status{this};
  int asked = 0;
  TPoint closedAt{-2, -2};
};
}  // namespace

void RunUntilClosed() {
  TMainWindow* form = Application().CreateForm<TMainWindow>();
  // Events waiting in the toolkit run while a handler lets messages through.
  bool pending = false;
  wxTheApp->CallAfter([&] { pending = true; });
  Application().ProcessMessages();
  wxTimer user;
  user.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    wxCloseEvent close(wxEVT_CLOSE_WINDOW);
    close.SetCanVeto(true);
    wx::WindowOf(*form)->ProcessWindowEvent(close);
  });
  form->OnShow = [&](rtl::TObject*) { user.Start(100); };
  Application().Run();
  const TPoint where{70, 60};
  bool ok = pending && form->asked == 2 && form->closedAt == where && Application().Terminated();
  std::exit(ok ? 0 : 1);
}

TEST_F(DisplayTest, ARunEndsWhenTheUserClosesTheMainWindow) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunUntilClosed(), testing::ExitedWithCode(0), "");
}

namespace {
void RunWithoutAReachableDisplay() {
  setenv("DISPLAY", ":31999", 1);  // no server there
  wx::InstallWxBackend();
  Application().SetTitle("Kettrin");
  TMainWindow* form = Application().CreateForm<TMainWindow>();
  Application().Run();
  std::exit(form->Peer() == nullptr ? Application().ExitCode() : 2);
}
}  // namespace

TEST(WxStart, WithoutAReachableDisplayTheRunFailsPlainly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunWithoutAReachableDisplay(), testing::ExitedWithCode(1),
              "Kettrin: The user interface could not be started");
}
