#include "mail/pop3_session.h"

#include <algorithm>
#include <utility>

#include "framework/handles.h"
#include "framework/sysutils.h"
#include "framework/system_error.h"
#include "mail/new_mail.h"
#include "mail/failure_kind.h"
#include "mail/pop3_text.h"
#include "mail/xoauth2.h"

namespace mail {

TPop3Session::TPop3Session(fw::TComponent* owner) : TMailSession(owner) {
    ServiceName = "pop3";
    DefaultPort = 110;
}

int TPop3Session::GetReplyCode(const std::string& line) { return PopReplyCode(line); }

void TPop3Session::CheckLoginProperties() {
    if (UserName.empty()) RaiseSocketError(net::sUserNameRequired);
    if (!AccessToken.empty()) {
        if (Security == net::TSecurity::None) RaiseSocketError(net::sTokenNeedsTls);
        return;
    }
    if (Password.empty()) RaiseSocketError(net::sPasswordRequired);
}

void TPop3Session::Open() {
    CheckLoginProperties();
    ServiceName = Security == net::TSecurity::Tls ? "pop3s" : "pop3";
    DefaultPort = Security == net::TSecurity::Tls ? 995 : 110;
    ResetState();
    TMailSession::Open();
}

int TPop3Session::ReadReply() {
    const int code = ReadLine(LastReply);
    // A server that hangs up in the middle of its status line leaves no line
    // at all; an empty message box would tell the user nothing.
    if (code == -1 && LastReply.empty()) throw net::EServerError(net::CatalogueText(net::sConnectionClosed), true);
    return code;
}

bool TPop3Session::readStatusLine() { return ReadReply() == 1; }

void TPop3Session::ReadGreeting() {
    if (Security == net::TSecurity::Tls || RemotePort() != 995) return ReadStatus();
    constexpr std::int32_t kTlsPortGreetingSeconds = 5;
    const std::int32_t timeOut = TimeOut();
    SetTimeOut(std::min(timeOut, kTlsPortGreetingSeconds));
    const fw::ScopeExit restore([&] { SetTimeOut(timeOut); });
    try {
        ReadStatus();
    } catch (const net::ETimedOutError&) {
        RaiseSocketError(net::sNoGreetingOnTlsPort);
    }
}

void TPop3Session::ReadStatus() {
    if (!readStatusLine()) throw net::EServerError(LastReply);
}

void TPop3Session::RequestCapabilities() {
    Capabilities.clear();
    SendLine("CAPA");
    if (!readStatusLine()) return;
    // The caller's progress handler hears about message data only.
    net::TProgressEvent progress = std::exchange(OnProgress, nullptr);
    fw::TMemoryStream lines;
    try {
        ReadData(lines, -1);
    } catch (...) {
        OnProgress = std::move(progress);
        throw;
    }
    OnProgress = std::move(progress);
    Capabilities = ParseCapabilities(std::string(lines.Memory(), static_cast<std::size_t>(lines.Size())));
}

void TPop3Session::Command(const std::string& line) {
    SendLine(line);
    ReadStatus();
}

void TPop3Session::Login() {
    ResetState();
    ConnectSocket();
    ReadGreeting();
    RequestCapabilities();
    if (Security == net::TSecurity::StartTls) StartTlsSession();
    if (!AccessToken.empty()) {
        AuthenticateXOAuth2();
    } else {
        Command("USER " + UserName);
        Command("PASS " + Password);
    }
    GetMailboxStat();
}

namespace {
// A SASL challenge: "+", a blank, and base64 (empty for a go-ahead).
bool isChallenge(const std::string& line) { return line == "+" || line.rfind("+ ", 0) == 0; }
}  // namespace

void TPop3Session::AuthenticateXOAuth2() {
    // The setting was checked before connecting; this guards the wire itself.
    if (!Secure()) RaiseSocketError(net::sTokenNeedsTls);
    const std::string response = XOAuth2InitialResponse(UserName, AccessToken);
    if (Capabilities.count("SASL:XOAUTH2")) {
        SendLine("AUTH XOAUTH2 " + response);
        ReadReply();
    } else {
        // A server whose SASL line leaves XOAUTH2 out has said no already;
        // one that lists no mechanisms at all may still take it.
        if (Capabilities.count("SASL")) RaiseSocketError(net::sXoauth2NotOffered);
        SendLine("AUTH XOAUTH2");
        ReadReply();
        if (isChallenge(LastReply)) {
            SendLine(response);
            ReadReply();
        }
    }
    judgeXOAuth2Reply();
}

void TPop3Session::judgeXOAuth2Reply() {
    TXOAuth2Failure failure;
    if (isChallenge(LastReply)) {
        // RFC 7628: a failure comes as a challenge first; the client answers
        // it with an empty line, and the server then gives its verdict.
        failure = ReadXOAuth2Challenge(LastReply.substr(std::min<std::size_t>(2, LastReply.size())));
        SendLine("");
        ReadReply();
    }
    if (LastReply.rfind("+OK", 0) == 0) return;
    if (!failure.TokenRejected || PopResponseCode(LastReply) == "SYS/PERM" ||
        ClassifyFailure({TFailureFacts::ServerReply, 0, LastReply}) == TFailureKind::Passing)
        throw net::EServerError(LastReply);
    const std::string reason = LastReply + (failure.Status.empty() ? "" : " (status " + failure.Status + ")");
    throw net::ESocketError(fw::FormatStr(net::CatalogueText(net::sTokenRejected), reason), net::sTokenRejected);
}

void TPop3Session::StartTlsSession() {
    if (!Capabilities.count("STLS")) throw net::EServerError(net::CatalogueText(net::sStlsNotOffered));
    SendLine("STLS");
    if (!readStatusLine()) throw net::EServerError(fw::FormatStr(net::CatalogueText(net::sStlsRefused), LastReply));
    StartTls();
    // What the server offered before the handshake may have been forged.
    RequestCapabilities();
}

void TPop3Session::GetMailboxStat() {
    Command("STAT");
    ParseStatReply(LastReply, MessageCount, MailboxSize);
}

void TPop3Session::Logout() { Command("QUIT"); }

TPop3Mailbox::TPop3Mailbox(fw::TComponent* owner) : TPop3Session(owner) {}

TPop3Mailbox::~TPop3Mailbox() = default;

void TPop3Mailbox::SetMessageDirectory(const std::string& value) {
    messageDirectory_ = NormalizeMessageDirectory(value);
}

void TPop3Mailbox::UpdateInfo() {
    Connect();
    try {
        if (OnUpdatingInfo) OnUpdatingInfo(this);
        cacheLastItems();
        // The header cache decides which messages are read at all.
        ReadItems(MessagesToRead());
        AddCachedItemsBefore(MessageCount + 1);
    } catch (...) {
        // What this check read is kept for the next one, which on a link
        // that keeps failing must still get further each time.
        if (idsKnown_)
            for (int i = 0; i < RemoteInfo.Count(); ++i)
                cache_.insert_or_assign(keys_[static_cast<std::size_t>(i)], RemoteInfo.Items(i));
        // Without QUIT: the session is abandoned, and the next UpdateInfo
        // must log in again rather than work on a connection in an unknown
        // state.
        CloseAfterFailure();
        throw;
    }
    // What is left in the cache is of messages no longer on the server. A
    // check without ids says nothing about them: ids never change, so the
    // cache stays as it was.
    if (idsKnown_) cache_ = {};
    UniqueIdsKnown = idsKnown_;
    if (idsKnown_) UniqueIds = std::move(keys_);
    RemoteInfo.Trim();
    sizes_ = {};
    Disconnect();
    if (OnInfoUpdated) OnInfoUpdated(this);
}

void TPop3Mailbox::cacheLastItems() {
    if (UniqueIdsKnown && UniqueIds.size() == static_cast<std::size_t>(RemoteInfo.Count()))
        for (int i = 0; i < RemoteInfo.Count(); ++i)
            cache_.insert_or_assign(UniqueIds[static_cast<std::size_t>(i)], std::move(RemoteInfo.Items(i)));
    RemoteInfo.Clear();
    UniqueIdsKnown = false;
    UniqueIds = {};
    idsKnown_ = false;
    keys_.clear();
}

std::vector<std::int32_t> TPop3Mailbox::MessagesToRead() {
    // Another server or user is another mailbox: its ids say nothing about
    // the items kept so far.
    CheckedMailbox = MailboxName(Server, UserName);
    if (CheckedMailbox != cacheOwner_) {
        cache_ = {};
        cacheOwner_ = CheckedMailbox;
    }
    idsKnown_ = UseUniqueIds && MessageCount >= 0 && readListings();
    std::vector<std::int32_t> numbers;
    for (std::int32_t n = 1; n <= MessageCount; ++n) {
        if (idsKnown_ && cache_.count(keys_[static_cast<std::size_t>(n - 1)])) continue;
        // A count no real mailbox reaches (2^31 - 1, say) must not become a
        // list of billions: it is a reply beyond what one check may keep.
        if (static_cast<std::int64_t>(numbers.size()) >= kMaxMessagesRead) RaiseSocketError(net::sReplyTooLong);
        numbers.push_back(n);
    }
    return numbers;
}

bool TPop3Mailbox::readListings() {
    keys_.clear();
    sizes_.clear();
    if (MessageCount == 0) return true;
    // A server that takes commands pipelined gets both at once: one round
    // trip fewer on every check.
    const bool both = Pipelined();
    SendText(both ? "UIDL\r\nLIST\r\n" : "UIDL\r\n");
    fw::TMemoryStream uidl, list;
    const auto listing = [this](fw::TMemoryStream& stream) {
        if (ReadReply() != 1) return false;
        ReadData(stream, -1);
        return true;
    };
    const auto text = [](const fw::TMemoryStream& stream) {
        return std::string_view(stream.Memory(), static_cast<std::size_t>(stream.Size()));
    };
    std::vector<std::string> ids;
    const bool idsRead = listing(uidl) && ParseUidlListing(text(uidl), MessageCount, ids);
    if (!both && !idsRead) return false;
    if (!both) SendLine("LIST");
    // With both sent, the LIST reply is read even after a useless UIDL one.
    if (!listing(list) || !idsRead || !ParseListListing(text(list), MessageCount, sizes_)) return false;
    keys_.reserve(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) keys_.push_back(MessageKey(ids[i], sizes_[i]));
    // Two ids of one hash would be one message to the cache: such a listing
    // is not used, however unlikely.
    std::vector<std::uint64_t> hashes;
    for (const TMessageKey& key : keys_) hashes.push_back(key.Id);
    std::sort(hashes.begin(), hashes.end());
    if (std::adjacent_find(hashes.begin(), hashes.end()) != hashes.end()) {
        keys_.clear();
        return false;
    }
    return true;
}

void TPop3Mailbox::ReadItems(const std::vector<std::int32_t>& numbers) {
    // A server may claim any count and answer every LIST and TOP: the check
    // as a whole keeps no more than one reply may.
    std::int64_t kept = 0;
    const bool pipelined = Pipelined();
    TCommandWindow window(numbers, !idsKnown_);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        auto item = std::make_unique<TMessageInfo>();
        if (pipelined) {
            const std::string due = window.Due(static_cast<std::int32_t>(i));
            if (!due.empty()) SendText(due);
            if (idsKnown_) {
                ReadStatus();
                readHeaders(*item);
            } else {
                readItemInfo(*item);
            }
        } else if (idsKnown_) {
            Command("TOP " + fw::IntToStr(numbers[i]) + " 1");
            readHeaders(*item);
        } else {
            GetItemInfo(numbers[i] - 1, *item);
        }
        if (idsKnown_) item->Size = sizes_[static_cast<std::size_t>(numbers[i] - 1)];
        kept += item->KeptBytes();
        if (kept > MaxDataSize) RaiseSocketError(net::sReplyTooLong);
        StoreItem(numbers[i], std::move(item));
    }
}

