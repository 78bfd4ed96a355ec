#pragma once
// Header fields as a person reads them: unfolded, RFC 2047 encoded words
// decoded, the sender as a name. No <windows.h> here: these rules also build
// natively for the fuzzer; turning a charset's bytes into UTF-16 is left to
// the caller's converter (the program's uses the system's code pages).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// Converts `bytes` in `charset` (a MIME name such as "utf-8", any letter
// case) to UTF-16; false when the charset is unknown or the bytes are not
// valid in it. The empty charset stands for header bytes that carry no
// label, and must not fail.
using TCharsetConverter = std::function<bool(std::string_view charset, std::string_view bytes, std::u16string& out)>;

// The Windows code page for a MIME charset name (any letter case, with or
// without the dashes and underscores mailers vary in: "ISO-8859-1",
// "iso_8859-1", "Windows-1251", "cp1251", "KOI8-R", "Shift_JIS" ...); 0 when
// the name says nothing known. Whether the system has that code page is for
// the converter to find out.
std::uint32_t CodePageOfCharset(std::string_view charset);

// ISO-2022-JP text (ASCII, JIS X 0201 and JIS X 0208 switched by escape
// sequences) as EUC-JP, for systems without the ISO-2022-JP code pages
// but with EUC-JP's. False for an unknown escape sequence or a byte that
// does not belong where it stands.
bool Iso2022JpToEucJp(std::string_view text, std::string& out);

// The value of the first field called `name` (any letter case) among header
// lines as TOP gives them: continuation lines (those that begin with a blank
// or a tab) joined on, leading and trailing blanks gone. Empty when absent.
std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name);

// Decodes the encoded words ("=?charset?B|Q?text?=") in a header value. The
// white space between two adjacent encoded words goes, and adjacent words in
// one charset are converted together, so a character split across them stays
// whole. A word that is malformed, or whose charset cannot be converted,
// stays exactly as written.
std::u16string DecodeHeaderText(std::string_view value, const TCharsetConverter& convert);

// The part of a From value to show: the first mailbox's display name without
// its quotes (and quoted-pair backslashes), else the comment of an old-style
// "address (Name)", else the address. Not decoded yet.
std::string SenderDisplayText(std::string_view from);

// Decodes the two fields a notice names. Control characters (C0, DEL, C1,
// and the line and paragraph separators) become blanks, so a decoded line
// break cannot break the notice's layout, nor a line of popcheck's listing.
std::u16string DecodedSender(const std::vector<std::string>& lines, const TCharsetConverter& convert);
std::u16string DecodedSubject(const std::vector<std::string>& lines, const TCharsetConverter& convert);
// Any field decoded that way, whole (a From with its address).
std::u16string DecodedField(const std::vector<std::string>& lines, std::string_view name,
                            const TCharsetConverter& convert);

}  // namespace mail
