#include "tests/support/dovecot_fixture.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace testsupport {

namespace {

std::string toWindowsPath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

bool exists(const std::string& winPath) { return GetFileAttributesA(winPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readFile(const std::string& winPath) {
    std::string text;
    HANDLE h = CreateFileA(winPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    CloseHandle(h);
    return text;
}

bool writeFile(const std::string& winPath, const std::string& text) {
    HANDLE h = CreateFileA(winPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
    CloseHandle(h);
    return ok;
}

// Waits (without a message loop: nothing here needs one) for `done`.
template <typename F>
bool waitUntil(F done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace

DovecotServer::DovecotServer(std::string script) : script_(std::move(script)) {
    static unsigned sequence = 0;
    char name[96];
    std::snprintf(name, sizeof name, "/tmp/tidemark-dovecot-%lu-%llu-%u", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long long>(GetTickCount64()), ++sequence);
    unixDir_ = name;
    winDir_ = toWindowsPath(unixDir_);
}

DovecotServer::~DovecotServer() { Stop(); }

bool DovecotServer::runScript(const std::string& args) {
    // Wine starts a Unix executable given its Unix path, but hands back no
    // process handle that can be waited on: the callers poll for the files
    // the script leaves behind instead.
    std::string cmd = "\"" + script_ + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    return true;
}

bool DovecotServer::Start(const std::vector<std::pair<std::string, std::string>>& users, std::string& error) {
    std::string args = (Tls ? "start-tls \"" : "start \"") + unixDir_ + "\"";
    for (const auto& [user, password] : users) args += " \"" + user + "\" \"" + password + "\"";
    if (!runScript(args)) {
        error = "cannot run " + script_ + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    started_ = true;
    const std::string portFile = winDir_ + "\\port";
    const std::string failFile = winDir_ + "\\failed";
    if (!waitUntil([&] { return exists(portFile) || exists(failFile); }, 20000) || !exists(portFile)) {
        error = "Dovecot did not start: " + readFile(failFile) + "\nlog:\n" + Log();
        return false;
    }
    port_ = static_cast<std::uint16_t>(std::stoi(readFile(portFile)));
    if (Tls) tlsPort_ = static_cast<std::uint16_t>(std::stoi(File("tls_port")));
    return true;
}

void DovecotServer::Stop() {
    if (!started_) return;
    started_ = false;
    if (runScript("stop \"" + unixDir_ + "\"")) waitUntil([&] { return !exists(winDir_); }, 10000);
}

std::string DovecotServer::ServerText() const { return "127.0.0.1:" + std::to_string(port_); }

bool DovecotServer::AddMessage(const std::string& user, const std::string& text) {
    const std::string maildir = winDir_ + "\\home\\" + user + "\\Maildir\\";
    ++delivered_;
    const std::string name = std::to_string(delivered_) + ".M" + std::to_string(delivered_) + "P" +
                             std::to_string(GetCurrentProcessId()) + ".tidemark";
    if (!writeFile(maildir + "tmp\\" + name, text)) return false;
    return MoveFileA((maildir + "tmp\\" + name).c_str(), (maildir + "new\\" + name).c_str()) != 0;
}

std::string DovecotServer::File(const std::string& name) const {
    std::string path = winDir_ + "\\" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return readFile(path);
}

std::string DovecotServer::Log() const { return readFile(winDir_ + "\\dovecot.log"); }

}  // namespace testsupport
