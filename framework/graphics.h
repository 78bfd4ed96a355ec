#pragma once
// Icons whose image is shared on assignment: a copy made with Assign uses
// the same image, so the source may be freed at once.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"

namespace fw {

class TIcon : public TObject {
public:
    // The icon's handle; an icon that holds only a stored image (icon-file
    // bytes) has its handle created here. Null for an empty icon.
    HICON Handle();
    bool Empty() const { return !image_; }
    // Takes over a handle; `owned` says whether it is destroyed with the image.
    void SetHandle(HICON icon, bool owned = true);
    // Loads a named icon resource (LoadIconA); an unknown name leaves the icon empty.
    void LoadFromResourceName(HINSTANCE instance, const std::string& name);
    // Keeps icon-file bytes; the handle is made from them on first use.
    void LoadFromIconFile(std::vector<unsigned char> bytes);
    void Assign(const TIcon& source) { image_ = source.image_; }
    bool SharesImageWith(const TIcon& other) const { return image_ && image_ == other.image_; }

private:
    struct Image {
        HICON handle = nullptr;
        bool owned = false;
        std::vector<unsigned char> file;
        ~Image();
    };
    std::shared_ptr<Image> image_;
};

// Reads an RCDATA resource of this module.
std::vector<unsigned char> LoadResourceBytes(HINSTANCE instance, const char* name);

}  // namespace fw
