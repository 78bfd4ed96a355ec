#include "app/tray_controller.h"

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
#include "desktop/mail_program.h"
#include "framework/application.h"
#include "framework/graphics.h"
#include "framework/sysutils.h"
#include "framework/window.h"

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

// After a wake-up the network needs a few seconds; a check comes within ten.
constexpr unsigned kCheckAfterWakeMs = 5000;
// Armed at PBT_APMSUSPEND in case no wake-up notice comes: timers count on
// after waking, so this tick stands in for it.
constexpr unsigned kWakeFallbackMs = 10000;
// Failures this soon after a wake-up are retried quickly (RetryDelayMs).
constexpr std::uint64_t kQuickRetriesAfterWakeMs = 2 * 60 * 1000;
// Addresses change in bursts as an adapter comes up: one check after them.
constexpr unsigned kCheckAfterAddressChangeMs = 1000;

std::string currentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "";
    }
}
}  // namespace

TTrayController::TTrayController(fw::TComponent* owner) : fw::TForm(owner, mainFormDesc()) {
    TrayIcon = new desktop::TTrayIcon(this);
    TrayIcon->Name = "TrayIcon";
    {
        // The form keeps the tray icon's first image as icon-file bytes.
        fw::TIcon image;
        image.LoadFromIconFile(fw::LoadResourceBytes(programModule(), "TRAYICON_IMAGE"), desktop::TrayIconSize());
        TrayIcon->SetIcon(&image);
    }
    TrayIcon->SetShowApp(false);
    TrayIcon->OnClick = [this](fw::TObject* s) { TrayIconClick(s); };
    TrayIcon->OnMouseMove = [this](fw::TObject* s) { TrayIconMouseMove(s); };
    TrayIcon->OnBalloonClick = [this](fw::TObject* s) { TrayIconBalloonClick(s); };

    TrayMenu = new fw::TPopupMenu(this);
    TrayMenu->Name = "TrayMenu";
    DesktopIconsItem = new fw::TMenuItem(TrayMenu, "Hide Desktop &Icons", [this](fw::TObject* s) { DesktopIconsItemClick(s); });
    CheckMailItem =
        new fw::TMenuItem(TrayMenu, "Start Checking &email", [this](fw::TObject* s) { CheckMailItemClick(s); });
    new fw::TMenuItem(TrayMenu, "-");
    SetupItem = new fw::TMenuItem(TrayMenu, "&Setup", [this](fw::TObject* s) { SetupItemClick(s); });
    UpgradesItem =
        new fw::TMenuItem(TrayMenu, "Check for &Upgrades", [this](fw::TObject* s) { UpgradesItemClick(s); });
    AboutItem = new fw::TMenuItem(TrayMenu, "&About", [this](fw::TObject* s) { AboutItemClick(s); });
    new fw::TMenuItem(TrayMenu, "-");
    CloseItem = new fw::TMenuItem(TrayMenu, "&Close", [this](fw::TObject* s) { CloseItemClick(s); });
    TrayIcon->SetPopupMenu(TrayMenu);

    PollTimer = new fw::TTimer(this);
    PollTimer->Name = "PollTimer";
    PollTimer->SetEnabled(false);
    PollTimer->SetInterval(60000);
    PollTimer->SetOnTimer([this](fw::TObject* s) { PollTick(s); });

    RetryTimer = new fw::TTimer(this);
    RetryTimer->Name = "RetryTimer";
    RetryTimer->SetEnabled(false);
    RetryTimer->SetOnTimer([this](fw::TObject* s) { PollTick(s); });

    AnimationTimer = new fw::TTimer(this);
    AnimationTimer->Name = "AnimationTimer";
    AnimationTimer->SetOnTimer([this](fw::TObject* s) { AnimationTick(s); });

    Mailbox = new mail::TPop3Mailbox(this);
    Mailbox->Name = "Mailbox";
    Mailbox->SetWinsockLoaded(true);
    Mailbox->DefaultPort = 110;
    Mailbox->SetMessageDirectory(".\\");
    // Asked in the middle of a check: the poll timer is stopped until the
    // check ends, so no other check starts while the question is open.
    Mailbox->OnUntrustedCertificate = [this](fw::TObject*, const net::TCertificateVerdict& verdict) {
        return AcceptCertificate(Mailbox->Server, verdict,
                                 [this](const std::string& question) { return AskToTrustCertificate(question); });
    };
    // Repeat checks read only new messages, and new ones can be announced.
    Mailbox->UseUniqueIds = true;

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
    pollDeferred_ = false;
    stopChecks();
    // A check waits on the network in a nested loop, up to its time-out per
    // wait: the program could not end before it returns.
    if (checkInProgress_) Mailbox->Cancel();
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
    TrayIcon->SetToolTip(StatusText);
    DesktopVisible = !DesktopVisible;
}

