// Speed of the HTML export of a 100,000-line script (the first lines of
// Debian's python3.X standard library) with the Python highlighter, in
// bytes of HTML written per second; the goal is at least 20 MB/s. The same
// export from the engine's line buffer and without a highlighter beside it.
#include "BenchCorpus.h"

#include "editor/HtmlExport.h"
#include "editor/LineBuffer.h"
#include "editor/PythonHighlighter.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace editor;

namespace {

constexpr int kLines = 100000;

const QStringList& Script()
{
    static const QStringList lines = bench::CorpusLines().mid(0, kLines);
    return lines;
}

const TLineBuffer& Buffer()
{
    static const TLineBuffer* buffer = [] {
        auto* b = new TLineBuffer;
        b->SetText(Script().join(QStringLiteral("\r\n")));
        return b;
    }();
    return *buffer;
}

THtmlStyle Style()
{
    THtmlStyle style;
    style.Title = QStringLiteral("script.py");
    style.FontFamily = QStringLiteral("Consolas");
    style.TabWidth = 4;
    return style;
}

template <class TLines>
void Export(benchmark::State& state, const TLines& lines, TCustomHighlighter* highlighter)
{
    const THtmlStyle style = Style();
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QByteArray page = HtmlDocument(lines, highlighter, style);
        bytes = page.size();
        benchmark::DoNotOptimize(page.constData());
    }
    state.counters["html_bytes"] = double(bytes);
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_ExportPythonFromList(benchmark::State& state)
{
    TPythonHighlighter python;
    Export(state, Script(), &python);
}

void BM_ExportPythonFromBuffer(benchmark::State& state)
{
    TPythonHighlighter python;
    Export(state, Buffer(), &python);
}

void BM_ExportPlain(benchmark::State& state) { Export(state, Script(), nullptr); }

BENCHMARK(BM_ExportPythonFromList)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExportPythonFromBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExportPlain)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    qsizetype chars = 0;
    for (const QString& line : Script())
        chars += line.size();
    std::printf("script: %lld lines, %lld UTF-16 characters\n", (long long)Script().size(), (long long)chars);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
