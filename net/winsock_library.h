#pragma once
// Binding to the Winsock 1.1 library, loaded by name at run time. Every call
// looks its entry point up again, so a library that was unloaded in between
// gives "Winsock is not loaded" instead of a call into freed code.
#include <windows.h>  // brings <winsock.h>, the 1.1 types and constants

#include <cstdint>
#include <string>

#include "framework/classes.h"
#include "framework/handles.h"

// The binding offers these three as its own operations (same meaning as
// <winsock.h>'s macros, which would otherwise rewrite the method names).
#undef WSAGETASYNCERROR
#undef WSAGETSELECTERROR
#undef WSAGETSELECTEVENT

namespace net {

class TWinsockLibrary : public fw::TObject {
public:
    TWinsockLibrary() = default;
    ~TWinsockLibrary() override;
    TWinsockLibrary(const TWinsockLibrary&) = delete;
    TWinsockLibrary& operator=(const TWinsockLibrary&) = delete;

    // nullptr while the library is not loaded.
    HMODULE Handle() const { return module_.get(); }
    // Which file Load opens; only tests change it.
    std::string LibraryName = "wsock32.dll";

    void Load();
    void Unload();
    bool Loaded() const { return module_.valid(); }
    FARPROC GetProc(const char* name);

    int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
    int WSACleanup();
    int WSAGetLastError();
    unsigned long inet_addr(const char* cp);
    u_short htons(u_short hostshort);
    SOCKET socket(int af, int type, int protocol);
    int connect(SOCKET s, const sockaddr* name, int namelen);
    int send(SOCKET s, const char* buf, int len, int flags);
    int recv(SOCKET s, char* buf, int len, int flags);
    int closesocket(SOCKET s);
    HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen);
    HANDLE WSAAsyncGetServByName(HWND hWnd, u_int wMsg, const char* name, const char* proto, char* buf, int buflen);
    int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent);
    int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);
    BOOL WSAIsBlocking();
    int WSACancelBlockingCall();

    static WORD WSAGETASYNCERROR(LPARAM lParam) { return HIWORD(lParam); }
    static WORD WSAGETSELECTERROR(LPARAM lParam) { return HIWORD(lParam); }
    static WORD WSAGETSELECTEVENT(LPARAM lParam) { return LOWORD(lParam); }

private:
    fw::UniqueModule module_;
    template <typename Fn>
    Fn proc(const char* name) {
        return reinterpret_cast<Fn>(GetProc(name));
    }
};

// The one binding of the process. Loaded and unloaded only through a
// socket's WinsockLoaded property.
extern TWinsockLibrary Winsock;

namespace detail {
// Never throws: a library unloaded behind the socket's back leaves nothing
// to release in it.
void closeSocket(SOCKET s) noexcept;
}  // namespace detail
using UniqueSocket = fw::UniqueHandle<SOCKET, &detail::closeSocket, -1>;

}  // namespace net
