#include "pybridge/ScriptSession.h"

#include "pybridge/PyRef.h"
#include "pybridge/PythonEngine.h"
#include "pybridge/PythonIO.h"

#include "platform/ThreadSignalTimer.h"

#include <algorithm>
#include <array>
#include <cstdint>


namespace pybridge {

namespace {

TScriptSession* gTickSession = nullptr;

const char* const kInstallTick = "import signal\n"
                                 "signal.signal(signum, tick)\n";

// The script's subprocess and multiprocessing start the interpreter that
// matches the loaded runtime, never this program or some python3 on PATH; in
// a virtual environment, the environment's own.
const char* const kPrepareInterpreter =
    "import os, sys\n"
    "def _pick():\n"
    "    name = 'python%d.%d' % sys.version_info[:2]\n"
    "    for folder in (os.path.join(sys.base_prefix, 'bin'), '/usr/bin', '/usr/local/bin'):\n"
    "        path = os.path.join(folder, name)\n"
    "        if os.path.isfile(path) and os.access(path, os.X_OK):\n"
    "            return path\n"
    "    return ''\n"
    "sys._base_executable = _pick()\n"
    "if sys.prefix == sys.base_prefix or not os.path.isfile(sys.executable):\n"
    "    sys.executable = sys._base_executable\n"
    // Tracebacks go through the traceback module, which reads the line cache,
    // so they show the lines of scripts that exist only in the editor.
    "def _workbench_excepthook(t, v, tb):\n"
    "    import traceback\n"
    "    traceback.print_exception(t, v, tb)\n"
    "sys.excepthook = _workbench_excepthook\n"
    // The same for a thread's uncaught exception, in threading's own words.
    "import threading\n"
    "def _workbench_thread_excepthook(args):\n"
    "    if args.exc_type is SystemExit or sys.stderr is None:\n"
    "        return\n"
    "    name = args.thread.name if args.thread is not None else threading.get_ident()\n"
    "    print('Exception in thread %s:' % name, file=sys.stderr, flush=True)\n"
    "    _workbench_excepthook(args.exc_type, args.exc_value, args.exc_traceback)\n"
    "    sys.stderr.flush()\n"
    "threading.excepthook = _workbench_thread_excepthook\n";

// Defined once; every run calls them (compiling them per run would cost more
// than the run of a small script).
// - The line cache gets the text as python3 reads a file (line feeds only),
//   so the carets under a traceback's line stand where python3 puts them.
// - Each run starts as a fresh python3 process would: its standard streams
//   are the pane's again, whatever the last run put in their place, and the
//   warning filters and the record of warnings shown are the start-up ones.
//   The script's module has the empty name: its own deprecation warnings are
//   shown as python3 shows those of the main module.
// - Each run ends as a python3 process does: the streams are flushed, so a
//   wrapper the script put around them shows what it holds.
const char* const kRunHooks =
    "import io, linecache, sys, warnings\n"
    "def register_source(name, text):\n"
    "    lines = io.StringIO(text, newline=None).readlines()\n"
    "    entry = linecache.cache[name] = (len(text), None, lines, name)\n"
    "    return entry\n"
    "warnings.filterwarnings('default', category=DeprecationWarning, module=r'\\Z')\n"
    "_filters = list(warnings.filters)\n"
    "_mutated = getattr(warnings, '_filters_mutated', None)\n"
    "def begin_run():\n"
    "    for name in ('stdin', 'stdout', 'stderr'):\n"
    "        stream = getattr(sys, '__%s__' % name, None)\n"
    "        if stream is not None:\n"
    "            setattr(sys, name, stream)\n"
    "    warnings.filters[:] = _filters\n"
    "    if _mutated is not None:\n"
    "        _mutated()\n"
    "    warnings.onceregistry.clear()\n"
    "def end_run():\n"
    "    for stream in (sys.stdout, sys.stderr):\n"
    "        try:\n"
    "            stream.flush()\n"
    "        except Exception:\n"
    "            pass\n";

const char* const kJoinThreads =
    "import sys\n"
    "alive = False\n"
    "_t = sys.modules.get('threading')\n"
    "if _t is not None:\n"
    "    import time as _time\n"
    "    _deadline = _time.monotonic() + wait\n"
    "    _main = _t.main_thread()\n"
    "    for _th in _t.enumerate():\n"
    "        if _th is not _main and not _th.daemon:\n"
    "            _th.join(max(0.0, _deadline - _time.monotonic()))\n"
    "    alive = any(_th.is_alive() for _th in _t.enumerate() if _th is not _main and not _th.daemon)\n";

// What the handlers print is flushed: without a finalisation nothing else
// empties a buffered stream before the process ends.
const char* const kRunExitHandlers = "import atexit, sys\n"
                                     "try:\n"
                                     "    atexit._run_exitfuncs()\n"
                                     "finally:\n"
                                     "    for _s in (sys.stdout, sys.stderr):\n"
                                     "        try:\n"
                                     "            _s.flush()\n"
                                     "        except Exception:\n"
                                     "            pass\n";

PyMethodDef gTickDef = {"_workbench_tick", reinterpret_cast<void*>(&TScriptSession::TickEntry), METH_VARARGS, nullptr};

// What sys.gettrace() shows while a stop is forced.
const char* const kForcedStopMarker = "workbench: stop forced";

// The handler lines a forced stop let run, as (frame, line): each runs once.
// Fixed storage, so the trace function never allocates; once half full,
// no further line is let through.
class TLinesRun {
public:
    void Clear() noexcept
    {
        FSlots.fill(TSlot{});
        FCount = 0;
    }
    // True the first time a line of a frame is seen, and only then.
    bool FirstTime(const void* frame, int line) noexcept
    {
        if (FCount >= kSlots / 2)
            return false;
        const auto key = (reinterpret_cast<std::uintptr_t>(frame) >> 4) ^ (std::uintptr_t(unsigned(line)) << 20);
        std::size_t i = (key * 0x9E3779B97F4A7C15ULL) >> 52; // 12 bits: kSlots
        while (FSlots[i].frame) {
            if (FSlots[i].frame == frame && FSlots[i].line == line)
                return false;
            i = (i + 1) % kSlots;
        }
        FSlots[i] = TSlot{frame, line};
        ++FCount;
        return true;
    }

private:
    static constexpr std::size_t kSlots = 4096;
    struct TSlot {
        const void* frame = nullptr;
        int line = 0;
    };
    std::array<TSlot, kSlots> FSlots{};
    std::size_t FCount = 0;
};

// One for the tick session: only that one runs scripts.
TLinesRun gLinesRun;

} // namespace

int TScriptSession::TickSignal() { return platform::RealtimeSignal(5); }

TScriptSession::TScriptSession(TPythonEngine& engine) : FEngine(engine) {}

TScriptSession::~TScriptSession()
{
    DeleteTimer();
    if (gTickSession == this)
        gTickSession = nullptr;
    Acquire();
    // A finalised interpreter has freed the functions already.
    ForEachHeld([this](TPyRef& f) {
        if (f && !FEngine.Initialized())
            (void)f.Release();
        f.Reset();
    });
}

void TScriptSession::Acquire()
{
    if (FSavedState)
        FEngine.PyEval_RestoreThread(std::exchange(FSavedState, nullptr));
}

void TScriptSession::Release()
{
    if (!FSavedState)
        FSavedState = FEngine.PyEval_SaveThread();
}

void TScriptSession::RunPrivate(const QByteArray& code, PPyObject vars)
{
    FEngine.ExecString(code, vars, vars, QStringLiteral("<workbench>"));
}

void TScriptSession::Attach()
{
    if (FAttached || FShutDown)
        return;
    InstallTickHandler();
    // One private dictionary for both set-up scripts; only the source
    // registration function is kept from it.
    TPyRef vars = TPyRef::Steal(FEngine, FEngine.PyDict_New());
    RunPrivate(kPrepareInterpreter, vars.Get());
    RunPrivate(kRunHooks, vars.Get());
    FRegisterSource = TPyRef::Borrow(FEngine, FEngine.PyDict_GetItemString(vars.Get(), "register_source"));
    FBeginRun = TPyRef::Borrow(FEngine, FEngine.PyDict_GetItemString(vars.Get(), "begin_run"));
    FEndRun = TPyRef::Borrow(FEngine, FEngine.PyDict_GetItemString(vars.Get(), "end_run"));
    vars.Reset();

    gTickSession = this;
    // The timer signals the main thread itself, so the interpreter's handler
    // runs there; no thread of our own is needed.
    FTimer = std::make_unique<platform::TThreadSignalTimer>(TickSignal());
    FAttached = true;
    Release();
}

void TScriptSession::InstallTickHandler()
{
    const TPyRef tick = FEngine.StealOrRaise(FEngine.PyCFunction_NewEx(&gTickDef, nullptr, nullptr));
    const TPyRef vars = FEngine.StealOrRaise(FEngine.PyDict_New());
    const TPyRef signum = FEngine.StealOrRaise(FEngine.PyLong_FromLong(TickSignal()));
    FEngine.PyDict_SetItemString(vars.Get(), "tick", tick.Get());
    FEngine.PyDict_SetItemString(vars.Get(), "signum", signum.Get());
    RunPrivate(kInstallTick, vars.Get());
}

void TScriptSession::DeleteTimer()
{
    FRunning = false;
    FTimer.reset();
}

void TScriptSession::SetRunning(bool running)
{
    FRunning = running;
    if (!FTimer)
        return;
    if (running)
        FTimer->Start(FTickInterval);
    else
        FTimer->Stop();
}

PPyObject TScriptSession::TickEntry(PPyObject, PPyObject)
{
    TScriptSession* s = gTickSession;
    if (!s)
        return nullptr;
    return s->Tick();
}

PPyObject TScriptSession::Tick() noexcept
{
    TPythonEngine& e = FEngine;
    auto stopDue = [this] { return FRunning.load() && FStopRequested.load() && !FStopRaised; };
    if (!stopDue() && FRunning.load() && !FInTick) {
        FInTick = true;
        PyThreadState* state = e.PyEval_SaveThread();
        try {
            if (OnTick)
                OnTick();
        } catch (...) {
            // The host reports its own failures; the script goes on.
        }
        e.PyEval_RestoreThread(state);
        FInTick = false;
    }
    // The tick runs in the script's thread state, holding the lock: where the
    // trace of that thread can be set.
    if (FRunning.load() && FStopForced.load() && !FForced.traced)
        StartForcedStop();
    if (stopDue() || (FRunning.load() && ForcedStopWaits())) {
        FStopRaised = true;
        e.PyErr_SetNone(*e.PyExc_KeyboardInterrupt);
        return nullptr;
    }
    return e.ReturnNone().Release(); // the runtime takes it
}

void TScriptSession::RequestStop()
{
    if (!FRunning.load())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!FStopRequested.load())
        FFirstStopAt = now;
    else if (now - FFirstStopAt >= ForceDelay())
        FStopForced = true; // the script outlived a stop: the next tick forces the end
    // Every request raises once, also in a script that caught the last one.
    FStopRaised = false;
    FStopRequested = true;
    // Wakes a script that waits in a system call; the tick handler raises.
    platform::RaiseSignal(TickSignal());
    if (OnStopRequested)
        OnStopRequested();
}

