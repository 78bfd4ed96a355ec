#include "net/dial_up.h"

#include <cstring>
#include <vector>

#include "framework/application.h"
#include "framework/dialogs.h"

namespace net {

namespace {
constexpr DWORD kMaxEntries = 25;
constexpr DWORD kMaxConnections = 10;

std::string fieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }
}  // namespace

TDialUp::TDialUp(fw::TComponent* owner) : fw::TComponent(owner) {
    window_ = std::make_unique<fw::TUtilWindow>([this](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
        if (!handleMessage(msg, wp, lp)) return false;
        result = 0;
        return true;
    });
    DialEventMsg = RegisterWindowMessageA("RASDIALEVENT");
    Counter = std::make_unique<TTimeCounter>();
    Counter->TimeOut = 120;
    Entries = std::make_unique<fw::TStringList>();
    lib_.reset(LoadLibraryA("rasapi32.dll"));
    RefreshEntries();
}

TDialUp::~TDialUp() { window_.reset(); }

fw::TStringList& TDialUp::RefreshEntries() {
    Entries->Clear();
    auto enumEntries = proc<ras::PFN_RasEnumEntriesA>("RasEnumEntriesA");
    if (!enumEntries) return *Entries;
    std::vector<ras::RASENTRYNAMEA> buffer(kMaxEntries);
    std::memset(buffer.data(), 0, buffer.size() * sizeof(ras::RASENTRYNAMEA));
    buffer[0].dwSize = sizeof(ras::RASENTRYNAMEA);
    DWORD cb = static_cast<DWORD>(buffer.size() * sizeof(ras::RASENTRYNAMEA));
    DWORD count = 0;
    LastError = enumEntries(nullptr, nullptr, buffer.data(), &cb, &count);
    if (LastError != 0) return *Entries;
    for (DWORD i = 0; i < count && i < kMaxEntries; ++i)
        Entries->Add(fieldText(buffer[i].szEntryName, sizeof buffer[i].szEntryName));
    return *Entries;
}

void TDialUp::SetService(const std::string& value) {
    if (value.empty()) {
        service_.clear();
        return;
    }
    if (!HasEntries()) {
        fw::MessageDlg("TDialUp component was unable to detect\rRAS on your system.", fw::TMsgDlgType::mtError);
        return;
    }
    if (Connected) {
        fw::MessageDlg("This property can be set only before\restablishing the connection", fw::TMsgDlgType::mtError);
        return;
    }
    RefreshEntries();
    if (Entries->IndexOfText(value) < 0) {
        fw::MessageDlg("Invalid service name", fw::TMsgDlgType::mtError);
        service_.clear();
        return;
    }
    service_ = value;
}

bool TDialUp::FindConnection() {
    auto enumConnections = proc<ras::PFN_RasEnumConnectionsA>("RasEnumConnectionsA");
    if (!enumConnections) return false;
    std::vector<ras::RASCONNA> conns(kMaxConnections);
    std::memset(conns.data(), 0, conns.size() * sizeof(ras::RASCONNA));
    conns[0].dwSize = sizeof(ras::RASCONNA);
    DWORD cb = static_cast<DWORD>(conns.size() * sizeof(ras::RASCONNA));
    DWORD count = 0;
    DWORD rc = enumConnections(conns.data(), &cb, &count);
    if (rc != 0) {
        LastError = rc;
        throw ERASError(rc);
    }
    if (count > kMaxConnections) count = kMaxConnections;
    for (DWORD i = 0; i < count; ++i) {
        if (fieldText(conns[i].szEntryName, sizeof conns[i].szEntryName) == service_ && conns[i].hrasconn != Handle) {
            Handle = conns[i].hrasconn;
            return true;
        }
    }
    if (ForceService) return false;
    auto projection = proc<ras::PFN_RasGetProjectionInfoA>("RasGetProjectionInfoA");
    if (!projection) return false;
    for (DWORD i = 0; i < count; ++i) {
        ras::RASPPPIPA ip{};
        ip.dwSize = sizeof ip;
        DWORD size = sizeof ip;
        rc = projection(conns[i].hrasconn, ras::RASP_PppIp, &ip, &size);
        if (rc != 0) throw ERASError(rc);
        if (ip.szIpAddress[0]) {
            Handle = conns[i].hrasconn;
            return true;
        }
    }
    return false;
}

