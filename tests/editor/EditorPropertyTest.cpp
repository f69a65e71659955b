// Random command sequences through the command processor: after every step
// the caret and selection are inside the text on character boundaries, the
// highlighter ranges and fold ranges equal a full rescan, and Modified is
// false exactly at the save point; undoing everything gives back the
// original text, caret and selection, redoing everything the final text.
#include "EditorTestSupport.h"
#include "RangeScan.h"

#include "editor/TextColumns.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

using namespace editor;
using editor::testing::TestEditor;
using editor::testing::Valid;
using editor::testing::Where;
using editor::testing::FullScanRanges;
using editor::testing::StoredRanges;

namespace {

std::vector<TFoldRange> FullFolds(const TLineBuffer& lines)
{
    TPythonHighlighter h;
    TEditorCore core;
    core.SetTabWidth(4);
    core.SetHighlighter(&h);
    QStringList all;
    for (int i = 0; i < lines.Count(); ++i)
        all << lines.Get(i);
    core.Lines().InsertStrings(0, all);
    core.SetUseCodeFolding(true);
    return core.AllFoldRanges().Ranges();
}

struct State {
    QString text;
    TBufferCoord caret, anchor, end;
    TSelectionMode mode;
};

State Snapshot(const TCustomCodeEditor& e)
{
    return {e.Text(), e.CaretXY(), e.SelectionAnchor(), e.SelectionEnd(), e.SelectionMode()};
}

} // namespace

