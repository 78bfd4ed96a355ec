// bench_pop3 SERVER:PORT USER PASSWORD [REPEATS]
// bench_pop3 --tls PLAIN:PORT TLS:PORT CAFILE USER PASSWORD [REPEATS]
//
// The second form times one UpdateInfo over TLS (the CA file trusted for the
// run) against one in plain text on the same mailbox, alternating, and
// prints the medians, their ratio and the TLS check's processor time.
//
// Times one UpdateInfo of the POP3 component against a minimal blocking
// Winsock client that sends the very same commands (USER, PASS, STAT, then
// LIST n and TOP n 1 for every message, QUIT) and reads the replies, in the
// same process, alternating, and prints one table row: the median wall time
// of each, their ratio, the component's processor time, the process's peak
// memory and the bytes of the list the component built. bench/run.sh runs
// it against Dovecot with 10, 100 and 1,000 messages.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/application.h"
#include "mail/pop3_session.h"

namespace {

double nowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

// The minimal client: blocking calls, one buffer, no events, no time-outs.
class MinimalClient {
public:
    MinimalClient(const std::string& host, unsigned short port) {
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = inet_addr(host.c_str());
        if (connect(s_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect failed");
    }
    ~MinimalClient() { closesocket(s_); }

    std::string command(const std::string& line) {
        const std::string data = line + "\r\n";
        if (send(s_, data.data(), static_cast<int>(data.size()), 0) != static_cast<int>(data.size()))
            throw std::runtime_error("send failed");
        return readLine();
    }
    std::string readLine() {
        std::size_t end;
        while ((end = buffer_.find("\r\n")) == std::string::npos) fill();
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        if (line.empty() || line[0] != '+') throw std::runtime_error("server said: " + line);
        return line;
    }
    // The rest of a multi-line reply, up to and including its "." line.
    std::string readData() {
        std::size_t end;
        while ((end = findTerminator()) == std::string::npos) fill();
        std::string data = buffer_.substr(0, end);
        buffer_.erase(0, end);
        return data;
    }

private:
    std::size_t findTerminator() const {
        if (buffer_.compare(0, 3, ".\r\n") == 0) return 3;
        const std::size_t at = buffer_.find("\r\n.\r\n");
        return at == std::string::npos ? at : at + 5;
    }
    void fill() {
        char chunk[16384];
        const int n = recv(s_, chunk, sizeof chunk, 0);
        if (n <= 0) throw std::runtime_error("connection lost");
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    SOCKET s_;
    std::string buffer_;
};

int minimalCheck(const std::string& host, unsigned short port, const std::string& user, const std::string& password) {
    MinimalClient c(host, port);
    c.readLine();
    c.command("USER " + user);
    c.command("PASS " + password);
    const std::string stat = c.command("STAT");
    const int count = std::atoi(stat.c_str() + 4);
    for (int n = 1; n <= count; ++n) {
        c.command("LIST " + std::to_string(n));
        c.command("TOP " + std::to_string(n) + " 1");
        c.readData();
    }
    c.command("QUIT");
    return count;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median wall times of plain-text and TLS checks of one mailbox.
int compareTls(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: bench_pop3 --tls PLAIN:PORT TLS:PORT CAFILE USER PASSWORD [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 7 ? std::max(1, std::atoi(argv[7])) : 5;
    std::string ca;
    if (FILE* f = std::fopen(argv[4], "rb")) {
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) ca.append(chunk, n);
        std::fclose(f);
    }
    fw::TApplication app;
    app.OnShowException = [](const std::string& text, const std::string&) { std::fprintf(stderr, "%s\n", text.c_str()); };
    try {
        mail::TPop3Mailbox plain(nullptr), tls(nullptr);
        for (mail::TPop3Mailbox* pop : {&plain, &tls}) {
            pop->SetWinsockLoaded(true);
            pop->UserName = argv[5];
            pop->Password = argv[6];
        }
        plain.Server = argv[2];
        tls.Server = argv[3];
        tls.Security = net::TSecurity::Tls;
        tls.ExtraRootCertificate = net::CertificateDer(ca);
        plain.UpdateInfo();
        tls.UpdateInfo();
        if (plain.MessageCount != tls.MessageCount) throw std::runtime_error("the two checks saw different mailboxes");
        std::vector<double> plainWall, tlsWall, tlsCpu;
        for (int r = 0; r < repeats; ++r) {
            double t0 = nowMs();
            plain.UpdateInfo();
            plainWall.push_back(nowMs() - t0);
            const double c0 = cpuMs();
            t0 = nowMs();
            tls.UpdateInfo();
            tlsWall.push_back(nowMs() - t0);
            tlsCpu.push_back(cpuMs() - c0);
        }
        const double p = median(plainWall), t = median(tlsWall);
        std::printf("%8d %10.1f %10.1f %7.2f %9.1f\n", tls.MessageCount, p, t, t / p, median(tlsCpu));
        plain.SetWinsockLoaded(false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--tls") return compareTls(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_pop3 SERVER:PORT USER PASSWORD [REPEATS]\n");
        return 2;
    }
    const std::string server = argv[1], user = argv[2], password = argv[3];
    const int repeats = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    const std::string host = server.substr(0, server.find(':'));
    const auto port = static_cast<unsigned short>(std::atoi(server.substr(server.find(':') + 1).c_str()));

    fw::TApplication app;
    app.OnShowException = [](const std::string& text, const std::string&) { std::fprintf(stderr, "%s\n", text.c_str()); };
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    try {
        mail::TPop3Mailbox pop(nullptr);
        pop.SetWinsockLoaded(true);
        pop.Server = server;
        pop.UserName = user;
        pop.Password = password;

        // One untimed round of each: the server builds its index, the
        // libraries load, the caches fill.
        pop.UpdateInfo();
        const int count = minimalCheck(host, port, user, password);
        if (count != pop.MessageCount) throw std::runtime_error("the two clients saw different mailboxes");

        std::vector<double> compWall, compCpu, minWall, minCpu;
        for (int r = 0; r < repeats; ++r) {
            double c0 = cpuMs(), t0 = nowMs();
            pop.UpdateInfo();
            compWall.push_back(nowMs() - t0);
            compCpu.push_back(cpuMs() - c0);
            c0 = cpuMs();
            t0 = nowMs();
            minimalCheck(host, port, user, password);
            minWall.push_back(nowMs() - t0);
            minCpu.push_back(cpuMs() - c0);
        }

        // What the list itself holds: the header text plus one string per line.
        std::size_t listBytes = 0;
        for (int i = 0; i < pop.RemoteInfo.Count(); ++i) {
            listBytes += sizeof(mail::TMessageInfo);
            for (const std::string& line : pop.RemoteInfo.Items(i).Headers.Lines())
                listBytes += sizeof(std::string) + (line.size() > 15 ? line.size() + 1 : 0);
        }
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);

        const double cw = median(compWall), mw = median(minWall);
        const double cc = median(compCpu);
        // The minimal client's own share shows what the platform alone costs
        // (under Wine every Winsock call is several wineserver round trips).
        const double mc = median(minCpu);
        std::printf("%8d %10.1f %10.1f %7.2f %9.1f %6.1f%% %9.1f %6.1f%% %11zu %11zu %9zu\n", count, cw, mw, cw / mw,
                    cc, 100.0 * cc / cw, mc, 100.0 * mc / mw, static_cast<std::size_t>(pmc.PeakWorkingSetSize / 1024),
                    static_cast<std::size_t>(pmc.PeakPagefileUsage / 1024), listBytes / 1024);
        pop.SetWinsockLoaded(false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3: %s\n", e.what());
        return 1;
    }
    WSACleanup();
    return 0;
}
