#include "framework/files.h"

#include "framework/handles.h"

namespace fw {

bool ReadAll(HANDLE file, std::string& bytes, std::size_t limit) {
    bytes.clear();
    if (!file || file == INVALID_HANDLE_VALUE) return false;
    char chunk[16384];
    DWORD n = 0;
    for (;;) {
        // A pipe's writer that closed its end is the end of the data.
        if (!ReadFile(file, chunk, sizeof chunk, &n, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
        if (n == 0) return true;
        bytes.append(chunk, n);
        if (bytes.size() > limit) return false;
    }
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t limit) {
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return ReadAll(file.get(), bytes, limit);
}

}  // namespace fw
