#pragma once
// A TCP server on 127.0.0.1 that plays a fixed script to the first client on
// a thread of its own, and records every byte the client sent. Protocol tests
// are transcripts: the script says exactly what the server sends, the test
// checks exactly what the client sent. Every read of the script has a
// deadline, so a client that sends nothing never hangs the run.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    unsigned short Port() const { return port_; }
    // "127.0.0.1:<port>", as the socket's Server setting takes it.
    std::string Address() const;

    // Script steps, played in order once a client connects.
    ScriptedServer& Send(const std::string& bytes);
    // Reads from the client up to and including the next LF (recorded).
    ScriptedServer& ExpectLine();
    ScriptedServer& Pause(DWORD ms);
    // Waits `ms` for the client to send nothing (a client waiting for a
    // reply); bytes that arrive meanwhile set HeardDuringSilence.
    ScriptedServer& ExpectSilence(DWORD ms);
    // Closes the connection (the client sees FD_CLOSE and recv returning 0).
    ScriptedServer& Close();
    // Waits for the client to hang up, then for the next client, which gets
    // the rest of the script: one server for a series of sessions.
    ScriptedServer& NextClient();

    // Starts listening for one client and playing the script. After the last
    // step the connection stays open, still recording, until the client
    // closes it or the server is destroyed.
    void Start();

    // Everything the client has sent so far.
    std::string Received() const;
    // The client closed its end (the server read end-of-stream).
    bool ClientClosed() const { return clientClosed_; }
    bool Accepted() const { return accepted_; }
    // The script has been played to its end.
    bool ScriptDone() const { return scriptDone_; }
    // A script read ran out of time (the client did not send what was expected).
    bool ReadTimedOut() const { return readTimedOut_; }
    bool HeardDuringSilence() const { return heard_; }

    // A port on 127.0.0.1 where nothing listens (connections are refused).
    static unsigned short UnusedPort();

private:
    struct Step {
        enum Kind { kSend, kExpectLine, kPause, kSilence, kClose, kNextClient } kind;
        std::string data;
        DWORD ms;
    };
    static DWORD WINAPI threadMain(LPVOID self);
    void run();
    bool readLine();
    void record(const char* data, int n);

    std::vector<Step> steps_;
    UINT_PTR listen_;
    UINT_PTR client_;
    unsigned short port_ = 0;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> clientClosed_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<bool> scriptDone_{false};
    std::atomic<bool> readTimedOut_{false};
    std::atomic<bool> heard_{false};
    mutable std::mutex mutex_;
    std::string received_;
};

}  // namespace testsupport
