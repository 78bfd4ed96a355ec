#include "app/settings.h"

#include <wincrypt.h>

#include <algorithm>

#include "framework/registry.h"
#include "framework/security_handles.h"
#include "framework/sysutils.h"

namespace app {

using namespace fw;

const char* const SettingsKey = "Software\\Brindlewick Software\\Tidemark";

namespace {
// Ties the protected blob to this use: another program's DPAPI blob of the
// same user does not open as a Tidemark password.
const char kEntropy[] = "Tidemark POP3 password";

const char* const kUnreadablePassword =
    "The saved password cannot be read here (it was saved by another user or on another computer). "
    "Please enter the password again in Setup";
const char* const kBadSecurity =
    "The saved security setting '%s' is not tls, starttls or none; TLS is used until "
    "Setup saves another";

const char* const kUnreadableSignIn =
    "The saved sign-in of %s cannot be read here (it was saved by another user or on another computer). "
    "Please sign in again in Setup";
const char* const kBadProtocol = "The saved protocol '%s' is not pop3 or imap; POP3 is used until Setup saves another";
const char* const kBadSignIn =
    "The saved sign-in '%s' is not password, microsoft, google or other; the password is used until Setup saves "
    "another";
const char* const kSignInTexts[] = {"password", "microsoft", "google", "other"};

const char* const kMailboxValues[] = {"server",   "username", "password_protected", "password", "security",
                                      "interval", "announce"};

// One mailbox's key, read into `box` as the load moment says.
void readMailbox(TRegistry& reg, TMailboxSettings& box, TLoadMoment moment, std::string& problem) {
    const bool empty = moment == TLoadMoment::OnFirstTick;
    auto readText = [&](const char* name, std::string& target) {
        if (reg.ValueExists(name))
            target = reg.ReadString(name);
        else if (empty)
            target.clear();
    };
    readText("name", box.Name);
    readText("server", box.Server);
    // The protected value first; an old plain one still counts until Setup saves.
    if (reg.ValueExists("password_protected")) {
        if (!UnprotectPassword(reg.ReadBinaryData("password_protected"), box.Password)) {
            box.Password.clear();
            problem = kUnreadablePassword;
        }
    } else {
        readText("password", box.Password);
    }
    readText("username", box.UserName);
    // Never weaker than asked: a text that names no mode means TLS.
    const std::string securityText = reg.ValueExists("security") ? reg.ReadString("security") : "";
    if (!SecurityFromText(securityText, box.Server, box.Security)) {
        box.Security = net::TSecurity::Tls;
        problem = FormatStr(kBadSecurity, securityText);
    }
    const std::string protocolText = reg.ValueExists("protocol") ? reg.ReadString("protocol") : "";
    const std::string protocol = LowerCaseAscii(protocolText);
    box.Protocol = protocol == "imap" ? TProtocol::Imap : TProtocol::Pop3;
    if (!protocol.empty() && protocol != "imap" && protocol != "pop3")
        problem = FormatStr(kBadProtocol, protocolText.substr(0, 100));
    const std::string signInText = reg.ValueExists("signin") ? reg.ReadString("signin") : "";
    const std::string signIn = LowerCaseAscii(signInText);
    box.SignIn = TSignIn::Password;
    for (int i = 0; i < 4; ++i)
        if (signIn == kSignInTexts[i]) box.SignIn = static_cast<TSignIn>(i);
    if (!signIn.empty() && signIn != kSignInTexts[static_cast<int>(box.SignIn)])
        problem = FormatStr(kBadSignIn, signInText.substr(0, 100));
    readText("account", box.Account);
    if (reg.ValueExists("refresh_token_protected")) {
        if (!UnprotectPassword(reg.ReadBinaryData("refresh_token_protected"), box.RefreshToken)) {
            box.RefreshToken.clear();
            problem = FormatStr(kUnreadableSignIn, box.Title());
        }
    } else if (empty) {
        box.RefreshToken.clear();
    }
    readText("oauth_client_id", box.ClientId);
    readText("oauth_authorize_url", box.AuthorizationUrl);
    readText("oauth_token_url", box.TokenUrl);
    readText("oauth_scope", box.Scope);
    if (reg.ValueExists("interval")) {
        const std::string text = reg.ReadString("interval");
        if (!(empty && text.empty())) box.IntervalMs = IntervalMsFromSeconds(StrToInt(text));
    }
    if (reg.ValueExists("announce"))
        box.Announce = reg.ReadInteger("announce") != 0;
    else if (empty)
        box.Announce = true;
    readText("webmail", box.WebMail);
    // Only ever opened as a web address: anything else is dropped, and said.
    if (!WebMailAddressValid(box.WebMail)) {
        problem =
            "The webmail address of " + box.Title() + " is not an http or https address: " + box.WebMail.substr(0, 100);
        box.WebMail.clear();
    }
}
}  // namespace

int StandardPort(TProtocol protocol, net::TSecurity security) {
    const bool tls = security == net::TSecurity::Tls;
    return protocol == TProtocol::Imap ? (tls ? 993 : 143) : (tls ? 995 : 110);
}

void SaveRefreshToken(int slot, const std::string& token) {
    TRegistry box;
    if (slot < 1 || slot > kMaxMailboxes || token.empty() || !box.OpenKey(MailboxKey(slot), false)) return;
    box.WriteBinaryData("refresh_token_protected", ProtectPassword(token));
}

unsigned IntervalMsFromSeconds(std::int32_t seconds) { return static_cast<std::uint32_t>(seconds) * 1000u; }

std::string SecurityText(net::TSecurity security) {
    switch (security) {
        case net::TSecurity::Tls: return "tls";
        case net::TSecurity::StartTls: return "starttls";
        default: return "none";
    }
}

bool SecurityFromText(const std::string& text, const std::string& server, net::TSecurity& security) {
    const std::string t = fw::LowerCaseAscii(text);
    if (t.empty()) {
        const std::string port = server.substr(server.size() - std::min<std::size_t>(server.size(), 4));
        const bool implicit = port == ":995" || port == ":993";
        security = implicit ? net::TSecurity::Tls : net::TSecurity::None;
    } else if (t == "tls") {
        security = net::TSecurity::Tls;
    } else if (t == "starttls") {
        security = net::TSecurity::StartTls;
    } else if (t == "none") {
        security = net::TSecurity::None;
    } else {
        return false;
    }
    return true;
}

std::string ProtectPassword(const std::string& password) {
    DATA_BLOB in{static_cast<DWORD>(password.size()), reinterpret_cast<BYTE*>(const_cast<char*>(password.data()))};
    DATA_BLOB entropy{sizeof kEntropy - 1, reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"Tidemark", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        throw Exception("The password could not be protected for saving (error " +
                        IntToStr(static_cast<std::int64_t>(GetLastError())) + ")");
    UniqueLocalMemory owned(out.pbData);
    return std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
}

bool UnprotectPassword(const std::string& blob, std::string& password) {
    DATA_BLOB in{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()))};
    DATA_BLOB entropy{sizeof kEntropy - 1, reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
    DATA_BLOB out{};
    if (blob.empty() || !CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    UniqueLocalMemory owned(out.pbData);
    password.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    return true;
}

std::string MailboxKey(int slot) { return std::string(SettingsKey) + "\\Mailboxes\\" + std::to_string(slot); }

void LoadSettings(TSettings& settings, TLoadMoment moment) {
    std::string problem;
    std::vector<TMailboxSettings> found;
    // Each stored mailbox over the one in memory of the same key; the list
    // in memory follows as far as the read got, so a failure keeps both the
    // values read before it and the mailboxes not reached yet.
    auto apply = [&](std::size_t upTo) {
        std::vector<TMailboxSettings> list = found;
        for (const TMailboxSettings& m : settings.Mailboxes)
            if (m.Slot > static_cast<int>(upTo) || m.Slot == 0) list.push_back(m);
        settings.Mailboxes = std::move(list);
    };
    TRegistry reg;
    if (!reg.OpenKey(SettingsKey, false)) return;
    // Nothing stored yet: the mailboxes in memory stay as they are.
    const bool stored = reg.KeyExists(std::string(SettingsKey) + "\\Mailboxes");
    for (int slot = 1; stored && slot <= kMaxMailboxes; ++slot) {
        TRegistry box;
        if (!box.OpenKey(MailboxKey(slot), false)) continue;
        TMailboxSettings m;
        m.Slot = slot;
        for (const TMailboxSettings& known : settings.Mailboxes)
            if (known.Slot == slot) m = known;
        found.push_back(m);
        try {
            readMailbox(box, found.back(), moment, problem);
        } catch (...) {
            apply(static_cast<std::size_t>(slot));
            throw;
        }
    }
    if (stored) settings.Mailboxes = std::move(found);
    if (reg.ValueExists("hideonstart")) settings.HideOnStart = reg.ReadInteger("hideonstart") != 0;
    if (reg.ValueExists("playsound")) settings.PlaySound = reg.ReadInteger("playsound") != 0;
    // Told once, by the show-time load, after everything else is in place.
    if (!problem.empty() && moment == TLoadMoment::OnShow) throw Exception(problem);
}

bool MoveSingleMailbox() {
    TRegistry old;
    if (!old.OpenKey(SettingsKey, false) || old.KeyExists(std::string(SettingsKey) + "\\Mailboxes")) return false;
    bool any = false;
    for (const char* name : kMailboxValues) any = any || old.ValueExists(name);
    if (!any) return false;
    TRegistry box;
    box.OpenKey(MailboxKey(1), true);
    // Copied as stored, bytes and types alike: the new key reads exactly as the old one did.
    auto copy = [&](const std::string& name) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(old.Key(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
        std::string data(size, '\0');
        if (RegQueryValueExA(old.Key(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
                ERROR_SUCCESS ||
            RegSetValueExA(box.Key(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), size) !=
                ERROR_SUCCESS)
            throw ERegistryException(FormatStr("Failed to set data for '%s'", name));
    };
    for (const char* name : kMailboxValues) copy(name);
    if (old.ValueExists("server")) {
        std::string server;
        try {
            server = old.ReadString("server");
        } catch (const ERegistryException&) {
        }
        copy(TrustedCertificateValue(server));
    }
    return true;
}

void SaveSettings(TSettings& settings) {
    // Protected before anything is written: a failure leaves the stored settings whole.
    std::vector<std::string> protectedPasswords, protectedTokens;
    for (const TMailboxSettings& m : settings.Mailboxes) {
        protectedPasswords.push_back(ProtectPassword(m.Password));
        protectedTokens.push_back(m.RefreshToken.empty() ? "" : ProtectPassword(m.RefreshToken));
    }
    TRegistry reg;
    // Whether the key could be opened shows at the first write.
    reg.OpenKey(SettingsKey, true);
    reg.WriteInteger("hideonstart", settings.HideOnStart ? 1 : 0);
    reg.WriteInteger("playsound", settings.PlaySound ? 1 : 0);
    // The old values stay for an older version, all but a plain password:
    // once Setup has saved it protected, no copy in the clear is left.
    if (!reg.DeleteValue("password")) throw ERegistryException("Failed to delete 'password'");
    // A key belongs to one mailbox: a second one claiming it (a copy) gets its own.
    bool used[kMaxMailboxes + 1] = {};
    for (TMailboxSettings& m : settings.Mailboxes) {
        if (m.Slot >= 1 && m.Slot <= kMaxMailboxes && !used[m.Slot])
            used[m.Slot] = true;
        else
            m.Slot = 0;
    }
    for (int slot = 1; slot <= kMaxMailboxes; ++slot)
        if (!used[slot] && !reg.DeleteKey(MailboxKey(slot)))
            throw ERegistryException("Failed to delete mailbox " + std::to_string(slot));
    for (std::size_t i = 0; i < settings.Mailboxes.size(); ++i) {
        TMailboxSettings& m = settings.Mailboxes[i];
        if (m.Slot == 0) {
            for (int slot = 1; slot <= kMaxMailboxes && !m.Slot; ++slot)
                if (!used[slot]) used[m.Slot = slot] = true;
            if (!m.Slot) throw Exception("At most " + std::to_string(kMaxMailboxes) + " mailboxes can be kept");
        }
        TRegistry box;
        box.OpenKey(MailboxKey(m.Slot), true);
        box.WriteString("name", m.Name);
        box.WriteString("server", m.Server);
        box.WriteString("username", m.UserName);
        box.WriteBinaryData("password_protected", protectedPasswords[i]);
        // The plain copy of older versions goes once the protected one is there.
        if (!box.DeleteValue("password")) throw ERegistryException("Failed to delete 'password'");
        box.WriteString("interval", std::to_string(m.IntervalMs / 1000));
        box.WriteString("security", SecurityText(m.Security));
        box.WriteInteger("announce", m.Announce ? 1 : 0);
        box.WriteString("webmail", m.WebMail);
        box.WriteString("protocol", m.Protocol == TProtocol::Imap ? "imap" : "pop3");
        box.WriteString("signin", kSignInTexts[static_cast<int>(m.SignIn)]);
        box.WriteString("account", m.Account);
        // No token is stored as no value: an empty blob would read as one that cannot be opened.
        if (protectedTokens[i].empty()) {
            if (!box.DeleteValue("refresh_token_protected"))
                throw ERegistryException("Failed to delete 'refresh_token_protected'");
        } else {
            box.WriteBinaryData("refresh_token_protected", protectedTokens[i]);
        }
        box.WriteString("oauth_client_id", m.ClientId);
        box.WriteString("oauth_authorize_url", m.AuthorizationUrl);
        box.WriteString("oauth_token_url", m.TokenUrl);
        box.WriteString("oauth_scope", m.Scope);
    }
}

bool WebMailAddressValid(const std::string& text) {
    if (text.empty()) return true;
    const std::string lower = fw::LowerCaseAscii(text);
    const std::size_t scheme = lower.rfind("https://", 0) == 0 ? 8 : lower.rfind("http://", 0) == 0 ? 7 : 0;
    if (scheme == 0 || text.size() == scheme || text.size() > 2048) return false;
    for (unsigned char c : text)
        if (c <= ' ' || c == 0x7F) return false;
    return true;
}

std::string TrustedCertificateValue(const std::string& server) {
    return "trusted_certificate " + fw::LowerCaseAscii(server);
}

bool AcceptCertificate(const std::string& key, const std::string& server, const net::TCertificateVerdict& verdict,
                       const std::function<bool(const std::string& question)>& ask) {
    if (!verdict.MayTrustOnce || verdict.Fingerprint.empty()) return false;
    const std::string value = TrustedCertificateValue(server);
    std::string trusted;
    {
        TRegistry reg;
        if (reg.OpenKey(key, false) && reg.ValueExists(value)) trusted = reg.ReadString(value);
    }
    if (!trusted.empty() && trusted == verdict.Fingerprint) return true;
    // A changed certificate is what an interception looks like: that comes first.
    const std::string question = trusted.empty()
                                     ? verdict.Message + ".\n\nTrust this certificate for " + server +
                                           "? SHA-256 fingerprint: " + verdict.Fingerprint
                                     : "The certificate of " + server + " has changed since you trusted it. " +
                                           verdict.Message + ".\n\nSHA-256 fingerprint you trusted: " + trusted +
                                           "\nSHA-256 fingerprint now: " + verdict.Fingerprint +
                                           "\n\nTrust the new certificate for " + server + "?";
    if (!ask || !ask(question)) return false;
    TRegistry reg;
    reg.OpenKey(key, true);
    reg.WriteString(value, verdict.Fingerprint);
    return true;
}

}  // namespace app
