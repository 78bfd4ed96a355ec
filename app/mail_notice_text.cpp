#include "app/mail_notice_text.h"

namespace app {

namespace {
std::u16string decimal(std::size_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

bool blank(const std::u16string& text) { return text.find_first_not_of(u' ') == std::u16string::npos; }

std::u16string noticeLine(const TNoticeEntry& e) {
    // A notice whose text is empty is not shown at all.
    std::u16string line = blank(e.Sender) ? u"" : e.Sender + u": ";
    line += blank(e.Subject) ? u"(no subject)" : e.Subject;
    if (line.size() <= kNoticeLineLength) return line;
    std::size_t keep = kNoticeLineLength - 1;
    // A high surrogate whose partner would be cut off goes with it.
    if (line[keep - 1] >= 0xD800 && line[keep - 1] <= 0xDBFF) --keep;
    return line.substr(0, keep) + u"\u2026";
}
}  // namespace

std::u16string NoticeTitle(std::size_t count) { return count == 1 ? u"New mail" : decimal(count) + u" new messages"; }

std::u16string NoticeText(const std::vector<TNoticeEntry>& entries, std::size_t count) {
    std::u16string text;
    std::size_t named = 0;
    for (; named < entries.size() && named < kNoticeLines && named < count; ++named) {
        if (named) text += u'\n';
        text += noticeLine(entries[named]);
    }
    if (count > named) text += (named ? u"\nand " : u"and ") + decimal(count - named) + u" more";
    return text;
}

}  // namespace app
