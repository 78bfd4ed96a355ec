#include "mail/pop3_session.h"

#include "framework/handles.h"
#include "framework/sysutils.h"
#include "mail/new_mail.h"
#include "mail/pop3_text.h"

namespace mail {

namespace {
std::string SysErrorText(DWORD code) {
    char buffer[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ')) --n;
    return std::string(buffer, n);
}
}  // namespace

TPop3Session::TPop3Session(fw::TComponent* owner) : TMailSession(owner) {
    ServiceName = "pop3";
    DefaultPort = 110;
}

int TPop3Session::GetReplyCode(const std::string& line) { return PopReplyCode(line); }

void TPop3Session::CheckLoginProperties() {
    if (UserName.empty()) RaiseSocketError(sUserNameRequired);
    if (Password.empty()) RaiseSocketError(sPasswordRequired);
}

void TPop3Session::Open() {
    CheckLoginProperties();
    ResetState();
    TMailSession::Open();
}

int TPop3Session::ReadReply() {
    const int code = ReadLine(LastReply);
    // A server that hangs up in the middle of its status line leaves no line
    // at all; an empty message box would tell the user nothing.
    if (code == -1 && LastReply.empty()) throw net::EServerError(net::CatalogueText(net::sConnectionClosed));
    return code;
}

void TPop3Session::ReadStatus() {
    if (ReadReply() != 1) throw net::EServerError(LastReply);
}

void TPop3Session::Command(const std::string& line) {
    SendLine(line);
    ReadStatus();
}

void TPop3Session::Login() {
    ResetState();
    ConnectSocket();
    ReadStatus();
    Command("USER " + UserName);
    Command("PASS " + Password);
    GetMailboxStat();
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
        RemoteInfo.Clear();
        UniqueIdsKnown = false;
        UniqueIds.clear();
        // The header cache decides which messages are read at all.
        ReadItems(MessagesToRead());
        AddCachedItemsBefore(MessageCount + 1);
    } catch (...) {
        // Without QUIT: the session is abandoned, and the next UpdateInfo
        // must log in again rather than work on a connection in an unknown
        // state.
        CloseAfterFailure();
        throw;
    }
    // Only the ids still on the server are kept, so the cache stays the size
    // of the mailbox. A check without ids says nothing about them: ids never
    // change, so the cache stays as it was.
    if (idsKnown_) {
        std::map<std::string, TMessageInfo> kept;
        for (const std::string& id : ids_)
            if (auto found = headerCache_.find(id); found != headerCache_.end()) kept.insert(headerCache_.extract(found));
        headerCache_.swap(kept);
    }
    UniqueIdsKnown = idsKnown_;
    if (idsKnown_) UniqueIds = ids_;
    Disconnect();
    if (OnInfoUpdated) OnInfoUpdated(this);
}

std::vector<std::int32_t> TPop3Mailbox::MessagesToRead() {
    // Another server or user is another mailbox: its ids say nothing about
    // the items kept so far.
    CheckedMailbox = MailboxName(Server, UserName);
    if (CheckedMailbox != cacheOwner_) {
        headerCache_.clear();
        cacheOwner_ = CheckedMailbox;
    }
    ids_.clear();
    idsKnown_ = UseUniqueIds && MessageCount >= 0 && (MessageCount == 0 || readUniqueIds(ids_));
    std::vector<std::int32_t> numbers;
    for (std::int32_t n = 1; n <= MessageCount; ++n) {
        if (idsKnown_ && headerCache_.count(ids_[static_cast<std::size_t>(n - 1)])) continue;
        // A count no real mailbox reaches must not become a list of billions.
        if (static_cast<std::int64_t>(numbers.size()) >= kMaxMessagesRead)
            throw net::EServerError("The server reports " + fw::IntToStr(MessageCount) + " messages, more than " +
                                    fw::IntToStr(kMaxMessagesRead) + " can be read");
        numbers.push_back(n);
    }
    return numbers;
}

bool TPop3Mailbox::readUniqueIds(std::vector<std::string>& ids) {
    SendLine("UIDL");
    if (ReadReply() != 1) return false;
    fw::TMemoryStream stream;
    ReadData(stream, -1);
    return ParseUidlListing(std::string_view(stream.Memory(), static_cast<std::size_t>(stream.Size())), MessageCount, ids);
}

void TPop3Mailbox::ReadItems(const std::vector<std::int32_t>& numbers) {
    for (std::int32_t n : numbers) {
        auto item = std::make_unique<TMessageInfo>();
        GetItemInfo(n - 1, *item);
        StoreItem(n, std::move(item));
    }
}

void TPop3Mailbox::StoreItem(std::int32_t number, std::unique_ptr<TMessageInfo> item) {
    AddCachedItemsBefore(number);
    if (idsKnown_) headerCache_[ids_[static_cast<std::size_t>(number - 1)]] = *item;
    RemoteInfo.Add(std::move(item));
    if (OnNextInfoUpdated) OnNextInfoUpdated(this, RemoteInfo.Count() - 1);
}

void TPop3Mailbox::AddCachedItemsBefore(std::int32_t number) {
    if (!idsKnown_) return;
    while (RemoteInfo.Count() + 1 < number) {
        const auto found = headerCache_.find(ids_[static_cast<std::size_t>(RemoteInfo.Count())]);
        if (found == headerCache_.end())
            throw fw::EInvalidOperation("Message " + fw::IntToStr(RemoteInfo.Count() + 1) + " was not read");
        RemoteInfo.Add(std::make_unique<TMessageInfo>(found->second));
        if (OnNextInfoUpdated) OnNextInfoUpdated(this, RemoteInfo.Count() - 1);
    }
}

void TPop3Mailbox::GetItemInfo(std::int32_t Index, TMessageInfo& Item) {
    const std::string n = fw::IntToStr(static_cast<std::int64_t>(Index) + 1);
    Command("LIST " + n);
    Item.Size = ParseListSize(LastReply);
    Command("TOP " + n + " 1");
    // The whole reply is held while it is parsed; ReadData bounds its size.
    fw::TMemoryStream stream;
    ReadData(stream, -1);
    stream.Position = 0;
    Item.Headers.LoadFromStream(stream);
    Item.Headers.RemoveBody();
}

void TPop3Mailbox::SaveMessage(std::int32_t Num, fw::TMemoryStream& Contents) {
    if (OnUserMessageSave) {
        OnUserMessageSave(this, Num, Contents);
        return;
    }
    const std::string name = MessageFileName(messageDirectory_, Num);
    fw::UniqueFile file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw fw::Exception("Cannot create file \"" + name + "\". " + SysErrorText(GetLastError()));
    const char* data = Contents.Memory();
    std::size_t left = static_cast<std::size_t>(Contents.Size());
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
        if (!WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0)
            throw fw::Exception("Error writing file \"" + name + "\". " + SysErrorText(GetLastError()));
        data += written;
        left -= written;
    }
}

}  // namespace mail
