#pragma once
// The real Dovecot POP3 servers that ctest starts for the suites that need
// them (the dovecot and dovecot_tls fixtures of tests/CMakeLists.txt run
// scripts/dovecot-fixture.sh); their folders come in TIDEMARK_DOVECOT and
// TIDEMARK_DOVECOT_TLS. `tls` picks the one that requires TLS.
#include <string>

namespace testsupport::dovecot {

// The fixture's folder as Windows programs reach it (Z:\...).
std::string Folder(bool tls = false);
// The first line of a file of that folder ("port", "tls_port"); "" when missing.
std::string FirstLine(const std::string& name, bool tls = false);

// "127.0.0.1:port", or "" when no server runs.
std::string ServerText();
// Delivers a message into the user's Maildir: written to tmp/, then renamed
// into new/ (or, seen, into cur/ with the flag), so the server never sees
// half a file.
bool Deliver(const std::string& user, const std::string& text, bool tls = false, bool seen = false);
// Gives the user's inbox a new UIDVALIDITY (no session may be open on it).
bool RenewUidValidity(const std::string& user, bool tls = false);
// The server's log so far.
std::string Log(bool tls = false);

}  // namespace testsupport::dovecot
