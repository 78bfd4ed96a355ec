#pragma once
// Owners for the handles of Winsock 2 (linked, not the run-time binding the
// mail sockets use) and WinHTTP. Include before <windows.h>: winsock2.h must
// come first.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include "framework/handles.h"

namespace fw {

namespace detail {
inline void closeWinsock2Socket(SOCKET s) { ::closesocket(s); }
inline void closeInternet(HINTERNET h) { WinHttpCloseHandle(h); }
}  // namespace detail
using UniqueWinsock2Socket = UniqueHandle<SOCKET, &detail::closeWinsock2Socket, -1>;
using UniqueInternet = UniqueHandle<HINTERNET, &detail::closeInternet>;

}  // namespace fw
