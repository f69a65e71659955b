#include "editor/EditorCore.h"
#include "editor/PythonHighlighter.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using namespace editor;

namespace {

std::vector<std::intptr_t> StoredRanges(const TLineBuffer& b)
{
    std::vector<std::intptr_t> out;
    for (int i = 0; i < b.Count(); ++i)
        out.push_back(b.GetRange(i));
    return out;
}

// Ranges a full scan from the top gives, with a highlighter of its own.
std::vector<std::intptr_t> FullScanRanges(const TLineBuffer& b)
{
    TPythonHighlighter h;
    h.ResetRange();
    std::vector<std::intptr_t> out;
    for (int i = 0; i < b.Count(); ++i) {
        h.SetLine(b.GetRef(i), i);
        h.NextToEol();
        out.push_back(h.GetRange());
    }
    return out;
}

struct FoldSnapshot {
    std::vector<TFoldRange> ranges;
    std::vector<TFoldRanges::TLineFoldInfo> markers;
};

std::string Describe(const std::vector<TFoldRanges::TLineFoldInfo>& markers)
{
    std::string out;
    for (const auto& m : markers)
        out += std::to_string(m.Line) + (m.FoldOpenClose == TFoldRanges::focOpen ? "o" : "c") + std::to_string(m.FoldType)
            + "/" + std::to_string(m.Indent) + " ";
    return out;
}

std::string Describe(const std::vector<TFoldRange>& ranges)
{
    std::string out;
    for (const auto& r : ranges)
        out += std::to_string(r.FromLine) + "-" + std::to_string(r.ToLine) + ":" + std::to_string(r.FoldType) + " ";
    return out;
}

FoldSnapshot FullFolds(const QString& text, int tabWidth)
{
    TPythonHighlighter h;
    TEditorCore core;
    core.SetTabWidth(tabWidth);
    core.SetHighlighter(&h);
    core.SetText(text);
    core.SetUseCodeFolding(true);
    return {core.AllFoldRanges().Ranges(), core.AllFoldRanges().FoldInfoList()};
}

} // namespace

TEST(EditorCore, TextRoundTripAndRangesAfterSetText)
{
    TPythonHighlighter h;
    TEditorCore core;
    core.SetHighlighter(&h);
    core.SetText("s = '''a\r\n\r\nb'''\nx = 1");
    EXPECT_EQ(core.Lines().Count(), 4);
    EXPECT_EQ(core.Text(), "s = '''a\r\n\r\nb'''\r\nx = 1");
    EXPECT_EQ(StoredRanges(core.Lines()),
        (std::vector<std::intptr_t>{rsMultilineString, rsMultilineString, rsUnKnown, rsUnKnown}));
    EXPECT_FALSE(core.UseCodeFolding());
    EXPECT_EQ(core.AllFoldRanges().Count(), 0);
}

TEST(EditorCore, RescanContinuesOnlyWhileStatesChange)
{
    TPythonHighlighter h;
    TEditorCore core;
    core.SetHighlighter(&h);
    core.SetText("a = 1\nb = '''x\nc\nd'''\ne = 2\nf = 3");
    // Typing inside a line costs that line only.
    core.Lines().Put(4, "e = 22");
    EXPECT_EQ(core.RescanRanges(4), 4);
    // Opening a string runs the rescan to the end of the text.
    int lastInvalidated = 0;
    core.OnLinesInvalidated = [&](TEditorCore*, int, int last) { lastInvalidated = last; };
    core.Lines().Put(0, "a = '''1");
    EXPECT_EQ(lastInvalidated, 5);
    EXPECT_EQ(StoredRanges(core.Lines()), FullScanRanges(core.Lines()));
    // A line inserted in the middle of an open string is scanned and the
    // scan goes on until a stored state matches again.
    core.Lines().Put(0, "a = 1");
    core.Lines().Insert(2, "y'''");
    EXPECT_EQ(StoredRanges(core.Lines()), FullScanRanges(core.Lines()));
    EXPECT_EQ(core.Lines().GetRange(2), rsUnKnown);
    EXPECT_EQ(core.Lines().GetRange(4), rsMultilineString);
    // Without a highlighter nothing is scanned.
    TEditorCore plain;
    plain.SetText("a\nb");
    EXPECT_EQ(plain.Lines().GetRange(0), kRangeNotScanned);
    EXPECT_EQ(plain.RescanRanges(0), 0);
}

TEST(EditorCore, SharedBufferChainsHandlers)
{
    TPythonHighlighter h;
    TEditorCore first;
    first.SetHighlighter(&h);
    int seen = 0;
    ChainEvent(first.Lines().OnInserted, [&](TLineBuffer* b, int, int) {
        // Runs after the first editor's own handler: the ranges are scanned.
        EXPECT_NE(b->GetRange(0), kRangeNotScanned);
        ++seen;
    });
    {
        TEditorCore second(&first.Lines());
        first.SetText("x = '''");
        EXPECT_EQ(seen, 1);
        EXPECT_EQ(&second.Lines(), &first.Lines());
    }
    // The second editor is gone; its chained handler is skipped safely.
    first.Lines().Add("y");
    EXPECT_EQ(seen, 2);
}

