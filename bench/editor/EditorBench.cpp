// Speed of the editor's text model over real Python code: Debian's
// python3.X standard library, all .py files concatenated.
#include "BenchCorpus.h"

#include "editor/CodeEditor.h"
#include "editor/EditorCore.h"
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"

#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <QTextDocument>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

using namespace editor;

// Counts allocations so the word classification can show it needs none.
// GCC 14 sees the replaced delete's free() inlined where the replaced new's
// pointer is freed and takes the pair for mismatched; they match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<long long> gAllocations{0};
void* operator new(std::size_t size)
{
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using bench::kCorpusRoot;

const QString& Corpus()
{
    static const QString text = bench::ReadCorpus();
    return text;
}

using bench::CorpusLines;
using bench::MillionLineText;

long long CorpusChars()
{
    long long n = 0;
    for (const QString& l : CorpusLines())
        n += l.size();
    return n;
}

void SetRate(benchmark::State& state, long long charsPerIteration)
{
    state.counters["chars/s"] =
        benchmark::Counter(double(charsPerIteration), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_NextToEol(benchmark::State& state)
{
    const QStringList& lines = CorpusLines();
    TPythonHighlighter h;
    for (auto _ : state) {
        h.ResetRange();
        for (qsizetype i = 0; i < lines.size(); ++i) {
            h.SetLine(lines[i], int(i));
            h.NextToEol();
        }
        benchmark::DoNotOptimize(h.GetRange());
    }
    SetRate(state, CorpusChars());
}
BENCHMARK(BM_NextToEol)->Unit(benchmark::kMillisecond);

void BM_TokenIteration(benchmark::State& state)
{
    const QStringList& lines = CorpusLines();
    TPythonHighlighter h;
    long long tokens = 0;
    for (auto _ : state) {
        h.ResetRange();
        std::uintptr_t sink = 0;
        tokens = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            h.SetLine(lines[i], int(i));
            while (!h.GetEol()) {
                sink += std::uintptr_t(h.GetTokenKind()) + reinterpret_cast<std::uintptr_t>(h.GetTokenAttribute());
                ++tokens;
                h.Next();
            }
        }
        benchmark::DoNotOptimize(sink);
    }
    SetRate(state, CorpusChars());
    state.counters["tokens"] = double(tokens);
}
BENCHMARK(BM_TokenIteration)->Unit(benchmark::kMillisecond);

void BM_ClassifyWords(benchmark::State& state)
{
    // Every identifier-like word of the corpus, as spans into the text.
    struct Span {
        const char16_t* p;
        int n;
    };
    std::vector<Span> words;
    const QString& text = Corpus();
    const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
    auto ident = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
    };
    for (qsizetype i = 0; i < text.size();) {
        if (ident(s[i]) && !(s[i] >= u'0' && s[i] <= u'9')) {
            qsizetype j = i;
            while (j < text.size() && ident(s[j]))
                ++j;
            words.push_back({s + i, int(j - i)});
            i = j;
        } else {
            ++i;
        }
    }
    long long allocations = 0;
    for (auto _ : state) {
        const long long before = gAllocations.load();
        int keys = 0;
        for (const Span& w : words)
            keys += TPythonHighlighter::ClassifyWord(w.p, w.n) == tkKey;
        allocations += gAllocations.load() - before;
        benchmark::DoNotOptimize(keys);
    }
    state.counters["words/s"] =
        benchmark::Counter(double(words.size()), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["allocations"] = double(allocations);
}
BENCHMARK(BM_ClassifyWords)->Unit(benchmark::kMillisecond);

void BM_SetTextMillionLines(benchmark::State& state)
{
    const QString& text = MillionLineText();
    TPythonHighlighter h;
    double memoryRatio = 0;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        // Heap in use, including the blocks malloc maps on its own.
        const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        auto* core = new TEditorCore;
        core->SetTabWidth(4);
        core->SetHighlighter(&h);
        state.ResumeTiming();
        core->SetText(text);
        state.PauseTiming();
        const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
        memoryRatio = double(after - before) / (double(text.size()) * 2.0);
        if (core->Lines().Count() != 1000000 || core->Lines().GetRange(999999) == kRangeNotScanned)
            state.SkipWithError("text not fully scanned");
        delete core;
        state.ResumeTiming();
    }
    state.counters["memory/text"] = memoryRatio;
    state.counters["lines"] = 1000000;
}
BENCHMARK(BM_SetTextMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_QTextDocumentSetPlainText(benchmark::State& state)
{
    const QString& text = MillionLineText();
    for (auto _ : state) {
        QTextDocument doc;
        doc.setPlainText(text);
        benchmark::DoNotOptimize(doc.blockCount());
    }
}
BENCHMARK(BM_QTextDocumentSetPlainText)->Unit(benchmark::kMillisecond)->Iterations(1);

struct MillionLineEditor {
    TPythonHighlighter highlighter;
    TEditorCore core;
    explicit MillionLineEditor(bool folding)
    {
        core.SetTabWidth(4);
        core.SetHighlighter(&highlighter);
        core.SetText(MillionLineText());
        core.SetUseCodeFolding(folding);
    }
};

template <typename F>
double MedianMicroseconds(benchmark::State& state, F op)
{
    std::vector<double> times;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        op();
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    std::nth_element(times.begin(), times.begin() + std::ptrdiff_t(times.size() / 2), times.end());
    return times[times.size() / 2];
}

void BM_PutOneCharMiddle(benchmark::State& state)
{
    MillionLineEditor e(state.range(0) != 0);
    TLineBuffer& b = e.core.Lines();
    int line = 500000;
    while (b.GetRef(line).size() < 4)
        ++line;
    // Typing at the end of a code line: its indentation, and so its fold
    // marker, stays the same.
    const QString original = b.Get(line);
    QString changed = original;
    const qsizetype last = changed.size() - 1;
    changed[last] = changed[last] == u'q' ? u'r' : u'q';
    bool flip = false;
    const double median = MedianMicroseconds(state, [&] {
        b.Put(line, flip ? original : changed);
        flip = !flip;
    });
    state.counters["median_us"] = median;
}
BENCHMARK(BM_PutOneCharMiddle)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_InsertLineAtTop(benchmark::State& state)
{
    MillionLineEditor e(state.range(0) != 0);
    TLineBuffer& b = e.core.Lines();
    std::vector<double> times;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        b.Insert(0, QStringLiteral("import os"));
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        state.PauseTiming();
        b.Delete(0);
        state.ResumeTiming();
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
}
BENCHMARK(BM_InsertLineAtTop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_FullFoldScanAndRebuild(benchmark::State& state)
{
    MillionLineEditor e(false);
    for (auto _ : state) {
        e.core.SetUseCodeFolding(true);
        state.PauseTiming();
        if (e.core.AllFoldRanges().Count() == 0)
            state.SkipWithError("no fold ranges");
        state.counters["ranges"] = e.core.AllFoldRanges().Count();
        e.core.SetUseCodeFolding(false);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FullFoldScanAndRebuild)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MaxWidthParallel(benchmark::State& state)
{
    MillionLineEditor e(false);
    for (auto _ : state) {
        e.core.Lines().FontChanged();
        benchmark::DoNotOptimize(e.core.Lines().GetMaxWidth());
    }
}
BENCHMARK(BM_MaxWidthParallel)->Unit(benchmark::kMillisecond)->Iterations(5);

// --- the editing engine on the same million lines --------------------------

// CPU time of this thread: the machine the figures come from is shared, and
// wall time there counts other processes' work too.
double ThreadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

std::size_t HeapInUse()
{
    malloc_trim(0);
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The main window's editor: Python highlighter and behaviour, tab width 4.
struct MillionLineCodeEditor {
    TPythonHighlighter highlighter;
    THeadlessView view;
    TCodeEditor editor;
    TPythonEditBehaviour behaviour;
    explicit MillionLineCodeEditor(bool withText = true)
    {
        editor.SetView(&view);
        editor.SetTabWidth(4);
        editor.SetWantTabs(true);
        editor.SetHighlighter(&highlighter);
        behaviour.SetEditor(&editor);
        if (withText)
            editor.SetText(MillionLineText());
    }
    ~MillionLineCodeEditor() { behaviour.SetEditor(nullptr); }
    // A middle line that is code (so typing keeps its fold role).
    int MiddleLine(bool endsWithColon)
    {
        for (int line = 500000; line < editor.Lines().Count(); ++line) {
            const QString& s = editor.Lines().GetRef(line);
            if (s.size() >= 4 && s.trimmed().endsWith(u':') == endsWithColon && !s.trimmed().startsWith(u'#'))
                return line;
        }
        return 500000;
    }
};

void BM_TypeCharAndUndo(benchmark::State& state)
{
    MillionLineCodeEditor m;
    TCodeEditor& e = m.editor;
    const int line = m.MiddleLine(false);
    e.SetCaretXY({e.Lines().LineCharLength(line) + 1, line + 1});
    std::vector<double> typing, undo;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        e.CommandProcessor(ecChar, QChar(u'x'));
        auto t1 = std::chrono::steady_clock::now();
        e.CommandProcessor(ecUndo);
        auto t2 = std::chrono::steady_clock::now();
        typing.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        undo.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    std::sort(typing.begin(), typing.end());
    std::sort(undo.begin(), undo.end());
    state.counters["type_median_us"] = typing[typing.size() / 2];
    state.counters["undo_median_us"] = undo[undo.size() / 2];
}
BENCHMARK(BM_TypeCharAndUndo)->Unit(benchmark::kMicrosecond)->Iterations(5000);

void BM_EnterAfterColon(benchmark::State& state)
{
    MillionLineCodeEditor m;
    TCodeEditor& e = m.editor;
    const int line = m.MiddleLine(true);
    const QString before = e.Lines().Get(line + 1);
    std::vector<double> times;
    for (auto _ : state) {
        e.SetCaretXY({e.Lines().LineCharLength(line) + 1, line + 1});
        const auto t0 = std::chrono::steady_clock::now();
        e.CommandProcessor(ecLineBreak);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
        state.PauseTiming();
        if (e.Lines().GetRef(line + 1).size() < 4)
            state.SkipWithError("no indent after the colon");
        e.Undo();
        e.Undo();
        if (e.Lines().GetRef(line + 1) != before)
            state.SkipWithError("undo did not restore the text");
        state.ResumeTiming();
    }
    std::sort(times.begin(), times.end());
    state.counters["median_us"] = times[times.size() / 2];
}
BENCHMARK(BM_EnterAfterColon)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_BlockIndent100kLines(benchmark::State& state)
{
    MillionLineCodeEditor m;
    TCodeEditor& e = m.editor;
    double indentMs = 1e9, undoMs = 1e9, indentCpu = 1e9, undoCpu = 1e9;
    for (auto _ : state) {
        e.SetSelection({1, 400001}, {1, 500001});
        const double c0 = ThreadCpuMs();
        auto t0 = std::chrono::steady_clock::now();
        e.CommandProcessor(ecBlockIndent);
        const double c1 = ThreadCpuMs();
        auto t1 = std::chrono::steady_clock::now();
        e.CommandProcessor(ecUndo);
        const double c2 = ThreadCpuMs();
        auto t2 = std::chrono::steady_clock::now();
        indentMs = std::min(indentMs, std::chrono::duration<double, std::milli>(t1 - t0).count());
        undoMs = std::min(undoMs, std::chrono::duration<double, std::milli>(t2 - t1).count());
        indentCpu = std::min(indentCpu, c1 - c0);
        undoCpu = std::min(undoCpu, c2 - c1);
    }
    state.counters["indent_ms"] = indentMs;
    state.counters["undo_ms"] = undoMs;
    state.counters["indent_cpu_ms"] = indentCpu;
    state.counters["undo_cpu_ms"] = undoCpu;
}
BENCHMARK(BM_BlockIndent100kLines)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_UndoSetText(benchmark::State& state)
{
    MillionLineCodeEditor m(false);
    TCodeEditor& e = m.editor;
    const QString& text = MillionLineText();
    double undoMs = 0, historyRatio = 0;
    for (auto _ : state) {
        state.PauseTiming();
        e.SetText(text);
        const std::size_t withHistory = HeapInUse();
        // The same text without its history, for the history's own size.
        e.LockUndo();
        e.SetText(text);
        e.UnlockUndo();
        const std::size_t withoutHistory = HeapInUse();
        historyRatio = (double(withHistory) - double(withoutHistory)) / (double(text.size()) * 2.0);
        e.SetText(text);
        state.ResumeTiming();
        const double c0 = ThreadCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        e.Undo();
        undoMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.counters["undo_cpu_ms"] = ThreadCpuMs() - c0;
        if (e.Lines().Count() != 0)
            state.SkipWithError("undo left lines");
    }
    state.counters["undo_ms"] = undoMs;
    state.counters["history/text"] = historyRatio;
}
BENCHMARK(BM_UndoSetText)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Typing100kCharacters(benchmark::State& state)
{
    double historyMB = 0, bytesPerChar = 0;
    for (auto _ : state) {
        MillionLineCodeEditor m(false);
        TCodeEditor& e = m.editor;
        e.SetOptions(e.Options() & ~eoAutoIndent);
        const std::size_t before = HeapInUse();
        for (int i = 0; i < 100000; ++i) {
            e.CommandProcessor(ecChar, QChar(u'a' + i % 26));
            if (i % 100 == 99) {
                state.PauseTiming();
                e.LockUndo(); // the line breaks are not typed characters
                e.CommandProcessor(ecLineBreak);
                e.UnlockUndo();
                state.ResumeTiming();
            }
        }
        state.PauseTiming();
        const std::size_t typed = HeapInUse();
        const int items = e.UndoManager().UndoList().Count();
        e.ClearUndo();
        const std::size_t cleared = HeapInUse();
        historyMB = (double(typed) - double(cleared)) / 1e6;
        bytesPerChar = (double(typed) - double(cleared)) / 100000.0;
        if (items < 100000)
            state.SkipWithError("fewer items than characters");
        (void)before;
        state.ResumeTiming();
    }
    state.counters["history_MB"] = historyMB;
    state.counters["bytes/char"] = bytesPerChar;
}
BENCHMARK(BM_Typing100kCharacters)->Unit(benchmark::kMillisecond)->Iterations(1);

// Side-by-side reference: Python's own tokenize module over the same files.
void BM_PythonTokenizeReference(benchmark::State& state)
{
    static const char* script =
        "import sys, io, time, tokenize, glob\n"
        "files = sorted(glob.glob(sys.argv[1] + '/**/*.py', recursive=True))\n"
        "texts = [open(f, encoding='utf-8', errors='replace').read() for f in files]\n"
        "chars = sum(len(t) for t in texts)\n"
        "t0 = time.perf_counter()\n"
        "for t in texts:\n"
        "    try:\n"
        "        for _ in tokenize.generate_tokens(io.StringIO(t).readline): pass\n"
        "    except (tokenize.TokenError, SyntaxError): pass\n"
        "print(chars, time.perf_counter() - t0)\n";
    QFile scriptFile(QStringLiteral("/tmp/quorbel_tokenize_reference.py"));
    if (!scriptFile.open(QIODevice::WriteOnly) || scriptFile.write(script) < 0) {
        state.SkipWithError("cannot write the reference script");
        return;
    }
    scriptFile.close();
    double chars = 0, seconds = 0;
    for (auto _ : state) {
        const QByteArray cmd = QByteArray(QUORBEL_BENCH_PYTHON " -E /tmp/quorbel_tokenize_reference.py ") + kCorpusRoot;
        FILE* pipe = popen(cmd.constData(), "r");
        if (!pipe || std::fscanf(pipe, "%lf %lf", &chars, &seconds) != 2) {
            if (pipe)
                pclose(pipe);
            state.SkipWithError(QUORBEL_BENCH_PYTHON " tokenize did not run");
            return;
        }
        pclose(pipe);
    }
    state.counters["chars/s"] = seconds > 0 ? chars / seconds : 0;
    state.counters["chars"] = chars;
}
BENCHMARK(BM_PythonTokenizeReference)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("corpus: %lld characters in %lld lines\n", CorpusChars(), (long long)CorpusLines().size());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
