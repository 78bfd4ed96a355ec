#include "app/setup_dialog.h"

namespace app {

using namespace fw;

TSetupDialog* SetupDialog = nullptr;

TSetupDialog::TSetupDialog(TComponent* owner)
    : TForm(owner, TFormDesc{"Vesk Setup", 0, 0, 317, 257, TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    Frame = new TBevel(this, nullptr, 8, 8, 300, 208);
    TitleLabel = new TLabel(this, nullptr, "Vesk Agent Mailbox Setup", 24, 24);
    ServerLabel = new TLabel(this, nullptr, "POP3 Mail Server", 24, 51);
    ServerEdit = new TEdit(this, nullptr, "", 120, 47, 177, 21);
    ServerEdit->TabOrder = 2;
    UserNameLabel = new TLabel(this, nullptr, "Username", 24, 83);
    UserNameEdit = new TEdit(this, nullptr, "", 120, 79, 177, 21);
    UserNameEdit->TabOrder = 3;
    PasswordLabel = new TLabel(this, nullptr, "Password", 24, 115);
    // Shown in clear text: the password is stored as plain text anyway.
    PasswordEdit = new TEdit(this, nullptr, "", 120, 111, 177, 21);
    PasswordEdit->TabOrder = 4;
    // Seconds: the controller multiplies the number by 1000.
    IntervalLabel = new TLabel(this, nullptr, "Poll Interval (secs)", 24, 144);
    IntervalEdit = new TEdit(this, nullptr, "1", 121, 138, 80, 21);
    IntervalEdit->TabOrder = 6;
    IntervalUpDown = new TUpDown(this, nullptr, IntervalEdit, 201, 138, 12, 21, 1, 10000, 1, true);
    IntervalUpDown->TabOrder = 5;
    HideCheckBox = new TCheckBox(this, nullptr, "Hide icons on startup", 120, 168, 153, 17);
    HideCheckBox->TabOrder = 7;
    AnnounceCheckBox = new TCheckBox(this, nullptr, "Announce new mail", 120, 190, 153, 17);
    AnnounceCheckBox->TabOrder = 8;
    OKBtn = new TButton(this, nullptr, "OK", 79, 223, 75, 25, mrOk);
    OKBtn->Default = true;
    OKBtn->TabOrder = 0;
    CancelBtn = new TButton(this, nullptr, "Cancel", 159, 223, 75, 25, mrCancel);
    CancelBtn->Cancel = true;
    CancelBtn->TabOrder = 1;
    ActiveControl = OKBtn;
    DoCreate();
}

}  // namespace app
