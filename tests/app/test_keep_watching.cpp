// The controller keeps watching through failures that pass by themselves: no
// box, checking stays on, a retry after a growing wait, a tooltip that says
// so, one balloon after long trouble; it stops with a box for what only the
// user can mend; it cancels a check at sleep and checks soon after waking, or
// when the network comes back. Waits are judged by the intervals the
// controller sets on its timers, not by waiting them out.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/tray_controller.h"
#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/scripted_server.h"
#include "tests/support/shell_calls.h"
#include "tests/support/wine_helpers.h"

using testsupport::ScriptedServer;

namespace {

// The controller without the registry.
class Controller : public app::TTrayController {
public:
    using TTrayController::TTrayController;

protected:
    void LoadSettingsOnShow() override {}
    void LoadSettingsOnFirstTick() override {}
};

const std::string kUnreachable = "Tidemark: mail server unreachable, retrying";
const std::string kBusy = "Tidemark: mailbox busy, retrying";

// Greeting, CAPA refused, USER accepted, then `pass` as the answer to PASS.
void answerPass(ScriptedServer& s, const std::string& pass) {
    s.Send("+OK\r\n").ExpectLine().Send("-ERR\r\n").ExpectLine().Send("+OK\r\n").ExpectLine().Send(pass + "\r\n");
}

std::string refusingServer() { return "127.0.0.1:" + std::to_string(ScriptedServer::UnusedPort()); }

class KeepWatching : public ::testing::Test {
protected:
    void SetUp() override {
        desktop::SetShellNotifySeam([](DWORD, const NOTIFYICONDATAA&) { return TRUE; });
        desktop::SetShellNotifyWideSeam([this](DWORD msg, const NOTIFYICONDATAW& d) {
            if (d.uFlags & NIF_INFO) balloons.push_back({msg, d});
            return TRUE;
        });
        form = new Controller(nullptr);
        form->AnimationTimer->SetEnabled(false);
        form->Mailbox->UserName = "anna";
        form->Mailbox->Password = "pw";
        form->Mailbox->SetTimeOut(1);
        form->CheckMailItemClick(form);
        form->PollTimer->SetInterval(90000);
        testsupport::ExceptionBoxes().clear();
    }
    void TearDown() override {
        delete form;
        desktop::SetShellNotifySeam(nullptr);
        desktop::SetShellNotifyWideSeam(nullptr);
    }
    // One check against `server`, as a tick of whichever timer is due.
    void checkAt(const std::string& server) {
        form->Mailbox->Server = server;
        form->PollTick(form->RetryTimer);
    }
    void power(WPARAM event) { SendMessageA(form->Handle(), WM_POWERBROADCAST, event, 0); }
    const std::vector<std::pair<std::string, std::string>>& boxes() { return testsupport::ExceptionBoxes().boxes; }
    void expectRetryingIn(unsigned ms, const std::string& tip) {
        EXPECT_TRUE(boxes().empty()) << boxes()[0].first;
        EXPECT_TRUE(form->CheckingMail);
        EXPECT_EQ(form->CheckMailItem->Caption(), "Stop Checking email");
        EXPECT_FALSE(form->PollTimer->Enabled());
        EXPECT_TRUE(form->RetryTimer->Enabled());
        EXPECT_EQ(form->RetryTimer->Interval(), ms);
        EXPECT_EQ(form->TrayIcon->ToolTip(), tip);
    }

    Controller* form = nullptr;
    struct Balloon {
        DWORD message;
        NOTIFYICONDATAW data;
    };
    std::vector<Balloon> balloons;
};

TEST_F(KeepWatching, PassingFailuresRetryQuietlyAfterAGrowingWait) {
    struct Case {
        const char* name;
        std::function<std::string(ScriptedServer&)> serve;
        std::string tip;
    };
    const Case cases[] = {
        {"refused", [](ScriptedServer&) { return refusingServer(); }, kUnreachable},
        {"time-out", [](ScriptedServer& s) { s.Start(); return s.Address(); }, kUnreachable},
        {"in use", [](ScriptedServer& s) { answerPass(s, "-ERR [IN-USE] Mailbox is locked"); s.Start(); return s.Address(); }, kBusy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (unsigned wait : {30000u, 60000u}) {
            ScriptedServer server;
            checkAt(c.serve(server));
            expectRetryingIn(wait, c.tip);
        }
        form->CheckMailItemClick(form);  // off: the retries and their tooltip end
        EXPECT_FALSE(form->RetryTimer->Enabled());
        EXPECT_EQ(form->TrayIcon->ToolTip(), "");
        form->CheckMailItemClick(form);
    }
    // Then 2 and 4 minutes, but never later than the poll interval.
    for (unsigned wait : {30000u, 60000u, 90000u, 90000u}) {
        checkAt(refusingServer());
        expectRetryingIn(wait, kUnreachable);
    }
    EXPECT_TRUE(balloons.empty());
}

TEST_F(KeepWatching, FailuresThatNeedTheUserShowTheBoxAndSwitchOff) {
    for (const std::string reply : {"-ERR [AUTH] Authentication failed.", "-ERR invalid password"}) {
        checkAt(refusingServer());  // a retry pending when the refusal comes
        ScriptedServer server;
        answerPass(server, reply);
        server.Start();
        testsupport::ExceptionBoxes().clear();
        checkAt(server.Address());
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].first, reply.back() == '.' ? reply : reply + ".");
        EXPECT_FALSE(form->CheckingMail);
        EXPECT_FALSE(form->PollTimer->Enabled());
        EXPECT_FALSE(form->RetryTimer->Enabled());
        EXPECT_EQ(form->CheckMailItem->Caption(), "Start Checking email");
        EXPECT_EQ(form->TrayIcon->ToolTip(), "");  // no longer "retrying"
        form->CheckMailItemClick(form);
    }
}

