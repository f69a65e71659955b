#include "editor/CodeEditor.h"
#include "editor/TextColumns.h"
#include "editor/WrapRows.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using namespace editor;

namespace {

QStringList RowTexts(const QString& line, int width, int tabWidth)
{
    QStringList rows;
    int start = 0;
    for (const int next : TWrapRows::LayoutLine(line, width, tabWidth)) {
        rows << line.mid(start, next - start);
        start = next;
    }
    rows << line.mid(start);
    return rows;
}

// The layout rule walked naively, cluster by cluster, measuring each row
// with text::DisplayColumn: the fast layout must agree with it.
std::vector<int> NaiveStarts(const QString& s, int width, int tabWidth)
{
    std::vector<int> starts;
    const int n = int(s.size());
    int rowStart = 0;
    for (;;) {
        int fit = rowStart;
        while (fit < n) {
            const int next = text::NextCharBoundary(s, fit);
            if (fit > rowStart && text::DisplayColumn(QStringView(s).mid(rowStart), next - rowStart, tabWidth) > width)
                break;
            fit = next;
        }
        if (fit >= n)
            return starts;
        int cut = fit;
        for (int k = fit - 1; k >= rowStart; --k)
            if ((s[k] == u' ' || s[k] == u'\t') && text::NextCharBoundary(s, k) == k + 1) {
                cut = k + 1;
                break;
            }
        starts.push_back(cut);
        rowStart = cut;
    }
}

std::string Show(const QString& s) { return s.toStdString(); }

} // namespace

