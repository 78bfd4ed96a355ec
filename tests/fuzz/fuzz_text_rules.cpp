// libFuzzer target for the text rules that meet what a server sends: reply
// judging, the STAT, LIST, CAPA and UIDL replies, header splitting and body
// removal, header decoding and sender names, the seen-id list and the
// notice's words, the message directory, the server setting, line ends and
// the end of data, and what OAuth2 reads (JSON answers and claims, base64,
// the XOAUTH2 failure challenge). Built natively with clang by scripts/run-fuzz.sh; every
// check below aborts on a broken rule.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/mail_notice_text.h"
#include "app/retry_rules.h"
#include "framework/classes.h"
#include "framework/json_text.h"
#include "framework/sysutils.h"
#include "mail/failure_kind.h"
#include "mail/header_text.h"
#include "mail/imap_response.h"
#include "mail/mailbox_info.h"
#include "mail/new_mail.h"
#include "mail/pop3_text.h"
#include "mail/xoauth2.h"
#include "net/socket_text.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void fuzzReplyLine(const std::string& line) {
    check(mail::PopReplyCode(line) == (line.empty() ? 0 : line[0] == '+' ? 1
                                                      : line[0] == '-'   ? -1
                                                                         : 0));
    // Without a blank after the status indicator nothing may be assigned.
    const bool hasFields = line.size() > 4 && line.find(' ', 4) != std::string::npos;
    std::int32_t count = -7, size = -9;
    std::string rest = line;
    try {
        mail::ParseStatReply(rest, count, size);
        check((hasFields || (count == -7 && size == -9)) && rest.size() <= line.size());
    } catch (const fw::EConvertError& e) {
        const std::string tail = "' is not a valid integer value";
        check(hasFields && e.Message.size() > tail.size() && e.Message[0] == '\'' &&
              e.Message.compare(e.Message.size() - tail.size(), tail.size(), tail) == 0);
    }
    // A response code is bracketed text of the line, without blanks; a reply
    // without one never counts as a refusal that passes.
    const std::string responseCode = mail::PopResponseCode(line);
    check(responseCode.find_first_of(" \t]") == std::string::npos);
    check(responseCode.empty() || (line.find(']') != std::string::npos && responseCode.size() + 3 <= line.size()));
    mail::TFailureFacts facts;
    facts.Source = mail::TFailureFacts::ServerReply;
    facts.Reply = line;
    check(!responseCode.empty() || !mail::ImapResponseCode(line).empty() ||
          mail::ClassifyFailure(facts) == mail::TFailureKind::NeedsUser);
    // Any response either parses or is told to be no IMAP.
    try {
        const mail::TImapResponse r = mail::ParseImapResponse(line);
        check(r.Kind != mail::TImapResponse::Tagged || !r.Tag.empty());
    } catch (const mail::EImapSyntax&) {
    }
    // The balloon's text fits its record, whatever the server said.
    check(app::FailingSinceNotice("09:30", line, 255).size() <= 255);
    // A size can only come from digits in the reply.
    check(mail::ParseListSize(line) == 0 || line.find_first_of("0123456789abcdefABCDEF") != std::string::npos);
    const std::string dir = mail::NormalizeMessageDirectory(line);
    check(dir.empty() == line.empty() && (dir.empty() || dir.back() == '\\'));
    check(mail::NormalizeMessageDirectory(dir) == dir && dir.compare(0, line.size(), line) == 0);
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
        total += l.size() + 1;
    }
    check(total <= size + 1);
    const auto before = headers.Lines();
    headers.RemoveBody();
    for (int i = 0; i < headers.Count(); ++i) check(!headers[i].empty() && headers[i] == before[static_cast<std::size_t>(i)]);
    check(headers.Count() == static_cast<int>(before.size()) || before[static_cast<std::size_t>(headers.Count())].empty());
}

