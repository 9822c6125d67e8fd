// The library's settings dialog without a display: the form as built, what it shows of a
// document, what OK writes, the checks that keep it open, and Cancel writing nothing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pdf/core/zoPDFObjects.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "pdf/document/zoSettingsDlg.h"
#include "platform/CodePage.h"
#include "platform/RtlSysUtils.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;

namespace {

std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

// A plain PDF of pageCount pages, each with an empty page dictionary of its own.
std::string PagesPdf(int pageCount) {
  std::vector<std::string> objects;
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < pageCount; ++i)
    kids += std::to_string(3 + i) + " 0 R ";
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pageCount) +
                    " >>");
  for (int i = 0; i < pageCount; ++i)
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
  std::string pdf = "%PDF-1.4\r\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\r\n" + objects[i] + "\r\nendobj\r\n";
  }
  size_t xref = pdf.size();
  pdf += "xref\r\n0 " + std::to_string(objects.size() + 1) + "\r\n0000000000 65535 f\r\n";
  for (size_t off : offsets) {
    std::string n = std::to_string(off);
    pdf += std::string(10 - n.size(), '0') + n + " 00000 n\r\n";
  }
  pdf += "trailer\r\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\r\nstartxref\r\n" + std::to_string(xref) + "\r\n%%EOF\r\n";
  return pdf;
}

// What the dialog may change in a document, to compare before and after.
struct DocState {
  std::u16string title, subject, author, keywords, creator;
  bool encEnabled;
  TzoPDFEncryptionLevel level;
  std::string ownerPassword, userPassword;
  uint8_t permissions;
  bool openAfterSave, emailAfterSave;
  std::string host, to;
  int layout, mode;
  std::string prefs;
  bool compEnabled;
  int compMethod, compLevel;
  std::vector<bool> pageHasTrans;
  friend bool operator==(const DocState&, const DocState&) = default;
};

DocState Snapshot(TzoCustomPDFDocument& d) {
  DocState s{};
  s.title = d.Info().Title();
  s.subject = d.Info().Subject();
  s.author = d.Info().Author();
  s.keywords = d.Info().Keywords();
  s.creator = d.Info().Creator();
  s.encEnabled = d.Encryption().Enabled();
  s.level = d.Encryption().Level();
  s.ownerPassword = d.Encryption().OwnerPassword();
  s.userPassword = d.Encryption().UserPassword();
  s.permissions = d.Encryption().UserPermissions().Bits();
  s.openAfterSave = d.OpenAfterSave();
  s.emailAfterSave = d.EMailAfterSave();
  s.host = d.EMailInfo()->Host;
  s.to = d.EMailInfo()->RecipientList()->Text();
  s.layout = d.PageLayout();
  s.mode = d.PageMode();
  s.prefs = d.ViewerPreferences()->GetDictText();
  s.compEnabled = d.Compression().Enabled;
  s.compMethod = d.Compression().Method;
  s.compLevel = d.Compression().Level;
  for (TzoPDFIndirectObject* page : d.Pages()) {
    auto* dict = dynamic_cast<TzoPDFDictObject*>(page->DirectObject());
    s.pageHasTrans.push_back(dict && dict->GetValue("/Trans") != nullptr);
  }
  return s;
}

class SettingsDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doc = TzoCustomPDFDocument::Create();
    dlg = ui::MakeForm<TzoPDFSettingsDlg>();
    dlg->SetDocument(doc.get());
    oldBoxHook = ui::Application().SetMessageBoxHook(
        [this](const std::string& text, const std::string&, int flags) {
          boxes.push_back(text);
          boxFlags.push_back(flags);
          return ui::IDOK;
        });
  }
  void TearDown() override {
    ui::Application().SetMessageBoxHook(oldBoxHook);
    ui::Application().SetModalHook(nullptr);
  }

  // Loads a plain document of pageCount pages.
  void LoadPages(int pageCount) {
    const std::string path = dir / "pages.pdf";
    WriteFile(path, PagesPdf(pageCount));
    ASSERT_TRUE(doc->LoadFromFile(path));
    ASSERT_EQ(doc->PageCount(), pageCount);
  }

  // Shows the dialog modally; each step plays the user once, in order (the last one normally
  // presses a button). The modal result.
  int Run(std::vector<std::function<void(TzoPDFSettingsDlg&)>> steps) {
    size_t next = 0;
    rounds = 0;
    ui::Application().SetModalHook([&](ui::TForm&) {
      if (next >= steps.size()) return false;
      ++rounds;
      steps[next++](*dlg);
      return true;
    });
    int result = dlg->ShowModal();
    ui::Application().SetModalHook(nullptr);
    return result;
  }

  static void PressOK(TzoPDFSettingsDlg& d) { d.btnOK.Click(); }
  static void PressCancel(TzoPDFSettingsDlg& d) { d.btnCancel.Click(); }

  TempDir dir;
  std::unique_ptr<TzoCustomPDFDocument> doc;
  std::unique_ptr<TzoPDFSettingsDlg> dlg;
  V boxes;
  std::vector<int> boxFlags;
  int rounds = 0;
  ui::TApplication::TMessageBoxHook oldBoxHook;
};

V Items(const ui::TControlStrings& items) {
  return items.Items();
}

// Every control lies inside its parent's client area (nothing is cut off or hidden).
void ExpectInsideParents(ui::TWinControl& container, std::vector<std::string>& outside) {
  for (int i = 0; i < container.ControlCount(); ++i) {
    ui::TControl* c = container.Controls(i);
    if (c->Left() < 0 || c->Top() < 0 || c->Left() + c->Width() > container.ClientWidth() ||
        c->Top() + c->Height() > container.ClientHeight())
      outside.push_back(c->Name().empty() ? std::to_string(i) : c->Name());
    if (auto* w = dynamic_cast<ui::TWinControl*>(c)) ExpectInsideParents(*w, outside);
  }
}

