#pragma once
// The controller form: never seen by the user, it owns the tray icon, the
// popup menu and the timers, and turns the user's actions on the icon into
// the program's commands.
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/new_mail_notice.h"
#include "desktop/tray_icon.h"
#include "framework/forms.h"
#include "framework/menus.h"
#include "framework/timer.h"
#include "mail/failure_kind.h"
#include "mail/pop3_session.h"
#include "net/address_watch.h"

namespace app {

class TTrayController : public fw::TForm {
public:
    explicit TTrayController(fw::TComponent* owner);
    ~TTrayController() override;

    // Components, in the order the form creates them.
    desktop::TTrayIcon* TrayIcon;
    fw::TPopupMenu* TrayMenu;
    fw::TMenuItem* DesktopIconsItem;
    fw::TMenuItem* CheckMailItem;
    fw::TMenuItem* SetupItem;
    fw::TMenuItem* UpgradesItem;
    fw::TMenuItem* AboutItem;
    fw::TMenuItem* CloseItem;
    fw::TTimer* PollTimer;
    // The next try after a failure that passes by itself, after a wake-up
    // or after the network came back; PollTimer is stopped meanwhile.
    fw::TTimer* RetryTimer;
    fw::TTimer* AnimationTimer;
    mail::TPop3Mailbox* Mailbox;
    net::TAddressWatch* AddressWatch;

    // Controller state.
    bool DesktopVisible = true;
    bool CheckingMail = false;
    bool FirstTick = true;
    bool HideOnStart = false;
    std::string StatusText;
    std::int32_t IconIndex = 1;
    // Tells of new mail after each check, and remembers what was seen.
    TNewMailAnnouncer Announcer;
    // Failures that pass by themselves are retried quietly; after this long
    // one balloon tells the user since when.
    std::uint64_t BalloonAfterMs = 60 * 60 * 1000;
    // Such failures in a row; 0 after a good check.
    int PassingFailures() const { return passingFailures_; }

    void FormCreate(fw::TObject* Sender);
    void FormShow(fw::TObject* Sender);
    void FormClose(fw::TObject* Sender, fw::TCloseAction& Action);
    void CloseItemClick(fw::TObject* Sender);
    void TrayIconClick(fw::TObject* Sender);
    void DesktopIconsItemClick(fw::TObject* Sender);
    void CheckMailItemClick(fw::TObject* Sender);
    void TrayIconMouseMove(fw::TObject* Sender);
    void AnimationTick(fw::TObject* Sender);
    void PollTick(fw::TObject* Sender);
    // WM_POWERBROADCAST: PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND.
    void PowerBroadcast(WPARAM event);
    void AddressChanged(fw::TObject* Sender);
    bool HandleFormMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    // Runs the check that a tick put off while a modal window was open.
    void AfterModal() override;
    // What a second start of the program posts to every top-level window
    // (RegisterWindowMessageA): the running one opens its Setup.
    static UINT SecondStartMessage();
    // Starts the default mail program when the user clicks the notice.
    void TrayIconBalloonClick(fw::TObject* Sender);

    // The generator's seed: the UTC time of day in milliseconds.
    static std::uint32_t TimeOfDaySeed(const SYSTEMTIME& utc);
    // From a fresh seed: the next icon number (1..13), then the next
    // interval of AnimationTimer (1..4999 ms).
    static void DrawNext(std::uint32_t seed, std::int32_t& iconIndex, unsigned& interval);

    // Commands whose dialogs come with the About box and the Setup dialog.
    virtual void SetupItemClick(fw::TObject* Sender);
    virtual void AboutItemClick(fw::TObject* Sender);
    virtual void UpgradesItemClick(fw::TObject* Sender);
    virtual void RemindThem();
    // The Yes/No question whether to trust a certificate the check refused
    // only for its root or its name; No is the default button.
    virtual bool AskToTrustCertificate(const std::string& question);

protected:
    // The settings load when the form is shown, and the second one at the
    // first animation tick (which may fail and is then retried next tick,
    // until Setup has applied settings of the user's).
    virtual void LoadSettingsOnShow();
    virtual void LoadSettingsOnFirstTick();

private:
    // Both timers stopped: no check comes until one is started again.
    void stopChecks();
    // The next check `ms` from now, by RetryTimer.
    void retryIn(unsigned ms);
    void keepTrying(const mail::TFailureFacts& facts, const std::string& reason);
    // Forgets the failures in a row; a "retrying" tooltip goes with them.
    void endRetries();

    int passingFailures_ = 0;
    // GetTickCount64 and the local time of day of the first of them.
    std::uint64_t failingSince_ = 0;
    std::string failingSinceText_;
    bool balloonShown_ = false;
    // The last wake-up (GetTickCount64), 0 before any.
    std::uint64_t resumedAt_ = 0;
    // Between PBT_APMSUSPEND and the wake-up: a check cancelled then is no failure.
    bool suspended_ = false;
    // The server setting of the last good check: its name exists.
    std::string knownServer_;
    // A failing first-tick load is reported once; later ticks retry quietly.
    bool firstTickFailureReported_ = false;
    bool checkInProgress_ = false;
    // A tick came while a modal window of the program was open.
    bool pollDeferred_ = false;
    // "Close" was chosen: a check cancelled by it is no failure to report.
    bool closing_ = false;
    // A seen-id list that cannot be stored is reported once per run.
    bool storeFailureReported_ = false;
    // Its reason, until a notice can tell it.
    std::string storeFailure_;
};

// The main form; the About box created last is `desktop::AboutBox` of desktop/about_box.h.
extern TTrayController* TrayController;

}  // namespace app
