// The run button measured through the real window (offscreen), side by side
// with the same work in a fresh process of the system's interpreter of the same version.
#include "app/RecoveryJournal.h"
#include "app/SDIMain.h"
#include "WorkbenchMain.h"
#include "app/TestRun.h"
#include "platform/Process.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
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

// The program's descriptors 1 and 2 go to the pane, as in the workbench, for
// the benchmark's lifetime only: the report is written to them after it.
struct TCaptured {
    TCaptured() { gForm->SetProcessOutputCapture(true); }
    ~TCaptured() { gForm->SetProcessOutputCapture(false); }
};

const QString kChildScript = QStringLiteral(
    "import subprocess, sys\r\n"
    "subprocess.run([sys.executable, '-E', '-c', \"for i in range(100000): print('%1')\"])\r\n"
    "def func1(*a):\r\n"
    "    return 'done'").arg(QString(80, u'x'));

void Click(benchmark::State& state)
{
    gForm->Memo1->clear();
    gForm->ToolButton5->click();
    if (gForm->Memo1->toPlainText().isEmpty())
        state.SkipWithError("the run failed");
}

// Runs the system's python3.X (the interpreter matching our runtime, by its
// absolute path, ignoring PYTHON* variables) on a file; the script's output goes to /dev/null.
void RunPython(benchmark::State& state, const QString& file)
{
    const QByteArray path = file.toUtf8();
    // -E: the machine's PYTHON* variables (PYTHONUNBUFFERED, say) must not change the reference.
    char* argv[] = {const_cast<char*>(QUORBEL_BENCH_PYTHON), const_cast<char*>("-E"), const_cast<char*>(path.constData()),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) {
        state.SkipWithError("cannot start " QUORBEL_BENCH_PYTHON);
        return;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        state.SkipWithError(QUORBEL_BENCH_PYTHON " failed");
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
    TCaptured captured;
    gForm->SetEditorText(gForm->SysScript());
    gForm->SpinEdit1->setValue(1);
    Click(state); // loads the runtime once
    for (auto _ : state)
        Click(state);
}
BENCHMARK(BM_WarmRunDefaultScript)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// The journal's file is replaced (a new inode) by every write.
ino_t JournalInode()
{
    struct stat st;
    return ::stat(QFile::encodeName(gForm->Journal().Path()).constData(), &st) == 0 ? st.st_ino : 0;
}

// The same warm run, counting the journal writes the runs caused: with the
// text unchanged since the last journal there should be none.
void BM_WarmRunDefaultScriptJournalWrites(benchmark::State& state)
{
    gForm->SetEditorText(gForm->SysScript());
    gForm->SpinEdit1->setValue(1);
    Click(state);
    int writes = 0;
    for (auto _ : state) {
        const ino_t before = JournalInode();
        Click(state);
        writes += JournalInode() != before;
    }
    state.counters["journal_writes"] = writes;
}
BENCHMARK(BM_WarmRunDefaultScriptJournalWrites)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// What the journal adds to every such run: the window's BeginRun and EndRun
// when the text has not changed since the last journal (no text written; the
// lock file records the running function and is cleared again).
void BM_JournalBeginEndRunUnchanged(benchmark::State& state)
{
    gForm->SetEditorText(gForm->SysScript());
    TRecoveryJournal& journal = gForm->Journal();
    journal.WriteNow();
    const ino_t before = JournalInode();
    for (auto _ : state) {
        journal.BeginRun(QStringLiteral("func1"));
        journal.EndRun();
    }
    state.counters["journal_writes"] = JournalInode() != before;
}
BENCHMARK(BM_JournalBeginEndRunUnchanged)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

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

// Runs func1 of a script once per iteration, its output captured; the pane's lines after.
QStringList ClickCaptured(benchmark::State& state, const QString& script)
{
    TCaptured captured;
    gForm->SetEditorText(script);
    gForm->SpinEdit1->setValue(1);
    for (auto _ : state)
        Click(state);
    const QStringList lines = gForm->mePythonOutput->toPlainText().split(u'\n');
    state.counters["pane_lines"] = lines.size();
    return lines;
}

void BM_HundredThousandPrintedLinesToPane(benchmark::State& state) { ClickCaptured(state, kPrintScript); }
BENCHMARK(BM_HundredThousandPrintedLinesToPane)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_Python3HundredThousandPrintedLinesToDevNull(benchmark::State& state)
{
    const QString file = WriteScript(QStringLiteral("print.py"), kPrintScript);
    for (auto _ : state)
        RunPython(state, file);
}
BENCHMARK(BM_Python3HundredThousandPrintedLinesToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

// A child process prints 100,000 lines of 80 characters; they reach the pane
// through the captured descriptors.
void BM_ChildHundredThousandLinesToPane(benchmark::State& state)
{
    if (ClickCaptured(state, kChildScript).last() != QString(80, u'x'))
        state.SkipWithError("the child's last line is not in the pane");
}
BENCHMARK(BM_ChildHundredThousandLinesToPane)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);

// The same script in python3.X, its output read by cat into /dev/null.
void BM_Python3ChildHundredThousandLinesToCat(benchmark::State& state)
{
    const QByteArray file = WriteScript(QStringLiteral("child.py"), kChildScript).toUtf8();
    const QByteArray command = QUORBEL_BENCH_PYTHON " -E '" + file + "' | cat >/dev/null";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(command.constData()),
                    nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start /bin/sh");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError(QUORBEL_BENCH_PYTHON " failed");
    }
}
BENCHMARK(BM_Python3ChildHundredThousandLinesToCat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);

// From the stop command to the end of the run, for a pure-Python loop; the
// stop fires from a timer while the loop runs, as a click would.
void BM_StopLatencyPureLoop(benchmark::State& state)
{
    gForm->SetEditorText(QStringLiteral("while True:\r\n    pass"));
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer sinceStop;
        QTimer::singleShot(30, gForm, [&] {
            sinceStop.start();
            gForm->StopRun();
        });
        gForm->ToolButton5->click();
        const double elapsed = double(sinceStop.nsecsElapsed()) / 1e6;
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["max_ms"] = ms.back();
}
BENCHMARK(BM_StopLatencyPureLoop)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    return RunWorkbenchBenchmarks(argc, argv, gForm, &gDir);
}
