#include "framework/dde.h"

#include <cstring>

namespace fw {

namespace {
// A client offers no data of its own: every notification DDEML sends here
// (disconnects, completions of asynchronous transactions) needs no answer.
HDDEDATA CALLBACK clientCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

struct Instance {
    DWORD id = 0;
    Instance() {
        // DDEML instances belong to the thread that made them; the program
        // makes this one on its GUI thread, the only thread that talks DDE.
        // Client-only: the program answers no WM_DDE_INITIATE of its own.
        if (DdeInitializeA(&id, clientCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) id = 0;
    }
    ~Instance() {
        if (id) DdeUninitialize(id);
    }
};
}  // namespace

DWORD DdeInstance() {
    static Instance instance;
    return instance.id;
}

TDdeClientConv::TDdeClientConv(TComponent* owner) : TComponent(owner) {}

TDdeClientConv::~TDdeClientConv() { CloseConversation(); }

HCONV TDdeClientConv::connect() {
    // The server learns from the context which code page the names are in.
    CONVCONTEXT context{};
    context.cb = sizeof(context);
    context.iCodePage = CP_WINANSI;
    return DdeConnect(DdeInstance(), hszService_.get(), hszTopic_.get(), &context);
}

bool TDdeClientConv::OpenConversation(const std::string& service, const std::string& topic) {
    CloseConversation();
    DWORD inst = DdeInstance();
    if (!inst) return false;
    // A null string handle is DDEML's wildcard: any service, or any topic.
    if (!service.empty()) hszService_.reset(DdeCreateStringHandleA(inst, service.c_str(), CP_WINANSI));
    if (!topic.empty()) hszTopic_.reset(DdeCreateStringHandleA(inst, topic.c_str(), CP_WINANSI));
    conv_.reset(connect());
    if (!conv_) {
        std::string command = ServiceApplication;
        if (command.empty() && !service.empty()) command = service + " " + topic;
        // WinExec returns once the started program waits for input (or at
        // once when it cannot be started), so its server is registered by then.
        if (!command.empty() && WinExec(command.c_str(), SW_SHOWMINNOACTIVE) >= 32) conv_.reset(connect());
    }
    if (!conv_) {
        CloseConversation();
        return false;
    }
    CONVINFO info{};
    info.cb = sizeof(info);
    format_ = CF_TEXT;
    if (DdeQueryConvInfo(conv_.get(), QID_SYNC, &info) && info.wFmt != 0) format_ = info.wFmt;
    return true;
}

std::string TDdeClientConv::RequestItem(const std::string& item) {
    if (!conv_) return {};
    const UniqueDdeString hszItem(DdeCreateStringHandleA(DdeInstance(), item.c_str(), CP_WINANSI));
    const UniqueDdeData data(
        DdeClientTransaction(nullptr, 0, conv_.get(), hszItem.get(), format_, XTYP_REQUEST, RequestTimeoutMs, nullptr));
    if (!data) return {};
    // The server's data need not end with a NUL: copy it into a buffer of
    // our own, one byte larger, and let the text end at the first NUL.
    DWORD size = DdeGetData(data.get(), nullptr, 0, 0);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    if (size) DdeGetData(data.get(), reinterpret_cast<LPBYTE>(text.data()), size, 0);
    text.resize(std::strlen(text.c_str()));
    return text;
}

void TDdeClientConv::CloseConversation() {
    conv_.reset();
    hszService_.reset();
    hszTopic_.reset();
    format_ = CF_TEXT;
}

}  // namespace fw
