#pragma once
// Runs user scripts on the main thread without freezing the host: while a
// script runs, a timer signals the main thread at a steady rate and the
// interpreter's own signal machinery calls back into the host, which turns
// its event loop and, when asked to, raises KeyboardInterrupt in the script.
// Between runs the interpreter lock is released so that the script's own
// threads keep running.
#include "pybridge/PyRef.h"
#include "pybridge/PythonTypes.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>

#include <sys/types.h>

namespace pybridge {

class TPythonEngine;

class TScriptSession {
public:
    explicit TScriptSession(TPythonEngine& engine);
    // Takes the interpreter lock back, so the engine can be finalised after.
    ~TScriptSession();
    TScriptSession(const TScriptSession&) = delete;
    TScriptSession& operator=(const TScriptSession&) = delete;

    // Once the engine is initialised: installs the tick handler, points
    // sys.executable at a matching interpreter and releases the lock.
    void Attach();
    bool Attached() const { return FAttached; }

    // One run: holds the interpreter lock and arms the tick timer for its
    // lifetime. A SIGINT that arrived between runs is dropped.
    class TRun {
    public:
        explicit TRun(TScriptSession& session);
        ~TRun();
        TRun(const TRun&) = delete;
        TRun& operator=(const TRun&) = delete;

    private:
        TScriptSession& FSession;
    };

    bool Running() const { return FRunning.load(); }
    // Raises KeyboardInterrupt in the running script at its next tick (at
    // once when it waits in a system call); nothing happens between runs.
    void RequestStop();
    // Whether the user asked the current (or the last) run to stop.
    bool StopRequested() const { return FStopRequested.load(); }

    // Makes a text known to the interpreter's line cache, so tracebacks show
    // its lines. Call during a run.
    void RegisterSource(const QString& fileName, const QByteArray& source);

    // Ends the session for good: takes the lock, waits up to `wait` for the
    // script's non-daemon threads and returns whether none is left. When one
    // is, the exit handlers are run here, since the interpreter must then
    // not be finalised (it would wait for the thread for ever).
    bool Shutdown(std::chrono::milliseconds wait);

    // Called on the main thread at every tick, without the interpreter lock:
    // the host turns its event loop here.
    std::function<void()> OnTick;
    // Called when a stop is requested (the host closes an open input box).
    std::function<void()> OnStopRequested;

    // After a Shutdown that left threads behind: runs the interpreter's exit
    // handlers, which a finalisation would otherwise have run.
    void RunExitHandlers();

    static std::chrono::milliseconds TickInterval() { return std::chrono::milliseconds(20); }
    static int TickSignal();

    // What the interpreter calls for the tick signal (the runtime's calling form).
    static PPyObject TickEntry(PPyObject self, PPyObject args);

private:
    PPyObject Tick() noexcept;
    void InstallTickHandler();
    void SetRunning(bool running);
    void DeleteTimer();
    void Acquire();
    void Release();
    // Runs code with a dictionary of its own, so nothing reaches the script's module.
    void RunPrivate(const QByteArray& code, PPyObject vars);

    TPythonEngine& FEngine;
    bool FAttached = false;
    bool FShutDown = false;
    bool FThreadsLeft = false;
    PyThreadState* FSavedState = nullptr;
    TPyRef FRegisterSource;
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FStopRequested{false};
    bool FStopRaised = false;
    bool FInTick = false;

    timer_t FTimer{};
    bool FTimerMade = false;
    pid_t FMainThreadId = 0;
};

} // namespace pybridge
