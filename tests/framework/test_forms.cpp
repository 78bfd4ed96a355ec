#include <windows.h>

#include "framework/application.h"
#include "framework/forms.h"
#include "framework/menus.h"
#include "framework/sysutils.h"
#include "framework/timer.h"
#include "gtest/gtest.h"
#include "tests/support/wine_helpers.h"

using namespace fw;

namespace {
class TestForm : public TForm {
public:
    explicit TestForm(TComponent* owner) : TForm(owner, TFormDesc{"Test", 10, 10, 200, 100}) {
        OK = new TButton(this, nullptr, "OK", 10, 60, 75, 25, mrOk);
        OK->Default = true;
        Cancel = new TButton(this, nullptr, "Cancel", 100, 60, 75, 25, mrCancel);
        Cancel->Cancel = true;
        DoCreate();
    }
    TButton* OK;
    TButton* Cancel;
};
}  // namespace

TEST(Forms, ShowModalEndsOnAButtonsModalResult) {
    TestForm f(nullptr);
    TTimer t(nullptr);
    t.SetInterval(50);
    t.SetOnTimer([&](TObject*) {
        t.SetEnabled(false);
        SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(f.OK->Id(), BN_CLICKED), (LPARAM)f.OK->Handle());
    });
    EXPECT_EQ(f.ShowModal(), mrOk);
    EXPECT_FALSE(f.Visible());
}

TEST(Forms, EscapeReachesTheCancelButtonAndEnterTheDefault) {
    TestForm f(nullptr);
    TTimer t(nullptr);
    t.SetInterval(50);
    t.SetOnTimer([&](TObject*) {
        t.SetEnabled(false);
        // What IsDialogMessage sends for Esc.
        SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    EXPECT_EQ(f.ShowModal(), mrCancel);
    EXPECT_EQ(SendMessageA(f.Handle(), DM_GETDEFID, 0, 0), MAKELRESULT(f.OK->Id(), DC_HASDEFID));
    f.OK->SetVisible(false);
    EXPECT_EQ(SendMessageA(f.Handle(), DM_GETDEFID, 0, 0), 0);
}

TEST(Forms, QuitSeenInANestedModalLoopIsPostedAgainForTheOuterLoop) {
    TestForm f(nullptr);
    TTimer t(nullptr);
    t.SetInterval(50);
    t.SetOnTimer([&](TObject*) {
        t.SetEnabled(false);
        PostQuitMessage(7);
    });
    EXPECT_EQ(f.ShowModal(), mrCancel);
    EXPECT_TRUE(Application->Terminated());
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    // The process-wide application goes on for the following tests.
    Application->ClearTerminated();
}

TEST(Forms, CloseActionFreeDestroysTheFormAfterItsHandlerReturned) {
    auto* f = new TestForm(Application);
    bool inHandler = false;
    f->OnClose = [&](TObject*, TCloseAction& a) {
        inHandler = true;
        a = TCloseAction::caFree;
    };
    f->Show();
    f->Close();
    // Still alive right after Close: the release is posted.
    EXPECT_TRUE(Application->FormExists(f));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !Application->FormExists(f); }, 2000));
    EXPECT_TRUE(inHandler);
}

TEST(Forms, ExceptionInTheShowHandlerIsReportedAndTheFormStaysShown) {
    auto& boxes = testsupport::ExceptionBoxes();
    boxes.clear();
    TestForm f(nullptr);
    f.OnShow = [](TObject*) { throw EConvertError("'' is not a valid integer value"); };
    f.Show();
    EXPECT_TRUE(f.Visible());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].first, "'' is not a valid integer value.");
}

TEST(Menus, ACommandRunsTheItemAndAnExceptionReachesTheHandler) {
    auto& boxes = testsupport::ExceptionBoxes();
    boxes.clear();
    TPopupMenu menu(nullptr);
    int clicks = 0;
    auto* item = new TMenuItem(&menu, "&Setup", [&](TObject*) {
        ++clicks;
        throw Exception("Failed to set data for 'server'");
    });
    SendMessageA(TPopupMenu::PopupListWindow(), WM_COMMAND, item->Command(), 0);
    EXPECT_EQ(clicks, 1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].first, "Failed to set data for 'server'.");
    item->SetCaption("Stop Checking email");
    char buf[64] = {};
    GetMenuStringA(menu.Handle(), item->Command(), buf, sizeof buf, MF_BYCOMMAND);
    EXPECT_STREQ(buf, "Stop Checking email");
}
