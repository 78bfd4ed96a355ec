#pragma once
// The one JSON shape the program reads: an object whose members it wants are
// strings, numbers or booleans (a token endpoint's answer, a token's claims,
// a server's failure challenge). No <windows.h>: this also builds natively.
#include <map>
#include <string>
#include <string_view>

namespace fw {

// The object's top-level members that are strings (unescaped, \u escapes to
// UTF-8), numbers or booleans (as written), by name; objects, arrays and
// nulls inside are checked and skipped. False for text that is not one JSON
// object, or nests deeper than a token's answer ever does.
bool ReadJsonObject(std::string_view text, std::map<std::string, std::string>& members);

}  // namespace fw
