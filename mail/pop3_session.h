#pragma once
// The POP3 session (TPop3Session: log in, read the statistics, log out) and
// the component the application places on its form (TPop3Mailbox: one entry
// per waiting message with its size and header lines).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mail/mail_session.h"
#include "mail/mailbox_info.h"
#include "mail/new_mail.h"
#include "net/socket_errors.h"

namespace mail {

using TNumberEvent = std::function<void(fw::TObject* Sender, std::int32_t number)>;
// The handler takes over storing the message's raw text.
using TMessageSaveEvent = std::function<void(fw::TObject* Sender, std::int32_t number, fw::TMemoryStream& contents)>;

class TPop3Session : public TMailSession {
public:
    explicit TPop3Session(fw::TComponent* owner);

    std::string UserName;
    // Sent with PASS, in clear text.
    std::string Password;
    // When set, the log-in is AUTH XOAUTH2 with this bearer token in place
    // of USER and PASS, and only over TLS or after STLS: with no security
    // chosen the check fails before it connects.
    std::string AccessToken;
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

    // Stores a retrieved message. The tray program never retrieves one (it
    // reads headers only); this stays for other callers of the session.
    virtual void SaveMessage(std::int32_t number, fw::TMemoryStream& contents) = 0;
    // Raises sUserNameRequired, sPasswordRequired (no token either) or
    // sTokenNeedsTls through RaiseSocketError (OnError fires first).
    void CheckLoginProperties();

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
    // Reads a status line into LastReply and gives its reply code; only a
    // hang-up before the line raises.
    int ReadReply();
    // Reads the greeting. On port 995 without TLS chosen it waits a few
    // seconds at most: that port waits for the client's TLS hello and never
    // greets, and the user must choose TLS rather than see time-outs retried.
    void ReadGreeting();

    // AUTH XOAUTH2 (RFC 5034), with the initial response when CAPA's SASL
    // line names XOAUTH2, else after the server's empty challenge. A refusal
    // with a response code that passes or [SYS/PERM] raises EServerError; any
    // other refusal of the token raises sTokenRejected (the caller may
    // refresh the token once and try again), a failure challenge whose status
    // says the token is fine but not enough EServerError with the verdict.
    void AuthenticateXOAuth2();

private:
    // ReadReply, true for "+...".
    bool readStatusLine();
    // The verdict on the token: "+OK" returns, anything else raises.
    void judgeXOAuth2Reply();
};

class TPop3Mailbox : public TPop3Session {
public:
    explicit TPop3Mailbox(fw::TComponent* owner);
    ~TPop3Mailbox() override;

    // Most messages one check reads; a server that reports more is refused.
    static constexpr std::int64_t kMaxMessagesRead = 1000000;

    // Stored with one trailing backslash, unless empty.
    void SetMessageDirectory(const std::string& value);

    // The result of the last UpdateInfo that got past its log-in.
    TMailboxInfo RemoteInfo;

    // Each check asks for the messages' unique ids (UIDL) and sizes (LIST)
    // and reads TOP only for messages (id and size: a reused id with another
    // size is another message) it has not read before: the header lines of
    // the others come from earlier checks of the same mailbox, so RemoteInfo
    // is what reading every message would give. A server that refuses UIDL
    // or LIST (or sends a listing that does not add up) is read in full.
    bool UseUniqueIds = false;
    // After a successful UpdateInfo that had usable unique ids: true, and
    // UniqueIds[i] is the key of RemoteInfo's item i. False otherwise.
    bool UniqueIdsKnown = false;
    std::vector<TMessageKey> UniqueIds;
    // The mailbox the last check read (MailboxName of its server and user
    // name, as they were when it began: Setup may change them meanwhile).
    std::string CheckedMailbox;

    fw::TNotifyEvent OnUpdatingInfo;
    fw::TNotifyEvent OnInfoUpdated;
    // number is the zero-based index of the item just added.
    TNumberEvent OnNextInfoUpdated;
    TMessageSaveEvent OnUserMessageSave;

    // Logs in, rebuilds RemoteInfo (LIST n and TOP n 1 per message) and logs
    // out. Items keep the From and Subject fields only: the rest of the
    // header is read and dropped. The next check takes the items it needs
    // again from RemoteInfo and UniqueIds as this one leaves them, so
    // nothing is held twice between checks. A failure after the log-in closes the socket, without QUIT, and
    // RemoteInfo keeps the messages read before it. Items beyond MaxDataSize
    // bytes in all fail the check with "Server reply is too long". Where the
    // session is Pipelined the commands go out in batches ahead of their
    // replies; the replies are read in order and the caller sees the same.
    void UpdateInfo();
    // Fills `item` for message index + 1 on a logged-in connection.
    void GetItemInfo(std::int32_t index, TMessageInfo& item);
    // Hands the text to OnUserMessageSave, or writes it to
    // MessageDirectory + "msg_" + number + ".eml".
    void SaveMessage(std::int32_t number, fw::TMemoryStream& contents) override;

protected:
    // The numbers (from 1, ascending) of the messages whose LIST and TOP must
    // be read in this check: all of them, or with unique ids only those the
    // header cache does not hold.
    std::vector<std::int32_t> MessagesToRead();
    // Reads the items of those messages, in that order, and hands each to
    // StoreItem.
    void ReadItems(const std::vector<std::int32_t>& numbers);
    // Adds the item of message `number` to RemoteInfo, after the cached items
    // of the messages before it.
    void StoreItem(std::int32_t number, std::unique_ptr<TMessageInfo> item);
    // Adds the cached items of the messages before `number` not yet added.
    void AddCachedItemsBefore(std::int32_t number);

private:
    // Reads the replies to LIST n and TOP n 1, already sent, into `item`.
    void readItemInfo(TMessageInfo& item);
    // Reads the rest of a TOP reply and keeps its header lines.
    void readHeaders(TMessageInfo& item);
    // Sends UIDL and LIST and makes keys_ and sizes_; false when the server
    // refuses either or a listing is unusable.
    bool readListings();
    // Hands a complete list with keys, as the last check left it, to the
    // cache for this check to take items from.
    void cacheLastItems();

    std::string messageDirectory_;
    // The keys and sizes of this check (valid when idsKnown_), and the items
    // of earlier checks not yet taken again, for the mailbox named by
    // cacheOwner_. Between good checks the cache is empty: its items are in
    // RemoteInfo.
    std::vector<TMessageKey> keys_;
    std::vector<std::int32_t> sizes_;
    bool idsKnown_ = false;
    std::unordered_map<TMessageKey, TMessageInfo, TMessageKeyHash> cache_;
    std::string cacheOwner_;
};

}  // namespace mail
