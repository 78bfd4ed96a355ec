#pragma once
// Header bytes to UTF-16 through the system's code pages: the converter the
// program hands to DecodeHeaderText.
#include <string>
#include <string_view>

namespace mail {

// A known charset whose bytes are all valid in it gives true; the empty
// charset (unlabelled header bytes) is read as UTF-8 when it is valid UTF-8,
// else in the system's ANSI code page, and never fails.
bool ConvertCharset(std::string_view charset, std::string_view bytes, std::u16string& out);

}  // namespace mail
