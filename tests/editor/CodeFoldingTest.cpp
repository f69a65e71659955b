#include "editor/CodeFolding.h"
#include "editor/EditorCore.h"
#include "editor/PythonHighlighter.h"

#include <QBuffer>
#include <QStringList>
#include <gtest/gtest.h>

using namespace editor;

namespace {

struct R {
    int from, to, type;
    bool operator==(const R&) const = default;
};

std::ostream& operator<<(std::ostream& os, const R& r) { return os << "{" << r.from << "," << r.to << "," << r.type << "}"; }

std::vector<R> RangesOf(const TFoldRanges& f)
{
    std::vector<R> out;
    for (const TFoldRange& r : f.Ranges())
        out.push_back({r.FromLine, r.ToLine, r.FoldType});
    return out;
}

struct Folding {
    TPythonHighlighter highlighter;
    TEditorCore core;
    Folding(const QStringList& lines)
    {
        core.SetTabWidth(4);
        core.SetHighlighter(&highlighter);
        core.SetText(lines.join("\r\n"));
        core.SetUseCodeFolding(true);
    }
    TFoldRanges& folds() { return core.AllFoldRanges(); }
    std::vector<R> ranges() { return RangesOf(core.AllFoldRanges()); }
};

} // namespace

TEST(CodeFolding, PythonBlocks)
{
    EXPECT_EQ(Folding({"def f():", "    return 1", "", "x = 2"}).ranges(), (std::vector<R>{{1, 2, FoldTypeDef}}));
    EXPECT_EQ(Folding({"class A:", "    def m(self):", "        pass", "    x = 1"}).ranges(),
        (std::vector<R>{{1, 4, FoldTypeClass}, {2, 3, FoldTypeDef}}));
    // A comment at a smaller indentation closes the block.
    EXPECT_EQ(Folding({"if a:", "    b()", "# note", "    c()"}).ranges(), (std::vector<R>{{1, 2, FoldTypeBlock}}));
    // else at the if's indentation closes it and opens its own range.
    EXPECT_EQ(Folding({"if a:", "    b()", "else:", "    c()"}).ranges(),
        (std::vector<R>{{1, 2, FoldTypeBlock}, {3, 4, FoldTypeBlock}}));
    // An opener followed directly by a line at its own indentation.
    EXPECT_EQ(Folding({"for x in y:", "z = 1"}).ranges(), (std::vector<R>{{1, 1, FoldTypeBlock}}));
    EXPECT_EQ(Folding({"async  def f():", "\tpass", "async with a:", "\tpass", "finally:", "match x:", "@deco", "defx = 1"}).ranges(),
        (std::vector<R>{{1, 2, FoldTypeDef}, {3, 4, FoldTypeBlock}}));
    Folding empty({});
    EXPECT_TRUE(empty.ranges().empty());
}

TEST(CodeFolding, StringsAndRegions)
{
    Folding f({"def f():", "    x = 1", "", "", "    s = '''a", "b", "c", "d'''", "    return s"});
    EXPECT_EQ(f.ranges(), (std::vector<R>{{1, 9, FoldTypeDef}, {5, 8, FoldTypeString}}));
    for (int line : {6, 7})
        EXPECT_EQ(std::count_if(f.folds().FoldInfoList().begin(), f.folds().FoldInfoList().end(),
                      [&](const auto& m) { return m.Line == line; }),
            0);
    // Backslash-continued strings make their lines marker-free, never a
    // fold; the line that ends such a string counts as code at its own
    // indentation.
    Folding cont({"if a:", "    s = 'x\\", "    y'", "    t = 1"});
    EXPECT_EQ(cont.ranges(), (std::vector<R>{{1, 4, FoldTypeBlock}}));
    EXPECT_FALSE(cont.folds().FoldInfoList()[1].Line == 2);
    EXPECT_EQ(Folding({"if a:", "    s = 'x\\", "y'", "    t = 1"}).ranges(), (std::vector<R>{{1, 2, FoldTypeBlock}}));

    QStringList region{"#region x"};
    for (int i = 0; i < 8; ++i)
        region << "x = 1";
    region << "#ENDREGION";
    EXPECT_EQ(Folding(region).ranges(), (std::vector<R>{{1, 10, FoldTypeRegion}}));
    EXPECT_EQ(Folding({"  #Region", "x"}).ranges(), (std::vector<R>{{1, 1, FoldTypeRegion}}));
}

