#include "mail/imap_session.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "framework/handles.h"
#include "framework/sysutils.h"
#include "mail/xoauth2.h"

namespace mail {

namespace {
// One header literal (three fields of one message) at most.
constexpr std::size_t kMaxLiteral = 1024 * 1024;
// The shortest line bound: capability lists, status texts, FETCH lines.
constexpr std::size_t kMinLineLimit = 8192;

std::string untagged(const std::string& line) {
    const std::size_t blank = line.find(' ');
    return blank == std::string::npos ? line : line.substr(blank + 1);
}

[[noreturn]] void notImap(const std::string& text) {
    std::string shown = text.substr(0, std::min<std::size_t>(text.find_first_of("\r\n"), 200));
    throw net::EServerError(fw::FormatStr(net::CatalogueText(net::sImapNotImap), shown));
}
}  // namespace

TImapMailbox::TImapMailbox(fw::TComponent* owner) : TMailSession(owner) {
    ServiceName = "imap";
    DefaultPort = 143;
}

TImapMailbox::~TImapMailbox() = default;

int TImapMailbox::GetReplyCode(const std::string&) { return 0; }

void TImapMailbox::Open() {
    if (UserName.empty()) RaiseSocketError(net::sUserNameRequired);
    if (Password.empty() && AccessToken.empty()) RaiseSocketError(net::sPasswordRequired);
    ServiceName = Security == net::TSecurity::Tls ? "imaps" : "imap";
    DefaultPort = Security == net::TSecurity::Tls ? 993 : 143;
    ResetState();
    TMailSession::Open();
}

std::string TImapMailbox::nextTag() { return "a" + std::to_string(++tagNumber_); }

std::size_t TImapMailbox::lineLimit() const {
    // "* SEARCH" and up to ten digits and a blank per message.
    const std::int64_t messages = std::clamp<std::int64_t>(MessageCount, 0, MaxDataSize / 11);
    return std::max<std::size_t>(kMinLineLimit, static_cast<std::size_t>(messages) * 11 + 64);
}

TImapResponse TImapMailbox::readResponse() {
    std::string text, line;
    for (;;) {
        // A hang-up in the middle of a line leaves no line at all.
        if (ReadLine(line, lineLimit()) == -1)
            throw net::EServerError(net::CatalogueText(net::sConnectionClosed), true);
        text += line;
        const std::optional<std::uint64_t> literal = AnnouncedLiteral(line);
        if (!literal) break;
        if (*literal > kMaxLiteral || text.size() + *literal > static_cast<std::size_t>(MaxDataSize))
            RaiseSocketError(net::sReplyTooLong);
        text += "\r\n";
        ReadBytes(text, static_cast<std::size_t>(*literal));
    }
    LastReply = text;
    TImapResponse response;
    try {
        response = ParseImapResponse(text);
    } catch (const EImapSyntax&) {
        notImap(text);
    }
    if (response.IsStatus()) {
        // A few are all a person reads.
        if (response.Code == "ALERT" && Alerts.size() < 10) Alerts.push_back(response.Text);
        if (response.Code == "UIDVALIDITY")
            uidValidity_ = TImapValue{TImapValue::Atom, response.CodeArguments, {}}.Number().value_or(0);
        if (response.Code == "CAPABILITY") {
            Capabilities.clear();
            std::istringstream names(fw::UpperCaseAscii(response.CodeArguments));
            for (std::string name; names >> name;) Capabilities.insert(name);
        }
    }
    if (response.Kind == TImapResponse::Untagged) takeUntagged(response);
    return response;
}

void TImapMailbox::takeUntagged(const TImapResponse& r) {
    const std::string& what = r.Keyword;
    if (what == "BYE") {
        if (!loggingOut_) RaiseSocketError(net::sImapBye, r.Text);
    } else if (what == "CAPABILITY") {
        Capabilities.clear();
        for (const TImapValue& v : r.Values) Capabilities.insert(fw::UpperCaseAscii(v.Text));
    } else if (what == "EXISTS" && r.Number) {
        MessageCount = *r.Number;
        changed_ = true;
    } else if (what == "EXPUNGE" && r.Number) {
        if (MessageCount > 0) --MessageCount;
        changed_ = true;
    } else if (what == "SEARCH") {
        for (const TImapValue& v : r.Values)
            if (const auto uid = v.Number()) searchUids_.push_back(*uid);
        // No more UIDs than messages (and a few that came meanwhile), however
        // many SEARCH lines a server sends.
        if (static_cast<std::int64_t>(searchUids_.size()) > std::max<std::int64_t>(MessageCount, 0) + 100)
            RaiseSocketError(net::sReplyTooLong);
    } else if (what == "ESEARCH") {
        const std::vector<TImapValue>& v = r.Values;
        for (std::size_t i = 0; i + 1 < v.size(); ++i) {
            if (v[i].Is("COUNT") && v[i + 1].Number()) searchCount_ = *v[i + 1].Number();
            try {
                if (v[i].Is("ALL"))
                    ImapExpandSet(v[i + 1].Text, static_cast<std::size_t>(std::max<std::int64_t>(MessageCount, 0)),
                                  searchUids_);
            } catch (const EImapSyntax&) {
                notImap(LastReply);
            }
        }
    } else if (what == "FETCH") {
        changed_ = true;
        if (r.Values.size() != 1 || r.Values[0].Kind != TImapValue::List) notImap(LastReply);
        const std::vector<TImapValue>& items = r.Values[0].Items;
        std::optional<std::uint32_t> uid;
        bool seen = false;
        const TImapValue* body = nullptr;
        std::uint32_t size = 0;
        for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
            const TImapValue& value = items[i + 1];
            if (items[i].Is("UID")) uid = value.Number();
            if (items[i].Is("RFC822.SIZE")) size = value.Number().value_or(0);
            if (items[i].Is("FLAGS"))
                for (const TImapValue& flag : value.Items) seen = seen || flag.Is("\\SEEN");
            if (fw::UpperCaseAscii(items[i].Text).rfind("BODY[", 0) == 0) body = &value;
        }
        if (!uid) return;
        const bool wanted =
            std::binary_search(wantedUids_.begin(), wantedUids_.end(), *uid) &&
            std::none_of(fetched_.begin(), fetched_.end(), [&](const TImapMessage& m) { return m.Uid == *uid; });
        if (fetching_ && body && !seen && wanted) {
            TImapMessage& message = fetched_.emplace_back();
            message.Uid = *uid;
            message.Info.Size = static_cast<std::int32_t>(std::min<std::uint32_t>(size, 0x7FFFFFFF));
            fw::TMemoryStream stream;
            stream.Write(body->Text.data(), body->Text.size());
            stream.Position = 0;
            message.Info.Headers.LoadFromStream(stream);
            message.Info.Headers.RemoveBody();
            message.Info.Headers.KeepFields({"From", "Subject", "Date"});
        } else if (!fetching_) {
            lastUid_ = std::max(lastUid_.value_or(0), *uid);
        }
    }
}

