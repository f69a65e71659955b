#include "EditorTestSupport.h"

#include "editor/EditTransaction.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace editor;
using editor::testing::TestEditor;

TEST(EditorUndo, TypingGroupsUntilTheCaretMoves)
{
    TestEditor t("x = 1");
    t.e.SetCaretXY({6, 1});
    t.Type("abc");
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), "x = 1");
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{6, 1}));

    t.Type("ab");
    t.Key(VK_LEFT);
    t.Key(VK_RIGHT);
    t.Type("c");
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), "x = 1ab");
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), "x = 1");
    t.e.Redo();
    EXPECT_EQ(t.e.Text(), "x = 1ab");
    t.e.Redo();
    EXPECT_EQ(t.e.Text(), "x = 1abc");
    EXPECT_FALSE(t.e.CanRedo());
}

TEST(EditorUndo, LineBreakAndPythonIndentAreSeparateBlocks)
{
    TestEditor t("if a:");
    t.e.SetCaretXY({6, 1});
    t.Enter();
    EXPECT_EQ(t.Lines(), (QStringList{"if a:", "    "}));
    t.e.Undo(); // the behaviour's blanks first
    EXPECT_EQ(t.Lines(), (QStringList{"if a:", ""}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 2}));
    t.e.Undo();
    EXPECT_EQ(t.Lines(), (QStringList{"if a:"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{6, 1}));
    t.e.Redo();
    t.e.Redo();
    EXPECT_EQ(t.Lines(), (QStringList{"if a:", "    "}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{5, 2}));
}

TEST(EditorUndo, ReplacingASelectionIsOneStepAndRestoresTheSelection)
{
    TestEditor t("one two three");
    t.e.SetSelection({5, 1}, {8, 1});
    t.e.View().SetClipboardText("A\r\nB\nC");
    t.Key('V', ssCtrl);
    EXPECT_EQ(t.Lines(), (QStringList{"one A", "B", "C three"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{2, 3}));
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), "one two three");
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{5, 1}));
    EXPECT_EQ(t.e.SelectionEnd(), (TBufferCoord{8, 1}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{8, 1}));
    EXPECT_EQ(t.e.UndoManager().UndoList().Count(), 1); // setting the text
}

TEST(EditorUndo, ModifiedFollowsTheSavePoint)
{
    TestEditor t("a\nb");
    EXPECT_TRUE(t.e.Modified()); // setting the text is a change
    int notified = 0;
    t.e.AddModifiedChangedHandler([&](TCustomCodeEditor&) { ++notified; });
    t.e.SetModified(false);
    t.e.SetCaretXY({2, 1});
    t.Type("x");
    EXPECT_TRUE(t.e.Modified());
    EXPECT_EQ(notified, 1);
    t.e.Undo();
    EXPECT_FALSE(t.e.Modified());
    EXPECT_EQ(notified, 2);
    t.e.Redo();
    EXPECT_TRUE(t.e.Modified());
    t.e.Undo();
    t.e.SetModified(true);
    t.Type("y");
    t.e.Undo();
    EXPECT_TRUE(t.e.Modified());
    // Undo back past the save point and then a new change: still modified.
    t.e.SetModified(false);
    t.Type("z");
    t.e.Undo();
    t.e.Undo();
    EXPECT_TRUE(t.e.Modified());
}

TEST(EditorUndo, LimitKeepsTheNewestThreeQuarters)
{
    TestEditor t("");
    t.e.SetMaxUndo(8);
    for (int i = 0; i < 8; ++i) {
        t.Type("a");
        t.Key(VK_HOME); // each character its own group
    }
    EXPECT_EQ(t.e.UndoManager().UndoList().Count(), 8);
    t.Type("a");
    EXPECT_EQ(t.e.UndoManager().UndoList().Count(), 6);
    EXPECT_TRUE(t.e.UndoManager().UndoList().FullUndoImpossible());
    while (t.e.CanUndo())
        t.e.Undo();
    EXPECT_EQ(t.e.Text(), "aaa");
}

