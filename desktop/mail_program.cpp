#include "desktop/mail_program.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "framework/handles.h"
#include "framework/sysutils.h"
#include "framework/system_error.h"

namespace desktop {

namespace {
const char* const kClientsKey = "Software\\Clients\\Mail";

// The default value of `path` under the user's hive, else the machine's; a
// value that is not text counts as missing.
std::string defaultValue(const std::string& path) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        fw::UniqueKey key;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) continue;
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > 32768)
            continue;
        std::vector<char> data(size + 1, '\0');
        if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS)
            continue;
        std::string text(data.data());
        if (!text.empty()) return text;
    }
    return std::string();
}

std::string expanded(const std::string& text) {
    const DWORD n = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (n == 0) return text;
    std::vector<char> out(n + 1, '\0');
    if (ExpandEnvironmentStringsA(text.c_str(), out.data(), n + 1) == 0) return text;
    return out.data();
}
}  // namespace

std::string DefaultMailProgramCommand() {
    const std::string client = defaultValue(kClientsKey);
    // A name that would climb out of the clients' key names nothing.
    if (client.empty() || client.find('\\') != std::string::npos) return std::string();
    const std::string command = defaultValue(std::string(kClientsKey) + "\\" + client + "\\shell\\open\\command");
    return command.empty() ? command : expanded(command);
}

bool StartDefaultMailProgram() {
    std::string command = DefaultMailProgramCommand();
    if (command.empty()) return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        throw fw::Exception("Cannot start the mail program " + command + ". " + fw::SystemErrorText(GetLastError()));
    }
    fw::UniqueKernelHandle thread(process.hThread), child(process.hProcess);
    return true;
}

namespace {
std::function<void(const std::string&)>& openSeam() {
    static std::function<void(const std::string&)> seam;
    return seam;
}
}  // namespace

void SetOpenMailSeam(std::function<void(const std::string&)> seam) { openSeam() = std::move(seam); }

void OpenMail(const std::string& webAddress) {
    if (const auto& seam = openSeam()) return seam(webAddress);
    if (webAddress.empty()) {
        if (!StartDefaultMailProgram()) throw fw::Exception("No mail program is set up on this computer");
        return;
    }
    // ShellExecute reports failure as a value of 32 or less.
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", webAddress.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) throw fw::Exception("Cannot open " + webAddress + ". " + fw::SystemErrorText(GetLastError()));
}

}  // namespace desktop
