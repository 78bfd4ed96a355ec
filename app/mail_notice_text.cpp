#include "app/mail_notice_text.h"

namespace app {

namespace {
std::u16string decimal(std::size_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string noticeLine(const TNoticeEntry& e) {
    std::u16string line = e.Sender;
    if (!e.Sender.empty() && !e.Subject.empty()) line += u": ";
    line += e.Subject;
    if (line.size() <= kNoticeLineLength) return line;
    std::size_t keep = kNoticeLineLength - 1;
    // A high surrogate whose partner would be cut off goes with it.
    if (line[keep - 1] >= 0xD800 && line[keep - 1] <= 0xDBFF) --keep;
    return line.substr(0, keep) + u"\u2026";
}
}  // namespace

std::u16string NoticeTitle(std::size_t count) {
    return count == 1 ? u"New mail" : decimal(count) + u" new messages";
}

std::u16string NoticeText(const std::vector<TNoticeEntry>& entries) {
    std::u16string text;
    for (std::size_t i = 0; i < entries.size() && i < kNoticeLines; ++i) {
        if (i) text += u'\n';
        text += noticeLine(entries[i]);
    }
    if (entries.size() > kNoticeLines) text += u"\nand " + decimal(entries.size() - kNoticeLines) + u" more";
    return text;
}

}  // namespace app
