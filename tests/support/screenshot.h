#pragma once
// Screenshots that tests keep as build artifacts.
#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

// `file` in the folder named by TIDEMARK_ARTIFACTS (a Unix path is reached
// through Z:), or in the current folder when it is not set.
std::string ArtifactPath(const std::string& file);

// Writes a w x h, 24-bit BMP of what `draw` paints into a memory DC of that
// size; false when drawing or writing fails.
bool SaveBitmap(const std::string& path, int w, int h, const std::function<bool(HDC mem)>& draw);

}  // namespace testsupport
