// Live mode through the real window (offscreen): edits re-run the chosen
// function after a pause, errors mark their line without a box, typing and
// the time limit stop a run, and nothing runs while the mode is off. One
// window per process, as the interpreter starts once.
#include "app/LiveRun.h"
#include "app/SDIMain.h"
#include "editor/ErrorMark.h"
#include "platform/Registry.h"
#include "widgets/CodeEditorControl.h"

#include "PaneLines.h"
#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QAccessible>
#include <QAction>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using platform::ModalResult;

namespace {

constexpr int kDelayMs = 40;

class LiveRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        store = new TempStore;
        form = new TSDIAppForm;
        form->show();
        form->Live().SetSettings({kDelayMs, 1500});
    }
    static void TearDownTestSuite()
    {
        delete form;
        delete store;
        form = nullptr;
    }
    void SetUp() override
    {
        ScriptedDialogs noteOnce;
        noteOnce.AnswerMessage(ModalResult::mrOk);
        form->SetLiveMode(true);
        form->SpinEdit1->setValue(1);
        form->sePythonCode->setFocus();
    }
    void TearDown() override { form->SetLiveMode(false); }

    // Puts the text in the editor (an edit like any other) and waits for the
    // live run it causes to have ended.
    static void Edit(const QString& text)
    {
        form->SetEditorText(text);
        WaitForLiveRun();
    }
    static void WaitForLiveRun()
    {
        // The pause, then the run: started and over.
        QTest::qWait(kDelayMs + 20);
        EXPECT_TRUE(QTest::qWaitFor([] { return !form->Live().Running() && !form->IsRunning(); }, 5000));
        QTest::qWait(10);
    }
    static QString Result() { return form->Memo1->toPlainText(); }
    static QString Output() { return PaneLines(*form->mePythonOutput).join(u'\n'); }
    static int MarkedLine()
    {
        const auto mark = form->sePythonCode->ErrorMark();
        return mark ? mark->Line : 0;
    }
    static QString Status() { return form->statusBar()->currentMessage(); }

    static TempStore* store;
    static TSDIAppForm* form;
};

TempStore* LiveRun::store = nullptr;
TSDIAppForm* LiveRun::form = nullptr;

} // namespace

// What a pause after an edit shows: the result, or the error marked on its
// line with its message in the status bar, and never a box.
TEST_F(LiveRun, ThePauseAfterAnEditShowsTheOutcomeOrMarksTheError)
{
    struct Case {
        const char* name;
        QString script;
        QString result;    // the result pane afterwards
        int markedLine;    // 0: no mark
        QString status;    // contained in the status bar's message
        QString output;    // contained in "Python Output"
    };
    const QString good = QStringLiteral("def func1(*a):\r\n    print('ran good')\r\n    return 'good'");
    const Case cases[] = {
        {"a result", good, QStringLiteral("good"), 0, {}, QStringLiteral("ran good")},
        {"a syntax error marks its line and runs nothing: the last outcome stays",
         QStringLiteral("print('ran broken')\r\ndef func1(*a):\r\n    return (1,\r\n\r\nx = 1"), QStringLiteral("good"), 3,
         QStringLiteral("SyntaxError"), QStringLiteral("ran good")},
        {"the runtime error's innermost script line is marked",
         QStringLiteral("def inner():\r\n    return 1 / 0\r\ndef func1(*a):\r\n    return inner()"), QString(), 2,
         QStringLiteral("ZeroDivisionError"), QStringLiteral("ZeroDivisionError")},
        {"a later good run clears the mark", good, QStringLiteral("good"), 0, {}, QStringLiteral("ran good")},
        {"input() meets the end of the file",
         QStringLiteral("def func1(*a):\r\n    try:\r\n        input('name? ')\r\n    except EOFError:\r\n        return 'eof'"),
         QStringLiteral("eof"), 0, {}, QStringLiteral("name?")},
        {"an error raised by the data's use is marked in the function",
         QStringLiteral("def func1(group, topic, desc, stamp, datas):\r\n    return datas[99]"), QString(), 2,
         QStringLiteral("IndexError"), QStringLiteral("IndexError")},
    };
    ScriptedDialogs dialogs; // any box fails the test
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Edit(c.script);
        EXPECT_EQ(Result(), c.result);
        EXPECT_EQ(MarkedLine(), c.markedLine);
        EXPECT_TRUE(Status().contains(c.status)) << Status().toStdString();
        // A screen reader reads the mark's text as the editor's description.
        EXPECT_EQ(QAccessible::queryAccessibleInterface(form->sePythonCode)->text(QAccessible::Description),
                  c.markedLine ? Status() : QString());
        EXPECT_TRUE(Output().contains(c.output)) << Output().toStdString();
        EXPECT_FALSE(Output().contains(QStringLiteral("ran broken")));
    }
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(dialogs.inputs.empty());

    // The syntax error's column is Python's: where the unclosed bracket stands.
    Edit(QStringLiteral("def func1(*a):\r\n    return (1,"));
    ASSERT_TRUE(form->sePythonCode->ErrorMark());
    EXPECT_EQ(form->sePythonCode->ErrorMark()->Line, 2);
    EXPECT_EQ(form->sePythonCode->ErrorMark()->Column, 12);

    // The run button keeps its full behaviour: the error box, in live mode too.
    ScriptedDialogs button;
    button.AnswerMessage(ModalResult::mrOk);
    form->SetEditorText(QStringLiteral("def func1(*a):\r\n    return 1 / 0"));
    form->ToolButton5->click();
    ASSERT_EQ(button.messages.size(), 1u);
    EXPECT_TRUE(button.messages[0].text.contains(QStringLiteral("ZeroDivisionError")));
    WaitForLiveRun();
}