TEST(EditorUndo, SettingTextIsOneStepAndClearsTheHistory)
{
    TestEditor t("first");
    t.Type("x");
    t.e.SetCaretXY({3, 1});
    t.e.SetText("a\nb\nc");
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 1}));
    EXPECT_EQ(t.e.UndoManager().UndoList().Count(), 1);
    t.e.Undo();
    EXPECT_EQ(t.e.Lines().Count(), 0);
    EXPECT_FALSE(t.e.CanUndo());
    t.e.Redo();
    EXPECT_EQ(t.e.Text(), "a\r\nb\r\nc");
    // A single empty line is not recorded at all.
    TestEditor empty("");
    t.e.SetText("");
    EXPECT_FALSE(empty.e.CanUndo());
}

TEST(EditorUndo, ChangeFlagsAcrossSaveAndUndo)
{
    TestEditor t("a\nb");
    t.e.ClearTrackChanges();
    t.e.SetCaretXY({2, 1});
    t.Type("x");
    EXPECT_EQ(t.e.Lines().GetChangeFlags(0), sfModified);
    EXPECT_EQ(t.e.Lines().GetChangeFlags(1), 0);
    t.e.MarkSaved();
    EXPECT_EQ(t.e.Lines().GetChangeFlags(0), sfSaved | sfAsSaved);
    t.Key(VK_LEFT);
    t.Type("y");
    EXPECT_EQ(t.e.Lines().GetChangeFlags(0), sfSaved | sfModified);
    t.e.Undo();
    EXPECT_EQ(t.e.Lines().GetChangeFlags(0), sfSaved | sfAsSaved);
    t.e.Undo(); // before the save point: the line keeps only its saved mark
    EXPECT_EQ(t.e.Lines().GetChangeFlags(0), sfSaved);
    // Inserted lines are modified; undoing and redoing keeps that.
    t.e.SetCaretXY({2, 2});
    t.Enter();
    EXPECT_EQ(t.e.Lines().GetChangeFlags(2), sfModified);
}

TEST(EditorUndo, MisuseRaisesAndLeavesTheEditorUsable)
{
    TestEditor t("abc");
    try {
        t.e.EndUndoBlock();
        FAIL() << "no assertion failure";
    } catch (const EAssertionFailed& error) {
        EXPECT_TRUE(error.Message().startsWith(QStringLiteral("アサートの失敗")));
        EXPECT_EQ(error.Source(), "EditorUndo");
    }
    t.e.BeginUndoBlock();
    t.Type("x");
    EXPECT_THROW(t.e.Undo(), EAssertionFailed);
    EXPECT_THROW(t.e.Redo(), EAssertionFailed);
    t.e.EndUndoBlock();
    EXPECT_EQ(t.e.Text(), "xabc");
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), "abc");
    // An item added while an undo runs is refused.
    struct Sneaky : TEditorPlugin {
        TCustomCodeEditor* editor;
        bool tried = false;
        void LinePut(int, const QString&) override
        {
            if (!tried && editor->UndoManager().InsideUndoRedo()) {
                tried = true;
                const_cast<TEditorUndo&>(editor->UndoManager())
                    .RecordItem(std::make_unique<TCaretAndSelectionUndoItem>(TCaretAndSelection{}));
            }
        }
    } sneaky;
    sneaky.editor = &t.e;
    TPluginSubscription sub = t.e.Subscribe(&sneaky);
    EXPECT_THROW(t.e.Redo(), EAssertionFailed);
    EXPECT_FALSE(t.e.UndoManager().InsideUndoRedo());
    sub.Reset();
    t.Type("q");
    t.e.Undo();
    EXPECT_EQ(t.e.Lines().Count(), 1);
}

TEST(EditorUndo, LockedChangesAreNotRecorded)
{
    TestEditor t("abc");
    t.e.SetModified(false);
    const int before = t.e.UndoManager().UndoList().Count();
    t.e.LockUndo();
    t.e.Lines().Put(0, "changed");
    t.e.UnlockUndo();
    EXPECT_EQ(t.e.UndoManager().UndoList().Count(), before);
    EXPECT_FALSE(t.e.Modified());
}

TEST(EditorUndo, UndoOfTypingBeforeAnEqualCharacterReturnsTheCaret)
{
    // The changed span of "ab" -> "aab" starts after the first "a"; the caret
    // still goes back to where the character was typed.
    TestEditor t("ab");
    t.e.SetCaretXY({1, 1});
    t.Type("a");
    t.e.Undo();
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 1}));
    t.e.Redo();
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{3, 1}));
    // A command with a selection that does not replace it gets its
    // selection back on undo.
    t.e.SetSelection({1, 1}, {3, 1});
    t.e.CommandProcessor(ecDeleteEOL);
    t.e.Undo();
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{1, 1}));
    EXPECT_EQ(t.e.SelectionEnd(), (TBufferCoord{3, 1}));
}

