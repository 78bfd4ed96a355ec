#pragma once
// The controller form: never seen by the user, it owns the tray icon, the
// popup menu, the animation and the desktop switch, turns the user's actions
// on the icon into the program's commands, keeps one watcher per mailbox and
// shows what they report.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/mailbox_watcher.h"
#include "app/settings.h"
#include "desktop/tray_icon.h"
#include "framework/forms.h"
#include "framework/menus.h"
#include "framework/timer.h"
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
    fw::TMenuItem* CheckNowItem;
    fw::TMenuItem* MarkSeenItem;
    fw::TMenuItem* OpenMailItem;
    fw::TMenuItem* SetupItem;
    fw::TMenuItem* UpgradesItem;
    fw::TMenuItem* AboutItem;
    fw::TMenuItem* CloseItem;
    fw::TTimer* AnimationTimer;
    net::TAddressWatch* AddressWatch;
    // One per mailbox of Settings, in its order.
    std::vector<TMailboxWatcher*> Watchers;
    // Where the watchers' checks run (tests put a fake one here).
    std::function<std::unique_ptr<TCheckRunner>()> MakeRunner = MakeThreadCheckRunner;

    // Controller state.
    bool DesktopVisible = true;
    bool CheckingMail = false;
    bool FirstTick = true;
    // The settings in use; ApplySettings hands each mailbox's to its watcher.
    TSettings Settings;
    std::string StatusText;
    std::int32_t IconIndex = 1;
    // Messages announced since the user last looked: the icon's badge.
    std::size_t NewCount = 0;
    // The shell-5 tooltip's 128 characters, its zero included.
    static constexpr std::size_t kMaxToolTip = 127;

    // Makes, keeps or drops watchers so that there is one per mailbox of Settings.
    void ApplySettings();
    // The status text, then each mailbox's count (with one mailbox, as it
    // has always read), cut with "..." where it would not fit.
    std::string ToolTipText() const;

    void FormCreate(fw::TObject* Sender);
    void FormShow(fw::TObject* Sender);
    void FormClose(fw::TObject* Sender, fw::TCloseAction& Action);
    void CloseItemClick(fw::TObject* Sender);
    void TrayIconClick(fw::TObject* Sender);
    void DesktopIconsItemClick(fw::TObject* Sender);
    void CheckMailItemClick(fw::TObject* Sender);
    // Every mailbox that is switched on is checked at once.
    void CheckNowItemClick(fw::TObject* Sender);
    // The badge goes; so it does when the mail is opened.
    void MarkSeenItemClick(fw::TObject* Sender);
    // Each mailbox's webmail address, and the default mail program once for
    // those without one.
    void OpenMailItemClick(fw::TObject* Sender);
    // Greys what cannot be done now; runs before the menu shows.
    void UpdateMenu();
    void TrayIconMouseMove(fw::TObject* Sender);
    void AnimationTick(fw::TObject* Sender);
    // WM_POWERBROADCAST: PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND.
    void PowerBroadcast(WPARAM event);
    void AddressChanged(fw::TObject* Sender);
    bool HandleFormMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    // Runs the check that a tick put off while a modal window was open.
    void AfterModal() override;
    // What a second start of the program posts to every top-level window
    // (RegisterWindowMessageA): the running one opens its Setup.
    static UINT SecondStartMessage();
    // Opens the mail of the mailbox whose notice it is.
    void TrayIconBalloonClick(fw::TObject* Sender);

    // The generator's seed: the UTC time of day in milliseconds.
    static std::uint32_t TimeOfDaySeed(const SYSTEMTIME& utc);
    // From a fresh seed: the next icon number (1..13), then the next
    // interval of AnimationTimer (1..4999 ms).
    static void DrawNext(std::uint32_t seed, std::int32_t& iconIndex, unsigned& interval);

    // Commands whose dialogs come with the About box and the Setup dialog.
    void SetupItemClick(fw::TObject* Sender);
    void AboutItemClick(fw::TObject* Sender);
    void UpgradesItemClick(fw::TObject* Sender);
    void RemindThem();
    // The Yes/No question whether to trust a certificate the check refused
    // only for its root or its name; No is the default button.
    bool AskToTrustCertificate(const std::string& question);

protected:
    // The settings load when the form is shown, and the second one at the
    // first animation tick (which may fail and is then retried next tick,
    // until Setup has applied settings of the user's).
    void LoadSettingsOnShow();
    void LoadSettingsOnFirstTick();

private:
    // Every watcher hears the event.
    void tell(TWatchEvent event);
    void watcherChanged(TMailboxWatcher& watcher);
    void watcherFailed(TMailboxWatcher& watcher, std::exception_ptr failure);
    // Shows `frame` (an animation image) with the badge over it.
    void showFrame(const fw::TIcon& frame);
    void setNewCount(std::size_t count);
    // The image last shown, without its badge.
    fw::TIcon plainFrame_;
    // The web address of the mailbox whose notice came last.
    std::string noticeWebMail_;
    // A failing first-tick load is reported once; later ticks retry quietly.
    bool firstTickFailureReported_ = false;
    // "Close" was chosen: a second start opens no Setup any more.
    bool closing_ = false;
};

// The main form; the About box created last is `desktop::AboutBox` of desktop/about_box.h.
extern TTrayController* TrayController;

}  // namespace app
