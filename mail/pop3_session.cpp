#include "mail/pop3_session.h"

#include "framework/handles.h"
#include "framework/sysutils.h"
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

void TPop3Session::ReadStatus() {
    const int code = ReadLine(LastReply);
    if (code == 1) return;
    // A server that hangs up in the middle of its status line leaves no line
    // at all; an empty message box would tell the user nothing.
    if (code == -1 && LastReply.empty())
        throw net::EServerError(net::CatalogueText(net::sConnectionClosed), true);
    throw net::EServerError(LastReply);
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
        // A server may claim any count (2^31 - 1, say) and answer every LIST
        // and TOP: the check as a whole keeps no more than one reply may.
        std::int64_t kept = 0;
        for (std::int32_t i = 0; i < MessageCount; ++i) {
            auto item = std::make_unique<TMessageInfo>();
            GetItemInfo(i, *item);
            kept += item->KeptBytes();
            if (kept > MaxDataSize) RaiseSocketError(net::sReplyTooLong);
            RemoteInfo.Add(std::move(item));
            if (OnNextInfoUpdated) OnNextInfoUpdated(this, RemoteInfo.Count() - 1);
        }
    } catch (...) {
        // Without QUIT: the session is abandoned, and the next UpdateInfo
        // must log in again rather than work on a connection in an unknown
        // state.
        CloseAfterFailure();
        throw;
    }
    Disconnect();
    if (OnInfoUpdated) OnInfoUpdated(this);
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
