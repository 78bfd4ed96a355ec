// rasapi32.dll stand-in for the dial-up tests. Every answer comes from the
// shared RasDoubleState, and every call is recorded there.
#include "tests/net/ras_double.h"

#include <cstdio>
#include <cstring>

#include "net/ras_api.h"

using namespace net::ras;

namespace {
RasDoubleState state;
constexpr DWORD kBufferTooSmall = 603;
}

#define EXPORT extern "C" __declspec(dllexport)

EXPORT RasDoubleState* WINAPI RasDoubleControl() { return &state; }

EXPORT DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, LPDWORD cb, LPDWORD count) {
    state.entriesSizeSeen = entries->dwSize;
    if (state.enumEntriesResult) return state.enumEntriesResult;
    if (state.entryCount * sizeof(RASENTRYNAMEA) > *cb) return kBufferTooSmall;
    for (DWORD i = 0; i < state.entryCount; ++i) {
        entries[i].dwSize = sizeof(RASENTRYNAMEA);
        std::strcpy(entries[i].szEntryName, state.entries[i]);
    }
    *count = state.entryCount;
    return 0;
}

EXPORT DWORD WINAPI RasEnumConnectionsA(RASCONNA* conns, LPDWORD cb, LPDWORD count) {
    state.connsSizeSeen = conns->dwSize;
    if (state.enumConnsResult) return state.enumConnsResult;
    if (state.connCount * sizeof(RASCONNA) > *cb) return kBufferTooSmall;
    for (DWORD i = 0; i < state.connCount; ++i) {
        conns[i].dwSize = sizeof(RASCONNA);
        conns[i].hrasconn = state.connHandles[i];
        std::strcpy(conns[i].szEntryName, state.connNames[i]);
    }
    *count = state.connCount;
    return 0;
}

EXPORT DWORD WINAPI RasGetProjectionInfoA(HRASCONN conn, DWORD projection, LPVOID info, LPDWORD cb) {
    if (state.projectionResult) return state.projectionResult;
    if (projection != RASP_PppIp || *cb < sizeof(RASPPPIPA)) return ERROR_INVALID_PARAMETER;
    auto* ip = static_cast<RASPPPIPA*>(info);
    for (DWORD i = 0; i < state.connCount; ++i)
        if (state.connHandles[i] == conn) std::strcpy(ip->szIpAddress, state.connIps[i]);
    return 0;
}

EXPORT DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, RASDIALPARAMSA* params, LPBOOL password) {
    state.getParamsSizeSeen = params->dwSize;
    if (state.getParamsResult) return state.getParamsResult;
    *password = state.storedPassword;
    if (state.storedPassword) std::strcpy(params->szPassword, "stored");
    return 0;
}

EXPORT DWORD WINAPI RasSetEntryDialParamsA(LPCSTR, RASDIALPARAMSA* params, BOOL removePassword) {
    ++state.setCalls;
    std::strcpy(state.setPassword, params->szPassword);
    state.setRemovePassword = removePassword;
    return state.setParamsResult;
}

EXPORT DWORD WINAPI RasDialA(LPVOID, LPCSTR, RASDIALPARAMSA* params, DWORD notifierType, LPVOID notifier,
                             HRASCONN* conn) {
    ++state.dialCalls;
    std::strcpy(state.dialEntry, params->szEntryName);
    std::strcpy(state.dialPassword, params->szPassword);
    state.handleAtDial = *conn;
    state.notifierType = notifierType;
    state.notifierWindow = static_cast<HWND>(notifier);
    if (state.dialResult) return state.dialResult;
    *conn = RAS_DOUBLE_DIALED_HANDLE;
    const UINT msg = RegisterWindowMessageA("RASDIALEVENT");
    for (DWORD i = 0; i < state.dialEventCount; ++i)
        PostMessageA(state.notifierWindow, msg, state.dialStates[i], state.dialErrors[i]);
    return 0;
}

EXPORT DWORD WINAPI RasHangUpA(HRASCONN conn) {
    if (state.hangUpCount < 8) state.hangUpHandles[state.hangUpCount] = conn;
    ++state.hangUpCount;
    return 0;
}

EXPORT DWORD WINAPI RasGetErrorStringA(UINT code, LPSTR buffer, DWORD size) {
    state.errorStringCode = code;
    state.errorStringSize = size;
    if (state.errorStringResult) return state.errorStringResult;
    std::snprintf(buffer, size, "Double text for %u", code);
    return 0;
}
