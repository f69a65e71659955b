// Ends the user did not choose: SIGTERM and SIGHUP to the real program (in a
// child process) idle, during a run and while stuck in a C call, and a
// script that swallows the stop.
#include "app/RecoveryJournal.h"
#include "app/SDIMain.h"

#include "ChildWorkbench.h"
#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QToolButton>

#include <csignal>

namespace {

const QString kUnsaved = QStringLiteral("# 保存していない編集\r\ndef func1(*a):\r\n    return 'ok'");

struct SignalCase {
    const char* name;
    const char* scenario;
    int signo;
    bool twice;       // a second signal while the first is not answered
    int exitCode;
};

class EndedBySignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(EndedBySignal, KeepsTheTextInTheJournal)
{
    const SignalCase& c = GetParam();
    QTemporaryDir home;
    ChildWorkbench child(home.path());
    child.Start(QString::fromLatin1(c.scenario));
    if (QString::fromLatin1(c.scenario) == QLatin1String("edit-idle"))
        ASSERT_FALSE(child.WaitFor(QStringLiteral("READY")).isEmpty()) << child.Output().toStdString();
    else
        ASSERT_TRUE(child.WaitForRun()) << child.Output().toStdString();
    child.Signal(c.signo);
    if (c.twice) {
        QThread::msleep(200);
        child.Signal(c.signo);
    }
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(child.Finish(30000)) << child.Output().toStdString();
    EXPECT_EQ(child.ExitCode(), c.exitCode) << child.Output().toStdString();
    if (c.twice) {
        EXPECT_LT(t.elapsed(), 3000) << "a second signal ends at once";
    }
    EXPECT_FALSE(child.Output().contains(QStringLiteral("BOX "))) << "no question is asked";
    const TJournalRecord kept = child.OnlyJournal();
    EXPECT_TRUE(kept.text.startsWith(QStringLiteral("# 保存していない編集\r\n"))) << kept.text.left(80).toStdString();
    EXPECT_TRUE(kept.meta.modified);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EndedBySignal,
    ::testing::Values(SignalCase{"TermWhileIdle", "edit-idle", SIGTERM, false, 0},
                      SignalCase{"HupWhileIdle", "edit-idle", SIGHUP, false, 0},
                      SignalCase{"TermDuringAPythonLoop", "edit-run-loop", SIGTERM, false, 0},
                      SignalCase{"TwoTermsDuringACCall", "edit-run-ccall", SIGTERM, true, 128 + SIGTERM}),
    [](const auto& info) { return std::string(info.param.name); });

// A box shown at start (here the recovery question) has its own loop: the
// signal ends the program from there too, and the question waits for the
// next start.
TEST(EndedBySignalAtStart, WithTheRecoveryQuestionOpen)
{
    QTemporaryDir home;
    ChildWorkbench child(home.path());
    QDir().mkpath(child.RecoveryDir());
    TJournalSnapshot left;
    left.lines = {QStringLiteral("left by a crash")};
    left.meta.modified = true;
    left.meta.written = QDateTime::currentDateTimeUtc();
    const QString orphan = child.RecoveryDir() + QStringLiteral("/4242-1.journal");
    WriteBytes(orphan, EncodeJournal(left));
    child.Start(QStringLiteral("idle"), {{QStringLiteral("QUORBEL_CHILD_ANSWER"), QStringLiteral("wait")}});
    ASSERT_FALSE(child.WaitFor(QStringLiteral("BOX ")).isEmpty()) << child.Output().toStdString();
    child.Signal(SIGTERM);
    ASSERT_TRUE(child.Finish(10000)) << child.Output().toStdString();
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_TRUE(QFile::exists(orphan));
}

// A stop that the script catches: the second request a second later ends it.
TEST(ForcedStop, EndsAScriptThatSwallowsKeyboardInterrupt)
{
    TempStore store;
    ScriptedDialogs dialogs; // a stop shows no box
    TSDIAppForm form;
    form.show();
    // Retry code as users write it: the stop arrives in the sleep, inside the try.
    form.SetEditorText(QStringLiteral("import time\r\n"
                                      "def func1(*a):\r\n"
                                      "    while True:\r\n"
                                      "        try:\r\n"
                                      "            time.sleep(0.05)\r\n"
                                      "        except BaseException:\r\n"
                                      "            pass\r\n"));
    QElapsedTimer sinceSecond;
    bool stillRanAfterFirst = false;
    QTimer::singleShot(300, &form, [&] { form.TestStop1->trigger(); });
    QTimer::singleShot(1600, &form, [&] {
        stillRanAfterFirst = form.IsRunning();
        sinceSecond.start();
        form.TestStop1->trigger();
    });
    form.ToolButton5->click();
    const qint64 ended = sinceSecond.isValid() ? sinceSecond.elapsed() : -1;
    EXPECT_TRUE(stillRanAfterFirst) << "the first stop was caught";
    EXPECT_GE(ended, 0);
    EXPECT_LT(ended, 500);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(form.statusBar()->currentMessage().contains(QStringLiteral("強制"))) << form.statusBar()->currentMessage().toStdString();

    form.SetEditorText(QStringLiteral("import sys\r\ndef func1(*a):\r\n    return str(sys.gettrace())"));
    form.ToolButton5->click();
    EXPECT_EQ(form.Memo1->toPlainText(), QStringLiteral("None")) << "the next run is not traced";
}

} // namespace

int main(int argc, char** argv)
{
    auto editAndRun = [](const QString& body) {
        return [body](TSDIAppForm& form) {
            form.SetEditorText(QStringLiteral("# 保存していない編集\r\ndef func1(*a):\r\n    ") + body);
            form.ToolButton5->click();
        };
    };
    std::map<QString, TScenario> scenarios{
        {QStringLiteral("idle"), [](TSDIAppForm&) {}},
        {QStringLiteral("edit-idle"),
         [](TSDIAppForm& form) {
             form.SetEditorText(kUnsaved);
             Tell(QStringLiteral("READY"));
         }},
        {QStringLiteral("edit-run-loop"), editAndRun(QStringLiteral("while True: pass"))},
        {QStringLiteral("edit-run-ccall"), editAndRun(QStringLiteral("return sum(range(10**12))"))},
    };
    return ChildWorkbenchMain(argc, argv, scenarios);
}
