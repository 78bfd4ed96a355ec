// popcheck [--timeout SECONDS] [--tls | --starttls] [--ca FILE] SERVER[:PORT] USER PASSWORD
//
// Runs one mailbox check with the same component the tray program uses and
// prints what it found: the negotiated protocol and cipher of a protected
// connection, the message count, the mailbox size, and one line per message
// with its number, size, Subject and From header lines. On a
// failure it prints the error message and exits with 1 when the user must
// mend something (a refused password, an unknown host) or 75 when the
// failure passes by itself (no network, a refused connection, a time-out, a
// locked mailbox), the temporary-failure code of mail tools; 2 is wrong
// usage. So users can try their settings and scripts can time a check or
// decide to try again later. The time-out bounds each wait of the check (60
// seconds unless given).
#include <windows.h>

#include <cstdio>
#include <string>

#include "framework/application.h"
#include "framework/handles.h"
#include "framework/sysutils.h"
#include "mail/failure_kind.h"
#include "mail/pop3_session.h"

namespace {

enum : int { kExitNeedsUser = 1, kExitUsage = 2, kExitPassing = 75 };

// The first header line that starts with `name` (case-insensitive), or "".
std::string headerLine(const mail::THeaderLines& headers, const std::string& name) {
    const std::string wanted = fw::UpperCaseAscii(name);
    for (const std::string& line : headers.Lines())
        if (fw::UpperCaseAscii(line.substr(0, wanted.size())) == wanted) return line;
    return "";
}

int usage() {
    std::fprintf(stderr,
                 "usage: popcheck [--timeout SECONDS] [--tls | --starttls] [--ca FILE] SERVER[:PORT] USER PASSWORD\n"
                 "Logs in to a POP3 mailbox, lists the waiting messages (size, Subject and From)\n"
                 "and logs out again; nothing is downloaded or deleted.\n"
                 "  --timeout SECONDS  each wait on the server may take up to SECONDS (default 60)\n"
                 "  --tls       TLS from the first byte (port 995 unless SERVER names one)\n"
                 "  --starttls  plain text first, then STLS before the login (port 110)\n"
                 "  --ca FILE   also trust this CA certificate (PEM or DER) for this run\n");
    return kExitUsage;
}

// The whole file, or false when it cannot be read (or is beyond any certificate's size).
bool readFile(const char* path, std::string& bytes) {
    fw::UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr) && n > 0) {
        bytes.append(chunk, n);
        if (bytes.size() > 1024 * 1024) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    net::TSecurity security = net::TSecurity::None;
    std::string caFile;
    std::int32_t timeOut = 60;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-' && argv[arg][1] == '-'; ++arg) {
        const std::string option = argv[arg];
        if (option == "--tls")
            security = net::TSecurity::Tls;
        else if (option == "--starttls")
            security = net::TSecurity::StartTls;
        else if (option == "--timeout" && arg + 1 < argc) {
            if (!fw::TryStrToInt(argv[++arg], timeOut) || timeOut < 1) return usage();
        } else if (option == "--ca" && arg + 1 < argc)
            caFile = argv[++arg];
        else
            return usage();
    }
    if (argc - arg != 3) return usage();
    std::string extraRoot;
    if (!caFile.empty()) {
        std::string bytes;
        if (!readFile(caFile.c_str(), bytes) || (extraRoot = net::CertificateDer(bytes)).empty()) {
            std::fprintf(stderr, "popcheck: %s holds no certificate (PEM or DER) that can be read\n", caFile.c_str());
            return 2;
        }
    }
    fw::TApplication app;
    app.Title = "popcheck";
    // Nothing here shows a window: a failure inside a message handler is
    // reported on the console like any other.
    app.OnShowException = [](const std::string& text, const std::string&) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    try {
        mail::TPop3Mailbox pop(nullptr);
        pop.SetWinsockLoaded(true);
        pop.Server = argv[arg];
        pop.UserName = argv[arg + 1];
        pop.Password = argv[arg + 2];
        pop.Security = security;
        pop.SetTimeOut(timeOut);
        pop.ExtraRootCertificate = extraRoot;
        // Told before the socket closes, while the session still knows it.
        net::TTlsInfo tls;
        pop.OnClosing = [&](fw::TObject*) {
            if (pop.Secure()) tls = pop.TlsInfo();
        };
        pop.UpdateInfo();

        if (!tls.Protocol.empty()) std::printf("Secure connection: %s, %s\n", tls.Protocol.c_str(), tls.Cipher.c_str());

        std::printf("Messages: %d\n", pop.MessageCount);
        std::printf("Mailbox size: %d octets\n", pop.MailboxSize);
        for (int i = 0; i < pop.RemoteInfo.Count(); ++i) {
            const mail::TMessageInfo& item = pop.RemoteInfo.Items(i);
            std::printf("%d\t%d\t%s\t%s\n", i + 1, item.Size, headerLine(item.Headers, "Subject:").c_str(),
                        headerLine(item.Headers, "From:").c_str());
        }
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
