#pragma once
// The count drawn over the tray icon: messages announced since the user
// last looked.
#include <windows.h>

#include <cstddef>
#include <string>

namespace desktop {

// "" for none, "1" to "9", then "9+".
std::string BadgeText(std::size_t count);

// A new icon of `size` pixels: `frame` with the count's badge in its lower
// right corner (a red plate with a white rim, so it stands out on dark and
// light taskbars alike). The caller destroys it. Null when the count is 0
// or the system refuses a bitmap.
HICON BadgedIcon(HICON frame, int size, std::size_t count);

// The badge's fill colour.
constexpr COLORREF kBadgeColor = RGB(204, 0, 0);

}  // namespace desktop
