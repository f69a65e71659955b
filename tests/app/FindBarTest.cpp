// Find, replace and go to line through the main window's keys, menu and the
// find bar's own fields, offscreen.
#include "app/CallNote.h"
#include "app/FindBar.h"
#include "app/SDIMain.h"
#include "widgets/CodeEditorControl.h"

#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

using editor::TBufferCoord;

namespace {

class FindBar : public ::testing::Test {
protected:
    TempStore store;
    ScriptedDialogs dialogs;
    std::unique_ptr<TSDIAppForm> form = std::make_unique<TSDIAppForm>();
    TFindBar* bar = nullptr;
    editor::TCustomCodeEditor* engine = nullptr;

    void SetUp() override
    {
        bar = form->FindBar1;
        engine = &form->sePythonCode->Engine();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    void Script(const QString& text)
    {
        form->SetEditorText(text);
        form->sePythonCode->setFocus();
    }
    void Key(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(w, key, mods); }
    // Types a pattern into the find field as the user does.
    void Search(const QString& pattern)
    {
        bar->FindField->clear();
        QTest::keyClicks(bar->FindField, pattern);
    }
    std::pair<TBufferCoord, TBufferCoord> Selection() const { return {engine->BlockBegin(), engine->BlockEnd()}; }
    QString Status() const { return form->statusBar()->currentMessage(); }
};

std::pair<TBufferCoord, TBufferCoord> Sel(int line, int from, int to) { return {{from, line}, {to, line}}; }

} // namespace

TEST_F(FindBar, SearchMenuSitsBetweenFileAndTestWithItsShortcuts)
{
    QList<QMenu*> menus;
    for (QAction* a : form->menuBar()->actions())
        if (a->menu() && a->isVisible())
            menus << a->menu();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0], form->File1);
    EXPECT_EQ(menus[1], form->S1);
    EXPECT_EQ(menus[2], form->V1);
    EXPECT_EQ(menus[3], form->T1);
    EXPECT_EQ(form->S1->title(), QStringLiteral("検索(&S)"));
    QStringList keys;
    for (QAction* a : form->S1->actions())
        if (!a->isSeparator())
            keys << a->shortcut().toString();
    EXPECT_EQ(keys, (QStringList{"Ctrl+F", "Ctrl+H", "F3", "Shift+F3", "Ctrl+G"}));
    for (QMenu* m : menus)
        for (QAction* a : m->actions())
            EXPECT_FALSE(a == form->EditCut1 || a == form->EditCopy1 || a == form->EditPaste1);
}

TEST_F(FindBar, CtrlFTakesTheWordAndEnterF3StepThroughMatchesAndWrap)
{
    Script(QStringLiteral("value = 1\nprint(value)\nvalues = value + 2"));
    engine->SetCaretXY({2, 1});
    Key(form->sePythonCode, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->FindField->text(), QStringLiteral("value"));
    EXPECT_EQ(Selection(), Sel(1, 1, 6)) << "typing keeps the match under the caret";
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("4 件"));
    Key(bar->FindField, Qt::Key_Return);
    EXPECT_EQ(Selection(), Sel(2, 7, 12));
    Key(bar->FindField, Qt::Key_Return);
    EXPECT_EQ(Selection(), Sel(3, 1, 6));
    Key(bar->FindField, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(Selection(), Sel(2, 7, 12));

    // F3 and Shift+F3 work from the editor too; the end wraps to the top.
    form->sePythonCode->setFocus();
    Key(form->sePythonCode, Qt::Key_F3);
    Key(form->sePythonCode, Qt::Key_F3);
    EXPECT_EQ(Selection(), Sel(3, 10, 15));
    Key(form->sePythonCode, Qt::Key_F3);
    EXPECT_EQ(Selection(), Sel(1, 1, 6));
    EXPECT_EQ(Status(), QStringLiteral("末尾まで検索したので先頭から続けました"));
    Key(form->sePythonCode, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(Selection(), Sel(3, 10, 15));
    EXPECT_EQ(Status(), QStringLiteral("先頭まで検索したので末尾から続けました"));

    Key(bar->FindField, Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(FindBar, OptionsWholeWordBesideJapaneseCaseAndExpressions)
{
    Script(QStringLiteral("値val = 1\nx = val  # val_2 「val」\nVAL = 3"));
    Key(form->sePythonCode, Qt::Key_F, Qt::ControlModifier);
    Search(QStringLiteral("val"));
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("5 件"));
    bar->WholeWord->setChecked(true);
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("3 件"));
    engine->SetCaretXY({1, 1});
    bar->FindNext();
    EXPECT_EQ(Selection(), Sel(2, 5, 8));
    bar->FindNext();
    EXPECT_EQ(Selection(), Sel(2, 19, 22));
    bar->MatchCase->setChecked(true);
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("2 件"));
    bar->RegExp->setChecked(true);
    Search(QStringLiteral("[A-Z]+"));
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("1 件"));
    EXPECT_EQ(Selection(), Sel(3, 1, 4));
}

