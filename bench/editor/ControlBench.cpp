// The script editor control against QScintilla (with its Python lexer) on
// the same one-million-line text: open and first paint, keystroke to painted
// screen, Page Down and Ctrl+End repaints, and heap use; then a paste of
// megabytes and a ten-megabyte single line.
#include "BenchCorpus.h"
#include "app/RecoveryJournal.h"
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"
#include "widgets/CodeEditorControl.h"

#include <Qsci/qscilexerpython.h>
#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 1118;
constexpr int kHeight = 525;

using bench::MillionLineText;

using Clock = std::chrono::steady_clock;

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Paint(QWidget* viewport)
{
    static QImage image(kWidth, kHeight, QImage::Format_RGB32);
    viewport->render(&image);
}

void Report(benchmark::State& state, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    state.counters["max_ms"] = ms.back();
}

size_t HeapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 m = mallinfo2();
    // Large blocks (a gap buffer, a line array) are mapped on their own.
    return m.uordblks + m.hblkhd;
}

// The two editors behind one interface, sized and shown like the window's pane.
struct Ours {
    editor::TPythonHighlighter highlighter;
    editor::TPythonEditBehaviour behaviour;
    TCodeEditor w;
    Ours()
    {
        w.SetHighlighter(&highlighter);
        w.SetTabWidth(4);
        w.SetWantTabs(true);
        behaviour.SetEditor(&w.Engine());
        w.resize(kWidth, kHeight);
        w.show();
    }
    ~Ours()
    {
        behaviour.SetEditor(nullptr);
        w.SetHighlighter(nullptr);
    }
    void SetText(const QString& t) { w.SetText(t); }
    QWidget* Target() { return &w; }
    QWidget* Viewport() { return w.viewport(); }
    void GotoMiddle() { w.GotoLine(500000); }
    // The idle-time range scan that follows an open, done at once.
    void Settle() { w.Engine(); }
};

struct Scintilla {
    QsciScintilla w;
    QsciLexerPython lexer;
    Scintilla()
    {
        w.setLexer(&lexer);
        w.setTabWidth(4);
        w.setMarginLineNumbers(0, true);
        w.setMarginWidth(0, QStringLiteral("0000000"));
        w.resize(kWidth, kHeight);
        w.show();
    }
    void SetText(const QString& t) { w.setText(t); }
    QWidget* Target() { return &w; }
    QWidget* Viewport() { return w.viewport(); }
    void GotoMiddle()
    {
        w.setCursorPosition(499999, 0);
        w.ensureLineVisible(499999);
    }
    void Settle() {}
};

void Key(QWidget* target, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(target, &release);
}

// Which text a benchmark opens.
using TText = const QString& (*)();

