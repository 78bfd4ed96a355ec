#pragma once
// One mailbox's fields, opened by Setup's Add and Edit: its name, the POP3
// server, how the connection is protected, user name, password, poll
// interval, whether new mail is announced and its webmail address. It refuses an OK with a field
// that cannot work.
#include "framework/forms.h"
#include "framework/row_layout.h"
#include "app/settings.h"
#include "net/socket_client.h"

namespace app {

class TMailboxDialog : public fw::TForm {
public:
    explicit TMailboxDialog(fw::TComponent* owner);

    fw::TBevel* Frame;
    fw::TLabel* NameLabel;
    fw::TEdit* NameEdit;
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
    fw::TCheckBox* AnnounceCheckBox;
    // Where Open Mail goes: a webmail address, or empty for the mail program.
    fw::TLabel* WebMailLabel;
    fw::TEdit* WebMailEdit;
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
    // Shows `mailbox` (a new one, without a server, starts with TLS).
    void Fill(const TMailboxSettings& mailbox);
    // What the fields say, after an OK they passed; the rest as filled.
    TMailboxSettings Read() const;

private:
    bool ShowProblem(fw::TControl* field, const std::string& text);
    fw::TControl* problemField_ = nullptr;
    TMailboxSettings filled_;
};

// The row of SecurityCombo for a mode, and back (an unknown row means TLS).
int SecurityIndex(net::TSecurity security);
net::TSecurity SecurityOfIndex(int index);

}  // namespace app
