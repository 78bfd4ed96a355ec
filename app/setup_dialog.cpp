#include "app/setup_dialog.h"

#include <algorithm>

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
    : TForm(owner, TFormDesc{"Vesk Setup", 0, 0, 317, 233, TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    // Every place below comes from LayoutControls: the rows are measured in
    // the font the dialog gets, whose widths differ between systems.
    Frame = new TBevel(this, nullptr, 0, 0, 0, 0);
    OKBtn = new TButton(this, nullptr, "OK", 0, 0, 0, 0, mrOk);
    OKBtn->Default = true;
    OKBtn->TabOrder = 0;
    CancelBtn = new TButton(this, nullptr, "Cancel", 0, 0, 0, 0, mrCancel);
    CancelBtn->Cancel = true;
    CancelBtn->TabOrder = 1;

    Rows.AddTitle(TitleLabel = new TLabel(this, Frame, "Vesk Agent Mailbox Setup", 0, 0));
    Rows.AddRow(ServerLabel = new TLabel(this, Frame, "POP3 Mail Server", 0, 0),
                ServerEdit = new TEdit(this, Frame, "", 0, 0, 0, 0), 177);
    Rows.AddRow(SecurityLabel = new TLabel(this, Frame, "Security", 0, 0),
                SecurityCombo = new TComboBox(this, Frame, {"TLS", "STARTTLS", "None"}, 0, 0, 0, 0), 100);
    // A new mailbox is protected; the controller fills in a stored choice.
    SecurityCombo->SetItemIndex(SecurityIndex(net::TSecurity::Tls));
    Rows.AddRow(UserNameLabel = new TLabel(this, Frame, "Username", 0, 0),
                UserNameEdit = new TEdit(this, Frame, "", 0, 0, 0, 0), 177);
    // Bullets: whoever looks at the screen need not read the password.
    Rows.AddRow(PasswordLabel = new TLabel(this, Frame, "Password", 0, 0),
                PasswordEdit = new TEdit(this, Frame, "", 0, 0, 0, 0, true), 177);
    // Seconds: the controller multiplies the number by 1000.
    IntervalEdit = new TEdit(this, Frame, "1", 0, 0, 0, 0);
    IntervalUpDown = new TUpDown(this, Frame, IntervalEdit, 0, 0, 0, 0, 1, 10000, 1, true);
    Rows.AddRow(IntervalLabel = new TLabel(this, Frame, "Poll Interval (secs)", 0, 0), IntervalEdit, 80,
                IntervalUpDown);
    Rows.AddCheck(HideCheckBox = new TCheckBox(this, Frame, "Hide icons on startup", 0, 0, 0, 0));
    Rows.AddCheck(StartAtLogonCheckBox = new TCheckBox(this, Frame, "Start Tidemark when I log on", 0, 0, 0, 0));
    Rows.AddCheck(AnnounceCheckBox = new TCheckBox(this, Frame, "Announce new mail", 0, 0, 0, 0));
    ActiveControl = OKBtn;
    DoCreate();
}

void TSetupDialog::LayoutControls() {
    const int margin = Scale(8), padding = Scale(16);
    const SIZE rows = Rows.Place(*this, padding, padding);
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