TEST_F(SettingsDlgTest, TheFormAsBuilt) {
  EXPECT_EQ(dlg->Caption(), J("ＰＤＦドキュメントに関する設定"));
  EXPECT_EQ(dlg->ClientWidth(), 364);
  EXPECT_EQ(dlg->ClientHeight(), 449);
  EXPECT_EQ(dlg->BorderStyle(), ui::bsDialog);
  EXPECT_EQ(dlg->BorderIcons(), ui::biSystemMenu | ui::biMinimize);
  EXPECT_EQ(dlg->Position(), ui::poScreenCenter);
  EXPECT_EQ(dlg->Font().Name(), J("ＭＳ Ｐゴシック"));
  EXPECT_EQ(dlg->Font().Charset(), ui::SHIFTJIS_CHARSET);
  EXPECT_EQ(dlg->Font().Height(), -12);
  EXPECT_EQ(dlg->btnOK.Caption(), "OK");
  EXPECT_TRUE(dlg->btnOK.Default());
  EXPECT_EQ(dlg->btnOK.ModalResult(), 1);
  EXPECT_EQ(dlg->btnCancel.Caption(), "Cancel");
  EXPECT_TRUE(dlg->btnCancel.Cancel());
  EXPECT_EQ(dlg->btnCancel.ModalResult(), 2);

  V tabs;
  for (int i = 0; i < dlg->pcSettings.PageCount(); ++i)
    tabs.push_back(dlg->pcSettings.Pages(i)->Caption());
  EXPECT_EQ(tabs, (V{J("一般"), J("セキュリティ"), J("開き方"), "Email", J("圧縮")}));
  EXPECT_EQ(dlg->pcSettings.ActivePageIndex(), 0);

  struct Caption {
    const std::string& actual;
    const char* expected;
  };
  const Caption captions[] = {
      {dlg->gbDocInfo.Caption(), "ＰＤＦ情報"},
      {dlg->lblTitle.Caption(), "タイトル:"},
      {dlg->lblDocSubject.Caption(), "サブタイトル:"},
      {dlg->lblAuthor.Caption(), "著作者:"},
      {dlg->lblKeywords.Caption(), "キーワード:"},
      {dlg->lblCreator.Caption(), "ＰＤＦ変換:"},
      {dlg->lblProducer.Caption(), "作成者:"},
      {dlg->lblVersion.Caption(), "バージョン:"},
      {dlg->lblNoPages.Caption(), "ページ数:"},
      {dlg->chkOpenAfterSave.Caption(), "完了後開く"},
      {dlg->chkEnableEncryption.Caption(), "文書のセキュリティ"},
      {dlg->lblOwnerPassword.Caption(), "オーナーパスワード:"},
      {dlg->lblConfirmOwnerPassword.Caption(), "オーナーパスワード（確認）:"},
      {dlg->lblUserPassword.Caption(), "ユーザパスワード:"},
      {dlg->lblConfirmUserPassword.Caption(), "ユーザパスワード（確認）:"},
      {dlg->rgEncryptionLevel.Caption(), " 暗号化レベル"},
      {dlg->gbUserPermissions.Caption(), "文書に関する制限（許可） "},
      {dlg->lblPageLayout.Caption(), "ページレイアウト:"},
      {dlg->lblPageMode.Caption(), "表示:"},
      {dlg->gbPresentation.Caption(), "プレゼンテーション・モード"},
      {dlg->lblPageTransitionEffect.Caption(), "ページ表示効果:"},
      {dlg->lblDur.Caption(), "表示時間:"},
      {dlg->lblSeconds.Caption(), "秒"},
      {dlg->gbPresentationPages.Caption(), "プレゼンテーション・ページ範囲"},
      {dlg->rbAllPages.Caption(), "全て"},
      {dlg->rbPages.Caption(), "指定"},
      {dlg->lblPageRangeHint.Caption(),
       "ページ番号を\",\"で区切るか、範囲を\"-\"で区切って入力します（例: 1,3,5-12）"},
      {dlg->gbViewerPreferences.Caption(), "表示設定 "},
      {dlg->chkEmailAfterSave.Caption(), "保存後Emailする"},
      {dlg->lblHost.Caption(), "ホスト: "},
      {dlg->lblUserID.Caption(), "ユーザＩＤ: "},
      {dlg->lblPassword.Caption(), "パスワード: "},
      {dlg->lblFrom.Caption(), "送信者: "},
      {dlg->lblTo.Caption(), "宛先: "},
      {dlg->lblCC.Caption(), "CC: "},
      {dlg->lblBCC.Caption(), "BCC: "},
      {dlg->lblSubject.Caption(), "件名: "},
      {dlg->lblBody.Caption(), "本文:"},
      {dlg->chkCompressDoc.Caption(), "文書を圧縮する"},
      {dlg->lblCompType.Caption(), "圧縮方式:"},
      {dlg->lblCompLevel.Caption(), "圧縮レベル:"},
  };
  for (const Caption& c : captions)
    EXPECT_EQ(platform::AnsiToUtf8(c.actual), c.expected);

  // The value lists: an item's position is the value it stands for.
  EXPECT_EQ(Items(dlg->cbPageLayout.Items()),
            (V{"None", "Single Page", "One Column", "Two Column Left", "Two Column Right"}));
  EXPECT_EQ(Items(dlg->cbPageMode.Items()),
            (V{"None", "Use Outlines", "Use Thumbs", "Full Screen", "Use Attachments"}));
  EXPECT_EQ(
      Items(dlg->cbPageTransitionEffect.Items()),
      (V{"None", "Split Horizontal Inward", "Split Horizontal Outward", "Split Vertical Inward",
         "Split Vertical Outward", "Blinds Horizontal", "Blinds Vertical", "Box Inward",
         "Box Outward", "Wipe Left To Right", "Wipe Bottom To Top", "Wipe Right To Left",
         "Wipe Top To Bottom", "Dissolve", "Glitter Left To Right", "Glitter Top To Bottom",
         "Glitter Top-Left To Bottom-Right"}));
  EXPECT_EQ(Items(dlg->cbCompLevel.Items()), (V{"None", "Fastest", "Normal", "Maximum"}));
  EXPECT_EQ(Items(dlg->chklstViewerPreferences.Items()),
            (V{"Hide Toolbars", "Hide Menu Bar", "Hide Window UI", "Fit Window", "Center Window",
               "Display Document Title"}));
  EXPECT_EQ(Items(dlg->chklstUserPermissions.Items()),
            (V{"Print", "Modify", "Copy", "Annotation", "Form Fill", "Accessebility",
               "Document Assembly", "High Resolution Printing"}));
  EXPECT_EQ(Items(dlg->rgEncryptionLevel.Items()), (V{"40 Bit", "128 Bit"}));
  EXPECT_EQ(dlg->rgEncryptionLevel.Columns(), 2);
  EXPECT_EQ(Items(dlg->cbCompType.Items()), (V{"Flate", "Runlength"}));

  // The state the form starts in.
  EXPECT_EQ(dlg->rgEncryptionLevel.ItemIndex(), 0);
  EXPECT_EQ(dlg->cbPageLayout.ItemIndex(), 0);
  EXPECT_EQ(dlg->cbPageMode.ItemIndex(), 0);
  EXPECT_EQ(dlg->cbPageTransitionEffect.ItemIndex(), 0);
  EXPECT_TRUE(dlg->chkOpenAfterSave.Checked());
  EXPECT_TRUE(dlg->chkCompressDoc.Checked());
  EXPECT_TRUE(dlg->rbAllPages.Checked());
  EXPECT_FALSE(dlg->rbPages.Checked());
  for (ui::TEdit* e : {&dlg->edtOwnerPassword, &dlg->edtConfirmOwnerPassword, &dlg->edtUserPassword,
                       &dlg->edtConfirmUserPassword, &dlg->edtPassword})
    EXPECT_EQ(e->PasswordChar(), '*');
  for (ui::TEdit* e : {&dlg->edtCreator, &dlg->edtProducer, &dlg->edtVersion, &dlg->edtNoPages})
    EXPECT_TRUE(e->ReadOnly());
  EXPECT_FALSE(dlg->edtTitle.ReadOnly());
  // The switched groups start off, their fields greyed.
  for (ui::TWinControl* c : std::vector<ui::TWinControl*>{
           &dlg->edtOwnerPassword, &dlg->chklstUserPermissions, &dlg->edtHost, &dlg->edtFrom,
           &dlg->memoBody, &dlg->cbCompType, &dlg->cbCompLevel})
    EXPECT_FALSE(c->Enabled()) << c->Name();
  EXPECT_EQ(dlg->edtOwnerPassword.Color(), ui::clInactiveBorder);
  EXPECT_EQ(dlg->cbCompLevel.Color(), ui::clInactiveBorder);
  EXPECT_TRUE(dlg->edtTitle.Enabled());

  std::vector<std::string> outside;
  ExpectInsideParents(*dlg, outside);
  EXPECT_EQ(outside, std::vector<std::string>{});
}

