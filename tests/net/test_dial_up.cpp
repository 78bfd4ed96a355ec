// The dial-up component against a scripted rasapi32.dll beside the test exe:
// which calls it makes, with which records, and what its caller sees.
#include <windows.h>

#include <cstring>

#include "framework/dialogs.h"
#include "gtest/gtest.h"
#include "net/dial_up.h"
#include "net/socket_client.h"
#include "tests/net/ras_double.h"
#include "tests/support/helpers.h"

using namespace net;
using testsupport::MessageOf;

namespace {
// The double's state, reset, with a phone book of "Office" and the dial
// notifications (state, error) that RasDialA will post.
RasDoubleState& office(std::vector<std::pair<DWORD, DWORD>> events) {
    static fw::UniqueModule lib(LoadLibraryA("rasapi32.dll"));
    auto control = reinterpret_cast<RasDoubleControlFn>(GetProcAddress(lib.get(), "RasDoubleControl"));
    EXPECT_NE(control, nullptr) << "the system's rasapi32.dll was loaded instead of the test double";
    RasDoubleState& st = *control();
    std::memset(&st, 0, sizeof st);
    std::strcpy(st.entries[st.entryCount++], "Office");
    for (auto [state, error] : events) {
        st.dialStates[st.dialEventCount] = state;
        st.dialErrors[st.dialEventCount++] = error;
    }
    return st;
}
}  // namespace

TEST(Ras, TheServiceMustBeInThePhoneBookAndASocketDialsBeforeItOpensAndHangsUpOnceAfterItCloses) {
    std::string dialogs;
    fw::SetMessageDialogSeam([&](const std::string& text, fw::TMsgDlgType) { dialogs += text + "|"; });
    office({}).entryCount = 0;  // an empty phone book
    TDialUp none(nullptr);
    none.SetService("Office");
    RasDoubleState& st =
        office({{ras::RASCS_OpenPort, 0}, {ras::RASCS_StartAuthentication, 0}, {ras::RASCS_Connected, 0}});
    TDialUp r(nullptr);
    EXPECT_EQ(st.entriesSizeSeen, sizeof(ras::RASENTRYNAMEA));
    r.SetService("Elsewhere");
    r.SetService("office");  // found without regard to case, kept as given
    EXPECT_EQ(r.Service(), "office");
    r.Password = "secret";
    std::string log;
    r.OnStatusChange = [&](fw::TObject*, const std::string& text) { log += text + ", "; };
    r.OnDisconnected = [&](fw::TObject*) { log += "disconnected"; };
    TSocketClient s(nullptr);
    s.SetWinsockLoaded(true);
    s.SetRAS(&r);
    s.Server = "127.0.0.1:110";
    s.OnOpen = [&](fw::TObject*) { log += "open, "; };
    s.Open();
    EXPECT_EQ(std::string(st.dialEntry) + "/" + st.dialPassword, "office/secret");  // the service as given
    EXPECT_TRUE(st.setRemovePassword) << "the password was left in the phone book";
    EXPECT_EQ(st.notifierWindow, r.WindowHandle());
    EXPECT_EQ(st.connsSizeSeen, sizeof(ras::RASCONNA));
    s.Close();
    s.Close();
    EXPECT_EQ(st.hangUpCount, 1u);
    EXPECT_EQ(st.lastHangUp, RAS_DOUBLE_DIALED_HANDLE);
    EXPECT_EQ(log, "Opening port, Verifying user name and password, Connected, open, disconnected");
    r.Connected = true;
    r.SetService("Office");
    EXPECT_EQ(r.Service(), "office");
    fw::SetMessageDialogSeam(nullptr);
    EXPECT_EQ(dialogs,
              "TDialUp component was unable to detect\rRAS on your system.|Invalid service name|"
              "This property can be set only before\restablishing the connection|");
}

TEST(Ras, AFailedUnansweredOrCancelledDialIsHungUpAndToldInTheLibrarysWords) {
    RasDoubleState& st = office({{ras::RASCS_OpenPort, 0}, {ras::RASCS_Authenticate, 691}});
    TDialUp r(nullptr);
    r.SetService("Office");
    r.SetTimeOut(1);
    TSocketClient s(nullptr);
    s.SetRAS(&r);
    s.Server = "127.0.0.1:110";
    bool opened = false;
    s.OnOpen = [&](fw::TObject*) { opened = true; };
    EXPECT_EQ(MessageOf([&] { s.Open(); }), "Double text for 691");
    EXPECT_FALSE(opened);
    st.dialEventCount = 0;  // no answer: the last dial's error must not end this one
    EXPECT_EQ(MessageOf([&] { r.Connect(); }), "Operation timed out");
    testsupport::Later hangUp(100, [&] { r.Disconnect(); });
    EXPECT_EQ(MessageOf([&] { r.Connect(); }), "Operation has been canceled");
    st.dialResult = 633;
    st.errorStringResult = 1;  // the library has no text for it
    EXPECT_EQ(MessageOf([&] { r.Connect(); }), "RAS error no 633");
    EXPECT_EQ(st.hangUpCount, 4u);
    // A line that fails after it was up has no caller to tell: the box does.
    st.dialResult = 0;
    st.dialEventCount = 1;
    st.dialStates[0] = ras::RASCS_Connected;
    st.dialErrors[0] = 0;
    r.Connect();
    testsupport::Boxes().clear();
    PostMessageA(r.WindowHandle(), r.DialEventMsg, ras::RASCS_Connected, 630);
    EXPECT_TRUE(testsupport::PumpUntil([] { return !testsupport::Boxes().empty(); }));
    EXPECT_EQ(testsupport::Boxes(), (testsupport::BoxList{{"RAS error no 630.", "Tidemark"}}));
}
