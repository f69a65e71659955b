// Runs a user can trust: stopping, a live window during a run, clean
// shutdown, and scripts behaving as under the system's python3.X. One
// window per process, as the interpreter starts once; shutdown cases run
// in child processes of this program.
#include "app/SDIMain.h"
#include "pybridge/PythonEngine.h"

#include "PaneLines.h"
#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>

using platform::ModalResult;

namespace {

bool InChild() { return qEnvironmentVariableIsSet("QUORBEL_RUN_CHILD"); }

// An input box that stays open, with the event loop turning, until it is
// cancelled or a timeout passes; records what the output pane showed when
// it opened.
class BlockingInputDialogs : public ScriptedDialogs {
public:
    explicit BlockingInputDialogs(QPlainTextEdit* pane) : FPane(pane) {}
    std::optional<QString> InputBox(const platform::InputRequest&) override
    {
        paneWhenOpened = PaneLines(*FPane);
        QEventLoop loop;
        FLoop = &loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        FLoop = nullptr;
        return std::nullopt;
    }
    void CancelInputBox() override
    {
        ++cancels;
        if (FLoop)
            FLoop->quit();
    }
    QStringList paneWhenOpened;
    int cancels = 0;

private:
    QPlainTextEdit* FPane;
    QEventLoop* FLoop = nullptr;
};

class RunControl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (InChild())
            return;
        store = new TempStore;
        form = new TSDIAppForm;
        form->show();
    }
    static void TearDownTestSuite()
    {
        delete form;
        delete store;
        form = nullptr;
    }
    void SetUp() override
    {
        if (InChild())
            GTEST_SKIP() << "parent-only case";
    }

    // Presses the run button; returns the error box's text, or nothing.
    std::optional<QString> Run(const QString& script, int n = 1)
    {
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(ModalResult::mrOk);
        return RunWith(dialogs, script, n);
    }
    std::optional<QString> RunWith(ScriptedDialogs& dialogs, const QString& script, int n = 1)
    {
        form->SetEditorText(script);
        form->SpinEdit1->setValue(n);
        form->ToolButton5->click();
        if (dialogs.messages.empty())
            return std::nullopt;
        return dialogs.messages.back().text;
    }
    // Stops the run `afterMs` after the click; returns the time from the stop
    // to the end of the run in milliseconds.
    qint64 RunAndStop(const QString& script, int afterMs)
    {
        QElapsedTimer sinceStop;
        QTimer::singleShot(afterMs, form, [&] {
            EXPECT_TRUE(form->IsRunning());
            sinceStop.start();
            form->TestStop1->trigger();
        });
        ScriptedDialogs dialogs; // a user's stop shows no box
        form->SetEditorText(script);
        form->ToolButton5->click();
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_FALSE(form->IsRunning());
        return sinceStop.isValid() ? sinceStop.elapsed() : -1;
    }

    static QString Result() { return form->Memo1->toPlainText(); }
    static QString Output() { return PaneLines(*form->mePythonOutput).join(u'\n'); }

    static TempStore* store;
    static TSDIAppForm* form;
};

TempStore* RunControl::store = nullptr;
TSDIAppForm* RunControl::form = nullptr;

// Runs a script under the system's interpreter of the runtime's version and returns what it printed.
QString SystemPython(const QString& script)
{
    QProcess p;
    p.start(QStringLiteral(QUORBEL_TEST_PYTHON), {QStringLiteral("-E"), QStringLiteral("-c"), script});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

TEST_F(RunControl, StopEndsAnEndlessLoopAndTheNextRunWorks)
{
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'first'")), std::nullopt);
    const qint64 ms = RunAndStop(QStringLiteral("kept = 'yes'\r\nprint('before')\r\nwhile True:\r\n    pass"), 150);
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000); // the benchmark measures the real latency
    EXPECT_EQ(form->statusBar()->currentMessage(), QStringLiteral("実行を中止しました。"));
    EXPECT_TRUE(Output().contains(QStringLiteral("before"))) << Output().toStdString();
    EXPECT_TRUE(Output().contains(QStringLiteral("KeyboardInterrupt"))) << Output().toStdString();
    EXPECT_TRUE(Result().isEmpty());
    // Definitions made before the stop stay; the next run is a normal one.
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return kept")), std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("yes"));
    EXPECT_TRUE(form->FileOpen1->isEnabled());
    EXPECT_FALSE(form->TestStop1->isEnabled());
}