TEST_F(SettingsDlgTest, ShowingFillsTheFieldsFromTheDocument) {
  LoadPages(3);
  doc->Info().SetTitle(u"Title");
  doc->Info().SetSubject(u"Subject");
  doc->Info().SetAuthor(u"Author");
  doc->Info().SetKeywords(u"Keywords");
  doc->Info().SetCreator(u"Creator");
  doc->Info().SetProducer(u"not shown");
  TzoPDFEncryptionSettings& enc = doc->Encryption();
  enc.SetEnabled(true);
  enc.SetLevel(el128bit);
  enc.SetOwnerPassword("own");
  enc.SetUserPassword("usr");
  enc.SetUserPermissions(TzoUserPermissions::All() - TzoUserPermissions{AllowPrint, AllowCopy});
  doc->SetPDFVersion(pvPDF13);
  doc->SetPageLayout(plTwoColumnLeft);
  doc->SetPageMode(pmFullScreen);
  doc->ViewerPreferences()->SetFitWindow(true);
  doc->ViewerPreferences()->SetDisplayDocTitle(true);
  dlg->pcSettings.SetActivePageIndex(3);
  const DocState before = Snapshot(*doc);

  EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                   EXPECT_EQ(d.pcSettings.ActivePageIndex(), 0);
                   EXPECT_EQ(d.edtTitle.Text(), "Title");
                   EXPECT_EQ(d.edtDocSubject.Text(), "Subject");
                   EXPECT_EQ(d.edtAuthor.Text(), "Author");
                   EXPECT_EQ(d.edtKeywords.Text(), "Keywords");
                   EXPECT_EQ(d.edtCreator.Text(), "Creator");
                   EXPECT_EQ(d.edtProducer.Text(), "Quorrane Leafwright V2.5");
                   EXPECT_EQ(d.edtVersion.Text(), "1.3 (Acrobat 4.x)");
                   EXPECT_EQ(d.edtNoPages.Text(), "3");
                   EXPECT_EQ(d.edtDur.Text(), "1");
                   EXPECT_TRUE(d.chkEnableEncryption.Checked());
                   EXPECT_TRUE(d.edtOwnerPassword.Enabled());
                   EXPECT_EQ(d.edtOwnerPassword.Text(), "own");
                   EXPECT_EQ(d.edtConfirmOwnerPassword.Text(), "own");
                   EXPECT_EQ(d.edtUserPassword.Text(), "usr");
                   EXPECT_EQ(d.edtConfirmUserPassword.Text(), "usr");
                   EXPECT_EQ(d.rgEncryptionLevel.ItemIndex(), 1);
                   std::vector<bool> ticks;
                   for (int i = 0; i < 8; ++i)
                     ticks.push_back(d.chklstUserPermissions.Checked(i));
                   // Print and Copy are the items 0 and 2.
                   EXPECT_EQ(ticks,
                             (std::vector<bool>{false, true, false, true, true, true, true, true}));
                   EXPECT_EQ(d.cbPageLayout.ItemIndex(), plTwoColumnLeft);
                   EXPECT_EQ(d.cbPageMode.ItemIndex(), pmFullScreen);
                   std::vector<bool> prefs;
                   for (int i = 0; i < 6; ++i)
                     prefs.push_back(d.chklstViewerPreferences.Checked(i));
                   EXPECT_EQ(prefs, (std::vector<bool>{false, false, false, true, false, true}));
                   EXPECT_TRUE(d.chkCompressDoc.Checked());
                   EXPECT_TRUE(d.cbCompType.Enabled());
                   EXPECT_EQ(d.cbCompType.ItemIndex(), 0);
                   EXPECT_EQ(d.cbCompLevel.ItemIndex(), 1);
                   EXPECT_FALSE(d.chkEmailAfterSave.Checked());
                   EXPECT_FALSE(d.edtHost.Enabled());
                 },
                 PressCancel}),
            ui::mrCancel);
  EXPECT_EQ(boxes, V{});
  EXPECT_TRUE(Snapshot(*doc) == before);
}

