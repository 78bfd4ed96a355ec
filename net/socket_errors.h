#pragma once
// The transport's and mail components' failures: the exception classes, the
// error catalogue in the string table, and the Remote Access error text.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "framework/classes.h"
#include "framework/sysutils.h"
#include "net/catalogue_ids.h"

namespace net {

// The catalogue text for `id`, read from the program's string table.
// Returns false (and leaves `text` empty) when the table has no such string.
bool FindCatalogueText(unsigned id, std::string& text);
// The catalogue text, or "" when there is none.
std::string CatalogueText(unsigned id);

class ESocketError : public fw::Exception {
public:
    explicit ESocketError(std::string message, int code = 0) : Exception(std::move(message)), Code(code) {}
    // The Winsock code or catalogue id behind the message: a handler of
    // OnError may have rewritten the text, and callers still need to tell a
    // refused connection from a missing setting.
    int Code;
};
class EServerError : public fw::Exception {
public:
    explicit EServerError(std::string line, bool hungUp = false) : Exception(std::move(line)), HungUp(hungUp) {}
    // The server closed the connection instead of answering: the message is
    // the catalogue's text, no line of the server's.
    bool HungUp;
};
class EWinsockDLLError : public fw::Exception {
    using Exception::Exception;
};
class ECanceledError : public fw::Exception {
public:
    ECanceledError();
};
class ETimedOutError : public fw::Exception {
public:
    ETimedOutError();
};
// Its message is the Remote Access library's own text for the code, or
// "RAS error no " and the code when the library cannot tell.
class ERASError : public fw::Exception {
public:
    explicit ERASError(std::uint32_t code);
};
std::string RASErrorText(std::uint32_t code);

}  // namespace net
