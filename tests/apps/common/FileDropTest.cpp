// TFileDrop's hook rules through a recording drop-target service, and drops through the real one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/common/NewCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/StdCtrls.h"

namespace {

// Records what the component asks of the shell; keeps the state on the windows as the real one.
class RecordingShell : public ui::TShell {
 public:
  RecordingShell() { previous_ = ui::SetShell(this); }
  ~RecordingShell() override { ui::SetShell(previous_); }
  void AcceptFiles(ui::TWinControl& w, bool accept) override {
    calls.push_back((accept ? "accept " : "refuse ") + w.Name());
    TShell::AcceptFiles(w, accept);
  }
  void SetDropHandler(ui::TWinControl& w, ui::TDropHandler h) override {
    calls.push_back((h ? "hook " : "unhook ") + w.Name());
    TShell::SetDropHandler(w, std::move(h));
  }
  std::vector<std::string> calls;

 private:
  ui::TShell* previous_;
};

struct Drop {
  int num;
  std::vector<std::string> files;
  int x, y;
};

class TDropForm : public ui::TForm {
 public:
  TDropForm() : TForm(&ui::Application()) {
    SetName("Form1");
    List.SetName("ListBox1");
    List.SetParent(this);
    FileDrop1.OnFileDrop = [this](rtl::TObject* sender, int num, const rtl::TStringList& files,
                                  int x, int y) {
      EXPECT_EQ(sender, &FileDrop1);
      Drop d{num, {}, x, y};
      for (int i = 0; i < files.Count(); ++i)
        d.files.push_back(files.Strings(i));
      drops.push_back(d);
      if (raiseInHandler) throw rtl::Exception("broken handler");
    };
  }
  ui::TListBox List{this};
  TFileDrop FileDrop1{this};
  std::vector<Drop> drops;
  bool raiseInHandler = false;
};

class MessageBoxes {
 public:
  MessageBoxes() {
    previous_ =
        ui::Application().SetMessageBoxHook([this](const std::string& t, const std::string&, int) {
          texts.push_back(t);
          return ui::IDOK;
        });
  }
  ~MessageBoxes() { ui::Application().SetMessageBoxHook(previous_); }
  std::vector<std::string> texts;

 private:
  ui::TApplication::TMessageBoxHook previous_;
};

}  // namespace

TEST(FileDrop, HooksTheOwnerFormAfterLoadingAndDeliversDrops) {
  RecordingShell shell;
  auto form = ui::MakeForm<TDropForm>();
  EXPECT_EQ(shell.calls, (std::vector<std::string>{"hook Form1", "accept Form1"}));
  EXPECT_EQ(form->FileDrop1.HookedWindow(), form.get());
  EXPECT_TRUE(form->AcceptsFiles());

  // Three names in order, the point in client coordinates, one event.
  std::string longPath = "/tmp/" + std::string(300, 'x') + "/file.pdf";
  form->DeliverDrop({{"/a/1.pdf", "/b", longPath}, {17, 42}});
  ASSERT_EQ(form->drops.size(), 1u);
  EXPECT_EQ(form->drops[0].num, 3);
  EXPECT_EQ(form->drops[0].files, (std::vector<std::string>{"/a/1.pdf", "/b", longPath}));
  EXPECT_EQ(form->drops[0].x, 17);
  EXPECT_EQ(form->drops[0].y, 42);

  // Setting Control to the form again unhooks and hooks the same window.
  shell.calls.clear();
  form->FileDrop1.SetControl(form.get());
  EXPECT_EQ(shell.calls, (std::vector<std::string>{"unhook Form1", "hook Form1", "accept Form1"}));

  // Accept: the shell is asked only on a change.
  shell.calls.clear();
  form->FileDrop1.SetAccept(true);
  EXPECT_TRUE(shell.calls.empty());
  form->FileDrop1.SetAccept(false);
  EXPECT_EQ(shell.calls, std::vector<std::string>{"refuse Form1"});
  form->DeliverDrop({{"/c"}, {0, 0}});
  EXPECT_EQ(form->drops.size(), 1u);  // a window that refuses drops gets none
}