void TPop3Mailbox::StoreItem(std::int32_t number, std::unique_ptr<TMessageInfo> item) {
    AddCachedItemsBefore(number);
    RemoteInfo.Add(std::move(item));
    if (OnNextInfoUpdated) OnNextInfoUpdated(this, RemoteInfo.Count() - 1);
}

void TPop3Mailbox::AddCachedItemsBefore(std::int32_t number) {
    if (!idsKnown_) return;
    while (RemoteInfo.Count() + 1 < number) {
        auto found = cache_.find(keys_[static_cast<std::size_t>(RemoteInfo.Count())]);
        if (found == cache_.end())
            throw fw::EInvalidOperation("Message " + fw::IntToStr(RemoteInfo.Count() + 1) + " was not read");
        RemoteInfo.Add(std::move(cache_.extract(found).mapped()));
        if (OnNextInfoUpdated) OnNextInfoUpdated(this, RemoteInfo.Count() - 1);
    }
}

void TPop3Mailbox::GetItemInfo(std::int32_t index, TMessageInfo& item) {
    const std::string n = fw::IntToStr(static_cast<std::int64_t>(index) + 1);
    Command("LIST " + n);
    item.Size = ParseListSize(LastReply);
    Command("TOP " + n + " 1");
    readHeaders(item);
}

