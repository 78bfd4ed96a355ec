#pragma once
// The IMAP response grammar: one server response (a line with its literals)
// read into its parts. No <windows.h> here: the rules also build natively
// for the fuzzer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// A value of a response's data: an atom (a flag, a keyword, a number, a
// section name with its brackets), a string (quoted or literal, unescaped),
// NIL, or a parenthesised list.
struct TImapValue {
    enum TKind { Atom, String, Nil, List } Kind = Atom;
    std::string Text;
    std::vector<TImapValue> Items;
    // The atom as a number, when it is one that fits 32 bits.
    std::optional<std::uint32_t> Number() const;
    bool Is(std::string_view upperAtom) const;
};

struct TImapResponse {
    enum TKind { Untagged, Tagged, Continuation } Kind = Untagged;
    std::string Tag;
    // "* 12 EXISTS": 12, the number before the keyword.
    std::optional<std::uint32_t> Number;
    // Upper-cased: OK, NO, BAD, BYE, PREAUTH, CAPABILITY, SEARCH, ESEARCH,
    // EXISTS, EXPUNGE, FETCH, FLAGS, ...; empty for a continuation.
    std::string Keyword;
    // Of a status response (and a continuation): the response code's atom,
    // upper-cased, with the rest inside its brackets, and the human text.
    std::string Code, CodeArguments, Text;
    // Of a data response: the values after the keyword.
    std::vector<TImapValue> Values;

    bool IsStatus() const;
};

// The response is no IMAP (a broken string, a literal announced but not
// there, a list never closed); the message says where.
class EImapSyntax : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `text` is one whole response: its line, each literal announced at a line's
// end ("{N}" CR LF) followed by exactly its N bytes and the rest of the line,
// without the final CR LF.
TImapResponse ParseImapResponse(std::string_view text);

// The byte count of the literal that `line` (without its CR LF) announces at
// its end ("{N}", or "{N+}"), or nothing when it ends otherwise.
std::optional<std::uint64_t> AnnouncedLiteral(std::string_view line);

// The response code of a status line, with or without its tag ("a2 NO
// [UNAVAILABLE] ...", "NO [UNAVAILABLE] ..."): "UNAVAILABLE"; "" for none or
// for a line that is no IMAP status response.
std::string ImapResponseCode(const std::string& line);

// An astring argument of a command: an atom as it is, a quoted string where
// the text allows one, otherwise nothing (the caller sends a literal).
std::optional<std::string> ImapQuoted(std::string_view text);

// UIDs as a sequence set, consecutive ones as ranges: "3:5,9".
std::string ImapSequenceSet(const std::vector<std::uint32_t>& ascendingUids);
// The UIDs of a sequence set (from an ESEARCH ALL), appended; more than
// `most` of them raises EImapSyntax.
void ImapExpandSet(std::string_view set, std::size_t most, std::vector<std::uint32_t>& uids);

std::string Base64(std::string_view bytes);

}  // namespace mail
