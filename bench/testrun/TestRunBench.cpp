// The run button measured through the real window (offscreen), side by side
// with the same work in a fresh python3 process.
#include "app/SDIMain.h"
#include "app/Startup.h"
#include "app/TestRun.h"
#include "platform/Process.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

TSDIAppForm* gForm = nullptr;
QTemporaryDir* gDir = nullptr;

const QString kPrintScript = QStringLiteral(
    "for i in range(100000):\r\n"
    "    print('%1')\r\n"
    "def func1(*a):\r\n"
    "    return 'done'").arg(QString(80, u'x'));

void Click(benchmark::State& state)
{
    gForm->Memo1->clear();
    gForm->ToolButton5->click();
    if (gForm->Memo1->toPlainText().isEmpty())
        state.SkipWithError("the run failed");
}

// Runs python3 on a file; the script's output goes to /dev/null.
void RunPython(benchmark::State& state, const QString& file)
{
    const QByteArray path = file.toUtf8();
    char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(path.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "python3", &actions, nullptr, argv, environ) != 0) {
        state.SkipWithError("cannot start python3");
        return;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        state.SkipWithError("python3 failed");
}

QString WriteScript(const QString& name, const QString& body)
{
    const QString path = gDir->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    f.write(text.toUtf8());
    return path;
}

void BM_WarmRunDefaultScript(benchmark::State& state)
{
    gForm->SetEditorText(gForm->SysScript());
    gForm->SpinEdit1->setValue(1);
    Click(state); // loads the runtime once
    for (auto _ : state)
        Click(state);
}
BENCHMARK(BM_WarmRunDefaultScript)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

void BM_Python3FreshProcessDefaultScript(benchmark::State& state)
{
    const QString file = WriteScript(QStringLiteral("default.py"),
                                     gForm->SysScript() + QStringLiteral("\n") + SampleDataAssignment()
                                         + QStringLiteral("\nprint(")
                                         + CallExpression(1, platform::UniversalSecondsNow()) + u')');
    for (auto _ : state)
        RunPython(state, file);
}
BENCHMARK(BM_Python3FreshProcessDefaultScript)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

void BM_HundredThousandPrintedLinesToPane(benchmark::State& state)
{
    gForm->SetEditorText(kPrintScript);
    gForm->SpinEdit1->setValue(1);
    for (auto _ : state)
        Click(state);
    state.counters["pane_lines"] = gForm->mePythonOutput->document()->blockCount();
}
BENCHMARK(BM_HundredThousandPrintedLinesToPane)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_Python3HundredThousandPrintedLinesToDevNull(benchmark::State& state)
{
    const QString file = WriteScript(QStringLiteral("print.py"), kPrintScript);
    for (auto _ : state)
        RunPython(state, file);
}
BENCHMARK(BM_Python3HundredThousandPrintedLinesToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    gDir = &dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    PrepareApplication(app);
    gForm = CreateWorkbench();
    gForm->show();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete gForm;
    return 0;
}
