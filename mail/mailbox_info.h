#pragma once
// The mailbox information list: one item per message on the server, with its
// size and the header lines a person is shown. No <windows.h> here: the
// header splitting and body removal also build natively for the fuzzer.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/classes.h"

namespace mail {

// A message's header lines, without line ends. A mailbox of 50,000 messages
// keeps one of these per message between checks, so the lines live in one
// string (each followed by LF, which no line can hold) rather than one
// string each.
class THeaderLines {
public:
    // Empties the list, then splits the stream's bytes from its position to
    // its end (or the first NUL) at CR LF, lone CR and lone LF.
    void LoadFromStream(fw::TMemoryStream& stream);
    // Drops the first exactly-empty line and everything after it (the body
    // that TOP n 1 sends along, and the terminating "." line). A list
    // without an empty line is kept whole.
    void RemoveBody();
    // Keeps the first field of each name (any letter case), with its
    // continuation lines, and drops every other line.
    void KeepFields(std::initializer_list<std::string_view> names);
    int Count() const;
    std::string operator[](int index) const;
    std::vector<std::string> Lines() const;
    // A line break in `line` is cut off there.
    void Add(std::string_view line);
    void Clear() { text_.clear(); }
    // The bytes of the lines, with one line end each.
    std::size_t TextSize() const { return text_.size(); }

private:
    std::string text_;
};

class TMessageInfo {
public:
    std::int32_t Size = 0;
    THeaderLines Headers;
    // The memory the item holds: itself and its header text.
    std::int64_t KeptBytes() const;
};

// Holds its items, in the order they were added (message 1 first).
class TMailboxInfo : public fw::TObject {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    // Raises fw::EListError "List index out of bounds" outside 0..Count-1.
    TMessageInfo& Items(int index);
    const TMessageInfo& Items(int index) const;
    void Add(std::unique_ptr<TMessageInfo> item) { items_.push_back(std::move(*item)); }
    void Add(TMessageInfo&& item) { items_.push_back(std::move(item)); }
    void Clear() { items_.clear(); }
    // Gives back the room left over from growing, once the list is complete.
    void Trim() { items_.shrink_to_fit(); }

private:
    std::vector<TMessageInfo> items_;
};

}  // namespace mail
