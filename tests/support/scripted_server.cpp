// winsock2.h must come before the <windows.h> of the header.
#include <winsock2.h>

#include "tests/support/scripted_server.h"

namespace testsupport {

namespace {
constexpr DWORD kReadDeadlineMs = 5000;

void startWinsock() {
    static bool started = false;
    if (started) return;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    started = true;
}

// Waits until `s` is readable, or the deadline or a stop request comes.
bool waitReadable(SOCKET s, DWORD ms, const std::atomic<bool>& stop) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (!stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv{0, 20000};
        if (select(0, &set, nullptr, nullptr, &tv) > 0) return true;
        if (GetTickCount64() >= deadline) return false;
    }
    return false;
}

// A TCP socket bound to an ephemeral port on 127.0.0.1; `port` receives it.
SOCKET bindLoopback(unsigned short& port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return s;
}
}  // namespace

ScriptedServer::ScriptedServer() : listen_(INVALID_SOCKET), client_(INVALID_SOCKET) {
    startWinsock();
    SOCKET s = bindLoopback(port_);
    listen(s, 1);
    listen_ = s;
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    if (thread_) {
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
    }
    if (client_ != INVALID_SOCKET) closesocket(client_);
    if (listen_ != INVALID_SOCKET) closesocket(listen_);
}

std::string ScriptedServer::Address() const { return "127.0.0.1:" + std::to_string(port_); }

ScriptedServer& ScriptedServer::Send(const std::string& bytes) {
    steps_.push_back({Step::kSend, bytes, 0});
    return *this;
}

ScriptedServer& ScriptedServer::ExpectLine() {
    steps_.push_back({Step::kExpectLine, "", 0});
    return *this;
}

ScriptedServer& ScriptedServer::Pause(DWORD ms) {
    steps_.push_back({Step::kPause, "", ms});
    return *this;
}

ScriptedServer& ScriptedServer::ExpectSilence(DWORD ms) {
    steps_.push_back({Step::kSilence, "", ms});
    return *this;
}

ScriptedServer& ScriptedServer::Close() {
    steps_.push_back({Step::kClose, "", 0});
    return *this;
}

ScriptedServer& ScriptedServer::NextClient() {
    steps_.push_back({Step::kNextClient, "", 0});
    return *this;
}

void ScriptedServer::Start() { thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr); }

std::string ScriptedServer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

unsigned short ScriptedServer::UnusedPort() {
    startWinsock();
    // Bound but never listening: a connect there is refused.
    unsigned short port = 0;
    closesocket(bindLoopback(port));
    return port;
}

DWORD WINAPI ScriptedServer::threadMain(LPVOID self) {
    static_cast<ScriptedServer*>(self)->run();
    return 0;
}

void ScriptedServer::record(const char* data, int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.append(data, static_cast<std::size_t>(n));
}

bool ScriptedServer::readLine() {
    for (;;) {
        if (!waitReadable(client_, kReadDeadlineMs, stop_)) {
            if (!stop_) readTimedOut_ = true;
            return false;
        }
        char c;
        int n = recv(client_, &c, 1, 0);
        if (n <= 0) {
            clientClosed_ = true;
            return false;
        }
        record(&c, 1);
        if (c == '\n') return true;
    }
}

void ScriptedServer::run() {
    // Accept with a deadline: a test whose client never connects still ends.
    if (!waitReadable(listen_, 30000, stop_)) return;
    client_ = accept(listen_, nullptr, nullptr);
    if (client_ == INVALID_SOCKET) return;
    accepted_ = true;
    for (const Step& step : steps_) {
        if (stop_) return;
        switch (step.kind) {
            case Step::kSend:
                send(client_, step.data.data(), static_cast<int>(step.data.size()), 0);
                break;
            case Step::kExpectLine:
                if (!readLine()) return;
                break;
            case Step::kPause: {
                const ULONGLONG until = GetTickCount64() + step.ms;
                while (!stop_ && GetTickCount64() < until) Sleep(5);
                break;
            }
            case Step::kSilence:
                if (waitReadable(client_, step.ms, stop_)) heard_ = true;
                break;
            case Step::kClose:
                shutdown(client_, SD_BOTH);
                closesocket(client_);
                client_ = INVALID_SOCKET;
                scriptDone_ = true;
                return;
            case Step::kNextClient: {
                char buffer[256];
                int n = 0;
                while (waitReadable(client_, kReadDeadlineMs, stop_) && (n = recv(client_, buffer, sizeof buffer, 0)) > 0)
                    record(buffer, n);
                closesocket(client_);
                client_ = INVALID_SOCKET;
                if (!waitReadable(listen_, kReadDeadlineMs, stop_)) return;
                client_ = accept(listen_, nullptr, nullptr);
                if (client_ == INVALID_SOCKET) return;
                break;
            }
        }
    }
    scriptDone_ = true;
    // Keep listening to the client until it closes or the test ends.
    char buffer[4096];
    while (!stop_) {
        if (!waitReadable(client_, 100, stop_)) continue;
        int n = recv(client_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            clientClosed_ = true;
            return;
        }
        record(buffer, n);
    }
}

}  // namespace testsupport
