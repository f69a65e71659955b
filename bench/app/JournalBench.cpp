// The recovery journal of a one-million-line script in the real window: the
// main thread's share of a journal write (the snapshot the window takes, and
// the whole hand-over from NoteEdit to the job queued for the writer), and
// the background writer's own time for the same text.
#include "BenchCorpus.h"
#include "app/RecoveryJournal.h"
#include "app/SDIMain.h"
#include "app/Startup.h"
#include "platform/FileIO.h"
#include "widgets/CodeEditorControl.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Page faults of the calling thread so far: fresh memory costs a fault per
// page, which is dear on a virtual machine.
long MinorFaults()
{
    struct rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

TSDIAppForm* gForm = nullptr;
QTemporaryDir* gDir = nullptr;

// The journal's timer is private and fires on its own after WriteDelayMs():
// the hand-over is timed as the whole delivery of the timer event during
// which the journal asked for its snapshot.
int gSnapshotsTaken = 0;
std::function<void(double deliveryMs, long faults)> gOnHandOver;

class TTimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (event->type() != QEvent::Timer)
            return QApplication::notify(receiver, event);
        const int before = gSnapshotsTaken;
        const long faults = MinorFaults();
        const auto t0 = Clock::now();
        const bool done = QApplication::notify(receiver, event);
        const double ms = Ms(Clock::now() - t0);
        if (gSnapshotsTaken != before && gOnHandOver)
            gOnHandOver(ms, MinorFaults() - faults);
        return done;
    }
};

void Summarise(benchmark::State& state, const char* name, std::vector<double> ms)
{
    state.counters[std::string(name) + "_first_ms"] = ms.front();
    std::sort(ms.begin(), ms.end());
    state.counters[std::string(name) + "_median_ms"] = ms[ms.size() / 2];
    state.counters[std::string(name) + "_max_ms"] = ms.back();
}

// (a) The window's SnapshotSource on its own: the lines' references copied out
// of the editor's line buffer. Releasing them is the writer's work, not timed.
void BM_WindowSnapshot(benchmark::State& state)
{
    TRecoveryJournal& journal = gForm->Journal();
    std::vector<double> ms;
    long faults = 0;
    for (auto _ : state) {
        const long faultsBefore = MinorFaults();
        const auto t0 = Clock::now();
        TJournalSnapshot s = journal.SnapshotSource();
        const auto t1 = Clock::now();
        faults += MinorFaults() - faultsBefore;
        benchmark::DoNotOptimize(s.lines.data());
        ms.push_back(Ms(t1 - t0));
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        state.counters["lines"] = double(s.lines.size());
    }
    Summarise(state, "snapshot", ms);
    state.counters["faults_per_snapshot"] = double(faults) / double(ms.size());
}
BENCHMARK(BM_WindowSnapshot)->Name("Journal1M/MainThread/WindowSnapshot")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// (b) The whole hand-over on the main thread: NoteEdit, then the timer's
// delivery (Due: the snapshot, the meta data, the job queued and the writer
// woken). Each iteration waits the journal's real delay; the writer is let
// finish (WriteNow, untimed) before the next edit.
void BM_HandOver(benchmark::State& state)
{
    TRecoveryJournal& journal = gForm->Journal();
    const std::function<TJournalSnapshot()> windowSource = journal.SnapshotSource;
    double lastSnapshotMs = 0;
    journal.SnapshotSource = [&] {
        ++gSnapshotsTaken;
        const auto t0 = Clock::now();
        TJournalSnapshot s = windowSource();
        lastSnapshotMs = Ms(Clock::now() - t0);
        return s;
    };
    journal.WriteNow();
    std::vector<double> noteEdit, delivery, inSnapshot, rest, total;
    long faults = 0;
    for (auto _ : state) {
        QEventLoop loop;
        double dueMs = -1;
        gOnHandOver = [&](double ms, long dueFaults) {
            dueMs = ms;
            faults += dueFaults;
            inSnapshot.push_back(lastSnapshotMs);
            rest.push_back(ms - lastSnapshotMs);
            loop.quit();
        };
        const auto t0 = Clock::now();
        journal.NoteEdit();
        const double noteMs = Ms(Clock::now() - t0);
        QTimer::singleShot(3 * TRecoveryJournal::WriteDelayMs(), &loop, &QEventLoop::quit);
        loop.exec();
        gOnHandOver = nullptr;
        if (dueMs < 0) {
            state.SkipWithError("the journal's timer did not take a snapshot");
            break;
        }
        noteEdit.push_back(noteMs);
        delivery.push_back(dueMs);
        total.push_back(noteMs + dueMs);
        state.SetIterationTime((noteMs + dueMs) / 1000.0);
        journal.WriteNow();
    }
    journal.SnapshotSource = windowSource;
    if (total.empty())
        return;
    Summarise(state, "noteedit", noteEdit);
    Summarise(state, "due", delivery);
    Summarise(state, "snapshot_in_due", inSnapshot);
    Summarise(state, "due_besides_snapshot", rest);
    Summarise(state, "handover", total);
    state.counters["faults_per_due"] = double(faults) / double(total.size());
}
BENCHMARK(BM_HandOver)->Name("Journal1M/MainThread/NoteEditToJobQueued")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

// For information: what the background writer does with the same snapshot
// (join + compare + encode, then the atomic write with its fsyncs, then the
// release of the line references). The baseline is the text itself, as for
// a file opened and not yet changed, so the comparison runs to the end.
void BM_Writer(benchmark::State& state)
{
    TRecoveryJournal& journal = gForm->Journal();
    const QString path = gDir->filePath(QStringLiteral("writer-bench.journal"));
    std::vector<double> encode, write, release;
    for (auto _ : state) {
        auto s = std::make_unique<TJournalSnapshot>(journal.SnapshotSource());
        s->baseline = bench::MillionLineText();
        const auto t0 = Clock::now();
        const QByteArray bytes = EncodeJournal(*s);
        const auto t1 = Clock::now();
        platform::WriteFileAtomically(path, bytes);
        const auto t2 = Clock::now();
        s.reset();
        const auto t3 = Clock::now();
        encode.push_back(Ms(t1 - t0));
        write.push_back(Ms(t2 - t1));
        release.push_back(Ms(t3 - t2));
        state.SetIterationTime(std::chrono::duration<double>(t3 - t0).count());
        state.counters["journal_MB"] = double(bytes.size()) / 1e6;
    }
    Summarise(state, "encode", encode);
    Summarise(state, "write_fsync", write);
    Summarise(state, "release", release);
}
BENCHMARK(BM_Writer)->Name("Journal1M/Writer/EncodeWriteFsync")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // On the normal disk (not a memory file system), so fsync costs what it costs.
    QTemporaryDir dir(QStringLiteral("/var/tmp/quorbel-journal-bench-XXXXXX"));
    gDir = &dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8());
    TTimedApplication app(argc, argv);
    PrepareApplication(app);
    gForm = CreateWorkbench();
    gForm->show();
    gForm->SetEditorText(bench::MillionLineText());
    std::printf("text: %lld UTF-16 units in %d lines; journal in %s\n", (long long)bench::MillionLineText().size(),
                gForm->sePythonCode->Engine().Lines().Count(), qPrintable(gForm->Journal().Path()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete gForm;
    return 0;
}
