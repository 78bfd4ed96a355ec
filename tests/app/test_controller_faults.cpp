// The controller where a user's natural moves used to go wrong: the switch
// used during a failing check, Setup chosen twice, a poll tick while Setup is
// open, "Close" during a check, tear-down with an About box open, and Setup
// while the first-tick load is still being retried.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/application.h"
#include "framework/handles.h"
#include "gtest/gtest.h"
#include "tests/support/scripted_server.h"
#include "tests/support/wine_helpers.h"

using namespace app;
using testsupport::PumpFor;
using testsupport::ScriptedServer;

namespace {

// The controller without the registry: both loads are the test's.
class Controller : public TTrayController {
public:
    using TTrayController::TTrayController;
    std::function<void()> firstTickLoad;
    int loads = 0;

protected:
    void LoadSettingsOnShow() override {}
    void LoadSettingsOnFirstTick() override {
        ++loads;
        if (firstTickLoad) firstTickLoad();
    }
};

// Owned by `owner`; when it goes, it notes whether `controller` is still whole.
struct Witness : fw::TComponent {
    Witness(fw::TComponent* owner, fw::TComponent* controller, bool& whole)
        : fw::TComponent(owner), controller(controller), whole(whole) {}
    ~Witness() override { whole = dynamic_cast<TTrayController*>(controller) != nullptr; }
    fw::TComponent* controller;
    bool& whole;
};

class ControllerFaults : public ::testing::Test {
protected:
    void SetUp() override {
        desktop::SetShellNotifySeam([](DWORD, const NOTIFYICONDATAA&) { return TRUE; });
        SetupDialog = new TSetupDialog(nullptr);
        form = new Controller(nullptr);
        form->AnimationTimer->SetEnabled(false);
        boxes().clear();
    }
    void TearDown() override {
        drivers.clear();
        delete form;
        delete SetupDialog;
        SetupDialog = nullptr;
        desktop::SetShellNotifySeam(nullptr);
    }
    static std::vector<std::pair<std::string, std::string>>& boxes() { return testsupport::ExceptionBoxes().boxes; }
    void command(fw::TMenuItem* item) { SendMessageA(fw::TPopupMenu::PopupListWindow(), WM_COMMAND, item->Command(), 0); }
    // Checking switched on against `s`, with a tick every 50 ms.
    void checkAt(const ScriptedServer& s) {
        form->Mailbox->Server = s.Address();
        form->Mailbox->UserName = "anna";
        form->Mailbox->Password = "pw";
        form->Mailbox->SetTimeOut(2);
        command(form->CheckMailItem);
        form->PollTimer->SetInterval(50);
    }
    // Runs `step` once, `ms` from now, inside whatever loop runs then.
    void later(DWORD ms, std::function<void()> step) {
        fw::TTimer* t = drivers.emplace_back(std::make_unique<fw::TTimer>(nullptr)).get();
        t->SetInterval(ms);
        t->SetOnTimer([t, step](fw::TObject*) {
            t->SetEnabled(false);
            step();
        });
    }

    Controller* form = nullptr;
    std::vector<std::unique_ptr<fw::TTimer>> drivers;
};

TEST_F(ControllerFaults, AFailedCheckTurnsCheckingOffBeforeItsOneReport) {
    ScriptedServer slow;
    slow.Pause(500).Send("-ERR busy\r\n");
    slow.Start();
    checkAt(slow);
    // Off and on again while the check waits: the poll timer runs again.
    later(100, [&] {
        command(form->CheckMailItem);
        command(form->CheckMailItem);
    });
    // The report stays open for a while, as a box would.
    auto capture = fw::Application->OnShowException;
    fw::Application->OnShowException = [&](const std::string& text, const std::string& caption) {
        capture(text, caption);
        if (boxes().size() == 1) PumpFor(300);
    };
    form->PollTick(form->PollTimer);
    fw::Application->OnShowException = capture;
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].first, "-ERR busy.");
    EXPECT_FALSE(form->CheckingMail);
    EXPECT_EQ(form->PollTimer->Enabled(), form->CheckingMail);
    EXPECT_EQ(form->CheckMailItem->Caption(), "Start Checking email");
}

