// popcheck [--timeout SECONDS] [--tls | --starttls] [--ca FILE] [--imap [--idle SECONDS]] SERVER[:PORT] USER (PASSWORD
// | --password-file FILE) popcheck [options] (--oauth2 PROVIDER [--client-id ID ...] | --token-file FILE) SERVER[:PORT]
// USER
//
// Runs one mailbox check with the same component the tray program uses and
// prints what it found: the negotiated protocol and cipher of a protected
// connection, the message count, the mailbox size, and one line per message
// with its number, size, Subject and From, tab-separated and decoded as the
// new-mail notice decodes them. On a failure it prints the error message and
// exits with 1 when the user must mend something (a refused password, an
// unknown host) or 75 when the failure passes by itself (no network, a
// refused connection, a time-out, a locked mailbox), the temporary-failure
// code of mail tools; 2 is wrong usage, told with what was wrong. So users
// can try their settings and scripts can time a check or decide to try again
// later. The time-out bounds each wait of the check (60 seconds unless given).
// With --imap it checks an IMAP inbox instead: the unread count, and one line
// per unread message (the newest 50 at most: a check reads no more headers)
// with its UID, Subject, From and Date; --idle then waits in IDLE and prints
// each change as the server reports it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "framework/application.h"
#include "framework/files.h"
#include "framework/handles.h"
#include "framework/sysutils.h"
#include "mail/charsets.h"
#include "mail/failure_kind.h"
#include "mail/header_text.h"
#include "mail/imap_session.h"
#include "mail/pop3_session.h"
#include "net/oauth2.h"

