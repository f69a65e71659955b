// Bridge costs next to the raw C API they wrap.
#include "pybridge/PythonEngine.h"

#include <benchmark/benchmark.h>

#include <QFileInfo>
#include <QString>

#include <chrono>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace pybridge;

namespace {

TPythonEngine& Engine()
{
    static std::unique_ptr<TPythonEngine> engine = [] {
        auto e = std::make_unique<TPythonEngine>();
        const QFileInfo lib(QStringLiteral(PYBENCH_LIBPYTHON));
        e->SetUseLastKnownVersion(false);
        e->SetDllPath(lib.absolutePath());
        e->SetDllName(lib.fileName());
        e->LoadDll();
        return e;
    }();
    return *engine;
}

double RunProcessSeconds(const char* path)
{
    char* argv[] = {const_cast<char*>(path), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, path, nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reference: the linked program's whole run minus an empty program's run, i.e.
// loading the runtime plus Py_Initialize.
void BM_Reference_LinkedPyInitialize(benchmark::State& state)
{
    for (auto _ : state) {
        const double linked = RunProcessSeconds(PYBENCH_LINKED_PROBE);
        const double empty = RunProcessSeconds(PYBENCH_EMPTY_PROBE);
        state.SetIterationTime(linked - empty);
    }
}
BENCHMARK(BM_Reference_LinkedPyInitialize)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// The bridge: LoadDll (load, bind 371 names, start) measured inside a fresh
// process; with the argument 1, the workbench's search of the system's
// runtimes, newest supported first.
void BM_Bridge_LoadDll(benchmark::State& state)
{
    const char* command = state.range(0) ? PYBENCH_LOAD_PROBE " search" : PYBENCH_LOAD_PROBE;
    for (auto _ : state) {
        FILE* p = popen(command, "r");
        long long ns = -1;
        if (p) {
            if (std::fscanf(p, "%lld", &ns) != 1)
                ns = -1;
            pclose(p);
        }
        if (ns < 0) {
            state.SkipWithError("probe failed");
            return;
        }
        state.SetIterationTime(static_cast<double>(ns) * 1e-9);
    }
}
BENCHMARK(BM_Bridge_LoadDll)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_Raw_CompileAndEval(benchmark::State& state)
{
    TPythonEngine& e = Engine();
    PPyObject dict = e.PyModule_GetDict(e.PyImport_AddModule("__main__"));
    for (auto _ : state) {
        const TPyRef code = TPyRef::Steal(e, e.Py_CompileString("bench_x = 1 + 2\n", "<string>", file_input));
        TPyRef::Steal(e, e.PyEval_EvalCode(code.Get(), dict, dict));
    }
}
BENCHMARK(BM_Raw_CompileAndEval);

void BM_Bridge_ExecString(benchmark::State& state)
{
    TPythonEngine& e = Engine();
    const QByteArray command("bench_x = 1 + 2");
    for (auto _ : state)
        e.ExecString(command);
}
BENCHMARK(BM_Bridge_ExecString);

QByteArray MixedText()
{
    // About 1 MB of UTF-8: ASCII words and Japanese phrases.
    const QByteArray piece = QStringLiteral("data record 42: 変換スクリプトの出力テスト, value=3.14; ").toUtf8();
    QByteArray text;
    while (text.size() < 1024 * 1024)
        text += piece;
    return text;
}

void BM_Reference_QStringFromUtf8(benchmark::State& state)
{
    const QByteArray utf8 = MixedText();
    for (auto _ : state) {
        QString s = QString::fromUtf8(utf8);
        benchmark::DoNotOptimize(s.constData());
    }
    state.SetBytesProcessed(state.iterations() * utf8.size());
}
BENCHMARK(BM_Reference_QStringFromUtf8);

void BM_Bridge_PyObjectAsString(benchmark::State& state)
{
    TPythonEngine& e = Engine();
    const QByteArray utf8 = MixedText();
    const TPyRef str = TPyRef::Steal(e, e.PyUnicode_FromStringAndSize(utf8.constData(), utf8.size()));
    for (auto _ : state) {
        QString s = e.PyObjectAsString(str.Get());
        benchmark::DoNotOptimize(s.constData());
    }
    state.SetBytesProcessed(state.iterations() * utf8.size());
}
BENCHMARK(BM_Bridge_PyObjectAsString);

} // namespace

BENCHMARK_MAIN();