void TPop3Mailbox::readItemInfo(TMessageInfo& item) {
    ReadStatus();
    item.Size = ParseListSize(LastReply);
    ReadStatus();
    readHeaders(item);
}

void TPop3Mailbox::readHeaders(TMessageInfo& item) {
    // The whole reply is held while it is parsed; ReadData bounds its size.
    fw::TMemoryStream stream;
    ReadData(stream, -1);
    stream.Position = 0;
    item.Headers.LoadFromStream(stream);
    item.Headers.RemoveBody();
    // A person is shown the sender and the subject; the rest of a header
    // kept for every message of a large mailbox would cost megabytes.
    item.Headers.KeepFields({"From", "Subject"});
}

void TPop3Mailbox::SaveMessage(std::int32_t number, fw::TMemoryStream& contents) {
    if (OnUserMessageSave) {
        OnUserMessageSave(this, number, contents);
        return;
    }
    const std::string name = MessageFileName(messageDirectory_, number);
    fw::UniqueFile file(
        CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw fw::Exception("Cannot create file \"" + name + "\". " + fw::SystemErrorText(GetLastError()));
    const char* data = contents.Memory();
    std::size_t left = static_cast<std::size_t>(contents.Size());
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
        if (!WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0)
            throw fw::Exception("Error writing file \"" + name + "\". " + fw::SystemErrorText(GetLastError()));
        data += written;
        left -= written;
    }
}

}  // namespace mail
