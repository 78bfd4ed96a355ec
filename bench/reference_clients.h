#pragma once
// What the benchmarks measure the POP3 component against: two minimal
// clients on blocking Winsock calls, with one buffer, no events and no
// time-outs, sending the very commands a check sends (CAPA, USER, PASS,
// STAT, then LIST n and TOP n 1 for every message, QUIT). The serial one
// waits for each reply before the next command; the pipelined one sends all
// LIST and TOP commands at once and then reads every reply in order.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_common.h"

namespace bench {

class BlockingClient {
public:
    BlockingClient(const std::string& host, unsigned short port) {
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = inet_addr(host.c_str());
        if (connect(s_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            closesocket(s_);
            throw std::runtime_error("connect failed");
        }
    }
    ~BlockingClient() { closesocket(s_); }
    BlockingClient(const BlockingClient&) = delete;
    BlockingClient& operator=(const BlockingClient&) = delete;

    void send(const std::string& data) {
        for (std::size_t done = 0; done < data.size();) {
            const int n = ::send(s_, data.data() + done, static_cast<int>(data.size() - done), 0);
            if (n <= 0) throw std::runtime_error("send failed");
            done += static_cast<std::size_t>(n);
        }
    }
    std::string command(const std::string& line) {
        send(line + "\r\n");
        return readLine();
    }
    std::string readLine() {
        std::size_t end;
        while ((end = buffer_.find("\r\n", pos_)) == std::string::npos) fill();
        std::string line = buffer_.substr(pos_, end - pos_);
        pos_ = end + 2;
        if (line.empty() || line[0] != '+') throw std::runtime_error("server said: " + line);
        return line;
    }
    // The rest of a multi-line reply, up to and including its "." line.
    std::string readData() {
        std::size_t end;
        while ((end = findTerminator()) == std::string::npos) fill();
        std::string data = buffer_.substr(pos_, end - pos_);
        pos_ = end;
        return data;
    }

private:
    std::size_t findTerminator() const {
        if (buffer_.compare(pos_, 3, ".\r\n") == 0) return pos_ + 3;
        const std::size_t at = buffer_.find("\r\n.\r\n", pos_);
        return at == std::string::npos ? at : at + 5;
    }
    void fill() {
        buffer_.erase(0, pos_);
        pos_ = 0;
        char chunk[16384];
        const int n = recv(s_, chunk, sizeof chunk, 0);
        if (n <= 0) throw std::runtime_error("connection lost");
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    SOCKET s_;
    std::string buffer_;
    std::size_t pos_ = 0;
};

// Logs in as a check does; returns the message count.
inline int logIn(BlockingClient& c, const std::string& user, const std::string& password) {
    c.readLine();
    c.command("CAPA");
    c.readData();
    c.command("USER " + user);
    c.command("PASS " + password);
    return std::atoi(c.command("STAT").c_str() + 4);
}

// One command at a time; returns the message count.
inline int serialCheck(const std::string& host, unsigned short port, const std::string& user,
                       const std::string& password) {
    BlockingClient c(host, port);
    const int count = logIn(c, user, password);
    for (int n = 1; n <= count; ++n) {
        c.command("LIST " + std::to_string(n));
        c.command("TOP " + std::to_string(n) + " 1");
        c.readData();
    }
    c.command("QUIT");
    return count;
}

// Every LIST and TOP in one send, then the replies; returns the message
// count. The commands of 1,000 messages (about 22 KB) fit in the socket
// buffers, so the one send cannot stall while the replies wait unread.
inline int pipelinedCheck(const std::string& host, unsigned short port, const std::string& user,
                          const std::string& password) {
    BlockingClient c(host, port);
    const int count = logIn(c, user, password);
    std::string commands;
    for (int n = 1; n <= count; ++n)
        commands += "LIST " + std::to_string(n) + "\r\nTOP " + std::to_string(n) + " 1\r\n";
    c.send(commands);
    for (int n = 1; n <= count; ++n) {
        c.readLine();
        c.readLine();
        c.readData();
    }
    c.command("QUIT");
    return count;
}

}  // namespace bench
