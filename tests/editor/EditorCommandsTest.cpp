#include "EditorTestSupport.h"

#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace editor;
using editor::testing::TestEditor;

namespace {

void Caret(TestEditor& t, int ch, int line) { t.e.SetCaretXY({ch, line}); }

} // namespace

TEST(EditorCommands, TabInsertsBlanksToTheNextStopOrIndentsTheSelectedLines)
{
    TestEditor t("abcdef\nx\ny\nz\nw");
    Caret(t, 3, 1);
    t.Key(VK_TAB, ssNone, u'\t');
    EXPECT_EQ(t.Lines()[0], "ab  cdef");
    Caret(t, 5, 1);
    t.Key(VK_TAB, ssNone, u'\t');
    EXPECT_EQ(t.Lines()[0], "ab      cdef");
    t.e.SetSelection({1, 2}, {1, 5});
    t.Key(VK_TAB, ssNone, u'\t');
    EXPECT_EQ(t.Lines(), (QStringList{"ab      cdef", "    x", "    y", "    z", "w"}));
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{1, 2}));
    EXPECT_EQ(t.e.SelectionEnd(), (TBufferCoord{1, 5}));
    // Without tabs-to-spaces one tab character goes in.
    t.e.SetOptions(t.e.Options() & ~eoTabsToSpaces);
    Caret(t, 1, 5);
    t.Key(VK_TAB);
    EXPECT_EQ(t.Lines()[4], "\tw");
    // The stand-in pane's faults: Tab never reaches the text without
    // WantTabs, and with it the default script stays free of tabs.
    TestEditor noTabs("x");
    noTabs.e.SetWantTabs(false);
    EXPECT_FALSE(noTabs.e.KeyDown(VK_TAB, ssNone));
    EXPECT_EQ(noTabs.Lines(), (QStringList{"x"}));
}

TEST(EditorCommands, ShiftTabUnindentsOneStep)
{
    TestEditor t("      x\n\tx\n  \tx\nx");
    for (int line = 1; line <= 3; ++line) {
        Caret(t, 8, line);
        t.Key(VK_TAB, ssShift);
    }
    EXPECT_EQ(t.Lines(), (QStringList{"  x", "x", "x", "x"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{2, 3})); // moved left with the text
    // A caret in column 1 selects no line.
    Caret(t, 1, 1);
    t.Key(VK_TAB, ssShift);
    EXPECT_EQ(t.Lines()[0], "  x");
}

TEST(EditorCommands, BlockIndentAndUnindentInEveryMode)
{
    TestEditor t("a\n\nb\nc");
    t.e.SetSelection({1, 1}, {2, 3});
    t.Key('I', ssCtrl | ssShift);
    EXPECT_EQ(t.Lines(), (QStringList{"    a", "", "    b", "c"}));
    EXPECT_EQ(t.e.SelectionEnd(), (TBufferCoord{6, 3}));
    t.Key('U', ssCtrl | ssShift);
    EXPECT_EQ(t.Lines(), (QStringList{"a", "", "b", "c"}));
    // Column mode: at the selection's left column.
    t.e.SetText("abc\nabc\nabc");
    t.e.SetSelectionMode(smColumn);
    t.e.SetSelection({2, 1}, {3, 2});
    t.e.CommandProcessor(ecBlockIndent);
    EXPECT_EQ(t.Lines(), (QStringList{"a    bc", "a    bc", "abc"}));
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{6, 1}));
    t.e.SetSelection({2, 1}, {3, 2});
    t.e.CommandProcessor(ecBlockUnindent);
    EXPECT_EQ(t.Lines(), (QStringList{"abc", "abc", "abc"}));
    // Line mode works on whole lines.
    t.e.SetSelectionMode(smLine);
    t.e.SetSelection({2, 2}, {2, 3});
    t.e.CommandProcessor(ecBlockIndent);
    EXPECT_EQ(t.Lines(), (QStringList{"abc", "    abc", "    abc"}));
    t.e.Undo();
    EXPECT_EQ(t.Lines(), (QStringList{"abc", "abc", "abc"}));
}

TEST(EditorCommands, BackspaceUnindentsToTheBlockAbove)
{
    TestEditor t("if a:\n    if b:\n        if a:");
    Caret(t, 9, 3);
    t.Key(VK_BACK);
    EXPECT_EQ(t.Lines()[2], "    if a:");
    EXPECT_EQ(t.e.CaretX(), 5);
    TestEditor none("x\n        if a:");
    none.e.SetText("        y\n        if a:");
    Caret(none, 9, 2);
    none.Key(VK_BACK);
    EXPECT_EQ(none.Lines()[1], "if a:");
    // Without smart tab delete: back to the previous tab stop.
    none.e.SetOptions(none.e.Options() & ~eoSmartTabDelete);
    none.e.SetText("      x");
    Caret(none, 7, 1);
    none.Key(VK_BACK);
    EXPECT_EQ(none.Lines()[0], "    x");
    // Ordinary characters, surrogate pairs as one, and joining lines.
    none.e.SetText(QString::fromUtf8("ab\xF0\x9F\x98\x80\ncd"));
    Caret(none, 5, 1);
    none.Key(VK_BACK);
    EXPECT_EQ(none.Lines()[0], "ab");
    Caret(none, 1, 2);
    none.Key(VK_BACK);
    EXPECT_EQ(none.Lines(), (QStringList{"abcd"}));
    EXPECT_EQ(none.e.CaretXY(), (TBufferCoord{3, 1}));
}

