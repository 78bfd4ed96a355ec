#pragma once
// Icons whose image is shared on assignment: a copy made with Assign uses
// the same image, so the source may be freed at once.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/handles.h"

namespace fw {

class TIcon : public TObject {
public:
    // The icon's handle; an icon that holds only a stored image (icon-file
    // bytes) has its handle created here. Null for an empty icon.
    HICON Handle();
    bool Empty() const { return !image_; }
    // Takes over a handle; `owned` says whether it is destroyed with the image.
    void SetHandle(HICON icon, bool owned = true);
    // Loads a named icon resource: with size 0 as LoadIconA does (the
    // system's large icon size), otherwise its image of `size` pixels (see
    // ResourceIcon). An unknown name leaves the icon empty.
    void LoadFromResourceName(HINSTANCE instance, const std::string& name, int size = 0);
    // Keeps icon-file bytes; the handle is made on first use from the image
    // `size` pixels wide, or from the first image when the file has none of
    // that size or `size` is 0.
    void LoadFromIconFile(std::vector<unsigned char> bytes, int size = 0);
    void Assign(const TIcon& source) { image_ = source.image_; }
    bool SharesImageWith(const TIcon& other) const { return image_ && image_ == other.image_; }

private:
    // `handle` is the icon in use; `owned` holds it too when it is ours to destroy.
    struct Image {
        HICON handle = nullptr;
        UniqueIcon owned;
        std::vector<unsigned char> file;
        int size = 0;
    };
    std::shared_ptr<Image> image_;
};

// The image `size` pixels wide of a named icon resource, stretched by the
// system only when the resource has no image of that size. Loaded once per
// name and size and kept until the program ends (as LoadIconA's are), so
// the same name and size give the same handle. Null for an unknown name.
HICON ResourceIcon(HINSTANCE instance, const std::string& name, int size);

// Reads an RCDATA resource of this module.
std::vector<unsigned char> LoadResourceBytes(HINSTANCE instance, const char* name);

}  // namespace fw
