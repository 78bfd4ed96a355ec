#pragma once
// The stored settings under HKEY_CURRENT_USER and the two loads at start-up.
// The loads write straight into the components that hold the settings in
// memory, value by value, so a failure leaves the values read before it
// applied. The password is kept with DPAPI (current user), the certificates
// the user chose to trust by their SHA-256 fingerprints.
#include <functional>
#include <string>

#include "framework/timer.h"
#include "net/socket_client.h"

namespace app {

extern const char* const SettingsKey;

struct SettingsTargets {
    std::string& Server;
    std::string& UserName;
    std::string& Password;
    fw::TTimer& PollTimer;
    bool& HideOnStart;
    net::TSecurity& Security;
};

// When the main form is shown: missing values leave their targets alone; an
// interval text that does not convert (the empty text included) fails. A
// protected password that cannot be decrypted here is left empty and
// reported once every other value is read.
void LoadSettingsOnShow(const SettingsTargets& t);
// At the first animation tick: missing texts empty their targets; an empty
// interval text is skipped; an undecryptable password (reported by the
// show-time load) is left empty without a second report.
void LoadSettingsOnFirstTick(const SettingsTargets& t);
// Stores the dialog's texts as typed (the interval too), the check box and
// the security mode; the password goes protected, and an old plain value is
// deleted. A key that cannot be opened or created fails at the first write.
void SaveSettings(const std::string& server, const std::string& userName, const std::string& password,
                  const std::string& intervalText, bool hideOnStart, net::TSecurity security);
// The poll interval in milliseconds for a number of seconds, formed in
// 32-bit arithmetic as the timer takes it.
unsigned IntervalMsFromSeconds(std::int32_t seconds);

// "tls", "starttls", "none".
std::string SecurityText(net::TSecurity security);
// The mode of a stored "security" text (any letter case). Without one (an
// empty text), TLS when the server text ends in ":995", else none.
// Returns false for any other text.
bool SecurityFromText(const std::string& text, const std::string& server, net::TSecurity& security);

// DPAPI for the current user; Unprotect returns false for a blob this user
// on this machine cannot open (or a damaged one).
std::string ProtectPassword(const std::string& password);
bool UnprotectPassword(const std::string& blob, std::string& password);

// Whether the certificate of `server` may pass although the check found an
// unknown root or a wrong name: the user trusted this very certificate
// before, or `ask` says yes to the question now (then it is stored). The
// question names the server and the fingerprint; a certificate that differs
// from the one trusted is asked about again, the question saying first that
// it changed and showing both fingerprints.
bool AcceptCertificate(const std::string& server, const net::TCertificateVerdict& verdict,
                       const std::function<bool(const std::string& question)>& ask);
// The registry value that keeps the fingerprint trusted for `server`.
std::string TrustedCertificateValue(const std::string& server);

}  // namespace app
