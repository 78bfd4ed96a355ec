// The logo's browser launch over DDE, against DDE servers that this test
// process registers itself for the browsers' services.
#include <windows.h>
#include <ddeml.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "desktop/about_box.h"
#include "framework/application.h"
#include "framework/dde.h"
#include "framework/dialogs.h"
#include "gtest/gtest.h"
#include "tests/support/wine_helpers.h"

using namespace desktop;

namespace {

const char* const kNetscapeError = "Error getting Netscape Navigator to load page.";
const char* const kExplorerError = "Error getting MS Internet Explorer to load page.";
const char* const kGeneralError = "Error: You don't have MS Internet Explorer or Netscape Navigator open.";
const std::string kOpenUrlItem = "http://www.brindlewick.example/,,0xFFFFFFFF,0x0,,,";

bool equalsNoCase(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// Stands in for the running browsers: a second DDEML instance of this thread
// that offers the services "NETSCAPE" and "IExplore" (DDE string handles are
// case-insensitive atoms, so the latter also answers "IEXPLORE"), accepts
// the topics it is told to, and records every connection attempt, request
// and disconnection. The client's synchronous transactions dispatch the
// thread's DDE messages while they wait, so the server answers from inside.
class FakeBrowsers {
public:
    struct Attempt {
        std::string service, topic;
        bool accepted;
        int codePage;  // from the client's conversation context, -1 without one
    };
    struct Request {
        std::string topic, item;
        UINT format;
    };

    // `accepts` holds "SERVICE/TOPIC" pairs (upper case) that are accepted.
    explicit FakeBrowsers(std::vector<std::string> accepts, std::string reply = "OK")
        : accepts_(std::move(accepts)), reply_(std::move(reply)) {
        current_ = this;
        UINT rc = DdeInitializeA(&inst_, callback,
                                 APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS |
                                     CBF_FAIL_POKES | CBF_FAIL_EXECUTES,
                                 0);
        EXPECT_EQ(rc, static_cast<UINT>(DMLERR_NO_ERROR));
        for (const char* name : {"NETSCAPE", "IExplore"}) {
            HSZ h = DdeCreateStringHandleA(inst_, name, CP_WINANSI);
            EXPECT_NE(DdeNameService(inst_, h, nullptr, DNS_REGISTER), nullptr) << name;
            names_.push_back(h);
        }
    }
    ~FakeBrowsers() {
        for (HSZ h : names_) DdeFreeStringHandle(inst_, h);
        DdeUninitialize(inst_);
        current_ = nullptr;
    }

    std::vector<Attempt> attempts;
    std::vector<Request> requests;
    int disconnects = 0;

    int attemptsOn(const std::string& service) const {
        int n = 0;
        for (const Attempt& a : attempts) n += equalsNoCase(a.service, service);
        return n;
    }

private:
    std::string text(HSZ h) const {
        char buf[512] = {};
        DdeQueryStringA(inst_, h, buf, sizeof buf, CP_WINANSI);
        return buf;
    }
    bool accepts(const std::string& service, const std::string& topic) const {
        for (const std::string& a : accepts_)
            if (equalsNoCase(a, service + "/" + topic)) return true;
        return false;
    }
    static HDDEDATA CALLBACK callback(UINT type, UINT fmt, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA, ULONG_PTR d1,
                                      ULONG_PTR) {
        FakeBrowsers* self = current_;
        if (!self) return nullptr;
        switch (type) {
        case XTYP_CONNECT: {
            auto* context = reinterpret_cast<CONVCONTEXT*>(d1);
            Attempt a{self->text(hsz2), self->text(hsz1), false, context ? context->iCodePage : -1};
            a.accepted = self->accepts(a.service, a.topic);
            self->attempts.push_back(a);
            return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(a.accepted));
        }
        case XTYP_REQUEST:
            self->requests.push_back({self->text(hsz1), self->text(hsz2), fmt});
            // Sent without a terminating NUL: the client has to add its own.
            return DdeCreateDataHandle(self->inst_, reinterpret_cast<LPBYTE>(self->reply_.data()),
                                       static_cast<DWORD>(self->reply_.size()), 0, hsz2, fmt, 0);
        case XTYP_DISCONNECT:
            ++self->disconnects;
            return nullptr;
        }
        return nullptr;
    }

    static inline FakeBrowsers* current_ = nullptr;
    DWORD inst_ = 0;
    std::vector<HSZ> names_;
    std::vector<std::string> accepts_;
    std::string reply_;
};

bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// Wine carries its own iexplore.exe in the system folder, where WinExec
// finds "IEXPLORE.EXE"; the test run disables it (WINEDLLOVERRIDES, set by
// the test's ctest entry) so that no real browser starts and answers.
void expectNoRealExplorer() {
    if (!underWine()) return;
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    ASSERT_TRUE(overrides && std::strstr(overrides, "iexplore.exe=d"))
        << "run this test with WINEDLLOVERRIDES=iexplore.exe=d (its ctest entry sets it)";
}

class BrowserLaunch : public testing::Test {
protected:
    void SetUp() override {
        expectNoRealExplorer();
        fw::SetMessageDialogSeam([this](const std::string& text, fw::TMsgDlgType type) {
            messages.push_back(text);
            types.push_back(type);
        });
    }
    void TearDown() override { fw::SetMessageDialogSeam(nullptr); }

