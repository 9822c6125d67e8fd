// The behaviours of the control objects that the forms rely on, without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"

using namespace ui;

namespace {

std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

// A small form built as a form resource would build it.
class TTestForm : public TForm {
 public:
  TTestForm() : TForm(&Application()) {
    SetCaption("Test");
    SetBorderStyle(bsSingle);
    SetBounds(10, 20, 300, 200);
    Box.SetParent(this);
    Box.SetBounds(8, 8, 200, 120);
    Check.SetParent(&Box);
    Check.SetChecked(true);  // while the form is built: no OnClick
    Check.OnClick = [this](rtl::TObject*) { clicks.push_back(Check.Checked()); };
    Edit.SetParent(&Box);
    Edit.SetText("first");
    Edit.OnChange = [this](rtl::TObject*) { changes.push_back(Edit.Text()); };
    Ok.SetParent(this);
    Ok.SetCaption("OK");
    Ok.SetModalResult(mrOk);
    Ok.SetDefault(true);
    Ok.OnClick = [this](rtl::TObject*) {
      resultSeenByClick = ModalResult();
      if (refuseOk) SetModalResult(mrNone);
    };
    Cancel.SetParent(this);
    Cancel.SetModalResult(mrCancel);
    OnCreate = [this](rtl::TObject*) { created = true; };
  }
  TGroupBox Box{this};
  TCheckBox Check{this};
  TEdit Edit{this};
  TButton Ok{this};
  TButton Cancel{this};
  std::vector<bool> clicks;
  std::vector<std::string> changes;
  TModalResult resultSeenByClick = -1;
  bool refuseOk = false;
  bool created = false;
};

// Captures message boxes for the length of a test.
class MessageBoxes {
 public:
  struct Box {
    std::string text, caption;
    int flags;
  };
  explicit MessageBoxes(int answer = IDOK) {
    previous_ = Application().SetMessageBoxHook(
        [this, answer](const std::string& t, const std::string& c, int f) {
          boxes.push_back({t, c, f});
          return answer;
        });
  }
  ~MessageBoxes() { Application().SetMessageBoxHook(previous_); }
  std::vector<Box> boxes;

 private:
  TApplication::TMessageBoxHook previous_;
};

class ModalUser {
 public:
  explicit ModalUser(TApplication::TModalHook hook) {
    previous_ = Application().SetModalHook(std::move(hook));
  }
  ~ModalUser() { Application().SetModalHook(previous_); }

 private:
  TApplication::TModalHook previous_;
};

}  // namespace

TEST(Form, BuildingFiresNoEventsThenOnCreate) {
  auto form = MakeForm<TTestForm>();
  EXPECT_TRUE(form->created);
  EXPECT_TRUE(form->Check.Checked());
  EXPECT_TRUE(form->clicks.empty());
  EXPECT_TRUE(form->changes.empty());
  EXPECT_EQ(form->Check.Parent(), &form->Box);
  EXPECT_EQ(form->Check.ParentForm(), form.get());
  EXPECT_FALSE(form->Visible());
}

TEST(Form, ComponentsOwnedByComponentsAreSetUpToo) {
  class TNested : public TForm {
   public:
    TNested() : TForm(nullptr) { Inner.SetParent(&Box); }
    TGroupBox Box{this};
    TCheckBox Inner{&Box};  // owned by the group, not by the form
  };
  auto form = MakeForm<TNested>();
  int clicks = 0;
  form->Inner.OnClick = [&](rtl::TObject*) { ++clicks; };
  form->Inner.SetChecked(true);
  EXPECT_EQ(clicks, 1);
}

TEST(CheckBox, SettingCheckedFiresOnClickOnChangeOnly) {
  auto form = MakeForm<TTestForm>();
  form->Check.SetChecked(true);  // unchanged
  form->Check.SetChecked(false);
  form->Check.SetChecked(false);
  form->Check.Toggle();  // the user's click
  EXPECT_EQ(form->clicks, (std::vector<bool>{false, true}));
}

