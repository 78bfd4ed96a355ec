// The About box: its layout, the three uses (splash, About, upgrade
// reminder), how each closes and frees itself, and screenshots of what the
// user sees first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/about_box.h"
#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_helpers.h"

using namespace desktop;

namespace {

// Runs `step` once, `ms` after the call, from inside whatever loop is
// dispatching messages then (here: the box's modal loop).
class Later {
public:
    Later(unsigned ms, std::function<void()> step) : timer_(nullptr) {
        timer_.SetInterval(ms);
        timer_.SetOnTimer([this, step](fw::TObject*) {
            timer_.SetEnabled(false);
            step();
        });
    }

private:
    fw::TTimer timer_;
};

// Copies the window's picture into a 24-bit BMP file. Without a window
// manager Wine leaves the frame of a captioned window to nobody, so the frame
// comes from PrintWindow (drawn as Windows draws it) and the client area with
// its controls from the screen.
bool saveScreenshot(HWND hwnd, const std::string& path) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    fw::Application->ProcessMessages();
    RECT r;
    GetWindowRect(hwnd, &r);
    return testsupport::SaveBitmap(path, r.right - r.left, r.bottom - r.top, [&](HDC mem) {
        PrintWindow(hwnd, mem, 0);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        RECT client;
        GetClientRect(hwnd, &client);
        HDC win = GetDC(hwnd);
        BOOL ok = BitBlt(mem, origin.x - r.left, origin.y - r.top, client.right, client.bottom, win, 0, 0, SRCCOPY);
        ReleaseDC(hwnd, win);
        return ok != FALSE;
    });
}

void expectBounds(const fw::TControl* c, int left, int top, int width, int height) {
    RECT r = c->BoundsRect();
    EXPECT_EQ(r.left, left) << c->Name;
    EXPECT_EQ(r.top, top) << c->Name;
    EXPECT_EQ(r.right - r.left, width) << c->Name;
    EXPECT_EQ(r.bottom - r.top, height) << c->Name;
}

// Notes when the box's close handling starts. Under a bare X server, Wine
// waits up to 2 s for the window manager when a window is hidden, so the
// modal display returns late; the close itself is what is timed.
void noteClose(TAboutBox* box, ULONGLONG& at) {
    fw::TCloseEvent handler = box->OnClose;
    box->OnClose = [handler, &at](fw::TObject* s, fw::TCloseAction& a) {
        at = GetTickCount64();
        handler(s, a);
    };
}

int textWidth(const fw::TLabel* label) { return fw::TextExtent(label->Caption()).cx; }

// A label keeps its laid-out place when its text fits there; otherwise it
// is as wide as its text and centred where the place was.
void expectLabel(const fw::TLabel* label, int left, int top, int width, int height) {
    RECT r = label->BoundsRect();
    int text = textWidth(label);
    EXPECT_EQ(r.top, top) << label->Name;
    EXPECT_EQ(r.bottom - r.top, height) << label->Name;
    EXPECT_GE(r.right - r.left, text) << label->Name << " cuts off \"" << label->Caption() << "\"";
    if (text + 2 <= width) {
        EXPECT_EQ(r.left, left) << label->Name;
        EXPECT_EQ(r.right - r.left, width) << label->Name;
    } else {
        EXPECT_NEAR(r.left + r.right, 2 * left + width, 2) << label->Name;
    }
}

bool destroyedSoon(const fw::TForm* box) {
    return testsupport::PumpUntil([&] { return !fw::Application->FormExists(box); }, 2000);
}

