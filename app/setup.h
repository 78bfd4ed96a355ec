#pragma once
// The Setup dialog: POP3 server, user name, password, poll interval and the
// hide-at-start choice. It has no code of its own: the controller fills it
// before every show and reads it after OK.
#include "framework/forms.h"

class TSetupDlg : public fw::TForm {
public:
    explicit TSetupDlg(fw::TComponent* owner);

    fw::TBevel* Bevel1;
    fw::TLabel* Label4;
    fw::TLabel* Label1;
    fw::TEdit* Edit1;
    fw::TLabel* Label2;
    fw::TEdit* Edit2;
    fw::TLabel* Label3;
    fw::TEdit* Edit3;
    fw::TLabel* Label5;
    fw::TEdit* Edit4;
    fw::TUpDown* UpDown1;
    fw::TCheckBox* HideCheckBox;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;
};

// The dialog created at start-up and kept until the program ends.
extern TSetupDlg* SetupDlg;
