#pragma once
// One Shell_NotifyIconA call as the tray icon's test seam hands it over.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>

namespace testsupport {

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAA data;
    std::string tip() const { return std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip)); }
};

}  // namespace testsupport