TEST(EditorCommands, EnterIndentsAndSplits)
{
    TestEditor t("    x = 1\nab", false);
    Caret(t, 10, 1);
    t.Enter();
    EXPECT_EQ(t.Lines(), (QStringList{"    x = 1", "    ", "ab"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{5, 2}));
    Caret(t, 2, 3);
    t.Enter();
    EXPECT_EQ(t.Lines(), (QStringList{"    x = 1", "    ", "a", "b"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 4}));
    // Column 1 pushes the line down; Ctrl+N opens a line below in place.
    t.Enter();
    EXPECT_EQ(t.Lines(), (QStringList{"    x = 1", "    ", "a", "", "b"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 5}));
    Caret(t, 10, 1);
    t.Key('N', ssCtrl, QChar(14));
    EXPECT_EQ(t.Lines()[1], "    ");
    EXPECT_EQ(t.e.Lines().Count(), 6);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{10, 1}));
    // Ctrl+M and Shift+Enter are line breaks too; the platform's character
    // after the key is dropped, and no U+2028 reaches the text.
    t.e.SetText("ab");
    Caret(t, 2, 1);
    t.Key('M', ssCtrl, QChar(13));
    t.Key(VK_RETURN, ssShift, QChar(0x2028));
    EXPECT_EQ(t.Lines(), (QStringList{"a", "", "b"}));
    // Tabs in the indentation only when tabs-to-spaces is off.
    t.e.SetOptions(t.e.Options() & ~eoTabsToSpaces);
    t.e.SetText("\t\t  x");
    Caret(t, 6, 1);
    t.Enter();
    EXPECT_EQ(t.Lines()[1], "\t\t  ");
}

TEST(EditorCommands, HomeAndEndAreEnhanced)
{
    TestEditor t("    pass  ");
    Caret(t, 7, 1);
    t.Key(VK_HOME);
    EXPECT_EQ(t.e.CaretX(), 5);
    t.Key(VK_HOME);
    EXPECT_EQ(t.e.CaretX(), 1);
    t.Key(VK_HOME);
    EXPECT_EQ(t.e.CaretX(), 1);
    t.Key(VK_END);
    EXPECT_EQ(t.e.CaretX(), 9);
    t.Key(VK_END);
    EXPECT_EQ(t.e.CaretX(), 11);
    t.Key(VK_HOME, ssShift);
    EXPECT_EQ(t.e.SelText(), "pass  ");
}

TEST(EditorCommands, ChordsAndSingleStrokes)
{
    TestEditor t("Hello World");
    t.e.SetSelection({1, 1}, {12, 1});
    t.Key('K', ssCtrl);
    t.Key('L', ssCtrl);
    EXPECT_EQ(t.Lines()[0], "hello world");
    t.Key('K', ssCtrl);
    t.Key('T', ssCtrl);
    EXPECT_EQ(t.Lines()[0], "Hello World");
    t.Key('K', ssCtrl);
    t.Key('U', ssCtrl);
    EXPECT_EQ(t.Lines()[0], "HELLO WORLD");
    // A key that completes no chord runs its own binding.
    t.Key('K', ssCtrl);
    t.Key('A', ssCtrl);
    EXPECT_EQ(t.e.SelText(), "HELLO WORLD");
    t.e.CommandProcessor(ecToggleCase);
    EXPECT_EQ(t.Lines()[0], "hello world");
    // Undo of a case change is one step.
    t.e.Undo();
    EXPECT_EQ(t.Lines()[0], "HELLO WORLD");
}

namespace {

struct Cancel : TCommandHook {
    TEditorCommand cancel = ecNone;
    QStringList log;
    void HookedCommand(TCustomCodeEditor&, bool after, bool& handled, TEditorCommand& command, QChar&,
        const TCommandData&, void*) override
    {
        log << QString("%1 %2").arg(after ? "after" : "before").arg(command);
        if (!after && command == cancel)
            handled = true;
    }
};

} // namespace