template <class Editor, TText Text = MillionLineText>
void BM_OpenAndFirstPaint(benchmark::State& state)
{
    const QString& text = Text();
    for (auto _ : state) {
        Editor e;
        const auto t0 = std::chrono::steady_clock::now();
        e.SetText(text);
        Paint(e.Viewport());
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
BENCHMARK(BM_OpenAndFirstPaint<Ours>)->Name("OpenAndFirstPaint/Ours")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenAndFirstPaint<Scintilla>)->Name("OpenAndFirstPaint/QScintilla")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

template <class Editor, TText Text = MillionLineText>
void BM_KeystrokeToPaintedScreen(benchmark::State& state)
{
    Editor e;
    e.SetText(Text());
    e.Settle();
    e.GotoMiddle();
    Paint(e.Viewport());
    std::vector<double> ms;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Key(e.Target(), Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        Paint(e.Viewport());
        ms.push_back(Ms(std::chrono::steady_clock::now() - t0));
    }
    Report(state, ms);
}
BENCHMARK(BM_KeystrokeToPaintedScreen<Ours>)->Name("KeystrokeToPaint/Ours")->Unit(benchmark::kMicrosecond)->Iterations(1000);
BENCHMARK(BM_KeystrokeToPaintedScreen<Scintilla>)->Name("KeystrokeToPaint/QScintilla")->Unit(benchmark::kMicrosecond)->Iterations(1000);

// The same keystrokes with the recovery journal attached as the window
// attaches it: NoteEdit on every invalidation, the buffer's events forwarded,
// and the journal's copy of the lines taken a slice at a time when its timer
// fires. Keys come ten a second, the event loop turning between them as in
// the window (the journal's delay is two seconds, so a write every twenty
// keys); each key is timed with the event processing before it, where a
// journal slice still pending would run. The writer joins, encodes and
// fsyncs 76 MB on the other core while the following keys run. "Paced" is
// the same loop without a journal.
template <bool Journaled>
void BM_KeystrokePaced(benchmark::State& state)
{
    Ours e;
    e.SetText(MillionLineText());
    e.Settle();
    e.GotoMiddle();
    Paint(e.Viewport());
    int handOvers = 0;
    std::unique_ptr<TRecoveryJournal> journal;
    if (Journaled) {
        // As TSDIAppForm::BuildJournal attaches it.
        journal = std::make_unique<TRecoveryJournal>(RecoveryFolder());
        FollowEditor(e.w.Engine(), [&] { return journal.get(); });
        journal->MetaSource = [&](TJournalSnapshot& snapshot) {
            ++handOvers;
            const editor::TCustomCodeEditor& engine = std::as_const(e.w).Engine();
            snapshot.meta.caretLine = engine.CaretY();
            snapshot.meta.caretChar = engine.CaretX();
            snapshot.baseline = MillionLineText();
        };
    }
    std::vector<double> ms;
    auto next = Clock::now();
    for (auto _ : state) {
        next += std::chrono::milliseconds(100);
        {
            QEventLoop gap; // untimed: the user between two keys
            QTimer::singleShot(std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count()),
                               &gap, &QEventLoop::quit);
            gap.exec();
        }
        const auto t0 = Clock::now();
        QCoreApplication::processEvents();
        Key(e.Target(), Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        Paint(e.Viewport());
        ms.push_back(Ms(Clock::now() - t0));
    }
    if (journal)
        journal->WriteNow();
    // Gone before the editor, whose last events (the highlighter detached)
    // then find no journal.
    journal.reset();
    state.counters["journal_writes"] = double(handOvers);
    Report(state, ms);
}
BENCHMARK(BM_KeystrokePaced<false>)->Name("KeystrokeToPaint/OursPaced")->Unit(benchmark::kMicrosecond)->Iterations(1000);
BENCHMARK(BM_KeystrokePaced<true>)->Name("KeystrokeToPaint/OursJournaled")->Unit(benchmark::kMicrosecond)->Iterations(1000);

template <class Editor>
void BM_PageDown(benchmark::State& state)
{
    Editor e;
    e.SetText(MillionLineText());
    e.Settle();
    Paint(e.Viewport());
    std::vector<double> ms;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Key(e.Target(), Qt::Key_PageDown);
        Paint(e.Viewport());
        ms.push_back(Ms(std::chrono::steady_clock::now() - t0));
    }
    Report(state, ms);
}
BENCHMARK(BM_PageDown<Ours>)->Name("PageDown/Ours")->Unit(benchmark::kMicrosecond)->Iterations(500);
BENCHMARK(BM_PageDown<Scintilla>)->Name("PageDown/QScintilla")->Unit(benchmark::kMicrosecond)->Iterations(500);

