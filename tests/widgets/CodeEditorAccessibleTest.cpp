// What a screen reader gets from the script editor: offsets in the LF-joined
// text, pieces of text around an offset, edits that undo as one step, and
// the events sent while it listens.
#include "widgets/CodeEditorAccessible.h"
#include "widgets/CodeEditorControl.h"

#include <QAccessible>
#include <QTest>

#include <gtest/gtest.h>

using editor::TBufferCoord;

namespace {

// Byte lengths, for the table below: "def f():" 8, "    return 'あい'" 15,
// "😀x" 3 (a surrogate pair), "" — lines start at 0, 9, 25 and 29.
const QStringList kLines = {QStringLiteral("def f():"), QStringLiteral("    return 'あい'"), QStringLiteral("😀x"),
    QString()};

class Accessible : public ::testing::Test {
protected:
    TCodeEditor w;
    QAccessibleInterface* iface = nullptr;
    QAccessibleTextInterface* text = nullptr;
    QAccessibleEditableTextInterface* editable = nullptr;

    Accessible()
    {
        w.resize(600, 300);
        w.show(); // characters get their places on screen
        w.SetLines(kLines);
        iface = QAccessible::queryAccessibleInterface(&w);
        text = iface ? iface->textInterface() : nullptr;
        editable = iface ? iface->editableTextInterface() : nullptr;
    }
};

TEST_F(Accessible, IsAMultiLineEditableTextWithTheLinesJoinedByLF)
{
    ASSERT_NE(text, nullptr);
    ASSERT_NE(editable, nullptr);
    EXPECT_TRUE(dynamic_cast<widgets::TCodeEditorAccessible*>(iface));
    EXPECT_EQ(iface->role(), QAccessible::EditableText);
    EXPECT_TRUE(iface->state().multiLine);
    EXPECT_TRUE(iface->state().editable);
    EXPECT_EQ(w.Text(), kLines.join(QStringLiteral("\r\n"))); // the engine keeps CR LF
    EXPECT_EQ(text->characterCount(), 29);
    EXPECT_EQ(text->text(0, text->characterCount()), kLines.join(u'\n'));
    EXPECT_EQ(text->text(6, 13), QStringLiteral("):\n    "));
    // The gutter is a named child of the editor.
    QAccessibleInterface* gutter = iface->child(iface->childCount() - 1);
    ASSERT_NE(gutter, nullptr);
    EXPECT_EQ(gutter->text(QAccessible::Name), QStringLiteral("行番号"));
    EXPECT_EQ(iface->indexOfChild(gutter), iface->childCount() - 1);
    w.Engine().SetReadOnly(true);
    EXPECT_FALSE(iface->state().editable);
}

TEST_F(Accessible, OffsetsMapToPositionsBothWays)
{
    ASSERT_NE(text, nullptr);
    struct Case {
        int offset;
        TBufferCoord pos;
    };
    const Case cases[] = {
        {0, {1, 1}},
        {8, {9, 1}},   // the LF ending line 1 is at the line's end
        {9, {1, 2}},
        {21, {13, 2}}, // あ
        {22, {14, 2}}, // い
        {25, {1, 3}},
        {27, {3, 3}},  // after the surrogate pair
        {28, {4, 3}},
        {29, {1, 4}},  // the empty last line is the end of the text
    };
    for (const Case& c : cases) {
        text->setCursorPosition(c.offset);
        EXPECT_EQ(w.Engine().CaretXY(), c.pos) << c.offset;
        w.Engine().SetCaretXY({1, 1});
        w.Engine().SetCaretXY(c.pos);
        EXPECT_EQ(text->cursorPosition(), c.offset) << c.offset;
        // Each offset's character is the text's.
        const QRect r = text->characterRect(c.offset);
        EXPECT_TRUE(r.isValid()) << c.offset;
        EXPECT_EQ(text->offsetAtPoint(r.center()), c.offset) << c.offset;
    }
    // Out of range: clamped to the ends.
    text->setCursorPosition(1000);
    EXPECT_EQ(w.Engine().CaretXY(), (TBufferCoord{1, 4}));
    // A selection both ways round.
    text->setSelection(0, 27, 9);
    EXPECT_EQ(w.Engine().SelectionAnchor(), (TBufferCoord{3, 3}));
    EXPECT_EQ(w.Engine().CaretXY(), (TBufferCoord{1, 2}));
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(9, 27));
    EXPECT_EQ(text->selectionCount(), 1);
    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);
    EXPECT_EQ(text->cursorPosition(), 9);
}

