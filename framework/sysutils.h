#pragma once
// Exceptions and text helpers that every layer shares. No <windows.h> here:
// this file also builds natively for the fuzzer.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace fw {

// Base of every exception the program raises; Message is what the user sees.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

class EConvertError : public Exception {
    using Exception::Exception;
};
class EListError : public Exception {
    using Exception::Exception;
};
class EInvalidOperation : public Exception {
    using Exception::Exception;
};

// Strict integer conversion: optional blanks, then an optional sign and
// decimal digits, or "$" and hexadecimal digits, to the end of the text, in
// the 32-bit signed range. Anything else fails.
bool TryStrToInt(const std::string& text, std::int32_t& value);
// As TryStrToInt, raising EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);
// As TryStrToInt, giving `fallback` on failure.
std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback);
std::string IntToStr(std::int64_t value);

// Replaces the first "%s" in `pattern` by `arg` (the catalogue's only form).
std::string FormatStr(const std::string& pattern, const std::string& arg);

// Letter case of the bytes 'a'..'z' and 'A'..'Z' only, whatever the locale.
std::string UpperCaseAscii(std::string text);
std::string LowerCaseAscii(std::string text);
char LowerCaseAscii(char c);
bool SameTextAscii(std::string_view a, std::string_view b);

// The value of a hexadecimal digit (either case), or -1.
int HexDigitValue(char c);

// Takes the next line off `text` into `line`, without its LF or CR LF;
// false once `text` is used up. A last line without a line end counts.
bool NextLine(std::string_view& text, std::string_view& line);

// Base64 (RFC 4648) with padding, or its URL-safe alphabet without padding
// (PKCE, JSON Web Tokens).
std::string Base64Encode(std::string_view bytes, bool urlSafe = false);
// Either alphabet, padding optional; false for any other character or a
// length no encoding gives.
bool Base64Decode(std::string_view text, std::string& bytes);

}  // namespace fw
