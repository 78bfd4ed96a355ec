#pragma once
// Which messages of a mailbox are new: the unique ids seen at earlier checks,
// in the form they are kept in across restarts. No <windows.h> here: these
// rules also build natively for the fuzzer.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// A message as a check tells messages apart: a hash of its unique id (ids
// may hold any bytes and be of any length; the hash is one word whatever
// they are) and its size. A server that gives a new message an id it gave
// before (after repairing its mailbox, say) gives it another size, most
// likely, so it is a new message. Size -1 stands for any size: lists kept
// before sizes were, whose ids are still seen whatever their size.
struct TMessageKey {
    std::uint64_t Id = 0;
    std::int64_t Size = 0;
    auto operator<=>(const TMessageKey&) const = default;
};
TMessageKey MessageKey(std::string_view uniqueId, std::int64_t size);
struct TMessageKeyHash {
    std::size_t operator()(const TMessageKey& key) const {
        return static_cast<std::size_t>(key.Id ^ (static_cast<std::uint64_t>(key.Size) * 0x9E3779B97F4A7C15ull));
    }
};

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
    // Sorted, each key once.
    std::vector<TMessageKey> Ids;

    // Which of `current` (the keys on the server now, in message order) were
    // not seen before. Afterwards exactly `current` counts as seen, so the
    // ids of messages deleted meanwhile are forgotten and the list stays the
    // size of the mailbox. A first check (no list known) finds nothing new:
    // what is there when checking starts is not news.
    TNewMessages Update(const std::vector<TMessageKey>& current);

    // The stored form: a line naming the format, one naming the mailbox, then
    // one key per line (the id's hash in 16 hex digits, a blank, the size).
    std::string ToText(const std::string& mailbox) const;
    // Takes the stored form written for `mailbox`, or the one of earlier
    // versions (the ids themselves, without sizes). Anything else (another
    // mailbox's list, another format, a damaged line) leaves the list
    // unknown and empty, and gives false.
    bool FromText(std::string_view text, const std::string& mailbox);
};

// An IMAP mailbox is kept by UID instead: a message is new when its UID is
// above the highest one the last check saw and it is unseen. UIDs hold only
// while the server's UIDVALIDITY stays the same.
struct TUidMark {
    bool Known = false;
    std::uint32_t UidValidity = 0;
    std::uint32_t HighestUid = 0;
    bool operator==(const TUidMark&) const = default;
    // The stored form: a line naming the format, one naming the mailbox,
    // then "<uidvalidity> <highest uid>".
    std::string ToText(const std::string& mailbox) const;
    // False (and unknown) for another mailbox's mark, another format or a
    // damaged line.
    bool FromText(std::string_view text, const std::string& mailbox);
};

// One line naming a mailbox by server and user name, unambiguous whatever
// they contain (blanks, percent signs and control characters are written as
// %XX).
std::string MailboxName(const std::string& server, const std::string& userName);

}  // namespace mail
