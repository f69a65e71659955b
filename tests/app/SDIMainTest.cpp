#include "app/About.h"
#include "app/DefaultScript.h"
#include "app/ErrorBox.h"
#include "app/SDIMain.h"
#include "app/ScriptFile.h"
#include "app/PaneText.h"
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"
#include "history/OpnFilHs.h"
#include "platform/Process.h"
#include "widgets/CodeEditorControl.h"

#include "FileBytes.h"
#include "WorkbenchFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QInputMethodEvent>
#include <QTextBlock>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using platform::ModalResult;

namespace {

class Workbench : public WorkbenchFixture {
protected:
    QStringList RecentCaptions() const
    {
        QStringList out;
        for (QAction* a : form->idR->actions())
            out << a->text();
        return out;
    }
    void Edit(const QString& text) { form->SetEditorText(text); }
};

} // namespace

TEST_F(Workbench, StartsWithDefaultScriptUnmodifiedAndPlainCaption)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quorbel"));
    const QString text = form->EditorText();
    EXPECT_EQ(DefaultScriptLines().size(), 38);
    EXPECT_EQ(text, DefaultScriptLines().join(QStringLiteral("\r\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("    return 'func8'") + QStringLiteral("\r\n").repeated(7)));
    EXPECT_EQ(form->SysScript(), text);
    EXPECT_FALSE(form->IsModified());
    EXPECT_TRUE(form->FilePath().isEmpty());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Workbench, NewWithoutChangesResetsSilently)
{
    form->FileNew1Execute();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("無題  Quorbel"));
    EXPECT_EQ(form->EditorText(), form->SysScript());
}

TEST_F(Workbench, NewOnModifiedDocumentFollowsTheAnswer)
{
    Edit(QStringLiteral("edited"));
    dialogs.AnswerMessage(ModalResult::mrCancel);
    form->FileNew1Execute();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("ファイルが変更されています。保存しますか？"));
    EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("警告"));
    EXPECT_EQ(dialogs.messages[0].type, platform::MsgDlgType::mtWarning);
    EXPECT_EQ(form->EditorText(), QStringLiteral("edited"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quorbel"));

    // Yes saves and stops: the text stays even though the save succeeded.
    dialogs.AnswerMessage(ModalResult::mrYes);
    dialogs.AnswerFile(File(QStringLiteral("kept.py")));
    form->FileNew1Execute();
    EXPECT_EQ(form->EditorText(), QStringLiteral("edited"));
    EXPECT_EQ(form->FilePath(), File(QStringLiteral("kept.py")));

    Edit(QStringLiteral("edited again"));
    dialogs.AnswerMessage(ModalResult::mrNo);
    form->FileNew1Execute();
    EXPECT_EQ(form->EditorText(), form->SysScript());
    EXPECT_TRUE(form->FilePath().isEmpty());
    EXPECT_FALSE(form->IsModified());
    EXPECT_TRUE(dialogs.AllAnswersUsed());
}

TEST_F(Workbench, SaveWritesBomAndCrLfAndSetsBaseline)
{
    dialogs.AnswerFile(File(QStringLiteral("conv.py")));
    form->FileSave1Execute();
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_TRUE(dialogs.fileDialogs[0].save);
    EXPECT_TRUE(dialogs.fileDialogs[0].fileName.isEmpty());
    EXPECT_EQ(dialogs.fileDialogs[0].filter, QStringLiteral("Python(*.py)|*.py|すべてのファイル (*.*)|*.*"));
    EXPECT_EQ(dialogs.fileDialogs[0].defaultExt, QStringLiteral("py"));

    const QByteArray bytes = ReadBytes(File(QStringLiteral("conv.py")));
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF" "import datetime\r\ndef func1("));
    EXPECT_TRUE(bytes.endsWith("    return 'func8'\r\n\r\n\r\n\r\n\r\n\r\n\r\n"));
    EXPECT_FALSE(bytes.endsWith("    return 'func8'\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"));
    EXPECT_FALSE(form->IsModified());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("conv.py  Quorbel"));

    // A last line that is not empty is not modified after its save either.
    Edit(QStringLiteral("x = 1\r\ny = 2"));
    dialogs.AnswerFile(File(QStringLiteral("two.py")));
    form->FileSave1Execute();
    EXPECT_EQ(dialogs.fileDialogs[1].fileName, File(QStringLiteral("conv.py")));
    EXPECT_EQ(ReadBytes(File(QStringLiteral("two.py"))), QByteArray("\xEF\xBB\xBFx = 1\r\ny = 2\r\n"));
    EXPECT_FALSE(form->IsModified());

    Edit(QString());
    dialogs.AnswerFile(File(QStringLiteral("empty.py")));
    form->FileSave1Execute();
    EXPECT_EQ(ReadBytes(File(QStringLiteral("empty.py"))), QByteArray("\xEF\xBB\xBF"));
}

TEST_F(Workbench, SaveAsReplacesExistingFileWithoutAsking)
{
    WriteBytes(File(QStringLiteral("old.py")), "old contents");
    Edit(QStringLiteral("new"));
    dialogs.AnswerFile(File(QStringLiteral("old.py")));
    form->FileSaveAs1->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(ReadBytes(File(QStringLiteral("old.py"))), QByteArray("\xEF\xBB\xBFnew\r\n"));
}

TEST_F(Workbench, CancelledSaveChangesNothing)
{
    dialogs.AnswerFile(std::nullopt);
    form->FileSave1->trigger();
    EXPECT_TRUE(form->FilePath().isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quorbel"));
    EXPECT_TRUE(form->OpenFileHistories1->List().isEmpty());
}

TEST_F(Workbench, FailedSaveReportsFullPathAndKeepsNewNameInHistory)
{
    Edit(QStringLiteral("unsaved"));
    const QString target = File(QStringLiteral("missing/conv.py"));
    dialogs.AnswerFile(target);
    dialogs.AnswerMessage(ModalResult::mrOk);
    form->FileSave1->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const auto& box = dialogs.messages[0];
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("ファイル \"") + target + QStringLiteral("\" を作成できません。")))
        << box.text.toStdString();
    EXPECT_EQ(box.type, platform::MsgDlgType::mtError);
    EXPECT_EQ(box.caption, platform::ApplicationTitle());
    EXPECT_EQ(form->FilePath(), target);
    EXPECT_EQ(form->OpenFileHistories1->List().value(0), target);
    EXPECT_TRUE(form->IsModified());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quorbel"));
}

