#include "app/setup_dialog.h"

namespace app {

using namespace fw;

TSetupDialog* SetupDialog = nullptr;

int SecurityIndex(net::TSecurity security) {
    return security == net::TSecurity::StartTls ? 1 : security == net::TSecurity::None ? 2 : 0;
}

net::TSecurity SecurityOfIndex(int index) {
    return index == 1 ? net::TSecurity::StartTls : index == 2 ? net::TSecurity::None : net::TSecurity::Tls;
}

TSetupDialog::TSetupDialog(TComponent* owner)
    : TForm(owner, TFormDesc{"Vesk Setup", 0, 0, 317, 265, TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    Frame = new TBevel(this, nullptr, 8, 8, 300, 216);
    TitleLabel = new TLabel(this, nullptr, "Vesk Agent Mailbox Setup", 24, 24);
    ServerLabel = new TLabel(this, nullptr, "POP3 Mail Server", 24, 51);
    ServerEdit = new TEdit(this, nullptr, "", 120, 47, 177, 21);
    ServerEdit->TabOrder = 2;
    SecurityLabel = new TLabel(this, nullptr, "Security", 24, 83);
    SecurityBox = new TComboBox(this, nullptr, {"TLS", "STARTTLS", "None"}, 120, 79, 177, 100);
    SecurityBox->TabOrder = 2;
    UserNameLabel = new TLabel(this, nullptr, "Username", 24, 115);
    UserNameEdit = new TEdit(this, nullptr, "", 120, 111, 177, 21);
    UserNameEdit->TabOrder = 3;
    PasswordLabel = new TLabel(this, nullptr, "Password", 24, 147);
    PasswordEdit = new TEdit(this, nullptr, "", 120, 143, 177, 21, true);
    PasswordEdit->TabOrder = 4;
    // Seconds: the controller multiplies the number by 1000.
    IntervalLabel = new TLabel(this, nullptr, "Poll Interval (secs)", 24, 176);
    IntervalEdit = new TEdit(this, nullptr, "1", 121, 170, 80, 21);
    IntervalEdit->TabOrder = 6;
    IntervalUpDown = new TUpDown(this, nullptr, IntervalEdit, 201, 170, 12, 21, 1, 10000, 1, true);
    IntervalUpDown->TabOrder = 5;
    HideCheckBox = new TCheckBox(this, nullptr, "Hide icons on startup", 120, 200, 153, 17);
    HideCheckBox->TabOrder = 7;
    OKBtn = new TButton(this, nullptr, "OK", 79, 231, 75, 25, mrOk);
    OKBtn->Default = true;
    OKBtn->TabOrder = 0;
    CancelBtn = new TButton(this, nullptr, "Cancel", 159, 231, 75, 25, mrCancel);
    CancelBtn->Cancel = true;
    CancelBtn->TabOrder = 1;
    ActiveControl = OKBtn;
    DoCreate();
}

}  // namespace app