std::u16string widened(std::string_view bytes) {
    std::u16string out;
    for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

void fuzzNewMail(const std::string& text, const std::string& line, std::int32_t count) {
    std::vector<std::string> ids{"stale"};
    mail::TSeenIds seen, loaded;
    std::vector<mail::TMessageKey> keys;
    if (mail::ParseUidlListing(text, count, ids)) {
        for (const std::string& id : ids) keys.push_back(mail::MessageKey(id, static_cast<std::int64_t>(id.size())));
        check(ids.size() == static_cast<std::size_t>(count) && seen.Update(keys).Indexes.empty());
        for (const std::string& id : ids) check(!id.empty() && id.find('\n') == std::string::npos);
        check(loaded.FromText(seen.ToText("m"), "m") && loaded.Ids == seen.Ids && loaded.Update(keys).Indexes.empty());
    } else {
        check(ids.empty());
    }
    std::vector<std::int32_t> sizes;
    if (mail::ParseListListing(text, count, sizes))
        check(sizes.size() == static_cast<std::size_t>(count) && *std::min_element(sizes.begin(), sizes.end()) >= 0);
    std::string euc;
    if (mail::Iso2022JpToEucJp(text, euc)) check(euc.size() <= 2 * text.size());
    check(loaded.FromText(text, "m") ? std::is_sorted(loaded.Ids.begin(), loaded.Ids.end()) : loaded.Ids.empty() && !loaded.Known);
    // With no charset known, every word is shown exactly as written; with
    // one byte per character, decoding can only shorten the text.
    const auto convert = [](bool labelled) {
        return [labelled](std::string_view cs, std::string_view b, std::u16string& o) {
            o = widened(b);
            return labelled || cs.empty();
        };
    };
    check(mail::DecodeHeaderText(line, convert(false)) == widened(line));
    check(mail::DecodeHeaderText(line, convert(true)).size() <= line.size());
    check(mail::SenderDisplayText(line).size() <= line.size() && mail::CodePageOfCharset(line) <= 65535);
    fw::TStringList lines;
    lines.SetText(text.data(), text.size());
    const app::TNoticeEntry entry{mail::DecodedSender(lines.Lines(), convert(true)),
                                  mail::DecodedSubject(lines.Lines(), convert(true))};
    for (char16_t c : entry.Subject + entry.Sender) check(c >= 0x20 && c != 0x7F);
    check(app::NoticeText(std::vector<app::TNoticeEntry>(count, entry), count).size() <= 255);
}

void fuzzTransport(const std::string& text, const std::uint8_t* data, std::size_t size) {
    const net::ServerParts parts = net::SplitServer(text);
    check(text.compare(0, parts.Host.size(), parts.Host) == 0 && parts.Host.find(':') == std::string::npos);
    check(parts.Port == 0 || (text.size() > parts.Host.size() + 1 && text[parts.Host.size()] == ':'));
    // A wildcard over one label only would stand for every name under it.
    check(!net::CertificateNameMatches("*." + text.substr(text.rfind('.') + 1), "a." + text));
    unsigned char ip[4];
    check(!net::Ipv4Bytes(text, ip) || (text.size() >= 7 && text.size() <= 15));
    const int code = net::ThreeDigitReplyCode(text);
    check(code >= -1 && code <= 999);
    const std::string stripped = net::StripLineEnd(text);
    check((stripped.empty() || (stripped.back() != '\r' && stripped.back() != '\n')) &&
          text.compare(0, stripped.size(), stripped) == 0);
    const std::size_t start = size ? data[0] % (size + 1) : 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    if (net::IsDataComplete(bytes, size, start)) check(size >= 3 && bytes[size - 1] == '\n' && bytes[size - 2] == '\r' && bytes[size - 3] == '.');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A reply line as the socket hands it over: up to the first line end.
    const std::string line = text.substr(0, text.find_first_of("\r\n"));
    fuzzReplyLine(line);
    fuzzHeaders(data, size);
    for (const std::string& name : mail::ParseCapabilities(text))
        check(!name.empty() && name.find_first_of(" \t\n") == std::string::npos && fw::UpperCaseAscii(name) == name);
    std::map<std::string, std::string> members;
    check(fw::ReadJsonObject(text, members) || members.empty());
    mail::ReadXOAuth2Challenge(line);
    std::string bytes;
    check(fw::Base64Decode(fw::Base64Encode(text, size % 2), bytes) && bytes == text);
    fuzzNewMail(text, line, size ? data[0] % 8 : 0);
    fuzzTransport(line, data, size);
    return 0;
}
