#include "mail/mailbox_info.h"

#include "framework/sysutils.h"

namespace mail {

void THeaderLines::LoadFromStream(fw::TMemoryStream& stream) {
    const std::int64_t start = stream.Position < 0 ? 0 : stream.Position;
    const std::int64_t size = stream.Size();
    if (start >= size) {
        Clear();
        stream.Position = size;
        return;
    }
    SetText(stream.Memory() + start, static_cast<std::size_t>(size - start));
    stream.Position = size;
}

void THeaderLines::RemoveBody() {
    const int k = IndexOf(std::string());
    if (k < 0) return;
    while (Count() > k) Delete(Count() - 1);
}

std::int64_t TMessageInfo::KeptBytes() const {
    std::int64_t bytes = sizeof(TMessageInfo);
    for (const std::string& line : Headers.Lines()) bytes += static_cast<std::int64_t>(sizeof line + line.size());
    return bytes;
}

TMessageInfo& TMailboxInfo::Items(int index) const {
    if (index < 0 || index >= Count()) throw fw::EListError("List index out of bounds");
    return *items_[static_cast<std::size_t>(index)];
}

void TMailboxInfo::Add(std::unique_ptr<TMessageInfo> item) { items_.push_back(std::move(item)); }

void TMailboxInfo::Clear() {
    while (!items_.empty()) items_.pop_back();
}

}  // namespace mail
