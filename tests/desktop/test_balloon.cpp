// The new-mail balloon as the shell gets it: the Unicode record with only
// NIF_INFO, the information icon with quiet hours respected, the texts cut
// to the record without splitting a surrogate pair; and the shell's click
// notification for it.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "desktop/tray_icon.h"
#include "gtest/gtest.h"

namespace {

struct WideCall {
    DWORD message;
    NOTIFYICONDATAW data;
};

std::u16string text(const WCHAR* s) { return reinterpret_cast<const char16_t*>(s); }

class Balloon : public ::testing::Test {
protected:
    void SetUp() override {
        desktop::SetShellNotifySeam([](DWORD, const NOTIFYICONDATAA&) { return TRUE; });
        desktop::SetShellNotifyWideSeam([this](DWORD m, const NOTIFYICONDATAW& d) {
            calls.push_back({m, d});
            return TRUE;
        });
    }
    void TearDown() override {
        desktop::SetShellNotifySeam(nullptr);
        desktop::SetShellNotifyWideSeam(nullptr);
    }
    std::vector<WideCall> calls;
};

}  // namespace

TEST_F(Balloon, TheUnicodeRecordCarriesOnlyTheNotice) {
    desktop::TTrayIcon icon(nullptr);
    EXPECT_FALSE(icon.ShowBalloon(u"New mail", u"not shown"));
    EXPECT_TRUE(calls.empty()) << "no balloon from an icon that is not in the notification area";
    icon.SetActive(true);
    const std::u16string line = u"Анна: Привет, 日本語 🌊";
    ASSERT_TRUE(icon.ShowBalloon(u"New mail", line));
    ASSERT_EQ(calls.size(), 1u);
    const NOTIFYICONDATAW& d = calls[0].data;
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(d.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(d.hWnd, icon.WindowHandle());
    EXPECT_EQ(d.uID, 0u);
    EXPECT_EQ(d.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(d.dwInfoFlags, static_cast<DWORD>(NIIF_INFO | NIIF_RESPECT_QUIET_TIME));
    EXPECT_EQ(d.uTimeout, 10000u);
    EXPECT_EQ(text(d.szInfoTitle), u"New mail");
    EXPECT_EQ(text(d.szInfo), line);

    // 254 letters and a pair that would straddle the last place: the pair goes.
    icon.ShowBalloon(std::u16string(70, u'T'), std::u16string(254, u'a') + u"🌊" + u"b");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(text(calls[1].data.szInfoTitle), std::u16string(63, u'T'));
    EXPECT_EQ(text(calls[1].data.szInfo), std::u16string(254, u'a'));
    icon.ShowBalloon(u"t", std::u16string(253, u'a') + u"🌊b");
    EXPECT_EQ(text(calls[2].data.szInfo), std::u16string(253, u'a') + u"🌊");
}

TEST_F(Balloon, OnlyTheUsersClickOnTheBalloonFiresOnBalloonClick) {
    desktop::TTrayIcon icon(nullptr);
    int clicks = 0;
    icon.OnBalloonClick = [&](fw::TObject*) { ++clicks; };
    for (UINT note : {NIN_BALLOONSHOW, NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT, NIN_BALLOONUSERCLICK})
        SendMessageA(icon.WindowHandle(), desktop::TTrayIcon::WM_TRAYNOTIFY, 0, note);
    EXPECT_EQ(clicks, 1);
}
