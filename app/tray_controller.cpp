#include "app/tray_controller.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

#include "desktop/desktop_icons.h"
#include "app/mail_count_text.h"
#include "app/retry_rules.h"
#include "app/settings.h"
#include "app/setup_dialog.h"
#include "app/start_at_logon.h"
#include "desktop/about_box.h"
#include "desktop/icon_badge.h"
#include "desktop/mail_program.h"
#include "desktop/new_mail_sound.h"
#include "framework/application.h"
#include "framework/graphics.h"
#include "framework/sysutils.h"
#include "framework/window.h"
#include "mail/failure_kind.h"
#include "net/socket_errors.h"

namespace app {

TTrayController* TrayController = nullptr;

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

// Texts of the program and of the system come in the ANSI code page.
std::u16string fromAnsi(const std::string& text) {
    std::u16string wide(text.size(), u'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      reinterpret_cast<LPWSTR>(wide.data()), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return wide;
}

}  // namespace

TTrayController::TTrayController(fw::TComponent* owner) : fw::TForm(owner, mainFormDesc()) {
    TrayIcon = new desktop::TTrayIcon(this);
    TrayIcon->Name = "TrayIcon";
    {
        // The form keeps the tray icon's first image as icon-file bytes.
        fw::TIcon image;
        image.LoadFromIconFile(fw::LoadResourceBytes(programModule(), "TRAYICON_IMAGE"), desktop::TrayIconSize());
        showFrame(image);
    }
    TrayIcon->SetShowApp(false);
    TrayIcon->OnClick = [this](fw::TObject* s) { TrayIconClick(s); };
    TrayIcon->OnMouseMove = [this](fw::TObject* s) { TrayIconMouseMove(s); };
    TrayIcon->OnBalloonClick = [this](fw::TObject* s) { TrayIconBalloonClick(s); };

    TrayMenu = new fw::TPopupMenu(this);
    TrayMenu->Name = "TrayMenu";
    DesktopIconsItem =
        new fw::TMenuItem(TrayMenu, "Hide Desktop &Icons", [this](fw::TObject* s) { DesktopIconsItemClick(s); });
    CheckMailItem =
        new fw::TMenuItem(TrayMenu, "Start Checking &email", [this](fw::TObject* s) { CheckMailItemClick(s); });
    CheckNowItem = new fw::TMenuItem(TrayMenu, "Check &Now", [this](fw::TObject* s) { CheckNowItemClick(s); });
    MarkSeenItem = new fw::TMenuItem(TrayMenu, "&Mark all as seen", [this](fw::TObject* s) { MarkSeenItemClick(s); });
    OpenMailItem = new fw::TMenuItem(TrayMenu, "&Open Mail", [this](fw::TObject* s) { OpenMailItemClick(s); });
    new fw::TMenuItem(TrayMenu, "-");
    SetupItem = new fw::TMenuItem(TrayMenu, "&Setup", [this](fw::TObject* s) { SetupItemClick(s); });
    UpgradesItem = new fw::TMenuItem(TrayMenu, "Check for &Upgrades", [this](fw::TObject* s) { UpgradesItemClick(s); });
    AboutItem = new fw::TMenuItem(TrayMenu, "&About", [this](fw::TObject* s) { AboutItemClick(s); });
    new fw::TMenuItem(TrayMenu, "-");
    CloseItem = new fw::TMenuItem(TrayMenu, "&Close", [this](fw::TObject* s) { CloseItemClick(s); });
    TrayIcon->SetPopupMenu(TrayMenu);
    TrayMenu->OnPopup = [this](fw::TObject*) { UpdateMenu(); };
    UpdateMenu();
    desktop::RegisterNewMailSound();

    AnimationTimer = new fw::TTimer(this);
    AnimationTimer->Name = "AnimationTimer";
    AnimationTimer->SetOnTimer([this](fw::TObject* s) { AnimationTick(s); });

    AddressWatch = new net::TAddressWatch(this);
    AddressWatch->Name = "AddressWatch";
    AddressWatch->OnChange = [this](fw::TObject* s) { AddressChanged(s); };

    OnCreate = [this](fw::TObject* s) { FormCreate(s); };
    OnShow = [this](fw::TObject* s) { FormShow(s); };
    OnClose = [this](fw::TObject* s, fw::TCloseAction& a) { FormClose(s, a); };

    // The after-load step runs once every component exists, then OnCreate.
    for (fw::TComponent* c : Components()) c->AfterLoad();
    DoCreate();
}

TTrayController::~TTrayController() {
    // The timers', the tray icon's and an open About box's handlers point
    // at this controller: they go while it is still whole, not after its
    // members, as the base class's destructor would have it.
    DestroyComponents();
    if (TrayController == this) TrayController = nullptr;
}

void TTrayController::FormCreate(fw::TObject* Sender) {
    // No caption bar, 27 pixels high, 5000 pixels left of the screen: when
    // Run makes the main form visible it is still never seen.
    fw::RemoveCaption(Handle());
    SetLeft(-5000);
    SetHeight(27);
    ShowWindowAsync(Handle(), SW_HIDE);
    TrayIcon->SetActive(true);
    DesktopVisible = true;
    CheckingMail = false;
    FirstTick = true;
    AnimationTimer->SetEnabled(true);
}

void TTrayController::FormShow(fw::TObject* Sender) {
    LoadSettingsOnShow();
    // The splash's modal display ended before this form existed; a box that
    // has been freed since is never touched.
    desktop::CloseAboutBox();
}

void TTrayController::FormClose(fw::TObject* Sender, fw::TCloseAction& Action) {
    desktop::HideDesktopIcons(false);
    closing_ = true;
    tell(TWatchEvent::Close);
    Action = fw::TCloseAction::caFree;
}

void TTrayController::CloseItemClick(fw::TObject* Sender) { Close(); }

void TTrayController::TrayIconClick(fw::TObject* Sender) {
    // The flag, not the window's real state, decides: it flips even when the
    // desktop window is not found.
    if (DesktopVisible) {
        desktop::HideDesktopIcons(true);
        StatusText = "Show Desktop Icons";
    } else {
        desktop::HideDesktopIcons(false);
        StatusText = "Hide Desktop Icons";
    }
    // The menu keeps its access key; the tooltip shows no ampersand.
    DesktopIconsItem->SetCaption(DesktopVisible ? "Show Desktop &Icons" : "Hide Desktop &Icons");
    TrayIcon->SetToolTip(ToolTipText());
    DesktopVisible = !DesktopVisible;
}

void TTrayController::DesktopIconsItemClick(fw::TObject* Sender) { TrayIconClick(Sender); }

void TTrayController::CheckMailItemClick(fw::TObject* Sender) {
    // The timer follows the switch rather than being flipped, so the caption
    // always tells whether checks will come. The first check comes at once:
    // a wrong setting shows now, not an interval later.
    CheckingMail = !CheckingMail;
    CheckMailItem->SetCaption(CheckingMail ? "Stop Checking &email" : "Start Checking &email");
    tell(CheckingMail ? TWatchEvent::SwitchOn : TWatchEvent::SwitchOff);
    if (CheckingMail) tell(TWatchEvent::Tick);
    UpdateMenu();
}

void TTrayController::CheckNowItemClick(fw::TObject* Sender) {
    // A tick starts a check in every state but Off and Checking.
    if (CheckingMail) tell(TWatchEvent::Tick);
    UpdateMenu();
}

void TTrayController::MarkSeenItemClick(fw::TObject* Sender) { setNewCount(0); }

void TTrayController::OpenMailItemClick(fw::TObject* Sender) {
    setNewCount(0);
    std::vector<std::string> opened;
    for (const TMailboxWatcher* w : Watchers) {
        const std::string& address = w->Settings().WebMail;
        if (std::find(opened.begin(), opened.end(), address) != opened.end()) continue;
        opened.push_back(address);
        desktop::OpenMail(address);
    }
    if (Watchers.empty()) desktop::OpenMail("");
}

void TTrayController::UpdateMenu() {
    bool checking = false;
    for (const TMailboxWatcher* w : Watchers) checking = checking || w->State() == TWatchState::Checking;
    CheckNowItem->SetEnabled(CheckingMail && !checking);
    MarkSeenItem->SetEnabled(NewCount > 0);
}

void TTrayController::setNewCount(std::size_t count) {
    NewCount = count;
    showFrame(plainFrame_);
    MarkSeenItem->SetEnabled(NewCount > 0);
}

void TTrayController::showFrame(const fw::TIcon& frame) {
    plainFrame_.Assign(frame);
    fw::TIcon shown;
    if (HICON badged =
            NewCount ? desktop::BadgedIcon(plainFrame_.Handle(), desktop::TrayIconSize(), NewCount) : nullptr)
        shown.SetHandle(badged, true);
    else
        shown.Assign(frame);
    TrayIcon->SetIcon(&shown);
}

void TTrayController::TrayIconMouseMove(fw::TObject* Sender) {
    fw::Application->ProcessMessages();
    {
        fw::TIcon hover;
        hover.LoadFromResourceName(programModule(), "ICON_3", desktop::TrayIconSize());
        showFrame(hover);
    }
    fw::Application->ProcessMessages();
}

void TTrayController::AnimationTick(fw::TObject* Sender) {
    fw::Application->ProcessMessages();
    {
        char name[32];
        std::snprintf(name, sizeof name, "ICON_%d", static_cast<int>(IconIndex));
        fw::TIcon frame;
        frame.LoadFromResourceName(programModule(), name, desktop::TrayIconSize());
        showFrame(frame);
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
        {
            const bool wasEnabled = AnimationTimer->Enabled();
            AnimationTimer->SetEnabled(false);
            const fw::ScopeExit restore([&] { AnimationTimer->SetEnabled(wasEnabled); });
            try {
                LoadSettingsOnFirstTick();
            } catch (...) {
                // Reported once; the retries at later ticks stay quiet until one
                // succeeds (for example after the setting was corrected in Setup).
                if (!firstTickFailureReported_) {
                    firstTickFailureReported_ = true;
                    fw::HandleCallbackException();
                }
                return;
            }
        }
        if (Settings.HideOnStart) TrayIconClick(this);
        FirstTick = false;
    }

    AnimationTimer->SetInterval(nextInterval);
}

std::uint32_t TTrayController::TimeOfDaySeed(const SYSTEMTIME& utc) {
    return ((static_cast<std::uint32_t>(utc.wHour) * 60 + utc.wMinute) * 60 + utc.wSecond) * 1000 + utc.wMilliseconds;
}

void TTrayController::DrawNext(std::uint32_t seed, std::int32_t& iconIndex, unsigned& interval) {
    // Any uniform generator will do; it is seeded afresh at every tick.
    std::minstd_rand random(seed);
    iconIndex = std::uniform_int_distribution<std::int32_t>(1, 13)(random);
    // From 1 rather than 0: an interval of 0 stops a window-message timer for
    // good, and the animation must go on.
    interval = static_cast<unsigned>(std::uniform_int_distribution<int>(1, 4999)(random));
}

void TTrayController::LoadSettingsOnShow() {
    // What a failure left read is applied before it is reported.
    try {
        MoveSingleMailbox();
        LoadSettings(Settings, TLoadMoment::OnShow);
    } catch (...) {
        ApplySettings();
        throw;
    }
    ApplySettings();
}

void TTrayController::LoadSettingsOnFirstTick() {
    try {
        LoadSettings(Settings, TLoadMoment::OnFirstTick);
    } catch (...) {
        ApplySettings();
        throw;
    }
    ApplySettings();
}

void TTrayController::ApplySettings() {
    // A mailbox keeps its watcher (its schedule, count and failures) by its
    // key, wherever it moved in the list; one not stored yet keeps the
    // watcher at its place.
    std::vector<TMailboxWatcher*> kept(Settings.Mailboxes.size(), nullptr);
    std::vector<bool> claimed(Watchers.size(), false);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int slot = Settings.Mailboxes[i].Slot;
        for (std::size_t j = 0; j < Watchers.size() && !kept[i]; ++j) {
            const int had = Watchers[j]->Settings().Slot;
            if (!claimed[j] && (slot ? had == slot : had == 0 && j == i)) {
                kept[i] = Watchers[j];
                claimed[j] = true;
            }
        }
    }
    for (std::size_t j = 0; j < Watchers.size(); ++j)
        if (!claimed[j]) delete Watchers[j];
    for (TMailboxWatcher*& watcher : kept) {
        if (watcher) continue;
        watcher = new TMailboxWatcher(this, MakeRunner(), *TrayIcon);
        watcher->Runner().OnAsk = [this](const std::string& question) { return AskToTrustCertificate(question); };
        watcher->OnStatus = [this](TMailboxWatcher& w) { watcherChanged(w); };
        watcher->OnFailure = [this](TMailboxWatcher& w, std::exception_ptr failure) { watcherFailed(w, failure); };
        watcher->OnWarning = [this](TMailboxWatcher& w, const std::string& text) {
            const std::string title = Watchers.size() > 1 ? "Tidemark: " + w.Settings().Title() : "Tidemark";
            TrayIcon->ShowBalloon(fromAnsi(title), fromAnsi(text), NIIF_WARNING);
        };
        watcher->OnRefreshToken = [this](TMailboxWatcher& w) {
            for (TMailboxSettings& m : Settings.Mailboxes)
                if (m.Slot == w.Settings().Slot) m.RefreshToken = w.Settings().RefreshToken;
            SaveRefreshToken(w.Settings().Slot, w.Settings().RefreshToken);
        };
        watcher->OnNewMail = [this](TMailboxWatcher& w, std::size_t count) {
            noticeWebMail_ = w.Settings().WebMail;
            setNewCount(NewCount + count);
        };
        if (CheckingMail) watcher->Handle(TWatchEvent::SwitchOn);
    }
    Watchers = kept;
    for (std::size_t i = 0; i < Watchers.size(); ++i) {
        Watchers[i]->SetSettings(Settings.Mailboxes[i]);
        Watchers[i]->Announcer.Sound = Settings.PlaySound;
        // With several mailboxes a notice says whose mail it is.
        Watchers[i]->Announcer.MailboxName = Watchers.size() > 1 ? fromAnsi(Settings.Mailboxes[i].Title()) : u"";
    }
    TrayIcon->SetToolTip(ToolTipText());
}

