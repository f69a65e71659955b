// Speed of the editor's text model over real Python code: Debian's
// python3.11 standard library, all .py files concatenated.
#include "editor/EditorCore.h"
#include "editor/PythonHighlighter.h"

#include <QDirIterator>
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
#include <new>

using namespace editor;

// Counts allocations so the word classification can show it needs none.
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

const char* kCorpusRoot = "/usr/lib/python3.11";

QStringList CorpusFiles()
{
    QStringList files;
    QDirIterator it(QString::fromUtf8(kCorpusRoot), {"*.py"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

const QString& Corpus()
{
    static const QString text = [] {
        QString all;
        for (const QString& path : CorpusFiles()) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            all += QString::fromUtf8(f.readAll());
            if (!all.endsWith(u'\n'))
                all += u'\n';
        }
        return all;
    }();
    return text;
}

const QStringList& CorpusLines()
{
    static const QStringList lines = [] {
        TLineBuffer b;
        b.SetText(Corpus());
        QStringList out;
        out.reserve(b.Count());
        for (int i = 0; i < b.Count(); ++i)
            out << b.Get(i);
        return out;
    }();
    return lines;
}

long long CorpusChars()
{
    long long n = 0;
    for (const QString& l : CorpusLines())
        n += l.size();
    return n;
}

// The corpus repeated up to one million lines.
const QString& MillionLineText()
{
    static const QString text = [] {
        const QStringList& lines = CorpusLines();
        QStringList out;
        out.reserve(1000000);
        while (out.size() < 1000000)
            for (qsizetype i = 0; i < lines.size() && out.size() < 1000000; ++i)
                out << lines[i];
        return out.join("\r\n");
    }();
    return text;
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
        const QByteArray cmd = QByteArray("python3 /tmp/quorbel_tokenize_reference.py ") + kCorpusRoot;
        FILE* pipe = popen(cmd.constData(), "r");
        if (!pipe || std::fscanf(pipe, "%lf %lf", &chars, &seconds) != 2) {
            if (pipe)
                pclose(pipe);
            state.SkipWithError("python3 tokenize did not run");
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