TEST_F(FindBar, RegularExpressionReplaceAllWithGroupsUndoesInOneStep)
{
    Script(QStringLiteral("a = f(1, 2)\nb = f(3, 4)\nc = g(5, 6)"));
    const QString before = form->EditorText();
    Key(form->sePythonCode, Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(bar->ReplaceField->isVisible());
    bar->RegExp->setChecked(true);
    Search(QStringLiteral("f\\((\\d), (\\d)\\)"));
    QTest::keyClicks(bar->ReplaceField, QStringLiteral("f($2, $1)"));
    bar->ReplaceAllButton->click();
    EXPECT_EQ(form->EditorText(), QStringLiteral("a = f(2, 1)\r\nb = f(4, 3)\r\nc = g(5, 6)"));
    EXPECT_EQ(Status(), QStringLiteral("2 件置換しました"));
    engine->Undo();
    EXPECT_EQ(form->EditorText(), before);

    // Replace one: the first press selects, Enter in the field replaces and moves on.
    engine->SetCaretXY({1, 1});
    bar->FindNext();
    EXPECT_EQ(Selection(), Sel(1, 5, 12));
    Key(bar->ReplaceField, Qt::Key_Return);
    EXPECT_EQ(form->EditorText(), QStringLiteral("a = f(2, 1)\r\nb = f(3, 4)\r\nc = g(5, 6)"));
    EXPECT_EQ(Selection(), Sel(2, 5, 12));
}

TEST_F(FindBar, GotoLineBeyondTheEndStopsAtTheLastLine)
{
    QStringList lines;
    for (int i = 1; i <= 300; ++i)
        lines << QStringLiteral("line %1").arg(i);
    Script(lines.join(u'\n'));
    Key(form->sePythonCode, Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(bar->LineField->isVisible());
    EXPECT_EQ(bar->LineField->text(), QStringLiteral("1"));
    bar->LineField->clear();
    QTest::keyClicks(bar->LineField, QStringLiteral("150"));
    Key(bar->LineField, Qt::Key_Return);
    EXPECT_EQ(engine->CaretXY(), (TBufferCoord{1, 150}));
    EXPECT_LE(engine->TopLine(), 150);
    EXPECT_GT(engine->TopLine() + engine->DisplayRowCount(), 150) << "the line is brought into view";
    EXPECT_FALSE(bar->isVisible());
    Key(form->sePythonCode, Qt::Key_G, Qt::ControlModifier);
    bar->LineField->clear();
    QTest::keyClicks(bar->LineField, QStringLiteral("99999"));
    Key(bar->LineField, Qt::Key_Return);
    EXPECT_EQ(engine->CaretXY(), (TBufferCoord{1, 300}));
}

TEST_F(FindBar, InvalidPatternShowsItsErrorAndSearchesNothing)
{
    Script(QStringLiteral("(a)\n(b)"));
    engine->SetCaretXY({2, 2});
    Key(form->sePythonCode, Qt::Key_F, Qt::ControlModifier);
    bar->RegExp->setChecked(true);
    engine->SetCaretXY({2, 2});
    Search(QStringLiteral("(b"));
    EXPECT_TRUE(bar->ErrorLabel->text().contains(QStringLiteral("正規表現"))) << bar->ErrorLabel->text().toStdString();
    EXPECT_TRUE(bar->CountLabel->text().isEmpty());
    Key(bar->FindField, Qt::Key_Return);
    EXPECT_EQ(engine->CaretXY(), (TBufferCoord{2, 2}));
    EXPECT_FALSE(engine->SelAvail());
    // Mended, the field searches again and the error goes.
    QTest::keyClicks(bar->FindField, QStringLiteral(")"));
    EXPECT_TRUE(bar->ErrorLabel->text().isEmpty());
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("1 件"));
}

TEST_F(FindBar, EmptyMatchesMoveOnAndTheSearchSurvivesNew)
{
    Script(QStringLiteral("ab\n\ncd"));
    engine->SetCaretXY({1, 1});
    Key(form->sePythonCode, Qt::Key_F, Qt::ControlModifier);
    bar->RegExp->setChecked(true);
    Search(QStringLiteral("x*"));
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("7 件"));
    engine->SetCaretXY({1, 1});
    std::vector<TBufferCoord> seen;
    for (int i = 0; i < 7; ++i) {
        Key(bar->FindField, Qt::Key_Return);
        seen.push_back(engine->CaretXY());
    }
    EXPECT_EQ(seen, (std::vector<TBufferCoord>{{2, 1}, {3, 1}, {1, 2}, {1, 3}, {2, 3}, {3, 3}, {1, 1}}));

    bar->RegExp->setChecked(false);
    Search(QStringLiteral("func8"));
    dialogs.AnswerMessage(platform::ModalResult::mrNo);
    form->FileNew1Execute();
    // The count follows the new text once the event loop has run.
    QTest::qWait(1);
    for (int turns = 0; bar->Busy() && turns < 1000; ++turns)
        QTest::qWait(1);
    EXPECT_EQ(bar->FindField->text(), QStringLiteral("func8"));
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("2 件")) << "counted again in the default script";
    Key(form->sePythonCode, Qt::Key_F3);
    EXPECT_EQ(engine->SelText(), QStringLiteral("func8"));
}

