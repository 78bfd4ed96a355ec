#pragma once
// The mailbox information list: one item per message on the server, with its
// size and header lines. No <windows.h> here: the header splitting and body
// removal also build natively for the fuzzer.
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/classes.h"

namespace mail {

// A message's header lines, one list line per text line, without line ends.
class THeaderLines : public fw::TStringList {
public:
    // Empties the list, then splits the stream's bytes from its position to
    // its end (or the first NUL) at CR LF, lone CR and lone LF.
    void LoadFromStream(fw::TMemoryStream& stream);
    // Drops the first exactly-empty line and everything after it (the body
    // that TOP n 1 sends along, and the terminating "." line). A list
    // without an empty line is kept whole.
    void RemoveBody();
};

class TMessageInfo : public fw::TObject {
public:
    std::int32_t Size = 0;
    THeaderLines Headers;
    // The memory the item holds: itself, and each header line with its text.
    std::int64_t KeptBytes() const;
};

// Owns its items, in the order they were added (message 1 first).
class TMailboxInfo : public fw::TObject {
public:
    ~TMailboxInfo() override { Clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    // Raises fw::EListError "List index out of bounds" outside 0..Count-1.
    TMessageInfo& Items(int index) const;
    void Add(std::unique_ptr<TMessageInfo> item);
    // Frees the items, the last one first.
    void Clear();

private:
    std::vector<std::unique_ptr<TMessageInfo>> items_;
};

}  // namespace mail