TEST(EditorCommands, ProcessorEventsAndHooks)
{
    TestEditor t("abc", false);
    Cancel hook;
    hook.cancel = ecDeleteChar;
    t.e.RegisterCommandHandler(&hook);
    t.e.RegisterCommandHandler(&hook); // once only
    QStringList processed;
    t.e.OnCommandProcessed = [&](TCustomCodeEditor&, TEditorCommand& c, QChar&, const TCommandData&) {
        processed << QString::number(c);
    };
    Caret(t, 1, 1);
    t.Key(VK_DELETE);
    EXPECT_EQ(t.Lines()[0], "abc");
    EXPECT_EQ(hook.log, (QStringList{"before 502"}));
    EXPECT_EQ(processed, (QStringList{"0"}));
    t.Key(VK_RIGHT);
    EXPECT_EQ(hook.log, (QStringList{"before 502", "before 2", "after 2"}));
    // Events may change or cancel a command.
    t.e.OnProcessCommand = [](TCustomCodeEditor&, TEditorCommand& c, QChar& ch, const TCommandData&) {
        if (c == ecChar)
            ch = QChar(u'Z');
    };
    t.Type("q");
    EXPECT_EQ(t.Lines()[0], "aZbc");
    t.e.OnProcessCommand = nullptr;
    // User commands reach only the events and hooks.
    bool user = false;
    t.e.OnProcessUserCommand = [&](TCustomCodeEditor&, TEditorCommand& c, QChar&, const TCommandData&) { user = c == 1234; };
    t.e.CommandProcessor(1234);
    EXPECT_TRUE(user);
    t.e.UnregisterCommandHandler(&hook);
    hook.log.clear();
    t.e.CommandProcessor(ecLeft);
    EXPECT_TRUE(hook.log.isEmpty());
    // Unknown numbers and control characters change nothing.
    for (TEditorCommand c : {TEditorCommand(18), TEditorCommand(99), TEditorCommand(999), ecCommentBlock, ecString})
        t.e.CommandProcessor(c);
    t.e.CommandProcessor(ecChar, QChar(7));
    t.e.CommandProcessor(ecChar, QChar(127));
    EXPECT_EQ(t.Lines()[0], "aZbc");
}

TEST(EditorCommands, ReadOnlyChangesNoText)
{
    TestEditor t("abc\ndef");
    t.e.SetReadOnly(true);
    Caret(t, 2, 1);
    t.Type("x");
    for (TEditorCommand c : {ecDeleteChar, ecDeleteLastChar, ecLineBreak, ecTab, ecDeleteLine, ecPaste, ecClearAll,
             ecBlockIndent, ecMoveLineDown, ecUndo})
        t.e.CommandProcessor(c);
    EXPECT_EQ(t.e.Text(), "abc\r\ndef");
    t.Key(VK_DOWN);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{2, 2}));
}

TEST(EditorCommands, PasteTurnsEveryLineSeparatorIntoALineBreak)
{
    TestEditor t("[]");
    Caret(t, 2, 1);
    t.view.Clipboard = QString::fromUtf16(u"a\r\nb\rc\nd\u2028e\u2029f");
    t.Key(VK_INSERT, ssShift);
    EXPECT_EQ(t.Lines(), (QStringList{"[a", "b", "c", "d", "e", "f]"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{2, 6}));
    for (const QString& line : t.Lines())
        EXPECT_FALSE(line.contains(QChar(0x2028)) || line.contains(u'\r'));
    // Copy and cut put the selection's text on the clipboard.
    t.e.SetSelection({1, 1}, {2, 2});
    t.Key('C', ssCtrl);
    EXPECT_EQ(t.view.Clipboard, "[a\r\nb");
    t.Key('X', ssCtrl);
    EXPECT_EQ(t.Lines()[0], "");
    t.e.Undo();
    EXPECT_EQ(t.Lines()[1], "b");
}

TEST(EditorCommands, CaretStaysOnCharacterBoundaries)
{
    // a, a surrogate pair, e with a combining accent, two wide characters.
    const QString line = QString::fromUtf16(u"a\U0001F600e\u0301\u65E5\u672Cz");
    TestEditor t(line + "\nabcdefgh");
    Caret(t, 1, 1);
    std::vector<int> stops;
    for (int i = 0; i < 6; ++i) {
        t.Key(VK_RIGHT);
        stops.push_back(t.e.CaretX());
    }
    EXPECT_EQ(stops, (std::vector<int>{2, 4, 6, 7, 8, 9}));
    t.Key(VK_LEFT);
    t.Key(VK_LEFT);
    t.Key(VK_LEFT);
    EXPECT_EQ(t.e.CaretX(), 6);
    // Display columns: the emoji and the CJK characters are two columns.
    EXPECT_EQ(t.e.DisplayXY().Column, 5);
    Caret(t, 3, 1); // inside the pair: snapped to its start
    EXPECT_EQ(t.e.CaretX(), 2);
    Caret(t, 7, 1); // after the first wide character
    EXPECT_EQ(t.e.DisplayXY().Column, 7);
    t.Key(VK_DOWN);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{7, 2}));
    t.Key(VK_RIGHT);
    t.Key(VK_UP); // column 8 falls inside the second wide character
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{7, 1}));
    t.Key(VK_DOWN); // the remembered column comes back
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{8, 2}));
    // Delete removes a whole cluster.
    Caret(t, 4, 1);
    t.Key(VK_DELETE);
    EXPECT_EQ(t.Lines()[0], QString::fromUtf16(u"a\U0001F600\u65E5\u672Cz"));
    // Tabs expand to the next stop.
    t.e.SetText("\tx\nab\tx");
    Caret(t, 2, 1);
    EXPECT_EQ(t.e.DisplayXY().Column, 5);
    Caret(t, 4, 2);
    EXPECT_EQ(t.e.DisplayXY().Column, 5);
}

