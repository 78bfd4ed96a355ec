#include "desktop/about_box.h"

#include <windows.h>

#include <algorithm>

#include "framework/application.h"
#include "framework/window.h"
#include "framework/dialogs.h"

namespace desktop {

TAboutBox* AboutBox = nullptr;

namespace {
fw::TFormDesc aboutBoxDesc() {
    fw::TFormDesc d;
    d.Caption = "About";
    d.Left = 154;
    d.Top = 26;
    d.ClientWidth = 223;
    d.ClientHeight = 330;
    d.BorderStyle = fw::TBorderStyle::bsDialog;
    d.Position = fw::TPosition::poDesigned;
    return d;
}

// The browsers' DDE items: activate the last active window, then open the
// URL (an empty target file, window 0xFFFFFFFF = the last active one, flags
// 0x0, then empty form data, MIME type and progress server).
const char* const kActivateItem = "0xffffffff,0x0";
const char* const kOpenUrlArgs = ",,0xFFFFFFFF,0x0,,,";

// The labels' places fit their texts in "MS Sans Serif" on Windows. Where
// the font that stands in for it (Wine's, say) draws a text wider than
// its place, the label grows to the text's width around the same centre
// instead of cutting the text off; a text that fits keeps the place. The
// places are of the 96-DPI design, scaled to the box's DPI, and a label is
// never lower than a line of its font.
void fitLabel(fw::TLabel* label, int left, int top, int width, int height) {
    const fw::TForm* box = label->Form();
    left = box->Scale(left);
    width = box->Scale(width);
    const int text = label->TextSize().cx + box->Scale(2);
    if (text > width) {
        left -= (text - width) / 2;
        width = text;
    }
    label->SetBounds(left, box->Scale(top), width, std::max<int>(box->Scale(height), fw::LineHeight(label->Handle())));
}

void fitLabels(TAboutBox* box) {
    fitLabel(box->VersionLabel, 70, 268, 88, 13);
    fitLabel(box->TaglineLabel, 43, 283, 136, 13);
    fitLabel(box->LoadingLabel, 58, 304, 106, 13);
}
}  // namespace

TAboutBox::TAboutBox(fw::TComponent* owner) : fw::TForm(owner, aboutBoxDesc()) {
    LogoPanel = new fw::TPanel(this, nullptr, 8, 8, 206, 256);
    LogoPanel->Name = "LogoPanel";
    LogoImage = new fw::TImage(this, LogoPanel, LogoResource, 3, 2, 200, 252);
    LogoImage->Name = "LogoImage";
    VersionLabel = new fw::TLabel(this, nullptr, "Tidemark 2.01", 70, 268, 88, 13);
    VersionLabel->Name = "VersionLabel";
    TaglineLabel = new fw::TLabel(this, nullptr, "With Vesk, your email agent.", 43, 283, 136, 13);
    TaglineLabel->Name = "TaglineLabel";
    LoadingLabel = new fw::TLabel(this, nullptr, "Loading, please wait...", 58, 304, 106, 13);
    LoadingLabel->Name = "LoadingLabel";
    OKButton = new fw::TButton(this, nullptr, "OK", 74, 301, 75, 25, fw::mrOk);
    OKButton->Name = "OKButton";
    OKButton->Default = true;
    BrowserDDE = new fw::TDdeClientConv(this);
    BrowserDDE->Name = "BrowserDDE";
    CloseTimer = new fw::TTimer(this);
    CloseTimer->Name = "CloseTimer";
    CloseTimer->SetInterval(30000);
    CloseTimer->SetOnTimer([this](fw::TObject* s) { CloseTimerTick(s); });

    LogoImage->OnClick = [this](fw::TObject* s) { DisplayInBrowserClick(s); };
    LogoImage->OnDblClick = [this](fw::TObject* s) { DisplayInBrowserClick(s); };
    OnCreate = [this](fw::TObject* s) { FormCreate(s); };
    OnShow = [this](fw::TObject* s) { FormShow(s); };
    OnClose = [this](fw::TObject* s, fw::TCloseAction& a) { FormClose(s, a); };
    DoCreate();
    AboutBox = this;
}

TAboutBox::~TAboutBox() {
    if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::FormCreate(fw::TObject*) {
    // Clearing WS_CAPTION (WS_BORDER | WS_DLGFRAME) leaves the modal dialog
    // frame of WS_EX_DLGMODALFRAME. The window keeps its old frame sizes
    // until the next WM_NCCALCSIZE, which the resize below brings about.
    fw::RemoveCaption(Handle());
    SetClientHeight(Height() - Scale(40));
}

void TAboutBox::LayoutControls() {
    fw::TForm::LayoutControls();
    fitLabels(this);
}

void TAboutBox::FormShow(fw::TObject*) {
    // Already enabled since creation: this keeps the count running from then.
    CloseTimer->SetEnabled(true);
}

void TAboutBox::CloseTimerTick(fw::TObject*) { Close(); }

void TAboutBox::FormClose(fw::TObject*, fw::TCloseAction& Action) { Action = fw::TCloseAction::caFree; }

bool TAboutBox::AskBrowser(const char* program, const char* activateService, const char* openService,
                           const char* failure, bool& success) {
    BrowserDDE->ServiceApplication = program;
    if (!BrowserDDE->OpenConversation(activateService, "WWW_Activate")) return false;
    // The replies tell nothing the sequence needs; they are not looked at.
    BrowserDDE->RequestItem(kActivateItem);
    if (BrowserDDE->OpenConversation(openService, "WWW_OpenURL")) {
        BrowserDDE->RequestItem(std::string(HomePage) + kOpenUrlArgs);
        success = true;
    } else {
        fw::ShowMessage(failure);
        BrowserDDE->CloseConversation();
    }
    return true;
}

void TAboutBox::DisplayInBrowserClick(fw::TObject*) {
    bool success = false;
    // A running Netscape Navigator is asked; only without one is Internet Explorer.
    if (!AskBrowser("NETSCAPE.EXE", "NETSCAPE", "NETSCAPE", "Error getting Netscape Navigator to load page.", success))
        AskBrowser("IEXPLORE.EXE", "IExplore", "IEXPLORE", "Error getting MS Internet Explorer to load page.", success);
    if (!success) fw::ShowMessage("Error: You don't have MS Internet Explorer or Netscape Navigator open.");
}

int ShowSplash() {
    auto* box = new TAboutBox(fw::Application);
    box->OKButton->SetVisible(false);
    box->CloseTimer->SetEnabled(true);
    box->CloseTimer->SetInterval(3000);
    return box->ShowModal();
}

int ShowAboutBox(fw::TComponent* owner) {
    auto* box = new TAboutBox(owner);
    box->LoadingLabel->SetVisible(false);
    box->SetCaption("About");
    return box->ShowModal();
}

int ShowUpgradeReminder(fw::TComponent* owner) {
    auto* box = new TAboutBox(owner);
    box->LoadingLabel->SetVisible(false);
    box->TaglineLabel->SetCaption("      Click on our logo!");
    box->LayoutControls();
    return box->ShowModal();
}

void CloseAboutBox() {
    if (AboutBox && AboutBox->Visible()) AboutBox->Close();
}

}  // namespace desktop