TEST_F(Workbench, FailedSaveLeavesThePreviousFileIntact)
{
    // A name at the length limit leaves no room for the temporary file beside
    // it, so the save fails after the old file was found (even for root).
    const QString target = File(QString(250, u'n'));
    WriteBytes(target, "previous");
    Edit(QStringLiteral("new text"));
    dialogs.AnswerFile(target);
    dialogs.AnswerMessage(ModalResult::mrOk);
    form->FileSave1->trigger();
    EXPECT_EQ(ReadBytes(target), QByteArray("previous"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("を作成できません。")));
    EXPECT_TRUE(form->IsModified());
}

TEST_F(Workbench, DamagedHistoryStoreIsSetAsideAndDoesNotStopASave)
{
    const QString storeFile = store.UserRoot() + QStringLiteral("/Software/OpnFilHs/OFH/values.reg");
    ASSERT_TRUE(QFile::exists(storeFile) || QDir().mkpath(QFileInfo(storeFile).path()));
    WriteBytes(storeFile, "damaged");
    Edit(QStringLiteral("precious"));
    dialogs.AnswerFile(File(QStringLiteral("kept.py")));
    dialogs.AnswerMessage(ModalResult::mrOk);
    form->FileSave1->trigger();
    QCoreApplication::processEvents(); // the report comes once the command is over
    EXPECT_EQ(ReadBytes(File(QStringLiteral("kept.py"))), QByteArray("\xEF\xBB\xBFprecious\r\n"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(storeFile)) << dialogs.messages[0].text.toStdString();
    EXPECT_FALSE(form->IsModified());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("kept.py  Quorbel"));
    const QStringList aside = QDir(QFileInfo(storeFile).path()).entryList({QStringLiteral("values.reg.damaged-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadBytes(QFileInfo(storeFile).path() + u'/' + aside[0]), QByteArray("damaged")); // kept, never overwritten
    EXPECT_EQ(form->OpenFileHistories1->List(), QStringList{File(QStringLiteral("kept.py"))});
}

TEST_F(Workbench, OpenReadsTheFileAndRecordsIt)
{
    const QString path = File(QStringLiteral("in.py"));
    WriteBytes(path, "\xEF\xBB\xBFprint('日本')\r\nx = 1\ny = 2\rz = 3\n");
    dialogs.AnswerFile(path);
    form->FileOpen1->trigger();
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_FALSE(dialogs.fileDialogs[0].save);
    EXPECT_EQ(dialogs.fileDialogs[0].defaultExt, QStringLiteral(".py"));
    EXPECT_EQ(form->EditorText(), QStringLiteral("print('日本')\r\nx = 1\r\ny = 2\r\nz = 3\r\n"));
    EXPECT_EQ(form->FilePath(), path);
    EXPECT_FALSE(form->IsModified());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("in.py  Quorbel"));
    EXPECT_EQ(form->OpenFileHistories1->List(), QStringList{path});

    // Saving it again writes the same bytes, apart from the breaks made CR LF.
    dialogs.AnswerFile(path);
    form->FileSave1Execute();
    EXPECT_EQ(ReadBytes(path), QByteArray("\xEF\xBB\xBFprint('日本')\r\nx = 1\r\ny = 2\r\nz = 3\r\n"));
}

TEST_F(Workbench, OpenAsksAfterTheDialogWithoutTheSaveQuestion)
{
    const QString path = File(QStringLiteral("in.py"));
    WriteBytes(path, "a = 1");
    Edit(QStringLiteral("edited"));

    dialogs.AnswerFile(std::nullopt); // cancelled dialog: no question at all
    form->FileOpen1Execute();
    EXPECT_TRUE(dialogs.messages.empty());

    dialogs.AnswerFile(path);
    dialogs.AnswerMessage(ModalResult::mrCancel);
    form->FileOpen1Execute();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("ファイルが変更されています"));
    EXPECT_EQ(form->EditorText(), QStringLiteral("edited"));

    dialogs.AnswerFile(path);
    dialogs.AnswerMessage(ModalResult::mrNo);
    form->FileOpen1Execute();
    EXPECT_EQ(form->EditorText(), QStringLiteral("a = 1"));
}

TEST_F(Workbench, UnreadableOrInvalidFileChangesNothing)
{
    const QString bad = File(QStringLiteral("bad.py"));
    WriteBytes(bad, "ok\xff\xfe");
    for (const QString& path : {bad, File(QStringLiteral("nope.py"))}) {
        dialogs.AnswerFile(path);
        dialogs.AnswerMessage(ModalResult::mrOk);
        form->FileOpen1->trigger();
        ASSERT_FALSE(dialogs.messages.empty());
        EXPECT_TRUE(dialogs.messages.back().text.startsWith(QStringLiteral("ファイル \"") + path
                                                            + QStringLiteral("\" を開けません。")));
        EXPECT_EQ(form->EditorText(), form->SysScript());
        EXPECT_TRUE(form->FilePath().isEmpty());
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Quorbel"));
        EXPECT_TRUE(form->OpenFileHistories1->List().isEmpty());
    }
}

TEST_F(Workbench, RecentFilesShowNewestFirstAndOpenOnClick)
{
    QStringList paths;
    for (const char* name : {"a.py", "b.py", "c.py"}) {
        paths << File(QString::fromLatin1(name));
        WriteBytes(paths.back(), name);
        dialogs.AnswerFile(paths.back());
        form->FileSave1Execute();
    }
    EXPECT_EQ(RecentCaptions(),
              (QStringList{QStringLiteral("&0 ") + paths[2], QStringLiteral("&1 ") + paths[1], QStringLiteral("&2 ") + paths[0]}));

    WriteBytes(paths[0], "from disk");
    form->idR->actions().at(2)->trigger();
    EXPECT_EQ(form->EditorText(), QStringLiteral("from disk"));
    EXPECT_EQ(form->FilePath(), paths[0]);
    EXPECT_EQ(RecentCaptions().value(0), QStringLiteral("&0 ") + paths[0]);
    EXPECT_EQ(RecentCaptions().size(), 3);
}

// An empty submenu is never opened (once shown empty on X11 it did not come
// up again for files added later); the first file enables it.
TEST_F(Workbench, RecentSubmenuIsNeverOpenedEmptyAndShowsLaterFiles)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_TRUE(form->idR->actions().isEmpty());
    EXPECT_FALSE(form->idR->menuAction()->isEnabled());

    dialogs.AnswerFile(File(QStringLiteral("later.py")));
    form->FileSave1Execute();
    ASSERT_EQ(form->idR->actions().size(), 1);
    EXPECT_TRUE(form->idR->menuAction()->isEnabled());
    form->File1->popup(form->mapToGlobal(QPoint(0, 0)));
    QTest::qWait(50);
    QTest::mouseMove(form->File1, form->File1->actionGeometry(form->idR->menuAction()).center());
    QTest::qWait(400);
    EXPECT_TRUE(form->idR->isVisible());
    EXPECT_TRUE(form->idR->actionGeometry(form->idR->actions().at(0)).isValid());
    form->idR->hide();
    form->File1->hide();
}

