#pragma once
// The real Dovecot POP3 server that ctest starts for the suites that need
// one (the dovecot fixture of tests/CMakeLists.txt runs
// scripts/dovecot-fixture.sh); its folder comes in TIDEMARK_DOVECOT.
#include <string>

namespace testsupport::dovecot {

// "127.0.0.1:port", or "" when no server runs.
std::string ServerText();
// Delivers a message into the user's Maildir: written to tmp/, then renamed
// into new/, so the server never sees half a file.
bool Deliver(const std::string& user, const std::string& text);
// The server's log so far.
std::string Log();

}  // namespace testsupport::dovecot
