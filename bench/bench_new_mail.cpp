// bench_new_mail SERVER:PORT USER PASSWORD [ROUNDS]
//
// Times the first check of a mailbox by a fresh POP3 component with unique
// ids (UIDL, then LIST and TOP for every message) against its repeat check of
// the unchanged mailbox (UIDL only; the headers come from the cache), and
// prints one table row: the medians of ROUNDS rounds, the repeat's share of
// the first, and the commands each check sent, as a relay between the
// component and the server saw them on the wire. bench/run.sh runs it
// against Dovecot with 100 and 1,000 messages; the goal is a repeat check of
// at most 5% of the first.
//
// It also prints what the component (and the seen list the tray keeps
// beside it) holds on the heap once a check is over, per message: the
// bytes of every live block plus 16 for the heap's own record of it. The
// goal is at most 200 bytes a message: under 10 MB for 50,000.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "mail/new_mail.h"

// Every block the program takes through new, counted while it lives.
namespace {
std::atomic<long long> liveBytes{0};
}  // namespace

void* operator new(std::size_t size) {
    void* p = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!p) throw std::bad_alloc();
    liveBytes += static_cast<long long>(HeapSize(GetProcessHeap(), 0, p)) + 16;
    return p;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    liveBytes -= static_cast<long long>(HeapSize(GetProcessHeap(), 0, p)) + 16;
    HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

// Passes every session between a client and the server through, and keeps
// what each client sent.
class WireRecorder {
public:
    WireRecorder(const std::string& host, unsigned short port) : upstream_{} {
        upstream_.sin_family = AF_INET;
        upstream_.sin_port = htons(port);
        upstream_.sin_addr.s_addr = inet_addr(host.c_str());
        listen_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof local;
        if (bind(listen_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listen_, 1) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr*>(&local), &len) != 0)
            throw std::runtime_error("relay: cannot listen");
        port_ = ntohs(local.sin_port);
        thread_ = CreateThread(nullptr, 0, &WireRecorder::main, this, 0, nullptr);
    }
    ~WireRecorder() {
        stop_ = true;
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
        closesocket(listen_);
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // What the client of each session so far sent.
    std::vector<std::string> Sessions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sessions_;
    }

private:
    static DWORD WINAPI main(LPVOID self) {
        static_cast<WireRecorder*>(self)->run();
        return 0;
    }
    static bool readable(SOCKET s, long usec) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv{0, usec};
        return select(0, &set, nullptr, nullptr, &tv) > 0;
    }
    void run() {
        while (!stop_) {
            if (!readable(listen_, 20000)) continue;
            SOCKET client = accept(listen_, nullptr, nullptr);
            SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            std::string sent;
            if (connect(server, reinterpret_cast<sockaddr*>(&upstream_), sizeof upstream_) == 0) {
                char buffer[16384];
                for (bool open = true; open && !stop_;) {
                    fd_set set;
                    FD_ZERO(&set);
                    FD_SET(client, &set);
                    FD_SET(server, &set);
                    timeval tv{0, 20000};
                    if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
                    for (SOCKET from : {client, server}) {
                        if (!FD_ISSET(from, &set)) continue;
                        const int n = recv(from, buffer, sizeof buffer, 0);
                        if (n <= 0) {
                            open = false;
                            break;
                        }
                        if (from == client) sent.append(buffer, static_cast<std::size_t>(n));
                        send(from == client ? server : client, buffer, n, 0);
                    }
                }
            }
            closesocket(server);
            closesocket(client);
            std::lock_guard<std::mutex> lock(mutex_);
            sessions_.push_back(sent);
        }
    }

    sockaddr_in upstream_;
    SOCKET listen_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> sessions_;
};

// "USER PASS STAT UIDL LISTx1000 TOPx1000 QUIT": each command once, in the
// order first sent, with how often when more than once.
std::string commandSummary(const std::string& sent) {
    std::vector<std::string> order;
    std::map<std::string, int> counts;
    std::istringstream lines(sent);
    for (std::string line; std::getline(lines, line);) {
        const std::string verb = line.substr(0, line.find_first_of(" \r"));
        if (counts[verb]++ == 0) order.push_back(verb);
    }
    std::string out;
    for (const std::string& verb : order)
        out += (out.empty() ? "" : " ") + verb + (counts[verb] > 1 ? "x" + std::to_string(counts[verb]) : "");
    return out;
}

// The component with unique ids on, pointed at `server`.
void configureWithIds(mail::TPop3Mailbox& pop, const bench::Mailbox& m, const std::string& server) {
    bench::configure(pop, m, server);
    pop.UseUniqueIds = true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_new_mail SERVER:PORT USER PASSWORD [ROUNDS]\n");
        return 2;
    }
    const bench::Mailbox m(argv);
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    fw::TApplication app;
    bench::startUp(app);
    try {
        // One untimed check: the server builds its index and its ids.
        {
            mail::TPop3Mailbox warm(nullptr);
            configureWithIds(warm, m, m.server);
            warm.UpdateInfo();
        }
        std::vector<double> first, repeat;
        std::int32_t count = 0;
        long long keptFirst = 0, keptRepeat = 0;
        for (int r = 0; r < rounds; ++r) {
            mail::TPop3Mailbox pop(nullptr);
            configureWithIds(pop, m, m.server);
            mail::TSeenIds seen;
            const long long before = liveBytes;
            double t0 = bench::nowMs();
            pop.UpdateInfo();
            first.push_back(bench::nowMs() - t0);
            seen.Update(pop.UniqueIds);
            keptFirst = liveBytes - before;
            t0 = bench::nowMs();
            pop.UpdateInfo();
            repeat.push_back(bench::nowMs() - t0);
            seen.Update(pop.UniqueIds);
            keptRepeat = liveBytes - before;
            if (!pop.UniqueIdsKnown) throw std::runtime_error("the server gave no usable unique ids");
            count = pop.RemoteInfo.Count();
        }
        // The same two checks once more, through the relay, for the wire.
        std::vector<std::string> sessions;
        {
            WireRecorder relay(m.host, m.port);
            mail::TPop3Mailbox pop(nullptr);
            configureWithIds(pop, m, relay.Address());
            pop.UpdateInfo();
            pop.UpdateInfo();
            for (int i = 0; i < 250 && relay.Sessions().size() < 2; ++i) Sleep(20);
            sessions = relay.Sessions();
        }
        if (sessions.size() < 2) throw std::runtime_error("the relay saw no two sessions");
        const double f = bench::median(first), rep = bench::median(repeat);
        const double perFirst = count ? static_cast<double>(keptFirst) / count : 0;
        const double perRepeat = count ? static_cast<double>(keptRepeat) / count : 0;
        std::printf(
            "%8d %10.1f %10.1f %7.1f%% %8.0f %8.0f %9.1f   first: %s\n%8s %10s %10s %8s %8s %8s %9s   repeat: %s\n",
            count, f, rep, 100.0 * rep / f, perFirst, perRepeat, keptRepeat / 1048576.0,
            commandSummary(sessions[0]).c_str(), "", "", "", "", "", "", "", commandSummary(sessions[1]).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_new_mail: %s\n", e.what());
        return 1;
    }
    WSACleanup();
    return 0;
}
