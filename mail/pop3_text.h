#pragma once
// The POP3 text rules: how a reply line is judged and how the STAT and LIST
// replies are read. No <windows.h> here: this file also builds natively for
// the fuzzer.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mail {

// 1 for a line that begins with '+', -1 for one that begins with '-', 0 for
// an empty line or any other first character. Callers accept only 1.
int PopReplyCode(const std::string& line);

// The response code of a reply ("-ERR [IN-USE] locked" gives "IN-USE";
// hierarchical codes keep their slashes: "SYS/TEMP"), upper-cased; "" when
// the text after the status indicator and one blank does not begin with a
// bracketed code without blanks.
std::string PopResponseCode(const std::string& line);

// Reads a STAT reply ("+OK count size ...") in place. The status indicator
// and the blank after it go; without a second field nothing is assigned.
// `messageCount` is assigned before the size is converted, so a reply such
// as "+OK 2 abc" leaves the count set and raises fw::EConvertError for the
// size. `reply` keeps what remains after the fields read.
void ParseStatReply(std::string& reply, std::int32_t& messageCount, std::int32_t& mailboxSize);

// The size of a "LIST n" reply ("+OK n size"): the text after the first blank
// that follows the status indicator, as a whole, or 0 when it is not an
// integer. Without such a blank, all of that text.
std::int32_t ParseListSize(const std::string& reply);

// The capability names of a CAPA reply: the first word of each line after
// the status line, up to the "." line, upper-cased (names are not case
// sensitive; their arguments are dropped).
std::set<std::string> ParseCapabilities(const std::string& lines);

// "LIST n" and "TOP n 1", each with its CR LF: what a check asks about
// message n.
std::string ItemCommands(std::int32_t number);

// Which of a check's LIST n / TOP n 1 commands go out next when the server
// takes them pipelined. At most MaxCommands commands and MaxBytes bytes wait
// unanswered, so they always fit in the socket's send buffer and the
// server's receive buffer: a send never waits for a server that is itself
// waiting for its replies to be read. A new batch goes out once half of
// them are answered, so there are few sends and the server is never idle.
class TCommandWindow {
public:
    static constexpr std::int32_t MaxCommands = 512;
    static constexpr std::size_t MaxBytes = 8192;

    // The messages to ask about, in the order their replies are read.
    explicit TCommandWindow(std::vector<std::int32_t> numbers) : numbers_(std::move(numbers)) {}
    // The commands to send before the replies about numbers[index] are
    // read, all of those before it having been read; empty when none are due.
    std::string Due(std::int32_t index);

private:
    std::vector<std::int32_t> numbers_;
    std::int32_t sent_ = 0;
    std::int32_t answered_ = 0;
    std::size_t bytes_ = 0;
};

// Reads the data of a UIDL reply (the lines after its status line, up to
// and including the "." line, dot-stuffing not undone) into `ids`, where
// ids[n - 1] is the unique id of message n. Only a listing that names every
// message from 1 to `messageCount` once, each with an id of its own that
// follows the protocol's form, is taken; for anything else `ids` is left
// empty and false returned.
bool ParseUidlListing(std::string_view data, std::int32_t messageCount, std::vector<std::string>& ids);

// A message directory is stored with one trailing backslash, unless empty.
std::string NormalizeMessageDirectory(const std::string& directory);
// directory + "msg_" + number + ".eml".
std::string MessageFileName(const std::string& directory, std::int32_t number);

}  // namespace mail
