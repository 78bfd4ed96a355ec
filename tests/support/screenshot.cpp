#include "tests/support/screenshot.h"

#include <cstdio>
#include <cstdlib>

namespace testsupport {

std::string ArtifactPath(const std::string& file) {
    std::string dir = ".";
    if (const char* env = std::getenv("TIDEMARK_ARTIFACTS"); env && *env) {
        dir = env;
        // A Unix path from the environment reaches Windows programs as Z:\...
        if (dir[0] == '/') {
            for (char& c : dir)
                if (c == '/') c = '\\';
            dir = "Z:" + dir;
        }
    }
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\" + file;
}

bool SaveBitmap(const std::string& path, int w, int h, const std::function<bool(HDC mem)>& draw) {
    if (w <= 0 || h <= 0) return false;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = draw(mem);
        GdiFlush();
        SelectObject(mem, old);
        const DWORD imageSize = ((static_cast<DWORD>(w) * 3 + 3) & ~3u) * static_cast<DWORD>(h);
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;  // "BM"
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + imageSize;
        bi.bmiHeader.biSizeImage = imageSize;
        FILE* f = ok ? std::fopen(path.c_str(), "wb") : nullptr;
        ok = f && std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, imageSize, 1, f) == 1;
        if (f) std::fclose(f);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace testsupport
