#pragma once
// Signing a mailbox in with its provider (Microsoft, Google or one of the
// user's own) in the user's browser, with a small window that says what is
// awaited and offers Cancel.
#include <windows.h>

#include "app/settings.h"
#include "framework/forms.h"
#include "net/oauth2.h"

namespace app {

// The provider of a mailbox: built-in data for Microsoft/Google (ClientId
// override from the settings), or the settings' endpoints for Other (its
// Name "").
net::TOAuthProvider ProviderOf(const TMailboxSettings& box);

// How long a sign-in waits for the browser, and how it opens it: the
// default browser, ten minutes. Tests put a browser of their own here.
extern unsigned SignInTimeOutMs;
extern net::TBrowserLauncher SignInBrowser;

// The waiting window: what the user is to do in the browser, "Open Browser
// Again" and Cancel. `provider` is "" for one of the user's own.
class TSignInWindow : public fw::TForm {
public:
    TSignInWindow(fw::TComponent* owner, const std::string& provider, const std::string& mailbox);
    fw::TLabel* WaitLabel;
    fw::TButton* OpenAgainBtn;
    fw::TButton* CancelBtn;
    fw::TNotifyEvent OnCancel;
    fw::TNotifyEvent OnOpenAgain;
};

// The waiting window with Cancel over `owner`: opens the browser, waits for
// the redirect (time-out), exchanges the code; fills box.RefreshToken and
// box.Account and returns true; false when cancelled or failed (a failure
// is told in a box first).
bool SignInMailbox(HWND owner, TMailboxSettings& box);

}  // namespace app