TEST(Button, ModalResultIsSetBeforeTheClickHandler) {
  auto form = MakeForm<TTestForm>();
  form->Ok.Click();
  EXPECT_EQ(form->resultSeenByClick, mrOk);
  EXPECT_EQ(form->ModalResult(), mrOk);
  // A button without a modal result sets mrNone, as the class library does.
  TButton plain(form.get());
  plain.SetParent(form.get());
  plain.Click();
  EXPECT_EQ(form->ModalResult(), mrNone);
}

TEST(Form, ShowModalEndsWithTheButtonsResultUnlessTheHandlerRefuses) {
  auto form = MakeForm<TTestForm>();
  std::vector<std::string> events;
  form->OnShow = [&](rtl::TObject*) { events.push_back("show"); };
  form->OnActivate = [&](rtl::TObject*) { events.push_back("activate"); };
  form->OnClose = [&](rtl::TObject*, TCloseAction&) { events.push_back("close"); };
  form->OnHide = [&](rtl::TObject*) { events.push_back("hide"); };
  form->refuseOk = true;
  int round = 0;
  ModalUser user([&](TForm& f) {
    EXPECT_EQ(&f, form.get());
    EXPECT_TRUE(f.Visible());
    ++round;
    if (round == 2) form->refuseOk = false;
    form->Ok.Click();
    return true;
  });
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(round, 2);  // the first OK was refused: the dialog stayed open
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(form->Modal());
  EXPECT_EQ(events, (std::vector<std::string>{"show", "activate", "close", "hide"}));
}

TEST(Form, ShowModalCases) {
  auto form = MakeForm<TTestForm>();
  {  // nobody to answer: Cancel
    EXPECT_EQ(form->ShowModal(), mrCancel);
  }
  {  // Close on a modal form gives mrCancel; OnCloseQuery may keep it open once
    int asked = 0;
    form->OnCloseQuery = [&](rtl::TObject*, bool& canClose) { canClose = ++asked > 1; };
    ModalUser user([&](TForm& f) {
      f.Close();
      return true;
    });
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(asked, 2);
    form->OnCloseQuery = nullptr;
  }
  {  // a visible form cannot be made modal
    form->Show();
    EXPECT_THROW(form->ShowModal(), EInvalidOperation);
    form->Hide();
  }
}