TEST(EditorProperty, RandomCommandSequencesUndoRedoAndRescan)
{
    const std::vector<QString> pool = {"def f(x):", "    return x", "class A:", "    def m(self):", "        pass", "",
        "   ", "if a:", "else:", "    s = '''doc", "'''", "x = \"\"\"abc", "\tfor i in x:", "#region r", "#endregion",
        "# コメント", QString::fromUtf16(u"    名前 = '日本語' \U0001F600"), QString::fromUtf16(u"e\u0301\u0301 = 1"),
        "        if b: c()", "d = {1:", "x = 1  # note:"};
    const std::vector<QString> pastes = {QString::fromUtf16(u"あ\r\nい\U0001F600う"), QString::fromUtf16(u"x\u2028y\u2029z"),
        "if q:\n    pass\r", "'''\n", QString::fromUtf16(u"\U0001F600"), "\t", "(a)"};
    const std::vector<TEditorCommand> simple = {ecDeleteChar, ecDeleteLastChar, ecLineBreak, ecInsertLine, ecTab, ecShiftTab,
        ecBlockIndent, ecBlockUnindent, ecUpperCase, ecLowerCase, ecToggleCase, ecTitleCase, ecCopyLineUp, ecCopyLineDown,
        ecMoveLineUp, ecMoveLineDown, ecDeleteLine, ecDeleteWord, ecDeleteLastWord, ecDeleteBOL, ecDeleteEOL, ecLeft,
        ecRight, ecUp, ecDown, ecWordLeft, ecWordRight, ecLineStart, ecLineEnd, ecSelLeft, ecSelRight, ecSelUp, ecSelDown,
        ecSelWordRight, ecSelLineEnd, ecSelLineStart, ecPageDown, ecSelPageUp, ecEditorBottom, ecSelectAll, ecCut,
        ecCopy, ecMatchBracket, ecToggleMode, ecFoldNearest, ecUnfoldAll, ecFoldAll, ecScrollDown, ecClearAll};
    std::mt19937 rng(4711);
    auto pick = [&](int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; };

    for (int run = 0; run < 120; ++run) {
        QStringList start;
        for (int i = 0, n = 1 + pick(14); i < n; ++i)
            start << pool[std::size_t(pick(int(pool.size())))];
        TestEditor t(start.join(rng() % 2 ? "\n" : "\r\n"));
        TCodeEditor& e = t.e;
        t.view.Lines = 5;
        e.SetUseCodeFolding(true);
        if (rng() % 3 == 0)
            e.SetOptions(e.Options() | eoScrollPastEol);
        if (rng() % 3 == 0)
            e.SetOptions(e.Options() & ~eoTabsToSpaces);
        e.ClearUndo();
        e.SetModified(false);
        // The save point is the change number of the top item (0 for an empty
        // list), as the undo list defines it: an item's address can be reused
        // by a later item once the first is freed.
        auto topChange = [&] {
            const TUndoItem* top = e.UndoManager().UndoList().Peek();
            return top ? top->ChangeNumber : 0u;
        };
        std::uint32_t savedChange = 0;
        QString savedText = e.Text();
        std::optional<State> original;
        std::string log;

        for (int step = 0; step < 50; ++step) {
            // The history starts with the first change made while it was
            // empty; undoing everything must come back to the state before it.
            const bool hadHistory = e.CanUndo();
            State before = Snapshot(e);
            const int kind = pick(20);
            std::string what;
            auto randomPos = [&] {
                const int line = 1 + pick(std::max(1, e.Lines().Count()));
                return TBufferCoord{1 + pick(e.Lines().LineCharLength(line - 1) + 3), line};
            };
            if (kind < 5) {
                const QString chars = QString::fromUtf16(u"ab :x(]あ ");
                const QChar ch = chars[pick(int(chars.size()))];
                what = "type";
                t.Type(QString(ch));
            } else if (kind < 12) {
                const TEditorCommand c = simple[std::size_t(pick(int(simple.size())))];
                what = "cmd " + std::to_string(c);
                e.CommandProcessor(c);
            } else if (kind < 14) {
                const TSelectionMode modes[] = {smNormal, smColumn, smLine};
                e.SetSelectionMode(modes[pick(3)]);
                e.SetSelection(randomPos(), randomPos());
                what = "select";
            } else if (kind < 15) {
                t.view.Clipboard = pastes[std::size_t(pick(int(pastes.size())))];
                e.CommandProcessor(ecPaste);
                what = "paste";
            } else if (kind < 17) {
                what = "undo";
                e.CommandProcessor(ecUndo);
            } else if (kind < 18) {
                what = "redo";
                e.CommandProcessor(ecRedo);
            } else if (kind < 19) {
                e.SetCaretXY(randomPos());
                before = Snapshot(e);
                t.Enter();
                what = "enter";
            } else {
                e.SetModified(false);
                savedChange = topChange();
                savedText = e.Text();
                what = "save";
            }
            log += what + "; ";
            if (!hadHistory && e.CanUndo() && what != "redo")
                original = before;
            const std::string context = "run " + std::to_string(run) + " step " + std::to_string(step) + ": " + log
                + "\n" + e.Text().toStdString();
            const bool pastEol = e.HasOption(eoScrollPastEol) || e.SelectionMode() == smColumn;
            ASSERT_TRUE(Valid(e, e.CaretXY(), pastEol)) << context;
            ASSERT_TRUE(Valid(e, e.SelectionAnchor(), pastEol)) << context;
            ASSERT_TRUE(Valid(e, e.SelectionEnd(), pastEol)) << context;
            ASSERT_EQ(StoredRanges(e.Lines()), FullScanRanges(e.Lines())) << context;
            std::vector<TFoldRange> folds = e.AllFoldRanges().Ranges();
            for (TFoldRange& r : folds)
                r.Collapsed = false;
            ASSERT_TRUE(folds == FullFolds(e.Lines())) << context;
            const bool atSavePoint = topChange() == savedChange;
            ASSERT_EQ(e.Modified(), !atSavePoint) << context;
            if (atSavePoint) {
                ASSERT_EQ(e.Text(), savedText) << context;
            }
        }

        if (!original)
            continue;
        // Undone steps at the end are part of the history too. A caret past
        // the line end exists only in column mode: undo in the first mode.
        e.SetSelectionMode(original->mode);
        while (e.CanRedo())
            e.Redo();
        const QString finalText = e.Text();
        while (e.CanUndo())
            e.Undo();
        const std::string context = "run " + std::to_string(run) + ": " + log;
        EXPECT_EQ(e.Text(), original->text) << context;
        EXPECT_EQ(Where(e.CaretXY()), Where(original->caret)) << context;
        EXPECT_EQ(Where(e.SelectionAnchor()), Where(original->anchor)) << context;
        EXPECT_EQ(Where(e.SelectionEnd()), Where(original->end)) << context;
        while (e.CanRedo())
            e.Redo();
        EXPECT_EQ(e.Text(), finalText) << context;
        EXPECT_EQ(StoredRanges(e.Lines()), FullScanRanges(e.Lines())) << context;
    }
}
