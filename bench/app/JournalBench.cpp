// The recovery journal of a one-million-line script in the real window: the
// main thread's share of a journal write (the copy of the lines, a slice at a
// time, and the whole hand-over from NoteEdit to the job queued for the
// writer), and the background writer's own time for the same text.
#include "BenchCorpus.h"
#include "app/LineSnapshot.h"
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
#include <limits>
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

// The journal's timers are private and fire on their own: the delay after
// an edit, then one event per slice of the copy. Every delivery of either is
// the main thread's time spent on journaling.
std::function<void(double deliveryMs, long faults)> gOnJournalEvent;

class TTimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (event->type() != QEvent::Timer || !receiver->objectName().startsWith(QLatin1String("journal-")))
            return QApplication::notify(receiver, event);
        const long faults = MinorFaults();
        const auto t0 = Clock::now();
        const bool done = QApplication::notify(receiver, event);
        if (gOnJournalEvent)
            gOnJournalEvent(Ms(Clock::now() - t0), MinorFaults() - faults);
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

// (a) The copy of the lines on its own: slices of TRecoveryJournal::SliceLines()
// lines into room made beforehand, as the journal takes them. Releasing them
// is the writer's work, not timed.
void BM_CopyInSlices(benchmark::State& state)
{
    const editor::TLineBuffer& lines = std::as_const(*gForm->sePythonCode).Engine().Lines();
    std::vector<double> slice, whole;
    long faults = 0;
    for (auto _ : state) {
        TLineSnapshot copy(lines);
        copy.Start(std::vector<QString>(size_t(lines.Count())));
        const long faultsBefore = MinorFaults();
        double sum = 0;
        for (bool done = false; !done;) {
            const auto t0 = Clock::now();
            done = copy.Step(TRecoveryJournal::SliceLines());
            const double ms = Ms(Clock::now() - t0);
            slice.push_back(ms);
            sum += ms;
        }
        faults += MinorFaults() - faultsBefore;
        const std::vector<QString> taken = copy.Finish();
        benchmark::DoNotOptimize(taken.data());
        whole.push_back(sum);
        state.SetIterationTime(sum / 1000.0);
        state.counters["lines"] = double(taken.size());
    }
    Summarise(state, "slice", slice);
    Summarise(state, "whole_copy", whole);
    state.counters["faults_per_copy"] = double(faults) / double(whole.size());
}
BENCHMARK(BM_CopyInSlices)->Name("Journal1M/MainThread/CopyInSlices")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// (b) The whole hand-over on the main thread, through the window's own
// journal: NoteEdit, then every delivery of the journal's timers (the delay,
// each slice, the job queued with the document's name and caret) until the
// writer has the job. Each iteration waits the journal's real delay; the
// writer is let finish (WriteNow, untimed) before the next edit.
void BM_HandOver(benchmark::State& state)
{
    TRecoveryJournal& journal = gForm->Journal();
    const auto windowMeta = journal.MetaSource;
    bool queued = false;
    journal.MetaSource = [&](TJournalSnapshot& s) {
        windowMeta(s);
        queued = true;
    };
    journal.WriteNow();
    std::vector<double> noteEdit, longest, total, events;
    long faults = 0;
    for (auto _ : state) {
        QEventLoop loop;
        double sum = 0, most = 0;
        int n = 0;
        queued = false;
        gOnJournalEvent = [&](double ms, long eventFaults) {
            sum += ms;
            most = std::max(most, ms);
            ++n;
            faults += eventFaults;
            if (queued)
                loop.quit();
        };
        const auto t0 = Clock::now();
        journal.NoteEdit();
        const double noteMs = Ms(Clock::now() - t0);
        QTimer::singleShot(3 * TRecoveryJournal::WriteDelayMs(), &loop, &QEventLoop::quit);
        loop.exec();
        gOnJournalEvent = nullptr;
        if (!queued) {
            state.SkipWithError("the journal did not queue a write");
            break;
        }
        noteEdit.push_back(noteMs);
        longest.push_back(std::max(noteMs, most));
        total.push_back(noteMs + sum);
        events.push_back(n);
        state.SetIterationTime((noteMs + sum) / 1000.0);
        journal.WriteNow();
    }
    journal.MetaSource = windowMeta;
    if (total.empty())
        return;
    Summarise(state, "noteedit", noteEdit);
    Summarise(state, "longest_stop", longest);
    Summarise(state, "main_thread_total", total);
    state.counters["events_per_handover"] = events.front();
    state.counters["faults_per_handover"] = double(faults) / double(total.size());
}
BENCHMARK(BM_HandOver)->Name("Journal1M/MainThread/NoteEditToJobQueued")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

// For information: what the background writer does with the same snapshot
// (join + compare + encode, then the atomic write with its fsyncs, then the
// release of the line references). The baseline is the text itself, as for
// a file opened and not yet changed, so the comparison runs to the end.
void BM_Writer(benchmark::State& state)
{
    const QString path = gDir->filePath(QStringLiteral("writer-bench.journal"));
    std::vector<double> encode, write, release;
    for (auto _ : state) {
        auto s = std::make_unique<TJournalSnapshot>();
        TLineSnapshot copy(std::as_const(*gForm->sePythonCode).Engine().Lines());
        copy.Start({});
        copy.Step(std::numeric_limits<qsizetype>::max());
        s->lines = copy.Finish();
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
