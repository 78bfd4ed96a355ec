#include "net/winsock_library.h"

#include "framework/sysutils.h"
#include "net/socket_errors.h"

namespace net {

TWinsockLibrary Winsock;

TWinsockLibrary::~TWinsockLibrary() { Unload(); }

void TWinsockLibrary::Load() {
    // SEM_NOOPENFILEERRORBOX: a missing file must not bring up a system dialog.
    UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE h = LoadLibraryA(LibraryName.c_str());
    SetErrorMode(previous);
    if (!h) {
        module_.reset();
        throw EWinsockDLLError(CatalogueText(sWinsockNotFound));
    }
    module_.reset(h);
}

void TWinsockLibrary::Unload() { module_.reset(); }

FARPROC TWinsockLibrary::GetProc(const char* name) {
    if (!Loaded()) throw EWinsockDLLError(CatalogueText(sWinsockNotLoaded));
    FARPROC p = GetProcAddress(module_.get(), name);
    if (!p) throw EWinsockDLLError(fw::FormatStr(CatalogueText(sFunctionNotFound), name));
    return p;
}

int TWinsockLibrary::WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    return proc<int(WINAPI*)(WORD, LPWSADATA)>("WSAStartup")(wVersionRequested, lpWSAData);
}

int TWinsockLibrary::WSACleanup() { return proc<int(WINAPI*)()>("WSACleanup")(); }

int TWinsockLibrary::WSAGetLastError() { return proc<int(WINAPI*)()>("WSAGetLastError")(); }

unsigned long TWinsockLibrary::inet_addr(const char* cp) {
    return proc<unsigned long(WINAPI*)(const char*)>("inet_addr")(cp);
}

u_short TWinsockLibrary::htons(u_short hostshort) { return proc<u_short(WINAPI*)(u_short)>("htons")(hostshort); }

SOCKET TWinsockLibrary::socket(int af, int type, int protocol) {
    return proc<SOCKET(WINAPI*)(int, int, int)>("socket")(af, type, protocol);
}

int TWinsockLibrary::connect(SOCKET s, const sockaddr* name, int namelen) {
    return proc<int(WINAPI*)(SOCKET, const sockaddr*, int)>("connect")(s, name, namelen);
}

int TWinsockLibrary::send(SOCKET s, const char* buf, int len, int flags) {
    return proc<int(WINAPI*)(SOCKET, const char*, int, int)>("send")(s, buf, len, flags);
}

int TWinsockLibrary::recv(SOCKET s, char* buf, int len, int flags) {
    return proc<int(WINAPI*)(SOCKET, char*, int, int)>("recv")(s, buf, len, flags);
}

int TWinsockLibrary::closesocket(SOCKET s) { return proc<int(WINAPI*)(SOCKET)>("closesocket")(s); }

HANDLE TWinsockLibrary::WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen) {
    return proc<HANDLE(WINAPI*)(HWND, u_int, const char*, char*, int)>("WSAAsyncGetHostByName")(hWnd, wMsg, name, buf,
                                                                                                buflen);
}

HANDLE TWinsockLibrary::WSAAsyncGetServByName(HWND hWnd, u_int wMsg, const char* name, const char* proto, char* buf,
                                              int buflen) {
    return proc<HANDLE(WINAPI*)(HWND, u_int, const char*, const char*, char*, int)>("WSAAsyncGetServByName")(
        hWnd, wMsg, name, proto, buf, buflen);
}

int TWinsockLibrary::WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent) {
    return proc<int(WINAPI*)(SOCKET, HWND, u_int, long)>("WSAAsyncSelect")(s, hWnd, wMsg, lEvent);
}

int TWinsockLibrary::WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
    return proc<int(WINAPI*)(HANDLE)>("WSACancelAsyncRequest")(hAsyncTaskHandle);
}

BOOL TWinsockLibrary::WSAIsBlocking() { return proc<BOOL(WINAPI*)()>("WSAIsBlocking")(); }

int TWinsockLibrary::WSACancelBlockingCall() { return proc<int(WINAPI*)()>("WSACancelBlockingCall")(); }

void detail::closeSocket(SOCKET s) noexcept {
    try {
        Winsock.closesocket(s);
    } catch (...) {
    }
}

}  // namespace net
