#include "app/start_at_logon.h"

#include <windows.h>

#include <optional>

#include "framework/handles.h"
#include "framework/sysutils.h"

namespace app {

const char* const RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const RunValueName = "Tidemark";
const char* const UninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidemark";

namespace {
// A REG_SZ value of the current user, or nothing when it is missing, of
// another type or unreasonably long. RegGetValueA terminates the text,
// which RegQueryValueExA does not promise.
std::optional<std::string> readText(const char* key, const char* name) {
    DWORD size = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size > 32768)
        return std::nullopt;
    std::string text(size, '\0');
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(text.find('\0'));
    return text;
}

[[noreturn]] void fail() { throw fw::Exception(fw::FormatStr("Failed to set data for '%s'", RunValueName)); }
}  // namespace

bool StartsAtLogon() { return readText(RunKey, RunValueName).has_value(); }

std::string LogonProgramPath() {
    if (auto folder = readText(UninstallKey, "InstallLocation"); folder && !folder->empty()) {
        std::string exe = *folder;
        if (exe.back() != '\\') exe += '\\';
        exe += "tidemark.exe";
        const DWORD attributes = GetFileAttributesA(exe.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return exe;
    }
    // GetModuleFileNameA cuts the path silently when the buffer is too small.
    std::string path(MAX_PATH, '\0');
    DWORD n;
    while ((n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size() &&
           path.size() < 32768)
        path.resize(path.size() * 2);
    path.resize(n);
    return path;
}

void SetStartAtLogon(bool on) {
    fw::UniqueKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, RunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        fail();
    if (!on) {
        const LONG rc = RegDeleteValueA(key.get(), RunValueName);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) fail();
        return;
    }
    // Quoted: the path may hold blanks ("C:\Users\Jane Doe\AppData\...").
    const std::string command = "\"" + LogonProgramPath() + "\"";
    if (RegSetValueExA(key.get(), RunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>(command.size() + 1)) != ERROR_SUCCESS)
        fail();
}

}  // namespace app
