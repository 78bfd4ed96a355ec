// The class library: ownership, timers, modal forms, the registry accessor
// and the integer conversion. (Its dialog keys, menus and the registry's
// type checks are met through the Setup dialog, the About box and the
// controller's tests.)
#include <windows.h>

#include "framework/application.h"
#include "framework/forms.h"
#include "framework/registry.h"
#include "framework/sysutils.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"

using namespace fw;
using testsupport::Boxes;
using testsupport::MessageOf;
using testsupport::PumpFor;

namespace {
std::string gLog;

struct Probe : TComponent {
    Probe(TComponent* owner, const char* name) : TComponent(owner) { Name = name; }
    ~Probe() override { gLog += Name + (Owner() ? "(owned) " : " "); }
    void Notification(TComponent* c, TOperation op) override {
        if (op == TOperation::opRemove) gLog += Name + ":" + c->Name + " gone ";
    }
};
}  // namespace

TEST(Component, AnOwnerDetachesThenDestroysItsComponentsNewestFirstAndTheWatchersHear) {
    auto* owner = new Probe(nullptr, "owner");
    new Probe(owner, "a");
    auto* b = new Probe(owner, "b");
    new Probe(b, "b1");
    new Probe(owner, "c");
    Probe other(nullptr, "other");
    other.FreeNotification(b);
    gLog.clear();
    delete owner;
    Probe keeper(nullptr, "keeper");
    new Probe(&keeper, "x");
    new Probe(&keeper, "y");
    delete keeper.Components()[0];
    EXPECT_EQ(gLog, "owner c b other:b gone b1 a x(owned) keeper:x gone y:x gone ");
}

TEST(Timer, ItTicksEnabledWithAHandlerAndAnIntervalAndSettingTheSameIntervalKeepsItsCount) {
    TTimer t(nullptr);
    int ticks = 0;
    std::string states = std::to_string(t.Interval()) + (t.Enabled() ? " enabled:" : ":");
    auto note = [&] { states += t.Running() ? " ticks" : " still"; };
    note();
    t.SetOnTimer([&](TObject*) { ++ticks; });
    note();
    t.SetInterval(0);
    note();
    t.SetInterval(200);
    t.SetEnabled(false);
    note();
    t.SetEnabled(true);
    note();
    EXPECT_EQ(states, "1000 enabled: still ticks still still ticks");
    for (int i = 0; i < 10 && !ticks; ++i, PumpFor(50)) t.SetInterval(200);
    EXPECT_EQ(ticks, 1) << "setting the same interval restarted the count";
    for (int i = 0; i < 8; ++i, PumpFor(50)) t.SetInterval(i % 2 ? 150 : 160);
    EXPECT_EQ(ticks, 1) << "a new interval did not restart the count";
    // An exception in the handler is reported, with a full stop, and the ticks go on.
    Boxes().clear();
    t.SetInterval(20);
    t.SetOnTimer([](TObject*) { throw Exception("UserName property is required"); });
    EXPECT_TRUE(testsupport::PumpUntil([] { return Boxes().size() >= 2; }));
    EXPECT_EQ(Boxes()[1], std::make_pair(std::string("UserName property is required."), std::string("Tidemark")));
    EXPECT_EQ(TApplication::ExceptionText("[10013] Permission denied."), "[10013] Permission denied.");
}

TEST(Forms, AQuitInAModalLoopIsPostedAgainAndAFormThatFreesItselfGoesAfterItsHandler) {
    TForm modal(nullptr, TFormDesc{});
    testsupport::Later quit(50, [] { PostQuitMessage(7); });
    EXPECT_EQ(modal.ShowModal(), mrCancel);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    Application->ClearTerminated();
    auto* f = new TForm(nullptr, TFormDesc{});
    f->OnClose = [](TObject*, TCloseAction& action) { action = TCloseAction::caFree; };
    f->OnShow = [](TObject*) { throw EConvertError("'' is not a valid integer value"); };
    Boxes().clear();
    f->Show();
    EXPECT_TRUE(f->Visible() && Boxes().size() == 1) << "a failing show handler hid the form or was not reported";
    f->Close();
    EXPECT_TRUE(Application->FormExists(f));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !Application->FormExists(f); }));
}

TEST(Registry, ValuesReadAsTheyAreStoredOrTheFailureNamesThem) {
    const char* key = "Software\\Brindlewick Software\\RegistryTest";
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    TRegistry r;
    EXPECT_EQ(MessageOf([&] { r.WriteString("server", "x"); }), "Failed to set data for 'server'");
    ASSERT_TRUE(r.OpenKey(key, true));
    testsupport::WriteValue(key, "zero", REG_SZ, "ab\0cd", 5);
    testsupport::WriteValue(key, "expand", REG_EXPAND_SZ, "%TEMP%", 6);
    testsupport::WriteValue(key, "long", REG_DWORD, "12345678", 8);
    testsupport::WriteValue(key, "bare", REG_SZ, "abc", 3);  // without its terminator, as older versions wrote
    r.WriteString("text", "");                               // the system counts a missed terminator itself, but not for an empty text
    HKEY k = nullptr;
    DWORD size = 0;
    RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k), RegQueryValueExA(k, "text", nullptr, nullptr, nullptr, &size), RegCloseKey(k);
    EXPECT_EQ(size, 1u) << "a REG_SZ's size counts its terminating zero";
    EXPECT_EQ(r.ReadString("zero") + "|" + r.ReadString("expand") + "|" + r.ReadString("missing") + "|" + r.ReadString("bare") + r.ReadString("text"), "ab|%TEMP%||abc");
    EXPECT_EQ(MessageOf([&] { r.ReadInteger("long"); }), "Failed to get data for 'long'");
    r.CloseKey();
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}

TEST(StrToInt, BlanksSignsAndDollarHexadecimalInThe32BitRangeAndNothingElse) {
    const std::pair<const char*, std::int32_t> good[] = {{"60", 60}, {"   60", 60}, {"+7", 7}, {"-7", -7}, {"$3C", 60}, {"$3c", 60}, {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}, {"$FFFFFFFF", -1}};
    for (auto [text, value] : good) EXPECT_EQ(StrToInt(text), value) << text;
    for (const char* bad : {"", " ", "1,000", "60 ", "1.5", "+", "-", "$", "$G", "2147483648", "-2147483649",
                            "$100000000", "0x10", "+-1", " - 1"})
        EXPECT_EQ(MessageOf([&] { StrToInt(bad); }), std::string("'") + bad + "' is not a valid integer value");
}
