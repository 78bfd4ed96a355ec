#pragma once
// The scripted state of the rasapi32.dll stand-in: what its functions answer
// and what they were called with.
#include <windows.h>

struct RasDoubleState {
    // Phone book and active connections.
    DWORD entryCount;
    char entries[8][257];
    DWORD connCount;
    HANDLE connHandles[8];
    char connNames[8][257];
    char connIps[8][16];
    // Results the functions return.
    DWORD enumEntriesResult;
    DWORD enumConnsResult;
    DWORD projectionResult;
    DWORD getParamsResult;
    DWORD setParamsResult;
    DWORD dialResult;
    DWORD errorStringResult;
    BOOL storedPassword;
    // Dial notifications that RasDialA posts to its window: (state, error).
    DWORD dialEventCount;
    DWORD dialStates[8];
    DWORD dialErrors[8];
    // What the functions saw.
    DWORD entriesSizeSeen;
    DWORD connsSizeSeen;
    DWORD getParamsSizeSeen;
    DWORD dialCalls;
    char dialEntry[257];
    char dialPassword[257];
    HANDLE handleAtDial;
    DWORD notifierType;
    HWND notifierWindow;
    DWORD setCalls;
    char setPassword[257];
    BOOL setRemovePassword;
    DWORD hangUpCount;
    HANDLE hangUpHandles[8];
    DWORD errorStringCode;
    DWORD errorStringSize;
};

// The handle RasDialA gives a new connection.
#define RAS_DOUBLE_DIALED_HANDLE ((HANDLE)(UINT_PTR)0x5000)

typedef RasDoubleState*(WINAPI* RasDoubleControlFn)();
