#include "framework/timer.h"

namespace fw {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    window_ = std::make_unique<TUtilWindow>([this](HWND, UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
        if (msg != WM_TIMER || wp != kTimerId) return false;
        // The handler may free this timer's owner; take a copy first.
        TNotifyEvent handler = onTimer_;
        if (handler) handler(this);
        result = 0;
        return true;
    });
}

TTimer::~TTimer() {
    if (running_) KillTimer(window_->Handle(), kTimerId);
}

void TTimer::update() {
    if (running_) KillTimer(window_->Handle(), kTimerId);
    running_ = false;
    if (enabled_ && interval_ != 0 && onTimer_) {
        running_ = SetTimer(window_->Handle(), kTimerId, interval_, nullptr) != 0;
    }
}

void TTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    update();
}

void TTimer::SetInterval(unsigned value) {
    if (value == interval_) return;
    interval_ = value;
    update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    update();
}

}  // namespace fw
