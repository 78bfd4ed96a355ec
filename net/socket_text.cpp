#include "net/socket_text.h"

#include <cstring>
#include <string_view>

#include "framework/sysutils.h"

namespace net {

bool Ipv4Bytes(const std::string& text, unsigned char bytes[4]) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
        unsigned value = 0, digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4; ++at, ++digits)
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
        if (digits == 0 || digits > 3 || value > 255) return false;
        bytes[part] = static_cast<unsigned char>(value);
    }
    return at == text.size();
}

bool CertificateNameMatches(const std::string& pattern, const std::string& host) {
    auto plain = [](std::string name) {
        if (!name.empty() && name.back() == '.') name.pop_back();
        return fw::UpperCaseAscii(name);
    };
    const std::string p = plain(pattern), h = plain(host);
    if (p.empty() || h.empty() || h.find('*') != std::string::npos) return false;
    if (p.find('*') == std::string::npos) return p == h;
    // "*.org" would stand for every name under a top-level domain.
    if (p.rfind("*.", 0) != 0 || p.find('*', 1) != std::string::npos) return false;
    const std::string rest = p.substr(1);
    const std::size_t dot = h.find('.');
    return rest.find('.', 1) != std::string::npos && rest.back() != '.' && rest.find("..") == std::string::npos &&
           dot != std::string::npos && dot > 0 && h.substr(dot) == rest;
}

ServerParts SplitServer(const std::string& server) {
    ServerParts parts;
    const auto colon = server.find(':');
    if (colon == std::string::npos) {
        parts.Host = server;
        return parts;
    }
    parts.Host = server.substr(0, colon);
    // Stored settings may carry any number here: it is taken by its low 16
    // bits, so "host:65646" still reaches port 110; text that is not a
    // number, and a result of 0, leave the choice to the service lookup.
    parts.Port = static_cast<std::uint16_t>(fw::StrToIntDef(server.substr(colon + 1), 0));
    return parts;
}

int ThreeDigitReplyCode(const std::string& line) {
    if (line.size() < 3) return -1;
    int value = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string StripLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

bool IsDataComplete(const char* data, std::size_t size, std::size_t start) {
    if (start <= size && size - start == 3 && std::memcmp(data + start, ".\r\n", 3) == 0) return true;
    return size >= 5 && std::memcmp(data + size - 5, "\r\n.\r\n", 5) == 0;
}

std::int32_t ProgressPercent(std::int64_t size, std::int32_t expected) {
    if (expected < 1) return -1;
    const std::int64_t scaled = size * 100;
    std::int64_t q = scaled / expected;
    const std::int64_t twiceRest = (scaled % expected) * 2;
    if (twiceRest > expected || (twiceRest == expected && (q & 1))) ++q;
    return static_cast<std::int32_t>(q);
}

}  // namespace net
