#pragma once
// The stored settings under HKEY_CURRENT_USER: the program-wide choices in
// the main key, each mailbox in a key of its own (Mailboxes\<n>, n = 1..16),
// and the two loads at start-up. Settings travel as values: the loads fill
// one, Setup edits a copy, the save stores one. The password is kept with
// DPAPI (current user), the certificates the user chose to trust by their
// SHA-256 fingerprints, per mailbox.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/socket_client.h"

namespace app {

extern const char* const SettingsKey;
constexpr int kMaxMailboxes = 16;
// SettingsKey + "\\Mailboxes\\" + n.
std::string MailboxKey(int slot);

// How a mailbox is read: POP3 (every message in the drop counts) or IMAP
// (the inbox's unread messages count). Stored as "pop3" or "imap".
enum class TProtocol { Pop3, Imap };
// How Tidemark proves who it is: the mailbox's password, or a token from the
// provider the user signed in with in the browser (XOAUTH2).
enum class TSignIn { Password, Microsoft, Google, Other };

struct TMailboxSettings {
    // The n of its key, kept while it exists (its trusted certificates stay
    // with it); 0 for one not stored yet.
    int Slot = 0;
    std::string Name;
    std::string Server;
    net::TSecurity Security = net::TSecurity::Tls;
    TProtocol Protocol = TProtocol::Pop3;
    std::string UserName;
    std::string Password;
    TSignIn SignIn = TSignIn::Password;
    // After signing in with a provider: the account it named, and the
    // refresh token (plain here; stored protected, never in plain text).
    std::string Account;
    std::string RefreshToken;
    // A client id of the user's own instead of the built-in one; for
    // "Other", also the provider's endpoints and scope.
    std::string ClientId;
    std::string AuthorizationUrl, TokenUrl, Scope;
    unsigned IntervalMs = 60000;
    bool Announce = true;
    // Where "Open Mail" goes for this mailbox: a webmail address (http or
    // https), or "" for the default mail program.
    std::string WebMail;
    // What the tray and its boxes call it: the name, else the server text.
    std::string Title() const { return Name.empty() ? Server : Name; }
};

struct TSettings {
    bool HideOnStart = false;
    // New mail plays the sound chosen for Tidemark's "New Mail" event.
    bool PlaySound = true;
    std::vector<TMailboxSettings> Mailboxes;
};

// When the main form is shown missing values keep what is in memory; at the
// first animation tick missing texts are emptied and an empty interval text
// is skipped. An interval text that does not convert fails (the empty text
// too, at show time). A protected password that cannot be decrypted here is
// left empty and reported, by the show-time load only, once every other
// value is read. Values read before a failure stay applied. The mailboxes in
// memory become those stored, in the order of their keys.
enum class TLoadMoment { OnShow, OnFirstTick };
void LoadSettings(TSettings& settings, TLoadMoment moment);
// Before the first load of this version: the single mailbox of older ones
// (its values in the main key) is copied to Mailboxes\1 and left where it is,
// for an older Tidemark started again. Runs once: not when Mailboxes exists.
// True when it copied.
bool MoveSingleMailbox();
// Stores every value; the password goes protected, and an old plain value is
// deleted. Mailboxes without a slot take the lowest free one (written back
// into `settings`); keys of mailboxes no longer listed are deleted. A key
// that cannot be opened or created fails at the first write.
void SaveSettings(TSettings& settings);
// Stores the refresh token of the mailbox kept under `slot`, alone: the
// provider may send a new one with any access token, and the old one may
// stop working soon after.
void SaveRefreshToken(int slot, const std::string& token);
// The poll interval in milliseconds for a number of seconds, formed in
// 32-bit arithmetic as the timer takes it.
unsigned IntervalMsFromSeconds(std::int32_t seconds);

// Whether `text` may be a mailbox's webmail address: "" or an http or https
// address without spaces or control characters.
bool WebMailAddressValid(const std::string& text);

// The port a mailbox's server text without one means: 993 (IMAP) or 995
// (POP3) for TLS, else 143 or 110.
int StandardPort(TProtocol protocol, net::TSecurity security);

// "tls", "starttls", "none".
std::string SecurityText(net::TSecurity security);
// The mode of a stored "security" text (any letter case). Without one (an
// empty text), TLS when the server text ends in ":995" or ":993", else none.
// Returns false for any other text.
bool SecurityFromText(const std::string& text, const std::string& server, net::TSecurity& security);

// DPAPI for the current user; Unprotect returns false for a blob this user
// on this machine cannot open (or a damaged one).
std::string ProtectPassword(const std::string& password);
bool UnprotectPassword(const std::string& blob, std::string& password);

// Whether the certificate of `server` (a mailbox stored under `key`) may pass although the check found an
// unknown root or a wrong name: the user trusted this very certificate
// before, or `ask` says yes to the question now (then it is stored). The
// question names the server and the fingerprint; a certificate that differs
// from the one trusted is asked about again, the question saying first that
// it changed and showing both fingerprints.
bool AcceptCertificate(const std::string& key, const std::string& server, const net::TCertificateVerdict& verdict,
                       const std::function<bool(const std::string& question)>& ask);
// The registry value that keeps the fingerprint trusted for `server`.
std::string TrustedCertificateValue(const std::string& server);

}  // namespace app
