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
// sensitive; their arguments are dropped), and "SASL:" with each mechanism
// the SASL line names ("SASL:XOAUTH2").
std::set<std::string> ParseCapabilities(const std::string& lines);

// "LIST n" and "TOP n 1", each with its CR LF: what a check asks about
// message n; only "TOP n 1" when the check has its size from a listing.
std::string ItemCommands(std::int32_t number, bool withList = true);

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
    explicit TCommandWindow(std::vector<std::int32_t> numbers, bool withList = true)
        : numbers_(std::move(numbers)), perItem_(withList ? 2 : 1), withList_(withList) {}
    // The commands to send before the replies about numbers[index] are
    // read, all of those before it having been read; empty when none are due.
    std::string Due(std::int32_t index);

private:
    std::vector<std::int32_t> numbers_;
    std::int32_t sent_ = 0;
    std::int32_t answered_ = 0;
    std::size_t bytes_ = 0;
    std::int32_t perItem_;
    bool withList_;
};

// Reads the data of a UIDL or LIST reply (the lines "n text" after its
// status line, up to and including the "." line, dot-stuffing not undone)
// into `values`, where values[n - 1] is the text of message n's line, its
// surrounding blanks gone. Only a listing that names every message from 1
// to `messageCount` once, each with some text, is taken; for anything else
// `values` is left empty and false returned.
bool ParseNumberedListing(std::string_view data, std::int32_t messageCount, std::vector<std::string>& values);
// A UIDL listing: as above, each message with an id of its own. Ids are
// taken as they come, whatever their bytes and length: some servers send
// ids beyond the protocol's form, and one such id must not cost the whole
// mailbox its notices.
bool ParseUidlListing(std::string_view data, std::int32_t messageCount, std::vector<std::string>& ids);
// A LIST listing: as above, each message with its size in octets.
bool ParseListListing(std::string_view data, std::int32_t messageCount, std::vector<std::int32_t>& sizes);

// A message directory is stored with one trailing backslash, unless empty.
std::string NormalizeMessageDirectory(const std::string& directory);
// directory + "msg_" + number + ".eml".
std::string MessageFileName(const std::string& directory, std::int32_t number);

}  // namespace mail
