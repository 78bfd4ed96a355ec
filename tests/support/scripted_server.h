#pragma once
// A TCP server on 127.0.0.1 that plays a script to the first client, on a
// thread of its own from construction on, and records every byte the client
// sends. One step per script line:
//   S text   send the text and CR LF       s text   send the text as it is
//   C text   read one line (the client must send exactly text CR LF)
//   P ms     pause                         X        hang up
//   H        hold: read nothing more until the server is destroyed
//   T        read one TLS record of the client (its hello), not recorded
// Consecutive S and s lines go out in one send. In texts \r, \n, \t, \0 and
// \\ are escapes, \xHH a byte, and {N*c} stands for N times the character c. After the
// last step the server reads on until the client closes.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class ScriptedServer {
public:
    // On `port` of 127.0.0.1, or on a free one.
    explicit ScriptedServer(const std::string& script = "", unsigned short port = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    unsigned short Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // What the client sent so far, and what the C lines say it must send.
    std::string Received() const;
    const std::string& Expected() const { return expected_; }
    bool Accepted() const { return accepted_; }
    // The client closed, or the script hung up or holds: nothing more comes.
    bool Finished() const { return finished_; }
    // GetTickCount64 of the accept or of the last send.
    ULONGLONG LastActivity() const { return lastActivity_; }

    // A port where connections are refused, and one where they are never answered.
    static unsigned short UnusedPort();
    static unsigned short StalledPort();
    static std::string Unescape(const std::string& text);

private:
    struct Step {
        char kind;
        std::string data;
    };
    static DWORD WINAPI threadMain(LPVOID self);
    void run();
    bool readLine();

    std::vector<Step> steps_;
    std::string expected_, received_;
    UINT_PTR listen_, client_;
    unsigned short port_ = 0;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false}, accepted_{false}, finished_{false};
    std::atomic<ULONGLONG> lastActivity_{0};
    mutable std::mutex mutex_;
};

}  // namespace testsupport