TEST_F(Accessible, PiecesAroundAnOffset)
{
    ASSERT_NE(text, nullptr);
    enum Where { At, Before, After };
    struct Case {
        Where where;
        QAccessible::TextBoundaryType type;
        int offset;
        QString piece;
        int start, end;
    };
    const QString line1 = QStringLiteral("def f():\n");
    const QString line2 = QStringLiteral("    return 'あい'\n");
    const Case cases[] = {
        {At, QAccessible::LineBoundary, 3, line1, 0, 9},
        {At, QAccessible::LineBoundary, 8, line1, 0, 9},
        {At, QAccessible::LineBoundary, 21, line2, 9, 25},
        {At, QAccessible::LineBoundary, 28, QStringLiteral("😀x\n"), 25, 29},
        {At, QAccessible::LineBoundary, 29, QString(), 29, 29},
        {Before, QAccessible::LineBoundary, 21, line1, 0, 9},
        {Before, QAccessible::LineBoundary, 3, QString(), -1, -1},
        {After, QAccessible::LineBoundary, 3, line2, 9, 25},
        {After, QAccessible::LineBoundary, 29, QString(), -1, -1},
        {At, QAccessible::CharBoundary, 25, QStringLiteral("😀"), 25, 27},
        {At, QAccessible::CharBoundary, 8, QStringLiteral("\n"), 8, 9},
        {After, QAccessible::CharBoundary, 25, QStringLiteral("x"), 27, 28},
        {Before, QAccessible::CharBoundary, 27, QStringLiteral("😀"), 25, 27},
        {Before, QAccessible::CharBoundary, 9, QStringLiteral("\n"), 8, 9},
        {At, QAccessible::WordBoundary, 15, QStringLiteral("return"), 13, 19},
        {After, QAccessible::WordBoundary, 15, QStringLiteral(" "), 19, 20},
        {At, QAccessible::NoBoundary, 5, kLines.join(u'\n'), 0, 29},
    };
    for (const Case& c : cases) {
        int start = -2, end = -2;
        const QString piece = c.where == At ? text->textAtOffset(c.offset, c.type, &start, &end)
            : c.where == Before             ? text->textBeforeOffset(c.offset, c.type, &start, &end)
                                            : text->textAfterOffset(c.offset, c.type, &start, &end);
        EXPECT_EQ(piece, c.piece) << c.where << " " << c.type << " " << c.offset;
        EXPECT_EQ(std::pair(start, end), std::pair(c.start, c.end)) << c.where << " " << c.type << " " << c.offset;
    }
}

TEST_F(Accessible, EachEditIsOneUndoStep)
{
    ASSERT_NE(editable, nullptr);
    QTest::keyClicks(&w, QStringLiteral("ab")); // typing before: undo must not take it too
    const QString typed = text->text(0, -1);
    ASSERT_EQ(typed, QStringLiteral("abdef f():\n    return 'あい'\n😀x\n"));
    struct Case {
        const char* name;
        std::function<void()> edit;
        QString after;
    };
    const Case cases[] = {
        {"insert", [&] { editable->insertText(5, QStringLiteral("g\nh")); },
            QStringLiteral("abdefg\nh f():\n    return 'あい'\n😀x\n")},
        {"delete", [&] { editable->deleteText(10, 15); }, QStringLiteral("abdef f():return 'あい'\n😀x\n")},
        {"replace", [&] { editable->replaceText(30, 24, QStringLiteral("お")); },
            QStringLiteral("abdef f():\n    return 'あお\n")},
    };
    for (const Case& c : cases) {
        c.edit();
        EXPECT_EQ(text->text(0, -1), c.after) << c.name;
        w.Engine().Undo();
        EXPECT_EQ(text->text(0, -1), typed) << c.name;
    }
    w.Engine().SetReadOnly(true);
    editable->insertText(0, QStringLiteral("x"));
    EXPECT_EQ(text->text(0, -1), typed);
}

} // namespace