std::string TTrayController::ToolTipText() const {
    auto count = [](const TMailboxWatcher& w, const std::string& status) {
        return w.Counted() ? MessageCountToolTip(status, w.InfoCount(), w.MessageCount()) : status;
    };
    if (Watchers.size() == 1) {
        const TMailboxWatcher& w = *Watchers[0];
        return w.RetryText().empty() ? count(w, StatusText) : w.RetryText();
    }
    std::string tip = StatusText;
    for (const TMailboxWatcher* w : Watchers) {
        if (!tip.empty()) tip += "\n";
        tip += w->RetryText().empty() ? count(*w, w->Settings().Title()) : w->Settings().Title() + " (retrying)";
    }
    if (tip.size() > kMaxToolTip) tip = tip.substr(0, kMaxToolTip - 3) + "...";
    return tip;
}

void TTrayController::tell(TWatchEvent event) {
    // A copy: a handler may show a box whose loop changes the list.
    const std::vector<TMailboxWatcher*> watchers = Watchers;
    for (TMailboxWatcher* w : watchers) w->Handle(event);
}

void TTrayController::watcherChanged(TMailboxWatcher&) {
    TrayIcon->SetToolTip(ToolTipText());
    UpdateMenu();
    // "Start" again once no mailbox is watched any more (a failure that
    // needs the user turns its mailbox off).
    if (CheckingMail && !Watchers.empty()) {
        bool any = false;
        for (const TMailboxWatcher* w : Watchers) any = any || w->On();
        if (!any) {
            CheckingMail = false;
            CheckMailItem->SetCaption("Start Checking &email");
        }
    }
}

