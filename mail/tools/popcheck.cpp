// popcheck [--timeout SECONDS] SERVER[:PORT] USER PASSWORD
//
// Runs one mailbox check with the same component the tray program uses and
// prints what it found: the message count, the mailbox size, and one line
// per message with its number, size, Subject and From header lines. On a
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
                 "usage: popcheck [--timeout SECONDS] SERVER[:PORT] USER PASSWORD\n"
                 "Logs in to a POP3 mailbox, lists the waiting messages (size, Subject and From)\n"
                 "and logs out again; nothing is downloaded or deleted. Each wait on the server\n"
                 "may take up to SECONDS (default 60).\n");
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::int32_t timeOut = 60;
    if (argc == 6 && std::string(argv[1]) == "--timeout") {
        if (!fw::TryStrToInt(argv[2], timeOut) || timeOut < 1) return usage();
        argv += 2;
        argc -= 2;
    }
    if (argc != 4) return usage();
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
        pop.SetTimeOut(timeOut);
        pop.Server = argv[1];
        pop.UserName = argv[2];
        pop.Password = argv[3];
        pop.UpdateInfo();

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