TEST_F(KeepWatching, OneBalloonAfterLongTroubleAndSuccessRestoresTheCount) {
    form->BalloonAfterMs = 0;
    for (int i = 0; i < 3; ++i) checkAt(refusingServer());
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].message, static_cast<DWORD>(NIM_MODIFY));
    std::string text;
    for (const WCHAR* c = balloons[0].data.szInfo; *c; ++c) text += static_cast<char>(*c);
    EXPECT_EQ(balloons[0].data.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING | NIIF_RESPECT_QUIET_TIME));
    EXPECT_EQ(text.find("Mail could not be checked since "), 0u) << text;
    EXPECT_NE(text.find(" ([10061] Connection refused). Tidemark keeps trying."), std::string::npos) << text;

    ScriptedServer good;
    answerPass(good, "+OK");
    good.ExpectLine().Send("+OK 0 0\r\n").ExpectLine().Send("+OK\r\n");
    good.Start();
    checkAt(good.Address());
    EXPECT_EQ(form->TrayIcon->ToolTip(), " (No messages)");
    EXPECT_EQ(form->PassingFailures(), 0);
    EXPECT_FALSE(form->RetryTimer->Enabled());
    EXPECT_TRUE(form->PollTimer->Enabled());
    EXPECT_EQ(form->PollTimer->Interval(), 90000u);
}

TEST_F(KeepWatching, SleepCancelsACheckWithoutAReport) {
    ScriptedServer silent;
    silent.Start();
    form->Mailbox->SetTimeOut(5);
    fw::TTimer sleep(nullptr);
    sleep.SetInterval(300);
    sleep.SetOnTimer([&](fw::TObject*) {
        sleep.SetEnabled(false);
        power(PBT_APMSUSPEND);
    });
    const ULONGLONG start = GetTickCount64();
    checkAt(silent.Address());
    EXPECT_LT(GetTickCount64() - start, 1500u);
    EXPECT_TRUE(silent.Accepted());
    EXPECT_TRUE(boxes().empty()) << boxes()[0].first;
    EXPECT_TRUE(form->CheckingMail);
    EXPECT_EQ(form->PassingFailures(), 0);  // no failure: the check comes again after waking
    EXPECT_TRUE(form->RetryTimer->Enabled());
    EXPECT_LE(form->RetryTimer->Interval(), 10000u);
}

TEST_F(KeepWatching, WakingUpBringsACheckSoonAndQuickRetries) {
    for (WPARAM resume : {PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}) {
        SCOPED_TRACE(resume);
        form->CheckMailItemClick(form);  // off and on: the next poll a full interval away
        form->CheckMailItemClick(form);
        power(resume);
        EXPECT_TRUE(form->RetryTimer->Enabled());
        EXPECT_LE(form->RetryTimer->Interval(), 10000u);
        // Its tick runs a check; failures right after waking are retried soon.
        form->Mailbox->Server = refusingServer();
        form->RetryTimer->SetInterval(50);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return form->PassingFailures() == 1; }, 3000));
        expectRetryingIn(10000, kUnreachable);
    }
}

TEST_F(KeepWatching, TheNetworkComingBackBringsTheRetryAtOnce) {
    PostMessageA(form->AddressWatch->WindowHandle(), net::TAddressWatch::WM_ADDRESS_CHANGED, 0, 0);
    testsupport::PumpFor(50);
    EXPECT_FALSE(form->RetryTimer->Enabled());  // nothing failed: the poll goes on
    EXPECT_TRUE(form->PollTimer->Enabled());
    checkAt(refusingServer());
    PostMessageA(form->AddressWatch->WindowHandle(), net::TAddressWatch::WM_ADDRESS_CHANGED, 0, 0);
    testsupport::PumpFor(50);
    EXPECT_TRUE(form->RetryTimer->Enabled());
    EXPECT_LE(form->RetryTimer->Interval(), 1000u);
}

}  // namespace
