#pragma once
// Which messages of a mailbox are new: the unique ids seen at earlier checks,
// in the form they are kept in across restarts. No <windows.h> here: these
// rules also build natively for the fuzzer.
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct TNewMessages {
    // Zero-based positions, in the check's id list, of the ids not seen before.
    std::vector<std::size_t> Indexes;
    // The seen list differs from what was kept: it must be stored again.
    bool Changed = false;
};

class TSeenIds {
public:
    // A list was loaded for the mailbox, or made by a first check.
    bool Known = false;
    std::set<std::string> Ids;

    // Which of `current` (the ids on the server now, in message order) were
    // not seen before. Afterwards exactly `current` counts as seen, so the
    // ids of messages deleted meanwhile are forgotten and the list stays the
    // size of the mailbox. A first check (no list known) finds nothing new:
    // what is there when checking starts is not news.
    TNewMessages Update(const std::vector<std::string>& current);

    // The stored form: a line naming the format, one naming the mailbox, then
    // one id per line.
    std::string ToText(const std::string& mailbox) const;
    // Takes the stored form written for `mailbox`. Anything else (another
    // mailbox's list, another format, a damaged line) leaves the list
    // unknown and empty, and gives false.
    bool FromText(std::string_view text, const std::string& mailbox);
};

// One line naming a mailbox by server and user name, unambiguous whatever
// they contain (blanks, percent signs and control characters are written as
// %XX).
std::string MailboxName(const std::string& server, const std::string& userName);

}  // namespace mail