namespace {

// The slot of a name among a few: its own, else a free one, else the first.
template <class TTable, class TKeep>
auto SlotFor(TTable& table, const QString& fileName, TKeep kept)
{
    auto slot = std::find_if(table.begin(), table.end(),
                             [&](const auto& s) { return kept(s) && s.FileName == fileName; });
    if (slot == table.end())
        slot = std::find_if(table.begin(), table.end(), [&](const auto& s) { return !kept(s); });
    if (slot == table.end())
        slot = table.begin();
    return slot;
}

} // namespace

bool TScriptSession::LineCacheHolds(const TRegisteredText& text) const
{
    TPythonEngine& e = FEngine;
    PPyObject module = e.PyDict_GetItemString(e.PyImport_GetModuleDict(), "linecache");
    if (!module)
        return false;
    const TPyRef cache = TPyRef::Steal(e, e.PyObject_GetAttrString(module, "cache"));
    if (!cache) {
        e.PyErr_Clear();
        return false;
    }
    return e.PyDict_Check(cache.Get()) && e.PyDict_GetItem(cache.Get(), text.Name.Get()) == text.Entry.Get();
}

void TScriptSession::RegisterSource(const QString& fileName, const QByteArray& source)
{
    if (!FRegisterSource)
        return;
    auto slot = SlotFor(FRegistered, fileName, [](const TRegisteredText& r) { return bool(r.Entry); });
    // Registering again costs a good part of a small run; the script may
    // have emptied the cache, though.
    if (slot->Entry && slot->FileName == fileName && slot->Source == source && LineCacheHolds(*slot))
        return;
    slot->Entry.Reset();
    TPyRef name = FEngine.PyUnicodeFromString(fileName);
    const TPyRef args = FEngine.StealOrRaise(FEngine.PyTuple_New(2));
    // PyTuple_SetItem takes the item's reference, also when it fails.
    FEngine.PyTuple_SetItem(args.Get(), 0, name.NewRef());
    FEngine.PyTuple_SetItem(args.Get(), 1,
                            FEngine.PyUnicode_FromStringAndSize(source.constData(), source.size()));
    if (FEngine.PyErr_Occurred())
        FEngine.CheckError(false);
    TPyRef entry = FEngine.StealOrRaise(FEngine.PyObject_CallObject(FRegisterSource.Get(), args.Get()));
    slot->FileName = fileName;
    slot->Source = source;
    slot->Name = std::move(name);
    slot->Entry = std::move(entry);
}

