#pragma once
// A steady timer whose every expiry sends a signal to one thread: the thread
// that made it. Its handler then runs on that thread, interrupting what the
// thread waits for, without a thread of the timer's own.
#include <chrono>

namespace platform {

class TThreadSignalTimer {
public:
    explicit TThreadSignalTimer(int signal);
    ~TThreadSignalTimer();
    TThreadSignalTimer(const TThreadSignalTimer&) = delete;
    TThreadSignalTimer& operator=(const TThreadSignalTimer&) = delete;

    // False when the system refused a timer; starting it then does nothing.
    bool Valid() const { return FValid; }
    void Start(std::chrono::nanoseconds interval);
    void Stop();

private:
    void* FTimer = nullptr; // the system's timer id
    bool FValid = false;
};

// Sends a signal to the calling thread, as a timer expiry would.
void RaiseSignal(int signal);
// The real-time signal this far above the lowest one.
int RealtimeSignal(int offset);

} // namespace platform
