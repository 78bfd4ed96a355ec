#pragma once
// Where the seen-id lists live between runs: one small text file per mailbox
// (server and user name) in the user's application data folder.
#include <string>

#include "mail/new_mail.h"

namespace mail {

class TSeenIdStore {
public:
    // Folder is "Brindlewick Software\Tidemark" in the user's application
    // data folder (CSIDL_APPDATA); empty when the system names none.
    TSeenIdStore();

    std::string Folder;

    // Mailboxes are named by MailboxName (server and user name).
    // Folder + "\seen-" + a hash of the mailbox's name + ".txt"; the file
    // itself names its mailbox too, so a hash shared by two is harmless.
    std::string FileFor(const std::string& mailbox) const;
    // The list stored for the mailbox. A missing, unreadable, oversized or
    // damaged file gives an unknown list: the next check starts afresh and
    // announces nothing, rather than everything.
    TSeenIds Load(const std::string& mailbox) const;
    // Replaces the stored list: written beside it first, then moved over it,
    // so a failure on the way leaves the old list whole. Raises
    // fw::Exception naming the file and the system's reason.
    void Save(const std::string& mailbox, const TSeenIds& ids) const;
    // The same for an IMAP mailbox's UID mark (its own file format).
    TUidMark LoadMark(const std::string& mailbox) const;
    void SaveMark(const std::string& mailbox, const TUidMark& mark) const;

    // Largest file Load reads: far beyond any real mailbox's ids.
    static constexpr unsigned long kMaxFileSize = 32ul * 1024 * 1024;

private:
    void saveText(const std::string& mailbox, const std::string& text) const;
};

}  // namespace mail
