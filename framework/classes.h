#pragma once
// Components with owners, events, string lists and memory streams.
// No <windows.h> here: the mail layer's text rules use these natively too.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

class TObject {
public:
    virtual ~TObject() = default;
};

// Events are bound callables; an event fires only when assigned.
using TNotifyEvent = std::function<void(TObject* Sender)>;

enum class TOperation { opInsert, opRemove };

// A component is destroyed by its owner. Destroying an owner first detaches
// every owned component (newest first), then destroys it, so no component
// ever calls back into a half-destroyed owner.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return components_; }

    std::string Name;

    // Runs once the whole form description has been applied (the after-load step).
    virtual void AfterLoad() {}
    // Called on an owner (and on every component of that owner) when one of
    // its components is inserted or is about to go away.
    virtual void Notification(TComponent* component, TOperation operation) {}

    // Tells this component to drop references to `component` when it goes.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

protected:
    // Detaches and destroys every owned component, newest first. Window
    // classes call it first thing in their destructors, while their own
    // window still exists.
    void DestroyComponents();

private:
    void insert(TComponent* c);
    void remove(TComponent* c);
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    bool destroying_ = false;
};

// Unsorted list of text lines.
class TStringList : public TObject {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const;
    void Add(std::string s) { lines_.push_back(std::move(s)); }
    void Clear() { lines_.clear(); }
    // Case-insensitive (ASCII) search, as entry names are compared.
    int IndexOfText(const std::string& s) const;
    // Splits at CR LF, lone CR and lone LF, up to the end or a NUL byte.
    void SetText(const char* data, std::size_t size);
    // The lines joined, each followed by CR LF.
    std::string Text() const;
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

// Growable byte buffer with a read/write position.
class TMemoryStream : public TObject {
public:
    std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position = 0;
    std::size_t Write(const void* buffer, std::size_t count);
    void Clear() {
        data_.clear();
        Position = 0;
    }
    const char* Memory() const { return data_.data(); }

private:
    std::vector<char> data_;
};

}  // namespace fw
