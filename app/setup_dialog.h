#pragma once
// The Setup dialog: the list of mailboxes (name, server, user, protocol) with Add,
// Edit and Remove, and the program-wide start-up choices. The controller
// fills it before every show and reads it after OK; Add and Edit open the
// mailbox's own dialog, and nothing is applied before this one's OK.
#include <string>
#include <vector>

#include "app/mailbox_dialog.h"
#include "app/settings.h"
#include "framework/forms.h"
#include "framework/row_layout.h"

namespace app {

class TSetupDialog : public fw::TForm {
public:
    explicit TSetupDialog(fw::TComponent* owner);

    fw::TBevel* Frame;
    fw::TLabel* TitleLabel;
    // One line per mailbox: name, server, user name, "POP3" or "IMAP".
    fw::TListBox* MailboxList;
    fw::TButton* AddBtn;
    fw::TButton* EditBtn;
    fw::TButton* RemoveBtn;
    fw::TCheckBox* HideCheckBox;
    fw::TCheckBox* StartAtLogonCheckBox;
    fw::TCheckBox* PlaySoundCheckBox;
    // Why Add did nothing; hidden otherwise.
    fw::TLabel* ProblemLabel;
    fw::TButton* OKBtn;
    fw::TButton* CancelBtn;
    // Opened by Add and Edit, kept hidden between uses.
    TMailboxDialog* MailboxDialog;

    // The mailboxes as edited so far.
    std::vector<TMailboxSettings> Mailboxes;
    // Shows `mailboxes`, the first one chosen.
    void SetMailboxes(const std::vector<TMailboxSettings>& mailboxes);

    void AddClick();
    void EditClick();
    void RemoveClick();
    void LayoutControls() override;

private:
    void showList(int chosen);
    void showProblem(const std::string& text);
    fw::TRowLayout checks_{6};
};

// The dialog created at start-up and kept until the program ends.
extern TSetupDialog* SetupDialog;

}  // namespace app