void TTrayController::DesktopIconsItemClick(fw::TObject* Sender) { TrayIconClick(Sender); }

void TTrayController::CheckMailItemClick(fw::TObject* Sender) {
    // The timer follows the switch rather than being flipped, so the caption
    // always tells whether checks will come. No check is made at once.
    CheckingMail = !CheckingMail;
    RetryTimer->SetEnabled(false);
    PollTimer->SetEnabled(CheckingMail);
    pollDeferred_ = false;
    endRetries();
    CheckMailItem->SetCaption(CheckingMail ? "Stop Checking &email" : "Start Checking &email");
}

void TTrayController::TrayIconMouseMove(fw::TObject* Sender) {
    fw::Application->ProcessMessages();
    {
        fw::TIcon hover;
        hover.LoadFromResourceName(programModule(), "ICON_3", desktop::TrayIconSize());
        TrayIcon->SetIcon(&hover);
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
        TrayIcon->SetIcon(&frame);
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
        const bool wasEnabled = AnimationTimer->Enabled();
        AnimationTimer->SetEnabled(false);
        try {
            LoadSettingsOnFirstTick();
        } catch (...) {
            // Reported once; the retries at later ticks stay quiet until one
            // succeeds (for example after the setting was corrected in Setup).
            if (!firstTickFailureReported_) {
                firstTickFailureReported_ = true;
                fw::HandleCallbackException();
            }
            AnimationTimer->SetEnabled(wasEnabled);
            return;
        }
        AnimationTimer->SetEnabled(wasEnabled);
        if (HideOnStart) TrayIconClick(this);
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
    app::LoadSettingsOnShow({Mailbox->Server, Mailbox->UserName, Mailbox->Password, *PollTimer, HideOnStart,
                             Mailbox->Security});
    Announcer.Announce = LoadAnnounceSetting();
}

void TTrayController::LoadSettingsOnFirstTick() {
    app::LoadSettingsOnFirstTick({Mailbox->Server, Mailbox->UserName, Mailbox->Password, *PollTimer, HideOnStart,
                                  Mailbox->Security});
    Announcer.Announce = LoadAnnounceSetting();
}

void TTrayController::PollTick(fw::TObject* Sender) {
    // A tick that arrives while a check waits on the network (the switch
    // was used twice meanwhile) must not start a second one on the same
    // connection.
    if (checkInProgress_ || closing_) return;
    // A check inside a modal loop of our own (Setup, About, a report) would
    // hold that window's OK and Cancel until it returns: it waits, with the
    // timers stopped as during a check, until the last one has closed.
    if (fw::Application && fw::Application->ModalCount() > 0) {
        stopChecks();
        pollDeferred_ = true;
        return;
    }
    pollDeferred_ = false;
    // Still "asleep" at a tick: the wake-up notice never came, and this tick
    // (armed at the suspend) stands in for it.
    if (suspended_) {
        suspended_ = false;
        resumedAt_ = GetTickCount64();
    }
    // Stopped first: the check dispatches messages while it waits, and no
    // second check may start meanwhile.
    stopChecks();
    try {
        checkInProgress_ = true;
        Mailbox->UpdateInfo();
        checkInProgress_ = false;
    } catch (...) {
        checkInProgress_ = false;
        // A check cancelled by "Close" ends the program without a word; one
        // cancelled by the machine going to sleep comes again after it.
        if (closing_ || suspended_) return;
        mail::TFailureFacts facts = mail::FactsOfFailure(std::current_exception());
        facts.HostKnown = !knownServer_.empty() && knownServer_ == Mailbox->Server;
        if (mail::ClassifyFailure(facts) == mail::TFailureKind::Passing) {
            // Switched off during the check: it stays off, quietly.
            if (CheckingMail) keepTrying(facts, currentExceptionText());
            return;
        }
        endRetries();
        // Flag, caption and timers say "off" before the report is shown: the
        // report's box runs its own loop, and a timer left running there
        // would start checks under it (the switch may have restarted it
        // during the check).
        CheckingMail = false;
        stopChecks();
        CheckMailItem->SetCaption("Start Checking &email");
        // No to the trust question: its box already said why.
        if (facts.Source != mail::TFailureFacts::Socket || facts.Code != net::sCertDeclined)
            fw::HandleCallbackException();
        return;
    }
    passingFailures_ = 0;
    knownServer_ = Mailbox->Server;
    // The status text of this moment: a toggle during the check counts.
    TrayIcon->SetToolTip(MessageCountToolTip(StatusText, Mailbox->RemoteInfo.Count(), Mailbox->MessageCount));
    try {
        Announcer.AfterCheck(*Mailbox, *TrayIcon);
    } catch (...) {
        // A list that cannot be stored costs only a repeated notice after a
        // restart: checking goes on, and the reason is told once, by a
        // notice rather than a box (a modal box would hold up every check
        // until the user came back to it).
        if (!storeFailureReported_) storeFailure_ = currentExceptionText();
    }
    // Never over a new-mail notice the user has not seen yet.
    if (!storeFailure_.empty() && !TrayIcon->BalloonWaiting()) {
        storeFailureReported_ = true;
        TrayIcon->ShowBalloon(u"Tidemark", fromAnsi(std::exchange(storeFailure_, std::string())), NIIF_WARNING);
    }
    // The next check comes one interval from now, unless checking was
    // switched off during this one.
    PollTimer->SetEnabled(CheckingMail && !closing_);
}

void TTrayController::stopChecks() {
    PollTimer->SetEnabled(false);
    RetryTimer->SetEnabled(false);
}

void TTrayController::retryIn(unsigned ms) {
    stopChecks();
    RetryTimer->SetInterval(ms);
    RetryTimer->SetEnabled(true);
}

void TTrayController::keepTrying(const mail::TFailureFacts& facts, const std::string& reason) {
    const std::uint64_t now = GetTickCount64();
    if (passingFailures_++ == 0) {
        failingSince_ = now;
        SYSTEMTIME local;
        GetLocalTime(&local);
        char since[16];
        std::snprintf(since, sizeof since, "%02u:%02u", local.wHour, local.wMinute);
        failingSinceText_ = since;
        balloonShown_ = false;
    }
    const bool justWoken = resumedAt_ != 0 && now - resumedAt_ < kQuickRetriesAfterWakeMs;
    retryIn(RetryDelayMs(passingFailures_, PollTimer->Interval(), justWoken));
    TrayIcon->SetToolTip(RetryToolTip(facts));
    if (!balloonShown_ && now - failingSince_ >= BalloonAfterMs) {
        balloonShown_ = true;
        TrayIcon->ShowBalloon(u"Tidemark", fromAnsi(FailingSinceNotice(failingSinceText_, reason, desktop::TTrayIcon::kMaxBalloonText)),
                              NIIF_WARNING);
    }
}

void TTrayController::endRetries() {
    if (passingFailures_ == 0) return;
    passingFailures_ = 0;
    TrayIcon->SetToolTip(StatusText);
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
    case PBT_APMSUSPEND:
        suspended_ = true;
        // A check cut off by the sleep would fail after it, late and for
        // nothing: it goes now, without a report.
        if (checkInProgress_) Mailbox->Cancel();
        if (CheckingMail) retryIn(kWakeFallbackMs);
        break;
    case PBT_APMRESUMEAUTOMATIC:
    case PBT_APMRESUMESUSPEND:
        // Both may come, one after the other: the check follows the last.
        suspended_ = false;
        resumedAt_ = GetTickCount64();
        // Failures from before the sleep say nothing about the network now.
        endRetries();
        if (CheckingMail && !checkInProgress_) retryIn(kCheckAfterWakeMs);
        break;
    default:
        break;
    }
}

