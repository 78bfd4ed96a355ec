#include "app/setup.h"

using namespace fw;

TSetupDlg* SetupDlg = nullptr;

TSetupDlg::TSetupDlg(TComponent* owner)
    : TForm(owner, TFormDesc{"Vesk Setup", 0, 0, 317, 233, TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    Bevel1 = new TBevel(this, nullptr, 8, 8, 300, 184);
    Label4 = new TLabel(this, nullptr, "Vesk Agent Mailbox Setup", 24, 24);
    Label1 = new TLabel(this, nullptr, "POP3 Mail Server", 24, 51);
    Edit1 = new TEdit(this, nullptr, "", 120, 47, 177, 21);
    Edit1->TabOrder = 2;
    Label2 = new TLabel(this, nullptr, "Username", 24, 83);
    Edit2 = new TEdit(this, nullptr, "", 120, 79, 177, 21);
    Edit2->TabOrder = 3;
    Label3 = new TLabel(this, nullptr, "Password", 24, 115);
    // Shown in clear text: the password is stored as plain text anyway.
    Edit3 = new TEdit(this, nullptr, "", 120, 111, 177, 21);
    Edit3->TabOrder = 4;
    // The number has always counted seconds (it is multiplied by 1000).
    Label5 = new TLabel(this, nullptr, "Poll Interval (secs)", 24, 144);
    Edit4 = new TEdit(this, nullptr, "1", 121, 138, 80, 21);
    Edit4->TabOrder = 6;
    UpDown1 = new TUpDown(this, nullptr, Edit4, 201, 138, 12, 21, 1, 10000, 1, true);
    UpDown1->TabOrder = 5;
    HideCheckBox = new TCheckBox(this, nullptr, "Hide icons on startup", 120, 168, 153, 17);
    HideCheckBox->TabOrder = 7;
    OKBtn = new TButton(this, nullptr, "OK", 79, 199, 75, 25, mrOk);
    OKBtn->Default = true;
    OKBtn->TabOrder = 0;
    CancelBtn = new TButton(this, nullptr, "Cancel", 159, 199, 75, 25, mrCancel);
    CancelBtn->Cancel = true;
    CancelBtn->TabOrder = 1;
    ActiveControl = OKBtn;
    DoCreate();
}