TEST(AboutBox, LayoutWithoutCaptionBarAndTheLogo) {
    auto box = std::make_unique<TAboutBox>(nullptr);
    EXPECT_EQ(AboutBox, box.get());
    EXPECT_EQ(box->Left(), 154);
    EXPECT_EQ(box->Top(), 26);
    EXPECT_EQ(GetWindowLongA(box->Handle(), GWL_STYLE) & WS_CAPTION, 0);
    RECT client;
    GetClientRect(box->Handle(), &client);
    EXPECT_EQ(client.right, 223);
    // The outer height with the caption bar, less 40, became the client height;
    // the caption bar's room then went to the client area.
    fw::TForm plain(nullptr, fw::TFormDesc{"About", 154, 26, 223, 330, fw::TBorderStyle::bsDialog});
    int captioned = plain.Height();
    EXPECT_EQ(box->Height(), captioned + (captioned - 40) - 330);
    EXPECT_GT(box->ClientHeight(), 301 + 25);  // the OK button fits

    expectBounds(box->LogoPanel, 8, 8, 206, 256);
    expectBounds(box->LogoImage, 3, 2, 200, 252);
    EXPECT_EQ(GetParent(box->LogoImage->Handle()), box->LogoPanel->Handle());
    expectLabel(box->VersionLabel, 70, 268, 88, 13);
    expectLabel(box->TaglineLabel, 43, 283, 136, 13);
    expectLabel(box->LoadingLabel, 58, 304, 106, 13);
    expectBounds(box->OKButton, 74, 301, 75, 25);
    EXPECT_EQ(box->VersionLabel->Caption(), "Tidemark 2.01");
    EXPECT_EQ(box->TaglineLabel->Caption(), "With Vesk, your email agent.");
    EXPECT_EQ(box->LoadingLabel->Caption(), "Loading, please wait...");
    EXPECT_EQ(box->OKButton->Caption(), "OK");
    EXPECT_TRUE(box->OKButton->Default);
    EXPECT_EQ(box->OKButton->ModalResult, fw::mrOk);
    EXPECT_TRUE(box->CloseTimer->Enabled());
    EXPECT_EQ(box->CloseTimer->Interval(), 30000u);
    EXPECT_TRUE(box->CloseTimer->Running());

    // The logo: 200 x 252 pixels, 256 colours.
    HRSRC res = FindResourceA(GetModuleHandleA(nullptr), TAboutBox::LogoResource, RT_BITMAP);
    ASSERT_NE(res, nullptr);
    auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, res)));
    EXPECT_EQ(info->biWidth, 200);
    EXPECT_EQ(info->biHeight, 252);
    EXPECT_EQ(info->biBitCount, 8);
    BITMAP bm{};
    ASSERT_NE(box->LogoImage->Bitmap(), nullptr);
    GetObjectA(box->LogoImage->Bitmap(), sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 200);
    EXPECT_EQ(bm.bmHeight, 252);

    box.reset();
    EXPECT_EQ(AboutBox, nullptr);
}

