#pragma once
// The Setup dialog: POP3 server, user name, password, poll interval and the
// hide-at-start choice. It has no code of its own: the controller fills it
// before every show and reads it after OK.
#include "framework/forms.h"

namespace app {

class TSetupDialog : public fw::TForm {
public:
    explicit TSetupDialog(fw::TComponent* owner);

    fw::TBevel* Frame;
    fw::TLabel* TitleLabel;
    fw::TLabel* ServerLabel;
    fw::TEdit* ServerEdit;
    fw::TLabel* UserNameLabel;
    fw::TEdit* UserNameEdit;
    fw::TLabel* PasswordLabel;
    fw::TEdit* PasswordEdit;
    fw::TLabel* IntervalLabel;
    fw::TEdit* IntervalEdit;
    fw::TUpDown* IntervalUpDown;
    fw::TCheckBox* HideCheckBox;
    fw::TCheckBox* AnnounceCheckBox;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;
};

// The dialog created at start-up and kept until the program ends.
extern TSetupDialog* SetupDialog;

}  // namespace app
