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

// The four bytes of a dotted IPv4 address ("127.0.0.1"): four decimal
// numbers of at most 255, nothing else. False for any other text.
bool Ipv4Bytes(const std::string& text, unsigned char bytes[4]);

// Whether a DNS name of a certificate's subject alternative names stands
// for `host` (RFC 6125): letter case and one trailing dot aside, the same
// name; or "*." and a name of at least two labels, where the "*" stands for
// exactly one whole label of the host. No other "*" matches anything.
bool CertificateNameMatches(const std::string& pattern, const std::string& host);

// size * 100 / expected, rounded to the nearest integer, halves to even.
std::int32_t ProgressPercent(std::int64_t size, std::int32_t expected);

}  // namespace net