    // A real click (and double click) reaches the logo as mouse messages.
    static void click(HWND h) {
        SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    }
    static void doubleClick(HWND h) {
        click(h);
        SendMessageA(h, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(10, 10));
        SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    }

    std::vector<std::string> messages;
    std::vector<fw::TMsgDlgType> types;
};

TEST_F(BrowserLaunch, NetscapeAnsweringGetsBothItemsAndExplorerIsNeverAsked) {
    FakeBrowsers browsers({"NETSCAPE/WWW_Activate", "NETSCAPE/WWW_OpenURL", "IEXPLORE/WWW_Activate",
                           "IEXPLORE/WWW_OpenURL"});
    auto box = std::make_unique<TAboutBox>(nullptr);
    click(box->LogoImage->Handle());

    ASSERT_EQ(browsers.requests.size(), 2u);
    EXPECT_EQ(browsers.requests[0].topic, "WWW_Activate");
    EXPECT_EQ(browsers.requests[0].item, "0xffffffff,0x0");
    EXPECT_EQ(browsers.requests[1].topic, "WWW_OpenURL");
    EXPECT_EQ(browsers.requests[1].item, kOpenUrlItem);
    EXPECT_EQ(browsers.requests[1].format, static_cast<UINT>(CF_TEXT));
    ASSERT_EQ(browsers.attempts.size(), 2u);
    EXPECT_EQ(browsers.attempts[0].service, "NETSCAPE");
    EXPECT_EQ(browsers.attempts[0].codePage, CP_WINANSI);
    EXPECT_EQ(browsers.attemptsOn("IEXPLORE"), 0);
    EXPECT_TRUE(messages.empty());
    // Opening the second topic ended the first conversation; the page's
    // conversation stays open until the box goes.
    EXPECT_EQ(browsers.disconnects, 1);
    EXPECT_TRUE(box->BrowserDDE->Connected());
    EXPECT_EQ(box->BrowserDDE->DdeTopic(), "WWW_OpenURL");
    box.reset();
    // The server hears of it through a posted WM_DDE_TERMINATE.
    EXPECT_TRUE(testsupport::PumpUntil([&] { return browsers.disconnects == 2; }, 2000));
}

TEST_F(BrowserLaunch, NetscapeRefusingThePageShowsItsMessageThenTheGeneralOne) {
    FakeBrowsers browsers({"NETSCAPE/WWW_Activate", "IEXPLORE/WWW_Activate", "IEXPLORE/WWW_OpenURL"});
    auto box = std::make_unique<TAboutBox>(nullptr);
    click(box->LogoImage->Handle());

    EXPECT_EQ(messages, (std::vector<std::string>{kNetscapeError, kGeneralError}));
    EXPECT_EQ(types, (std::vector<fw::TMsgDlgType>{fw::TMsgDlgType::mtNone, fw::TMsgDlgType::mtNone}));
    ASSERT_EQ(browsers.requests.size(), 1u);
    EXPECT_EQ(browsers.requests[0].item, "0xffffffff,0x0");
    EXPECT_EQ(browsers.attemptsOn("IEXPLORE"), 0);
    EXPECT_FALSE(box->BrowserDDE->Connected());
}

TEST_F(BrowserLaunch, OnlyExplorerAnswering) {
    FakeBrowsers browsers({"IEXPLORE/WWW_Activate", "IEXPLORE/WWW_OpenURL"});
    auto box = std::make_unique<TAboutBox>(nullptr);
    click(box->LogoImage->Handle());

    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(browsers.requests.size(), 2u);
    EXPECT_EQ(browsers.requests[0].topic, "WWW_Activate");
    EXPECT_EQ(browsers.requests[0].item, "0xffffffff,0x0");
    EXPECT_EQ(browsers.requests[1].topic, "WWW_OpenURL");
    EXPECT_EQ(browsers.requests[1].item, kOpenUrlItem);
    EXPECT_GE(browsers.attemptsOn("NETSCAPE"), 1);
    EXPECT_EQ(box->BrowserDDE->ServiceApplication, "IEXPLORE.EXE");
}

TEST_F(BrowserLaunch, ExplorerRefusingThePageShowsItsMessageThenTheGeneralOne) {
    FakeBrowsers browsers({"IEXPLORE/WWW_Activate"});
    auto box = std::make_unique<TAboutBox>(nullptr);
    click(box->LogoImage->Handle());

    EXPECT_EQ(messages, (std::vector<std::string>{kExplorerError, kGeneralError}));
    ASSERT_EQ(browsers.requests.size(), 1u);
    EXPECT_EQ(browsers.requests[0].topic, "WWW_Activate");
}

TEST_F(BrowserLaunch, NobodyAnsweringShowsOnlyTheGeneralMessageQuickly) {
    FakeBrowsers browsers({});
    auto box = std::make_unique<TAboutBox>(nullptr);
    ULONGLONG start = GetTickCount64();
    click(box->LogoImage->Handle());

    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_EQ(messages, (std::vector<std::string>{kGeneralError}));
    EXPECT_TRUE(browsers.requests.empty());
    // Each service was asked (and, its program not starting, asked no more).
    EXPECT_GE(browsers.attemptsOn("NETSCAPE"), 1);
    EXPECT_GE(browsers.attemptsOn("IEXPLORE"), 1);
    for (const auto& a : browsers.attempts) EXPECT_EQ(a.topic, "WWW_Activate");
}

TEST_F(BrowserLaunch, ADoubleClickRunsTheSequenceTwice) {
    FakeBrowsers browsers({"NETSCAPE/WWW_Activate", "NETSCAPE/WWW_OpenURL"});
    auto box = std::make_unique<TAboutBox>(nullptr);
    doubleClick(box->LogoImage->Handle());
    ASSERT_EQ(browsers.requests.size(), 4u);
    EXPECT_EQ(browsers.requests[2].item, "0xffffffff,0x0");
    EXPECT_EQ(browsers.requests[3].item, kOpenUrlItem);
    EXPECT_TRUE(messages.empty());
}

// The conversation component itself.
TEST(DdeClientConv, RequestItemReturnsAZeroTerminatedCopyOfTheReply) {
    FakeBrowsers server({"NETSCAPE/WWW_Activate"}, "reply without NUL");
    fw::TDdeClientConv conv(nullptr);
    EXPECT_EQ(conv.RequestItem("anything"), "");  // no conversation: nothing is sent
    EXPECT_TRUE(server.requests.empty());

    ASSERT_TRUE(conv.OpenConversation("NETSCAPE", "WWW_Activate"));
    EXPECT_EQ(conv.DdeService(), "NETSCAPE");
    EXPECT_EQ(conv.DataFormat(), static_cast<UINT>(CF_TEXT));
    EXPECT_EQ(conv.RequestItem("item one"), "reply without NUL");
    ASSERT_EQ(server.requests.size(), 1u);
    EXPECT_EQ(server.requests[0].item, "item one");

    conv.CloseConversation();
    EXPECT_FALSE(conv.Connected());
    EXPECT_EQ(conv.DdeService(), "");
    EXPECT_TRUE(testsupport::PumpUntil([&] { return server.disconnects == 1; }, 2000));
    EXPECT_EQ(conv.RequestItem("after close"), "");
    EXPECT_EQ(server.requests.size(), 1u);
}

TEST(DdeClientConv, AFailedOpenForgetsServiceAndTopicAndClosesThePreviousConversation) {
    FakeBrowsers server({"NETSCAPE/WWW_Activate"});
    fw::TDdeClientConv conv(nullptr);
    ASSERT_TRUE(conv.OpenConversation("NETSCAPE", "WWW_Activate"));
    // A command that cannot start: no second program, one more attempt at most.
    conv.ServiceApplication = "Z:\\no\\such\\browser.exe";
    EXPECT_FALSE(conv.OpenConversation("NETSCAPE", "WWW_OpenURL"));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return server.disconnects == 1; }, 2000));
    EXPECT_FALSE(conv.Connected());
    EXPECT_EQ(conv.DdeService(), "");
    EXPECT_EQ(conv.DdeTopic(), "");
    EXPECT_EQ(server.attempts.size(), 2u);
}

}  // namespace