TEST_F(SettingsDlgTest, VersionTexts) {
  const std::pair<TzoPDFVersion, const char*> cases[] = {
      {pvPDF10, "1.0 (Acrobat 1.x)"},
      {pvPDF11, "1.1 (Acrobat 2.x)"},
      {pvPDF12, "1.2 (Acrobat 3.x)"},
      {pvPDF13, "1.3 (Acrobat 4.x)"},
      {pvPDF14, "1.4 (Acrobat 5.x)"},
      {pvPDF15, "1.5 (Acrobat 6.x)"},
      {pvPDF16, ""},
  };
  for (auto [version, text] : cases) {
    doc->SetPDFVersion(version);
    dlg->FormShow(dlg.get());
    EXPECT_EQ(dlg->edtVersion.Text(), text) << int(version);
  }
}

TEST_F(SettingsDlgTest, EveryControlWritesItsField) {
  LoadPages(2);
  doc->SetEMailAfterSave(false);
  EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                   d.edtTitle.SetText("T");
                   d.edtDocSubject.SetText("S");
                   d.edtAuthor.SetText(J("著者"));
                   d.edtKeywords.SetText("K1 K2");
                   d.edtCreator.SetText("C");
                   d.chkOpenAfterSave.Toggle();

                   d.pcSettings.SelectPage(1);
                   d.chkEnableEncryption.Toggle();
                   d.edtOwnerPassword.TypeText("Owner1");
                   d.edtConfirmOwnerPassword.TypeText("Owner1");
                   d.edtUserPassword.TypeText("user");
                   d.edtConfirmUserPassword.TypeText("user");
                   d.rgEncryptionLevel.SelectItem(1);
                   for (int i = 0; i < 8; ++i)
                     if (!d.chklstUserPermissions.Checked(i))
                       d.chklstUserPermissions.ToggleByUser(i);
                   d.chklstUserPermissions.ToggleByUser(0);  // Print
                   d.chklstUserPermissions.ToggleByUser(7);  // High Resolution Printing

                   d.pcSettings.SelectPage(2);
                   d.cbPageLayout.SelectItem(plTwoColumnRight);
                   d.cbPageMode.SelectItem(pmUseThumbs);
                   d.chklstViewerPreferences.ToggleByUser(0);
                   d.chklstViewerPreferences.ToggleByUser(4);

                   d.pcSettings.SelectPage(3);
                   d.chkEmailAfterSave.Toggle();
                   d.edtHost.TypeText("smtp.example.jp");
                   d.edtUserID.TypeText("me");
                   d.edtPassword.TypeText("pw");
                   d.edtFrom.TypeText("me@example.jp");
                   d.edtTo.TypeText("a@example.jp, b@example.jp");
                   d.edtCC.TypeText("c@example.jp");
                   d.edtSubject.TypeText("Report");
                   d.memoBody.TextEdited("Hello\r\nWorld");

                   d.pcSettings.SelectPage(4);
                   d.cbCompType.SelectItem(1);
                   EXPECT_FALSE(d.cbCompLevel.Enabled());
                   EXPECT_EQ(d.cbCompLevel.ItemIndex(), 0);
                 },
                 PressOK}),
            ui::mrOk);
  EXPECT_EQ(rounds, 2);
  EXPECT_EQ(boxes, V{});

  EXPECT_EQ(doc->Info().Title(), u"T");
  EXPECT_EQ(doc->Info().Subject(), u"S");
  EXPECT_EQ(doc->Info().Author(), u"\u8457\u8005");
  EXPECT_EQ(doc->Info().Keywords(), u"K1 K2");
  EXPECT_EQ(doc->Info().Creator(), u"C");
  EXPECT_FALSE(doc->OpenAfterSave());

  const TzoPDFEncryptionSettings& enc = doc->Encryption();
  EXPECT_TRUE(enc.Enabled());
  EXPECT_EQ(enc.Level(), el128bit);
  EXPECT_EQ(enc.OwnerPassword(), "Owner1");
  EXPECT_EQ(enc.UserPassword(), "user");
  const TzoUserPermissions printing{AllowPrint, AllowHighResPrint};
  EXPECT_EQ(enc.UserPermissions(), TzoUserPermissions::All() - printing);

  EXPECT_EQ(doc->PageLayout(), plTwoColumnRight);
  EXPECT_EQ(doc->PageMode(), pmUseThumbs);
  EXPECT_TRUE(doc->ViewerPreferences()->HideToolbar());
  EXPECT_TRUE(doc->ViewerPreferences()->CenterWindow());
  EXPECT_FALSE(doc->ViewerPreferences()->HideMenubar());
  EXPECT_FALSE(doc->ViewerPreferences()->FitWindow());

  EXPECT_TRUE(doc->EMailAfterSave());
  const TzoEMailInfo& mail = *doc->EMailInfo();
  EXPECT_EQ(mail.Host, "smtp.example.jp");
  EXPECT_EQ(mail.UserID, "me");
  EXPECT_EQ(mail.Password, "pw");
  EXPECT_EQ(mail.FromAddress, "me@example.jp");
  EXPECT_EQ(mail.Subject, "Report");
  EXPECT_EQ(mail.Body()->Text(), "Hello\r\nWorld\r\n");
  EXPECT_EQ(mail.RecipientList()->Text(), "a@example.jp\r\nb@example.jp\r\n");
  EXPECT_EQ(mail.CCList()->Text(), "c@example.jp\r\n");
  EXPECT_EQ(mail.BCCList()->Count(), 0);

  EXPECT_TRUE(doc->Compression().Enabled);
  EXPECT_EQ(doc->Compression().Method, 1);
  EXPECT_EQ(doc->Compression().Level, 0);
  // Nothing chose a transition.
  for (bool has : Snapshot(*doc).pageHasTrans)
    EXPECT_FALSE(has);
}

