#pragma once
// One mailbox's fields, opened by Setup's Add and Edit: its name, POP3 or
// IMAP, the server, how the connection is protected, user name, how Tidemark
// signs in (the password, or a provider's sign-in in the browser), poll
// interval, whether new mail is announced and its webmail address. It
// refuses an OK with a field that cannot work.
#include <functional>

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
    fw::TLabel* ProtocolLabel;
    // "POP3" and "IMAP", in the order of TProtocol.
    fw::TComboBox* ProtocolCombo;
    // "POP3 Mail Server" or "IMAP Mail Server", as the protocol is.
    fw::TLabel* ServerLabel;
    fw::TEdit* ServerEdit;
    fw::TLabel* SecurityLabel;
    // "TLS", "STARTTLS" and "None", as SecurityIndex maps the choices.
    fw::TComboBox* SecurityCombo;
    fw::TLabel* UserNameLabel;
    fw::TEdit* UserNameEdit;
    fw::TLabel* SignInLabel;
    // "Password", "Microsoft", "Google", "Other", in the order of TSignIn.
    fw::TComboBox* SignInCombo;
    // For "Other": its endpoints are set in the registry only.
    fw::TLabel* EndpointsLabel;
    // Shown for the password sign-in.
    fw::TLabel* PasswordLabel;
    fw::TEdit* PasswordEdit;
    // Shown in its place for a provider: the button that signs in, and
    // whom the mailbox is signed in as.
    fw::TLabel* AccountRowLabel;
    fw::TButton* SignInBtn;
    fw::TLabel* AccountLabel;
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

    // Signs `box` (the fields as they are) in with its provider in the
    // browser, over `owner`: true with box.Account and box.RefreshToken
    // filled; false when cancelled or failed (and told).
    std::function<bool(HWND owner, TMailboxSettings& box)> OnSignIn;
    void SignInClick();
    // The protocol or the sign-in chosen by the user: the rows, texts and
    // the server's standard port follow.
    void ProtocolChange();
    void SignInChange();

    void LayoutControls() override;
    // True (and the first problem shown beside its field, which gets the
    // focus) when the server, its port, the user name, the sign-in or the
    // interval cannot work; false, with no problem shown, otherwise.
    bool CheckFields();
    // Shows `mailbox` (a new one, without a server, starts with TLS).
    void Fill(const TMailboxSettings& mailbox);
    // What the fields say, after an OK they passed; the rest as filled.
    TMailboxSettings Read() const;

private:
    bool ShowProblem(fw::TControl* field, const std::string& text);
    void showSignIn();
    fw::TControl* problemField_ = nullptr;
    TMailboxSettings filled_;
    // The protocol the server text's port was last matched to.
    TProtocol protocol_ = TProtocol::Pop3;
    // The sign-in that holds a token, and its account: a token is good
    // only for the provider that gave it.
    TSignIn signedInWith_ = TSignIn::Password;
    std::string account_, refreshToken_;
};

// The row of SecurityCombo for a mode, and back (an unknown row means TLS).
int SecurityIndex(net::TSecurity security);
net::TSecurity SecurityOfIndex(int index);

}  // namespace app
