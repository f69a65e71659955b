// Live mode through the real window (offscreen): the time from the end of
// the pause to the painted result, and the time from a key press to its
// paint while live runs keep starting and being stopped by the typing.
#include "app/LiveRun.h"
#include "app/SDIMain.h"
#include "WorkbenchMain.h"
#include "platform/Registry.h"
#include "widgets/CodeEditorControl.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

TSDIAppForm* gForm = nullptr;

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// The window's paint of a widget, timed to its end: the filter paints itself
// and reports when it is done.
class TPaintClock : public QObject {
public:
    explicit TPaintClock(QWidget* w) : FWidget(w) { w->installEventFilter(this); }
    ~TPaintClock() override { FWidget->removeEventFilter(this); }
    std::function<void()> OnPainted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || FInPaint)
            return false;
        FInPaint = true;
        static_cast<QObject*>(watched)->event(event);
        FInPaint = false;
        if (OnPainted)
            OnPainted();
        return true;
    }

private:
    QWidget* FWidget;
    bool FInPaint = false;
};

void SetLive(int delayMs)
{
    // The one-time note was read long ago.
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    if (reg.OpenKey(QStringLiteral("\\Software\\Quorbel\\Live"), true))
        reg.WriteInteger(QStringLiteral("NoteShown"), 1);
    gForm->Live().SetSettings({delayMs, 2000});
    gForm->SetLiveMode(true);
}

// From the end of the pause (the schedule's call) to the result pane painted
// with the new result, for the default script after an edit of one line.
void BM_LivePauseToPaintedResult(benchmark::State& state)
{
    SetLive(300);
    gForm->SpinEdit1->setValue(1);
    const QString script = gForm->SysScript();
    gForm->SetEditorText(script);
    gForm->RunLive(); // loads the runtime once
    QApplication::processEvents();
    bool painted = false;
    TPaintClock clock(gForm->Memo1->viewport());
    clock.OnPainted = [&] { painted = true; };
    std::vector<double> ms;
    int i = 0;
    for (auto _ : state) {
        // An edit that changes the result: the group name the call passes in
        // goes into the result, so the function's first line changes it.
        gForm->SetEditorText(QString(script).replace(QStringLiteral("str1 = '{'"),
                                                     QStringLiteral("str1 = '{%1'").arg(++i)));
        QApplication::processEvents();
        painted = false;
        QElapsedTimer t;
        t.start();
        gForm->RunLive();
        while (!painted && t.elapsed() < 1000)
            QApplication::processEvents();
        const double elapsed = double(t.nsecsElapsed()) / 1e6;
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
        if (!gForm->Memo1->toPlainText().contains(QStringLiteral("{%1").arg(i)))
            state.SkipWithError("the result pane does not show the new result");
    }
    state.counters["median_ms"] = Percentile(ms, 0.5);
    state.counters["p99_ms"] = Percentile(ms, 0.99);
    gForm->SetLiveMode(false);
}
BENCHMARK(BM_LivePauseToPaintedResult)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(200);

// Keys arrive from another thread at 10 a second on average (40 to 160 ms
// apart), as from the window system, while every pause starts a live run of
// a script that takes 50 ms: many keys land during a run, which they stop.
// Each key's time runs from its arrival to the end of the editor's paint
// that shows it.
void BM_LiveKeystrokeToPaint(benchmark::State& state)
{
    const int delayMs = int(state.range(0));
    SetLive(delayMs);
    gForm->SetEditorText(QStringLiteral("import time\r\n"
                                        "def func1(*a):\r\n"
                                        "    t = time.perf_counter()\r\n"
                                        "    while time.perf_counter() - t < 0.05:\r\n"
                                        "        pass\r\n"
                                        "    return 'done'\r\n"
                                        "# "));
    gForm->sePythonCode->setFocus();
    gForm->sePythonCode->GotoLine(7);
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(gForm->sePythonCode, &end); // typing goes into the comment
    QWidget* editor = gForm->sePythonCode;
    QWidget* viewport = gForm->sePythonCode->viewport();
    std::vector<double> all, duringRun;
    for (auto _ : state) {
        const int startedBefore = gForm->Live().Started();
        std::mutex lock;
        std::vector<std::chrono::steady_clock::time_point> sent;
        std::atomic<bool> done{false};
        // Key presses posted by the thread are timed from their posting.
        std::thread typist([&] {
            std::mt19937 rng(7);
            std::uniform_int_distribution<int> gap(40, 160);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(gap(rng)));
                {
                    std::lock_guard<std::mutex> guard(lock);
                    sent.push_back(std::chrono::steady_clock::now());
                }
                QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier,
                                                                  QStringLiteral("x")));
                QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier,
                                                                  QStringLiteral("x")));
            }
            done = true;
        });
        // A key is shown by the first paint after the editor handled it.
        std::size_t handled = 0, shown = 0;
        std::vector<bool> inRun;
        struct TKeyFilter : QObject {
            std::function<void()> onKey;
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::KeyPress && onKey)
                    onKey();
                return false;
            }
        } keys;
        keys.onKey = [&] {
            ++handled;
            inRun.push_back(gForm->Live().Running());
        };
        editor->installEventFilter(&keys);
        TPaintClock clock(viewport);
        clock.OnPainted = [&] {
            const auto now = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> guard(lock);
            for (; shown < handled && shown < sent.size(); ++shown) {
                const double ms = std::chrono::duration<double, std::milli>(now - sent[shown]).count();
                all.push_back(ms);
                if (inRun[shown])
                    duringRun.push_back(ms);
            }
        };
        while (!done.load() || shown < handled)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        typist.join();
        editor->removeEventFilter(&keys);
        state.counters["live_runs"] = gForm->Live().Started() - startedBefore;
    }
    state.counters["keys"] = double(all.size());
    state.counters["keys_during_run"] = double(duringRun.size());
    state.counters["p50_ms"] = Percentile(all, 0.5);
    state.counters["p99_ms"] = Percentile(all, 0.99);
    state.counters["max_ms"] = Percentile(all, 1.0);
    state.counters["during_run_p99_ms"] = Percentile(duringRun, 0.99);
    gForm->SetLiveMode(false);
}
BENCHMARK(BM_LiveKeystrokeToPaint)->Arg(20)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    return RunWorkbenchBenchmarks(argc, argv, gForm);
}
