// Start from a desktop: the command line, files dropped on the window, and the
// folder the file dialogs open in.
#include "app/CommandLine.h"
#include "app/FileDrop.h"
#include "app/SDIMain.h"
#include "app/ScriptFile.h"
#include "app/Startup.h"
#include "history/OpnFilHs.h"
#include "widgets/CodeEditorControl.h"

#include "FileBytes.h"
#include "WorkbenchFixture.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using platform::ModalResult;

namespace {

const QString SOpenQuestion = QStringLiteral("ファイルが変更されています");

QStringList Args(std::initializer_list<const char*> items)
{
    QStringList out{QStringLiteral("quorbel")};
    for (const char* item : items)
        out << QString::fromUtf8(item);
    return out;
}

class Desktop : public WorkbenchFixture {
protected:
    QString Script(const QString& name, const QByteArray& bytes) const
    {
        const QString path = File(name);
        WriteBytes(path, bytes);
        return path;
    }

    // A drag from a file manager: enter, move, drop, as the platform sends them.
    // Returns the drop event's action and acceptance.
    std::pair<Qt::DropAction, bool> Drop(QWidget* target, QMimeData* data,
                                         Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
    {
        const QPoint at(5, 5);
        QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QDropEvent drop(QPointF(at), actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return {drop.dropAction(), drop.isAccepted()};
    }
    static std::unique_ptr<QMimeData> Files(const QStringList& paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        data->setUrls(urls);
        // File managers put the paths as text as well.
        data->setText(paths.join(u'\n'));
        return data;
    }
};

} // namespace

TEST(CommandLine, HelpAndVersionAreReadBeforeTheScriptsOwnOptions)
{
    EXPECT_EQ(StartActionOf(Args({})), TStartAction::saRun);
    EXPECT_EQ(StartActionOf(Args({"a.py", "x"})), TStartAction::saRun);
    EXPECT_EQ(StartActionOf(Args({"--help"})), TStartAction::saHelp);
    EXPECT_EQ(StartActionOf(Args({"a.py", "-h"})), TStartAction::saHelp);
    EXPECT_EQ(StartActionOf(Args({"--version"})), TStartAction::saVersion);
    EXPECT_EQ(StartActionOf(Args({"a.py", "--", "--help"})), TStartAction::saRun);
    // Only the arguments after the program name count.
    EXPECT_EQ(StartActionOf(QStringList{QStringLiteral("--version")}), TStartAction::saRun);
    EXPECT_TRUE(UsageText(QStringLiteral("quorbel")).startsWith(QStringLiteral("Usage: quorbel [--python PATH] [FILE]")));
    EXPECT_EQ(VersionText(), QStringLiteral("quorbel %1\n").arg(QStringLiteral(QUORBEL_VERSION_UNDER_TEST)));
}

TEST(CommandLine, StartupFileIsTheFirstOperandMadeAbsolute)
{
    const QString cwd = QStringLiteral("/home/u/work");
    EXPECT_EQ(StartupFileOf(Args({}), cwd), std::nullopt);
    EXPECT_EQ(StartupFileOf(Args({"conv.py"}), cwd), QStringLiteral("/home/u/work/conv.py"));
    EXPECT_EQ(StartupFileOf(Args({"../b/./conv.py", "other.py"}), cwd), QStringLiteral("/home/u/b/conv.py"));
    EXPECT_EQ(StartupFileOf(Args({"/tmp/a.py"}), cwd), QStringLiteral("/tmp/a.py"));
    EXPECT_EQ(StartupFileOf(Args({"-x", "-", "", "a.py"}), cwd), QStringLiteral("/home/u/work/a.py"));
    EXPECT_EQ(StartupFileOf(Args({"--", "a.py"}), cwd), std::nullopt);
    EXPECT_EQ(StartupFileOf(Args({"file:///tmp/with%20space.py"}), cwd), QStringLiteral("/tmp/with space.py"));
    EXPECT_EQ(StartupFileOf(Args({"スクリプト.py"}), cwd), QStringLiteral("/home/u/work/スクリプト.py"));
    // The environment given with --python is no file to open.
    EXPECT_EQ(StartupFileOf(Args({"--python", "/venv", "a.py"}), cwd), QStringLiteral("/home/u/work/a.py"));
    EXPECT_EQ(PythonOptionOf(Args({"--python", "/venv", "a.py"})), QStringLiteral("/venv"));
    EXPECT_EQ(PythonOptionOf(Args({"--python=/a", "--python=/b"})), QStringLiteral("/b"));
    EXPECT_EQ(PythonOptionOf(Args({"--python"})), QString());
    EXPECT_EQ(PythonOptionOf(Args({"--", "--python", "/venv"})), std::nullopt);
}

TEST(CommandLine, VersionAndHelpNeedNoDisplay)
{
    for (const char* option : {"--version", "--help"}) {
        QProcess exe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        exe.setProcessEnvironment(env);
        exe.start(QStringLiteral(QUORBEL_EXE), {QString::fromLatin1(option)});
        ASSERT_TRUE(exe.waitForFinished(60000)) << option;
        EXPECT_EQ(exe.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(exe.exitCode(), 0) << option << exe.readAllStandardError().toStdString();
        const QString out = QString::fromUtf8(exe.readAllStandardOutput());
        if (QByteArray(option) == "--version")
            EXPECT_EQ(out, VersionText());
        else
            EXPECT_TRUE(out.startsWith(QStringLiteral("Usage: quorbel "))) << out.toStdString();
    }
}

TEST_F(Desktop, FileArgumentOpensBeforeTheWindowShows)
{
    const QString path = Script(QStringLiteral("conv.py"), "\xEF\xBB\xBFprint('hi')\r\nx = 1\r\n");
    ShowWorkbench(*form, {QStringLiteral("quorbel"), path, QStringLiteral("--flag")});
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->EditorText(), QStringLiteral("print('hi')\r\nx = 1\r\n"));
    EXPECT_EQ(form->FilePath(), path);
    EXPECT_FALSE(form->IsModified());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("conv.py  Quorbel"));
    EXPECT_EQ(form->OpenFileHistories1->List(), QStringList{path});
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Desktop, MissingOrInvalidFileArgumentLeavesAnUntitledDocumentAndShowsTheError)
{
    const QString invalid = Script(QStringLiteral("latin1.py"), "caf\xE9\n");
    for (const QString& path : {File(QStringLiteral("missing.py")), invalid}) {
        form = std::make_unique<TSDIAppForm>();
        dialogs.messages.clear();
        dialogs.AnswerMessage(ModalResult::mrOk);
        ShowWorkbench(*form, {QStringLiteral("quorbel"), path});
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const platform::MessageRequest& box = dialogs.messages[0];
        EXPECT_EQ(box.type, platform::MsgDlgType::mtError);
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("ファイル \"%1\" を開けません。").arg(path))) << box.text.toStdString();
        // The box belongs to the window, which is already up.
        EXPECT_EQ(box.owner, form.get());
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(form->FilePath().isEmpty());
        EXPECT_EQ(form->EditorText(), form->SysScript());
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Quorbel"));
        EXPECT_TRUE(form->OpenFileHistories1->List().isEmpty());
    }
}

