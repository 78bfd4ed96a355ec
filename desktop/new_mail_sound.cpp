#include "desktop/new_mail_sound.h"

#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include "framework/handles.h"

namespace desktop {

namespace {
std::function<void(const std::string&)>& soundSeam() {
    static std::function<void(const std::string&)> seam;
    return seam;
}

std::function<int()>& stateSeam() {
    static std::function<int()> seam;
    return seam;
}

// The default value of HKEY_CURRENT_USER\path, "" when missing or not text.
std::string readDefault(const std::string& path) {
    char text[MAX_PATH * 2] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, text, &size) != ERROR_SUCCESS)
        return "";
    return text;
}

void writeDefault(const std::string& path, const std::string& text, DWORD type = REG_SZ) {
    RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), nullptr, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
}  // namespace

void SetSoundSeam(std::function<void(const std::string&)> seam) { soundSeam() = std::move(seam); }
void SetNotificationStateSeam(std::function<int()> seam) { stateSeam() = std::move(seam); }

std::string SoundApplicationName() {
    char path[MAX_PATH] = {};
    std::string name(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    name = name.substr(name.find_last_of("\\/") + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

void RegisterNewMailSound() {
    const std::string event = kNewMailEvent;
    const std::string app = "AppEvents\\Schemes\\Apps\\" + SoundApplicationName();
    writeDefault("AppEvents\\EventLabels\\" + event, "New Mail");
    writeDefault(app, "Tidemark");
    const std::string key = app + "\\" + event;
    fw::UniqueKey existing;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (key + "\\.Current").c_str(), 0, KEY_QUERY_VALUE, existing.put()) ==
        ERROR_SUCCESS)
        return;
    // The file names hold %SystemRoot% and the like: kept unexpanded.
    const std::string mailBeep = readDefault("AppEvents\\Schemes\\Apps\\.Default\\MailBeep\\.Current");
    writeDefault(key + "\\.Default", mailBeep, REG_EXPAND_SZ);
    writeDefault(key + "\\.Current", mailBeep, REG_EXPAND_SZ);
}

bool NoticesUnwelcome() {
    QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
    if (const auto& seam = stateSeam())
        state = static_cast<QUERY_USER_NOTIFICATION_STATE>(seam());
    else if (FAILED(SHQueryUserNotificationState(&state)))
        return false;
    return state != QUNS_ACCEPTS_NOTIFICATIONS;
}

void PlayNewMailSound() {
    if (NoticesUnwelcome()) return;
    if (const auto& seam = soundSeam()) return seam(kNewMailEvent);
    // SND_NODEFAULT: an event the user set to "(None)" stays silent.
    PlaySoundA(kNewMailEvent, nullptr, SND_ALIAS | SND_APPLICATION | SND_ASYNC | SND_NODEFAULT);
}

}  // namespace desktop
