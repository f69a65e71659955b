// Speed of finding every match in the million-line benchmark text (Debian's
// python3.X standard library repeated), beside Qt's own string search and
// regular expressions on the same text joined into one string.
#include "BenchCorpus.h"

#include "editor/LineBuffer.h"
#include "editor/SearchPattern.h"
#include "editor/TextSearch.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace editor;

namespace {

QStringList MillionLines()
{
    TLineBuffer corpus;
    corpus.SetText(bench::ReadCorpus());
    QStringList out;
    out.reserve(1000000);
    while (out.size() < 1000000)
        for (int i = 0; i < corpus.Count() && out.size() < 1000000; ++i)
            out << corpus.Get(i);
    return out;
}

const QStringList& Lines()
{
    static const QStringList lines = MillionLines();
    return lines;
}

const QString& Joined()
{
    static const QString text = Lines().join(QStringLiteral("\r\n"));
    return text;
}

const TLineBuffer& Buffer()
{
    static const TLineBuffer* buffer = [] {
        auto* b = new TLineBuffer;
        b->SetText(Joined());
        return b;
    }();
    return *buffer;
}

long long LineBytes()
{
    long long n = 0;
    for (const QString& l : Lines())
        n += l.size();
    return 2 * n;
}

void Report(benchmark::State& state, long long matches, long long bytes)
{
    state.counters["matches"] = double(matches);
    state.SetBytesProcessed(state.iterations() * bytes);
}

// Our search: every match counted over the line buffer.
void CountWith(benchmark::State& state, const QString& pattern, TSearchOptions options)
{
    const TLineBuffer& lines = Buffer();
    const TSearchPattern p(pattern, options);
    long long matches = 0;
    for (auto _ : state) {
        TCountRun run(lines, p);
        run.Step();
        matches = run.Count();
    }
    Report(state, matches, LineBytes());
}

const QString kWord = QStringLiteral("return");
const QString kRegex = QStringLiteral("def \\w+\\(self");

void BM_FindLiteralMatchCase(benchmark::State& state) { CountWith(state, kWord, {.MatchCase = true}); }
void BM_FindLiteralAnyCase(benchmark::State& state) { CountWith(state, kWord, {}); }
void BM_FindLiteralWholeWord(benchmark::State& state) { CountWith(state, kWord, {.WholeWord = true}); }
void BM_FindRegexMatchCase(benchmark::State& state) { CountWith(state, kRegex, {.MatchCase = true, .RegExp = true}); }
void BM_FindRegexAnyCase(benchmark::State& state) { CountWith(state, kRegex, {.RegExp = true}); }

void QtIndexOf(benchmark::State& state, Qt::CaseSensitivity cs)
{
    const QString& text = Joined();
    long long matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (qsizetype at = text.indexOf(kWord, 0, cs); at >= 0; at = text.indexOf(kWord, at + kWord.size(), cs))
            ++matches;
    }
    Report(state, matches, 2 * text.size());
}
void BM_QStringIndexOfMatchCase(benchmark::State& state) { QtIndexOf(state, Qt::CaseSensitive); }
void BM_QStringIndexOfAnyCase(benchmark::State& state) { QtIndexOf(state, Qt::CaseInsensitive); }

void QtRegex(benchmark::State& state, QRegularExpression::PatternOptions options)
{
    const QString& text = Joined();
    QRegularExpression re(kRegex, options | QRegularExpression::UseUnicodePropertiesOption);
    re.optimize();
    long long matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (auto it = re.globalMatch(text); it.hasNext(); it.next())
            ++matches;
    }
    Report(state, matches, 2 * text.size());
}
void BM_QRegularExpressionMatchCase(benchmark::State& state) { QtRegex(state, {}); }
void BM_QRegularExpressionAnyCase(benchmark::State& state)
{
    QtRegex(state, QRegularExpression::CaseInsensitiveOption);
}

BENCHMARK(BM_FindLiteralMatchCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_QStringIndexOfMatchCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindLiteralAnyCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_QStringIndexOfAnyCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindLiteralWholeWord)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindRegexMatchCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_QRegularExpressionMatchCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindRegexAnyCase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_QRegularExpressionAnyCase)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("text: %lld lines, %lld UTF-16 bytes\n", (long long)Lines().size(), LineBytes());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
