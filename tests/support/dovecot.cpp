#include "tests/support/dovecot.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport::dovecot {

namespace {
std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}
}  // namespace

std::string Folder(bool tls) {
    const char* env = std::getenv(tls ? "TIDEMARK_DOVECOT_TLS" : "TIDEMARK_DOVECOT");
    std::string path = env ? std::string("Z:") + env : "";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string FirstLine(const std::string& name, bool tls) {
    const std::string text = readFile(Folder(tls) + "\\" + name);
    return text.substr(0, text.find('\n'));
}

std::string ServerText() { return FirstLine("port").empty() ? "" : "127.0.0.1:" + FirstLine("port"); }

bool Deliver(const std::string& user, const std::string& text, bool tls, bool seen) {
    static unsigned count = 0;
    const std::string name = std::to_string(GetCurrentProcessId()) + "." + std::to_string(++count) + ".tidemark";
    const std::string maildir = Folder(tls) + "\\home\\" + user + "\\Maildir\\";
    std::ofstream(maildir + "tmp\\" + name, std::ios::binary) << text;
    if (!seen) return MoveFileA((maildir + "tmp\\" + name).c_str(), (maildir + "new\\" + name).c_str()) != 0;
    // The flags follow a colon, which no Windows file name holds: a Unix mv
    // (Wine starts Unix programs too) gives the name.
    const std::string unix = std::string(std::getenv(tls ? "TIDEMARK_DOVECOT_TLS" : "TIDEMARK_DOVECOT")) + "/home/" + user + "/Maildir/";
    std::string command = "/bin/mv " + unix + "tmp/" + name + " " + unix + "cur/" + name + ":2,S";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    // Wine neither waits for a Unix program nor gives its exit code: the
    // file moves within 5 s or not.
    CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
    for (int i = 0; i < 500; ++i, Sleep(10))
        if (GetFileAttributesA((maildir + "tmp\\" + name).c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    return false;
}

bool RenewUidValidity(const std::string& user, bool tls) {
    // The uidlist's first line holds it as "V<number>"; the index keeps the
    // old one, so it goes and Dovecot builds it again from the list.
    const std::string maildir = Folder(tls) + "\\home\\" + user + "\\Maildir\\";
    std::string list = readFile(maildir + "dovecot-uidlist");
    const std::size_t v = list.find(" V");
    if (v == std::string::npos) return false;
    list.replace(v + 2, list.find(' ', v + 2) - v - 2, std::to_string(std::stoul(list.substr(v + 2)) + 1000));
    for (const char* index : {"dovecot.index", "dovecot.index.log", "dovecot.index.cache"}) DeleteFileA((maildir + index).c_str());
    std::ofstream(maildir + "dovecot-uidlist", std::ios::binary) << list;
    return true;
}

std::string Log(bool tls) { return readFile(Folder(tls) + "\\dovecot.log"); }

}  // namespace testsupport::dovecot
