#pragma once
// The words of the new-mail notice. No <windows.h>: these rules also build
// natively for the fuzzer.
#include <cstddef>
#include <string>
#include <vector>

namespace app {

struct TNoticeEntry {
    std::u16string Sender;
    std::u16string Subject;
};

// Lines the notice names one message each; more are summed up in one line.
constexpr std::size_t kNoticeLines = 3;
// Longest message line, in UTF-16 units, its ellipsis included: three of
// them and the summing-up line fit the balloon's 255 characters.
constexpr std::size_t kNoticeLineLength = 76;

// "New mail" for one message, else "N new messages".
std::u16string NoticeTitle(std::size_t count);
// Up to three lines "Sender: Subject" for the first entries (the subject
// alone when there is no sender; "(no subject)" for a blank one), then
// "and N more" for the rest of `count` messages. A longer line is cut and
// ends in an ellipsis, never inside a surrogate pair.
std::u16string NoticeText(const std::vector<TNoticeEntry>& entries, std::size_t count);

}  // namespace app
