#include "app/MainWin.h"

#include <cstdio>
#include <random>

#include "desktop/DesktopIcons.h"
#include "app/pollstatus.h"
#include "app/settings.h"
#include "app/setup.h"
#include "desktop/Unit1.h"
#include "framework/application.h"
#include "framework/graphics.h"
#include "framework/sysutils.h"
#include "framework/window.h"

TMainForm* MainForm = nullptr;

namespace {
fw::TFormDesc mainFormDesc() {
    fw::TFormDesc d;
    d.Caption = "Brindlewick Software - Tidemark";
    d.Left = 200;
    d.Top = 150;
    d.ClientWidth = 316;
    d.ClientHeight = 129;
    d.BorderStyle = fw::TBorderStyle::bsSingle;
    d.StayOnTop = true;
    d.MinimizeBox = true;
    return d;
}

HINSTANCE programModule() { return GetModuleHandleA(nullptr); }
}  // namespace

TMainForm::TMainForm(fw::TComponent* owner) : fw::TForm(owner, mainFormDesc()) {
    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->Name = "TrayIcon1";
    {
        // The form keeps the tray icon's first image as icon-file bytes.
        fw::TIcon image;
        image.LoadFromIconFile(fw::LoadResourceBytes(programModule(), "TRAYICON_IMAGE"));
        TrayIcon1->SetIcon(&image);
    }
    TrayIcon1->SetShowApp(false);
    TrayIcon1->OnClick = [this](fw::TObject* s) { TrayIcon1Click(s); };
    TrayIcon1->OnMouseMove = [this](fw::TObject* s) { TrayIcon1MouseMove(s); };

    PopupMenu1 = new fw::TPopupMenu(this);
    PopupMenu1->Name = "PopupMenu1";
    ShowDesktop1 = new fw::TMenuItem(PopupMenu1, "Hide Desktop &Icons", [this](fw::TObject* s) { ShowDesktop1Click(s); });
    Lookingforemail1 =
        new fw::TMenuItem(PopupMenu1, "Start Checking &email", [this](fw::TObject* s) { Lookingforemail1Click(s); });
    N1 = new fw::TMenuItem(PopupMenu1, "-");
    Setup1 = new fw::TMenuItem(PopupMenu1, "&Setup", [this](fw::TObject* s) { Setup1Click(s); });
    CheckforUpgrades1 =
        new fw::TMenuItem(PopupMenu1, "Check for &Upgrades", [this](fw::TObject* s) { CheckforUpgrades1Click(s); });
    About1 = new fw::TMenuItem(PopupMenu1, "&About", [this](fw::TObject* s) { About1Click(s); });
    N2 = new fw::TMenuItem(PopupMenu1, "-");
    Close1 = new fw::TMenuItem(PopupMenu1, "&Close", [this](fw::TObject* s) { Close1Click(s); });
    TrayIcon1->SetPopupMenu(PopupMenu1);

    emailTimer = new fw::TTimer(this);
    emailTimer->Name = "emailTimer";
    emailTimer->SetEnabled(false);
    emailTimer->SetInterval(60000);
    emailTimer->SetOnTimer([this](fw::TObject* s) { emailTimerTimer(s); });

    Timer1 = new fw::TTimer(this);
    Timer1->Name = "Timer1";
    Timer1->SetOnTimer([this](fw::TObject* s) { Timer1Timer(s); });

    pxRemotePOP1 = new mail::TpxRemotePOP(this);
    pxRemotePOP1->Name = "pxRemotePOP1";
    pxRemotePOP1->SetWinsockLoaded(true);
    pxRemotePOP1->DefaultPort = 110;
    pxRemotePOP1->SetMessageDirectory(".\\");
    pxRemotePOP1->OnError = [this](fw::TObject* s, std::string& msg) { pxRemotePOP1Error(s, msg); };

    OnCreate = [this](fw::TObject* s) { FormCreate(s); };
    OnShow = [this](fw::TObject* s) { FormShow(s); };
    OnClose = [this](fw::TObject* s, fw::TCloseAction& a) { FormClose(s, a); };

    // The after-load step runs once every component exists, then OnCreate.
    for (fw::TComponent* c : Components()) c->AfterLoad();
    DoCreate();
}