TEST_F(RunControl, StopInterruptsSleepAndInput)
{
    EXPECT_LT(RunAndStop(QStringLiteral("import time\r\ntime.sleep(60)"), 100), 2000);
    EXPECT_TRUE(Output().contains(QStringLiteral("KeyboardInterrupt")));

    BlockingInputDialogs dialogs(form->mePythonOutput);
    QElapsedTimer sinceStop;
    QTimer::singleShot(150, form, [&] {
        sinceStop.start();
        form->ToolButton5->click(); // the run button is the stop button now
    });
    form->SetEditorText(QStringLiteral("print('name? ', end='')\r\nanswer = input()"));
    form->ToolButton5->click();
    EXPECT_LT(sinceStop.elapsed(), 2000);
    EXPECT_EQ(dialogs.cancels, 1);
    EXPECT_TRUE(dialogs.messages.empty());
    // The unfinished prompt was shown before the box opened.
    EXPECT_EQ(dialogs.paneWhenOpened, QStringList{QStringLiteral("name? ")});
    EXPECT_TRUE(Output().contains(QStringLiteral("KeyboardInterrupt")));
}

TEST_F(RunControl, TheWindowIsLiveAndShowsOutputWhileARunGoesOn)
{
    QStringList seenDuringRun;
    bool fileCommandsEnabled = true;
    bool saveEnabled = false;
    QString status, hint;
    QTimer::singleShot(400, form, [&] {
        seenDuringRun = PaneLines(*form->mePythonOutput);
        fileCommandsEnabled = form->FileNew1->isEnabled() || form->FileOpen1->isEnabled() ||
                              form->TestRun1->isEnabled() || form->idR->menuAction()->isEnabled();
        // The edits can always be kept, also while a script ignores stops.
        saveEnabled = form->FileSave1->isEnabled() && form->FileSaveAs1->isEnabled();
        status = form->statusBar()->currentMessage();
        hint = form->ToolButton5->toolTip();
    });
    ASSERT_EQ(Run(QStringLiteral("import time\r\nfor i in range(40):\r\n    print('line', i)\r\n    time.sleep(0.02)\r\n"
                                 "def func1(*a):\r\n    return 'done'")),
              std::nullopt);
    EXPECT_FALSE(seenDuringRun.isEmpty());
    EXPECT_LT(seenDuringRun.size(), 40);
    EXPECT_EQ(seenDuringRun.value(0), QStringLiteral("line 0"));
    EXPECT_FALSE(fileCommandsEnabled);
    EXPECT_TRUE(saveEnabled);
    EXPECT_FALSE(status.isEmpty());
    EXPECT_EQ(hint, QStringLiteral("中止"));
    EXPECT_EQ(form->ToolButton5->toolTip(), QStringLiteral("実行"));
    EXPECT_EQ(Result(), QStringLiteral("done"));
    EXPECT_EQ(PaneLines(*form->mePythonOutput).size(), 40);
}

TEST_F(RunControl, UnfinishedLinesEndWithTheRun)
{
    ASSERT_EQ(Run(QStringLiteral("print('abc', end='')\r\ndef func1(*a):\r\n    return 'x'")), std::nullopt);
    EXPECT_EQ(Output(), QStringLiteral("abc"));
    ASSERT_EQ(Run(QStringLiteral("print('def')\r\ndef func1(*a):\r\n    return 'x'")), std::nullopt);
    EXPECT_EQ(Output(), QStringLiteral("def"));
}

TEST_F(RunControl, InputFromAnotherThreadRaisesRuntimeError)
{
    ASSERT_EQ(Run(QStringLiteral("import threading\r\nres = []\r\ndef t():\r\n    try:\r\n        input()\r\n"
                                 "    except RuntimeError as e:\r\n        res.append(str(e))\r\n"
                                 "th = threading.Thread(target=t)\r\nth.start()\r\nth.join()\r\n"
                                 "def func1(*a):\r\n    return res[0]")),
              std::nullopt);
    EXPECT_TRUE(Result().contains(QStringLiteral("main thread"))) << Result().toStdString();
}

TEST_F(RunControl, FailingStrOfTheResultIsAnErrorAndNotLeftPending)
{
    auto error = Run(QStringLiteral("class R:\r\n    def __str__(self):\r\n        raise ValueError('no text')\r\n"
                                    "def func1(*a):\r\n    return R()"));
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("no text"))) << error->toStdString();
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'clean'")), std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("clean"));
}

TEST_F(RunControl, SigintBetweenRunsIsNotLeftForTheNextRun)
{
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'a'")), std::nullopt);
    std::raise(SIGINT);
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'b'")), std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("b"));
}

