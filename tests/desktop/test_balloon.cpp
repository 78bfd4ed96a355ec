// The new-mail balloon as the shell gets it: the Unicode record with only
// NIF_INFO, the information icon with quiet hours respected, the texts cut
// to the record without splitting a surrogate pair.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "desktop/tray_icon.h"
#include "gtest/gtest.h"

namespace {
std::u16string text(const WCHAR* s) { return reinterpret_cast<const char16_t*>(s); }
}  // namespace

TEST(Balloon, TheUnicodeRecordCarriesOnlyTheNotice) {
    std::vector<std::pair<DWORD, NOTIFYICONDATAW>> calls;
    struct Unhook {
        ~Unhook() { desktop::SetShellNotifySeam(nullptr), desktop::SetShellNotifyWideSeam(nullptr); }
    } unhook;
    desktop::SetShellNotifySeam([](DWORD, const NOTIFYICONDATAA&) { return TRUE; });
    desktop::SetShellNotifyWideSeam([&](DWORD m, const NOTIFYICONDATAW& d) {
        calls.emplace_back(m, d);
        return TRUE;
    });
    desktop::TTrayIcon icon(nullptr);
    EXPECT_FALSE(icon.ShowBalloon(u"New mail", u"not shown"));
    EXPECT_TRUE(calls.empty()) << "no balloon from an icon that is not in the notification area";
    icon.SetActive(true);
    const std::u16string line = u"Анна: Привет, 日本語 🌊";
    ASSERT_TRUE(icon.ShowBalloon(u"New mail", line));
    ASSERT_EQ(calls.size(), 1u);
    const NOTIFYICONDATAW& d = calls[0].second;
    EXPECT_EQ(calls[0].first, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(d.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(d.hWnd, icon.WindowHandle());
    EXPECT_EQ(d.uID, 0u);
    EXPECT_EQ(d.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(d.dwInfoFlags, static_cast<DWORD>(NIIF_INFO | NIIF_RESPECT_QUIET_TIME));
    EXPECT_EQ(d.uTimeout, 10000u);
    EXPECT_EQ(text(d.szInfoTitle), u"New mail");
    EXPECT_EQ(text(d.szInfo), line);

    // A pair that would straddle the last place goes whole; one that fits stays.
    for (std::size_t a : {254, 253}) icon.ShowBalloon(std::u16string(70, u'T'), std::u16string(a, u'a') + u"🌊b");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(text(calls[1].second.szInfoTitle), std::u16string(63, u'T'));
    EXPECT_EQ(text(calls[1].second.szInfo), std::u16string(254, u'a'));
    EXPECT_EQ(text(calls[2].second.szInfo), std::u16string(253, u'a') + u"🌊");
}
