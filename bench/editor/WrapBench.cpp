// Word wrap: the full layout of a million lines of 200 characters at 120
// cells, and what one keystroke costs in that text: laying its line out
// again and the row <-> line lookups a repaint and a caret move make.
#include "editor/LineBuffer.h"
#include "editor/WrapRows.h"

#include <QStringList>

#include <benchmark/benchmark.h>

#include <random>

using namespace editor;

namespace {

constexpr int kLines = 1000000;
constexpr int kWidth = 120;

// Words of 1 to 12 letters between blanks, some lines indented by a tab.
QString MakeLine(std::mt19937& rng, int length, QStringView letters)
{
    QString s;
    s.reserve(length);
    if (rng() % 4 == 0)
        s += u'\t';
    while (s.size() < length) {
        for (int i = 0, n = 1 + int(rng() % 12); i < n && s.size() < length; ++i)
            s += letters[qsizetype(rng() % unsigned(letters.size()))];
        if (s.size() < length)
            s += u' ';
    }
    return s;
}

const TLineBuffer& Text(bool japanese)
{
    static TLineBuffer* buffers[2] = {};
    TLineBuffer*& b = buffers[japanese ? 1 : 0];
    if (!b) {
        std::mt19937 rng(7);
        const QString letters = japanese ? QString::fromUtf8("日本語のかなカナ文字列漢字") : QStringLiteral("abcdefghijklmnopqrstuvwxyz_(=.,");
        QStringList lines;
        lines.reserve(kLines);
        for (int i = 0; i < kLines; ++i)
            lines << MakeLine(rng, japanese ? 100 : 200, letters);
        b = new TLineBuffer;
        b->InsertStrings(0, lines);
    }
    return *b;
}

void FullLayout(benchmark::State& state, bool japanese)
{
    const TLineBuffer& lines = Text(japanese);
    int rows = 0;
    for (auto _ : state) {
        TWrapRows wrap(lines, kWidth, 8);
        rows = wrap.RowCount();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = double(rows);
    state.counters["lines"] = double(lines.Count());
}
void BM_FullLayout200Ascii(benchmark::State& state) { FullLayout(state, false); }
// 100 Japanese characters: 200 cells, as many as the ASCII lines.
void BM_FullLayout100Japanese(benchmark::State& state) { FullLayout(state, true); }

// One keystroke in the middle of the text: the line put into the buffer and
// laid out again, then its first row and the line of a row looked up, as the
// caret's display position and the repaint ask. With grow the typed
// character adds a row every other time (the prefix sums move).
void Keystroke(benchmark::State& state, bool grow)
{
    TLineBuffer lines;
    lines.InsertStrings(0, [] {
        QStringList copy;
        const TLineBuffer& text = Text(false);
        copy.reserve(text.Count());
        for (int i = 0; i < text.Count(); ++i)
            copy << text.GetRef(i);
        return copy;
    }());
    TWrapRows wrap(lines, kWidth, 8);
    const int line = kLines / 2;
    // 200 characters with a blank: two rows either way; 120: one row, and
    // one more character makes two.
    const QString before = grow ? QString(kWidth, u'x') : QString(200, u'x').replace(100, 1, u' ');
    const QString after = before + u'y';
    std::mt19937 rng(3);
    long long sum = 0;
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        lines.Put(line, flip ? after : before);
        wrap.LinePut(line);
        sum += wrap.FirstRowOfLine(line);
        sum += wrap.LineOfRow(int(rng() % unsigned(wrap.RowCount()))).Line;
    }
    benchmark::DoNotOptimize(sum);
}
void BM_KeystrokeSameRows(benchmark::State& state) { Keystroke(state, false); }
void BM_KeystrokeNewRow(benchmark::State& state) { Keystroke(state, true); }

// The lookups alone, at random places: what painting a screen of rows and
// moving the caret cost.
void BM_LineOfRow(benchmark::State& state)
{
    const TWrapRows wrap(Text(false), kWidth, 8);
    std::mt19937 rng(5);
    long long sum = 0;
    for (auto _ : state)
        sum += wrap.LineOfRow(int(rng() % unsigned(wrap.RowCount()))).Line;
    benchmark::DoNotOptimize(sum);
}

void BM_FirstRowOfLine(benchmark::State& state)
{
    const TWrapRows wrap(Text(false), kWidth, 8);
    std::mt19937 rng(5);
    long long sum = 0;
    for (auto _ : state)
        sum += wrap.FirstRowOfLine(int(rng() % kLines));
    benchmark::DoNotOptimize(sum);
}

void BM_ToDisplayToBuffer(benchmark::State& state)
{
    const TWrapRows wrap(Text(false), kWidth, 8);
    std::mt19937 rng(5);
    long long sum = 0;
    for (auto _ : state) {
        const TWrapRows::TRowPos at = wrap.ToDisplay(int(rng() % kLines), int(rng() % 200));
        sum += wrap.ToBuffer(at.Row, at.Column).Char;
    }
    benchmark::DoNotOptimize(sum);
}

BENCHMARK(BM_FullLayout200Ascii)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FullLayout100Japanese)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_KeystrokeSameRows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeNewRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LineOfRow);
BENCHMARK(BM_FirstRowOfLine);
BENCHMARK(BM_ToDisplayToBuffer);

} // namespace

BENCHMARK_MAIN();