// The field of a dialog that a refusal is to focus.
#define FIELD(name) [](TzoPDFSettingsDlg& d) -> ui::TWinControl& { return d.name; }

TEST_F(SettingsDlgTest, OkChecksEveryFieldAndStaysOpenOnAnError) {
  LoadPages(3);
  using Step = std::function<void(TzoPDFSettingsDlg&)>;
  struct Case {
    const char* name;
    Step wrong;
    Step mend;
    std::string message;
    ui::TWinControl& (*field)(TzoPDFSettingsDlg&);
    int page;
  };
  auto passwords = [](const char* owner, const char* ownerAgain, const char* user,
                      const char* userAgain) {
    return [=](TzoPDFSettingsDlg& d) {
      if (!d.chkEnableEncryption.Checked()) d.chkEnableEncryption.Toggle();
      d.edtOwnerPassword.SetText(owner);
      d.edtConfirmOwnerPassword.SetText(ownerAgain);
      d.edtUserPassword.SetText(user);
      d.edtConfirmUserPassword.SetText(userAgain);
    };
  };
  auto effect = [](const char* duration, const char* pages) {
    return [=](TzoPDFSettingsDlg& d) {
      d.cbPageTransitionEffect.SelectItem(9);
      d.edtDur.SetText(duration);  // as pasted: the key filter is not asked
      if (pages) {
        d.rbPages.Click();
        d.edtPresentationPages.SetText(pages);
      }
    };
  };
  const Case cases[] = {
      {"owner differs in case", passwords("Secret", "secret", "u", "u"),
       passwords("Secret", "Secret", "u", "u"),
       "The Owner Passwords do not match.\r\nPlease re-enter.", FIELD(edtOwnerPassword), 1},
      {"user differs", passwords("o", "o", "user", "usr"), passwords("o", "o", "user", "user"),
       "The User Passwords do not match.\r\nPlease re-enter.", FIELD(edtUserPassword), 1},
      {"duration no number", effect("1x", nullptr), effect("2", nullptr),
       "'1x' is not a valid floating point value", FIELD(edtDur), 2},
      {"duration too large", effect("1e999", nullptr), effect("2", nullptr),
       "'1e999' is not a valid floating point value", FIELD(edtDur), 2},
      {"range backwards", effect("2", "3-1"), effect("2", "1-3"), "Invalid page range (3-1)",
       FIELD(edtPresentationPages), 2},
      {"page beyond the last", effect("2", "1,4"), effect("2", "1,3"), "Invalid page number (4)",
       FIELD(edtPresentationPages), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    doc->ClearAndReset();
    LoadPages(3);
    const DocState before = Snapshot(*doc);
    // A wrong field with OK; the dialog stays open and nothing is written.
    EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                     d.edtTitle.SetText("changed");
                     c.wrong(d);
                     d.pcSettings.SelectPage(0);
                     PressOK(d);
                   },
                   [&](TzoPDFSettingsDlg& d) {
                     EXPECT_EQ(boxes, V{c.message});
                     EXPECT_EQ(boxFlags.back() & ui::MB_ICONMASK, ui::MB_ICONERROR);
                     EXPECT_EQ(d.ActiveControl(), &c.field(d));
                     EXPECT_EQ(d.pcSettings.ActivePageIndex(), c.page);
                     EXPECT_TRUE(Snapshot(*doc) == before);
                     c.mend(d);
                     PressOK(d);
                   }}),
              ui::mrOk);
    EXPECT_EQ(rounds, 2);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(doc->Info().Title(), u"changed");
  }
}

TEST_F(SettingsDlgTest, CancelWritesNothing) {
  LoadPages(2);
  doc->Encryption().SetEnabled(true);
  doc->Encryption().SetUserPassword("u");
  doc->SetEMailAfterSave(true);
  const DocState before = Snapshot(*doc);
  EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                   d.edtTitle.SetText("x");
                   d.edtCreator.SetText("x");
                   d.chkOpenAfterSave.Toggle();
                   d.chkEnableEncryption.Toggle();
                   d.cbPageTransitionEffect.SelectItem(13);
                   d.cbPageMode.SelectItem(pmUseOutlines);
                   d.chklstViewerPreferences.ToggleByUser(2);
                   d.chkEmailAfterSave.Toggle();
                   d.cbCompType.SelectItem(1);
                 },
                 PressCancel}),
            ui::mrCancel);
  EXPECT_TRUE(Snapshot(*doc) == before);
}

