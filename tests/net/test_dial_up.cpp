// The dial-up component against a scripted rasapi32.dll beside the test exe:
// which calls it makes, with which structures, and what its caller sees.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/dialogs.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "net/dial_up.h"
#include "net/socket_client.h"
#include "tests/net/ras_double.h"
#include "tests/support/raised.h"
#include "tests/support/wine_helpers.h"

using namespace net;
using testsupport::MessageOf;
using testsupport::PumpUntil;

namespace {

class Ras : public testing::Test {
protected:
    void SetUp() override {
        lib_ = LoadLibraryA("rasapi32.dll");
        ASSERT_NE(lib_, nullptr);
        auto control = reinterpret_cast<RasDoubleControlFn>(GetProcAddress(lib_, "RasDoubleControl"));
        ASSERT_NE(control, nullptr) << "the system's rasapi32.dll was loaded instead of the test double";
        st = control();
        std::memset(st, 0, sizeof *st);
        dialogs.clear();
        fw::SetMessageDialogSeam([this](const std::string& text, fw::TMsgDlgType) { dialogs.push_back(text); });
    }
    void TearDown() override {
        fw::SetMessageDialogSeam(nullptr);
        if (lib_) FreeLibrary(lib_);
    }
    void addEntry(const char* name) { std::strcpy(st->entries[st->entryCount++], name); }
    void addConnection(UINT_PTR handle, const char* name, const char* ip) {
        st->connHandles[st->connCount] = reinterpret_cast<HANDLE>(handle);
        std::strcpy(st->connNames[st->connCount], name);
        std::strcpy(st->connIps[st->connCount], ip);
        ++st->connCount;
    }
    void dialEvents(std::vector<std::pair<DWORD, DWORD>> events) {
        for (auto [state, error] : events) {
            st->dialStates[st->dialEventCount] = state;
            st->dialErrors[st->dialEventCount] = error;
            ++st->dialEventCount;
        }
    }

    RasDoubleState* st = nullptr;
    std::vector<std::string> dialogs;

private:
    HMODULE lib_ = nullptr;
};

}  // namespace