TEST(EditorCommands, WordMovementAndDeletion)
{
    TestEditor t("foo.bar  baz\n  next");
    Caret(t, 1, 1);
    t.Key(VK_RIGHT, ssCtrl);
    EXPECT_EQ(t.e.CaretX(), 5);
    t.Key(VK_RIGHT, ssCtrl);
    EXPECT_EQ(t.e.CaretX(), 10);
    t.Key(VK_RIGHT, ssCtrl); // no word after this one: the line end
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{13, 1}));
    t.Key(VK_RIGHT, ssCtrl);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{3, 2}));
    t.Key(VK_LEFT, ssCtrl); // only blanks before: the previous line's end
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{13, 1}));
    t.Key(VK_LEFT, ssCtrl);
    EXPECT_EQ(t.e.CaretX(), 10);
    t.Key(VK_LEFT, ssCtrl);
    EXPECT_EQ(t.e.CaretX(), 5);
    Caret(t, 4, 1);
    t.Key('T', ssCtrl);
    EXPECT_EQ(t.Lines()[0], "foobar  baz");
    t.Key('T', ssCtrl);
    EXPECT_EQ(t.Lines()[0], "foobaz");
    Caret(t, 7, 1);
    t.Key(VK_BACK, ssCtrl);
    EXPECT_EQ(t.Lines()[0], "");
    t.e.SetText("abc def");
    Caret(t, 5, 1);
    t.Key('Y', ssCtrl | ssShift);
    EXPECT_EQ(t.Lines()[0], "abc ");
    t.Key(VK_BACK, ssShift);
    EXPECT_EQ(t.Lines()[0], "");
}

TEST(EditorCommands, DeleteLineCopyAndMoveLines)
{
    TestEditor t("1\n2\n3\n4");
    Caret(t, 1, 2);
    t.Key(VK_DOWN, ssAlt);
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", "2", "4"}));
    EXPECT_EQ(t.e.CaretY(), 3);
    t.e.SetSelection({1, 1}, {1, 3}); // lines 1-2; line 3 only touched at column 1
    t.Key(VK_UP, ssAlt); // first line: nothing
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", "2", "4"}));
    t.Key(VK_DOWN, ssShift | ssAlt);
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", "1", "3", "2", "4"}));
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{1, 3}));
    t.Key(VK_UP, ssShift | ssAlt);
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", "1", "3", "1", "3", "2", "4"}));
    t.e.Undo();
    t.e.Undo();
    t.e.Undo();
    EXPECT_EQ(t.Lines(), (QStringList{"1", "2", "3", "4"}));
    Caret(t, 1, 2);
    t.Key('Y', ssCtrl);
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", "4"}));
    Caret(t, 1, 3);
    t.Key('Y', ssCtrl); // the last line is emptied, not removed
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", ""}));
    t.Key('Y', ssCtrl); // and an empty last line stays
    EXPECT_EQ(t.Lines(), (QStringList{"1", "3", ""}));
}

TEST(EditorCommands, ClearAllCanBeUndone)
{
    TestEditor t("a\nb");
    t.e.CommandProcessor(ecClearAll);
    EXPECT_EQ(t.e.Text(), "");
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), "a\r\nb");
}

TEST(EditorCommands, OverwriteModeReplacesAWholeCluster)
{
    TestEditor t(QString::fromUtf16(u"a\U0001F600b"));
    t.Key(VK_INSERT);
    EXPECT_FALSE(t.e.InsertMode());
    Caret(t, 2, 1);
    t.Type("x");
    EXPECT_EQ(t.Lines()[0], "axb");
    t.e.Undo(); // back where it was typed
    EXPECT_EQ(t.e.CaretX(), 2);
    EXPECT_EQ(t.Lines()[0], QString::fromUtf16(u"a\U0001F600b"));
}

TEST(EditorCommands, TypingPastTheLineEndFillsTheGap)
{
    TestEditor t("ab\n");
    t.e.SetOptions(t.e.Options() | eoScrollPastEol);
    Caret(t, 5, 1);
    t.Type("x");
    EXPECT_EQ(t.Lines()[0], "ab  x");
    t.e.SetOptions(t.e.Options() & ~eoTabsToSpaces);
    Caret(t, 10, 2);
    t.Type("y");
    EXPECT_EQ(t.Lines()[1], "\t\t y");
    // Backspace past the end of an empty line goes back to an indentation
    // above; on a line with text, to its end.
    t.e.SetText("    a\n");
    Caret(t, 9, 2);
    t.Key(VK_BACK);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{5, 2}));
    Caret(t, 9, 1);
    t.Key(VK_BACK);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{6, 1}));
    // Delete past the end joins the next line, padded to the caret.
    Caret(t, 8, 1);
    t.Key(VK_DELETE);
    EXPECT_EQ(t.Lines(), (QStringList{"    a  "}));
}

