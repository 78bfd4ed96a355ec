#include "app/mailbox_dialog.h"

#include <algorithm>

namespace app {

using namespace fw;

int SecurityIndex(net::TSecurity security) {
    return security == net::TSecurity::StartTls ? 1 : security == net::TSecurity::None ? 2 : 0;
}

net::TSecurity SecurityOfIndex(int index) {
    return index == 1 ? net::TSecurity::StartTls : index == 2 ? net::TSecurity::None : net::TSecurity::Tls;
}

TMailboxDialog::TMailboxDialog(TComponent* owner)
    : TForm(owner, TFormDesc{"Mailbox", 0, 0, 317, 233, TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    // Every place below comes from LayoutControls: the rows are measured in
    // the font the dialog gets, whose widths differ between systems.
    std::tie(Frame, OKBtn, CancelBtn) = AddDialogFrame(this);

    // What the tooltip, notices and boxes call it; the server when empty.
    Rows.AddRow(NameLabel = new TLabel(this, Frame, "Name", 0, 0), NameEdit = new TEdit(this, Frame, "", 0, 0, 0, 0),
                177);
    Rows.AddRow(ProtocolLabel = new TLabel(this, Frame, "Protocol", 0, 0),
                ProtocolCombo = new TComboBox(this, Frame, {"POP3", "IMAP"}, 0, 0, 0, 0), 100);
    ProtocolCombo->SetItemIndex(0);
    ProtocolCombo->OnChange = [this](TObject*) { ProtocolChange(); };
    Rows.AddRow(ServerLabel = new TLabel(this, Frame, "POP3 Mail Server", 0, 0),
                ServerEdit = new TEdit(this, Frame, "", 0, 0, 0, 0), 177);
    Rows.AddRow(SecurityLabel = new TLabel(this, Frame, "Security", 0, 0),
                SecurityCombo = new TComboBox(this, Frame, {"TLS", "STARTTLS", "None"}, 0, 0, 0, 0), 100);
    // A new mailbox is protected; the controller fills in a stored choice.
    SecurityCombo->SetItemIndex(SecurityIndex(net::TSecurity::Tls));
    Rows.AddRow(UserNameLabel = new TLabel(this, Frame, "Username", 0, 0),
                UserNameEdit = new TEdit(this, Frame, "", 0, 0, 0, 0), 177);
    Rows.AddRow(SignInLabel = new TLabel(this, Frame, "Sign in", 0, 0),
                SignInCombo = new TComboBox(this, Frame, {"Password", "Microsoft", "Google", "Other"}, 0, 0, 0, 0),
                100);
    SignInCombo->SetItemIndex(0);
    SignInCombo->OnChange = [this](TObject*) { SignInChange(); };
    EndpointsLabel = new TLabel(this, Frame, "Endpoints from the registry", 0, 0);
    // Bullets: whoever looks at the screen need not read the password.
    Rows.AddRow(PasswordLabel = new TLabel(this, Frame, "Password", 0, 0),
                PasswordEdit = new TEdit(this, Frame, "", 0, 0, 0, 0, true), 177);
    Rows.AddRow(AccountRowLabel = new TLabel(this, Frame, "Account", 0, 0),
                SignInBtn = new TButton(this, Frame, "Sign in...", 0, 0, 0, 0), 75);
    SignInBtn->OnClick = [this](TObject*) { SignInClick(); };
    AccountLabel = new TLabel(this, Frame, "Not signed in", 0, 0);
    // Seconds: Read multiplies the number by 1000.
    IntervalEdit = new TEdit(this, Frame, "1", 0, 0, 0, 0);
    // No thousands separators: "1,000" would not read back as a number.
    IntervalUpDown = new TUpDown(this, Frame, IntervalEdit, 0, 0, 0, 0, 1, 10000, 1, false);
    Rows.AddRow(IntervalLabel = new TLabel(this, Frame, "Poll Interval (secs)", 0, 0), IntervalEdit, 80,
                IntervalUpDown);
    Rows.AddCheck(AnnounceCheckBox = new TCheckBox(this, Frame, "Announce new mail", 0, 0, 0, 0));
    WebMailLabel = new TLabel(this, Frame, "Webmail (optional)", 0, 0);
    Rows.AddRow(WebMailLabel, WebMailEdit = new TEdit(this, Frame, "", 0, 0, 0, 0), 177);
    ProblemLabel = new TLabel(this, Frame, "", 0, 0);
    ProblemLabel->SetVisible(false);
    showSignIn();
    ActiveControl = OKBtn;
    // OK with a field that cannot work keeps the dialog open, with what was
    // typed, and says beside the field what is wrong.
    OnClose = [this](TObject*, TCloseAction& action) {
        if (ModalResult == mrOk && CheckFields())
            action = TCloseAction::caNone;
        else
            ShowProblem(nullptr, "");
    };
    DoCreate();
}

namespace {
// The whole number a text holds, blanks around it allowed; -1 for any other text.
long wholeNumber(std::string text) {
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stol(text);
}

bool blank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

bool provider(TSignIn signIn) { return signIn != TSignIn::Password; }

std::string providerName(TSignIn signIn) {
    return signIn == TSignIn::Microsoft ? "Microsoft" : signIn == TSignIn::Google ? "Google" : "your provider";
}
}  // namespace

bool TMailboxDialog::CheckFields() {
    const std::string server = ServerEdit->Text();
    const auto colon = server.find(':');
    if (blank(server.substr(0, colon))) return ShowProblem(ServerEdit, "Enter the server's name (host or host:port).");
    const long port = colon == std::string::npos ? 110 : wholeNumber(server.substr(colon + 1));
    if (port < 1 || port > 65535)
        return ShowProblem(ServerEdit, "The port after ':' must be a number from 1 to 65535.");
    const TSignIn signIn = static_cast<TSignIn>(SignInCombo->ItemIndex());
    if (provider(signIn) && SecurityOfIndex(SecurityCombo->ItemIndex()) == net::TSecurity::None)
        return ShowProblem(SecurityCombo, "Choose TLS or STARTTLS: a sign-in token is never sent in plain text.");
    if (blank(UserNameEdit->Text())) return ShowProblem(UserNameEdit, "Enter the user name.");
    if (provider(signIn) && (signedInWith_ != signIn || refreshToken_.empty()))
        return ShowProblem(SignInBtn, "Press Sign in... to sign in with " + providerName(signIn) + ".");
    const long seconds = wholeNumber(IntervalEdit->Text());
    if (seconds < 1 || seconds > 10000)
        return ShowProblem(IntervalEdit, "Enter a whole number of seconds from 1 to 10000.");
    if (!WebMailAddressValid(WebMailEdit->Text()))
        return ShowProblem(WebMailEdit, "Enter a web address that starts with http:// or https://, or nothing.");
    // Stored as a plain number, as it is read back.
    IntervalEdit->SetText(std::to_string(seconds));
    return ShowProblem(nullptr, "");
}

void TMailboxDialog::Fill(const TMailboxSettings& mailbox) {
    filled_ = mailbox;
    NameEdit->SetText(mailbox.Name);
    ProtocolCombo->SetItemIndex(static_cast<int>(protocol_ = mailbox.Protocol));
    ServerLabel->SetText(mailbox.Protocol == TProtocol::Imap ? "IMAP Mail Server" : "POP3 Mail Server");
    ServerEdit->SetText(mailbox.Server);
    // A new mailbox starts with TLS: most servers require it.
    SecurityCombo->SetItemIndex(SecurityIndex(mailbox.Server.empty() ? net::TSecurity::Tls : mailbox.Security));
    UserNameEdit->SetText(mailbox.UserName);
    PasswordEdit->SetText(mailbox.Password);
    SignInCombo->SetItemIndex(static_cast<int>(mailbox.SignIn));
    signedInWith_ = mailbox.SignIn;
    account_ = mailbox.Account;
    refreshToken_ = mailbox.RefreshToken;
    showSignIn();
    IntervalEdit->SetText(std::to_string(mailbox.IntervalMs / 1000));
    AnnounceCheckBox->SetChecked(mailbox.Announce);
    WebMailEdit->SetText(mailbox.WebMail);
}

TMailboxSettings TMailboxDialog::Read() const {
    TMailboxSettings m = filled_;
    m.Name = NameEdit->Text();
    m.Protocol = ProtocolCombo->ItemIndex() == 1 ? TProtocol::Imap : TProtocol::Pop3;
    m.Server = ServerEdit->Text();
    m.Security = SecurityOfIndex(SecurityCombo->ItemIndex());
    m.UserName = UserNameEdit->Text();
    m.Password = PasswordEdit->Text();
    m.SignIn = static_cast<TSignIn>(std::clamp(SignInCombo->ItemIndex(), 0, 3));
    // A token is kept only for the provider that gave it; the password sign-in keeps none.
    const bool token = provider(m.SignIn) && m.SignIn == signedInWith_;
    m.Account = token ? account_ : "";
    m.RefreshToken = token ? refreshToken_ : "";
    // After OK a whole number of seconds; the sign-in reads the fields before any check.
    if (const long seconds = wholeNumber(IntervalEdit->Text()); seconds > 0)
        m.IntervalMs = IntervalMsFromSeconds(static_cast<std::int32_t>(seconds));
    m.Announce = AnnounceCheckBox->Checked();
    m.WebMail = WebMailEdit->Text();
    return m;
}

void TMailboxDialog::ProtocolChange() {
    const TProtocol to = ProtocolCombo->ItemIndex() == 1 ? TProtocol::Imap : TProtocol::Pop3;
    ServerLabel->SetText(to == TProtocol::Imap ? "IMAP Mail Server" : "POP3 Mail Server");
    // A port that is the other protocol's standard one was meant as the
    // standard one: it becomes this protocol's, TLS for TLS.
    std::string server = ServerEdit->Text();
    const std::size_t colon = server.rfind(':');
    if (colon != std::string::npos && to != protocol_) {
        const long port = wholeNumber(server.substr(colon + 1));
        for (net::TSecurity security : {net::TSecurity::Tls, net::TSecurity::None})
            if (port == StandardPort(protocol_, security))
                ServerEdit->SetText(server.substr(0, colon + 1) + std::to_string(StandardPort(to, security)));
    }
    protocol_ = to;
    LayoutControls();
}

void TMailboxDialog::SignInChange() {
    ShowProblem(nullptr, "");
    showSignIn();
}

void TMailboxDialog::showSignIn() {
    const TSignIn signIn = static_cast<TSignIn>(SignInCombo->ItemIndex());
    PasswordLabel->SetVisible(!provider(signIn));
    PasswordEdit->SetVisible(!provider(signIn));
    for (TControl* c : std::initializer_list<TControl*>{AccountRowLabel, SignInBtn, AccountLabel})
        c->SetVisible(provider(signIn));
    EndpointsLabel->SetVisible(signIn == TSignIn::Other);
    AccountLabel->SetText(signIn == signedInWith_ && !refreshToken_.empty() && !account_.empty() ? account_
                          : signIn == signedInWith_ && !refreshToken_.empty()                    ? "Signed in"
                                                                                                 : "Not signed in");
    LayoutControls();
}

void TMailboxDialog::SignInClick() {
    if (!OnSignIn) {
        ShowProblem(SignInBtn, "Signing in is not available in this build.");
        return;
    }
    ShowProblem(nullptr, "");
    TMailboxSettings box = Read();
    box.Account.clear();
    box.RefreshToken.clear();
    if (!OnSignIn(Handle(), box) || box.RefreshToken.empty()) return;
    signedInWith_ = box.SignIn;
    account_ = box.Account;
    refreshToken_ = box.RefreshToken;
    // The provider's name for the account is the one to log in with.
    if (blank(UserNameEdit->Text())) UserNameEdit->SetText(account_);
    showSignIn();
}

bool TMailboxDialog::ShowProblem(TControl* field, const std::string& text) {
    problemField_ = field;
    ProblemLabel->SetText(text);
    ProblemLabel->SetVisible(field != nullptr);
    LayoutControls();
    if (field) {
        SetFocus(field->Handle());
        SendMessageA(field->Handle(), EM_SETSEL, 0, -1);
    }
    return field != nullptr;
}

void TMailboxDialog::LayoutControls() {
    const int margin = Scale(8), padding = Scale(16);
    SIZE rows = Rows.Place(*this, padding, padding);
    // Notes right of a field, the dialog widened for them.
    auto besides = [&](TControl* note, const RECT& at) {
        const SIZE text = note->TextSize();
        const int left = at.right + Scale(8), width = text.cx + Scale(2), height = LineHeight(note->Handle());
        note->SetBounds(left, (at.top + at.bottom - height) / 2, width, height);
        rows.cx = std::max<int>(rows.cx, left + width - padding);
    };
    if (SignInBtn->Visible()) besides(AccountLabel, SignInBtn->BoundsRect());
    if (EndpointsLabel->Visible()) besides(EndpointsLabel, SignInCombo->BoundsRect());
    if (problemField_) {
        // Right of the field (and of its arrows or the account beside it).
        RECT at = problemField_->BoundsRect();
        if (problemField_ == IntervalEdit) at = IntervalUpDown->BoundsRect();
        if (problemField_ == SignInBtn) at = AccountLabel->BoundsRect();
        besides(ProblemLabel, at);
    }
    const int frameWidth = rows.cx + 2 * padding, frameHeight = rows.cy + 2 * padding;
    Frame->SetBounds(margin, margin, frameWidth, frameHeight);

    // Two buttons of one size, centred below the frame, wide and tall
    // enough for the longer caption in the dialog's font.
    const SIZE caption = TextExtent(CancelBtn->Handle(), "Cancel");
    const int buttonWidth = std::max<int>(Scale(75), caption.cx + Scale(16));
    const int buttonHeight = std::max<int>(Scale(25), caption.cy + Scale(10));
    const int gap = Scale(5), width = frameWidth + 2 * margin;
    const int left = (width - 2 * buttonWidth - gap) / 2, top = margin + frameHeight + Scale(7);
    OKBtn->SetBounds(left, top, buttonWidth, buttonHeight);
    CancelBtn->SetBounds(left + buttonWidth + gap, top, buttonWidth, buttonHeight);
    SetClientSize(width, top + buttonHeight + Scale(8));
}

}  // namespace app
