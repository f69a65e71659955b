#include "RangeScan.h"

#include "editor/EditorCore.h"
#include "editor/PythonHighlighter.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using namespace editor;
using editor::testing::FullScanRanges;
using editor::testing::StoredRanges;

namespace {

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
    void LinesCleared() override { log << "cleared"; }
    void BatchBegin() override { log << "["; }
    void BatchEnd() override { log << "]"; }
};

TEST(EditorCore, PluginsSeeEveryChange)
{
    TEditorCore core;
    RecordingPlugin plugin;
    core.AddPlugin(&plugin);
    core.AddPlugin(&plugin);
    core.SetText("a\nb");
    core.Lines().Put(1, "c");
    // The deletion is reported with the count really removed.
    core.Lines().DeleteLines(0, 5);
    EXPECT_EQ(plugin.log,
        (QStringList{"[", "ins 0 2", "]", "[", "put 1 b", "]", "[", "before 0 2", "del 0 2", "]"}));
    plugin.log.clear();
    core.SetText("x");
    core.SetText("y");
    EXPECT_EQ(plugin.log, (QStringList{"[", "ins 0 1", "]", "[", "before 0 1", "del 0 1", "cleared", "ins 0 1", "]"}));
    core.RemovePlugin(&plugin);
    core.Lines().Add("z");
    EXPECT_EQ(plugin.log.size(), 9);
}

TEST(EditorCore, SubscriptionsEndWithTheirHandleEvenInsideANotification)
{
    auto core = std::make_unique<TEditorCore>();
    RecordingPlugin first, second;
    TPluginSubscription a = core->Subscribe(&first);
    {
        TPluginSubscription b = core->Subscribe(&second);
        core->Lines().Add("x");
    }
    core->Lines().Add("y");
    EXPECT_EQ(first.log.size(), 6);
    EXPECT_EQ(second.log.size(), 3);

    // A plug-in that unsubscribes itself while being notified.
    struct Leaving : TEditorPlugin {
        TPluginSubscription self;
        int seen = 0;
        void LinePut(int, const QString&) override
        {
            ++seen;
            self.Reset();
        }
    } leaving;
    leaving.self = core->Subscribe(&leaving);
    core->Lines().Put(0, "p");
    core->Lines().Put(0, "q");
    EXPECT_EQ(leaving.seen, 1);
    EXPECT_EQ(first.log.size(), 12);
    // The editor may go first; the handle is then inert.
    core.reset();
    a.Reset();
}

TEST(EditorCore, InvalidationIsReportedOncePerBatch)
{
    TEditorCore core;
    core.SetText("a\nb\nc\nd\ne");
    std::vector<std::pair<int, int>> seen;
    core.OnLinesInvalidated = [&](TEditorCore*, int first, int last) { seen.emplace_back(first, last); };
    {
        TLineBufferUpdate batch(core.Lines());
        core.Lines().Put(3, "x");
        core.Lines().Put(1, "y");
        EXPECT_TRUE(seen.empty());
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 3}}));
    seen.clear();
    core.Lines().Put(2, "z");
    core.Lines().Delete(4);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{2, 2}, {4, -1}}));
}

TEST(EditorCore, TextEditsAtPositions)
{
    TEditorCore core;
    // An empty buffer gets its first line; a gap past the line end is blanks.
    EXPECT_EQ(core.InsertTextAt({3, 1}, u"ab"), (TBufferCoord{5, 1}));
    EXPECT_EQ(core.Text(), "  ab");
    // Every kind of line break in inserted text becomes a real line break.
    EXPECT_EQ(core.InsertTextAt({3, 1}, u"1\r\n2\r3\n4\u20285\u2029"), (TBufferCoord{1, 6}));
    EXPECT_EQ(core.Lines().Count(), 6);
    EXPECT_EQ(core.Text(), "  1\r\n2\r\n3\r\n4\r\n5\r\nab");
    EXPECT_EQ(core.TextRange({3, 1}, {2, 3}), "1\r\n2\r\n3");
    EXPECT_EQ(core.TextRange({9, 6}, {1, 1}), "  1\r\n2\r\n3\r\n4\r\n5\r\nab");
    // Deleting joins lines; the order of the ends does not matter.
    core.DeleteTextRange({1, 5}, {4, 1});
    EXPECT_EQ(core.Text(), "  15\r\nab");
    // Joining from past the end of a line pads it first.
    core.DeleteTextRange({7, 1}, {1, 2});
    EXPECT_EQ(core.Text(), "  15  ab");
    core.DeleteTextRange({12, 1}, {15, 1}); // past the end of the line: nothing
    EXPECT_EQ(core.Text(), "  15  ab");
    EXPECT_EQ(core.ReplaceTextRange({1, 1}, {9, 1}, u"x"), (TBufferCoord{2, 1}));
    EXPECT_EQ(core.Text(), "x");
    EXPECT_EQ(TEditorCore::SplitTextLines(u"a\n"), (QStringList{"a", ""}));
    EXPECT_EQ(TEditorCore::SplitTextLines(u"\n\r"), (QStringList{"", "", ""}));
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
