#pragma once
// The scripted state of the rasapi32.dll stand-in: what its functions answer
// and what they were called with.
#include <windows.h>

struct RasDoubleState {
    // Answers: the phone book, results, and the dial notifications (state,
    // error) that RasDialA posts to its window.
    DWORD entryCount, dialResult, errorStringResult, dialEventCount, dialStates[8], dialErrors[8];
    char entries[8][257];
    // What the calls saw.
    DWORD entriesSizeSeen, connsSizeSeen, hangUpCount;
    char dialEntry[257], dialPassword[257];
    HANDLE lastHangUp;
    HWND notifierWindow;
    BOOL setRemovePassword;
};

// The handle RasDialA gives a new connection.
#define RAS_DOUBLE_DIALED_HANDLE ((HANDLE)(UINT_PTR)0x5000)

typedef RasDoubleState*(WINAPI* RasDoubleControlFn)();