template <class Editor>
void BM_CtrlEnd(benchmark::State& state)
{
    Editor e;
    e.SetText(MillionLineText());
    e.Settle();
    Paint(e.Viewport());
    for (auto _ : state) {
        Key(e.Target(), Qt::Key_Home, Qt::ControlModifier);
        Paint(e.Viewport());
        const auto t0 = std::chrono::steady_clock::now();
        Key(e.Target(), Qt::Key_End, Qt::ControlModifier);
        Paint(e.Viewport());
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
BENCHMARK(BM_CtrlEnd<Ours>)->Name("CtrlEndAndPaint/Ours")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CtrlEnd<Scintilla>)->Name("CtrlEndAndPaint/QScintilla")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Ctrl+V of the first 100,000 lines of the corpus (about 8 MB as UTF-16)
// into the default-sized script, up to the painted screen: the window is
// frozen for this long.
template <class Editor>
void BM_PasteMegabytes(benchmark::State& state)
{
    const QString& all = MillionLineText();
    qsizetype end = 0;
    for (int line = 0; line < 100000; ++line)
        end = all.indexOf(u'\n', end) + 1;
    const QString pasted = all.left(end);
    for (auto _ : state) {
        Editor e;
        e.SetText(QStringLiteral("def func1(s):\r\n    return s\r\n"));
        Paint(e.Viewport());
        QApplication::clipboard()->setText(pasted);
        const auto t0 = std::chrono::steady_clock::now();
        Key(e.Target(), Qt::Key_V, Qt::ControlModifier);
        Paint(e.Viewport());
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    state.counters["pasted_MB"] = double(pasted.size()) * 2 / 1e6;
}
BENCHMARK(BM_PasteMegabytes<Ours>)->Name("PasteMegabytesAndPaint/Ours")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PasteMegabytes<Scintilla>)->Name("PasteMegabytesAndPaint/QScintilla")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A single line of ten million characters: loading and painting it, then
// End (the caret and the view at the far end) and painting again.
template <class Editor>
void BM_LongLine(benchmark::State& state)
{
    const QString unit = QStringLiteral("x = 'abc' + 12 # \u65e5\u672c ");
    const QString line = unit.repeated(10000000 / unit.size());
    for (auto _ : state) {
        Editor e;
        const auto t0 = std::chrono::steady_clock::now();
        e.SetText(line);
        Paint(e.Viewport());
        const auto t1 = std::chrono::steady_clock::now();
        Key(e.Target(), Qt::Key_End);
        Paint(e.Viewport());
        const auto t2 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
        state.counters["open_paint_ms"] = Ms(t1 - t0);
        state.counters["end_paint_ms"] = Ms(t2 - t1);
    }
}
BENCHMARK(BM_LongLine<Ours>)->Name("TenMegabyteLine/Ours")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LongLine<Scintilla>)->Name("TenMegabyteLine/QScintilla")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// Heap in use for the loaded and painted text, against the text's UTF-16 size.
template <class Editor>
void BM_Memory(benchmark::State& state)
{
    const QString& text = MillionLineText();
    for (auto _ : state) {
        const size_t before = HeapInUse();
        {
            Editor e;
            e.SetText(text);
            Paint(e.Viewport());
            const size_t after = HeapInUse();
            state.counters["heap_MB"] = double(after - before) / 1e6;
            state.counters["times_utf16"] = double(after - before) / (double(text.size()) * 2);
        }
    }
}
BENCHMARK(BM_Memory<Ours>)->Name("MemoryLoadedAndPainted/Ours")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Memory<Scintilla>)->Name("MemoryLoadedAndPainted/QScintilla")->Unit(benchmark::kMillisecond)->Iterations(1);

// --- word wrap ---------------------------------------------------------------

// One million lines of 200 characters, words and blanks as code has them.
const QString& WrappedText()
{
    static const QString text = [] {
        const QString words = QStringLiteral(
            "result = transform(record.get('name'), record.get('value'), options) + offset * scale "
            "if record and options.enabled else fallback(record, reason='missing value') # keep going ");
        QString out;
        out.reserve(201 * 1000000);
        for (int i = 0; i < 1000000; ++i) {
            const int start = i % 50;
            out += QStringView(words).mid(start, 200 - 7);
            out += QStringLiteral("%1").arg(i % 10000000, 7, 10, QLatin1Char('0'));
            out += u'\n';
        }
        out.chop(1);
        return out;
    }();
    return text;
}

struct OursWrapped : Ours {
    OursWrapped() { w.SetWordWrap(true); }
};

struct ScintillaWrapped : Scintilla {
    ScintillaWrapped() { w.setWrapMode(QsciScintilla::WrapWord); }
};

BENCHMARK(BM_OpenAndFirstPaint<OursWrapped, WrappedText>)->Name("WrappedOpenAndFirstPaint/Ours")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenAndFirstPaint<ScintillaWrapped, WrappedText>)->Name("WrappedOpenAndFirstPaint/QScintilla")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_KeystrokeToPaintedScreen<OursWrapped, WrappedText>)->Name("WrappedKeystrokeToPaint/Ours")->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_KeystrokeToPaintedScreen<ScintillaWrapped, WrappedText>)->Name("WrappedKeystrokeToPaint/QScintilla")->Unit(benchmark::kMicrosecond)->Iterations(200);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The journaled keystrokes write here, on the normal disk.
    QTemporaryDir state(QStringLiteral("/var/tmp/quorbel-control-bench-XXXXXX"));
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("text: %lld UTF-16 units in 1000000 lines\n", (long long)MillionLineText().size());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
