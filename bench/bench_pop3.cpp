// bench_pop3 SERVER:PORT USER PASSWORD [REPEATS]
// bench_pop3 --tls PLAIN:PORT TLS:PORT CAFILE USER PASSWORD [REPEATS]
//
// The second form times one UpdateInfo over TLS (the CA file trusted for the
// run) against one in plain text on the same mailbox, alternating, and
// prints the medians, their ratio and the TLS check's processor time.
//
// Times one UpdateInfo of the POP3 component against a minimal blocking
// Winsock client that sends the very same commands one at a time
// (bench/reference_clients.h), in the same process, alternating, and prints
// one table row: the median wall time of each, their ratio, the component's
// processor time, the process's peak memory and the bytes of the list the
// component built. bench/run.sh runs
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

#include "bench/reference_clients.h"
#include "framework/application.h"
#include "mail/pop3_session.h"

using bench::cpuMs;
using bench::median;
using bench::nowMs;

namespace {

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
    bench::startUp(app);
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
    const bench::Mailbox m(argv);
    const int repeats = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;

    fw::TApplication app;
    bench::startUp(app);
    try {
        mail::TPop3Mailbox pop(nullptr);
        bench::configure(pop, m);

        // One untimed round of each: the server builds its index, the
        // libraries load, the caches fill.
        pop.UpdateInfo();
        const int count = bench::serialCheck(m.host, m.port, m.user, m.password);
        if (count != pop.MessageCount) throw std::runtime_error("the two clients saw different mailboxes");

        std::vector<double> compWall, compCpu, minWall, minCpu;
        for (int r = 0; r < repeats; ++r) {
            double c0 = cpuMs(), t0 = nowMs();
            pop.UpdateInfo();
            compWall.push_back(nowMs() - t0);
            compCpu.push_back(cpuMs() - c0);
            c0 = cpuMs();
            t0 = nowMs();
            bench::serialCheck(m.host, m.port, m.user, m.password);
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
