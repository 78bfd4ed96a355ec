// libFuzzer target for the text rules that meet what a server sends: reply
// judging, the STAT and LIST replies, header splitting and body removal, the
// message directory, and (when the transport's text rules are built in) the
// server setting, line ends and the end-of-data test. Built natively with
// clang by scripts/run-fuzz.sh; every check below aborts on a broken rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/retry_rules.h"
#include "framework/classes.h"
#include "framework/sysutils.h"
#include "mail/failure_kind.h"
#include "mail/pop3_text.h"
#include "mail/mailbox_info.h"
#if __has_include("net/socket_text.h")
#include "net/socket_text.h"
#define TIDEMARK_FUZZ_NET 1
#endif

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool isConversionMessage(const std::string& message) {
    const std::string tail = "' is not a valid integer value";
    return message.size() >= tail.size() + 1 && message[0] == '\'' &&
           message.compare(message.size() - tail.size(), tail.size(), tail) == 0;
}

void fuzzReplyLine(const std::string& line) {
    const int code = mail::PopReplyCode(line);
    check(code == (line.empty() ? 0 : line[0] == '+' ? 1 : line[0] == '-' ? -1 : 0));

    // Without a blank after the status indicator nothing may be assigned.
    const bool hasFields = line.size() > 4 && line.find(' ', 4) != std::string::npos;
    std::int32_t count = -7, size = -9;
    std::string rest = line;
    try {
        mail::ParseStatReply(rest, count, size);
        if (!hasFields) check(count == -7 && size == -9);
        check(rest.size() <= line.size());
    } catch (const fw::EConvertError& e) {
        check(hasFields);
        check(isConversionMessage(e.Message));
    }

    // A response code is bracketed text of the line, without blanks; a reply
    // without one never counts as a refusal that passes.
    const std::string responseCode = mail::PopResponseCode(line);
    check(responseCode.find_first_of(" \t]") == std::string::npos);
    if (!responseCode.empty()) check(line.find(']') != std::string::npos && responseCode.size() + 3 <= line.size());
    mail::TFailureFacts facts;
    facts.Source = mail::TFailureFacts::ServerReply;
    facts.Reply = line;
    if (responseCode.empty()) check(mail::ClassifyFailure(facts) == mail::TFailureKind::NeedsUser);
    // The balloon's text fits its record, whatever the server said.
    check(app::FailingSinceNotice("09:30", line, 255).size() <= 255);

    const std::int32_t listSize = mail::ParseListSize(line);
    // A size can only come from digits in the reply.
    if (listSize != 0) check(line.find_first_of("0123456789abcdefABCDEF") != std::string::npos);
}

void fuzzHeaders(const std::uint8_t* data, std::size_t size) {
    fw::TMemoryStream stream;
    stream.Write(data, size);
    stream.Position = 0;
    mail::THeaderLines headers;
    headers.Add("stale");
    headers.LoadFromStream(stream);
    std::size_t total = 0;
    for (const std::string& l : headers.Lines()) {
        check(l.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        total += l.size();
    }
    check(total + static_cast<std::size_t>(headers.Count()) <= size + 1);
    const auto before = headers.Lines();
    headers.RemoveBody();
    check(headers.Count() <= static_cast<int>(before.size()));
    for (int i = 0; i < headers.Count(); ++i) {
        check(!headers[i].empty());
        check(headers[i] == before[static_cast<std::size_t>(i)]);
    }
    if (headers.Count() < static_cast<int>(before.size())) check(before[static_cast<std::size_t>(headers.Count())].empty());
}

void fuzzDirectory(const std::string& text) {
    const std::string dir = mail::NormalizeMessageDirectory(text);
    check(dir.empty() == text.empty());
    check(dir.empty() || dir.back() == '\\');
    check(mail::NormalizeMessageDirectory(dir) == dir);
    check(dir.compare(0, text.size(), text) == 0);
}

#ifdef TIDEMARK_FUZZ_NET
void fuzzTransport(const std::string& text, const std::uint8_t* data, std::size_t size) {
    const net::ServerParts parts = net::SplitServer(text);
    check(text.compare(0, parts.Host.size(), parts.Host) == 0);
    check(parts.Host.find(':') == std::string::npos);
    if (parts.Port != 0) check(text.size() > parts.Host.size() + 1 && text[parts.Host.size()] == ':');

    const int code = net::ThreeDigitReplyCode(text);
    check(code >= -1 && code <= 999);

    const std::string stripped = net::StripLineEnd(text);
    check(stripped.empty() || (stripped.back() != '\r' && stripped.back() != '\n'));
    check(text.compare(0, stripped.size(), stripped) == 0);

    const std::size_t start = size ? data[0] % (size + 1) : 0;
    const bool complete = net::IsDataComplete(reinterpret_cast<const char*>(data), size, start);
    if (complete) check(size >= 3 && data[size - 1] == '\n' && data[size - 2] == '\r' && data[size - 3] == '.');

    if (size >= 8) {
        std::int64_t done = 0;
        std::int32_t expected = 0;
        for (int i = 0; i < 4; ++i) done = (done << 8) | data[i];
        for (int i = 4; i < 8; ++i) expected = static_cast<std::int32_t>((static_cast<std::uint32_t>(expected) << 8) | data[i]);
        const std::int32_t perc = net::ProgressPercent(done, expected);
        if (expected < 1) check(perc == -1);
        if (expected >= 1 && done <= expected) check(perc >= 0 && perc <= 100);
    }
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A reply line as the socket hands it over: up to the first line end.
    const std::string line = text.substr(0, text.find_first_of("\r\n"));
    fuzzReplyLine(line);
    fuzzHeaders(data, size);
    fuzzDirectory(line);
#ifdef TIDEMARK_FUZZ_NET
    fuzzTransport(line, data, size);
#endif
    return 0;
}