TEST_F(RunControl, PythonThreadsKeepRunningBetweenRuns)
{
    ASSERT_EQ(Run(QStringLiteral("import threading, time\r\nticks = [0]\r\ndef count():\r\n    while True:\r\n"
                                 "        ticks[0] += 1\r\n        time.sleep(0.005)\r\n"
                                 "threading.Thread(target=count, daemon=True).start()\r\n"
                                 "def func1(*a):\r\n    return str(ticks[0])")),
              std::nullopt);
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return str(ticks[0])")), std::nullopt);
    const int before = Result().toInt();
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return str(ticks[0])")), std::nullopt);
    EXPECT_GE(Result().toInt() - before, 10) << before << " then " << Result().toStdString();
}

TEST_F(RunControl, ScriptsSeeANormalModuleAndInterpreter)
{
    const QString dates = QStringLiteral(
        "import datetime, time, pickle\n"
        "d = datetime.datetime(2024, 2, 29, 13, 5, 9)\n"
        "print(d.strftime('%Y-%m-%d %H:%M:%S %A %j'))\n"
        "print(f'{d:%Y/%m/%d} {d:%I%p}')\n"
        "print(datetime.datetime.strptime('2023-12-31 23:59', '%Y-%m-%d %H:%M'))\n"
        "print(time.strftime('%Y', time.strptime('1999', '%Y')))\n"
        "print(pickle.loads(pickle.dumps(d)) == d)\n");
    QString script = dates;
    script.replace(u'\n', QStringLiteral("\r\n"));
    ASSERT_EQ(Run(script + QStringLiteral("def func1(*a):\r\n    return 'ok'")), std::nullopt);
    EXPECT_EQ(Output() + u'\n', SystemPython(dates));

    if (QFile::exists(QStringLiteral(QUORBEL_TEST_PYTHON))) {
        ASSERT_EQ(Run(QStringLiteral("import sys\r\ndef func1(*a):\r\n    return sys.executable")), std::nullopt);
        EXPECT_EQ(Result(), QStringLiteral(QUORBEL_TEST_PYTHON));
    }
}

TEST_F(RunControl, RedirectedStreamsFollowTheTextStreamProtocol)
{
    const QString script = QStringLiteral(
        "import sys, io, faulthandler\r\n"
        "out = []\r\n"
        "out.append(sys.stdout.write('ab') == 2)\r\n"
        "try:\r\n    sys.stdout.write(b'x')\r\n    out.append(False)\r\nexcept TypeError:\r\n    out.append(True)\r\n"
        "sys.stdout.writelines(['c', 'd\\n'])\r\n"
        "sys.stdout.flush()\r\n"
        "out.append(sys.stdout.encoding == 'utf-8' and sys.stdout.errors == 'strict')\r\n"
        "out.append(not sys.stdout.isatty() and sys.stdout.writable() and sys.stdin.readable())\r\n"
        "out.append((sys.stdin.name, sys.stdout.name, sys.stderr.name) == ('<stdin>', '<stdout>', '<stderr>'))\r\n"
        "out.append(sys.stdout.closed is False)\r\n"
        "try:\r\n    sys.stderr.fileno()\r\n    out.append(False)\r\nexcept io.UnsupportedOperation:\r\n    out.append(True)\r\n"
        "try:\r\n    faulthandler.enable()\r\n    out.append(False)\r\nexcept io.UnsupportedOperation:\r\n    out.append(True)\r\n"
        "def func1(*a):\r\n    return repr(out)");
    ScriptedDialogs dialogs;
    dialogs.AnswerInput(QStringLiteral("read line"));
    ASSERT_EQ(RunWith(dialogs, script + QStringLiteral("\r\nout.append(sys.stdin.readline() == 'read line')")),
              std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("[True, True, True, True, True, True, True, True, True]"));
    EXPECT_TRUE(Output().startsWith(QStringLiteral("abcd"))) << Output().toStdString();
}