TEST(FileDrop, MovingTheHookRestoresThePreviousHandler) {
  RecordingShell shell;
  auto form = ui::MakeForm<TDropForm>();
  // A handler that the list had before it was hooked comes back when the hook moves on.
  int listDrops = 0;
  form->List.SetDropHandler([&](const ui::TDropFiles&) { ++listDrops; });
  form->FileDrop1.SetControl(&form->List);
  EXPECT_EQ(form->FileDrop1.HookedWindow(), &form->List);
  form->List.DeliverDrop({{"/x"}, {1, 2}});
  EXPECT_EQ(form->drops.size(), 1u);
  EXPECT_EQ(listDrops, 0);
  form->FileDrop1.SetControl(form.get());
  form->List.DeliverDrop({{"/x"}, {1, 2}});
  EXPECT_EQ(listDrops, 1);
  EXPECT_EQ(form->drops.size(), 1u);
}

TEST(FileDrop, NoHandlerAndAHandlerThatRaises) {
  MessageBoxes boxes;
  auto form = ui::MakeForm<TDropForm>();
  auto handler = form->FileDrop1.OnFileDrop;
  form->FileDrop1.OnFileDrop = nullptr;
  form->DeliverDrop({{"/a"}, {0, 0}});  // taken, nothing reported
  EXPECT_TRUE(boxes.texts.empty());
  form->FileDrop1.OnFileDrop = handler;
  form->raiseInHandler = true;
  form->DeliverDrop({{"/a"}, {0, 0}});
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"broken handler."});
  form->raiseInHandler = false;
  form->DeliverDrop({{"/b"}, {0, 0}});  // later drops still arrive
  ASSERT_EQ(form->drops.size(), 2u);
  EXPECT_EQ(form->drops[1].files, std::vector<std::string>{"/b"});
}

TEST(FileDrop, FreeingTheWatchedControl) {
  RecordingShell shell;
  auto form = ui::MakeForm<TDropForm>();  // FileDrop1 hooks the form
  auto drop = std::make_unique<TFileDrop>(form.get());
  auto box = std::make_unique<ui::TGroupBox>(form.get());
  box->SetName("Box");
  box->SetParent(form.get());
  drop->SetControl(box.get());
  EXPECT_EQ(drop->HookedWindow(), box.get());
  shell.calls.clear();
  box.reset();
  EXPECT_EQ(drop->Control(), nullptr);
  EXPECT_FALSE(drop->Accept());
  EXPECT_TRUE(shell.calls.empty());  // written directly: no shell call
  // Its end leaves the form's handler alone: the form is not the window it hooked.
  drop.reset();
  EXPECT_TRUE(shell.calls.empty());
  form->DeliverDrop({{"/z"}, {0, 0}});
  EXPECT_EQ(form->drops.size(), 1u);
}

TEST(FileDrop, AComponentWithoutAFormFailsAtLoad) {
  rtl::TComponent owner;
  TFileDrop drop(&owner);
  try {
    drop.Loaded();
    FAIL() << "no error";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalidate Window Handle in FileDrop");
  }
  EXPECT_EQ(drop.HookedWindow(), nullptr);
  // In design mode nothing is ever hooked.
  TFileDrop designed(&owner);
  designed.SetDesigning(true);
  EXPECT_NO_THROW(designed.Loaded());
}

TEST(FileDrop, AWindowThatOutlivesTheComponentDropsNothing) {
  ui::TForm form(nullptr);
  form.AfterConstruction();
  ui::TPanel panel(&form);
  panel.SetParent(&form);
  int drops = 0;
  {
    TFileDrop drop(nullptr);
    drop.OnFileDrop = [&](rtl::TObject*, int, const rtl::TStringList&, int, int) { ++drops; };
    drop.SetControl(&panel);
    panel.DeliverDrop({{"/a"}, {0, 0}});
    // The component's end puts back the panel's previous (empty) handler.
  }
  panel.DeliverDrop({{"/a"}, {0, 0}});
  EXPECT_EQ(drops, 1);
}