TEST_F(Ras, NewComponentReadsThePhoneBook) {
    addEntry("Office");
    addEntry("Home");
    TDialUp r(nullptr);
    EXPECT_EQ(r.Entries->Lines(), (std::vector<std::string>{"Office", "Home"}));
    EXPECT_EQ(st->entriesSizeSeen, sizeof(ras::RASENTRYNAMEA));
    EXPECT_EQ(r.TimeOut(), 120);
    EXPECT_TRUE(r.ForceService);
    EXPECT_TRUE(r.RemovePassword);
    EXPECT_EQ(r.Handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(r.DialEventMsg, RegisterWindowMessageA("RASDIALEVENT"));

    st->enumEntriesResult = 610;
    EXPECT_EQ(r.RefreshEntries().Count(), 0);
    EXPECT_EQ(r.LastError, 610u);
}

TEST_F(Ras, ServiceSetterChecksThePhoneBook) {
    TDialUp none(nullptr);
    none.SetService("Office");
    EXPECT_EQ(none.Service(), "");
    addEntry("Office");
    TDialUp r(nullptr);
    r.SetService("office");
    EXPECT_EQ(r.Service(), "office");  // found without regard to case, kept as given
    r.SetService("Elsewhere");
    EXPECT_EQ(r.Service(), "");
    r.SetService("Office");
    r.Connected = true;
    r.SetService("");
    EXPECT_EQ(r.Service(), "");
    r.SetService("Office");
    EXPECT_EQ(r.Service(), "");
    EXPECT_EQ(dialogs, (std::vector<std::string>{"TDialUp component was unable to detect\rRAS on your system.",
                                                 "Invalid service name",
                                                 "This property can be set only before\restablishing the connection"}));
}

TEST_F(Ras, NoServiceOrAnExistingConnectionIsUsedAsItIs) {
    addEntry("Office");
    addConnection(0x77, "Office", "10.0.0.7");
    TDialUp r(nullptr);
    r.Connect();
    EXPECT_TRUE(r.Connected);
    EXPECT_FALSE(r.DialedByUs);
    r.Disconnect();

    r.SetService("Office");
    r.Connect();
    EXPECT_EQ(r.Handle, reinterpret_cast<HANDLE>(0x77));
    EXPECT_EQ(st->connsSizeSeen, sizeof(ras::RASCONNA));
    r.Disconnect();
    EXPECT_FALSE(r.Connected);
    EXPECT_EQ(r.Handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(st->dialCalls, 0u);
    EXPECT_EQ(st->hangUpCount, 0u) << "another program's connection was hung up";
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(Ras, WithoutForceServiceAnyConnectionWithAnAddressCounts) {
    addEntry("Office");
    addConnection(0x71, "Other", "");
    addConnection(0x72, "Home", "10.1.2.3");
    TDialUp r(nullptr);
    r.SetService("Office");
    r.ForceService = false;
    r.Connect();
    EXPECT_EQ(r.Handle, reinterpret_cast<HANDLE>(0x72));
    EXPECT_EQ(st->dialCalls, 0u);

    st->projectionResult = 6;
    r.Handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(MessageOf<ERASError>([&] { r.Connect(); }), "Double text for 6");
}

TEST_F(Ras, SocketDialsBeforeOpenAndHangsUpOnceAfterClose) {
    addEntry("Office");
    dialEvents({{0, 0}, {14, 0}, {ras::RASCS_Connected, 0}});
    TDialUp r(nullptr);
    r.SetService("Office");
    r.Password = "secret";
    std::vector<std::string> log;
    r.OnStatusChange = [&](fw::TObject*, const std::string& text) { log.push_back("status:" + text); };
    r.OnDisconnected = [&](fw::TObject*) { log.push_back("disconnected"); };
    TSocketClient s(nullptr);
    s.SetWinsockLoaded(true);
    s.SetRAS(&r);
    s.Server = "127.0.0.1:110";
    s.OnOpen = [&](fw::TObject*) { log.push_back("open"); };
    s.Open();
    EXPECT_TRUE(r.Connected);
    EXPECT_TRUE(r.DialedByUs);
    EXPECT_EQ(r.Handle, RAS_DOUBLE_DIALED_HANDLE);
    EXPECT_EQ(st->getParamsSizeSeen, sizeof(ras::RASDIALPARAMSA));
    EXPECT_STREQ(st->dialEntry, "Office");
    EXPECT_EQ(st->setCalls, 1u);
    EXPECT_STREQ(st->setPassword, "secret");
    EXPECT_TRUE(st->setRemovePassword);
    EXPECT_STREQ(st->dialPassword, "secret");
    EXPECT_EQ(st->handleAtDial, nullptr);
    EXPECT_EQ(st->notifierType, 0xFFFFFFFFu);
    EXPECT_EQ(st->notifierWindow, r.WindowHandle());

    s.Close();
    s.Close();
    EXPECT_EQ(st->hangUpCount, 1u);
    EXPECT_EQ(st->hangUpHandles[0], RAS_DOUBLE_DIALED_HANDLE);
    EXPECT_EQ(log, (std::vector<std::string>{"status:Opening port", "status:Authenticated", "status:Connected", "open",
                                             "disconnected"}));
}

TEST_F(Ras, StoredPasswordIsLeftAlone) {
    addEntry("Office");
    st->storedPassword = TRUE;
    dialEvents({{ras::RASCS_Connected, 0}});
    TDialUp r(nullptr);
    r.SetService("Office");
    r.Password = "other";
    r.Connect();
    EXPECT_EQ(st->setCalls, 0u);
    EXPECT_STREQ(st->dialPassword, "stored");
}

TEST_F(Ras, DialFailuresRaiseAndHangUp) {
    addEntry("Office");
    TDialUp r(nullptr);
    r.SetService("Office");

    dialEvents({{0, 0}, {5, 691}});
    EXPECT_EQ(MessageOf<ERASError>([&] { r.Connect(); }), "Double text for 691");
    EXPECT_EQ(st->errorStringCode, 691u);
    EXPECT_EQ(st->errorStringSize, 256u);
    EXPECT_EQ(st->hangUpCount, 1u);
    EXPECT_FALSE(r.Connected);

    // The next dial starts clean, not with the error of the last one.
    st->dialEventCount = 0;
    dialEvents({{ras::RASCS_Connected, 0}});
    r.Connect();
    EXPECT_TRUE(r.Connected);
    r.Disconnect();

    st->dialResult = 633;
    st->errorStringResult = 1;  // the library has no text for it
    EXPECT_EQ(MessageOf<ERASError>([&] { r.Connect(); }), "RAS error no 633");
    EXPECT_EQ(st->hangUpCount, 3u);

    st->dialResult = 0;
    st->getParamsResult = 623;
    EXPECT_EQ(MessageOf<ERASError>([&] { r.Connect(); }), "RAS error no 623");
    st->getParamsResult = 0;
    st->enumConnsResult = 603;
    EXPECT_EQ(MessageOf<ERASError>([&] { r.Connect(); }), "RAS error no 603");
    EXPECT_EQ(r.LastError, 603u);
}

TEST_F(Ras, OpenStopsBeforeOnOpenWhenTheDialFails) {
    addEntry("Office");
    st->enumConnsResult = 603;
    TDialUp r(nullptr);
    r.SetService("Office");
    TSocketClient s(nullptr);
    s.SetRAS(&r);
    s.Server = "127.0.0.1:110";
    bool opened = false;
    s.OnOpen = [&](fw::TObject*) { opened = true; };
    EXPECT_EQ(MessageOf<ERASError>([&] { s.Open(); }), "Double text for 603");
    EXPECT_FALSE(opened);
}

TEST_F(Ras, UnansweredDialTimesOutAndIsHungUp) {
    addEntry("Office");
    TDialUp r(nullptr);
    r.SetService("Office");
    r.SetTimeOut(1);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ETimedOutError>([&] { r.Connect(); }), "Operation timed out");
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 800u);
    EXPECT_LE(elapsed, 2500u);
    EXPECT_EQ(st->hangUpCount, 1u);
}

TEST_F(Ras, DisconnectDuringTheDialCancelsIt) {
    addEntry("Office");
    TDialUp r(nullptr);
    r.SetService("Office");
    r.SetTimeOut(10);
    fw::TTimer timer(nullptr);
    timer.SetInterval(200);
    timer.SetOnTimer([&](fw::TObject*) {
        timer.SetEnabled(false);
        r.Disconnect();
    });
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(MessageOf<ECanceledError>([&] { r.Connect(); }), "Operation has been canceled");
    EXPECT_LT(GetTickCount64() - start, 1500u);
    EXPECT_EQ(st->hangUpCount, 1u);
}

TEST_F(Ras, LineFailingAfterConnectReachesTheExceptionBox) {
    addEntry("Office");
    dialEvents({{ras::RASCS_Connected, 0}});
    TDialUp r(nullptr);
    r.SetService("Office");
    r.Connect();
    auto& boxes = testsupport::ExceptionBoxes();
    boxes.clear();
    PostMessageA(r.WindowHandle(), r.DialEventMsg, ras::RASCS_Connected, 630);
    ASSERT_TRUE(PumpUntil([&] { return !boxes.boxes.empty(); }, 2000));
    EXPECT_EQ(boxes.boxes[0].first, "Double text for 630.");
    EXPECT_EQ(boxes.boxes[0].second, "Tidemark");
    EXPECT_EQ(r.LastError, 630u);
}

TEST_F(Ras, DialStateTexts) {
    TDialUp r(nullptr);
    EXPECT_EQ(r.DialStateText(0), "Opening port");
    EXPECT_EQ(r.DialStateText(3), "Connecting device");
    EXPECT_EQ(r.DialStateText(19), "Verifying user name and password");
    EXPECT_EQ(r.DialStateText(21), "Logging on to network");
    EXPECT_EQ(r.DialStateText(1), "");
    EXPECT_EQ(r.DialStateText(8193), "");
}

TEST_F(Ras, SocketForgetsADestroyedDialUpComponent) {
    TSocketClient s(nullptr);
    auto* r = new TDialUp(nullptr);
    s.SetRAS(r);
    EXPECT_EQ(s.RAS(), r);
    delete r;
    EXPECT_EQ(s.RAS(), nullptr);
    s.Close();  // must not reach the freed component
}