TEST_F(Workbench, HistoryPersistsAcrossRuns)
{
    dialogs.AnswerFile(File(QStringLiteral("saved.py")));
    form->FileSave1Execute();
    form.reset();
    TSDIAppForm second;
    ASSERT_EQ(second.idR->actions().size(), 1);
    EXPECT_EQ(second.idR->actions().at(0)->text(), QStringLiteral("&0 ") + File(QStringLiteral("saved.py")));
}

TEST_F(Workbench, WordWrapIsAViewMenuItemKeptWithTheSettings)
{
    EXPECT_EQ(form->V1->title(), QStringLiteral("表示(&V)"));
    EXPECT_FALSE(form->sePythonCode->WordWrap());
    form->ViewWordWrap1->trigger();
    EXPECT_TRUE(form->sePythonCode->WordWrap());
    form.reset();
    {
        TSDIAppForm second;
        EXPECT_TRUE(second.ViewWordWrap1->isChecked());
        EXPECT_TRUE(second.sePythonCode->WordWrap());
        second.ViewWordWrap1->trigger();
    }
    TSDIAppForm third;
    EXPECT_FALSE(third.sePythonCode->WordWrap());
}

TEST_F(Workbench, ClosingWithUnsavedWorkAsks)
{
    form->show();
    EXPECT_TRUE(form->close()); // unmodified: no question
    EXPECT_TRUE(dialogs.messages.empty());

    form->show();
    Edit(QStringLiteral("work"));
    dialogs.AnswerMessage(ModalResult::mrCancel);
    EXPECT_FALSE(form->close());
    EXPECT_EQ(dialogs.messages.back().text, QStringLiteral("ファイルが変更されています。保存しますか？"));

    dialogs.AnswerMessage(ModalResult::mrYes);
    dialogs.AnswerFile(std::nullopt); // save dialog cancelled: stay open
    EXPECT_FALSE(form->close());

    dialogs.AnswerMessage(ModalResult::mrYes);
    dialogs.AnswerFile(File(QStringLiteral("missing/x.py"))); // save fails: stay open
    dialogs.AnswerMessage(ModalResult::mrOk);
    EXPECT_FALSE(form->close());

    dialogs.AnswerMessage(ModalResult::mrYes);
    dialogs.AnswerFile(File(QStringLiteral("work.py")));
    EXPECT_TRUE(form->close());
    EXPECT_EQ(ReadBytes(File(QStringLiteral("work.py"))), QByteArray("\xEF\xBB\xBFwork\r\n"));

    form->show();
    Edit(QStringLiteral("more work"));
    dialogs.AnswerMessage(ModalResult::mrNo);
    form->FileExit1->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(dialogs.AllAnswersUsed());
}

