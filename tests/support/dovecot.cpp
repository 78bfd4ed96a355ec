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

bool Deliver(const std::string& user, const std::string& text, bool tls) {
    static unsigned count = 0;
    const std::string name = std::to_string(GetCurrentProcessId()) + "." + std::to_string(++count) + ".tidemark";
    const std::string maildir = Folder(tls) + "\\home\\" + user + "\\Maildir\\";
    std::ofstream(maildir + "tmp\\" + name, std::ios::binary) << text;
    return MoveFileA((maildir + "tmp\\" + name).c_str(), (maildir + "new\\" + name).c_str()) != 0;
}

std::string Log(bool tls) { return readFile(Folder(tls) + "\\dovecot.log"); }

}  // namespace testsupport::dovecot