TEST(WrapRows, HandWorkedRows)
{
    struct Case {
        QString line;
        int width;
        int tabWidth;
        QStringList rows;
    };
    const QString ja = QString::fromUtf8("日本語");
    const QString thumb = QString::fromUtf8("👍");
    const QString eAcute = QString::fromUtf8("e\u0301");
    const Case cases[] = {
        {"", 4, 4, {""}},
        {"abcd", 4, 4, {"abcd"}},
        // The blank stays on the row it ends; a longer word is cut at W.
        {"ab cdefgh", 4, 4, {"ab ", "cdef", "gh"}},
        {"ab  cd", 3, 4, {"ab ", " cd"}},
        // A blank that does not fit starts the next row, ending it.
        {"aaaa bbbb", 4, 4, {"aaaa", " ", "bbbb"}},
        {"one two three", 8, 4, {"one two ", "three"}},
        // Wide characters are never split; one wider than W has a row.
        {"a" + ja, 4, 4, {"a" + ja.left(1), ja.mid(1)}},
        {ja.left(2), 1, 4, {ja.left(1), ja.mid(1, 1)}},
        {"ab" + thumb + "cd", 3, 4, {"ab", thumb + "c", "d"}},
        // Tabs run to the next stop counted from the row's start.
        {"a\tb", 4, 4, {"a\t", "b"}},
        {"ab\t\tc", 6, 4, {"ab\t", "\tc"}},
        {"\tx", 4, 8, {"\t", "x"}},
        // Combining marks stay with their letter.
        {eAcute + eAcute + eAcute, 2, 4, {eAcute + eAcute, eAcute}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RowTexts(c.line, c.width, c.tabWidth), c.rows) << Show(c.line) << " W=" << c.width;

    // Mappings on three lines at W=4: rows "ab ", "cdef", "gh" | "" | "xy".
    TLineBuffer b;
    b.SetText("ab cdefgh\n\nxy");
    const TWrapRows w(b, 4, 4);
    EXPECT_EQ(w.RowCount(), 5);
    EXPECT_EQ(w.FirstRowOfLine(2), 4);
    EXPECT_EQ(w.LineOfRow(2), (TWrapRows::TRowOfLine{0, 2}));
    EXPECT_EQ(w.RowStart(0, 1), 3);
    EXPECT_EQ(w.RowEnd(0, 1), 7);
    EXPECT_EQ(w.RowEnd(0, 2), 9);
    // At a row's end a position is shown at the next row's start.
    EXPECT_EQ(w.ToDisplay(0, 3), (TWrapRows::TRowPos{1, 0}));
    EXPECT_EQ(w.ToDisplay(0, 11), (TWrapRows::TRowPos{2, 4}));
    // Past a wrapped row's text: its last caret position; past the last
    // row's: one position per column.
    EXPECT_EQ(w.ToBuffer(0, 9), (TWrapRows::TLinePos{0, 2}));
    EXPECT_EQ(w.ToBuffer(2, 5), (TWrapRows::TLinePos{0, 12}));
    EXPECT_EQ(w.ToBuffer(3, 2), (TWrapRows::TLinePos{1, 2}));
    // Rows past the text are lines past it.
    EXPECT_EQ(w.ToBuffer(6, 1), (TWrapRows::TLinePos{4, 1}));
    EXPECT_EQ(w.ToDisplay(4, 1), (TWrapRows::TRowPos{6, 1}));
}

// Random edits through the editor with word wrap on: the rows kept up to
// date edit by edit equal a fresh layout of the text after every step, and
// both equal the naive layout.
TEST(WrapRows, IncrementalRowsEqualAFreshLayout)
{
    const std::vector<QString> pieces = {"a", "word", "x_y", " ", "  ", "\t", QString::fromUtf8("日本語"),
        QString::fromUtf8("かな"), QString::fromUtf8("👍"), QString::fromUtf8("👨\u200D👩\u200D👧"),
        QString::fromUtf8("🇯🇵"), QString::fromUtf8("e\u0301"), QString::fromUtf8("\u0301"),
        QString(37, u'L'), "(", "=", " # "};
    std::mt19937 rng(4711);
    auto pick = [&](int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; };
    auto line = [&] {
        QString s;
        for (int i = 0, n = pick(5) == 0 ? 0 : 1 + pick(12); i < n; ++i)
            s += pieces[std::size_t(pick(int(pieces.size())))];
        return s;
    };
    const int widths[] = {1, 2, 3, 5, 8, 13, 21};

    for (int run = 0; run < 20; ++run) {
        TCodeEditor e;
        QStringList start;
        // Long texts sit in many blocks, which edits split and merge.
        for (int i = 0, n = pick(3) == 0 ? 500 + pick(1500) : pick(30); i < n; ++i)
            start << line();
        e.SetText(start.join("\n"));
        e.SetTabWidth(1 + pick(8));
        e.SetWordWrap(true);
        e.SetWrapWidth(widths[pick(7)]);
        TLineBuffer& b = e.Lines();
        for (int step = 0; step < 60; ++step) {
            const bool batch = pick(5) == 0;
            if (batch)
                b.BeginUpdate();
            for (int k = 0, ops = batch ? 1 + pick(4) : 1; k < ops; ++k) {
                switch (pick(9)) {
                case 0:
                    b.Insert(pick(b.Count() + 1), line());
                    break;
                case 1: {
                    QStringList more;
                    for (int i = 0, n = 1 + pick(pick(10) == 0 ? 700 : 5); i < n; ++i)
                        more << line();
                    b.InsertStrings(pick(b.Count() + 1), more);
                    break;
                }
                case 2:
                    if (b.Count() > 0)
                        b.DeleteLines(pick(b.Count()), 1 + pick(pick(10) == 0 ? 1000 : 4));
                    break;
                case 3:
                case 4:
                case 5:
                    b.Put(pick(b.Count() + 1), line());
                    break;
                case 6:
                    e.InsertTextAt({1 + pick(20), 1 + pick(b.Count())}, line() + (pick(3) ? "" : "\n") + line());
                    break;
                case 7:
                    if (pick(3) == 0)
                        e.SetWrapWidth(widths[pick(7)]);
                    else if (pick(2))
                        e.SetTabWidth(1 + pick(8));
                    break;
                case 8:
                    if (pick(4) == 0)
                        b.Clear();
                    break;
                }
            }
            if (batch)
                b.EndUpdate();

            const TWrapRows& got = *e.WrapRows();
            const TWrapRows fresh(b, e.WrapWidth(), e.TabWidth());
            const std::string where = "run " + std::to_string(run) + " step " + std::to_string(step);
            ASSERT_EQ(got.LineCount(), b.Count()) << where;
            ASSERT_EQ(got.RowCount(), fresh.RowCount()) << where;
            ASSERT_EQ(e.DisplayRowCount(), fresh.RowCount()) << where;
            // Every line of a short text, a sample of a long one.
            for (int k = 0; k < 60 && k < b.Count(); ++k) {
                const int i = b.Count() <= 60 ? k : pick(b.Count());
                ASSERT_EQ(got.FirstRowOfLine(i), fresh.FirstRowOfLine(i)) << where << " line " << i;
                for (int r = 0; r < got.RowsOfLine(i); ++r)
                    ASSERT_EQ(got.LineOfRow(got.FirstRowOfLine(i) + r), (TWrapRows::TRowOfLine{i, r})) << where;
                const QString& s = b.GetRef(i);
                std::vector<int> starts;
                for (int r = 1; r < got.RowsOfLine(i); ++r)
                    starts.push_back(got.RowStart(i, r));
                ASSERT_EQ(starts, NaiveStarts(s, e.WrapWidth(), e.TabWidth())) << where << " " << Show(s);
            }
            // Random positions: both mappings agree with the fresh layout, a
            // shown position maps back to where it is shown (a position before
            // a zero-width mark shares its column with the one after), and a
            // row's columns map back onto that row.
            for (int k = 0; k < 20 && b.Count() > 0; ++k) {
                const int i = pick(b.Count());
                const QString& s = b.GetRef(i);
                int ch = 0; // a caret position: whole clusters from the start
                for (int steps = pick(int(s.size()) + 3); steps > 0; --steps)
                    ch = text::NextCharBoundary(s, ch);
                const TWrapRows::TRowPos d = got.ToDisplay(i, ch);
                ASSERT_EQ(d, fresh.ToDisplay(i, ch)) << where;
                const TWrapRows::TLinePos back = got.ToBuffer(d.Row, d.Column);
                ASSERT_EQ(back.Line, i) << where;
                ASSERT_EQ(got.ToDisplay(i, back.Char), d) << where << " W=" << e.WrapWidth() << " T=" << e.TabWidth()
                                                          << " " << Show(s) << " at " << ch << " back " << back.Char;
                const int row = pick(got.RowCount() + 2);
                const int column = pick(e.WrapWidth() + 4);
                const TWrapRows::TLinePos p = got.ToBuffer(row, column);
                ASSERT_EQ(p, fresh.ToBuffer(row, column)) << where;
                ASSERT_EQ(got.ToDisplay(p.Line, p.Char).Row, row) << where << " " << Show(b.GetRef(p.Line));
            }
        }
    }
}

// The editor's own coordinates with word wrap: rows for Up and Down, Home
// and End by rows, folding and wrap exclusive.
TEST(WrapRows, EditorMovesByRows)
{
    TCodeEditor e;
    e.SetOptions(e.Options() & ~(eoEnhanceHomeKey | eoEnhanceEndKey));
    e.SetText("alpha beta gamma\nxy");
    THeadlessView view;
    view.Chars = 8;
    e.SetView(&view);
    e.SetWordWrap(true);
    EXPECT_EQ(e.DisplayRowCount(), 2); // the width is the view's once it says so
    e.ViewResized();
    // Rows: "alpha " "beta " "gamma" | "xy".
    EXPECT_EQ(e.DisplayRowCount(), 4);
    e.SetCaretXY({3, 1});
    e.CommandProcessor(ecDown);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{9, 1}));
    EXPECT_EQ(e.DisplayXY(), (TDisplayCoord{3, 2}));
    e.CommandProcessor(ecLineEnd);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{11, 1})); // before the row's blank
    e.CommandProcessor(ecLineEnd);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{17, 1}));
    e.CommandProcessor(ecLineStart);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{12, 1}));
    e.CommandProcessor(ecLineStart);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{1, 1}));
    e.CommandProcessor(ecUp);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{1, 1}));
    e.SetCaretXY({5, 1});
    e.CommandProcessor(ecDown);
    e.CommandProcessor(ecDown);
    e.CommandProcessor(ecDown);
    EXPECT_EQ(e.CaretXY(), (TBufferCoord{3, 2}));
    // Typing that adds a row moves the rows below.
    e.SetCaretXY({1, 1});
    e.SetSelText("more ");
    EXPECT_EQ(e.DisplayRowCount(), 5);
    EXPECT_EQ(e.BufferToDisplayPos({1, 2}), (TDisplayCoord{1, 5}));
    // Folding turns wrap off and back: rows are lines again.
    e.SetUseCodeFolding(true);
    EXPECT_FALSE(e.WordWrap());
    EXPECT_EQ(e.WrapRows(), nullptr);
    EXPECT_EQ(e.DisplayRowCount(), 2);
    e.SetWordWrap(true);
    EXPECT_FALSE(e.UseCodeFolding());
    EXPECT_EQ(e.DisplayRowCount(), 5);
    e.SetView(nullptr);
}
