#include "framework/graphics.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "framework/handles.h"

namespace fw {

namespace {
// The icon file's image of `size` pixels (most colours first), or its first
// image: the offset and length of the image, or {0, 0} when the file is cut short.
std::pair<std::uint32_t, std::uint32_t> chooseImage(const std::vector<unsigned char>& file, int size) {
    // A 6-byte header (reserved, type, count), then 16-byte directory
    // entries: width, height (0 means 256), colours, reserved, planes, bits
    // per pixel, image length, image offset.
    if (file.size() < 6 + 16) return {0, 0};
    std::uint16_t count;
    std::memcpy(&count, file.data() + 4, 2);
    std::size_t chosen = 0;
    std::uint16_t bestBits = 0;
    for (std::size_t i = 0; i < count && 6 + 16 * (i + 1) <= file.size(); ++i) {
        const unsigned char* e = file.data() + 6 + 16 * i;
        std::uint16_t bits;
        std::memcpy(&bits, e + 6, 2);
        const int width = e[0] ? e[0] : 256;
        if (width == size && bits > bestBits) {
            chosen = i;
            bestBits = bits;
        }
    }
    std::uint32_t length, offset;
    std::memcpy(&length, file.data() + 6 + 16 * chosen + 8, 4);
    std::memcpy(&offset, file.data() + 6 + 16 * chosen + 12, 4);
    if (offset >= file.size() || length > file.size() - offset) return {0, 0};
    return {offset, length};
}
}  // namespace

HICON TIcon::Handle() {
    if (!image_) return nullptr;
    if (!image_->handle) {
        const auto [offset, length] = chooseImage(image_->file, image_->size);
        if (length) {
            image_->owned.reset(CreateIconFromResourceEx(image_->file.data() + offset, length, TRUE, 0x00030000,
                                                         image_->size, image_->size, LR_DEFAULTCOLOR));
            image_->handle = image_->owned.get();
        }
    }
    return image_->handle;
}

void TIcon::SetHandle(HICON icon, bool owned) {
    if (!icon) {
        image_.reset();
        return;
    }
    image_ = std::make_shared<Image>();
    image_->handle = icon;
    if (owned) image_->owned.reset(icon);
}

void TIcon::LoadFromResourceName(HINSTANCE instance, const std::string& name, int size) {
    // Both give icons kept for the program's life: never destroyed here.
    SetHandle(size ? ResourceIcon(instance, name, size) : LoadIconA(instance, name.c_str()), false);
}

void TIcon::LoadFromIconFile(std::vector<unsigned char> bytes, int size) {
    image_ = std::make_shared<Image>();
    image_->file = std::move(bytes);
    image_->size = size;
}

HICON ResourceIcon(HINSTANCE instance, const std::string& name, int size) {
    // LR_SHARED would hand back whichever size of the resource was loaded
    // first, so each size is loaded on its own and kept here.
    struct Loaded {
        HINSTANCE instance;
        std::string name;
        int size;
        UniqueIcon icon;
    };
    static std::vector<Loaded> loaded;
    for (const Loaded& l : loaded)
        if (l.instance == instance && l.size == size && l.name == name) return l.icon.get();
    HICON icon = static_cast<HICON>(LoadImageA(instance, name.c_str(), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (!icon) return nullptr;
    loaded.push_back({instance, name, size, UniqueIcon(icon)});
    return icon;
}

std::vector<unsigned char> LoadResourceBytes(HINSTANCE instance, const char* name) {
    HRSRC res = FindResourceA(instance, name, reinterpret_cast<LPCSTR>(RT_RCDATA));
    if (!res) return {};
    HGLOBAL g = LoadResource(instance, res);
    DWORD size = SizeofResource(instance, res);
    const auto* p = static_cast<const unsigned char*>(LockResource(g));
    if (!p) return {};
    return std::vector<unsigned char>(p, p + size);
}

}  // namespace fw
