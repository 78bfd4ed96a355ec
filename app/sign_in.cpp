#include "app/sign_in.h"

#include "framework/dialogs.h"
#include "net/socket_errors.h"

namespace app {

using namespace fw;

unsigned SignInTimeOutMs = 10 * 60 * 1000;
net::TBrowserLauncher SignInBrowser = net::OpenInDefaultBrowser;

namespace {
constexpr int kTokenTimeOutSeconds = 30;
}

net::TOAuthProvider ProviderOf(const TMailboxSettings& box) {
    net::TOAuthProvider provider;
    switch (box.SignIn) {
        case TSignIn::Microsoft: provider = net::BuiltInProvider("microsoft"); break;
        case TSignIn::Google: provider = net::BuiltInProvider("google"); break;
        case TSignIn::Other:
        case TSignIn::Password:
            provider.AuthorizationUrl = box.AuthorizationUrl;
            provider.TokenUrl = box.TokenUrl;
            provider.Scope = box.Scope;
            break;
    }
    // The built-in secret belongs to the built-in id; an id of the user's
    // own is registered as a public client.
    if (!box.ClientId.empty() && box.ClientId != provider.ClientId) {
        provider.ClientId = box.ClientId;
        provider.ClientSecret.clear();
    }
    return provider;
}

TSignInWindow::TSignInWindow(TComponent* owner, const std::string& provider, const std::string& mailbox)
    : TForm(owner, TFormDesc{provider.empty() ? "Sign in" : "Sign in with " + provider, 0, 0, 340, 96,
                             TBorderStyle::bsDialog, TPosition::poScreenCenter}) {
    WaitLabel =
        new TLabel(this, nullptr,
                   "Sign in to " + mailbox + " in the browser window that has opened. Tidemark is waiting for " +
                       (provider.empty() ? "the provider" : provider) + "'s answer.",
                   12, 12, 316, 40);
    OpenAgainBtn = new TButton(this, nullptr, "Open Browser Again", 104, 62, 130, 24);
    CancelBtn = new TButton(this, nullptr, "Cancel", 244, 62, 84, 24);
    CancelBtn->Cancel = true;
    CancelBtn->TabOrder = 0;
    OpenAgainBtn->TabOrder = 1;
    ActiveControl = CancelBtn;
    CancelBtn->OnClick = [this](TObject*) {
        if (OnCancel) OnCancel(this);
    };
    OpenAgainBtn->OnClick = [this](TObject*) {
        if (OnOpenAgain) OnOpenAgain(this);
    };
    // The title bar's close box is a Cancel too.
    OnClose = [this](TObject*, TCloseAction& action) {
        action = TCloseAction::caNone;
        if (OnCancel) OnCancel(this);
    };
    DoCreate();
}

bool SignInMailbox(HWND owner, TMailboxSettings& box) {
    const net::TOAuthProvider provider = ProviderOf(box);
    net::TBrowserSignIn signIn(provider, box.UserName);
    TSignInWindow window(nullptr, provider.Name, box.Title().empty() ? "your mailbox" : box.Title());
    window.OnCancel = [&](TObject*) { signIn.Cancel(); };
    window.OnOpenAgain = [&](TObject*) { signIn.OpenAgain(); };
    if (owner) SetWindowLongPtrA(window.Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    // Setup stays put while the browser has the user: one sign-in at a time.
    const bool ownerEnabled = owner && IsWindowEnabled(owner);
    if (ownerEnabled) EnableWindow(owner, FALSE);
    const ScopeExit restore([&] {
        if (ownerEnabled) EnableWindow(owner, TRUE);
    });
    window.Show();
    try {
        const net::TOAuthTokens tokens = signIn.Run(SignInBrowser, SignInTimeOutMs, kTokenTimeOutSeconds);
        // Without a refresh token the mailbox could be checked for an hour
        // and then ask again: no use for a program that checks for months.
        if (tokens.RefreshToken.empty())
            throw net::ESocketError(FormatStr(net::CatalogueText(net::sSignInRefused), "it gave no refresh token"),
                                    net::sSignInRefused);
        box.RefreshToken = tokens.RefreshToken;
        box.Account = tokens.Account.empty() ? box.UserName : tokens.Account;
        return true;
    } catch (const net::ECanceledError&) {
        return false;
    } catch (const Exception& e) {
        window.Hide();
        MessageDlg(e.Message, TMsgDlgType::mtError);
        return false;
    }
}

}  // namespace app
