// Program start to the main window shown: runs the start probe (the real
// start-up path, offscreen, with a stored ten-entry history) as a child process.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

void WriteHistory(const QString& configHome)
{
    const QString key = configHome + QStringLiteral("/quorbel/registry/Software/OpnFilHs/OFH");
    QDir().mkpath(key);
    QFile f(key + QStringLiteral("/values.reg"));
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
    QByteArray value;
    for (int i = 0; i < 10; ++i)
        value += "/home/user/scripts/conversion_" + QByteArray::number(i) + ".py\\r\\n";
    f.write("QUORBEL-REGISTRY 1\n\"Quorbel\"=sz:\"" + value + "\"\n");
}

void BM_StartToWindowShown(benchmark::State& state)
{
    QTemporaryDir home;
    WriteHistory(home.path());
    setenv("XDG_CONFIG_HOME", home.path().toUtf8().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char* argv[] = {const_cast<char*>(QUORBEL_PROBE), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, QUORBEL_PROBE, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start the probe");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("probe failed");
            return;
        }
    }
}

} // namespace

BENCHMARK(BM_StartToWindowShown)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(5)->ReportAggregatesOnly(false);

BENCHMARK_MAIN();
