#pragma once
// Window-message timer. It ticks only while enabled, with a handler and a
// non-zero interval. Enabling it, or setting a different interval, restarts
// its count from that moment; setting the interval it already has changes
// nothing. A new timer is enabled with 1000 ms.
#include <windows.h>

#include <memory>

#include "framework/classes.h"
#include "framework/window.h"

namespace fw {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned value);
    void SetOnTimer(TNotifyEvent handler);

    // True while a window timer is really set.
    bool Running() const { return running_; }

private:
    void update();
    std::unique_ptr<TUtilWindow> window_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
    TNotifyEvent onTimer_;
    bool running_ = false;
};

}  // namespace fw