TEST(Form, ActivationFollowsShowAndHide) {
  auto a = MakeForm<TTestForm>();
  auto b = MakeForm<TTestForm>();
  std::vector<std::string> log;
  a->OnActivate = [&](rtl::TObject*) { log.push_back("a+"); };
  a->OnDeactivate = [&](rtl::TObject*) { log.push_back("a-"); };
  b->OnActivate = [&](rtl::TObject*) { log.push_back("b+"); };
  b->OnDeactivate = [&](rtl::TObject*) { log.push_back("b-"); };
  a->Show();
  b->Show();
  EXPECT_EQ(Application().ActiveForm(), b.get());
  b->Hide();
  EXPECT_EQ(Application().ActiveForm(), a.get());
  a->Hide();
  EXPECT_EQ(Application().ActiveForm(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a+", "a-", "b+", "b-", "a+", "a-"}));
}

TEST(Form, CloseAsksAndHidesAForm) {
  auto form = MakeForm<TTestForm>();
  auto main = MakeForm<TTestForm>();  // not the application's main form
  form->Show();
  bool canClose = false;
  TCloseAction action = caHide;
  form->OnCloseQuery = [&](rtl::TObject*, bool& c) { c = canClose; };
  form->OnClose = [&](rtl::TObject*, TCloseAction& a) { a = action; };
  form->Close();
  EXPECT_TRUE(form->Visible());
  canClose = true;
  action = caNone;
  form->Close();
  EXPECT_TRUE(form->Visible());
  action = caHide;
  form->Close();
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(Application().Terminated());
}

TEST(Form, ClientSizeAndFrame) {
  TForm form(nullptr);
  TMainMenu menu(&form);
  TMenuItem file(&form);
  form.SetBorderStyle(bsSingle);
  form.SetBounds(0, 0, 539, 649);
  EXPECT_EQ(form.ClientWidth(), 533);
  EXPECT_EQ(form.ClientHeight(), 649 - 6 - 19);
  menu.Items().Add(&file);
  form.SetMenu(&menu);
  EXPECT_EQ(form.ClientHeight(), 649 - 6 - 19 - 19);
  form.SetBorderStyle(bsDialog);
  form.SetMenu(nullptr);
  form.SetClientWidth(364);
  form.SetClientHeight(449);
  EXPECT_EQ(form.Width(), 370);
  EXPECT_EQ(form.Height(), 449 + 25);
  form.SetBorderStyle(bsNone);
  form.SetBounds(0, 0, 0, 0);
  EXPECT_EQ(form.ClientWidth(), 0);
  EXPECT_EQ(form.ClientHeight(), 0);
}

TEST(Edit, OnChangeOnEveryChangeAndKeyPressFilters) {
  auto form = MakeForm<TTestForm>();
  TEdit& edit = form->Edit;
  edit.SetText("first");  // unchanged: no event
  edit.SetText("");
  edit.SetText("12");
  // A handler that takes digits and backspace only, as the forms' number fields do.
  edit.OnKeyPress = [](rtl::TObject*, char& key) {
    if (!(key >= '0' && key <= '9') && key != VK_BACK) key = 0;
  };
  edit.TypeText("3a4");
  edit.TypeChar(VK_BACK);
  EXPECT_EQ(edit.Text(), "123");
  EXPECT_EQ(form->changes, (std::vector<std::string>{"", "12", "123", "1234", "123"}));

  // Without a filter a double-byte character is typed whole and removed whole.
  edit.OnKeyPress = nullptr;
  edit.SetText("");
  std::string ka = J("か");
  edit.TypeText("a" + ka);
  EXPECT_EQ(edit.Text(), "a" + ka);
  edit.TypeChar(VK_BACK);
  EXPECT_EQ(edit.Text(), "a");
  // Dropping the trail byte drops the character.
  edit.OnKeyPress = [&](rtl::TObject*, char& key) {
    if (key == ka[1]) key = 0;
  };
  edit.TypeText(ka);
  EXPECT_EQ(edit.Text(), "a");
  edit.SetReadOnly(true);
  edit.OnKeyPress = nullptr;
  edit.TypeText("z");
  EXPECT_EQ(edit.Text(), "a");
}

TEST(Edit, WideTextKeepsWhatTheCodePageLacks) {
  auto form = MakeForm<TTestForm>();
  TEdit& edit = form->Edit;
  form->changes.clear();
  // "é" and "𠮷" have no place in code page 932: Text shows "?" for them, WideText keeps them.
  const std::u16string wide = u"Caf\u00e9 \U00020BB7 \u3042";
  edit.SetWideText(wide);
  EXPECT_EQ(edit.WideText(), wide);
  EXPECT_EQ(edit.Text(), "Caf? ? " + J("あ"));
  // A change only in such characters is a change all the same.
  edit.SetWideText(u"Caf\u00e8 \U00020BB7 \u3042");
  EXPECT_EQ(form->changes, (std::vector<std::string>{"Caf? ? " + J("あ"), "Caf? ? " + J("あ")}));
  // Text set or typed in the code page sets the wide text.
  edit.SetText(J("漢字"));
  EXPECT_EQ(edit.WideText(), u"\u6f22\u5b57");
  edit.TypeChar('x');
  EXPECT_EQ(edit.WideText(), u"\u6f22\u5b57x");
}

TEST(Memo, TextAndLinesFollowEachOther) {
  TForm form(nullptr);
  form.AfterConstruction();
  TMemo memo(&form);
  int changes = 0;
  memo.OnChange = [&](rtl::TObject*) { ++changes; };
  memo.SetText("a\r\nb");
  EXPECT_EQ(memo.Lines().Items(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(memo.Text(), "a\r\nb");
  memo.Lines().Add("c");
  EXPECT_EQ(memo.Text(), "a\r\nb\r\nc\r\n");
  memo.TextEdited("x\r\n");  // the user's text keeps its last line break
  EXPECT_EQ(memo.Text(), "x\r\n");
  EXPECT_EQ(memo.Lines().Items(), std::vector<std::string>{"x"});
  memo.TextEdited("x\r\n");
  EXPECT_EQ(changes, 3);
  memo.Clear();
  EXPECT_EQ(memo.Lines().Count(), 0);
}

TEST(AnsiCompareText, OrderOfTheUsersLocale) {
  struct Case {
    std::string a, b;
    int want;
  } cases[] = {
      {"abc", "ABC", 0},
      {"abc", "abd", -1},
      {"a_b", "a1", -1},     // punctuation before digits
      {"a1", "ab", -1},      // digits before letters
      {"Zeta", "alpha", 1},  // letters without case
      {"co-op", "coop", 1},  // "-" only breaks the tie
      {"co-op", "cop", -1},
      {"/home/b", "/home/B", 0},
      {"/home/a b", "/home/ab", -1},  // blank first
      {"z", J("あ"), -1},             // letters before other characters
      {J("あ"), J("い"), -1},
      {"", "a", -1},
      {J("ＡＢ"), "ab", 1},  // full width after the same letters
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnsiCompareText(c.a, c.b), c.want) << c.a << " vs " << c.b;
    EXPECT_EQ(AnsiCompareText(c.b, c.a), -c.want) << c.b << " vs " << c.a;
  }
}

TEST(ListBox, SortedListKeepsItsOrderAndSelection) {
  TForm form(nullptr);
  TListBox list(&form);
  list.SetParent(&form);
  list.Items().Add("/data/b");
  list.Items().Add("/data/A");
  list.SetSorted(true);
  EXPECT_EQ(list.Items().Items(), (std::vector<std::string>{"/data/A", "/data/b"}));
  list.SetItemIndex(1);
  EXPECT_EQ(list.Items().Add("/data/a_x"), 1);  // "_" sorts before letters
  EXPECT_EQ(list.ItemIndex(), 2);               // still "/data/b"
  EXPECT_EQ(list.Items().Add("/Data/C"), 3);
  EXPECT_EQ(list.Items().Items(),
            (std::vector<std::string>{"/data/A", "/data/a_x", "/data/b", "/Data/C"}));
  EXPECT_THROW(list.Items().Insert(0, "x"), rtl::EListError);
  EXPECT_EQ(list.Items().IndexOf("/DATA/B"), 2);  // as TStrings.IndexOf: case ignored
  EXPECT_EQ(list.Items().IndexOfExact("/DATA/B"), -1);
  list.Items().Delete(2);  // the selected one
  EXPECT_EQ(list.ItemIndex(), -1);
  int clicks = 0;
  list.OnClick = [&](rtl::TObject*) { ++clicks; };
  list.SetItemIndex(0);  // in code: no event
  list.SelectItem(2);    // the user
  EXPECT_EQ(list.ItemIndex(), 2);
  EXPECT_EQ(clicks, 1);
  list.SetItemIndex(7);
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_THROW(list.Items().Strings(3), rtl::EListError);
}

TEST(ComboBox, DropDownListSelection) {
  TForm form(nullptr);
  TComboBox combo(&form);
  combo.SetStyle(csDropDownList);
  combo.Items().AddStrings({"1.3", "1.4", "1.5"});
  std::vector<std::string> log;
  combo.OnClick = [&](rtl::TObject*) { log.push_back("click " + combo.Text()); };
  combo.OnChange = [&](rtl::TObject*) { log.push_back("change " + combo.Text()); };
  combo.SetItemIndex(1);
  EXPECT_EQ(combo.Text(), "1.4");
  combo.SetText("nothing");  // not an item of a drop-down list
  EXPECT_EQ(combo.ItemIndex(), 1);
  combo.SelectItem(2);
  EXPECT_EQ(log, (std::vector<std::string>{"click 1.5", "change 1.5"}));
  combo.Items().Clear();
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_EQ(combo.Text(), "");
}

TEST(CheckListBox, TicksFollowTheirItems) {
  TForm form(nullptr);
  TCheckListBox list(&form);
  list.Items().AddStrings({"Print", "Modify", "Copy"});
  list.SetChecked(0, true);
  list.SetChecked(2, true);
  list.Items().Insert(1, "New");
  EXPECT_EQ(std::vector<bool>({list.Checked(0), list.Checked(1), list.Checked(2), list.Checked(3)}),
            std::vector<bool>({true, false, false, true}));
  list.Items().Delete(0);
  EXPECT_FALSE(list.Checked(0));
  EXPECT_TRUE(list.Checked(2));
  int clicks = 0;
  list.OnClickCheck = [&](rtl::TObject*) { ++clicks; };
  list.ToggleByUser(0);
  EXPECT_TRUE(list.Checked(0));
  EXPECT_EQ(clicks, 1);
  EXPECT_THROW(list.Checked(3), rtl::EListError);
}

TEST(RadioButtons, CheckingOneUnchecksItsSiblings) {
  TForm form(nullptr);
  form.AfterConstruction();
  TGroupBox box(&form), other(&form);
  box.SetParent(&form);
  other.SetParent(&form);
  TRadioButton all(&form), some(&form), elsewhere(&form);
  all.SetParent(&box);
  some.SetParent(&box);
  elsewhere.SetParent(&other);
  int allClicks = 0;
  all.OnClick = [&](rtl::TObject*) { ++allClicks; };
  all.SetChecked(true);
  elsewhere.SetChecked(true);
  some.Click();
  EXPECT_FALSE(all.Checked());
  EXPECT_TRUE(some.Checked());
  EXPECT_TRUE(elsewhere.Checked());
  EXPECT_EQ(allClicks, 1);  // unchecking fires nothing

  TRadioGroup group(&form);
  group.SetParent(&form);
  group.SetBounds(0, 0, 210, 40);
  group.SetColumns(2);
  group.Items().AddStrings({"40 Bit", "128 Bit"});
  int groupClicks = 0;
  group.OnClick = [&](rtl::TObject*) { ++groupClicks; };
  group.SetItemIndex(1);
  group.SetItemIndex(1);
  EXPECT_EQ(groupClicks, 1);
  EXPECT_EQ(group.ButtonRect(1).Left, 8 + 100);
  EXPECT_EQ(group.ButtonRect(0).Top, group.ButtonRect(1).Top);
}

TEST(ListView, RowsSelectionAndRowColour) {
  TForm form(nullptr);
  TListView view(&form);
  view.SetParent(&form);
  view.SetViewStyle(vsReport);
  view.SetGridLines(true);
  for (const char* caption : {"ファイル名", "PDFVer", "NoPW", "UserPW", "OwnerPW"})
    view.Columns().Add()->SetCaption(J(caption));
  EXPECT_EQ(view.Columns().Count(), 5);
  TListItem* good = view.Items().Add();
  good->SetCaption("/a.pdf");
  good->SubItems().AddStrings({J("1.4  ○"), J("○"), J("－"), J("－")});
  TListItem* bad = view.Items().Add();
  bad->SetCaption("/b.pdf");
  bad->SubItems().AddStrings({J("1.4  ○"), J("－"), J("×"), J("○")});
  TListItem* bare = view.Items().Add();  // a row with only its caption
  bare->SetCaption("/c.pdf");
  EXPECT_EQ(bad->ColumnText(3), J("×"));
  EXPECT_EQ(bare->ColumnText(2), "");

  EXPECT_EQ(view.ItemTextColor(1), clWindowText);  // no handler: the font colour
  view.OnCustomDrawItem = [&](rtl::TObject* sender, TListItem* item, TColor& color) {
    EXPECT_EQ(sender, &view);
    for (int i = 0; i < item->SubItems().Count(); ++i)
      if (item->SubItems()[i] == J("×")) color = clRed;
  };
  EXPECT_EQ(view.ItemTextColor(0), clWindowText);
  EXPECT_EQ(view.ItemTextColor(1), clRed);
  EXPECT_EQ(view.ItemTextColor(2), clWindowText);
  EXPECT_THROW(view.ItemTextColor(3), rtl::EListError);

  EXPECT_EQ(view.Selected(), nullptr);
  int clicks = 0, dbl = 0;
  view.OnClick = [&](rtl::TObject*) { ++clicks; };
  view.OnDblClick = [&](rtl::TObject*) { ++dbl; };
  view.SelectItem(1);
  view.DblClick();
  EXPECT_EQ(view.Selected(), bad);
  good->SetSelected(true);
  EXPECT_FALSE(bad->Selected());
  EXPECT_EQ(view.ItemIndex(), 0);
  view.Items().Delete(0);
  EXPECT_EQ(view.Selected(), nullptr);
  EXPECT_EQ(bad->Index(), 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(dbl, 1);
  view.Items().Clear();
  EXPECT_EQ(view.Items().Count(), 0);
}

TEST(PageControl, PagesAndTabChanges) {
  TForm form(nullptr);
  TPageControl pages(&form);
  pages.SetParent(&form);
  pages.SetBounds(0, 0, 300, 200);
  TTabSheet work(&form), about(&form);
  work.SetPageControl(&pages);
  work.SetCaption(J("動作"));
  about.SetPageControl(&pages);
  about.SetCaption("About");
  EXPECT_EQ(pages.PageCount(), 2);
  EXPECT_EQ(pages.ActivePage(), &work);
  EXPECT_TRUE(work.Visible());
  EXPECT_FALSE(about.Visible());
  EXPECT_EQ(about.Width(), 300 - 8);
  int changes = 0;
  bool allow = false;
  pages.OnChanging = [&](rtl::TObject*, bool& a) { a = allow; };
  pages.OnChange = [&](rtl::TObject*) { ++changes; };
  pages.SelectPage(1);
  EXPECT_EQ(pages.ActivePage(), &work);
  allow = true;
  pages.SelectPage(1);
  EXPECT_EQ(pages.ActivePage(), &about);
  pages.SetActivePage(&work);  // in code: no event
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(about.PageIndex(), 1);
}

TEST(Menus, ItemsClickAndLeaveTheirParents) {
  TForm form(nullptr);
  TMainMenu menu(&form);
  form.SetMenu(&menu);
  auto file = std::make_unique<TMenuItem>(&form);
  TMenuItem add(&form), line(&form), quit(&form);
  file->SetCaption(J("ファイル"));
  add.SetCaption(J("フォルダ追加"));
  line.SetCaption("-");
  menu.Items().Add(file.get());
  file->Add(&add);
  file->Add(&line);
  file->Add(&quit);
  int clicks = 0;
  add.OnClick = [&](rtl::TObject* s) {
    EXPECT_EQ(s, &add);
    ++clicks;
  };
  add.Click();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(line.IsLine());
  EXPECT_EQ(quit.MenuIndex(), 2);
  EXPECT_EQ(quit.GetParentMenu(), &menu);
  file.reset();
  EXPECT_EQ(menu.Items().Count(), 0);
  EXPECT_EQ(add.Parent(), nullptr);
  EXPECT_EQ(add.GetParentMenu(), nullptr);
}

TEST(Controls, StateFontsAndLifetimes) {
  TForm form(nullptr);
  auto box = std::make_unique<TGroupBox>(&form);
  TEdit edit(&form);
  box->SetParent(&form);
  edit.SetParent(box.get());
  // A disabled container disables what it holds.
  box->SetEnabled(false);
  EXPECT_TRUE(edit.Enabled());
  EXPECT_FALSE(edit.EffectiveEnabled());
  box->SetEnabled(true);
  EXPECT_TRUE(edit.EffectiveEnabled());
  // Fonts come from the parent until a control sets its own.
  EXPECT_EQ(form.Font().Name(), J("ＭＳ Ｐゴシック"));
  EXPECT_EQ(form.Font().Size(), 9);
  EXPECT_EQ(form.Font().Height(), -12);
  form.Font().SetName(J("ＭＳ ゴシック"));
  EXPECT_EQ(edit.Font().Name(), J("ＭＳ ゴシック"));
  edit.Font().SetSize(12);
  EXPECT_FALSE(edit.ParentFont());
  form.Font().SetSize(10);
  EXPECT_EQ(edit.Font().Size(), 12);
  EXPECT_EQ(box->Font().Size(), 10);
  // Focus, and a parent that goes before its child.
  edit.SetFocus();
  EXPECT_EQ(form.ActiveControl(), &edit);
  EXPECT_TRUE(edit.Focused());
  box.reset();
  EXPECT_EQ(edit.Parent(), nullptr);
  EXPECT_EQ(form.ActiveControl(), nullptr);
  EXPECT_EQ(form.ControlCount(), 0);
  EXPECT_THROW(form.SetParent(static_cast<TWinControl*>(&form)), rtl::Exception);
}

TEST(Application, MessageBoxesGoToTheHookOrStandardError) {
  {
    MessageBoxes boxes(IDCANCEL);
    Application().SetTitle("Sorvane");
    EXPECT_EQ(
        Application().MessageBox(J("処理が実行されていません。"), "", MB_OK | MB_ICONINFORMATION),
        IDCANCEL);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, J("処理が実行されていません。"));
    EXPECT_EQ(boxes.boxes[0].caption, "Sorvane");  // an empty caption shows the title
    EXPECT_EQ(boxes.boxes[0].flags, MB_OK | MB_ICONINFORMATION);
  }
  // Nobody to see it: standard error, in UTF-8, and the default button.
  testing::internal::CaptureStderr();
  int answer =
      Application().MessageBox(J("結果を保存しました。"), "Kettrin", MB_YESNO | MB_DEFBUTTON2);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(err, "Kettrin: 結果を保存しました。\n");
  EXPECT_EQ(DefaultMessageBoxResult(MB_OK), IDOK);
  EXPECT_EQ(DefaultMessageBoxResult(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(DefaultMessageBoxResult(MB_RETRYCANCEL | MB_DEFBUTTON3), IDCANCEL);
}

TEST(Application, DefaultErrorReport) {
  MessageBoxes boxes;
  Application().SetTitle("Sorvane");
  Application().HandleException(nullptr, rtl::Exception("Invalidate Window Handle in FileDrop"));
  try {
    throw rtl::EConvertError("'x' is not a valid integer value");
  } catch (...) {
    Application().HandleException(nullptr);
  }
  Application().HandleException(nullptr, rtl::Exception("Done."));
  ASSERT_EQ(boxes.boxes.size(), 3u);
  EXPECT_EQ(boxes.boxes[0].text, "Invalidate Window Handle in FileDrop.");
  EXPECT_EQ(boxes.boxes[0].caption, "Sorvane");
  EXPECT_EQ(boxes.boxes[0].flags, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(boxes.boxes[1].text, "'x' is not a valid integer value.");
  EXPECT_EQ(boxes.boxes[2].text, "Done.");
  // OnException takes the report instead.
  std::vector<std::string> seen;
  Application().OnException = [&](rtl::TObject*, const std::exception& e) {
    seen.push_back(e.what());
  };
  Application().HandleException(nullptr, rtl::Exception("x"));
  Application().OnException = nullptr;
  EXPECT_EQ(seen, std::vector<std::string>{"x"});
  EXPECT_EQ(boxes.boxes.size(), 3u);
}

TEST(Application, SilentRunShowsNoWindowAndProcessMessagesIsHarmless) {
  Application().SetToolWindow(true);
  EXPECT_EQ(Application().StartBackend(), nullptr);
  Application().ProcessMessages();
  auto form = MakeForm<TTestForm>();
  bool activated = false;
  form->OnActivate = [&](rtl::TObject*) { activated = true; };
  form->Show();
  EXPECT_TRUE(activated);
  EXPECT_EQ(form->Peer(), nullptr);
  form->Hide();
  Application().SetToolWindow(false);
}

TEST(Application, AWideMessageBoxKeepsWhatCodePage932Lacks) {
  const std::u16string text = u"フォルダ「café」は追加できません。";
  {
    // Without a wide hook the message-box hook gets it in the ANSI code page.
    MessageBoxes boxes(IDOK);
    EXPECT_EQ(Application().MessageBoxW(text, "Sorvane", MB_OK), IDOK);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, J("フォルダ「caf?」は追加できません。"));
    std::u16string wide;
    auto old =
        Application().SetMessageBoxWHook([&](const std::u16string& t, const std::string&, int) {
          wide = t;
          return IDYES;
        });
    EXPECT_EQ(Application().MessageBoxW(text, "", MB_YESNO), IDYES);
    EXPECT_EQ(wide, text);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    Application().SetMessageBoxWHook(old);
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(Application().MessageBoxW(text + u"\r\n2", "Sorvane", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Sorvane: フォルダ「café」は追加できません。\n2\n");
}

TEST(Form, ChangeScaleScalesEveryEdgeButTheFormsPlace) {
  TForm form(nullptr);
  form.SetBorderStyle(bsSingle);
  form.SetBounds(30, 40, 300, 200);
  const int clientWidth = form.ClientWidth(), clientHeight = form.ClientHeight();
  TGroupBox group(&form);
  group.SetParent(&form);
  group.SetBounds(5, 5, 101, 61);
  TCheckBox first(&form), second(&form);
  first.SetParent(&group);
  first.SetBounds(7, 13, 91, 17);
  second.SetParent(&group);
  second.SetBounds(7, 30, 91, 17);  // touches the first
  TListView list(&form);
  list.SetParent(&form);
  list.SetBounds(0, 70, 200, 100);
  list.Columns().Add()->SetWidth(75);

  form.ChangeScale(144, 96);
  EXPECT_EQ(form.Left(), 30);
  EXPECT_EQ(form.Top(), 40);
  EXPECT_EQ(form.ClientWidth(), clientWidth * 3 / 2);
  EXPECT_EQ(form.ClientHeight(), (clientHeight * 3 + 1) / 2);  // rounded
  // Edges scale (5 * 1.5 = 7.5 rounds to 8; 5 + 101 = 106 * 1.5 = 159), so that controls that
  // touched still touch.
  EXPECT_EQ(group.BoundsRect(), (TRect{8, 8, 159, 99}));
  EXPECT_EQ(first.BoundsRect(), (TRect{11, 20, 147, 45}));
  EXPECT_EQ(second.Top(), first.BoundsRect().Bottom);
  EXPECT_EQ(list.BoundsRect(), (TRect{0, 105, 300, 255}));
  EXPECT_EQ(list.Columns()[0]->Width(), 113);
  // Back to the design: the same numbers.
  form.ChangeScale(96, 144);
  EXPECT_EQ(first.BoundsRect(), (TRect{7, 13, 98, 30}));
  EXPECT_EQ(form.ClientWidth(), clientWidth);
  EXPECT_EQ(form.PixelsPerInch(), TForm::kDesignPixelsPerInch);  // only a show changes it
}
