// winsock2.h must come before the <windows.h> of the header.
#include <winsock2.h>

#include "tests/support/scripted_server.h"

#include <cstdlib>
#include <sstream>
#include <utility>

namespace testsupport {

namespace {
// Whether `s` became readable within `ms`; gives up early once `stop` is set.
bool waitReadable(SOCKET s, DWORD ms, const std::atomic<bool>& stop) {
    for (const ULONGLONG deadline = GetTickCount64() + ms; !stop && GetTickCount64() < deadline;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv{0, 20000};
        if (select(0, &set, nullptr, nullptr, &tv) > 0) return true;
    }
    return false;
}

sockaddr_in loopback(unsigned short port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A socket bound to `port` of 127.0.0.1 (0: a free one, then told in `port`),
// listening unless `backlog` < 0.
SOCKET bindLoopback(unsigned short& port, int backlog) {
    static WSADATA data;
    static const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    SOCKET s = started ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    sockaddr_in addr = loopback(port);
    int size = sizeof addr;
    bind(s, reinterpret_cast<sockaddr*>(&addr), size);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &size);
    port = ntohs(addr.sin_port);
    if (backlog >= 0) listen(s, backlog);
    return s;
}
}  // namespace

ScriptedServer::ScriptedServer(const std::string& script, unsigned short port) : client_(INVALID_SOCKET), port_(port) {
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        const char kind = line.empty() ? '#' : line[0];
        const std::string text = line.size() > 2 ? Unescape(line.substr(2)) : "";
        if (kind == 'C') expected_ += text + "\r\n";
        if ((kind == 'S' || kind == 's') && !steps_.empty() && steps_.back().kind == 's')
            steps_.back().data += kind == 'S' ? text + "\r\n" : text;
        else if (kind == 'S' || kind == 's')
            steps_.push_back({'s', kind == 'S' ? text + "\r\n" : text});
        else if (std::string("CPXHT").find(kind) != std::string::npos)
            steps_.push_back({kind, text});
    }
    listen_ = bindLoopback(port_, 1);
    thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    if (client_ != INVALID_SOCKET) closesocket(client_);
    closesocket(listen_);
}

std::string ScriptedServer::Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t star = text.find('*', i), close = text.find('}', i);
        if (text[i] == '{' && star < close && close == star + 2 && close != std::string::npos) {
            out.append(std::strtoul(text.c_str() + i + 1, nullptr, 10), text[star + 1]);
            i = close;
        } else if (text[i] == '\\' && i + 1 < text.size()) {
            const char e = text[++i];
            const bool hex = e == 'x' && i + 2 < text.size();
            out += hex ? static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16)) : e == 'r' ? '\r'
                                                                                                   : e == 'n'   ? '\n'
                                                                                                   : e == 't'   ? '\t'
                                                                                                   : e == '0'   ? '\0'
                                                                                                                : e;
            i += hex ? 2 : 0;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string ScriptedServer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

unsigned short ScriptedServer::UnusedPort() {
    unsigned short port = 0;
    closesocket(bindLoopback(port, -1));
    return port;
}

unsigned short ScriptedServer::StalledPort() {
    // Linux drops a connection attempt while the listener's queue is full: a
    // backlog of 0 holds one connection, which this process makes and never
    // accepts.
    static unsigned short port = 0;
    if (port) return port;
    bindLoopback(port, 0);
    const sockaddr_in addr = loopback(port);
    connect(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    return port;
}

DWORD WINAPI ScriptedServer::threadMain(LPVOID self) {
    static_cast<ScriptedServer*>(self)->run();
    return 0;
}

bool ScriptedServer::readLine() {
    for (char c = 0; c != '\n';) {
        if (!waitReadable(client_, 3000, stop_)) return false;
        if (recv(client_, &c, 1, 0) <= 0) {
            finished_ = true;
            return false;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        received_ += c;
    }
    return true;
}

void ScriptedServer::run() {
    // Accept with a deadline: a test whose client never connects still ends.
    if (!waitReadable(listen_, 30000, stop_)) return;
    client_ = accept(listen_, nullptr, nullptr);
    lastActivity_ = GetTickCount64();
    accepted_ = true;
    // A TLS record's bytes are no line of text: they are not recorded.
    std::string record;
    auto readTls = [&](std::size_t size) {
        for (char c = 0; record.size() < size && waitReadable(client_, 3000, stop_) && recv(client_, &c, 1, 0) == 1;) record += c;
        return record.size() == size;
    };
    for (const Step& step : steps_) {
        if (step.kind == 's') {
            for (int sent = 0, n = 0; sent < static_cast<int>(step.data.size()) && n >= 0; sent += n)
                n = send(client_, step.data.data() + sent, static_cast<int>(step.data.size()) - sent, 0);
            lastActivity_ = GetTickCount64();
        } else if (step.kind == 'C' && !readLine()) {
            return;
        } else if (step.kind == 'T' && !(readTls(5) && readTls(5 + (static_cast<unsigned char>(record[3]) << 8 | static_cast<unsigned char>(record[4]))))) {
            return;
        } else if (step.kind == 'P') {
            for (const ULONGLONG until = GetTickCount64() + std::atoi(step.data.c_str()); !stop_ && GetTickCount64() < until;)
                Sleep(5);
        } else if (step.kind == 'X' || step.kind == 'H') {
            if (step.kind == 'X') closesocket(std::exchange(client_, INVALID_SOCKET));
            finished_ = true;
            return;
        }
    }
    char buffer[4096];
    for (int n = 1; n > 0 && !stop_;) {
        if (!waitReadable(client_, 100, stop_)) continue;
        if ((n = recv(client_, buffer, sizeof buffer, 0)) > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    finished_ = true;
}

}  // namespace testsupport