void TDialUp::Connect() {
    if (FindConnection() || service_.empty()) {
        Connected = true;
        DialedByUs = false;
        return;
    }
    auto getParams = proc<ras::PFN_RasGetEntryDialParamsA>("RasGetEntryDialParamsA");
    auto setParams = proc<ras::PFN_RasSetEntryDialParamsA>("RasSetEntryDialParamsA");
    auto dial = proc<ras::PFN_RasDialA>("RasDialA");
    if (!getParams || !setParams || !dial) return;

    DialedByUs = true;
    Handle = INVALID_HANDLE_VALUE;
    Connected = false;
    HangUpRequested = false;
    Counter->Expired = false;
    // An error left from an earlier dial would end this one before it starts.
    LastError = 0;

    ras::RASDIALPARAMSA params{};
    params.dwSize = sizeof params;
    std::strncpy(params.szEntryName, service_.c_str(), ras::RAS_MaxEntryName);
    BOOL hasPassword = FALSE;
    DWORD rc = getParams(nullptr, &params, &hasPassword);
    if (rc != 0) throw ERASError(rc);
    if (!hasPassword) {
        std::strncpy(params.szPassword, Password.c_str(), ras::PWLEN);
        rc = setParams(nullptr, &params, RemovePassword ? TRUE : FALSE);
        if (rc != 0) throw ERASError(rc);
    }
    // RasDial wants a zero handle for a new connection.
    Handle = nullptr;
    rc = dial(nullptr, nullptr, &params, ras::NotifierWindow, WindowHandle(), &Handle);
    if (rc != 0) {
        HangUp();
        throw ERASError(rc);
    }

    Counter->Start();
    while (!Connected && LastError == 0 && !HangUpRequested && !Counter->Expired) {
        fw::DispatchPending();
        if (Connected || LastError != 0 || HangUpRequested || Counter->Expired) break;
        fw::WaitForInput();
    }
    Counter->Stop();
    if (LastError != 0) {
        const std::uint32_t error = LastError;
        HangUp();
        throw ERASError(error);
    }
    if (HangUpRequested) throw ECanceledError();
    if (Counter->Expired) {
        // A dial left running would hold the port and might still connect later.
        HangUp();
        throw ETimedOutError();
    }
    if (MinimizeAtConnect) minimizeDialDialog();
}

void TDialUp::minimizeDialDialog() {
    // The system's dial progress dialog shows up a moment after the connection.
    const ULONGLONG until = GetTickCount64() + 1000;
    for (ULONGLONG now = GetTickCount64(); now < until; now = GetTickCount64()) {
        fw::DispatchPending();
        fw::WaitForInput(static_cast<DWORD>(until - now));
    }
    if (HWND dialog = FindWindowA("#32770", nullptr)) SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void TDialUp::HangUp() {
    auto hangUp = proc<ras::PFN_RasHangUpA>("RasHangUpA");
    if (!hangUp) return;
    if (HasEntries() && DialedByUs) {
        hangUp(Handle);
        // The line is down; a second Disconnect must not hang it up again.
        DialedByUs = false;
        if (OnDisconnected) OnDisconnected(this);
    }
    Connected = false;
    Handle = INVALID_HANDLE_VALUE;
}

void TDialUp::Disconnect() {
    HangUp();
    HangUpRequested = true;
}

std::string TDialUp::DialStateText(std::uint32_t state) const {
    UINT id = 0;
    switch (state) {
        case ras::RASCS_OpenPort: id = ras::IDS_OpeningPort; break;
        case ras::RASCS_ConnectDevice:
        case ras::RASCS_DeviceConnected:
        case ras::RASCS_AllDevicesConnected: id = ras::IDS_ConnectingDevice; break;
        case ras::RASCS_Authenticate:
        case ras::RASCS_StartAuthentication: id = ras::IDS_Authenticating; break;
        case ras::RASCS_Authenticated: id = ras::IDS_Authenticated; break;
        case ras::RASCS_LogonNetwork: id = ras::IDS_LoggingOnNetwork; break;
        case ras::RASCS_Connected: id = ras::IDS_Connected; break;
        default: return "";
    }
    if (!lib_) return "";
    char buffer[255] = {};
    int n = LoadStringA(lib_.get(), id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool TDialUp::handleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != DialEventMsg || DialEventMsg == 0) return false;
    if (OnStatusChange) OnStatusChange(this, DialStateText(LOWORD(wp)));
    if (!Connected) Connected = wp == ras::RASCS_Connected;
    if (lp != 0) {
        LastError = static_cast<std::uint32_t>(lp);
        // A line that fails after it was up has no waiting caller to tell.
        if (Connected) throw ERASError(LastError);
    }
    return true;
}

}  // namespace net