TEST_F(Desktop, FileDroppedOnTheWindowOrAPaneOpensLikeOpen)
{
    const QString a = Script(QStringLiteral("a.py"), "a = 1\n");
    const QString b = Script(QStringLiteral("b.py"), "b = 2\n");
    form->show();

    auto data = Files({a, b});
    auto [action, accepted] = Drop(form.get(), data.get());
    EXPECT_TRUE(accepted);
    // Copy, never move: the file manager would delete the source of a move.
    EXPECT_EQ(action, Qt::CopyAction);
    // One document: the first file opens.
    EXPECT_EQ(form->FilePath(), a);
    EXPECT_EQ(form->EditorText(), QStringLiteral("a = 1\r\n"));

    // On the script pane the file opens too instead of its name being typed
    // in; unsaved work is asked about as Open does.
    form->SetEditorText(QStringLiteral("edited"));
    dialogs.AnswerMessage(ModalResult::mrNo);
    data = Files({b});
    EXPECT_TRUE(Drop(form->sePythonCode->viewport(), data.get()).second);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, SOpenQuestion);
    EXPECT_EQ(form->FilePath(), b);
    EXPECT_EQ(form->EditorText(), QStringLiteral("b = 2\r\n"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("b.py  Quorbel"));

    data = Files({a});
    EXPECT_TRUE(Drop(form->Memo1->viewport(), data.get()).second);
    EXPECT_EQ(form->FilePath(), a);
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    EXPECT_EQ(form->OpenFileHistories1->List(), (QStringList{a, b}));
}

TEST_F(Desktop, TextDroppedOnTheScriptPaneStaysAnEdit)
{
    form->show();
    form->SetEditorText(QStringLiteral("x"));
    QMimeData text;
    text.setText(QStringLiteral("dropped "));
    Drop(form->sePythonCode->viewport(), &text);
    EXPECT_TRUE(form->EditorText().contains(QStringLiteral("dropped "))) << form->EditorText().toStdString();
    EXPECT_TRUE(form->FilePath().isEmpty());

    // A web address is no file to open: the pane treats it as it always does.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/a.py"))});
    Drop(form->sePythonCode->viewport(), &web);
    EXPECT_TRUE(form->FilePath().isEmpty());
    EXPECT_TRUE(dialogs.messages.empty());

    // Without the editor's file-drop option a dropped file is not the
    // editor's: the window around it opens it, and no path is pasted.
    const QString c = Script(QStringLiteral("c.py"), "c = 3\r\n");
    form->sePythonCode->Engine().SetOptions(form->sePythonCode->Engine().Options() & ~editor::eoDropFiles);
    dialogs.AnswerMessage(ModalResult::mrNo);
    auto file = Files({c});
    Drop(form->sePythonCode->viewport(), file.get());
    EXPECT_EQ(form->FilePath(), c);
    EXPECT_EQ(form->EditorText(), QStringLiteral("c = 3\r\n"));
}

