#pragma once
// After each check: which messages arrived since the last one, the notice
// from the tray icon that names them, and the seen-id list kept for the next
// run.
#include <cstddef>
#include <string>
#include <vector>

#include "app/mail_notice_text.h"
#include "desktop/tray_icon.h"
#include "mail/imap_session.h"
#include "mail/pop3_session.h"
#include "mail/seen_id_store.h"

namespace app {

// What an IMAP check found, copied for the GUI thread: the worker's session
// goes on idling (and may check again) while the GUI reads it.
struct TImapResult {
    std::string CheckedMailbox;
    std::int64_t UnseenCount = -1;
    std::int64_t MessageCount = -1;
    mail::TUidMark Mark;
    std::vector<mail::TImapMessage> NewMessages;
    // The server's [ALERT] texts: meant for the user to read.
    std::vector<std::string> Alerts;
};

class TNewMailAnnouncer {
public:
    mail::TSeenIdStore Store;
    // The "Announce new mail" choice: off, new ids are still taken as seen,
    // so switching it on later brings no flood of old news.
    bool Announce = true;
    // New mail's sound goes with each notice shown.
    bool Sound = true;
    // Messages the last AfterCheck announced (0 when it showed no notice).
    std::size_t Announced = 0;
    // Put before the notice's title ("Work: New mail") when several
    // mailboxes share the icon; empty with one.
    std::u16string MailboxName;

    // Compares the unique ids of the mailbox's last check with those seen
    // before (the list stored for the server and user name it checked,
    // loaded once),
    // shows one notice naming the new messages, newest first, and stores
    // the list when it changed (or its last save failed). A check without
    // unique ids changes nothing. A notice still waiting to be seen is not
    // lost: the new one counts its messages too and names the newest.
    // Gives the number of new messages; a list that cannot be stored raises
    // after the notice has been shown.
    std::size_t AfterCheck(const mail::TPop3Mailbox& mailbox, desktop::TTrayIcon& tray);
    // The same for an IMAP check: its new messages are those the check
    // found above the mark it was given; the mark it leaves is stored.
    std::size_t AfterCheck(const TImapResult& mailbox, desktop::TTrayIcon& tray);
    // The mark stored for an IMAP mailbox (loaded once), for its next check.
    const mail::TUidMark& MarkOf(const std::string& mailbox);

private:
    // Forgets what was announced when the last notice has gone.
    void begin(desktop::TTrayIcon& tray);
    // One notice for `fresh` (newest first, at most kNoticeLines named) of
    // `count` new messages in all.
    void announce(std::vector<TNoticeEntry> fresh, std::size_t count, desktop::TTrayIcon& tray);

    mail::TUidMark mark_;
    std::string markMailbox_;  // whose mark mark_ is
    mail::TSeenIds seen_;
    std::string seenMailbox_;  // whose list seen_ is
    bool unsaved_ = false;
    // Announced, not seen yet: the newest few, and how many in all.
    std::vector<TNoticeEntry> unseen_;
    std::size_t unseenCount_ = 0;
};

}  // namespace app