void TMainForm::FormCreate(fw::TObject* Sender) {
    // No caption bar, 27 pixels high, 5000 pixels left of the screen: when
    // Run makes the main form visible it is still never seen.
    LONG style = GetWindowLongA(Handle(), GWL_STYLE);
    SetWindowLongA(Handle(), GWL_STYLE, style & static_cast<LONG>(0xFF3FFFFF));
    SetLeft(-5000);
    SetHeight(27);
    ShowWindowAsync(Handle(), SW_HIDE);
    TrayIcon1->SetActive(true);
    DesktopVisible = true;
    CheckingMail = false;
    FirstTick = true;
    Timer1->SetEnabled(true);
}

void TMainForm::FormShow(fw::TObject* Sender) {
    LoadSettingsOnShow();
    // The splash's modal display ended before this form existed; a box that
    // has been freed since is never touched.
    CloseAboutBox();
}

void TMainForm::FormClose(fw::TObject* Sender, fw::TCloseAction& Action) {
    HideDesktopIcons(false);
    Action = fw::TCloseAction::caFree;
}

void TMainForm::Close1Click(fw::TObject* Sender) { Close(); }

void TMainForm::TrayIcon1Click(fw::TObject* Sender) {
    // The flag, not the window's real state, decides: it flips even when the
    // desktop window is not found.
    if (DesktopVisible) {
        HideDesktopIcons(true);
        StatusText = "Show Desktop Icons";
    } else {
        HideDesktopIcons(false);
        StatusText = "Hide Desktop Icons";
    }
    ShowDesktop1->SetCaption(StatusText);
    TrayIcon1->SetToolTip(StatusText);
    DesktopVisible = !DesktopVisible;
}

void TMainForm::ShowDesktop1Click(fw::TObject* Sender) { TrayIcon1Click(Sender); }

void TMainForm::Lookingforemail1Click(fw::TObject* Sender) {
    // The timer follows the switch rather than being flipped, so the caption
    // always tells whether checks will come. No check is made at once.
    CheckingMail = !CheckingMail;
    emailTimer->SetEnabled(CheckingMail);
    Lookingforemail1->SetCaption(CheckingMail ? "Stop Checking email" : "Start Checking email");
}

void TMainForm::TrayIcon1MouseMove(fw::TObject* Sender) {
    fw::Application->ProcessMessages();
    {
        fw::TIcon hover;
        hover.LoadFromResourceName(programModule(), "ICON_3");
        TrayIcon1->SetIcon(&hover);
    }
    fw::Application->ProcessMessages();
}

void TMainForm::Timer1Timer(fw::TObject* Sender) {
    fw::Application->ProcessMessages();
    {
        char name[32];
        std::snprintf(name, sizeof name, "ICON_%d", static_cast<int>(IconIndex));
        fw::TIcon frame;
        frame.LoadFromResourceName(programModule(), name);
        TrayIcon1->SetIcon(&frame);
    }
    fw::Application->ProcessMessages();

    SYSTEMTIME now;
    GetSystemTime(&now);
    unsigned nextInterval = 0;
    DrawNext(TimeOfDaySeed(now), IconIndex, nextInterval);

    if (FirstTick) {
        // The timer stays still while the reload runs: a failure's message box
        // runs its own loop, and ticks inside it would stack a second box on
        // the first. After a failure the reload is tried again at the next
        // tick, and the animation goes on meanwhile.
        const bool wasEnabled = Timer1->Enabled();
        Timer1->SetEnabled(false);
        try {
            LoadSettingsOnFirstTick();
        } catch (...) {
            // Reported once; the retries at later ticks stay quiet until one
            // succeeds (for example after the setting was corrected in Setup).
            if (!firstTickFailureReported_) {
                firstTickFailureReported_ = true;
                fw::HandleCallbackException();
            }
            Timer1->SetEnabled(wasEnabled);
            return;
        }
        Timer1->SetEnabled(wasEnabled);
        if (HideOnStart) TrayIcon1Click(this);
        FirstTick = false;
    }

    Timer1->SetInterval(nextInterval);
}

