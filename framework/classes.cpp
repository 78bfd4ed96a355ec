#include "framework/classes.h"

#include <algorithm>

#include "framework/sysutils.h"

namespace fw {

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->insert(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Those who asked to hear of our going drop their references first.
    auto notifies = std::move(freeNotifies_);
    for (TComponent* c : notifies) {
        c->Notification(this, TOperation::opRemove);
        auto& back = c->freeNotifies_;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
    }
    DestroyComponents();
    if (owner_) owner_->remove(this);
}

void TComponent::DestroyComponents() {
    // Owned components go newest first; each is detached before it is destroyed.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
}

void TComponent::insert(TComponent* c) {
    components_.push_back(c);
    c->owner_ = this;
    Notification(c, TOperation::opInsert);
}

void TComponent::remove(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    c->owner_ = nullptr;
    if (!destroying_) {
        Notification(c, TOperation::opRemove);
        for (TComponent* sibling : components_) sibling->Notification(c, TOperation::opRemove);
    }
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(component->freeNotifies_.begin(), component->freeNotifies_.end(), this) ==
        component->freeNotifies_.end())
        component->freeNotifies_.push_back(this);
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
        freeNotifies_.push_back(component);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    auto& a = component->freeNotifies_;
    a.erase(std::remove(a.begin(), a.end(), this), a.end());
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component), freeNotifies_.end());
}

const std::string& TStringList::operator[](int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    return lines_[static_cast<std::size_t>(index)];
}

int TStringList::IndexOfText(const std::string& s) const {
    const std::string key = UpperCaseAscii(s);
    for (int i = 0; i < Count(); ++i)
        if (UpperCaseAscii(lines_[static_cast<std::size_t>(i)]) == key) return i;
    return -1;
}

void TStringList::SetText(const char* data, std::size_t size) {
    lines_.clear();
    std::size_t i = 0;
    while (i < size && data[i] != '\0') {
        std::size_t start = i;
        while (i < size && data[i] != '\0' && data[i] != '\r' && data[i] != '\n') ++i;
        lines_.emplace_back(data + start, i - start);
        if (i < size && data[i] == '\r') {
            ++i;
            if (i < size && data[i] == '\n') ++i;
        } else if (i < size && data[i] == '\n') {
            ++i;
        }
    }
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& l : lines_) {
        out += l;
        out += "\r\n";
    }
    return out;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    auto pos = static_cast<std::size_t>(Position);
    if (pos + count > data_.size()) data_.resize(pos + count);
    std::copy_n(static_cast<const char*>(buffer), count, data_.begin() + static_cast<std::ptrdiff_t>(pos));
    Position += static_cast<std::int64_t>(count);
    return count;
}

}  // namespace fw