TEST_F(ControllerFaults, SetupChosenWhileOpenComesToTheFrontAndKeepsTheTyping) {
    form->Mailbox->Server = "stored.example";
    fw::UniqueWindow other(CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                           nullptr, nullptr, nullptr));
    std::string typed;
    HWND front = nullptr;
    later(50, [&] {
        SetupDialog->ServerEdit->SetText("typed.example");
        SetForegroundWindow(other.get());
        command(form->SetupItem);
        typed = SetupDialog->ServerEdit->Text();
        front = GetForegroundWindow();
        SetupDialog->CancelBtn->Click();
    });
    command(form->SetupItem);
    EXPECT_EQ(typed, "typed.example");
    EXPECT_EQ(front, SetupDialog->Handle());
    EXPECT_TRUE(boxes().empty()) << boxes()[0].first;
}

TEST_F(ControllerFaults, APollTickWhileSetupIsOpenWaitsUntilItCloses) {
    ScriptedServer server;
    // CAPA refused: one command at a time.
    server.Send("+OK\r\n").ExpectLine().Send("-ERR\r\n").ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK\r\n");
    server.ExpectLine().Send("+OK 0 0\r\n").ExpectLine().Send("+OK\r\n");
    server.Start();
    checkAt(server);
    bool checkedUnderSetup = true;
    later(300, [&] {
        checkedUnderSetup = server.Accepted();
        SetupDialog->CancelBtn->Click();
    });
    command(form->SetupItem);
    EXPECT_FALSE(checkedUnderSetup);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return server.ScriptDone(); }, 3000)) << "no check after Setup closed";
    form->PollTimer->SetEnabled(false);
    EXPECT_EQ(server.Received(), "CAPA\r\nUSER anna\r\nPASS pw\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(ControllerFaults, CloseDuringACheckCancelsItAndTheProgramEndsAtOnce) {
    ScriptedServer silent;  // takes the connection, never says a word
    silent.Start();
    checkAt(silent);
    ULONGLONG closedAt = 0;
    later(400, [&] {
        closedAt = GetTickCount64();
        command(form->CloseItem);
    });
    fw::Application->SetMainForm(form);
    fw::Application->Run();
    const ULONGLONG took = GetTickCount64() - closedAt;
    fw::Application->SetMainForm(nullptr);
    fw::Application->ClearTerminated();
    EXPECT_TRUE(silent.Accepted());
    EXPECT_LT(took, 1000u);
    EXPECT_TRUE(boxes().empty()) << boxes()[0].first;
}

TEST_F(ControllerFaults, TearDownDestroysAnOpenAboutBoxWhileTheControllerIsWhole) {
    auto* box = new desktop::TAboutBox(form);
    box->Show();
    bool whole = false;
    new Witness(box, form, whole);
    delete form;
    form = nullptr;
    EXPECT_TRUE(whole);
    EXPECT_FALSE(fw::Application->FormExists(box));
}

TEST_F(ControllerFaults, SetupOkStopsTheRetriesOfAFailingFirstTickLoad) {
    form->firstTickLoad = [&] {
        form->Mailbox->Server = "stored.example";
        throw fw::Exception("'' is not a valid integer value");
    };
    form->AnimationTick(form->AnimationTimer);
    // OK applies the texts, then the interval fails: nothing is stored.
    later(50, [&] {
        SetupDialog->ServerEdit->SetText("typed.example");
        SetupDialog->IntervalEdit->SetText("x");
        SetupDialog->OKBtn->Click();
    });
    command(form->SetupItem);
    form->AnimationTick(form->AnimationTimer);
    form->AnimationTimer->SetEnabled(false);
    EXPECT_EQ(form->loads, 1);
    EXPECT_EQ(form->Mailbox->Server, "typed.example");
    EXPECT_EQ(boxes().size(), 2u);
}

}  // namespace