void TTrayController::watcherFailed(TMailboxWatcher& watcher, std::exception_ptr failure) {
    // No to the trust question: its box already said why.
    const mail::TFailureFacts facts = mail::FactsOfFailure(failure);
    if (facts.Source == mail::TFailureFacts::Socket && facts.Code == net::sCertDeclined) return;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        // With several mailboxes the box says which one failed.
        if (Watchers.size() > 1)
            fw::Application->HandleException(fw::Exception(watcher.Settings().Title() + ": " + e.what()));
        else
            fw::HandleCallbackException();
    } catch (...) {
        fw::HandleCallbackException();
    }
}

UINT TTrayController::SecondStartMessage() {
    static const UINT msg = RegisterWindowMessageA("Brindlewick.Tidemark.SecondStart");
    return msg;
}

bool TTrayController::HandleFormMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
    if (msg == SecondStartMessage()) {
        // Started again by a user who looked for it: Setup is what there is to show.
        if (!closing_) SetupItemClick(this);
        result = 0;
        return true;
    }
    if (msg != WM_POWERBROADCAST) return false;
    PowerBroadcast(wp);
    result = TRUE;
    return true;
}

void TTrayController::PowerBroadcast(WPARAM event) {
    switch (event) {
        case PBT_APMSUSPEND: tell(TWatchEvent::Suspend); break;
        case PBT_APMRESUMEAUTOMATIC:
        case PBT_APMRESUMESUSPEND: tell(TWatchEvent::Resume); break;
        default: break;
    }
}

