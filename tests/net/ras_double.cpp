// rasapi32.dll stand-in for the dial-up tests. Every answer comes from the
// shared RasDoubleState, and every call is recorded there. There are never
// connections of other programs.
#include "tests/net/ras_double.h"

#include <cstdio>
#include <cstring>

#include "net/ras_api.h"

using namespace net::ras;

namespace {
RasDoubleState state;
}

#define EXPORT extern "C" __declspec(dllexport)

EXPORT RasDoubleState* WINAPI RasDoubleControl() { return &state; }

EXPORT DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, LPDWORD, LPDWORD count) {
    state.entriesSizeSeen = entries->dwSize;
    for (DWORD i = 0; i < state.entryCount; ++i) std::strcpy(entries[i].szEntryName, state.entries[i]);
    *count = state.entryCount;
    return 0;
}

EXPORT DWORD WINAPI RasEnumConnectionsA(RASCONNA* conns, LPDWORD, LPDWORD count) {
    state.connsSizeSeen = conns->dwSize;
    *count = 0;
    return 0;
}

EXPORT DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, RASDIALPARAMSA*, LPBOOL password) {
    *password = FALSE;
    return 0;
}

EXPORT DWORD WINAPI RasSetEntryDialParamsA(LPCSTR, RASDIALPARAMSA*, BOOL removePassword) {
    state.setRemovePassword = removePassword;
    return 0;
}

EXPORT DWORD WINAPI RasDialA(LPVOID, LPCSTR, RASDIALPARAMSA* params, DWORD, LPVOID notifier, HRASCONN* conn) {
    std::strcpy(state.dialEntry, params->szEntryName);
    std::strcpy(state.dialPassword, params->szPassword);
    state.notifierWindow = static_cast<HWND>(notifier);
    if (state.dialResult) return state.dialResult;
    *conn = RAS_DOUBLE_DIALED_HANDLE;
    for (DWORD i = 0; i < state.dialEventCount; ++i)
        PostMessageA(state.notifierWindow, RegisterWindowMessageA("RASDIALEVENT"), state.dialStates[i], state.dialErrors[i]);
    return 0;
}

EXPORT DWORD WINAPI RasHangUpA(HRASCONN conn) {
    state.lastHangUp = conn;
    ++state.hangUpCount;
    return 0;
}

EXPORT DWORD WINAPI RasGetErrorStringA(UINT code, LPSTR buffer, DWORD size) {
    if (state.errorStringResult) return state.errorStringResult;
    std::snprintf(buffer, size, "Double text for %u", code);
    return 0;
}
