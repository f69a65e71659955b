#include "platform/ThreadSignalTimer.h"

#include <csignal>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

static_assert(sizeof(timer_t) <= sizeof(void*));

TThreadSignalTimer::TThreadSignalTimer(int signal)
{
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal;
    event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
    timer_t timer{};
    FValid = timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
    if (FValid)
        FTimer = reinterpret_cast<void*>(timer);
}

TThreadSignalTimer::~TThreadSignalTimer()
{
    if (FValid)
        timer_delete(reinterpret_cast<timer_t>(FTimer));
}

void TThreadSignalTimer::Start(std::chrono::nanoseconds interval)
{
    if (!FValid)
        return;
    itimerspec timing{};
    timing.it_value.tv_sec = static_cast<time_t>(interval.count() / 1000000000);
    timing.it_value.tv_nsec = static_cast<long>(interval.count() % 1000000000);
    timing.it_interval = timing.it_value;
    timer_settime(reinterpret_cast<timer_t>(FTimer), 0, &timing, nullptr);
}

void TThreadSignalTimer::Stop()
{
    if (!FValid)
        return;
    const itimerspec disarmed{};
    timer_settime(reinterpret_cast<timer_t>(FTimer), 0, &disarmed, nullptr);
}

void RaiseSignal(int signal) { raise(signal); }

int RealtimeSignal(int offset) { return SIGRTMIN + offset; }

} // namespace platform
