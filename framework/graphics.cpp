#include "framework/graphics.h"

#include <cstring>

namespace fw {

TIcon::Image::~Image() {
    if (owned && handle) DestroyIcon(handle);
}

HICON TIcon::Handle() {
    if (!image_) return nullptr;
    if (!image_->handle && image_->file.size() > 6 + 16) {
        // An icon file: a 6-byte header, 16-byte directory entries, then the
        // images. Take the first image whole.
        const unsigned char* f = image_->file.data();
        std::uint32_t size, offset;
        std::memcpy(&size, f + 6 + 8, 4);
        std::memcpy(&offset, f + 6 + 12, 4);
        if (offset < image_->file.size() && size <= image_->file.size() - offset) {
            image_->handle = CreateIconFromResourceEx(const_cast<unsigned char*>(f + offset), size, TRUE, 0x00030000,
                                                      0, 0, LR_DEFAULTCOLOR);
            image_->owned = image_->handle != nullptr;
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
    image_->owned = owned;
}

void TIcon::LoadFromResourceName(HINSTANCE instance, const std::string& name) {
    // LoadIconA gives a shared resource icon: it is never destroyed by us.
    SetHandle(LoadIconA(instance, name.c_str()), false);
}

void TIcon::LoadFromIconFile(std::vector<unsigned char> bytes) {
    image_ = std::make_shared<Image>();
    image_->file = std::move(bytes);
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