TEST_F(Desktop, DropThatOnlyAllowsMovingIsRefused)
{
    const QString a = Script(QStringLiteral("a.py"), "a = 1\n");
    form->show();
    auto data = Files({a});
    EXPECT_FALSE(Drop(form.get(), data.get(), Qt::MoveAction).second);
    EXPECT_TRUE(form->FilePath().isEmpty());
    EXPECT_TRUE(QFile::exists(a));
}

TEST_F(Desktop, DroppedUnreadableFileShowsTheErrorAndChangesNothing)
{
    form->show();
    dialogs.AnswerMessage(ModalResult::mrOk);
    auto data = Files({File(QStringLiteral("gone.py"))});
    Drop(form.get(), data.get());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].type, platform::MsgDlgType::mtError);
    EXPECT_TRUE(form->FilePath().isEmpty());
    EXPECT_EQ(form->EditorText(), form->SysScript());
}

TEST(DroppedLocalFiles, KeepsLocalFilesInOrder)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/a b/x.py")), QUrl(QStringLiteral("https://e.org/y.py")),
                  QUrl::fromLocalFile(QStringLiteral("/z.py"))});
    EXPECT_EQ(DroppedLocalFiles(&data), (QStringList{QStringLiteral("/a b/x.py"), QStringLiteral("/z.py")}));
    QMimeData text;
    text.setText(QStringLiteral("/not/a/url.py"));
    EXPECT_TRUE(DroppedLocalFiles(&text).isEmpty());
    EXPECT_TRUE(DroppedLocalFiles(nullptr).isEmpty());
}

TEST(DialogStartFolder, CurrentFileThenNewestRecentWithAFolderThenHome)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a"));
    const QString b = dir.filePath(QStringLiteral("b"));
    QDir().mkpath(a);
    QDir().mkpath(b);
    const QString gone = dir.filePath(QStringLiteral("gone/x.py"));
    EXPECT_EQ(DialogStartFolder(a + QStringLiteral("/cur.py"), {b + QStringLiteral("/r.py")}), a);
    EXPECT_EQ(DialogStartFolder({}, {b + QStringLiteral("/r.py"), a + QStringLiteral("/s.py")}), b);
    EXPECT_EQ(DialogStartFolder(gone, {gone, a + QStringLiteral("/s.py")}), a);
    // A relative entry would depend on the working folder, which is what the
    // dialogs must not start in.
    EXPECT_EQ(DialogStartFolder({}, {QStringLiteral("rel/x.py")}), QDir::homePath());
    EXPECT_EQ(DialogStartFolder({}, {}), QDir::homePath());
}

TEST_F(Desktop, FileDialogsStartBesideTheDocumentNotInTheWorkingFolder)
{
    QDir().mkpath(File(QStringLiteral("recent")));
    QDir().mkpath(File(QStringLiteral("saved")));
    // Untitled, nothing recent: home.
    dialogs.AnswerFile(std::nullopt);
    form->FileOpen1Execute();
    dialogs.AnswerFile(std::nullopt);
    form->FileSave1Execute();
    ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
    EXPECT_EQ(dialogs.fileDialogs[0].folder, QDir::homePath());
    EXPECT_EQ(dialogs.fileDialogs[1].folder, QDir::homePath());

    // Untitled with a recent file: its folder.
    const QString recent = Script(QStringLiteral("recent/r.py"), "r = 1\n");
    form->OpenFileHistories1->AddHistory(recent);
    form->OpenFileHistories1->UpDate();
    dialogs.AnswerFile(std::nullopt);
    form->FileSave1Execute();
    EXPECT_EQ(dialogs.fileDialogs.back().folder, File(QStringLiteral("recent")));
    EXPECT_TRUE(dialogs.fileDialogs.back().fileName.isEmpty());

    // Titled: the document's own folder, for Open and Save alike.
    const QString saved = File(QStringLiteral("saved/s.py"));
    dialogs.AnswerFile(saved);
    form->FileSave1Execute();
    dialogs.AnswerFile(std::nullopt);
    form->FileOpen1Execute();
    EXPECT_EQ(dialogs.fileDialogs.back().folder, File(QStringLiteral("saved")));
    EXPECT_TRUE(dialogs.fileDialogs.back().fileName.isEmpty());
    dialogs.AnswerFile(std::nullopt);
    form->FileSave1Execute();
    EXPECT_EQ(dialogs.fileDialogs.back().folder, File(QStringLiteral("saved")));
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, saved);
    EXPECT_TRUE(dialogs.AllAnswersUsed());
}