TPyRef TScriptSession::CompileScript(const QByteArray& source, const QString& fileName, int mode)
{
    auto slot = SlotFor(FCompiled, fileName, [](const TCompiledText& c) { return bool(c.Code); });
    if (slot->Code && slot->FileName == fileName && slot->Source == source && slot->Mode == mode)
        return TPyRef::Borrow(FEngine, slot->Code.Get());
    slot->Code.Reset();
    auto* io = dynamic_cast<TPythonInputOutput*>(FEngine.IO());
    const quint64 writes = io ? io->WriteCount() : 0;
    TPyRef code = FEngine.CompileCode(source, mode, fileName);
    if (!io || io->WriteCount() == writes) {
        slot->Code = TPyRef::Borrow(FEngine, code.Get());
        slot->FileName = fileName;
        slot->Source = source;
        slot->Mode = mode;
    }
    return code;
}

void TScriptSession::CallHook(const TPyRef& hook) noexcept
{
    if (!hook)
        return;
    TPythonEngine& e = FEngine;
    // A hook neither sees nor leaves an error: the run's own is reported by the host.
    PPyObject type = nullptr, value = nullptr, traceback = nullptr;
    e.PyErr_Fetch(&type, &value, &traceback);
    if (!TPyRef::Steal(e, e.PyObject_CallObject(hook.Get(), nullptr)))
        e.PyErr_Clear();
    e.PyErr_Restore(type, value, traceback);
}