void TTrayController::AddressChanged(fw::TObject* Sender) { tell(TWatchEvent::AddressChanged); }

void TTrayController::AfterModal() { tell(TWatchEvent::ModalClosed); }

void TTrayController::SetupItemClick(fw::TObject* Sender) {
    TSetupDialog& dlg = *SetupDialog;
    // Chosen again while the dialog is open (it easily ends up behind other
    // windows): refilling it would lose what the user typed.
    if (dlg.Visible() || dlg.Modal()) {
        dlg.BringToFront();
        return;
    }
    // Filled from memory, not from the registry, before every show.
    dlg.SetMailboxes(Settings.Mailboxes);
    dlg.HideCheckBox->SetChecked(Settings.HideOnStart);
    dlg.PlaySoundCheckBox->SetChecked(Settings.PlaySound);
    // The logon entry lives in the Run key, where the installer and the user
    // may change it too: read afresh for every show.
    dlg.StartAtLogonCheckBox->SetChecked(StartsAtLogon());
    if (dlg.ShowModal() != fw::mrOk) return;
    // The settings in memory are the user's from here on: a first-tick load
    // still being retried after a failure would overwrite them, and undo an
    // OK whose save failed.
    FirstTick = false;
    Settings.Mailboxes = dlg.Mailboxes;
    Settings.HideOnStart = dlg.HideCheckBox->Checked();
    Settings.PlaySound = dlg.PlaySoundCheckBox->Checked();
    // Saved first: a new mailbox gets its key there, and its watcher then
    // keeps its certificates in it. What was chosen is in use even when
    // the save fails.
    try {
        SaveSettings(Settings);
    } catch (...) {
        ApplySettings();
        throw;
    }
    ApplySettings();
    SetStartAtLogon(dlg.StartAtLogonCheckBox->Checked());
}

void TTrayController::TrayIconBalloonClick(fw::TObject* Sender) {
    setNewCount(0);
    desktop::OpenMail(noticeWebMail_);
}

void TTrayController::AboutItemClick(fw::TObject* Sender) { desktop::ShowAboutBox(this); }

void TTrayController::UpgradesItemClick(fw::TObject* Sender) { RemindThem(); }

void TTrayController::RemindThem() { desktop::ShowUpgradeReminder(this); }

bool TTrayController::AskToTrustCertificate(const std::string& question) {
    return MessageBoxA(nullptr, question.c_str(), fw::Application ? fw::Application->Title.c_str() : "Tidemark",
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL | MB_SETFOREGROUND) == IDYES;
}

}  // namespace app
