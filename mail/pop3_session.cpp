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
    ServiceName = Security == net::TSecurity::Tls ? "pop3s" : "pop3";
    DefaultPort = Security == net::TSecurity::Tls ? 995 : 110;
    ResetState();
    TMailSession::Open();
}

void TPop3Session::ReadStatus() {
    const int code = ReadLine(LastReply);
    if (code == 1) return;
    // A server that hangs up in the middle of its status line leaves no line
    // at all; an empty message box would tell the user nothing.
    if (code == -1 && LastReply.empty()) throw net::EServerError(net::CatalogueText(net::sConnectionClosed));
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
    if (Security == net::TSecurity::StartTls) StartTlsSession();
    Command("USER " + UserName);
    Command("PASS " + Password);
    GetMailboxStat();
}

std::set<std::string> TPop3Session::ReadCapabilities() {
    SendLine("CAPA");
    std::set<std::string> names;
    if (ReadLine(LastReply) != 1) return names;
    std::string line;
    for (int n = 0;; ++n) {
        if (n > MaxCapabilities) RaiseSocketError(net::sReplyTooLong);
        ReadLine(line);
        if (line == ".") break;
        names.insert(CapabilityName(line));
    }
    return names;
}

void TPop3Session::StartTlsSession() {
    if (!ReadCapabilities().count("STLS")) throw net::EServerError(net::CatalogueText(sStlsNotOffered));
    SendLine("STLS");
    if (ReadLine(LastReply) != 1)
        throw net::EServerError(fw::FormatStr(net::CatalogueText(sStlsRefused), LastReply));
    StartTls();
    // What the server offered before the handshake may have been forged.
    ReadCapabilities();
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
        for (std::int32_t i = 0; i < MessageCount; ++i) {
            auto item = std::make_unique<TMessageInfo>();
            GetItemInfo(i, *item);
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
