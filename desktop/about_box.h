#pragma once
// The About box: the logo, the product's name and version, and a click on
// the logo that asks a running web browser over DDE to open the maker's home
// page. The one form serves as the start-up splash, as the About box and as
// the upgrade reminder; a timer closes it, and it frees itself once closed.
#include <string>

#include "framework/dde.h"
#include "framework/forms.h"
#include "framework/timer.h"

namespace desktop {

class TAboutBox : public fw::TForm {
public:
    explicit TAboutBox(fw::TComponent* owner);
    ~TAboutBox() override;

    fw::TPanel* LogoPanel;
    fw::TButton* OKButton;
    fw::TDdeClientConv* BrowserDDE;
    fw::TTimer* CloseTimer;
    fw::TImage* LogoImage;
    fw::TLabel* TaglineLabel;
    fw::TLabel* VersionLabel;
    fw::TLabel* LoadingLabel;

    void FormCreate(fw::TObject* Sender);
    void DisplayInBrowserClick(fw::TObject* Sender);
    void FormClose(fw::TObject* Sender, fw::TCloseAction& Action);
    void CloseTimerTick(fw::TObject* Sender);
    void FormShow(fw::TObject* Sender);
    // The design's places scaled to the DPI; each label as wide as its text.
    void LayoutControls() override;

    static constexpr const char* HomePage = "http://www.brindlewick.example/";
    static constexpr const char* LogoResource = "ABOUT_LOGO";

private:
    // One browser: activate its window, then open the home page, with
    // `failure` shown when only the second step fails. False when the
    // browser could not be reached at all.
    bool AskBrowser(const char* program, const char* activateService, const char* openService, const char* failure,
                    bool& success);
};

// The box created last: the splash first, then each one opened from the
// menu. A box clears it when it is destroyed, so it is either null or a box
// that still exists.
extern TAboutBox* AboutBox;

// The three uses. Each creates a new box, stores it in AboutBox, prepares it,
// shows it modally and returns the modal result; the box frees itself after
// it has closed (once pending messages are processed).
//
// Start-up splash: owned by the application, no button, "Loading, please
// wait...", closes itself after 3000 ms.
int ShowSplash();
// "&About": owned by `owner` (the controller form), with the OK button.
int ShowAboutBox(fw::TComponent* owner);
// "Check for &Upgrades": as the About box, with a prompt to click the logo.
int ShowUpgradeReminder(fw::TComponent* owner);
// Closes the box in AboutBox if it still exists and is shown.
void CloseAboutBox();

}  // namespace desktop