// Typed keys reach the editor and the result follows them.
TEST_F(LiveRun, TypingUpdatesTheResultWithoutPressingRun)
{
    Edit(QStringLiteral("def func1(*a):\r\n    return 'ab'"));
    ASSERT_EQ(Result(), QStringLiteral("ab"));
    form->sePythonCode->GotoLine(2);
    QTest::keyClick(form->sePythonCode, Qt::Key_End);
    QTest::keyClick(form->sePythonCode, Qt::Key_Left);
    QTest::keyClicks(form->sePythonCode, QStringLiteral("cd"));
    EXPECT_TRUE(QTest::qWaitFor([] { return Result() == QStringLiteral("abcd"); }, 3000)) << Result().toStdString();
}

// A run that does not end is stopped by a key press (and started again after
// the next pause), and by the time limit, which pauses the mode until the
// next edit.
TEST_F(LiveRun, EndlessRunsAreStoppedByTypingAndByTheTimeLimit)
{
    ScriptedDialogs dialogs;
    Edit(QStringLiteral("def func1(*a):\r\n    return 'before'"));
    ASSERT_EQ(Result(), QStringLiteral("before"));
    const QString endless = QStringLiteral("def func1(*a):\r\n    while True:\r\n        pass\r\n#");
    const int started = form->Live().Started();
    QElapsedTimer sinceKey;
    bool keyDuringRun = false;
    // Timers fire inside the run, from its ticks, as key presses arrive.
    QTimer::singleShot(kDelayMs + 300, form, [&] {
        keyDuringRun = form->Live().Running();
        sinceKey.start();
        QTest::keyClick(form->sePythonCode, Qt::Key_Home);
    });
    form->SetEditorText(endless);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sinceKey.isValid() && form->Live().Paused(); }, 8000));
    EXPECT_TRUE(keyDuringRun);
    // The key ended the first run, and the pause after it started a second,
    // which met the limit (1.5 s here): had the key not stopped the first,
    // that one would have met the limit and no second would have started.
    EXPECT_EQ(form->Live().Started() - started, 2);
    EXPECT_LT(sinceKey.elapsed(), 1500 + 1000);
    EXPECT_EQ(Result(), QStringLiteral("before"));
    EXPECT_TRUE(Status().contains(QStringLiteral("一時停止"))) << Status().toStdString();
    QTest::qWait(3 * kDelayMs);
    EXPECT_FALSE(form->IsRunning());
    EXPECT_TRUE(dialogs.messages.empty());

    // The next edit resumes it.
    Edit(QStringLiteral("def func1(*a):\r\n    return 'after'"));
    EXPECT_FALSE(form->Live().Paused());
    EXPECT_EQ(Result(), QStringLiteral("after"));
}

// Off, edits run nothing; the note comes once, and the choice is stored.
TEST_F(LiveRun, OffRunsNothingAndTheChoiceIsStored)
{
    Edit(QStringLiteral("def func1(*a):\r\n    return 'on'"));
    ASSERT_EQ(Result(), QStringLiteral("on"));
    // F6 in the editor switches it, as the menu item does.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    QTest::keyClick(form->sePythonCode, Qt::Key_F6);
    EXPECT_FALSE(form->LiveMode());
    EXPECT_FALSE(form->ToolButton6->isChecked());
    form->SetEditorText(QStringLiteral("print('ran')\r\ndef func1(*a):\r\n    return 'off'"));
    QTest::keyClicks(form->sePythonCode, QStringLiteral("# x"));
    QTest::qWait(5 * kDelayMs);
    EXPECT_EQ(Result(), QStringLiteral("on"));
    EXPECT_FALSE(Output().contains(QStringLiteral("ran")));

    platform::Registry reg(platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\Quorbel\\Live")));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Enabled")), 0);
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("NoteShown")), 1);
    // The note was shown at the first switch-on only: no box now.
    ScriptedDialogs noBox;
    form->TestLive1->trigger();
    EXPECT_TRUE(form->LiveMode());
    EXPECT_TRUE(noBox.messages.empty());
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Enabled")), 1);
}

// A result of the same shape replaces the old one in place: both panes keep
// their scroll position.
TEST_F(LiveRun, PanesKeepTheirPlaceWhenTheResultKeepsItsShape)
{
    auto script = [](const QString& value) {
        return QStringLiteral("for i in range(300):\r\n    print('line', i, '%1')\r\n"
                              "def func1(*a):\r\n    return '\\n'.join('row %d %1' % i for i in range(300))")
            .arg(value);
    };
    Edit(script(QStringLiteral("a")));
    ASSERT_EQ(form->Memo1->blockCount(), 300);
    form->Memo1->verticalScrollBar()->setValue(120);
    form->mePythonOutput->verticalScrollBar()->setValue(80);
    Edit(script(QStringLiteral("b")));
    EXPECT_TRUE(Result().startsWith(QStringLiteral("row 0 b")));
    EXPECT_EQ(form->Memo1->verticalScrollBar()->value(), 120);
    EXPECT_EQ(form->mePythonOutput->verticalScrollBar()->value(), 80);
    EXPECT_TRUE(Output().contains(QStringLiteral("line 299 b")));
}