class RecordingPlugin : public TEditorPlugin {
public:
    QStringList log;
    void LinesInserted(int i, int n) override { log << QString("ins %1 %2").arg(i).arg(n); }
    void LinesBeforeDeleted(int i, int n) override { log << QString("before %1 %2").arg(i).arg(n); }
    void LinesDeleted(int i, int n) override { log << QString("del %1 %2").arg(i).arg(n); }
    void LinePut(int i, const QString& old) override { log << QString("put %1 %2").arg(i).arg(old); }
};

TEST(EditorCore, PluginsSeeEveryChange)
{
    TEditorCore core;
    RecordingPlugin plugin;
    core.AddPlugin(&plugin);
    core.AddPlugin(&plugin);
    core.SetText("a\nb");
    core.Lines().Put(1, "c");
    core.Lines().DeleteLines(0, 5);
    EXPECT_EQ(plugin.log,
        (QStringList{"ins 0 2", "put 1 b", "before 0 5", "del 0 2"}));
    core.RemovePlugin(&plugin);
    core.Lines().Add("z");
    EXPECT_EQ(plugin.log.size(), 4);
}

TEST(EditorCore, IncrementalRangesAndFoldsEqualAFullRescan)
{
    const std::vector<QString> pool = {"def f(x):", "    return x", "class A:", "    def m(self):", "        pass", "",
        "   ", "if a:", "else:", "    s = '''doc", "'''", "\"\"\"", "x = \"\"\"abc", "abc\"\"\" + y", "s = 'a\\",
        "t = \"b\\", "c'", "d\"", "#region r", "#EndRegion", "# comment", "\tfor i in x:", "\t\twhile 1:",
        "    '''one line'''", "try:", "except E:", "x = 1  # '''", "'''a''' '''b", "with f:", "  \\'''"};
    std::mt19937 rng(2024);
    auto line = [&] { return pool[rng() % pool.size()]; };
    auto pick = [&](int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; };

    for (int run = 0; run < 60; ++run) {
        TPythonHighlighter h;
        TEditorCore core;
        core.SetTabWidth(4);
        core.SetHighlighter(&h);
        QStringList start;
        for (int i = 0, n = pick(25); i < n; ++i)
            start << line();
        core.SetText(start.join("\n"));
        core.SetUseCodeFolding(true);
        TLineBuffer& b = core.Lines();
        std::string lastOp;
        for (int step = 0; step < 80; ++step) {
            const bool batch = rng() % 6 == 0;
            if (batch)
                b.BeginUpdate();
            lastOp.clear();
            for (int k = 0, ops = batch ? 1 + pick(4) : 1; k < ops; ++k) {
                const unsigned op = rng() % 7;
                lastOp += std::to_string(op) + " ";
                switch (op) {
                case 0:
                    b.Insert(pick(b.Count() + 1), line());
                    break;
                case 1: {
                    QStringList more;
                    for (int i = 0, n = 1 + pick(4); i < n; ++i)
                        more << line();
                    b.InsertStrings(pick(b.Count() + 1), more);
                    break;
                }
                case 2:
                    if (b.Count() > 0)
                        b.Delete(pick(b.Count()));
                    break;
                case 3:
                    if (b.Count() > 0)
                        b.DeleteLines(pick(b.Count()), 1 + pick(5));
                    break;
                case 4:
                case 5:
                    b.Put(pick(b.Count() + 1), line());
                    break;
                case 6:
                    if (rng() % 4 == 0) {
                        if (rng() % 2)
                            b.Clear();
                        else
                            core.SetText(line() + "\n" + line());
                    } else if (b.Count() > 0 && !core.AllFoldRanges().Ranges().empty()) {
                        core.Collapse(pick(core.AllFoldRanges().Count()));
                    }
                    break;
                }
            }
            if (batch)
                b.EndUpdate();

            ASSERT_EQ(StoredRanges(b), FullScanRanges(b)) << "run " << run << " step " << step << "\n"
                                                           << b.GetText().toStdString();
            const FoldSnapshot full = FullFolds(b.GetText(), 4);
            const auto& markers = core.AllFoldRanges().FoldInfoList();
            ASSERT_TRUE(markers == full.markers) << "run " << run << " step " << step << "\n" << Describe(markers) << "\n"
                                                 << Describe(full.markers) << "\n" << lastOp << "\n"
                                                 << b.GetText().toStdString();
            std::vector<TFoldRange> got = core.AllFoldRanges().Ranges();
            for (TFoldRange& r : got)
                r.Collapsed = false;
            ASSERT_TRUE(got == full.ranges) << "run " << run << " step " << step << "\n" << Describe(got) << "\n"
                                            << Describe(full.ranges) << "\n" << lastOp << "\n"
                                            << b.GetText().toStdString();
        }
    }
}
