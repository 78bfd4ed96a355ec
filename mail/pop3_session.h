#pragma once
// The POP3 session (TPop3Session: log in, read the statistics, log out) and
// the component the application places on its form (TPop3Mailbox: one entry
// per waiting message with its size and header lines).
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "mail/mail_session.h"
#include "mail/mailbox_info.h"
#include "net/socket_errors.h"

namespace mail {

using TNumberEvent = std::function<void(fw::TObject* Sender, std::int32_t Num)>;
// The handler takes over storing the message's raw text.
using TMessageSaveEvent = std::function<void(fw::TObject* Sender, std::int32_t Num, fw::TMemoryStream& Contents)>;

// Catalogue ids of the mail layer's own messages (string table).
enum : std::uint16_t {
    sUserNameRequired = 57103,
    sPasswordRequired = 57104,
    sStlsNotOffered = 57105,
    sStlsRefused = 57106,
};

class TPop3Session : public TMailSession {
public:
    explicit TPop3Session(fw::TComponent* owner);

    std::string UserName;
    // Sent with PASS, in clear text.
    std::string Password;
    // From the last STAT that got that far; -1 until then.
    std::int32_t MessageCount = -1;
    std::int32_t MailboxSize = -1;
    // Off: one command at a time, even with a server that offers pipelining.
    bool UsePipelining = true;
    // The capability names of the last log-in's CAPA reply, upper-cased;
    // empty when the server refused CAPA.
    std::set<std::string> Capabilities;

    // 1 for "+...", -1 for "-...", 0 for anything else; callers accept only 1.
    int GetReplyCode(const std::string& line) override;
    // Checks the login properties before anything else happens, so a missing
    // one is reported before OnOpen and before any lookup. A server text
    // without a port gets the standard one of the security mode: the
    // "pop3s" service or 995 for TLS, "pop3" or 110 otherwise.
    void Open() override;
    // Connects (with TLS, the handshake), reads the greeting, asks for the
    // capabilities, with STARTTLS protects the connection, sends USER and
    // PASS, then STAT.
    void Login() override;
    // Sends QUIT; the socket stays open for Disconnect to close.
    void Logout() override;

    virtual void SaveMessage(std::int32_t Num, fw::TMemoryStream& Contents) = 0;
    // Raises 57103 or 57104 through RaiseSocketError (OnError fires first).
    virtual void CheckLoginProperties();

    // Sends STAT and reads the message count and mailbox size from the reply.
    void GetMailboxStat();
    // Commands may go out without waiting for each reply: the server
    // listed PIPELINING and UsePipelining is on.
    bool Pipelined() const { return UsePipelining && Capabilities.count("PIPELINING") != 0; }

protected:
    // Sends one command line and reads its status line into LastReply; any
    // reply but "+..." raises EServerError with the line as received.
    void Command(const std::string& line);
    // Reads a status line into LastReply, judged as in Command.
    void ReadStatus();
    // Sends CAPA and keeps the names of the reply in Capabilities. A refusal
    // is no failure: that server gets one command at a time.
    void RequestCapabilities();
    // STLS (when CAPA offered it), the handshake with its certificate check,
    // then CAPA again over the protected connection. Any failure raises
    // before a word of the login is sent.
    void StartTlsSession();

private:
    // Reads a status line into LastReply: true for "+...", false for any
    // other line; a hang-up before a whole line raises.
    bool readStatusLine();
};

class TPop3Mailbox : public TPop3Session {
public:
    explicit TPop3Mailbox(fw::TComponent* owner);
    ~TPop3Mailbox() override;

    const std::string& MessageDirectory() const { return messageDirectory_; }
    // Stored with one trailing backslash, unless empty.
    void SetMessageDirectory(const std::string& value);

    // The result of the last UpdateInfo that got past its log-in.
    TMailboxInfo RemoteInfo;

    fw::TNotifyEvent OnUpdatingInfo;
    fw::TNotifyEvent OnInfoUpdated;
    // Num is the zero-based index of the item just added.
    TNumberEvent OnNextInfoUpdated;
    TMessageSaveEvent OnUserMessageSave;

    // Logs in, rebuilds RemoteInfo (LIST n and TOP n 1 per message) and logs
    // out. A failure after the log-in closes the socket, without QUIT, and
    // RemoteInfo keeps the messages read before it. Items beyond MaxDataSize
    // bytes in all fail the check with "Server reply is too long". Where the
    // session is Pipelined the commands go out in batches ahead of their
    // replies; the replies are read in order and the caller sees the same.
    void UpdateInfo();
    // Fills `Item` for message Index + 1 on a logged-in connection.
    void GetItemInfo(std::int32_t Index, TMessageInfo& Item);
    // Hands the text to OnUserMessageSave, or writes it to
    // MessageDirectory + "msg_" + Num + ".eml".
    void SaveMessage(std::int32_t Num, fw::TMemoryStream& Contents) override;

private:
    // Reads the replies to LIST n and TOP n 1, already sent, into `Item`.
    void readItemInfo(TMessageInfo& Item);
    // Reads the rest of a TOP reply and keeps its header lines.
    void readHeaders(TMessageInfo& Item);

    std::string messageDirectory_;
};

}  // namespace mail