namespace {

enum : int { kExitNeedsUser = 1, kExitUsage = 2, kExitPassing = 75 };

const char kUsage[] =
    "usage: popcheck [--timeout SECONDS] [--tls | --starttls] [--ca FILE] [--imap [--idle SECONDS]] SERVER[:PORT] USER "
    "PASSWORD\n"
    "       popcheck [options] --password-file FILE SERVER[:PORT] USER\n"
    "       popcheck [options] (--oauth2 PROVIDER | --token-file FILE) SERVER[:PORT] USER\n"
    "Logs in to a POP3 (or IMAP) mailbox, lists the waiting messages and logs out again;\n"
    "nothing is downloaded or deleted. Each message is one line of four fields\n"
    "separated by tabs: number, size in octets, Subject, From (decoded, in UTF-8;\n"
    "tabs and control characters inside a field are blanks).\n"
    "  --timeout SECONDS  each wait on the server may take up to SECONDS (1 to 3600, default 60)\n"
    "  --tls       TLS from the first byte (port 995 unless SERVER names one)\n"
    "  --starttls  plain text first, then STLS before the login (port 110)\n"
    "  --ca FILE   also trust this CA certificate (PEM or DER) for this run\n"
    "  --password-file FILE  the password is the first line of FILE (- for standard input)\n"
    "  --imap      an IMAP inbox (port 143, or 993 with --tls; STARTTLS with --starttls):\n"
    "              the unread count and the unread messages, the newest 50 at most, as\n"
    "              UID, Subject, From and Date; nothing is marked as read\n"
    "  --idle SECONDS  with --imap: then wait in IDLE for up to SECONDS (1 to 86400) and\n"
    "              print the unread count and the new messages at each change\n"
    "  --oauth2 PROVIDER  sign in with microsoft, google or other in your browser and log in\n"
    "              with the token it gives (XOAUTH2; needs --tls or --starttls)\n"
    "  --client-id ID  the OAuth2 client id (instead of the built-in one; needed for other)\n"
    "  --authorization-url URL, --token-url URL, --scope SCOPE  the endpoints of provider other\n"
    "  --token-file FILE  log in with the OAuth2 access token in the first line of FILE (- for standard input)\n"
    "  --help      this text;  --version  popcheck's version\n"
    "Exit codes: 0 checked, 1 a failure that needs you, 2 wrong usage, 75 a passing failure.\n";

// What was wrong with the command line, on standard error.
int usageError(const std::string& what) {
    std::fprintf(stderr, "popcheck: %s\nTry 'popcheck --help'.\n", what.c_str());
    return kExitUsage;
}

// A whole number of seconds from 1 to `most` for `option`; false once the
// wrong use is told.
bool seconds(const std::string& option, const char* text, std::int32_t most, std::int32_t& value) {
    if (fw::TryStrToInt(text, value) && value >= 1 && value <= most) return true;
    usageError(option + " needs a whole number of seconds from 1 to " + std::to_string(most) + ", not '" + text + "'");
    return false;
}

// UTF-8 text on standard output: a console gets it as UTF-16, whatever its
// code page; a pipe or a file gets the bytes.
void say(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return;
    }
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

std::string utf8(const std::u16string& text) {
    if (text.empty()) return "";
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = static_cast<int>(text.size());
    std::string bytes(WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, size, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

// The whole file ("-": standard input), or false when it cannot be read or
// is beyond `limit` bytes.
bool readFile(const std::string& path, std::string& bytes, std::size_t limit) {
    return path == "-" ? fw::ReadAll(GetStdHandle(STD_INPUT_HANDLE), bytes, limit)
                       : fw::ReadWholeFile(path, bytes, limit);
}

std::string imapListing(const mail::TImapMailbox& box) {
    std::string listing = "Unread: " + std::to_string(box.UnseenCount) + "\n";
    for (const std::string& alert : box.Alerts) listing += "Alert: " + alert + "\n";
    for (const mail::TImapMessage& message : box.NewMessages) {
        const std::vector<std::string>& lines = message.Info.Headers.Lines();
        listing += std::to_string(message.Uid) + "\t" + utf8(mail::DecodedSubject(lines, mail::ConvertCharset)) + "\t" +
                   utf8(mail::DecodedField(lines, "From", mail::ConvertCharset)) + "\t" +
                   utf8(mail::DecodedField(lines, "Date", mail::ConvertCharset)) + "\n";
    }
    return listing;
}

// One check of the IMAP inbox; with idleSeconds, then IDLE until they are
// over, a check at each change. Failures raise.
int checkImap(const std::string& server, const std::string& user, const std::string& password,
              const std::string& accessToken, net::TSecurity security, std::int32_t timeOut,
              const std::string& extraRoot, std::int32_t idleSeconds) {
    mail::TImapMailbox box(nullptr);
    box.SetWinsockLoaded(true);
    box.Server = server, box.UserName = user, box.Password = password, box.Security = security;
    box.AccessToken = accessToken;
    box.SetTimeOut(timeOut);
    box.ExtraRootCertificate = extraRoot;
    // Every unseen message is shown: popcheck keeps no mark between runs.
    box.ReadAllUnseen = true;
    box.Check({});
    const net::TTlsInfo tls = box.TlsInfo();
    say((box.Secure() ? "Secure connection: " + tls.Protocol + ", " + tls.Cipher + "\n" : "") +
        "Messages: " + std::to_string(box.MessageCount) + "\n" + imapListing(box));
    if (idleSeconds > 0 && !box.CanIdle()) {
        std::fprintf(stderr, "popcheck: the server does not offer IDLE\n");
        box.Disconnect();
        return kExitNeedsUser;
    }
    box.ReadAllUnseen = false;
    std::exception_ptr failure;
    bool changed = false;
    box.OnReadable = [&](fw::TObject*) {
        try {
            changed = changed || box.IdleChanged();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(idleSeconds) * 1000;
    // Servers may end an IDLE after 30 minutes: it is renewed before that.
    constexpr ULONGLONG kRenewMs = 25 * 60 * 1000;
    ULONGLONG renew = 0;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        if (!box.Idling()) {
            box.StartIdle();
            renew = now + kRenewMs;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min(end, renew) - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
        fw::DispatchPending();
        if (failure) std::rethrow_exception(failure);
        if (changed) {
            changed = false;
            box.EndIdle();
            box.Check(box.Mark);
            say("Messages: " + std::to_string(box.MessageCount) + "\n" + imapListing(box));
        } else if (GetTickCount64() >= renew) {
            box.EndIdle();
        }
    }
    box.Disconnect();
    box.SetWinsockLoaded(false);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    net::TSecurity security = net::TSecurity::None;
    std::string caFile, passwordFile;
    bool passwordFromFile = false, imap = false;
    // Signing in with a token instead of a password.
    std::string oauthProvider, tokenFile;
    net::TOAuthProvider provider;
    std::int32_t timeOut = 60, idleSeconds = 0;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-' && argv[arg][1] == '-'; ++arg) {
        const std::string option = argv[arg];
        const bool valued = option == "--timeout" || option == "--ca" || option == "--password-file" ||
                            option == "--idle" || option == "--oauth2" || option == "--token-file" ||
                            option == "--client-id" || option == "--authorization-url" || option == "--token-url" ||
                            option == "--scope";
        if (valued && arg + 1 == argc) return usageError(option + " needs a value");
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--version") {
            std::printf("popcheck %s\n", TIDEMARK_VERSION);
            return 0;
        } else if (option == "--tls" || option == "--starttls") {
            const net::TSecurity chosen = option == "--tls" ? net::TSecurity::Tls : net::TSecurity::StartTls;
            if (security != net::TSecurity::None && security != chosen)
                return usageError("--tls and --starttls cannot be given together");
            security = chosen;
        } else if (option == "--timeout") {
            if (!seconds(option, argv[++arg], 3600, timeOut)) return kExitUsage;
        } else if (option == "--imap") {
            imap = true;
        } else if (option == "--idle") {
            if (!seconds(option, argv[++arg], 86400, idleSeconds)) return kExitUsage;
        } else if (option == "--ca") {
            caFile = argv[++arg];
        } else if (option == "--password-file") {
            passwordFile = argv[++arg];
            passwordFromFile = true;
        } else if (option == "--oauth2") {
            oauthProvider = fw::LowerCaseAscii(argv[++arg]);
            if (oauthProvider != "other" && (provider = net::BuiltInProvider(oauthProvider)).Name.empty())
                return usageError("--oauth2 takes microsoft, google or other, not '" + std::string(argv[arg]) + "'");
        } else if (option == "--token-file") {
            tokenFile = argv[++arg];
        } else if (option == "--client-id") {
            provider.ClientId = argv[++arg];
            provider.ClientSecret.clear();
        } else if (option == "--authorization-url") {
            provider.AuthorizationUrl = argv[++arg];
        } else if (option == "--token-url") {
            provider.TokenUrl = argv[++arg];
        } else if (option == "--scope") {
            provider.Scope = argv[++arg];
        } else {
            return usageError("unknown option '" + option + "'");
        }
    }
    const bool token = !oauthProvider.empty() || !tokenFile.empty();
    if (token && (passwordFromFile || (!oauthProvider.empty() && !tokenFile.empty())))
        return usageError("give one of --oauth2, --token-file and --password-file");
    if (token && security == net::TSecurity::None)
        return usageError("a token is sent over a secure connection only: give --tls or --starttls");
    if (oauthProvider == "other" &&
        (provider.AuthorizationUrl.empty() || provider.TokenUrl.empty() || provider.ClientId.empty()))
        return usageError("--oauth2 other needs --authorization-url, --token-url and --client-id");
    if (!oauthProvider.empty() && provider.ClientId.empty())
        return usageError("this popcheck was built without a client id for " + oauthProvider + ": give --client-id");
    const int wanted = passwordFromFile || token ? 2 : 3;
    if (argc - arg < wanted)
        return usageError(argc - arg == 0   ? "SERVER is missing"
                          : argc - arg == 1 ? "USER is missing"
                                            : "PASSWORD is missing (or give --password-file)");
    if (argc - arg > wanted)
        return usageError("unexpected argument '" + std::string(argv[arg + wanted]) + "'" +
                          (passwordFromFile ? " (the password comes from --password-file)" : "") +
                          (token ? " (the token takes the password's place)" : ""));
    if (idleSeconds && !imap) return usageError("--idle needs --imap");
    std::string password = passwordFromFile || token ? "" : argv[arg + 2];
    std::string accessToken;
    if (!tokenFile.empty()) {
        if (!readFile(tokenFile, accessToken, 64 * 1024))
            return usageError("cannot read the token from '" + tokenFile + "'");
        accessToken = accessToken.substr(0, accessToken.find_first_of("\r\n"));
        if (accessToken.empty()) return usageError(tokenFile + " holds no token");
    }
    if (passwordFromFile) {
        // The first line, without its line end.
        if (!readFile(passwordFile, password, 64 * 1024))
            return usageError("cannot read the password from '" + passwordFile + "'");
        password = password.substr(0, password.find_first_of("\r\n"));
    }
    std::string extraRoot;
    if (!caFile.empty()) {
        std::string bytes;
        if (!readFile(caFile, bytes, 1024 * 1024) || (extraRoot = net::CertificateDer(bytes)).empty())
            return usageError(caFile + " holds no certificate (PEM or DER) that can be read");
    }
    fw::TApplication app;
    app.Title = "popcheck";
    // Nothing here shows a window: a failure inside a message handler is
    // reported on the console like any other.
    app.OnShowException = [](const std::string& text, const std::string&) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    try {
        if (!oauthProvider.empty()) {
            std::fprintf(stderr, "popcheck: sign in to %s in the browser window that opens (Ctrl+C ends)\n",
                         provider.Name.empty() ? "your provider" : provider.Name.c_str());
            net::TBrowserSignIn signIn(provider, argv[arg + 1]);
            // A console may have no browser at hand (a remote session): the
            // address can be opened on any browser of this computer.
            const auto launch = [](const std::string& url) {
                std::fprintf(stderr, "popcheck: if no browser opens, open this address: %s\n", url.c_str());
                std::fflush(stderr);
                net::OpenInDefaultBrowser(url);
            };
            const net::TOAuthTokens tokens = signIn.Run(launch, 10 * 60 * 1000, timeOut);
            accessToken = tokens.AccessToken;
            if (!tokens.Account.empty()) say("Signed in as: " + tokens.Account + "\n");
        }
        if (imap)
            return checkImap(argv[arg], argv[arg + 1], password, accessToken, security, timeOut, extraRoot,
                             idleSeconds);
        mail::TPop3Mailbox pop(nullptr);
        pop.SetWinsockLoaded(true);
        pop.Server = argv[arg];
        pop.UserName = argv[arg + 1];
        pop.Password = password;
        pop.AccessToken = accessToken;
        pop.Security = security;
        pop.SetTimeOut(timeOut);
        pop.ExtraRootCertificate = extraRoot;
        // Told before the socket closes, while the session still knows it.
        net::TTlsInfo tls;
        pop.OnClosing = [&](fw::TObject*) {
            if (pop.Secure()) tls = pop.TlsInfo();
        };
        pop.UpdateInfo();

        std::string listing;
        if (!tls.Protocol.empty()) listing += "Secure connection: " + tls.Protocol + ", " + tls.Cipher + "\n";
        listing += "Messages: " + std::to_string(pop.MessageCount) + "\n";
        listing += "Mailbox size: " + std::to_string(pop.MailboxSize) + " octets\n";
        for (int i = 0; i < pop.RemoteInfo.Count(); ++i) {
            const mail::TMessageInfo& item = pop.RemoteInfo.Items(i);
            const std::vector<std::string>& lines = item.Headers.Lines();
            listing += std::to_string(i + 1) + "\t" + std::to_string(item.Size) + "\t" +
                       utf8(mail::DecodedSubject(lines, mail::ConvertCharset)) + "\t" +
                       utf8(mail::DecodedField(lines, "From", mail::ConvertCharset)) + "\n";
        }
        say(listing);
        pop.SetWinsockLoaded(false);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "popcheck: %s\n", e.what());
        return mail::ClassifyFailure(mail::FactsOfFailure(std::current_exception())) == mail::TFailureKind::Passing
                   ? kExitPassing
                   : kExitNeedsUser;
    }
    return app.ExceptionCount() == 0 ? 0 : kExitNeedsUser;
}
