// The library's settings dialog: the user reviews and edits the settings of the document about to
// be saved (information, security, how the file opens, e-mail, compression). OK writes the choices
// into the document; Cancel writes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "pdf/document/zoCstPDFDoc.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"

// The form is built in the constructor; ui::MakeForm (or the application's CreateForm) then runs
// FormCreate. Document is set by the document that runs the dialog (RunSetupDialog).
class TzoPDFSettingsDlg : public ui::TForm, public TzoBaseDlg {
 public:
  explicit TzoPDFSettingsDlg(rtl::TComponent* owner = nullptr);

  // The modal run: 1 OK (the choices are in the document), 2 Cancel (nothing was written).
  int ShowModal() override { return ui::TForm::ShowModal(); }

  ui::TPageControl pcSettings{this};
  ui::TButton btnOK{this};
  ui::TButton btnCancel{this};

  // "一般"
  ui::TTabSheet tsDocInfo{this};
  ui::TGroupBox gbDocInfo{this};
  ui::TLabel lblTitle{this};
  ui::TEdit edtTitle{this};
  ui::TLabel lblDocSubject{this};
  ui::TEdit edtDocSubject{this};
  ui::TLabel lblAuthor{this};
  ui::TEdit edtAuthor{this};
  ui::TLabel lblKeywords{this};
  ui::TEdit edtKeywords{this};
  ui::TLabel lblCreator{this};
  ui::TEdit edtCreator{this};
  ui::TLabel lblProducer{this};
  ui::TEdit edtProducer{this};
  ui::TLabel lblVersion{this};
  ui::TEdit edtVersion{this};
  ui::TLabel lblNoPages{this};
  ui::TEdit edtNoPages{this};
  ui::TCheckBox chkOpenAfterSave{this};

  // "セキュリティ"
  ui::TTabSheet tsSecurity{this};
  ui::TCheckBox chkEnableEncryption{this};
  ui::TGroupBox gbEncryption{this};
  ui::TLabel lblOwnerPassword{this};
  ui::TEdit edtOwnerPassword{this};
  ui::TLabel lblConfirmOwnerPassword{this};
  ui::TEdit edtConfirmOwnerPassword{this};
  ui::TLabel lblUserPassword{this};
  ui::TEdit edtUserPassword{this};
  ui::TLabel lblConfirmUserPassword{this};
  ui::TEdit edtConfirmUserPassword{this};
  ui::TRadioGroup rgEncryptionLevel{this};
  ui::TGroupBox gbUserPermissions{this};
  ui::TCheckListBox chklstUserPermissions{this};

  // "開き方"
  ui::TTabSheet tsView{this};
  ui::TLabel lblPageLayout{this};
  ui::TComboBox cbPageLayout{this};
  ui::TLabel lblPageMode{this};
  ui::TComboBox cbPageMode{this};
  ui::TGroupBox gbPresentation{this};
  ui::TLabel lblPageTransitionEffect{this};
  ui::TComboBox cbPageTransitionEffect{this};
  ui::TLabel lblDur{this};
  ui::TEdit edtDur{this};
  ui::TLabel lblSeconds{this};
  ui::TGroupBox gbPresentationPages{this};
  ui::TRadioButton rbAllPages{this};
  ui::TRadioButton rbPages{this};
  ui::TEdit edtPresentationPages{this};
  ui::TLabel lblPageRangeHint{this};
  ui::TGroupBox gbViewerPreferences{this};
  ui::TCheckListBox chklstViewerPreferences{this};

  // "Email"
  ui::TTabSheet tsEmailDoc{this};
  ui::TCheckBox chkEmailAfterSave{this};
  ui::TGroupBox gbConnection{this};
  ui::TLabel lblHost{this};
  ui::TEdit edtHost{this};
  ui::TLabel lblUserID{this};
  ui::TEdit edtUserID{this};
  ui::TLabel lblPassword{this};
  ui::TEdit edtPassword{this};
  ui::TGroupBox gbAddresses{this};
  ui::TLabel lblFrom{this};
  ui::TEdit edtFrom{this};
  ui::TLabel lblTo{this};
  ui::TEdit edtTo{this};
  ui::TLabel lblCC{this};
  ui::TEdit edtCC{this};
  ui::TLabel lblBCC{this};
  ui::TEdit edtBCC{this};
  ui::TGroupBox gbMessage{this};
  ui::TLabel lblSubject{this};
  ui::TEdit edtSubject{this};
  ui::TLabel lblBody{this};
  ui::TMemo memoBody{this};

  // "圧縮"
  ui::TTabSheet tsCompress{this};
  ui::TCheckBox chkCompressDoc{this};
  ui::TGroupBox gbCompType{this};
  ui::TLabel lblCompType{this};
  ui::TComboBox cbCompType{this};
  ui::TLabel lblCompLevel{this};
  ui::TComboBox cbCompLevel{this};

  // Handlers.
  void FormCreate(rtl::TObject* sender);
  void FormShow(rtl::TObject* sender);
  void btnOKClick(rtl::TObject* sender);
  void chkEnableEncryptionClick(rtl::TObject* sender);
  void chkEmailAfterSaveClick(rtl::TObject* sender);
  void edtDurKeyPress(rtl::TObject* sender, char& key);
  void edtPresentationPagesKeyPress(rtl::TObject* sender, char& key);
  void rbAllPagesClick(rtl::TObject* sender);
  void rbPagesClick(rtl::TObject* sender);
  void cbPageTransitionEffectChange(rtl::TObject* sender);
  void cbPageLayoutChange(rtl::TObject* sender);
  void chkCompressDocClick(rtl::TObject* sender);
  void cbCompTypeChange(rtl::TObject* sender);

  // Enables or disables every control inside container, nested ones first; edits and combo
  // boxes take the window colour when enabled and the inactive-border colour when not.
  void EnableGroup(ui::TWinControl* container, bool enabled);

 private:
  // The document's encryption settings may be changed here: its user is the owner.
  bool MayChangeEncryption() const;
  // Sets a check box without its click handler running.
  void SetCheckedQuietly(ui::TCheckBox& box, bool checked) {
    ++quiet_;
    box.SetChecked(checked);
    --quiet_;
  }
  // A field that cannot be taken: the message, its page shown, the focus on it, and the dialog
  // stays open.
  void Refuse(ui::TWinControl& field, const std::string& message);
  // Every field is checked before anything is written; false when one was refused.
  bool CheckFields();

  int quiet_ = 0;
};

// Makes this dialog the one a document shows before it saves when it has no SetupDialog of its
// own (without it such a document saves without a dialog).
void InstallPDFSettingsDlg();