TEST_F(RunControl, TracebacksShowTheScriptsLines)
{
    auto error = Run(QStringLiteral("def func1(*a):\r\n    return 1 / 0"));
    ASSERT_TRUE(error.has_value());
    const QString out = Output();
    EXPECT_TRUE(out.contains(QStringLiteral("File \"<string>\", line 2, in func1"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("    return 1 / 0"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("func1('gn','topic','desc',"))) << out.toStdString();

    // The same text is registered once; a script that emptied the line cache
    // in one run has its lines (and the call's) back at the next.
    const QString clears = QStringLiteral("import linecache\r\n"
                                          "runs_seen = globals().get('runs_seen', 0) + 1\r\n"
                                          "if runs_seen == 1:\r\n"
                                          "    linecache.clearcache()\r\n"
                                          "def func1(*a):\r\n"
                                          "    return 1 / (2 - runs_seen)");
    ASSERT_FALSE(Run(clears).has_value());
    ASSERT_TRUE(Run(clears).has_value());
    EXPECT_TRUE(Output().contains(QStringLiteral("    return 1 / (2 - runs_seen)"))) << Output().toStdString();
    EXPECT_TRUE(Output().contains(QStringLiteral("func1('gn','topic','desc',"))) << Output().toStdString();
}

TEST_F(RunControl, ClosingDuringARunStopsItThenAsksAboutChanges)
{
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(ModalResult::mrYes); // stop the run?
    dialogs.AnswerMessage(ModalResult::mrNo);  // save the changes?
    QTimer::singleShot(150, form, [&] { form->close(); });
    form->SetEditorText(QStringLiteral("while True:\r\n    pass"));
    form->ToolButton5->click();
    EXPECT_FALSE(form->IsRunning());
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("スクリプトを実行しています。中止して閉じますか？"));
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("ファイルが変更されています。保存しますか？"));
    EXPECT_FALSE(form->isVisible());
    form->show();
}

// ---------------------------------------------------------------- shutdown

namespace {

struct ChildResult {
    int exitCode = -1;
    bool finished = false;
    QString out;
    qint64 ms = 0;
};

// The child inherits this program's sanitizer options (leaks checked, the
// Python runtime's own suppressed); asanOptions are added to them. A leak
// found at the child's exit makes its exit code non-zero, with the report
// in its output.
ChildResult RunChild(const QString& test, const QByteArray& asanOptions = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORBEL_RUN_CHILD"), QStringLiteral("1"));
    if (!asanOptions.isEmpty()) {
        const QString inherited = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   (inherited.isEmpty() ? QString() : inherited + u':') + QString::fromLatin1(asanOptions));
    }
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    t.start();
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=RunControlChild.") + test});
    ChildResult r;
    r.finished = p.waitForFinished(60000);
    r.ms = t.elapsed();
    if (!r.finished)
        p.kill();
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

void RunInChildWindow(const QString& script)
{
    TempStore store;
    auto* form = new TSDIAppForm;
    ScriptedDialogs dialogs;
    form->SetEditorText(script);
    form->ToolButton5->click();
    EXPECT_TRUE(dialogs.messages.empty());
    QElapsedTimer t;
    t.start();
    delete form;
    std::printf("CLOSED-IN %lld\n", static_cast<long long>(t.elapsed()));
    std::fflush(stdout);
}

} // namespace

TEST(RunControlChild, RunThenClose)
{
    if (!InChild())
        GTEST_SKIP() << "runs in its own process";
    RunInChildWindow(QStringLiteral("import atexit\r\natexit.register(lambda: print('exit handler ran'))\r\n"
                                    "def func1(*a):\r\n    return 'x'"));
}

TEST(RunControlChild, RunLeavingAThreadThenClose)
{
    if (!InChild())
        GTEST_SKIP() << "runs in its own process";
    RunInChildWindow(QStringLiteral("import atexit, threading, time\r\n"
                                    "atexit.register(lambda: print('exit handler ran'))\r\n"
                                    "threading.Thread(target=lambda: time.sleep(600)).start()\r\n"
                                    "def func1(*a):\r\n    return 'x'"));
}

// Freed memory is filled with garbage: a finalisation that read the freed
// host module (as it did when the module went first) would crash here.
TEST(RunControlShutdown, FinalisesBeforeTheModulesItRefersToAreFreed)
{
    if (InChild())
        GTEST_SKIP();
    const ChildResult r = RunChild(QStringLiteral("RunThenClose"),
                                   "max_free_fill_size=1048576:free_fill_byte=190");
    ASSERT_TRUE(r.finished) << r.out.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("exit handler ran"))) << r.out.toStdString();
}

TEST(RunControlShutdown, AThreadLeftRunningDoesNotHoldTheProgram)
{
    if (InChild())
        GTEST_SKIP();
    const ChildResult r = RunChild(QStringLiteral("RunLeavingAThreadThenClose"));
    ASSERT_TRUE(r.finished) << r.out.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    const qsizetype at = r.out.indexOf(QStringLiteral("CLOSED-IN "));
    ASSERT_GE(at, 0) << r.out.toStdString();
    EXPECT_LT(r.out.mid(at + 10).section(u'\n', 0, 0).toInt(), 3000);
    EXPECT_TRUE(r.out.contains(QStringLiteral("exit handler ran"))) << r.out.toStdString();
}