TEST_F(SettingsDlgTest, TheSecurityBoxSwitchesEncryptionOnAndOff) {
  // Encryption on with only a user password: the box shows it on, and OK keeps it so.
  doc->Encryption().SetEnabled(true);
  doc->Encryption().SetUserPassword("u");
  EXPECT_EQ(
      Run({[&](TzoPDFSettingsDlg& d) { EXPECT_TRUE(d.chkEnableEncryption.Checked()); }, PressOK}),
      ui::mrOk);
  EXPECT_TRUE(doc->Encryption().Enabled());
  EXPECT_EQ(doc->Encryption().UserPassword(), "u");
  EXPECT_EQ(doc->Encryption().OwnerPassword(), "");

  // Unticked, the save is not encrypted.
  EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                   d.chkEnableEncryption.Toggle();
                   EXPECT_FALSE(d.edtUserPassword.Enabled());
                 },
                 PressOK}),
            ui::mrOk);
  EXPECT_FALSE(doc->Encryption().Enabled());

  // An empty owner edit keeps the owner password the settings held.
  doc->Encryption().SetEnabled(true);
  doc->Encryption().SetOwnerPassword("kept");
  EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                   d.edtOwnerPassword.Clear();
                   d.edtConfirmOwnerPassword.Clear();
                   d.rgEncryptionLevel.SelectItem(0);
                 },
                 PressOK}),
            ui::mrOk);
  EXPECT_EQ(doc->Encryption().OwnerPassword(), "kept");
  EXPECT_EQ(doc->Encryption().Level(), el40bit);
  EXPECT_EQ(boxes, V{});
}

TEST_F(SettingsDlgTest, OnlyTheOwnerChangesEncryption) {
  SV_REQUIRE_JUDGES("qpdf");
  const std::string plain = dir / "plain.pdf";
  const std::string locked = dir / "locked.pdf";
  WriteFile(plain, PagesPdf(1));
  ASSERT_EQ(RunCommand({"qpdf", "--allow-weak-crypto", "--encrypt", "user", "owner", "128",
                        "--use-aes=n", "--", plain, locked})
                .exitCode,
            0);
  // The dialog was last shown with the box unticked: opening it for a user without owner
  // rights ticks it (the file stays encrypted) and says nothing until the box is clicked.
  EXPECT_EQ(Run({PressOK}), ui::mrOk);
  ASSERT_FALSE(dlg->chkEnableEncryption.Checked());
  doc = TzoCustomPDFDocument::Create();
  dlg->SetDocument(doc.get());
  doc->OnPassword = doctest::PasswordAnswers({"user"});
  ASSERT_TRUE(doc->LoadFromFile(locked));
  ASSERT_FALSE(doc->IsOwner());
  ASSERT_TRUE(doc->Encryption().Enabled());

  EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                   EXPECT_EQ(boxes, V{});
                   EXPECT_TRUE(d.chkEnableEncryption.Checked());
                   EXPECT_FALSE(d.edtOwnerPassword.Enabled());
                   EXPECT_EQ(d.edtOwnerPassword.Text(), "");
                   d.chkEnableEncryption.Toggle();
                   EXPECT_EQ(boxes, V{"Only the owner can change the encryption settings"});
                   EXPECT_EQ(boxFlags.back() & ui::MB_ICONMASK, ui::MB_ICONINFORMATION);
                   EXPECT_TRUE(d.chkEnableEncryption.Checked());
                   EXPECT_FALSE(d.edtUserPassword.Enabled());
                   d.edtTitle.SetText("still saved");
                 },
                 PressOK}),
            ui::mrOk);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(doc->Encryption().Enabled());
  EXPECT_EQ(doc->Encryption().UserPassword(), "user");
  EXPECT_EQ(doc->Info().Title(), u"still saved");
}

TEST_F(SettingsDlgTest, CompressionLevelsAreThoseTheirLabelsSay) {
  // The Flate levels of the document: 0 none, 1 fastest, 2 normal, 3 maximum.
  const std::pair<const char*, int> levels[] = {
      {"None", 0}, {"Fastest", 1}, {"Normal", 2}, {"Maximum", 3}};
  for (auto [label, level] : levels) {
    SCOPED_TRACE(label);
    EXPECT_EQ(Run({[&](TzoPDFSettingsDlg& d) {
                     d.cbCompLevel.SelectItem(d.cbCompLevel.Items().IndexOf(label));
                   },
                   PressOK}),
              ui::mrOk);
    EXPECT_TRUE(doc->Compression().Enabled);
    EXPECT_EQ(doc->Compression().Method, 0);
    EXPECT_EQ(doc->Compression().Level, level);
  }

  // Runlength takes no level; going back to Flate offers the maximum.
  Run({[&](TzoPDFSettingsDlg& d) {
         d.cbCompType.SelectItem(1);
         EXPECT_FALSE(d.cbCompLevel.Enabled());
         EXPECT_EQ(d.cbCompLevel.Text(), "None");
         d.cbCompType.SelectItem(0);
         EXPECT_TRUE(d.cbCompLevel.Enabled());
         EXPECT_EQ(d.cbCompLevel.Text(), "Maximum");
         d.cbCompType.SelectItem(1);
       },
       PressOK});
  EXPECT_EQ(doc->Compression().Method, 1);
  EXPECT_EQ(doc->Compression().Level, 0);

  // A list without a selection takes the last choice.
  Run({[&](TzoPDFSettingsDlg& d) {
         d.cbCompType.SetItemIndex(-1);
         d.cbCompLevel.SelectItem(2);
       },
       PressOK});
  EXPECT_EQ(doc->Compression().Method, 1);
  EXPECT_EQ(doc->Compression().Level, 2);

  // An unticked box leaves compression as it was.
  doc->Compression().Enabled = false;
  Run({[&](TzoPDFSettingsDlg& d) {
         d.chkCompressDoc.Toggle();
         EXPECT_FALSE(d.cbCompType.Enabled());
         EXPECT_EQ(d.cbCompType.Color(), ui::clInactiveBorder);
         d.cbCompLevel.SelectItem(3);
       },
       PressOK});
  EXPECT_FALSE(doc->Compression().Enabled);
  EXPECT_EQ(doc->Compression().Level, 2);
}

