#include "app/LiveRun.h"

#include <algorithm>

namespace {

// How often a stop is asked for again once the limit is reached: a request
// made a second or more after the first forces the end.
constexpr int kRepeatStopMs = 1000;

} // namespace

TLiveSchedule::TLiveSchedule(QObject* parent) : QObject(parent)
{
    FPause.setSingleShot(true);
    FPause.setInterval(FSettings.DelayMs);
    connect(&FPause, &QTimer::timeout, this, [this] {
        if (FEnabled && !FPaused && OnRunDue)
            OnRunDue();
    });
    connect(&FLimit, &QTimer::timeout, this, [this] {
        FLimitReached = true;
        FLimit.setInterval(kRepeatStopMs);
        if (OnLimit)
            OnLimit();
    });
}

void TLiveSchedule::SetSettings(const TLiveSettings& settings)
{
    FSettings = settings;
    FSettings.DelayMs = std::clamp(FSettings.DelayMs, 0, 60000);
    FSettings.TimeLimitMs = std::clamp(FSettings.TimeLimitMs, 50, 600000);
    FPause.setInterval(FSettings.DelayMs);
}

void TLiveSchedule::SetEnabled(bool on)
{
    FEnabled = on;
    FPaused = false;
    if (!on)
        FPause.stop();
}

void TLiveSchedule::Edited()
{
    if (!FEnabled)
        return;
    FPaused = false;
    FPause.start();
}

void TLiveSchedule::Retry()
{
    if (FEnabled && !FPaused)
        FPause.start();
}

void TLiveSchedule::RunStarted()
{
    FRunning = true;
    FRunClock.start();
    ++FStarted;
    FLimitReached = false;
    FLimit.start(FSettings.TimeLimitMs);
}

void TLiveSchedule::RunEnded()
{
    FRunning = false;
    FLimit.stop();
}

void TLiveSchedule::Pause()
{
    FPaused = true;
    FPause.stop();
}
