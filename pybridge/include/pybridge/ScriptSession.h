#pragma once
// Runs user scripts on the main thread without freezing the host: while a
// script runs, a timer signals the main thread at a steady rate and the
// interpreter's own signal machinery calls back into the host, which turns
// its event loop and, when asked to, raises KeyboardInterrupt in the script.
// Between runs the interpreter lock is released so that the script's own
// threads keep running.
//
// A script may catch KeyboardInterrupt and go on. A further stop request, made
// at least ForceDelay() after the run's first one, then forces the end: until
// the run ends, a line-trace function raises KeyboardInterrupt at every new
// line of the script's main thread. Only the handlers of a KeyboardInterrupt
// get each of their lines run once (so `finally` blocks run their cleanup);
// a handler that swallows the interrupt or loops meets it again at once. A
// tick that finds the script ran no line since the last one (it waits in a
// call) raises it too.
#include "pybridge/PyRef.h"
#include "pybridge/PythonTypes.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

namespace platform {
class TThreadSignalTimer;
}

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
    // lifetime. A SIGINT that arrived between runs is dropped. A run starts
    // with the standard streams and warning filters the interpreter started
    // with, and flushes the streams at its end.
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
    // Every request raises once more; one made ForceDelay() or later after the
    // run's first forces the stop (see above). Call on the main thread.
    void RequestStop();
    // Whether the user asked the current (or the last) run to stop.
    bool StopRequested() const { return FStopRequested.load(); }
    // Whether the current (or the last) run was forced to stop.
    bool StopForced() const { return FStopForced.load(); }
    // How long a script has to end after a stop before a further request forces it.
    static std::chrono::milliseconds ForceDelay() { return std::chrono::seconds(1); }

    // Makes a text known to the interpreter's line cache, so tracebacks show
    // its lines. Call during a run. A text the cache still holds as it was
    // registered is left there.
    void RegisterSource(const QString& fileName, const QByteArray& source);

    // The code object of a text (call during a run); a compile error is
    // thrown (EPySyntaxError). The same text under the same name as the last
    // time gives the last code object again without compiling: a run of a
    // small script otherwise spends a good part of its time there. A few
    // names are kept apart (the script, the sample data). A compile that
    // wrote something (a SyntaxWarning) is not kept, so the warning shows at
    // every run.
    TPyRef CompileScript(const QByteArray& source, const QString& fileName, int mode = file_input);

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

    // How often a run's tick comes: the longest the host's events wait while
    // a script runs. Takes effect at the next run.
    std::chrono::milliseconds TickInterval() const { return FTickInterval; }
    void SetTickInterval(std::chrono::milliseconds interval) { FTickInterval = interval; }
    static std::chrono::milliseconds DefaultTickInterval() { return std::chrono::milliseconds(20); }
    static int TickSignal();

    // What the interpreter calls for the tick signal (the runtime's calling form).
    static PPyObject TickEntry(PPyObject self, PPyObject args);

private:
    PPyObject Tick() noexcept;
    // The forced stop's trace function (the runtime's calling form); runs
    // with the lock, on the traced thread, and never throws.
    static int ForcedTrace(PPyObject traceArg, PyFrameObject* frame, int what, PPyObject arg) noexcept;
    // Both with the lock, in the script's thread state.
    void StartForcedStop() noexcept;
    void EndForcedStop() noexcept;
    // At a tick of a forced stop: whether the script ran no line for a whole
    // tick interval, waiting in a call that only an interrupt ends.
    bool ForcedStopWaits() noexcept;
    int FrameDepth() const noexcept;
    bool HandlingInterrupt() const noexcept;
    void InstallTickHandler();
    void SetRunning(bool running);
    void DeleteTimer();
    void Acquire();
    void Release();
    // Runs code with a dictionary of its own, so nothing reaches the script's module.
    void RunPrivate(const QByteArray& code, PPyObject vars);
    // Calls a run hook with the lock held; never throws.
    void CallHook(const TPyRef& hook) noexcept;

    TPythonEngine& FEngine;
    bool FAttached = false;
    bool FShutDown = false;
    bool FThreadsLeft = false;
    std::chrono::milliseconds FTickInterval = DefaultTickInterval();
    PyThreadState* FSavedState = nullptr;
    TPyRef FRegisterSource;
    TPyRef FBeginRun;
    TPyRef FEndRun;
    // The last code compiled under each of a few file names (the script,
    // the sample data, the call), and the text it came from.
    struct TCompiledText {
        QString FileName;
        QByteArray Source;
        int Mode = 0;
        TPyRef Code;
    };
    std::array<TCompiledText, 3> FCompiled;
    // The last text registered under each of a few names, the name as a
    // Python text and the line cache's entry made for it.
    struct TRegisteredText {
        QString FileName;
        QByteArray Source;
        TPyRef Name;
        TPyRef Entry;
    };
    std::array<TRegisteredText, 2> FRegistered;
    // Whether the line cache still holds the entry registered.
    bool LineCacheHolds(const TRegisteredText& text) const;
    // Everything the session holds in the interpreter; a table that grows
    // is covered without a list to keep in step.
    template <class F>
    void ForEachHeld(F f)
    {
        for (TPyRef* hook : {&FRegisterSource, &FBeginRun, &FEndRun})
            f(*hook);
        for (TCompiledText& c : FCompiled)
            f(c.Code);
        for (TRegisteredText& r : FRegistered) {
            f(r.Name);
            f(r.Entry);
        }
    }
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FStopRequested{false};
    bool FStopRaised = false;
    bool FInTick = false;
    std::atomic<bool> FStopForced{false};
    std::chrono::steady_clock::time_point FFirstStopAt{};
    struct TForcedStop {
        bool traced = false;
        // The script's frames on the stack: the trace counts calls and
        // returns, and lets host code run once they are gone.
        int depth = 0;
        // Line events of the script, and their count at the last tick check.
        std::uint64_t lines = 0;
        std::uint64_t linesAtCheck = 0;
        std::chrono::steady_clock::time_point checkedAt{};
    } FForced;

    std::unique_ptr<platform::TThreadSignalTimer> FTimer;
};

} // namespace pybridge