TImapResponse TImapMailbox::readTagged(const std::string& tag, bool goAheadEnds) {
    // A server may send untagged responses without end: one exchange takes
    // no more than one reply may hold.
    std::int64_t total = 0;
    for (;;) {
        TImapResponse r = readResponse();
        if ((total += static_cast<std::int64_t>(LastReply.size()) + 2) > MaxDataSize)
            RaiseSocketError(net::sReplyTooLong);
        if (r.Kind == TImapResponse::Continuation && goAheadEnds) return r;
        if (r.Kind == TImapResponse::Continuation) notImap(LastReply);
        if (r.Kind != TImapResponse::Tagged) continue;
        if (r.Tag != tag) notImap(LastReply);
        return r;
    }
}

TImapResponse TImapMailbox::command(const std::string& text, bool refusalRaises) {
    const std::string tag = nextTag();
    SendLine(tag + " " + text);
    TImapResponse r = readTagged(tag);
    if (refusalRaises && r.Keyword != "OK") throw net::EServerError(untagged(LastReply));
    return r;
}

void TImapMailbox::Login() {
    ResetState();
    tagNumber_ = 0;
    idling_ = examined_ = loggingOut_ = fetching_ = false;
    idleTag_.clear();
    Capabilities.clear();
    ConnectSocket();
    const TImapResponse greeting = readResponse();
    if (greeting.Kind != TImapResponse::Untagged || (greeting.Keyword != "OK" && greeting.Keyword != "PREAUTH"))
        notImap(LastReply);
    const bool preauthenticated = greeting.Keyword == "PREAUTH";
    if (Capabilities.empty()) command("CAPABILITY");
    if (Security == net::TSecurity::StartTls) {
        // STARTTLS is refused once logged in: such a session stays in plain text.
        if (preauthenticated) throw net::EServerError(net::CatalogueText(net::sImapStartTlsNotOffered));
        startTlsSession();
    }
    if (!preauthenticated) authenticate();
}