int TScriptSession::FrameDepth() const noexcept
{
    TPythonEngine& e = FEngine;
    int depth = 0;
    TPyRef frame = TPyRef::Borrow(e, e.PyEval_GetFrame());
    while (frame && frame.Get() != e.Py_None) {
        ++depth;
        frame = TPyRef::Steal(e, e.PyObject_GetAttrString(frame.Get(), "f_back"));
    }
    if (!frame && e.PyErr_Occurred())
        e.PyErr_Clear();
    return depth;
}

bool TScriptSession::HandlingInterrupt() const noexcept
{
    TPythonEngine& e = FEngine;
    PPyObject t = nullptr, v = nullptr, tb = nullptr;
    e.PyErr_GetExcInfo(&t, &v, &tb);
    const TPyRef type = TPyRef::Steal(e, t), value = TPyRef::Steal(e, v), traceback = TPyRef::Steal(e, tb);
    return value && e.PyErr_GivenExceptionMatches(value.Get(), *e.PyExc_KeyboardInterrupt);
}

void TScriptSession::StartForcedStop() noexcept
{
    TPythonEngine& e = FEngine;
    FForced = TForcedStop{};
    FForced.depth = FrameDepth();
    FForced.checkedAt = std::chrono::steady_clock::now();
    gLinesRun.Clear();
    // The runtime keeps its own reference to the marker.
    const TPyRef marker = TPyRef::Steal(e, e.PyUnicode_FromString(kForcedStopMarker));
    if (!marker)
        e.PyErr_Clear();
    // Traces this thread only: the script's other threads go on as in any stop.
    e.PyEval_SetTrace(&TScriptSession::ForcedTrace, marker.Get());
    FForced.traced = true;
}

