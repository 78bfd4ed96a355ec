#pragma once
// What every benchmark shares: the clocks, the median of repeated runs, and
// the mailbox it checks as its command line names it.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/application.h"
#include "mail/pop3_session.h"

namespace bench {

inline double nowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Processor time of the whole process, kernel and user. Wine reports it in
// 10 ms steps.
inline double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// SERVER:PORT USER PASSWORD from argv[1..3]; host and port apart for the
// reference clients, which connect by address.
struct Mailbox {
    explicit Mailbox(char** argv)
        : server(argv[1]),
          user(argv[2]),
          password(argv[3]),
          host(server.substr(0, server.find(':'))),
          port(static_cast<unsigned short>(std::atoi(server.substr(server.find(':') + 1).c_str()))) {}
    std::string server, user, password, host;
    unsigned short port;
};

// The component pointed at `server` (the mailbox's own, or a relay's).
inline void configure(mail::TPop3Mailbox& pop, const Mailbox& m, const std::string& server) {
    pop.SetWinsockLoaded(true);
    pop.Server = server;
    pop.UserName = m.user;
    pop.Password = m.password;
}
inline void configure(mail::TPop3Mailbox& pop, const Mailbox& m) { configure(pop, m, m.server); }

// What the class library would show in a box goes to standard error; Winsock
// is started for the reference clients' blocking sockets.
inline void startUp(fw::TApplication& app) {
    app.OnShowException = [](const std::string& text, const std::string&) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    static WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
}

}  // namespace bench