void TImapMailbox::startTlsSession() {
    if (!Capabilities.count("STARTTLS")) throw net::EServerError(net::CatalogueText(net::sImapStartTlsNotOffered));
    if (command("STARTTLS", false).Keyword != "OK")
        throw net::EServerError(fw::FormatStr(net::CatalogueText(net::sImapStartTlsRefused), untagged(LastReply)));
    StartTls();
    // What the server offered before the handshake may have been forged.
    Capabilities.clear();
    command("CAPABILITY");
}

void TImapMailbox::authenticate() {
    const std::string tag = nextTag();
    std::string mechanism, response;
    if (!AccessToken.empty()) {
        // A token opens the mailbox to whoever reads it: never in plain text.
        if (!Secure()) RaiseSocketError(net::sTokenNeedsTls);
        if (!Capabilities.count("AUTH=XOAUTH2")) RaiseSocketError(net::sXoauth2NotOffered);
        mechanism = "XOAUTH2";
        response = XOAuth2InitialResponse(UserName, AccessToken);
    } else if (!Capabilities.count("LOGINDISABLED")) {
        sendWithArguments(tag, "LOGIN", {UserName, Password});
        if (readTagged(tag).Keyword != "OK") throw net::EServerError(untagged(LastReply));
        return;
    } else {
        // The server takes no password on this connection except by SASL.
        if (!Capabilities.count("AUTH=PLAIN")) RaiseSocketError(net::sImapLoginDisabled);
        mechanism = "PLAIN";
        response = Base64(std::string(1, '\0') + UserName + '\0' + Password);
    }
    if (Capabilities.count("SASL-IR")) {
        SendLine(tag + " AUTHENTICATE " + mechanism + " " + response);
    } else {
        SendLine(tag + " AUTHENTICATE " + mechanism);
        if (readTagged(tag, true).Kind != TImapResponse::Continuation) throw net::EServerError(untagged(LastReply));
        SendLine(response);
    }
    TImapResponse r = readTagged(tag, true);
    // A refused token is told in a go-ahead (the server's reason, encoded);
    // an empty line ends the exchange, and the tagged NO follows.
    TXOAuth2Failure failure;
    if (r.Kind == TImapResponse::Continuation) {
        if (mechanism == "XOAUTH2") failure = ReadXOAuth2Challenge(r.Text);
        SendLine("");
        r = readTagged(tag);
    }
    if (r.Keyword == "OK") return;
    // Only a refused token may mend with a fresh one; a server that cannot
    // log anyone in just now says so in its code.
    if (mechanism != "XOAUTH2" || !failure.TokenRejected || r.Code == "UNAVAILABLE" || r.Code == "SERVERBUG")
        throw net::EServerError(untagged(LastReply));
    const std::string reason = untagged(LastReply) + (failure.Status.empty() ? "" : " (status " + failure.Status + ")");
    throw net::ESocketError(fw::FormatStr(net::CatalogueText(net::sTokenRejected), reason), net::sTokenRejected);
}

void TImapMailbox::sendWithArguments(const std::string& tag, const std::string& verb,
                                     const std::vector<std::string>& arguments) {
    std::string pending = tag + " " + verb;
    for (const std::string& argument : arguments) {
        if (const std::optional<std::string> quoted = ImapQuoted(argument)) {
            pending += " " + *quoted;
            continue;
        }
        // A literal: the server's go-ahead first, unless it takes literals
        // without one (LITERAL+, or LITERAL- up to 4096 bytes).
        const bool unasked =
            Capabilities.count("LITERAL+") || (Capabilities.count("LITERAL-") && argument.size() <= 4096);
        pending += " {" + std::to_string(argument.size()) + (unasked ? "+}\r\n" : "}\r\n");
        if (!unasked) {
            SendText(pending);
            pending.clear();
            const TImapResponse r = readTagged(tag, true);
            if (r.Kind != TImapResponse::Continuation) throw net::EServerError(untagged(LastReply));
        }
        pending += argument;
    }
    SendLine(pending);
}

void TImapMailbox::examine() {
    uidValidity_ = 0;
    command("EXAMINE INBOX");
    examined_ = true;
}