TEST(EditorCommands, ScrollingPagingAndMarkers)
{
    QStringList many;
    for (int i = 1; i <= 100; ++i)
        many << QString("line %1").arg(i);
    TestEditor t(many.join("\n"));
    t.view.Lines = 10;
    t.Key(VK_NEXT);
    EXPECT_EQ(t.e.CaretY(), 11);
    EXPECT_EQ(t.e.TopLine(), 11);
    t.Key(VK_DOWN, ssCtrl);
    EXPECT_EQ(t.e.TopLine(), 12);
    EXPECT_EQ(t.e.CaretY(), 12); // kept inside the view
    t.Key(VK_END, ssCtrl);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{9, 100}));
    EXPECT_EQ(t.e.TopLine(), 91);
    t.Key('3', ssCtrl | ssShift);
    t.Key(VK_HOME, ssCtrl);
    t.Key('3', ssCtrl);
    EXPECT_EQ(t.e.CaretY(), 100);
    t.Key('3', ssCtrl | ssShift); // again on the same line: removed
    EXPECT_FALSE(t.e.Bookmark(3).has_value());
    Caret(t, 3, 5);
    t.e.CommandProcessor(ecSelGotoXY, QChar(), TBufferCoord{2, 7});
    EXPECT_EQ(t.e.SelText(), "ne 5\r\nline 6\r\nl");
}

TEST(EditorCommands, FoldCommandsAndTheCaret)
{
    TestEditor t("def f():\n    x = 1\n    y = 2\nz = 3");
    t.e.SetUseCodeFolding(true);
    Caret(t, 3, 3);
    t.Key(VK_OEM_2, ssCtrl); // fold nearest
    EXPECT_TRUE(t.e.AllFoldRanges().Get(0).Collapsed);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{9, 1}));
    t.Key(VK_DOWN);
    EXPECT_EQ(t.e.CaretY(), 4);
    EXPECT_EQ(t.e.DisplayXY().Row, 2);
    t.Key(VK_HOME);
    t.Key(VK_LEFT); // over the hidden lines to the header's end
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{9, 1}));
    EXPECT_TRUE(t.e.AllFoldRanges().Get(0).Collapsed);
    t.Key(VK_RIGHT);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 4}));
    // A caret sent onto a hidden line opens the fold.
    t.e.SetCaretXY({2, 2});
    EXPECT_FALSE(t.e.AllFoldRanges().Get(0).Collapsed);
    t.Key(VK_OEM_2, ssCtrl);
    EXPECT_TRUE(t.e.AllFoldRanges().Get(0).Collapsed);
    t.Key(VK_OEM_PLUS, ssCtrl | ssShift);
    EXPECT_FALSE(t.e.AllFoldRanges().Get(0).Collapsed);
    t.e.SetCaretXY({1, 4});
    t.Key(VK_UP);
    EXPECT_EQ(t.e.CaretY(), 3);
}

TEST(EditorCommands, MatchBracketAndContextHelp)
{
    TestEditor t("f(a[1],\n  (b))");
    Caret(t, 2, 1);
    t.Key('B', ssCtrl | ssShift);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{6, 2}));
    t.Key('B', ssCtrl | ssShift);
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{2, 1}));
    QString word;
    t.e.OnContextHelp = [&](TCustomCodeEditor&, const QString& w) { word = w; };
    Caret(t, 4, 2);
    t.Key(VK_F1);
    EXPECT_EQ(word, "b");
}

TEST(PythonEditBehaviour, IndentsAfterAColonOnly)
{
    TestEditor t("def f(x):");
    Caret(t, 10, 1);
    t.Enter();
    EXPECT_EQ(t.Lines()[1], "    ");
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{5, 2}));

    t.e.SetText("    if a:   ");
    Caret(t, 13, 1);
    t.Enter();
    EXPECT_EQ(t.Lines()[1], "        ");

    t.e.SetText("if a: b()");
    Caret(t, 6, 1);
    t.Enter();
    EXPECT_EQ(t.Lines(), (QStringList{"if a:", "     b()"}));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{5, 2}));

    t.e.SetText("if a:");
    Caret(t, 6, 1);
    t.Key('N', ssCtrl);
    EXPECT_EQ(t.Lines(), (QStringList{"if a:", ""}));

    for (const char* line : {"x = 1  # comment:", "else:", "d = {1:"}) {
        t.e.SetText(line);
        Caret(t, 99, 1);
        t.Enter();
        EXPECT_EQ(t.Lines()[1], "    ") << line;
    }
    for (const char* line : {"x = 1  # comment", "s = 'a:'", "if x:  # note"}) {
        t.e.SetText(line);
        Caret(t, 99, 1);
        t.Enter();
        EXPECT_EQ(t.Lines()[1], "") << line;
    }
    // Always blanks, whatever the tab options.
    t.e.SetOptions(t.e.Options() & ~eoTabsToSpaces);
    t.e.SetText("if a:");
    Caret(t, 6, 1);
    t.Enter();
    EXPECT_EQ(t.Lines()[1], "    ");
}

TEST(PythonEditBehaviour, OverwriteModeKeepsTheTextCarriedDown)
{
    TestEditor t("if a: b()");
    t.Key(VK_INSERT);
    t.e.SetCaretXY({6, 1});
    t.Enter();
    EXPECT_EQ(t.Lines(), (QStringList{"if a:", "     b()"}));
    EXPECT_FALSE(t.e.InsertMode());
}

