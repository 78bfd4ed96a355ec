#pragma once
// The Setup dialog: POP3 server, how the connection is protected, user
// name, password, poll interval and the start-up choices. It has no code of
// its own: the controller fills it before every show and reads it after OK.
#include "framework/forms.h"
#include "framework/row_layout.h"
#include "net/socket_client.h"

namespace app {

class TSetupDialog : public fw::TForm {
public:
    explicit TSetupDialog(fw::TComponent* owner);

    fw::TBevel* Frame;
    fw::TLabel* TitleLabel;
    fw::TLabel* ServerLabel;
    fw::TEdit* ServerEdit;
    fw::TLabel* SecurityLabel;
    // "TLS", "STARTTLS" and "None", as SecurityIndex maps the choices.
    fw::TComboBox* SecurityCombo;
    fw::TLabel* UserNameLabel;
    fw::TEdit* UserNameEdit;
    fw::TLabel* PasswordLabel;
    fw::TEdit* PasswordEdit;
    fw::TLabel* IntervalLabel;
    fw::TEdit* IntervalEdit;
    fw::TUpDown* IntervalUpDown;
    fw::TCheckBox* HideCheckBox;
    fw::TCheckBox* StartAtLogonCheckBox;
    fw::TCheckBox* AnnounceCheckBox;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;

    // The frame's rows, top to bottom; a new setting is one more row.
    fw::TRowLayout Rows{2};

    void LayoutControls() override;
};

// The row of SecurityCombo for a mode, and back (an unknown row means TLS).
int SecurityIndex(net::TSecurity security);
net::TSecurity SecurityOfIndex(int index);

// The dialog created at start-up and kept until the program ends.
extern TSetupDialog* SetupDialog;

}  // namespace app
