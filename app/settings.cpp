#include "app/settings.h"

#include <wincrypt.h>

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
const char* const kBadSecurity = "The saved security setting '%s' is not tls, starttls or none; TLS is used until "
                                 "Setup saves another";

// What a load does with a value that is not stored.
enum class MissingValue { Keep, Empty };

// The one reader behind both loads. The interval text must convert, except
// that the first-tick load skips an empty one.
void loadSettings(const SettingsTargets& t, MissingValue missing) {
    TRegistry reg;
    if (!reg.OpenKey(SettingsKey, false)) return;
    auto readText = [&](const char* name, std::string& target) {
        if (reg.ValueExists(name))
            target = reg.ReadString(name);
        else if (missing == MissingValue::Empty)
            target.clear();
    };
    std::string problem;
    readText("server", t.Server);
    // The protected value first; an old plain one still counts until Setup saves.
    if (reg.ValueExists("password_protected")) {
        if (!UnprotectPassword(reg.ReadBinaryData("password_protected"), t.Password)) {
            t.Password.clear();
            problem = kUnreadablePassword;
        }
    } else {
        readText("password", t.Password);
    }
    readText("username", t.UserName);
    // Never weaker than asked: a text that names no mode means TLS.
    const std::string securityText = reg.ValueExists("security") ? reg.ReadString("security") : "";
    if (!SecurityFromText(securityText, t.Server, t.Security)) {
        t.Security = net::TSecurity::Tls;
        problem = FormatStr(kBadSecurity, securityText);
    }
    if (reg.ValueExists("interval")) {
        const std::string text = reg.ReadString("interval");
        if (!(missing == MissingValue::Empty && text.empty()))
            t.PollTimer.SetInterval(IntervalMsFromSeconds(StrToInt(text)));
    }
    if (reg.ValueExists("hideonstart")) t.HideOnStart = reg.ReadInteger("hideonstart") != 0;
    // Told once, by the show-time load, after everything else is in place.
    if (!problem.empty() && missing == MissingValue::Keep) throw Exception(problem);
}
}  // namespace

unsigned IntervalMsFromSeconds(std::int32_t seconds) {
    return static_cast<std::uint32_t>(seconds) * 1000u;
}

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
        const bool implicit = server.size() >= 4 && server.compare(server.size() - 4, 4, ":995") == 0;
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
    if (blob.empty() ||
        !CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    UniqueLocalMemory owned(out.pbData);
    password.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    return true;
}

void LoadSettingsOnShow(const SettingsTargets& t) { loadSettings(t, MissingValue::Keep); }

void LoadSettingsOnFirstTick(const SettingsTargets& t) { loadSettings(t, MissingValue::Empty); }

void SaveSettings(const std::string& server, const std::string& userName, const std::string& password,
                  const std::string& intervalText, bool hideOnStart, net::TSecurity security) {
    const std::string protectedPassword = ProtectPassword(password);
    TRegistry reg;
    // Whether the key could be opened shows at the first write.
    reg.OpenKey(SettingsKey, true);
    reg.WriteString("server", server);
    reg.WriteString("username", userName);
    reg.WriteBinaryData("password_protected", protectedPassword);
    // The plain copy of older versions goes once the protected one is there.
    if (!reg.DeleteValue("password")) throw ERegistryException("Failed to delete 'password'");
    reg.WriteString("interval", intervalText);
    reg.WriteInteger("hideonstart", hideOnStart ? 1 : 0);
    reg.WriteString("security", SecurityText(security));
}

std::string TrustedCertificateValue(const std::string& server) {
    return "trusted_certificate " + fw::LowerCaseAscii(server);
}

bool AcceptCertificate(const std::string& server, const net::TCertificateVerdict& verdict,
                       const std::function<bool(const std::string& question)>& ask) {
    if (!verdict.MayTrustOnce || verdict.Fingerprint.empty()) return false;
    const std::string value = TrustedCertificateValue(server);
    std::string trusted;
    {
        TRegistry reg;
        if (reg.OpenKey(SettingsKey, false) && reg.ValueExists(value)) trusted = reg.ReadString(value);
    }
    if (!trusted.empty() && trusted == verdict.Fingerprint) return true;
    // A changed certificate is what an interception looks like: that comes first.
    const std::string question =
        trusted.empty()
            ? verdict.Message + ".\n\nTrust this certificate for " + server + "? SHA-256 fingerprint: " +
                  verdict.Fingerprint
            : "The certificate of " + server + " has changed since you trusted it. " + verdict.Message +
                  ".\n\nSHA-256 fingerprint you trusted: " + trusted + "\nSHA-256 fingerprint now: " +
                  verdict.Fingerprint + "\n\nTrust the new certificate for " + server + "?";
    if (!ask || !ask(question)) return false;
    TRegistry reg;
    reg.OpenKey(SettingsKey, true);
    reg.WriteString(value, verdict.Fingerprint);
    return true;
}

}  // namespace app