TEST(PythonEditBehaviour, IndentSettingAndDetaching)
{
    TestEditor t("if a:");
    t.behaviour.SetIndent(0);
    Caret(t, 6, 1);
    t.Enter();
    EXPECT_EQ(t.Lines()[1], "");
    t.behaviour.SetIndent(-3);
    t.Enter();
    EXPECT_EQ(t.Lines()[2], "");
    t.behaviour.SetIndent(2);
    t.behaviour.SetEditor(nullptr);
    t.e.SetText("if a:");
    Caret(t, 6, 1);
    t.Enter();
    EXPECT_EQ(t.Lines()[1], "");
    // Moving to another editor leaves the first one alone.
    TestEditor other("if b:", false);
    t.behaviour.SetEditor(&other.e);
    Caret(other, 6, 1);
    other.Enter();
    EXPECT_EQ(other.Lines()[1], "  ");
    t.behaviour.SetEditor(nullptr);
}

TEST(EditorCommands, EveryCommandOnHostileTextKeepsTheEditorConsistent)
{
    using editor::testing::Valid;
    const QString megabyteLine = QString(1 << 20, u'x').replace(1000, 1, u' ');
    const std::vector<QString> texts = {QString(), QStringLiteral("\n"), QString::fromUtf16(u"a\xD800" u"b\xDC00" u"c\n\xDBFF"),
        QString::fromUtf16(u"a\0b\n\0\n  \t", 9), QString::fromUtf16(u"if x:\n\t\U0001F600\u0301 = '''\n\u65E5\u672C")};
    for (std::size_t textIndex = 0; textIndex < texts.size() + 1; ++textIndex) {
        const bool huge = textIndex == texts.size();
        const QString text = huge ? megabyteLine : texts[textIndex];
        for (int variant = 0; variant < (huge ? 2 : 6); ++variant) {
            TestEditor t(text);
            t.e.SetUseCodeFolding(true);
            if (variant % 2)
                t.e.SetOptions(t.e.Options() | eoScrollPastEol);
            const TSelectionMode modes[] = {smNormal, smColumn, smLine};
            t.e.SetSelectionMode(modes[variant % 3]);
            const int last = std::max(1, t.e.LineCount());
            const TBufferCoord end = t.e.LineEndOf(last);
            const TBufferCoord places[] = {{1, 1}, {end.Char + 3, last}, {2, 1}, end, {3, 2}, {1500, 1}};
            const TBufferCoord caret = places[variant];
            if (variant >= 4)
                t.e.SetSelection({1, 1}, caret);
            else
                t.e.SetCaretXY(caret);
            t.view.Clipboard = QString::fromUtf16(u"p\r\nq\rr\u2028s\u2029t\n");
            t.e.ClearUndo();
            const QString original = t.e.Text();
            for (int command = 0; command <= 1010; ++command) {
                if (huge && command % 7 != 0 && command != ecChar && command != ecPaste && command != ecLineBreak)
                    continue; // a sample keeps the megabyte line affordable
                TCommandData data;
                if (command == ecImeStr)
                    data = QString::fromUtf16(u"i\r\nj");
                else if (command == ecGotoXY || command == ecSelGotoXY || (command >= ecSetMarker0 && command <= ecSetMarker9))
                    data = TBufferCoord{99, 99};
                t.e.CommandProcessor(TEditorCommand(command), QChar(u'k'), data);
                const std::string where = "text " + std::to_string(textIndex) + " variant " + std::to_string(variant)
                    + " command " + std::to_string(command);
                const bool pastEol = t.e.HasOption(eoScrollPastEol) || t.e.SelectionMode() == smColumn;
                ASSERT_TRUE(Valid(t.e, t.e.CaretXY(), pastEol)) << where;
                ASSERT_TRUE(Valid(t.e, t.e.SelectionAnchor(), pastEol)) << where;
                ASSERT_TRUE(Valid(t.e, t.e.SelectionEnd(), pastEol)) << where;
                if (command == ecPaste || command == ecImeStr) {
                    for (int i = 1; i <= t.e.LineCount(); ++i) {
                        const QString& line = t.e.LineAt(i);
                        ASSERT_FALSE(line.contains(u'\r') || line.contains(u'\n') || line.contains(QChar(0x2028))
                            || line.contains(QChar(0x2029)))
                            << where;
                    }
                }
            }
            while (t.e.CanUndo())
                t.e.Undo();
            EXPECT_EQ(t.e.Text(), original) << "text " << textIndex << " variant " << variant;
        }
    }
}

TEST(EditorCommands, SmartTabsLineUpWithTheWordsAbove)
{
    TestEditor t("x = foo(bar,   baz)\n");
    t.e.SetOptions(t.e.Options() | eoSmartTabs);
    t.e.SetCaretXY({1, 2});
    t.Key(VK_TAB);
    EXPECT_EQ(t.e.CaretX(), 3);
    t.Key(VK_TAB);
    EXPECT_EQ(t.e.CaretX(), 5);
    t.Key(VK_TAB);
    EXPECT_EQ(t.e.CaretX(), 16);
    t.Key(VK_TAB); // no word further right: an ordinary tab stop
    EXPECT_EQ(t.e.CaretX(), 17);
}

