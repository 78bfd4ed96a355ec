#include "mail/mailbox_info.h"

#include "framework/sysutils.h"

namespace mail {

namespace {
bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
}  // namespace

void THeaderLines::LoadFromStream(fw::TMemoryStream& stream) {
    const std::int64_t start = stream.Position < 0 ? 0 : stream.Position;
    const std::int64_t size = stream.Size();
    text_.clear();
    for (std::int64_t i = start; i < size && stream.Memory()[i] != '\0'; ++i) {
        const char c = stream.Memory()[i];
        if (c == '\r' && i + 1 < size && stream.Memory()[i + 1] == '\n') continue;
        text_ += c == '\r' ? '\n' : c;
    }
    if (!text_.empty() && text_.back() != '\n') text_ += '\n';
    stream.Position = size;
}

void THeaderLines::RemoveBody() {
    if (!text_.empty() && text_[0] == '\n') text_.clear();
    const std::size_t blank = text_.find("\n\n");
    if (blank != std::string::npos) text_.resize(blank + 1);
}

void THeaderLines::KeepFields(std::initializer_list<std::string_view> names) {
    std::string kept;
    std::vector<bool> found(names.size());
    bool keeping = false;
    for (std::size_t at = 0; at < text_.size();) {
        const std::size_t end = text_.find('\n', at) + 1;
        const std::string_view line(text_.data() + at, end - at);
        if (line[0] != ' ' && line[0] != '\t') {
            keeping = false;
            std::size_t k = 0;
            for (std::string_view name : names) {
                if (!found[k] && line.size() > name.size() && line[name.size()] == ':' &&
                    sameNoCase(line.substr(0, name.size()), name))
                    keeping = found[k] = true;
                ++k;
            }
        }
        if (keeping) kept += line;
        at = end;
    }
    text_ = std::move(kept);
    text_.shrink_to_fit();
}

int THeaderLines::Count() const {
    int n = 0;
    for (char c : text_) n += c == '\n';
    return n;
}

std::string THeaderLines::operator[](int index) const {
    std::size_t at = 0;
    for (int i = 0; i < index && at < text_.size(); ++i) at = text_.find('\n', at) + 1;
    if (index < 0 || at >= text_.size()) throw fw::EListError("List index out of bounds");
    return text_.substr(at, text_.find('\n', at) - at);
}

std::vector<std::string> THeaderLines::Lines() const {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text_.size();) {
        const std::size_t end = text_.find('\n', at);
        lines.push_back(text_.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

void THeaderLines::Add(std::string_view line) {
    text_.append(line.substr(0, line.find_first_of("\r\n"))).push_back('\n');
}

std::int64_t TMessageInfo::KeptBytes() const {
    return static_cast<std::int64_t>(sizeof(TMessageInfo) + Headers.TextSize());
}

TMessageInfo& TMailboxInfo::Items(int index) {
    if (index < 0 || index >= Count()) throw fw::EListError("List index out of bounds");
    return items_[static_cast<std::size_t>(index)];
}

const TMessageInfo& TMailboxInfo::Items(int index) const { return const_cast<TMailboxInfo*>(this)->Items(index); }

}  // namespace mail