TEST_F(Workbench, NumberFieldStepsButRefusesTyping)
{
    form->show();
    TSpinEdit* spin = form->SpinEdit1;
    EXPECT_EQ(spin->value(), 1);
    EXPECT_EQ(spin->minimum(), 1);
    EXPECT_EQ(spin->maximum(), 8);
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_5);
    QTest::keyClick(spin, Qt::Key_Backspace);
    EXPECT_EQ(spin->value(), 1);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->value(), 2);
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->value(), 8);
}

TEST_F(Workbench, LayoutAndMenus)
{
    EXPECT_EQ(form->File1->title(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(form->idR->title(), QStringLiteral("最近使ったファイル"));
    EXPECT_FALSE(form->Help1->menuAction()->isVisible());
    // The test menu runs and stops the script and turns live mode on and
    // off (off at first); F5 runs, Esc stops, F6 switches live mode.
    ASSERT_EQ(form->T1->actions().size(), 3);
    EXPECT_EQ(form->T1->actions().at(0)->text(), QStringLiteral("実行(&R)"));
    EXPECT_EQ(form->T1->actions().at(1)->text(), QStringLiteral("中止(&S)"));
    EXPECT_EQ(form->T1->actions().at(2)->text(), QStringLiteral("ライブ実行(&L)"));
    EXPECT_FALSE(form->TestLive1->isChecked());
    EXPECT_EQ(form->TestRun1->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(form->TestLive1->shortcut(), QKeySequence(Qt::Key_F6));
    EXPECT_EQ(form->TestStop1->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_FALSE(form->TestStop1->isEnabled());
    EXPECT_EQ(form->FileNew1->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_EQ(form->FileNew1->toolTip(), QStringLiteral("新規"));
    EXPECT_EQ(form->FileNew1->statusTip(), QStringLiteral("新規ファイルの作成"));
    EXPECT_EQ(form->HeaderControl1->text(), QStringLiteral("Python Source code"));
    EXPECT_EQ(form->HeaderControl3->text(), QStringLiteral("json Output"));
    EXPECT_EQ(form->HeaderControl2->text(), QStringLiteral("Python Output"));
    EXPECT_FALSE(form->ToolBar2->isVisibleTo(form.get()));
    EXPECT_EQ(form->SpinEdit1->width(), 47);
}

TEST_F(Workbench, EditShortcutsWorkInTheMemoPanes)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    form->Memo1->setPlainText(QStringLiteral("result text"));
    form->Memo1->setFocus();
    form->Memo1->selectAll();
    QApplication::clipboard()->clear();
    QTest::keyClick(form->Memo1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("result text"));
}

TEST(ErrorBox, AppendsPointOnlyAfterCharactersAbovePoint)
{
    EXPECT_EQ(ErrorBoxText(QStringLiteral("failed")), QStringLiteral("failed."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("failed.")), QStringLiteral("failed."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("failed!")), QStringLiteral("failed!"));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("code 0")), QStringLiteral("code 0."));
    EXPECT_EQ(ErrorBoxText(QStringLiteral("失敗しました")), QStringLiteral("失敗しました."));
    EXPECT_EQ(ErrorBoxText(QString()), QString());
    EXPECT_EQ(platform::ApplicationTitleOf(QStringLiteral("/opt/q.d/quorbel.bin.old")), QStringLiteral("quorbel"));
}

TEST(ScriptFile, SplitsSavedLinesAtEveryBreak)
{
    EXPECT_EQ(SplitSavedLines(QStringLiteral("a\r\nb\rc\nd")), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitSavedLines(QStringLiteral("a\n")), QStringList{"a"});
    EXPECT_EQ(SplitSavedLines(QStringLiteral("\n\r")), (QStringList{"", ""}));
    EXPECT_TRUE(SplitSavedLines(QString()).isEmpty());
}

// --- the script editor in the window

TEST_F(Workbench, TypedScriptSavesAndReopensByteForByte)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    form->sePythonCode->setFocus();
    Edit(QString());
    QTest::keyClicks(form->sePythonCode, QStringLiteral("def f(x):"));
    QTest::keyClick(form->sePythonCode, Qt::Key_Return);
    QTest::keyClicks(form->sePythonCode, QStringLiteral("return '"));
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本"));
    QApplication::sendEvent(form->sePythonCode, &commit);
    QTest::keyClicks(form->sePythonCode, QStringLiteral("'"));
    QTest::keyClick(form->sePythonCode, Qt::Key_Return);
    const QString path = File(QStringLiteral("typed.py"));
    dialogs.AnswerFile(path);
    form->FileSave1Execute();
    const QByteArray bytes = ReadBytes(path);
    EXPECT_EQ(bytes, QByteArray("\xEF\xBB\xBF" "def f(x):\r\n    return '日本'\r\n    \r\n"));
    EXPECT_FALSE(form->IsModified());

    // Edits undone back to the saved text leave the document unmodified.
    QTest::keyClicks(form->sePythonCode, QStringLiteral("pass"));
    EXPECT_TRUE(form->IsModified());
    for (int i = 0; i < 4 && form->IsModified(); ++i)
        QTest::keyClick(form->sePythonCode, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(form->IsModified());

    Edit(QStringLiteral("other"));
    dialogs.AnswerMessage(ModalResult::mrNo);
    form->OpenScript(path);
    dialogs.AnswerFile(path);
    form->FileSave1Execute();
    EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(Workbench, NewAndOpenLeaveTheEditorUnmodifiedWithNoUndo)
{
    Edit(QStringLiteral("edited"));
    dialogs.AnswerMessage(ModalResult::mrNo);
    form->FileNew1Execute();
    EXPECT_FALSE(form->sePythonCode->Engine().Modified());
    EXPECT_FALSE(form->sePythonCode->Engine().CanUndo());
    EXPECT_EQ(form->sePythonCode->Engine().CaretXY(), (editor::TBufferCoord{1, 1}));
    // The editor as the window sets it up.
    EXPECT_EQ(form->sePythonCode->TabWidth(), 4);
    EXPECT_TRUE(form->sePythonCode->WantTabs());
    EXPECT_FALSE(form->sePythonCode->Engine().UseCodeFolding());
    EXPECT_EQ(form->sePythonCode->Engine().Highlighter(), form->PythonHighlighter1.get());
    EXPECT_EQ(form->PythonEditBehaviour->Editor(), &form->sePythonCode->Engine());
}

TEST_F(Workbench, FileShortcutsBeatTheEditorAndEditShortcutsDoNot)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    form->sePythonCode->setFocus();
    ASSERT_TRUE(form->sePythonCode->hasFocus());
    // Ctrl+C in the editor is the editor's copy.
    QApplication::clipboard()->clear();
    form->sePythonCode->Engine().SetSelection({1, 1}, {7, 1});
    QTest::keyClick(form->sePythonCode, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("import"));
    // Ctrl+N is New, not the editor's inserted line.
    QTest::keyClicks(form->sePythonCode, QStringLiteral("x"));
    dialogs.AnswerMessage(ModalResult::mrNo);
    QTest::keyClick(form->sePythonCode, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(form->EditorText(), form->SysScript());
    // Tab stays in the editor.
    form->sePythonCode->Engine().SetCaretXY({1, 1});
    QTest::keyClick(form->sePythonCode, Qt::Key_Tab);
    EXPECT_TRUE(form->sePythonCode->hasFocus());
    EXPECT_TRUE(form->EditorText().startsWith(QStringLiteral("    import")));
}

TEST_F(Workbench, TracebackFramesOfTheScriptPutTheCaretOnTheirLine)
{
    const QString trace = QStringLiteral(
        "Traceback (most recent call last):\n  File \"<call>\", line 1, in <module>\n"
        "  File \"<string>\", line 3, in func1\n  File \"<string>\", line 12, in helper\n"
        "ZeroDivisionError: division by zero\n");
    EXPECT_EQ(TracebackLine(trace, u"<string>"), 12);
    EXPECT_EQ(TracebackLine(trace, u"<datas>"), 0);
    EXPECT_EQ(TracebackLine(u"File \"<string>\", line 99999999999999", u"<string>"), 0);
    EXPECT_TRUE(form->GotoTracebackLine(trace));
    EXPECT_EQ(form->sePythonCode->Engine().CaretXY(), (editor::TBufferCoord{1, 12}));
    EXPECT_FALSE(form->GotoTracebackLine(QStringLiteral("no frame here")));

    // A double click on a frame line in the output pane goes there too.
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    SetMemoText(form->mePythonOutput, QStringLiteral("first\r\n  File \"<string>\", line 5, in func1\r\nlast"));
    const QTextBlock frame = form->mePythonOutput->document()->findBlockByNumber(1);
    QTextCursor cursor(frame);
    const QRect at = form->mePythonOutput->cursorRect(cursor);
    QTest::mouseDClick(form->mePythonOutput->viewport(), Qt::LeftButton, Qt::NoModifier, at.center() + QPoint(20, 0));
    EXPECT_EQ(form->sePythonCode->Engine().CaretXY(), (editor::TBufferCoord{1, 5}));
}
