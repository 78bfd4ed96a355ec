#pragma once
// The POP3 text rules: how a reply line is judged and how the STAT and LIST
// replies are read. No <windows.h> here: this file also builds natively for
// the fuzzer.
#include <cstdint>
#include <string>

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

// A message directory is stored with one trailing backslash, unless empty.
std::string NormalizeMessageDirectory(const std::string& directory);
// directory + "msg_" + number + ".eml".
std::string MessageFileName(const std::string& directory, std::int32_t number);

}  // namespace mail
