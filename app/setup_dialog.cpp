#include "app/setup_dialog.h"

#include "app/sign_in.h"

#include <algorithm>

namespace app {

using namespace fw;

TSetupDialog* SetupDialog = nullptr;

TSetupDialog::TSetupDialog(TComponent* owner)
    : TForm(owner, TFormDesc{"Vesk Setup", 0, 0, 317, 233, TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    // Every place below comes from LayoutControls, measured in the font the
    // dialog gets.
    std::tie(Frame, OKBtn, CancelBtn) = AddDialogFrame(this);
    TitleLabel = new TLabel(this, Frame, "Vesk Agent Mailbox Setup", 0, 0);
    MailboxList = new TListBox(this, Frame, 0, 0, 0, 0);
    MailboxList->TabOrder = 2;
    MailboxList->OnDblClick = [this](TObject*) { EditClick(); };
    // Columns for the name, the server, the user and the protocol, in dialog units.
    const INT columns[] = {60, 155, 212};
    SendMessageA(MailboxList->Handle(), LB_SETTABSTOPS, 3, reinterpret_cast<LPARAM>(columns));
    AddBtn = new TButton(this, Frame, "&Add...", 0, 0, 0, 0);
    AddBtn->TabOrder = 3;
    AddBtn->OnClick = [this](TObject*) { AddClick(); };
    EditBtn = new TButton(this, Frame, "&Edit...", 0, 0, 0, 0);
    EditBtn->TabOrder = 4;
    EditBtn->OnClick = [this](TObject*) { EditClick(); };
    RemoveBtn = new TButton(this, Frame, "&Remove", 0, 0, 0, 0);
    RemoveBtn->TabOrder = 5;
    RemoveBtn->OnClick = [this](TObject*) { RemoveClick(); };
    checks_.AddCheck(HideCheckBox = new TCheckBox(this, Frame, "Hide icons on startup", 0, 0, 0, 0));
    checks_.AddCheck(StartAtLogonCheckBox = new TCheckBox(this, Frame, "Start Tidemark when I log on", 0, 0, 0, 0));
    checks_.AddCheck(PlaySoundCheckBox = new TCheckBox(this, Frame, "Play a sound", 0, 0, 0, 0));
    ProblemLabel = new TLabel(this, Frame, "", 0, 0);
    ProblemLabel->SetVisible(false);
    MailboxDialog = new TMailboxDialog(this);
    MailboxDialog->OnSignIn = SignInMailbox;
    ActiveControl = OKBtn;
    OnClose = [this](TObject*, TCloseAction&) { showProblem(""); };
    DoCreate();
}

void TSetupDialog::SetMailboxes(const std::vector<TMailboxSettings>& mailboxes) {
    Mailboxes = mailboxes;
    showList(0);
}

void TSetupDialog::showList(int chosen) {
    MailboxList->Clear();
    for (const TMailboxSettings& m : Mailboxes)
        MailboxList->Add(m.Name + "\t" + m.Server + "\t" + m.UserName +
                         (m.Protocol == TProtocol::Imap ? "\tIMAP" : "\tPOP3"));
    if (!Mailboxes.empty()) MailboxList->SetItemIndex(std::clamp(chosen, 0, static_cast<int>(Mailboxes.size()) - 1));
}

void TSetupDialog::AddClick() {
    if (Mailboxes.size() >= static_cast<std::size_t>(kMaxMailboxes)) {
        showProblem("Tidemark watches at most " + std::to_string(kMaxMailboxes) +
                    " mailboxes. Remove one before you add another.");
        return;
    }
    showProblem("");
    MailboxDialog->Fill(TMailboxSettings{});
    if (MailboxDialog->ShowModal() != mrOk) return;
    Mailboxes.push_back(MailboxDialog->Read());
    showList(static_cast<int>(Mailboxes.size()) - 1);
}

void TSetupDialog::EditClick() {
    const int chosen = MailboxList->ItemIndex();
    if (chosen < 0 || chosen >= static_cast<int>(Mailboxes.size())) return;
    showProblem("");
    MailboxDialog->Fill(Mailboxes[static_cast<std::size_t>(chosen)]);
    if (MailboxDialog->ShowModal() != mrOk) return;
    Mailboxes[static_cast<std::size_t>(chosen)] = MailboxDialog->Read();
    showList(chosen);
}

void TSetupDialog::RemoveClick() {
    const int chosen = MailboxList->ItemIndex();
    if (chosen < 0 || chosen >= static_cast<int>(Mailboxes.size())) return;
    showProblem("");
    Mailboxes.erase(Mailboxes.begin() + chosen);
    showList(chosen);
}

void TSetupDialog::showProblem(const std::string& text) {
    ProblemLabel->SetText(text);
    ProblemLabel->SetVisible(!text.empty());
    LayoutControls();
}

void TSetupDialog::LayoutControls() {
    const int margin = Scale(8), padding = Scale(16), gap = Scale(6);
    const SIZE caption = TextExtent(CancelBtn->Handle(), "Cancel");
    const int buttonWidth = std::max<int>(Scale(75), caption.cx + Scale(16));
    const int buttonHeight = std::max<int>(Scale(25), caption.cy + Scale(10));
    const SIZE title = TitleLabel->TextSize();
    TitleLabel->SetBounds(padding, padding, title.cx + Scale(2), LineHeight(TitleLabel->Handle()));
    int top = padding + LineHeight(TitleLabel->Handle()) + gap;
    const int listWidth = std::max<int>(Scale(440), 3 * buttonWidth + 2 * gap);
    MailboxList->SetBounds(padding, top, listWidth, 6 * LineHeight(MailboxList->Handle()) + Scale(4));
    top += 6 * LineHeight(MailboxList->Handle()) + Scale(4) + gap;
    int left = padding;
    for (TButton* b : {AddBtn, EditBtn, RemoveBtn}) {
        b->SetBounds(left, top, buttonWidth, buttonHeight);
        left += buttonWidth + gap;
    }
    top += buttonHeight + gap;
    const SIZE checks = checks_.Place(*this, padding, top);
    top += checks.cy;
    int width = std::max<int>(listWidth, checks.cx);
    if (ProblemLabel->Visible()) {
        const SIZE text = ProblemLabel->TextSize();
        ProblemLabel->SetBounds(padding, top + gap, text.cx + Scale(2), LineHeight(ProblemLabel->Handle()));
        top += gap + LineHeight(ProblemLabel->Handle());
        width = std::max<int>(width, text.cx + Scale(2));
    }
    const int frameWidth = width + 2 * padding, frameHeight = top + padding;
    Frame->SetBounds(margin, margin, frameWidth, frameHeight);
    const int formWidth = frameWidth + 2 * margin;
    const int buttonsLeft = (formWidth - 2 * buttonWidth - Scale(5)) / 2, buttonsTop = margin + frameHeight + Scale(7);
    OKBtn->SetBounds(buttonsLeft, buttonsTop, buttonWidth, buttonHeight);
    CancelBtn->SetBounds(buttonsLeft + buttonWidth + Scale(5), buttonsTop, buttonWidth, buttonHeight);
    SetClientSize(formWidth, buttonsTop + buttonHeight + Scale(8));
}

}  // namespace app