TEST(CodeFolding, Queries)
{
    Folding f({"class A:", "    def m(self):", "        if x:", "            pass", "        y = 1", "    def n(self):",
        "        pass", "#region r", "z = 1", "#endregion"});
    // Region comments do not close indentation blocks.
    ASSERT_EQ(f.ranges(), (std::vector<R>{{1, 8, 3}, {2, 5, 4}, {3, 4, 1}, {6, 8, 4}, {8, 10, 99}}));
    TFoldRanges& folds = f.folds();
    int index = -1;
    EXPECT_TRUE(folds.FoldStartAtLine(6, &index));
    EXPECT_EQ(index, 3);
    EXPECT_FALSE(folds.FoldStartAtLine(5));
    EXPECT_FALSE(folds.FoldEndAtLine(7));
    EXPECT_TRUE(folds.FoldEndAtLine(8, &index));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(folds.FoldAroundLine(4, &index));
    EXPECT_EQ(index, 1); // the innermost; range 2 ends at line 4
    EXPECT_TRUE(folds.FoldAroundLineEx(4, false, false, true, &index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(folds.FoldAroundLineEx(3, false, false, false, &index) && index == 2);
    EXPECT_TRUE(folds.FoldAroundLineEx(3, false, true, false, &index));
    EXPECT_EQ(index, 2);
    EXPECT_EQ(folds.FoldsAtLevel(1), (std::vector<int>{0}));
    EXPECT_EQ(folds.FoldsAtLevel(2), (std::vector<int>{1, 3}));
    EXPECT_EQ(folds.FoldsAtLevel(3), (std::vector<int>{2}));
    EXPECT_EQ(folds.FoldsOfType(FoldTypeDef), (std::vector<int>{1, 3}));
    EXPECT_EQ(folds.GetIndentLevel(4), 8);
    EXPECT_EQ(folds.GetIndentLevel(1), -1);
    EXPECT_EQ(folds.GetIndentLevel(10), 0); // region markers carry no indent

    f.core.Collapse(2);
    f.core.Collapse(1);
    EXPECT_TRUE(folds.FoldHidesLine(3, &index)); // header of the inner range, hidden by the outer one
    EXPECT_TRUE(folds.FoldHidesLine(5));
    EXPECT_FALSE(folds.FoldHidesLine(2));
    EXPECT_TRUE(folds.CollapsedFoldAroundLine(4, &index));
    EXPECT_EQ(index, 1);
    // Rows: 1, 2 (lines 3-5 hidden), then 6 -> row 3.
    EXPECT_EQ(folds.FoldLineToRow(6), 3);
    EXPECT_EQ(folds.FoldRowToLine(3), 6);
    for (int line : {1, 2, 6, 7, 8, 9, 10})
        EXPECT_EQ(folds.FoldRowToLine(folds.FoldLineToRow(line)), line) << line;
    // Hidden lines answer the row of the header that hides them.
    for (int line : {3, 4, 5})
        EXPECT_EQ(folds.FoldLineToRow(line), 2) << line;

    QByteArray state;
    QBuffer out(&state);
    out.open(QIODevice::WriteOnly);
    folds.StoreCollapsedState(out);
    EXPECT_EQ(state.size(), 8);
    f.core.Uncollapse(1);
    f.core.Uncollapse(2);
    QBuffer in(&state);
    in.open(QIODevice::ReadOnly);
    folds.RestoreCollapsedState(in);
    EXPECT_TRUE(folds.Get(1).Collapsed && folds.Get(2).Collapsed);

    EXPECT_THROW(f.core.Collapse(5), EArgumentOutOfRange);
    EXPECT_THROW(folds.Uncollapse(-1), EArgumentOutOfRange);
    EXPECT_THROW(folds.Get(99), EArgumentOutOfRange);
}

TEST(CodeFolding, EditsMoveExpandAndRebuild)
{
    Folding f({"x = 0", "def f():", "    a = 1", "    b = 2", "y = 3"});
    ASSERT_EQ(f.ranges(), (std::vector<R>{{2, 4, FoldTypeDef}}));
    f.core.Collapse(0);
    f.core.Lines().InsertStrings(0, {"p = 1", "q = 2"});
    EXPECT_EQ(f.ranges(), (std::vector<R>{{4, 6, FoldTypeDef}}));
    EXPECT_TRUE(f.folds().Get(0).Collapsed);
    // Typing in the header line expands the range.
    f.core.Lines().Put(3, "def g():");
    EXPECT_EQ(f.ranges(), (std::vector<R>{{4, 6, FoldTypeDef}}));
    EXPECT_FALSE(f.folds().Get(0).Collapsed);
    // Collapsed state survives an unrelated rebuild.
    f.core.Collapse(0);
    f.core.Lines().Put(0, "if p:");
    EXPECT_EQ(f.ranges(), (std::vector<R>{{1, 1, FoldTypeBlock}, {4, 6, FoldTypeDef}}));
    EXPECT_TRUE(f.folds().Get(1).Collapsed);
    // Deleting the header removes the range.
    f.core.Lines().Delete(3);
    EXPECT_EQ(f.ranges(), (std::vector<R>{{1, 1, FoldTypeBlock}}));

    // Within a batch the rebuild waits for its end.
    Folding g({"def f():", "    a = 1"});
    g.core.Lines().BeginUpdate();
    g.core.Lines().Put(1, "b = 1");
    EXPECT_EQ(g.ranges(), (std::vector<R>{{1, 2, FoldTypeDef}}));
    g.core.Lines().Delete(0);
    g.core.Lines().EndUpdate();
    EXPECT_EQ(g.ranges(), std::vector<R>{});

    // Tabs count as the tab width; changing it rescans the indentation.
    Folding t({"\tif a:", "        b = 1"});
    EXPECT_EQ(t.ranges(), (std::vector<R>{{1, 2, FoldTypeBlock}}));
    t.core.Collapse(0);
    t.core.SetTabWidth(8);
    EXPECT_EQ(t.ranges(), (std::vector<R>{{1, 1, FoldTypeBlock}}));
    EXPECT_TRUE(t.folds().Get(0).Collapsed);

    // Folding off: the model is idle and empty.
    f.core.SetUseCodeFolding(false);
    EXPECT_TRUE(f.ranges().empty());
    f.core.Lines().Put(0, "class K:");
    EXPECT_TRUE(f.ranges().empty());
}

TEST(CodeFolding, RebuildFromMarkers)
{
    TLineBuffer lines;
    lines.SetText("a\nb\nc\nd\ne\n\n");
    TFoldRanges folds;
    folds.StartFoldRange(1, 2, -1);
    folds.StartFoldRange(2, 1, 0);
    folds.StartFoldRange(3, 1, 4);
    folds.StopFoldRange(4, 2, -1); // closes the explicit range only
    folds.StopFoldRange(5, 1, 4);
    EXPECT_TRUE(folds.StopScanning(lines));
    EXPECT_FALSE(folds.StopScanning(lines));
    EXPECT_EQ(RangesOf(folds), (std::vector<R>{{1, 4, 2}, {2, 2, 1}, {3, 4, 1}}));
    folds.SetCodeFoldingMode(cfmIndentation);
    folds.RecreateFoldRanges(lines);
    // The open range runs to the last line, trailing blank lines trimmed.
    EXPECT_EQ(RangesOf(folds), (std::vector<R>{{1, 4, 2}, {2, 5, 1}, {3, 4, 1}}));
    // The same marker again is not a change.
    folds.StartFoldRange(2, 1, 0);
    EXPECT_FALSE(folds.RangesNeedFixing());
    folds.NoFoldInfo(40);
    EXPECT_FALSE(folds.RangesNeedFixing());
    folds.NoFoldInfo(2);
    EXPECT_TRUE(folds.RangesNeedFixing());
    folds.Reset();
    EXPECT_TRUE(folds.FoldInfoList().empty());
    EXPECT_EQ(folds.Count(), 0);
}