TEST(EditTransaction, AnErrorLeavesTheUndoStepClosedAndTheBufferOutOfItsBatch)
{
    // Every kind of edit, with the error raised by the edit itself or by a
    // listener while the transaction ends: the edit done so far is one closed
    // undo step, the buffer is out of its batch and status reports flow again.
    using TEdit = std::function<void(TCustomCodeEditor& e, const std::function<void()>& fail)>;
    const std::vector<std::pair<const char*, TEdit>> edits = {
        {"put a line", [](TCustomCodeEditor& e, auto& fail) { e.PutLine(2, "changed"); fail(); }},
        {"insert text", [](TCustomCodeEditor& e, auto& fail) { e.InsertTextAt({2, 1}, u"x\ny"); fail(); }},
        {"delete a range", [](TCustomCodeEditor& e, auto& fail) { e.DeleteTextRange({2, 1}, {2, 3}); fail(); }},
        {"replace the selection", [](TCustomCodeEditor& e, auto& fail) {
             e.SetSelection({1, 1}, {3, 2});
             e.SetSelText("Z");
             fail();
         }},
        {"insert lines", [](TCustomCodeEditor& e, auto& fail) { e.Lines().InsertStrings(1, {"p", "q"}); fail(); }},
        {"delete lines", [](TCustomCodeEditor& e, auto& fail) { e.Lines().DeleteLines(0, 2); fail(); }},
        {"a command", [](TCustomCodeEditor& e, auto& fail) { e.ExecuteCommand(ecDeleteLine); fail(); }},
        {"a nested transaction", [](TCustomCodeEditor& e, auto& fail) {
             TEditTransaction inner(e);
             e.PutLine(3, "inner");
             fail();
         }},
    };
    enum TSource { InTheEdit, AtTheBatchEnd, InAModifiedHandler, InAStatusHandler };
    for (TSource source : {InTheEdit, AtTheBatchEnd, InAModifiedHandler, InAStatusHandler}) {
        for (const auto& [name, edit] : edits) {
            SCOPED_TRACE(std::string(name) + ", source " + std::to_string(source));
            TestEditor t("abc\ndef\nghi");
            t.e.ClearUndo();
            const QString before = t.e.Text();
            bool armed = false;
            auto failIf = [&](TSource at) {
                if (armed && source == at) {
                    armed = false;
                    throw std::runtime_error("listener failed");
                }
            };
            struct Listener : TEditorPlugin {
                std::function<void()> batchEnd;
                void BatchEnd() override { batchEnd(); }
            } listener;
            listener.batchEnd = [&] { failIf(AtTheBatchEnd); };
            TPluginSubscription subscription = t.e.Subscribe(&listener);
            t.e.AddModifiedChangedHandler([&](TCustomCodeEditor&) { failIf(InAModifiedHandler); });
            t.e.OnStatusChange = [&](TCustomCodeEditor&, TStatusChanges) { failIf(InAStatusHandler); };

            bool escaped = false;
            try {
                TEditTransaction transaction(t.e);
                edit(t.e, [&] {
                    armed = true;
                    failIf(InTheEdit);
                });
            } catch (const std::runtime_error&) {
                escaped = true;
            }
            EXPECT_EQ(escaped, source == InTheEdit); // the others end quietly
            EXPECT_FALSE(armed);
            EXPECT_EQ(t.e.UndoManager().BlockCount(), 0);
            EXPECT_EQ(t.e.Lines().UpdateCount(), 0);
            t.view.StatusCalls = 0;
            t.e.SetCaretXY(t.e.CaretXY() == TBufferCoord{1, 1} ? TBufferCoord{2, 1} : TBufferCoord{1, 1});
            EXPECT_EQ(t.view.StatusCalls, 1);

            const QString edited = t.e.Text();
            EXPECT_NE(edited, before);
            t.e.Undo();
            EXPECT_EQ(t.e.Text(), before);
            EXPECT_FALSE(t.e.CanUndo());
            t.e.Redo();
            EXPECT_EQ(t.e.Text(), edited);
        }
    }
}
