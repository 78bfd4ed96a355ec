#pragma once
// The seconds counter that bounds every network and dial-up wait.
#include <windows.h>

#include <cstdint>
#include <memory>

#include "framework/classes.h"
#include "framework/timer.h"

namespace net {

// Seconds counter on a one-second window timer. It advances only while the
// GUI thread dispatches messages, which every wait of the transport does.
class TTimeCounter : public fw::TObject {
public:
    TTimeCounter();
    ~TTimeCounter() override;

    std::unique_ptr<fw::TTimer> Timer;
    std::int32_t Remaining = 0;
    std::int32_t TimeOut = 60;
    bool Expired = false;

    // Reloads Remaining. A running timer keeps its current period; Expired
    // stays as it is until the owner clears it.
    void Start();
    void Stop();
    // Ends a wait like Stop, but leaves the window timer set: SetTimer and
    // KillTimer are each a wineserver round trip under Wine, and a mailbox
    // check runs thousands of short waits back to back. A Start that follows
    // counts its first second afresh, as after Stop; a tick that finds the
    // counter paused stops the timer, so an idle counter ticks at most once.
    void Pause();
    bool Paused() const { return paused_; }
    void Tick(fw::TObject* Sender);

private:
    bool paused_ = false;
    // Set by a Start that resumed a paused counter: the timer's period began
    // before that Start, so a tick less than a second after it is not counted.
    bool resumed_ = false;
    ULONGLONG resumedAt_ = 0;
};

}  // namespace net
