#pragma once
// The IMAP session: log in, look at the inbox read-only, count its unread
// messages, read the headers of the new ones, and wait in IDLE for the
// server to say that something changed. Tidemark never changes a flag: the
// inbox is opened with EXAMINE and headers are read with BODY.PEEK.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mail/imap_response.h"
#include "mail/mail_session.h"
#include "mail/mailbox_info.h"
#include "mail/new_mail.h"

namespace mail {

struct TImapMessage {
    std::uint32_t Uid = 0;
    // Size (RFC822.SIZE when sent, else 0) and the From, Subject and Date fields.
    TMessageInfo Info;
};

class TImapMailbox : public TMailSession {
public:
    explicit TImapMailbox(fw::TComponent* owner);
    ~TImapMailbox() override;

    std::string UserName;
    std::string Password;
    // An OAuth2 access token: when set, the log-in is AUTHENTICATE XOAUTH2
    // with it (and no password), over a protected connection only.
    std::string AccessToken;
    // The capability names of the last CAPABILITY list (after the log-in
    // when the server sent a new one), upper-cased.
    std::set<std::string> Capabilities;
    // Without a known mark every unseen message counts as new (the newest
    // kMaxHeadersRead of them): for a tool that shows what waits.
    bool ReadAllUnseen = false;
    // The texts of the [ALERT]s the server sent since the last Check began:
    // the server wants the user to read them.
    std::vector<std::string> Alerts;
    // Headers read by one check at most: the newest messages' (a first look
    // at a mailbox with thousands of new messages names the latest ones).
    static constexpr std::size_t kMaxHeadersRead = 50;

    int GetReplyCode(const std::string& line) override;

    // A server text without a port gets the standard one of the security
    // mode: the "imaps" service or 993 for TLS, "imap" or 143 otherwise.
    void Open() override;
    // Greeting (OK, PREAUTH or BYE), CAPABILITY, STARTTLS when the mode says
    // so (never a word of the log-in in plain text), then LOGIN, or
    // AUTHENTICATE PLAIN where the server says LOGINDISABLED (XOAUTH2 with
    // an AccessToken).
    void Login() override;
    // LOGOUT; the socket stays open for Disconnect to close.
    void Logout() override;

    // One check; connects and logs in when no session is open, and leaves
    // it open (in the inbox, examined) for IDLE or the next check. Reads the
    // unread count and the messages that are new since `mark`: unseen with
    // a UID above mark.HighestUid. Without a known mark, or when the
    // server's UIDVALIDITY differs from the mark's, nothing is new (no
    // headers are read) and the mark starts afresh.
    void Check(const TUidMark& mark);

    // The outcome of the last Check.
    std::int64_t UnseenCount = -1;
    std::int64_t MessageCount = -1;  // EXISTS
    // The mark as this check leaves it: the server's UIDVALIDITY and the
    // highest UID the inbox holds.
    TUidMark Mark;
    // Ascending UID; the From, Subject and Date fields only.
    std::vector<TImapMessage> NewMessages;
    // MailboxName of Server and UserName as they were when the check began.
    std::string CheckedMailbox;

    bool CanIdle() const { return Capabilities.count("IDLE") != 0; }
    // Sends IDLE and reads the server's go-ahead (a refusal raises).
    void StartIdle();
    bool Idling() const { return idling_; }
    // Takes the responses the server has sent while idling, without waiting
    // for more: true when the inbox changed (EXISTS, EXPUNGE, FETCH). A BYE
    // or a closed connection raises.
    bool IdleChanged();
    // Sends DONE and reads the IDLE command's tagged answer; true when a
    // change came meanwhile.
    bool EndIdle();

private:
    // One command exchange: sends `command` with a fresh tag, reads every
    // response up to its tagged one and gives that; NO and BAD raise with
    // the tagged line (without its tag) unless `refusalRaises` is off.
    TImapResponse command(const std::string& command, bool refusalRaises = true);
    // The next response, literals included, parsed; untagged ones are
    // handed to takeUntagged first.
    TImapResponse readResponse();
    // Reads responses until the one tagged `tag` (or a go-ahead, where one
    // may come).
    TImapResponse readTagged(const std::string& tag, bool goAheadEnds = false);
    void takeUntagged(const TImapResponse& response);
    // The longest line one response may have now: a SEARCH answer lists up
    // to every message of the inbox.
    std::size_t lineLimit() const;
    std::string nextTag();
    // STARTTLS and the handshake, then CAPABILITY again.
    void startTlsSession();
    void authenticate();
    // An argument of LOGIN: quoted, or a literal sent after the go-ahead.
    void sendWithArguments(const std::string& tag, const std::string& verb, const std::vector<std::string>& arguments);
    void examine();
    void readNewHeaders(const std::vector<std::uint32_t>& uids);
    // A connection kept open between checks without IDLE may have been
    // ended by the server meanwhile (its autologout, a BYE): closed, so the
    // check logs in again instead of failing.
    void dropIfClosed() noexcept;
    // Closes the connection after a failure and forgets the session state.
    void abandon() noexcept;

    bool idling_ = false;
    bool examined_ = false;
    bool loggingOut_ = false;
    // EXISTS, EXPUNGE or FETCH came since the last StartIdle.
    bool changed_ = false;
    std::string idleTag_;
    unsigned tagNumber_ = 0;
    std::uint32_t uidValidity_ = 0;
    // What untagged SEARCH, ESEARCH and FETCH responses brought.
    std::vector<std::uint32_t> searchUids_;
    std::optional<std::int64_t> searchCount_;
    std::optional<std::uint32_t> lastUid_;
    std::vector<TImapMessage> fetched_;
    // The UIDs whose headers are being read, ascending: anything else a
    // server sends is not kept.
    std::vector<std::uint32_t> wantedUids_;
    bool fetching_ = false;
};

}  // namespace mail