void TImapMailbox::Check(const TUidMark& mark) {
    CheckedMailbox = MailboxName(Server, UserName);
    Alerts.clear();
    NewMessages.clear();
    UnseenCount = -1;
    dropIfClosed();
    Connect();
    try {
        if (idling_) EndIdle();
        if (!examined_) examine();
        // The highest UID the inbox holds: that of its last message.
        lastUid_.reset();
        if (MessageCount > 0) command("UID FETCH * (UID)");
        const bool valid = mark.Known && mark.UidValidity == uidValidity_;
        const std::uint32_t above = valid ? mark.HighestUid : 0;
        const bool wanted = (valid || ReadAllUnseen) && above < 0xFFFFFFFFu;
        searchUids_.clear();
        searchCount_.reset();
        if (Capabilities.count("ESEARCH")) {
            command("UID SEARCH RETURN (COUNT) UNSEEN");
            if (!searchCount_) notImap(LastReply);
            UnseenCount = *searchCount_;
            searchUids_.clear();
            // "N:*" takes in the last message even when its UID is below N.
            if (wanted && UnseenCount > 0) command("UID SEARCH UNSEEN UID " + std::to_string(above + 1) + ":*");
        } else {
            command("UID SEARCH UNSEEN");
        }
        std::sort(searchUids_.begin(), searchUids_.end());
        searchUids_.erase(std::unique(searchUids_.begin(), searchUids_.end()), searchUids_.end());
        if (UnseenCount < 0) UnseenCount = static_cast<std::int64_t>(searchUids_.size());
        std::vector<std::uint32_t> fresh;
        if (wanted)
            for (std::uint32_t uid : searchUids_)
                if (uid > above) fresh.push_back(uid);
        if (fresh.size() > kMaxHeadersRead) fresh.erase(fresh.begin(), fresh.end() - kMaxHeadersRead);
        if (!fresh.empty()) readNewHeaders(fresh);
        std::uint32_t highest = std::max(valid ? mark.HighestUid : 0, lastUid_.value_or(0));
        if (!searchUids_.empty()) highest = std::max(highest, searchUids_.back());
        Mark = TUidMark{true, uidValidity_, highest};
        searchUids_ = {};
    } catch (...) {
        abandon();
        throw;
    }
}

void TImapMailbox::readNewHeaders(const std::vector<std::uint32_t>& uids) {
    fetched_.clear();
    wantedUids_ = uids;
    fetching_ = true;
    command("UID FETCH " + ImapSequenceSet(uids) + " (UID FLAGS BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)])");
    fetching_ = false;
    std::sort(fetched_.begin(), fetched_.end(),
              [](const TImapMessage& a, const TImapMessage& b) { return a.Uid < b.Uid; });
    NewMessages = std::move(fetched_);
    fetched_ = {};
    wantedUids_ = {};
}

void TImapMailbox::StartIdle() {
    try {
        changed_ = false;
        idleTag_ = nextTag();
        SendLine(idleTag_ + " IDLE");
        if (readTagged(idleTag_, true).Kind != TImapResponse::Continuation)
            throw net::EServerError(untagged(LastReply));
        idling_ = true;
        // What came with the go-ahead is in the read buffer already: no
        // FD_READ will announce it.
        if (changed_ || Buffered()) PostReadable();
    } catch (...) {
        abandon();
        throw;
    }
}

bool TImapMailbox::IdleChanged() {
    if (!idling_) return false;
    try {
        const bool open = TakeAvailable(lineLimit());
        while (idling_ && LineBuffered()) {
            const TImapResponse r = readResponse();
            if (r.Kind != TImapResponse::Tagged) continue;
            if (r.Tag != idleTag_) notImap(LastReply);
            // The server ended the IDLE itself.
            idling_ = false;
            changed_ = true;
            if (r.Keyword != "OK") throw net::EServerError(untagged(LastReply));
        }
        if (!open) RaiseSocketError(net::sConnectionClosed);
    } catch (...) {
        abandon();
        throw;
    }
    return changed_;
}

bool TImapMailbox::EndIdle() {
    if (!idling_) return changed_;
    try {
        SendLine("DONE");
        idling_ = false;
        if (readTagged(idleTag_).Keyword != "OK") throw net::EServerError(untagged(LastReply));
    } catch (...) {
        abandon();
        throw;
    }
    return changed_;
}

void TImapMailbox::Logout() {
    if (idling_) EndIdle();
    loggingOut_ = true;
    const fw::ScopeExit done([this] { loggingOut_ = false; });
    command("LOGOUT");
    examined_ = false;
}

void TImapMailbox::dropIfClosed() noexcept {
    if (!Connected() || idling_) return;
    try {
        const bool open = TakeAvailable(lineLimit());
        while (LineBuffered()) readResponse();
        if (open) return;
    } catch (...) {
    }
    abandon();
}

void TImapMailbox::abandon() noexcept {
    idling_ = examined_ = loggingOut_ = fetching_ = false;
    CloseAfterFailure();
}

}  // namespace mail
