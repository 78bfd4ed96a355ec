#pragma once
// The Setup dialog: POP3 server, how the connection is protected, user
// name, password, poll interval and the start-up choices. The controller
// fills it before every show and reads it after OK; the dialog itself only
// refuses an OK with a field that cannot work.
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
    // What is wrong with a field, beside it; hidden while nothing is.
    fw::TLabel* ProblemLabel;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;

    // The frame's rows, top to bottom; a new setting is one more row.
    fw::TRowLayout Rows{2};

    void LayoutControls() override;
    // True (and the first problem shown beside its field, which gets the
    // focus) when the server, its port, the user name or the interval
    // cannot work; false, with no problem shown, otherwise.
    bool CheckFields();

private:
    bool ShowProblem(fw::TControl* field, const std::string& text);
    fw::TControl* problemField_ = nullptr;
};

// The row of SecurityCombo for a mode, and back (an unknown row means TLS).
int SecurityIndex(net::TSecurity security);
net::TSecurity SecurityOfIndex(int index);

// The dialog created at start-up and kept until the program ends.
extern TSetupDialog* SetupDialog;

}  // namespace app