TEST(AboutBox, SplashShowsNoButtonIgnoresEnterAndEscapeAndClosesAfterThreeSeconds) {
    TAboutBox* seen = nullptr;
    bool labelShown = false, buttonShown = true, shot = false;
    ULONGLONG closed = 0;
    Later look(300, [&] {
        seen = AboutBox;
        noteClose(seen, closed);
        labelShown = seen->LoadingLabel->Visible();
        buttonShown = seen->OKButton->Visible();
        shot = saveScreenshot(seen->Handle(), testsupport::ArtifactPath("about-splash.bmp"));
        PostMessageA(seen->Handle(), WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(seen->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ShowSplash(), fw::mrCancel);
    ULONGLONG elapsed = closed - start;
    EXPECT_GE(elapsed, 2900u);
    EXPECT_LT(elapsed, 6000u);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->Owner(), fw::Application);
    EXPECT_TRUE(labelShown);
    EXPECT_FALSE(buttonShown);
    EXPECT_TRUE(shot);
    // Still there when the modal display returns; gone once messages ran.
    EXPECT_TRUE(fw::Application->FormExists(seen));
    EXPECT_TRUE(destroyedSoon(seen));
    EXPECT_EQ(AboutBox, nullptr);
}

TEST(AboutBox, AboutClosesItselfWhenItsTimerFiresButNotOnEscape) {
    fw::TComponent owner(nullptr);
    TAboutBox* seen = nullptr;
    bool labelShown = true, buttonShown = false, shot = false;
    ULONGLONG intervalSet = 0, closed = 0;
    Later look(200, [&] {
        seen = AboutBox;
        noteClose(seen, closed);
        labelShown = seen->LoadingLabel->Visible();
        buttonShown = seen->OKButton->Visible();
        shot = saveScreenshot(seen->Handle(), testsupport::ArtifactPath("about-box.bmp"));
        PostMessageA(seen->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
        // The form's own timer, made shorter: a new interval counts from now.
        seen->CloseTimer->SetInterval(400);
        intervalSet = GetTickCount64();
    });
    EXPECT_EQ(ShowAboutBox(&owner), fw::mrCancel);
    ULONGLONG elapsed = closed - intervalSet;
    EXPECT_GE(elapsed, 350u);
    EXPECT_LT(elapsed, 1500u);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->Owner(), &owner);
    EXPECT_EQ(seen->Caption(), "About");
    EXPECT_FALSE(labelShown);
    EXPECT_TRUE(buttonShown);
    EXPECT_TRUE(shot);
    EXPECT_TRUE(destroyedSoon(seen));
    EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(AboutBox, OKButtonAndEnterCloseTheAboutBox) {
    fw::TComponent owner(nullptr);
    TAboutBox* seen = nullptr;
    Later click(100, [&] {
        seen = AboutBox;
        SendMessageA(seen->OKButton->Handle(), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(ShowAboutBox(&owner), fw::mrOk);
    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(destroyedSoon(seen));

    Later enter(100, [&] {
        seen = AboutBox;
        PostMessageA(seen->Handle(), WM_KEYDOWN, VK_RETURN, 0);
    });
    EXPECT_EQ(ShowAboutBox(&owner), fw::mrOk);
    EXPECT_TRUE(destroyedSoon(seen));
}

TEST(AboutBox, ReminderPromptsToClickTheLogoAndEachUseIsANewBox) {
    fw::TComponent owner(nullptr);
    TAboutBox* first = nullptr;
    std::string line;
    bool labelShown = true;
    Later look(100, [&] {
        first = AboutBox;
        line = first->TaglineLabel->Caption();
        expectLabel(first->TaglineLabel, 43, 283, 136, 13);
        labelShown = first->LoadingLabel->Visible();
        first->Close();  // a close request, as the caller may send
    });
    EXPECT_EQ(ShowUpgradeReminder(&owner), fw::mrCancel);
    EXPECT_EQ(line, "      Click on our logo!");
    EXPECT_FALSE(labelShown);
    EXPECT_TRUE(destroyedSoon(first));

    TAboutBox* second = nullptr;
    Later again(100, [&] {
        second = AboutBox;
        line = second->TaglineLabel->Caption();
        CloseAboutBox();
    });
    EXPECT_EQ(ShowAboutBox(&owner), fw::mrCancel);
    EXPECT_EQ(line, "With Vesk, your email agent.");
    EXPECT_NE(second, nullptr);
    EXPECT_TRUE(destroyedSoon(second));
    CloseAboutBox();  // nothing left to close: touches no freed box
}

TEST(AboutBox, ShowingDoesNotRestartTheCountThatBeganAtCreation) {
    auto* box = new TAboutBox(nullptr);
    ULONGLONG closed = 0;
    noteClose(box, closed);
    box->CloseTimer->SetInterval(800);
    ULONGLONG created = GetTickCount64();
    testsupport::PumpFor(500);
    EXPECT_EQ(box->ShowModal(), fw::mrCancel);
    ULONGLONG elapsed = closed - created;
    EXPECT_GE(elapsed, 750u);
    EXPECT_LT(elapsed, 1250u);  // a restart at showing would need 500 + 800
    EXPECT_TRUE(destroyedSoon(box));
}

}  // namespace
