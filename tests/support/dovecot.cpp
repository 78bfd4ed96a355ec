#include "tests/support/dovecot.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport::dovecot {

namespace {
std::string folder() {
    const char* env = std::getenv("TIDEMARK_DOVECOT");
    std::string path = env ? std::string("Z:") + env : "";
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}
}  // namespace

std::string ServerText() {
    const std::string port = readFile(folder() + "\\port");
    return port.empty() ? "" : "127.0.0.1:" + port.substr(0, port.find('\n'));
}

bool Deliver(const std::string& user, const std::string& text) {
    static unsigned count = 0;
    const std::string name = std::to_string(GetCurrentProcessId()) + "." + std::to_string(++count) + ".tidemark";
    const std::string maildir = folder() + "\\home\\" + user + "\\Maildir\\";
    std::ofstream(maildir + "tmp\\" + name, std::ios::binary) << text;
    return MoveFileA((maildir + "tmp\\" + name).c_str(), (maildir + "new\\" + name).c_str()) != 0;
}

std::string Log() { return readFile(folder() + "\\dovecot.log"); }

}  // namespace testsupport::dovecot