TEST_F(SettingsDlgTest, AnUntickedViewerPreferenceIsSwitchedOff) {
  TzoPDFViewerPreferences& prefs = *doc->ViewerPreferences();
  prefs.SetHideToolbar(true);
  prefs.SetHideMenubar(true);
  prefs.SetHideWindowUI(true);
  prefs.SetFitWindow(true);
  prefs.SetCenterWindow(true);
  prefs.SetDisplayDocTitle(true);
  Run({[&](TzoPDFSettingsDlg& d) {
         for (int i = 0; i < 6; ++i)
           EXPECT_TRUE(d.chklstViewerPreferences.Checked(i)) << i;
         d.chklstViewerPreferences.ToggleByUser(1);  // Hide Menu Bar
         d.chklstViewerPreferences.ToggleByUser(3);  // Fit Window
       },
       PressOK});
  EXPECT_TRUE(prefs.HideToolbar());
  EXPECT_FALSE(prefs.HideMenubar());
  EXPECT_TRUE(prefs.HideWindowUI());
  EXPECT_FALSE(prefs.FitWindow());
  EXPECT_TRUE(prefs.CenterWindow());
  EXPECT_TRUE(prefs.DisplayDocTitle());
  EXPECT_EQ(prefs.GetDictText().find("/HideMenubar"), std::string::npos);
  EXPECT_EQ(prefs.GetDictText().find("/FitWindow"), std::string::npos);
}

TEST_F(SettingsDlgTest, InformationTextsKeepCharactersTheCodePageLacks) {
  // "é", "Ω" with its accent, and a character beyond the 16-bit plane.
  const std::u16string title = u"Caf\u00e9 \U00020BB7";
  const std::u16string author = u"\u00c5ngstr\u00f6m";
  doc->Info().SetTitle(title);
  doc->Info().SetAuthor(author);
  Run({[&](TzoPDFSettingsDlg& d) {
         EXPECT_EQ(d.edtTitle.Text(), "Caf? ?");  // the code page cannot show them
         d.edtKeywords.SetWideText(u"\u00df \u20ac \U0001F600");
       },
       PressOK});
  EXPECT_EQ(doc->Info().Title(), title);
  EXPECT_EQ(doc->Info().Author(), author);
  EXPECT_EQ(doc->Info().Keywords(), u"\u00df \u20ac \U0001F600");
}

