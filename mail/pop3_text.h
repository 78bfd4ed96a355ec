#pragma once
// The POP3 text rules: how a reply line is judged and how the STAT and LIST
// replies are read. No <windows.h> here: this file also builds natively for
// the fuzzer.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace mail {

// 1 for a line that begins with '+', -1 for one that begins with '-', 0 for
// an empty line or any other first character. Callers accept only 1.
int PopReplyCode(const std::string& line);

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

    explicit TCommandWindow(std::int32_t messageCount) : count_(messageCount) {}
    // The commands to send before the replies about message `index` + 1
    // are read, all of those before it having been read; empty when none
    // are due.
    std::string Due(std::int32_t index);

private:
    std::int32_t count_;
    std::int32_t sent_ = 0;
    std::int32_t answered_ = 0;
    std::size_t bytes_ = 0;
};

// A message directory is stored with one trailing backslash, unless empty.
std::string NormalizeMessageDirectory(const std::string& directory);
// directory + "msg_" + number + ".eml".
std::string MessageFileName(const std::string& directory, std::int32_t number);

}  // namespace mail