std::uint32_t TMainForm::TimeOfDaySeed(const SYSTEMTIME& utc) {
    return ((static_cast<std::uint32_t>(utc.wHour) * 60 + utc.wMinute) * 60 + utc.wSecond) * 1000 + utc.wMilliseconds;
}

void TMainForm::DrawNext(std::uint32_t seed, std::int32_t& iconIndex, unsigned& interval) {
    // Any uniform generator will do; it is seeded afresh at every tick.
    std::minstd_rand random(seed);
    iconIndex = std::uniform_int_distribution<std::int32_t>(1, 13)(random);
    // From 1 rather than 0: an interval of 0 stops a window-message timer for
    // good, and the animation must go on.
    interval = static_cast<unsigned>(std::uniform_int_distribution<int>(1, 4999)(random));
}

void TMainForm::LoadSettingsOnShow() {
    ::LoadSettingsOnShow({pxRemotePOP1->Server, pxRemotePOP1->UserName, pxRemotePOP1->Password, *emailTimer,
                          HideOnStart});
}

void TMainForm::LoadSettingsOnFirstTick() {
    ::LoadSettingsOnFirstTick({pxRemotePOP1->Server, pxRemotePOP1->UserName, pxRemotePOP1->Password, *emailTimer,
                               HideOnStart});
}

void TMainForm::emailTimerTimer(fw::TObject* Sender) {
    // A tick that arrives while a check waits on the network (the switch
    // was used twice meanwhile) must not start a second one on the same
    // connection.
    if (checkInProgress_) return;
    // Stopped first: the check dispatches messages while it waits, and no
    // second check may start meanwhile.
    emailTimer->SetEnabled(false);
    try {
        checkInProgress_ = true;
        pxRemotePOP1->UpdateInfo();
        checkInProgress_ = false;
    } catch (...) {
        checkInProgress_ = false;
        // The user reads the report, then finds checking switched off: the
        // menu never says "Stop Checking email" while no check will come.
        fw::HandleCallbackException();
        CheckingMail = false;
        Lookingforemail1->SetCaption("Start Checking email");
        return;
    }
    // The status text of this moment: a toggle during the check counts.
    TrayIcon1->SetToolTip(StatusText +
                          MessageCountSuffix(pxRemotePOP1->RemoteInfo.Count(), pxRemotePOP1->MessageCount));
    // The next check comes one interval from now, unless checking was
    // switched off during this one.
    emailTimer->SetEnabled(CheckingMail);
}

void TMainForm::pxRemotePOP1Error(fw::TObject* Sender, std::string& Msg) {
    // The exception that follows reaches the user; nothing to add here.
}

void TMainForm::Setup1Click(fw::TObject* Sender) {
    TSetupDlg& dlg = *SetupDlg;
    // Filled from memory, not from the registry, before every show.
    dlg.Edit1->SetText(pxRemotePOP1->Server);
    dlg.Edit2->SetText(pxRemotePOP1->UserName);
    dlg.Edit3->SetText(pxRemotePOP1->Password);
    dlg.Edit4->SetText(std::to_string(emailTimer->Interval() / 1000));
    dlg.HideCheckBox->SetChecked(HideOnStart);
    if (dlg.ShowModal() != fw::mrOk) return;
    pxRemotePOP1->Server = dlg.Edit1->Text();
    pxRemotePOP1->UserName = dlg.Edit2->Text();
    pxRemotePOP1->Password = dlg.Edit3->Text();
    // A text that does not convert stops here: nothing is stored.
    emailTimer->SetInterval(IntervalMsFromSeconds(fw::StrToInt(dlg.Edit4->Text())));
    HideOnStart = dlg.HideCheckBox->Checked();
    SaveSettings(dlg.Edit1->Text(), dlg.Edit2->Text(), dlg.Edit3->Text(), dlg.Edit4->Text(), HideOnStart);
}

void TMainForm::About1Click(fw::TObject* Sender) { ShowAboutBox(this); }

void TMainForm::CheckforUpgrades1Click(fw::TObject* Sender) { RemindThem(); }

void TMainForm::RemindThem() { ShowUpgradeReminder(this); }
