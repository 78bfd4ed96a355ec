#include "app/settings.h"

#include "framework/registry.h"
#include "framework/sysutils.h"

using namespace fw;

const char* const SettingsKey = "Software\\Brindlewick Software\\Tidemark";

unsigned IntervalMsFromSeconds(std::int32_t seconds) {
    return static_cast<std::uint32_t>(seconds) * 1000u;
}

void LoadSettingsOnShow(const SettingsTargets& t) {
    TRegistry reg;
    if (!reg.OpenKey(SettingsKey, false)) return;
    if (reg.ValueExists("server")) t.Server = reg.ReadString("server");
    if (reg.ValueExists("password")) t.Password = reg.ReadString("password");
    if (reg.ValueExists("username")) t.UserName = reg.ReadString("username");
    if (reg.ValueExists("interval")) t.emailTimer.SetInterval(IntervalMsFromSeconds(StrToInt(reg.ReadString("interval"))));
    if (reg.ValueExists("hideonstart")) t.HideOnStart = reg.ReadInteger("hideonstart") != 0;
}

void LoadSettingsOnFirstTick(const SettingsTargets& t) {
    TRegistry reg;
    if (!reg.OpenKey(SettingsKey, false)) return;
    t.Server = reg.ReadString("server");
    t.Password = reg.ReadString("password");
    t.UserName = reg.ReadString("username");
    if (reg.ValueExists("interval") && !reg.ReadString("interval").empty())
        t.emailTimer.SetInterval(IntervalMsFromSeconds(StrToInt(reg.ReadString("interval"))));
    if (reg.ValueExists("hideonstart")) t.HideOnStart = reg.ReadInteger("hideonstart") != 0;
}

void SaveSettings(const std::string& server, const std::string& userName, const std::string& password,
                  const std::string& intervalText, bool hideOnStart) {
    TRegistry reg;
    // Whether the key could be opened shows at the first write.
    reg.OpenKey(SettingsKey, true);
    reg.WriteString("server", server);
    reg.WriteString("username", userName);
    reg.WriteString("password", password);
    reg.WriteString("interval", intervalText);
    reg.WriteInteger("hideonstart", hideOnStart ? 1 : 0);
}
