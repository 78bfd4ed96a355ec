#pragma once
// The controller form: never seen by the user, it owns the tray icon, the
// popup menu and the timers, and turns the user's actions on the icon into
// the program's commands.
#include <windows.h>

#include <cstdint>
#include <string>

#include "desktop/Trayicon.h"
#include "framework/forms.h"
#include "framework/menus.h"
#include "framework/timer.h"
#include "mail/pxpop3.h"

class TMainForm : public fw::TForm {
public:
    explicit TMainForm(fw::TComponent* owner);

    // Components, in the order the form creates them.
    TTrayIcon* TrayIcon1;
    fw::TPopupMenu* PopupMenu1;
    fw::TMenuItem* ShowDesktop1;
    fw::TMenuItem* Lookingforemail1;
    fw::TMenuItem* N1;
    fw::TMenuItem* Setup1;
    fw::TMenuItem* CheckforUpgrades1;
    fw::TMenuItem* About1;
    fw::TMenuItem* N2;
    fw::TMenuItem* Close1;
    fw::TTimer* emailTimer;
    fw::TTimer* Timer1;
    mail::TpxRemotePOP* pxRemotePOP1;

    // Controller state.
    bool DesktopVisible = true;
    bool CheckingMail = false;
    bool FirstTick = true;
    bool HideOnStart = false;
    std::string StatusText;
    std::int32_t IconIndex = 1;

    void FormCreate(fw::TObject* Sender);
    void FormShow(fw::TObject* Sender);
    void FormClose(fw::TObject* Sender, fw::TCloseAction& Action);
    void Close1Click(fw::TObject* Sender);
    void TrayIcon1Click(fw::TObject* Sender);
    void ShowDesktop1Click(fw::TObject* Sender);
    void Lookingforemail1Click(fw::TObject* Sender);
    void TrayIcon1MouseMove(fw::TObject* Sender);
    void Timer1Timer(fw::TObject* Sender);
    void emailTimerTimer(fw::TObject* Sender);
    void pxRemotePOP1Error(fw::TObject* Sender, std::string& Msg);

    // The generator's seed: the UTC time of day in milliseconds.
    static std::uint32_t TimeOfDaySeed(const SYSTEMTIME& utc);
    // From a fresh seed: the next icon number (1..13), then the next
    // interval of Timer1 (1..4999 ms).
    static void DrawNext(std::uint32_t seed, std::int32_t& iconIndex, unsigned& interval);

    // Commands whose dialogs come with the About box and the Setup dialog.
    virtual void Setup1Click(fw::TObject* Sender);
    virtual void About1Click(fw::TObject* Sender);
    virtual void CheckforUpgrades1Click(fw::TObject* Sender);
    virtual void RemindThem();

protected:
    // The settings load when the form is shown, and the second one at the
    // first animation tick (which may fail and is then retried next tick).
    virtual void LoadSettingsOnShow();
    virtual void LoadSettingsOnFirstTick();

private:
    // A failing first-tick load is reported once; later ticks retry quietly.
    bool firstTickFailureReported_ = false;
    bool checkInProgress_ = false;
};

// The main form; the About box created last is `AboutBox` of desktop/Unit1.h.
extern TMainForm* MainForm;