TEST(EditorCommands, KeyHandlersSeeKeysFirst)
{
    TestEditor t("ab");
    int seen = 0;
    const auto id = t.e.AddKeyDownHandler([&](quint16& key, TShiftState) {
        ++seen;
        if (key == VK_DELETE)
            key = 0; // swallowed before the binding table
    });
    t.e.SetCaretXY({1, 1});
    t.Key(VK_DELETE);
    EXPECT_EQ(t.Lines()[0], "ab");
    t.e.RemoveKeyDownHandler(id);
    t.Key(VK_DELETE);
    EXPECT_EQ(t.Lines()[0], "b");
    EXPECT_EQ(seen, 1);
}

TEST(EditorView, OneStatusReportAndOneRepaintPerCommand)
{
    TestEditor t("a = 1\nb = 2\nc = 3");
    t.e.SetCaretXY({6, 2});
    t.view.Changes = 0;
    t.view.StatusCalls = 0;
    t.view.Invalidations = 0;
    t.Enter(); // a line break, a new line and the caret move
    EXPECT_EQ(t.view.StatusCalls, 1);
    EXPECT_EQ(t.view.Changes & (scCaretX | scCaretY | scModified), scCaretX | scCaretY);
    EXPECT_EQ(t.view.InvalidatedFirst, 3);
    EXPECT_EQ(t.view.InvalidatedLast, -1);
    // Scrolling follows the caret; the text is cleared back to the top.
    t.view.Lines = 2;
    t.e.SetCaretXY({1, 4});
    EXPECT_EQ(t.e.TopLine(), 3);
    // Typing past the right edge pages right by the visible columns (at most 25).
    t.view.Chars = 10;
    t.Type("0123456789abc");
    EXPECT_EQ(t.e.LeftChar(), 11);
    t.view.Chars = 40;
    t.e.SetLeftChar(1);
    t.e.SetCaretXY({1, 5});
    t.Type(QString(41, u'x'));
    EXPECT_EQ(t.e.LeftChar(), 26);
    t.e.SetText("x");
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{1, 1}));
    EXPECT_EQ(t.e.TopLine(), 1);
    EXPECT_EQ(t.e.LeftChar(), 1);
}

TEST(TextColumns, WidthsBoundariesAndIndentStrings)
{
    using namespace editor::text;
    const QString s = QString::fromUtf16(u"\tA\u65E5e\u0301\U0001F600");
    EXPECT_EQ(DisplayColumn(s, 1, 4), 4);
    EXPECT_EQ(DisplayColumn(s, 3, 4), 7);  // the wide character takes two
    EXPECT_EQ(DisplayColumn(s, 5, 4), 8);  // the combining accent takes none
    EXPECT_EQ(DisplayColumn(s, 7, 4), 10); // the emoji two
    EXPECT_EQ(DisplayColumn(s, 9, 4), 12); // past the end one per position
    EXPECT_EQ(IndexOfDisplayColumn(s, 5, 4), 2);
    EXPECT_EQ(IndexOfDisplayColumn(s, 6, 4), 2); // inside the wide character
    EXPECT_EQ(IndexOfDisplayColumn(s, 12, 4), 9);
    EXPECT_FALSE(IsCharBoundary(s, 4));
    EXPECT_FALSE(IsCharBoundary(s, 6));
    EXPECT_EQ(NextCharBoundary(s, 3), 5);
    EXPECT_EQ(PrevCharBoundary(s, 7), 5);
    EXPECT_EQ(PrevCharBoundary(s, 5), 3);
    EXPECT_EQ(SnapToCharBoundary(s, 6), 5);
    EXPECT_EQ(IndentColumns(u" \t x", 4), 5);
    EXPECT_EQ(IndentString(10, 4, false), "\t\t  ");
    EXPECT_EQ(IndentString(3, 4, false), "   ");
    EXPECT_EQ(IndentString(8, 4, true), "        ");
}

TEST(TextColumns, QuickBoundariesAgreeWithTheBoundarySearch)
{
    // The answers found between two characters without a search must be the
    // search's own, and no answer splits a surrogate pair.
    using namespace editor::text;
    const std::vector<QString> pieces = {"a", " ", "\t", "\u0301", "\u3099", "\u304B", "\u6F22", "\uAC00",
        "\u1100", "\u1161", "\u11A8", "\u200D", "\u0600", "\u0915", "\u094D", "\u093E", "\u00A9", "\uFF21",
        "\uFF9E", "\u3001", "\u302A", QString::fromUtf16(u"\U0001F600"), QString::fromUtf16(u"\U0001F1EF"),
        QString(QChar(0xD83D)), QString(QChar(0xDE00))};
    auto splits = [](const QString& s, int i) {
        return i > 0 && i < s.size() && s[i - 1].isHighSurrogate() && s[i].isLowSurrogate();
    };
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        QString s;
        for (int n = 1 + int(rng() % 12); n > 0; --n)
            s += pieces[rng() % pieces.size()];
        const int n = int(s.size());
        const std::string hex = s.toUtf8().toHex(' ').toStdString();
        for (int i = 0; i <= n; ++i) {
            QTextBoundaryFinder around(QTextBoundaryFinder::Grapheme, s);
            around.setPosition(i);
            ASSERT_EQ(IsCharBoundary(s, i), around.isAtBoundary() && !splits(s, i)) << hex << " at " << i;
            if (i < n) {
                QTextBoundaryFinder ahead(QTextBoundaryFinder::Grapheme, s.constData() + i, n - i);
                const int next = i + int(ahead.toNextBoundary());
                ASSERT_EQ(NextCharBoundary(s, i), splits(s, next) ? next + 1 : next) << hex << " at " << i;
            }
            if (i > 0) {
                QTextBoundaryFinder behind(QTextBoundaryFinder::Grapheme, s.constData(), i);
                behind.toEnd();
                const int prev = int(behind.toPreviousBoundary());
                ASSERT_EQ(PrevCharBoundary(s, i), splits(s, prev) ? prev - 1 : prev) << hex << " at " << i;
            }
        }
    }
}