TEST_F(FindBar, LongTextIsSearchedInStepsWithTheWindowLive)
{
    QStringList lines;
    for (int i = 0; i < 400000; ++i)
        lines << QStringLiteral("x = %1 + yy * zz  # a line of ordinary length").arg(i);
    lines << QStringLiteral("needle");
    Script(lines.join(u'\n'));
    engine->SetCaretXY({1, 1});
    Key(form->sePythonCode, Qt::Key_F, Qt::ControlModifier);
    bar->RegExp->setChecked(true);
    // A slow expression: every position of every line is tried.
    QSignalSpy done(bar, &TFindBar::SearchDone);
    Search(QStringLiteral("(?:x|y|z)+(?=q)|needle"));
    int turns = 0;
    while (bar->Busy() && turns < 100000) {
        QTest::qWait(1);
        ++turns;
    }
    EXPECT_FALSE(bar->Busy());
    EXPECT_EQ(engine->SelText(), QStringLiteral("needle"));
    EXPECT_EQ(bar->CountLabel->text(), QStringLiteral("1 件"));
}

TEST(CallNote, NamesTheFiveArgumentsForArgumentCountErrors)
{
    const QString note = CallConventionNote(QStringLiteral("TypeError"),
        QStringLiteral("func2() takes 0 positional arguments but 5 were given"));
    EXPECT_EQ(note, QStringLiteral("func2 は func2(group_name, topic, descriription, time_stamp, datas) の 5 つの引数で呼ばれます"));
    EXPECT_FALSE(CallConventionNote(QStringLiteral("TypeError"),
        QStringLiteral("func1() missing 1 required positional argument: 'datas'")).isEmpty());
    EXPECT_TRUE(CallConventionNote(QStringLiteral("TypeError"), QStringLiteral("can only concatenate str")).isEmpty());
    EXPECT_TRUE(CallConventionNote(QStringLiteral("NameError"), QStringLiteral("func2() takes 0")).isEmpty());
}
