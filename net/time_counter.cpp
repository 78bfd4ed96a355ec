#include "net/time_counter.h"

namespace net {

TTimeCounter::TTimeCounter() : Timer(std::make_unique<fw::TTimer>(nullptr)) {
    Timer->SetEnabled(false);
    Timer->SetInterval(1000);
    Timer->SetOnTimer([this](fw::TObject* sender) { Tick(sender); });
}

TTimeCounter::~TTimeCounter() = default;

void TTimeCounter::Start() {
    Remaining = TimeOut;
    if (paused_) {
        paused_ = false;
        resumed_ = true;
        resumedAt_ = GetTickCount64();
        return;
    }
    Timer->SetEnabled(true);
}

void TTimeCounter::Stop() {
    paused_ = false;
    resumed_ = false;
    Timer->SetEnabled(false);
    Timer->SetInterval(1000);
}

void TTimeCounter::Pause() {
    if (Timer->Enabled()) paused_ = true;
}

void TTimeCounter::Tick(fw::TObject*) {
    if (paused_) {
        Stop();
        return;
    }
    if (resumed_) {
        // This period began before the Start: wait out the rest of a whole
        // second from the Start, then tick once a second again.
        const ULONGLONG since = GetTickCount64() - resumedAt_;
        if (since < 990) {
            Timer->SetInterval(static_cast<unsigned>(1000 - since));
            return;
        }
        resumed_ = false;
        Timer->SetInterval(1000);
    }
    --Remaining;
    if (Remaining <= 0) Expired = true;
}

}  // namespace net