TEST(EditorCommands, ColumnSelectionGrowsFromItsAnchor)
{
    TestEditor t("abcd\nefgh\nijkl");
    t.Key('C', ssCtrl | ssShift);
    EXPECT_EQ(t.e.SelectionMode(), smColumn);
    t.e.SetCaretXY({2, 1});
    t.Key(VK_DOWN, ssShift);
    t.Key(VK_DOWN, ssShift);
    t.Key(VK_RIGHT, ssShift);
    t.Key(VK_RIGHT, ssShift);
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{2, 1}));
    EXPECT_EQ(t.e.SelText(), "bc\r\nfg\r\njk");
    t.Key(VK_DELETE);
    EXPECT_EQ(t.Lines(), (QStringList{"ad", "eh", "il"}));
    t.e.Undo();
    EXPECT_EQ(t.Lines(), (QStringList{"abcd", "efgh", "ijkl"}));
    // Line mode takes whole lines.
    t.Key('L', ssCtrl | ssShift);
    t.e.SetSelection({3, 1}, {2, 2});
    EXPECT_EQ(t.e.SelText(), "abcd\r\nefgh\r\n");
    t.Key('X', ssCtrl);
    EXPECT_EQ(t.Lines(), (QStringList{"ijkl"}));
}

TEST(EditorCommands, CaretFollowsChangesMadeStraightToTheBuffer)
{
    TestEditor t("abcdefgh\nxyz");
    t.e.SetSelection({3, 2}, {8, 1});
    t.e.Lines().Put(0, "abcdef");
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{7, 1})); // the line end
    t.e.SetCaretXY({5, 1});
    t.e.Lines().Put(0, QString::fromUtf16(u"abc\U0001F600f"));
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{4, 1})); // not inside the pair
    t.e.SetSelection({3, 2}, {1, 1});
    t.e.Lines().Delete(1);
    EXPECT_EQ(t.e.SelectionAnchor(), (TBufferCoord{3, 1}));
}

// Trailing blanks leave a line once the caret is off it (the caret's own
// line keeps them for the next character); without selections, selecting
// moves only move.
TEST(EditorOptions, TrimmedTrailingBlanksAndNoSelection)
{
    TestEditor t(QString(), false);
    t.e.SetOptions(t.e.Options() | eoTrimTrailingSpaces);
    t.Type("x = 1  ");
    EXPECT_EQ(t.Lines(), QStringList{QStringLiteral("x = 1  ")});
    t.Type("+ 2");
    EXPECT_EQ(t.Lines(), QStringList{QStringLiteral("x = 1  + 2")});
    t.Type(" \t");
    t.Enter();
    t.Type("y  ");
    EXPECT_EQ(t.Lines(), (QStringList{QStringLiteral("x = 1  + 2"), QStringLiteral("y  ")}));
    t.Key(VK_UP);
    EXPECT_EQ(t.Lines(), (QStringList{QStringLiteral("x = 1  + 2"), QStringLiteral("y")}));
    t.e.Undo();
    EXPECT_EQ(t.Lines(), (QStringList{QStringLiteral("x = 1  + 2"), QStringLiteral("y  ")}));
    // Pasted lines above the caret are edited lines; the caret's keeps its blanks.
    t.e.SetText(QStringLiteral("p  \r\nq"));
    t.e.SetCaretXY({4, 1});
    t.view.Clipboard = QStringLiteral("one  \r\ntwo  \r\nthree  ");
    t.e.CommandProcessor(ecPaste, QChar(), {});
    EXPECT_EQ(t.Lines(), (QStringList{QStringLiteral("p  one"), QStringLiteral("two"), QStringLiteral("three  "),
                                      QStringLiteral("q")}));

    t.e.SetOptions(t.e.Options() | eoNoSelection);
    t.e.SetCaretXY({1, 1});
    t.Key(VK_RIGHT, ssShift);
    t.Key(VK_END, ssShift);
    EXPECT_FALSE(t.e.SelAvail());
    EXPECT_EQ(t.e.CaretXY(), (TBufferCoord{7, 1}));
    t.e.CommandProcessor(ecSelectAll, QChar(), {});
    EXPECT_FALSE(t.e.SelAvail());
}
