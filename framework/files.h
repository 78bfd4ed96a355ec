#pragma once
// Reading a whole file, with a bound on its size.
#include <windows.h>

#include <cstddef>
#include <string>

namespace fw {

// Everything `file` gives until its end (a file, a pipe, standard input);
// false when a read fails or more than `limit` bytes come.
bool ReadAll(HANDLE file, std::string& bytes, std::size_t limit);
// The whole file at `path`; false when it cannot be opened or read, or is
// larger than `limit` bytes.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t limit);

}  // namespace fw