void TTrayController::AddressChanged(fw::TObject* Sender) {
    // Only a check that failed for a passing reason waits for the network.
    if (!CheckingMail || passingFailures_ == 0 || checkInProgress_ || closing_ || suspended_) return;
    retryIn(kCheckAfterAddressChangeMs);
}

void TTrayController::AfterModal() {
    if (pollDeferred_ && CheckingMail) PollTick(PollTimer);
}

void TTrayController::SetupItemClick(fw::TObject* Sender) {
    TSetupDialog& dlg = *SetupDialog;
    // Chosen again while the dialog is open (it easily ends up behind other
    // windows): refilling it would lose what the user typed.
    if (dlg.Visible() || dlg.Modal()) {
        dlg.BringToFront();
        return;
    }
    // Filled from memory, not from the registry, before every show.
    dlg.ServerEdit->SetText(Mailbox->Server);
    // A new mailbox starts with TLS: most servers require it.
    dlg.SecurityCombo->SetItemIndex(SecurityIndex(Mailbox->Server.empty() ? net::TSecurity::Tls : Mailbox->Security));
    dlg.UserNameEdit->SetText(Mailbox->UserName);
    dlg.PasswordEdit->SetText(Mailbox->Password);
    dlg.IntervalEdit->SetText(std::to_string(PollTimer->Interval() / 1000));
    dlg.HideCheckBox->SetChecked(HideOnStart);
    // The logon entry lives in the Run key, where the installer and the user
    // may change it too: read afresh for every show.
    dlg.StartAtLogonCheckBox->SetChecked(StartsAtLogon());
    dlg.AnnounceCheckBox->SetChecked(Announcer.Announce);
    if (dlg.ShowModal() != fw::mrOk) return;
    // The settings in memory are the user's from here on: a first-tick load
    // still being retried after a failure would overwrite them, and undo an
    // OK whose save failed.
    FirstTick = false;
    Mailbox->Server = dlg.ServerEdit->Text();
    Mailbox->UserName = dlg.UserNameEdit->Text();
    Mailbox->Password = dlg.PasswordEdit->Text();
    Mailbox->Security = SecurityOfIndex(dlg.SecurityCombo->ItemIndex());
    // The dialog let only a whole number of seconds through.
    const std::int32_t seconds = fw::StrToInt(dlg.IntervalEdit->Text());
    PollTimer->SetInterval(IntervalMsFromSeconds(seconds));
    HideOnStart = dlg.HideCheckBox->Checked();
    SaveSettings(dlg.ServerEdit->Text(), dlg.UserNameEdit->Text(), dlg.PasswordEdit->Text(), std::to_string(seconds),
                 HideOnStart, Mailbox->Security);
    SetStartAtLogon(dlg.StartAtLogonCheckBox->Checked());
    Announcer.Announce = dlg.AnnounceCheckBox->Checked();
    SaveAnnounceSetting(Announcer.Announce);
}

void TTrayController::TrayIconBalloonClick(fw::TObject* Sender) { desktop::StartDefaultMailProgram(); }

void TTrayController::AboutItemClick(fw::TObject* Sender) { desktop::ShowAboutBox(this); }

void TTrayController::UpgradesItemClick(fw::TObject* Sender) { RemindThem(); }

void TTrayController::RemindThem() { desktop::ShowUpgradeReminder(this); }

bool TTrayController::AskToTrustCertificate(const std::string& question) {
    return MessageBoxA(nullptr, question.c_str(), fw::Application ? fw::Application->Title.c_str() : "Tidemark",
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL | MB_SETFOREGROUND) == IDYES;
}

}  // namespace app
