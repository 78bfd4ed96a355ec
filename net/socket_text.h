#pragma once
// Text rules of the socket: the server setting's host and port, reply codes,
// the end of multi-line data and the progress percentage. No <windows.h>
// here: this file also builds natively for the fuzzer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

struct ServerParts {
    std::string Host;
    // 0 when the setting names no usable port (the service lookup decides).
    std::uint16_t Port = 0;
};

// "host" or "host:port". The host is the text before the first ":"; the
// port is the integer after it, by its low 16 bits (0 when it is not one).
ServerParts SplitServer(const std::string& server);

// The first three characters as a decimal number, or -1 when they are not
// three digits.
int ThreeDigitReplyCode(const std::string& line);

// The line without all of its trailing CR and LF characters.
std::string StripLineEnd(std::string line);

// Whether multi-line data is complete: the bytes end with CR LF "." CR LF,
// or the bytes received since `start` are just "." CR LF (an empty reply,
// whose terminator line follows the status line directly).
bool IsDataComplete(const char* data, std::size_t size, std::size_t start);

// size * 100 / expected, rounded to the nearest integer, halves to even.
std::int32_t ProgressPercent(std::int64_t size, std::int32_t expected);

}  // namespace net