bool TScriptSession::ForcedStopWaits() noexcept
{
    if (!FForced.traced || FForced.depth <= 0)
        return false;
    // Measured over a whole interval: a signal raised by a stop request can
    // bring a tick right after the last one.
    const auto now = std::chrono::steady_clock::now();
    if (now - FForced.checkedAt < TickInterval())
        return false;
    const bool waits = FForced.lines == FForced.linesAtCheck;
    FForced.linesAtCheck = FForced.lines;
    FForced.checkedAt = now;
    return waits;
}

void TScriptSession::EndForcedStop() noexcept
{
    if (!FForced.traced)
        return;
    TPythonEngine& e = FEngine;
    // Setting a trace may run audit hooks, which must not see a pending error.
    PPyObject type = nullptr, value = nullptr, traceback = nullptr;
    e.PyErr_Fetch(&type, &value, &traceback);
    e.PyEval_SetTrace(nullptr, nullptr);
    e.PyErr_Restore(type, value, traceback);
    FForced = TForcedStop{};
}

int TScriptSession::ForcedTrace(PPyObject, PyFrameObject* frame, int what, PPyObject) noexcept
{
    TScriptSession* s = gTickSession;
    // Once the script's frames are gone, what runs is the host's (its
    // exception hook printing the traceback, say).
    if (!s || !s->FForced.traced || s->FForced.depth <= 0)
        return 0;
    switch (what) {
    case PyTrace_CALL: // also a generator resumed
        ++s->FForced.depth;
        return 0;
    case PyTrace_RETURN: // also a yield, and a frame left by an exception
        --s->FForced.depth;
        return 0;
    case PyTrace_LINE:
        ++s->FForced.lines;
        break;
    default:
        return 0;
    }
    TPythonEngine& e = s->FEngine;
    // Cleanup runs, once per line: a handler that swallows the interrupt or
    // loops reaches a line it ran, or one outside any handler, and meets it again.
    if (s->HandlingInterrupt() && gLinesRun.FirstTime(frame, e.PyFrame_GetLineNumber(frame)))
        return 0;
    e.PyErr_SetNone(*e.PyExc_KeyboardInterrupt);
    return -1;
}

TScriptSession::TRun::TRun(TScriptSession& session) : FSession(session)
{
    FSession.Acquire();
    FSession.FStopRequested = false;
    FSession.FStopRaised = false;
    FSession.FStopForced = false;
    // A SIGINT that arrived between runs belongs to no run.
    if (FSession.FEngine.PyErr_CheckSignals() < 0)
        FSession.FEngine.PyErr_Clear();
    FSession.CallHook(FSession.FBeginRun);
    FSession.SetRunning(true);
}

TScriptSession::TRun::~TRun()
{
    FSession.SetRunning(false);
    FSession.CallHook(FSession.FEndRun);
    // The forced stop belongs to this run only.
    FSession.EndForcedStop();
    FSession.Release();
}

bool TScriptSession::Shutdown(std::chrono::milliseconds wait)
{
    DeleteTimer();
    if (FShutDown)
        return !FThreadsLeft;
    FShutDown = true;
    if (!FAttached)
        return true;
    Acquire();
    ForEachHeld([](TPyRef& f) { f.Reset(); });
    try {
        TPyRef vars = TPyRef::Steal(FEngine, FEngine.PyDict_New());
        TPyRef seconds = TPyRef::Steal(FEngine, FEngine.PyFloat_FromDouble(double(wait.count()) / 1000.0));
        FEngine.PyDict_SetItemString(vars.Get(), "wait", seconds.Get());
        RunPrivate(kJoinThreads, vars.Get());
        PPyObject alive = FEngine.PyDict_GetItemString(vars.Get(), "alive");
        FThreadsLeft = alive && FEngine.PyObject_IsTrue(alive) == 1;
    } catch (const std::exception&) {
        // A broken threading module must not keep the program from ending.
        FThreadsLeft = false;
    }
    return !FThreadsLeft;
}

void TScriptSession::RunExitHandlers()
{
    TPyRef vars = TPyRef::Steal(FEngine, FEngine.PyDict_New());
    try {
        RunPrivate(kRunExitHandlers, vars.Get());
    } catch (const std::exception&) {
        // Their tracebacks went to the standard error stream already.
    }
}

} // namespace pybridge
