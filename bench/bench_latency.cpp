// bench_latency SERVER:PORT USER PASSWORD RTT_MS [REPEATS]
//
// One row of the latency table: a mailbox check over a link with the given
// round trip (bench/run.sh puts bench/delay_proxy.py between this program and
// Dovecot; RTT_MS only labels the row and says which runs are too long to
// make). Median wall times of the POP3 component as shipped (pipelined where
// the server offers it), the same component one command at a time, and the
// two minimal reference clients of bench/reference_clients.h; then the
// component's ratio to the pipelined reference, its speed-up over the serial
// reference and its processor time per message. A serial run that would
// take longer than about 12 s (two round trips per message) is not made: its
// column shows "~" and the time the round trips alone would take.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/reference_clients.h"
#include "framework/application.h"
#include "mail/pop3_session.h"

namespace {

struct Timing {
    double wall = 0;  // median, ms
    double cpu = 0;   // median, ms
    bool run = false;
};

// A client to time, `repeats` times.
struct Runner {
    std::function<int()> check;
    int repeats;
    Timing* result;
};

// The clients take turns, one run each per round, so a change in the load of
// the machine affects them alike.
void measure(const std::vector<Runner>& runners, int expected) {
    std::vector<std::vector<double>> wall(runners.size()), cpu(runners.size());
    for (int round = 0;; ++round) {
        bool any = false;
        for (std::size_t i = 0; i < runners.size(); ++i) {
            if (round >= runners[i].repeats) continue;
            any = true;
            const double c0 = bench::cpuMs(), t0 = bench::nowMs();
            if (runners[i].check() != expected) throw std::runtime_error("a client saw another mailbox");
            wall[i].push_back(bench::nowMs() - t0);
            cpu[i].push_back(bench::cpuMs() - c0);
        }
        if (!any) break;
    }
    for (std::size_t i = 0; i < runners.size(); ++i)
        if (!wall[i].empty()) *runners[i].result = {bench::median(wall[i]), bench::median(cpu[i]), true};
}

std::string cell(const Timing& t, double estimate) {
    char text[32];
    if (t.run)
        std::snprintf(text, sizeof text, "%.0f", t.wall);
    else
        std::snprintf(text, sizeof text, "~%.0f", estimate);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_latency SERVER:PORT USER PASSWORD RTT_MS [REPEATS]\n");
        return 2;
    }
    const bench::Mailbox m(argv);
    const double rtt = std::atof(argv[4]);
    const int repeats = argc > 5 ? std::max(1, std::atoi(argv[5])) : 3;

    fw::TApplication app;
    bench::startUp(app);
    try {
        mail::TPop3Mailbox pop(nullptr);
        bench::configure(pop, m);
        auto component = [&] {
            pop.UpdateInfo();
            return pop.RemoteInfo.Count();
        };

        // One untimed round: the server builds its index, the libraries load.
        pop.UpdateInfo();
        const int count = pop.MessageCount;
        if (!pop.Pipelined()) std::fprintf(stderr, "bench_latency: the server does not offer PIPELINING\n");
        if (bench::pipelinedCheck(m.host, m.port, m.user, m.password) != count)
            throw std::runtime_error("mailbox changed");

        // Two round trips per message, plus the log-in's six.
        const double serialEstimate = (2.0 * count + 6) * rtt;
        const int serialRepeats = serialEstimate <= 2000 ? repeats : serialEstimate <= 12000 ? 1 : 0;

        mail::TPop3Mailbox serial(nullptr);
        bench::configure(serial, m);
        serial.UsePipelining = false;
        Timing shipped, reference, oneByOne, serialReference;
        measure(
            {{component, repeats, &shipped},
             {[&] { return bench::pipelinedCheck(m.host, m.port, m.user, m.password); }, repeats, &reference},
             {[&] {
                  serial.UpdateInfo();
                  return serial.RemoteInfo.Count();
              },
              serialRepeats, &oneByOne},
             {[&] { return bench::serialCheck(m.host, m.port, m.user, m.password); }, serialRepeats, &serialReference}},
            count);

        char speedUp[32] = "-";
        if (serialReference.run) std::snprintf(speedUp, sizeof speedUp, "%.1f", serialReference.wall / shipped.wall);
        std::printf("%8d %6.0f %10.0f %10s %10s %10.0f %8.2f %8s %9.3f\n", count, rtt, shipped.wall,
                    cell(oneByOne, serialEstimate).c_str(), cell(serialReference, serialEstimate).c_str(),
                    reference.wall, shipped.wall / reference.wall, speedUp, shipped.cpu / count);
        pop.SetWinsockLoaded(false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_latency: %s\n", e.what());
        return 1;
    }
    WSACleanup();
    return 0;
}
