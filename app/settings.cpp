#include "app/settings.h"

#include "framework/registry.h"
#include "framework/sysutils.h"

namespace app {

using namespace fw;

const char* const SettingsKey = "Software\\Brindlewick Software\\Tidemark";

unsigned IntervalMsFromSeconds(std::int32_t seconds) {
    return static_cast<std::uint32_t>(seconds) * 1000u;
}

namespace {
// What a load does with a value that is not stored.
enum class MissingValue { Keep, Empty };

// The one reader behind both loads. The interval text must convert, except
// that the first-tick load skips an empty one.
void loadSettings(const SettingsTargets& t, MissingValue missing) {
    TRegistry reg;
    if (!reg.OpenKey(SettingsKey, false)) return;
    auto readText = [&](const char* name, std::string& target) {
        if (reg.ValueExists(name))
            target = reg.ReadString(name);
        else if (missing == MissingValue::Empty)
            target.clear();
    };
    readText("server", t.Server);
    readText("password", t.Password);
    readText("username", t.UserName);
    if (reg.ValueExists("interval")) {
        const std::string text = reg.ReadString("interval");
        if (!(missing == MissingValue::Empty && text.empty()))
            t.PollTimer.SetInterval(IntervalMsFromSeconds(StrToInt(text)));
    }
    if (reg.ValueExists("hideonstart")) t.HideOnStart = reg.ReadInteger("hideonstart") != 0;
}
}  // namespace

void LoadSettingsOnShow(const SettingsTargets& t) { loadSettings(t, MissingValue::Keep); }

void LoadSettingsOnFirstTick(const SettingsTargets& t) { loadSettings(t, MissingValue::Empty); }

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

}  // namespace app