TEST_F(SettingsDlgTest, PageTransitions) {
  struct Case {
    const char* name;
    const char* pages;  // null: all pages
    std::vector<bool> changed;
  };
  const Case cases[] = {
      {"all pages", nullptr, {true, true, true}},
      {"one page", "2", {false, true, false}},
      {"a range", "2-", {false, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    doc->ClearAndReset();
    LoadPages(3);
    EXPECT_EQ(
        Run({[&](TzoPDFSettingsDlg& d) {
               d.rbAllPages.Click();  // the dialog keeps the last range between showings
               d.cbPageLayout.SelectItem(plTwoColumnLeft);
               d.pcSettings.SelectPage(2);
               d.cbPageTransitionEffect.SelectItem(9);  // Wipe Left To Right
               EXPECT_EQ(d.cbPageLayout.ItemIndex(), plSinglePage);
               d.cbPageLayout.SelectItem(plOneColumn);  // held at Single Page while an effect is on
               EXPECT_EQ(d.cbPageLayout.ItemIndex(), plSinglePage);
               d.edtDur.Clear();
               d.edtDur.TypeText("3");
               if (c.pages) d.edtPresentationPages.TypeText(c.pages);
               EXPECT_EQ(d.rbPages.Checked(), c.pages != nullptr);
             },
             PressOK}),
        ui::mrOk);
    EXPECT_EQ(boxes, V{});
    EXPECT_EQ(doc->PageLayout(), plSinglePage);
    EXPECT_EQ(Snapshot(*doc).pageHasTrans, c.changed);
    for (size_t i = 0; i < doc->Pages().size(); ++i) {
      if (!c.changed[i]) continue;
      auto* page = dynamic_cast<TzoPDFDictObject*>(doc->Pages()[i]->DirectObject());
      ASSERT_NE(page, nullptr);
      auto* dur = dynamic_cast<TzoPDFRealObject*>(page->GetValue("/Dur"));
      ASSERT_NE(dur, nullptr);
      EXPECT_EQ(dur->Value(), 3.0);
      auto* trans = dynamic_cast<TzoPDFDictObject*>(page->GetValue("/Trans"));
      ASSERT_NE(trans, nullptr);
      auto* style = dynamic_cast<TzoPDFNameObject*>(trans->GetValue("/S"));
      ASSERT_NE(style, nullptr);
      EXPECT_EQ(style->Text(), "/Wipe");
    }
  }
}

TEST_F(SettingsDlgTest, KeysOfTheNumberFieldsAndThePageChoice) {
  dlg->edtDur.Clear();
  dlg->edtDur.TypeText("1a2.5-");
  dlg->edtDur.TypeChar(ui::VK_BACK);
  EXPECT_EQ(dlg->edtDur.Text(), "12");

  EXPECT_TRUE(dlg->rbAllPages.Checked());
  dlg->edtPresentationPages.TypeText("x ");
  EXPECT_EQ(dlg->edtPresentationPages.Text(), "");
  EXPECT_TRUE(dlg->rbAllPages.Checked());
  dlg->edtPresentationPages.TypeText("1, 3-5;");
  EXPECT_EQ(dlg->edtPresentationPages.Text(), "1,3-5");
  EXPECT_TRUE(dlg->rbPages.Checked());
  EXPECT_FALSE(dlg->rbAllPages.Checked());
  EXPECT_TRUE(dlg->edtPresentationPages.Enabled());
  EXPECT_EQ(dlg->edtPresentationPages.Color(), ui::clWhite);
  dlg->rbAllPages.Click();
  EXPECT_EQ(dlg->edtPresentationPages.Text(), "");
}

TEST_F(SettingsDlgTest, SwitchesEnableTheirGroups) {
  struct Case {
    ui::TCheckBox TzoPDFSettingsDlg::*box;
    std::vector<ui::TWinControl*> inside;
  };
  TzoPDFSettingsDlg& d = *dlg;
  const Case cases[] = {
      {&TzoPDFSettingsDlg::chkEnableEncryption,
       {&d.edtOwnerPassword, &d.edtConfirmUserPassword, &d.rgEncryptionLevel,
        &d.chklstUserPermissions}},
      {&TzoPDFSettingsDlg::chkEmailAfterSave, {&d.edtHost, &d.edtPassword, &d.edtBCC, &d.memoBody}},
  };
  for (const Case& c : cases) {
    ui::TCheckBox& box = d.*c.box;
    box.Toggle();
    for (ui::TWinControl* w : c.inside) {
      EXPECT_TRUE(w->Enabled());
      if (dynamic_cast<ui::TEdit*>(w)) {
        EXPECT_EQ(w->Color(), ui::clWindow);
      }
    }
    box.Toggle();
    for (ui::TWinControl* w : c.inside) {
      EXPECT_FALSE(w->Enabled());
      if (dynamic_cast<ui::TEdit*>(w)) {
        EXPECT_EQ(w->Color(), ui::clInactiveBorder);
      }
    }
  }
  EXPECT_EQ(boxes, V{});
}

// The whole road: SaveToFile shows the installed dialog, the user's choices reach the file, and
// outside tools read them back; a cancelled dialog writes no file.
TEST_F(SettingsDlgTest, ASaveThroughTheDialogCarriesTheChoicesIntoTheFile) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  LoadPages(2);
  InstallPDFSettingsDlg();
  struct Uninstall {
    ~Uninstall() { TzoCustomPDFDocument::SetSetupDialogFactory({}); }
  } uninstall;
  int shown = 0;
  ui::Application().SetModalHook([&](ui::TForm& form) {
    auto* d = dynamic_cast<TzoPDFSettingsDlg*>(&form);
    if (!d || shown++ > 0) return false;
    EXPECT_EQ(d->Document(), doc.get());
    d->edtTitle.SetWideText(u"Caf\u00e9 \U00020BB7");
    d->edtAuthor.SetText(J("報告者"));
    d->chkOpenAfterSave.Toggle();
    d->chkEnableEncryption.Toggle();
    for (ui::TEdit* e : {&d->edtOwnerPassword, &d->edtConfirmOwnerPassword})
      e->SetText("own");
    for (ui::TEdit* e : {&d->edtUserPassword, &d->edtConfirmUserPassword})
      e->SetText("usr");
    d->rgEncryptionLevel.SelectItem(1);
    d->chklstUserPermissions.ToggleByUser(0);  // Print
    d->cbPageMode.SelectItem(pmUseOutlines);
    d->cbPageLayout.SelectItem(plTwoColumnLeft);
    d->chklstViewerPreferences.ToggleByUser(0);  // Hide Toolbars
    PressOK(*d);
    return true;
  });
  const std::string out = dir / "out.pdf";
  EXPECT_TRUE(doc->SaveToFile(out, 2));
  ui::Application().SetModalHook(nullptr);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(boxes, V{});

  CommandResult info = RunCommand({"pdfinfo", "-upw", "usr", out});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("Title:           Café 𠮷\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Author:          報告者\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Encrypted:       yes (print:no copy:yes"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("Pages:           2\n"), std::string::npos) << info.out;
  CommandResult check = RunCommand({"qpdf", "--check", "--password=own", out});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  CommandResult enc = RunCommand({"qpdf", "--show-encryption", "--password=own", out});
  EXPECT_NE(enc.out.find("R = 3"), std::string::npos) << enc.out;
  CommandResult catalog = RunCommand({"qpdf", "--show-object=1", "--password=own", out});
  EXPECT_NE(catalog.out.find("/PageMode /UseOutlines"), std::string::npos) << catalog.out;
  EXPECT_NE(catalog.out.find("/PageLayout /TwoColumnLeft"), std::string::npos) << catalog.out;
  EXPECT_NE(catalog.out.find("/HideToolbar true"), std::string::npos) << catalog.out;

  // Cancel: no file, and the document's settings stay as the last OK left them.
  const DocState before = Snapshot(*doc);
  ui::Application().SetModalHook([&](ui::TForm& form) {
    auto* d = dynamic_cast<TzoPDFSettingsDlg*>(&form);
    d->edtTitle.SetText("other");
    PressCancel(*d);
    return true;
  });
  const std::string cancelled = dir / "cancelled.pdf";
  EXPECT_FALSE(doc->SaveToFile(cancelled, 2));
  ui::Application().SetModalHook(nullptr);
  EXPECT_FALSE(FileExists(cancelled));
  EXPECT_TRUE(Snapshot(*doc) == before);
}

}  // namespace
