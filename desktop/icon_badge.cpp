#include "desktop/icon_badge.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "framework/handles.h"

namespace desktop {

namespace {
using UniqueDC = fw::UniqueHandle<HDC, &::DeleteDC>;
using UniqueObject = fw::UniqueHandle<HGDIOBJ, &::DeleteObject>;

// Where nothing of the badge is drawn; never produced by the badge itself.
constexpr std::uint32_t kKey = 0x00FF00FF;

// A top-down 32-bit DIB section selected into its own memory DC.
struct Canvas {
    UniqueDC dc{CreateCompatibleDC(nullptr)};
    UniqueObject bitmap;
    std::uint32_t* bits = nullptr;
    explicit Canvas(int size) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* raw = nullptr;
        bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &raw, nullptr, 0));
        bits = static_cast<std::uint32_t*>(raw);
        if (dc && bitmap) SelectObject(dc.get(), bitmap.get());
    }
    bool ok() const { return dc && bitmap && bits; }
};
}  // namespace

std::string BadgeText(std::size_t count) {
    if (count == 0) return "";
    return count > 9 ? "9+" : std::string(1, static_cast<char>('0' + count));
}

HICON BadgedIcon(HICON frame, int size, std::size_t count) {
    const std::string text = BadgeText(count);
    if (text.empty() || size < 8 || size > 256) return nullptr;
    Canvas color(size), mask(size), badge(size);
    if (!color.ok() || !mask.ok() || !badge.ok()) return nullptr;
    const std::size_t n = static_cast<std::size_t>(size) * size;
    // The frame's colours and its mask, each drawn on its own: DI_IMAGE
    // leaves the alpha of a 32-bit icon in place, DI_MASK gives white where
    // the frame is transparent.
    std::fill(color.bits, color.bits + n, 0);
    DrawIconEx(color.dc.get(), 0, 0, frame, size, size, 0, nullptr, DI_IMAGE);
    std::fill(mask.bits, mask.bits + n, 0);
    DrawIconEx(mask.dc.get(), 0, 0, frame, size, size, 0, nullptr, DI_MASK);
    GdiFlush();
    const bool alpha = std::any_of(color.bits, color.bits + n, [](std::uint32_t p) { return (p >> 24) != 0; });

    // The plate: about 9/16 of the icon high, as wide as its text needs.
    std::fill(badge.bits, badge.bits + n, kKey);
    const int high = std::max(9, size * 9 / 16);
    UniqueObject font(CreateFontA(-(high - 2), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, "Tahoma"));
    HDC dc = badge.dc.get();
    SelectObject(dc, font.get());
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    const int wide = std::min(size, std::max(high, static_cast<int>(extent.cx) + 4));
    RECT plate{size - wide, size - high, size, size};
    UniqueObject fill(CreateSolidBrush(kBadgeColor)), rim(CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
    SelectObject(dc, fill.get());
    SelectObject(dc, rim.get());
    RoundRect(dc, plate.left, plate.top, plate.right, plate.bottom, high / 2, high / 2);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &plate,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    GdiFlush();

    for (std::size_t i = 0; i < n; ++i) {
        const bool shown = (mask.bits[i] & 0xFFFFFF) == 0;
        if (badge.bits[i] != kKey) {
            color.bits[i] = badge.bits[i] | 0xFF000000;
            mask.bits[i] = 0;
        } else if (!alpha) {
            // Without an alpha channel the mask said what shows; with one
            // now (the badge), every pixel needs its alpha.
            color.bits[i] = shown ? color.bits[i] | 0xFF000000 : 0;
        }
    }
    // CreateIconIndirect wants a monochrome mask.
    std::vector<std::uint8_t> rows(static_cast<std::size_t>((size + 15) / 16 * 2) * size, 0);
    const std::size_t stride = (size + 15) / 16 * 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (mask.bits[y * size + x] & 0xFFFFFF)
                rows[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    UniqueObject monochrome(CreateBitmap(size, size, 1, 1, rows.data()));
    ICONINFO info{TRUE, 0, 0, static_cast<HBITMAP>(monochrome.get()), static_cast<HBITMAP>(color.bitmap.get())};
    return CreateIconIndirect(&info);
}

}  // namespace desktop
