#pragma once
// The real program (its own start function, window and event loop) in a
// child process of a test program, driven by a scenario named in the
// environment; and the parent's side: start, wait, signal, kill.
//
// A test program that uses it defines main() as
//   return ChildWorkbenchMain(argc, argv, scenarios);
// which runs a scenario in the child and the GoogleTest cases otherwise.
#include "app/RecoveryJournal.h"
#include "app/SDIMain.h"
#include "app/Startup.h"
#include "platform/ExclusiveFile.h"

#include "FileBytes.h"
#include "ScriptedDialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <functional>
#include <map>

#include <csignal>

// --- child side -------------------------------------------------------------

using TScenario = std::function<void(TSDIAppForm& form)>;

inline QString ChildEnv(const char* name) { return qEnvironmentVariable(name); }

// Where Tell writes: the standard output the child was started with (the
// workbench captures descriptor 1 into its output pane).
inline FILE*& TellStream()
{
    static FILE* stream = nullptr;
    return stream;
}

// Tells the parent something (one line on standard output).
inline void Tell(const QString& line)
{
    FILE* out = TellStream() ? TellStream() : stdout;
    std::fprintf(out, "%s\n", line.toUtf8().constData());
    std::fflush(out);
}

// The text a child puts in its editor: a UTF-8 file named by QUORBEL_CHILD_TEXT.
inline QString ChildText() { return QString::fromUtf8(ReadBytes(ChildEnv("QUORBEL_CHILD_TEXT"))); }

// Calls done() once the window's journal is on disk (at most 10 s).
inline void WhenJournaled(TSDIAppForm& form, std::function<void()> done)
{
    auto* poll = new QTimer(&form);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, &form, [&form, poll, started, done] {
        if (!form.Journal().OnDisk() && started->elapsed() < 10000)
            return;
        poll->deleteLater();
        done();
    });
    poll->start(50);
}

// The answer a child gives every question: QUORBEL_CHILD_ANSWER yes|no|cancel,
// or "wait": the box stays open (its loop turning) until something ends it.
inline platform::ModalResult ChildAnswer()
{
    const QString a = ChildEnv("QUORBEL_CHILD_ANSWER");
    if (a == QLatin1String("yes"))
        return platform::ModalResult::mrYes;
    if (a == QLatin1String("no"))
        return platform::ModalResult::mrNo;
    return platform::ModalResult::mrCancel;
}

// Answers every question the same way and every file dialog with
// QUORBEL_CHILD_SAVE_AS (or cancels), recording the questions.
class ChildDialogs : public platform::Dialogs {
public:
    ChildDialogs() : FPrevious(platform::SetDialogs(this)) {}
    ~ChildDialogs() override { platform::SetDialogs(FPrevious); }
    platform::ModalResult MessageBox(const platform::MessageRequest& r) override
    {
        Tell(QStringLiteral("BOX ") + QString(r.text).replace(u'\n', u' '));
        if (ChildEnv("QUORBEL_CHILD_ANSWER") == QLatin1String("wait")) {
            QEventLoop open;
            QTimer::singleShot(30000, &open, &QEventLoop::quit);
            open.exec();
        }
        return ChildAnswer();
    }
    std::optional<QString> FileDialog(const platform::FileDialogRequest&) override
    {
        const QString to = ChildEnv("QUORBEL_CHILD_SAVE_AS");
        return to.isEmpty() ? std::nullopt : std::optional<QString>(to);
    }
    std::optional<QString> InputBox(const platform::InputRequest&) override { return std::nullopt; }

private:
    platform::Dialogs* FPrevious;
};

inline int ChildWorkbenchMain(int argc, char** argv, const std::map<QString, TScenario>& scenarios)
{
    const QString name = ChildEnv("QUORBEL_CHILD");
    if (name.isEmpty()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        ::testing::InitGoogleMock(&argc, argv);
        return RUN_ALL_TESTS();
    }
    const auto scenario = scenarios.find(name);
    if (scenario == scenarios.end())
        return 90;
    ChildDialogs dialogs;
    TellStream() = fdopen(dup(1), "w");
    char* childArgv[] = {argv[0], nullptr};
    int childArgc = 1;
    return RunWorkbench(childArgc, childArgv, [&](TSDIAppForm& form) {
        QTimer::singleShot(0, &form, [&form, run = scenario->second] { run(form); });
    });
}

// --- parent side ------------------------------------------------------------

// One child program over a settings and state folder of its own.
class ChildWorkbench {
public:
    explicit ChildWorkbench(const QString& home) : FHome(home) {}
    ~ChildWorkbench()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(10000);
        }
    }

    void Start(const QString& scenario, const QMap<QString, QString>& env = {})
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QUORBEL_CHILD"), scenario);
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome + QStringLiteral("/config"));
        e.insert(QStringLiteral("XDG_CONFIG_DIRS"), FHome + QStringLiteral("/machine"));
        e.insert(QStringLiteral("XDG_STATE_HOME"), FHome + QStringLiteral("/state"));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Leaks are checked at a child's normal exit, with this program's
        // suppressions (a killed child never gets to the check); the crash
        // scenarios end by their own signal rather than the sanitizer's report.
        e.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=1:abort_on_error=0:handle_segv=0"));
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        FProcess.setProcessEnvironment(e);
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FOut.clear();
        FProcess.start(QCoreApplication::applicationFilePath(), {});
        ASSERT_TRUE(FProcess.waitForStarted(10000));
    }

    // Waits until the child told a line that starts with prefix; returns it.
    QString WaitFor(const QString& prefix, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            for (const QString& line : FOut.split(u'\n'))
                if (line.startsWith(prefix))
                    return line;
            if (FProcess.state() == QProcess::NotRunning)
                break;
            FProcess.waitForReadyRead(100);
            FOut += QString::fromUtf8(FProcess.readAll());
        }
        return {};
    }

    // Waits until this child's lock file says that a function runs.
    bool WaitForRun(int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && FProcess.state() == QProcess::Running) {
            for (const QFileInfo& f : QDir(RecoveryDir()).entryInfoList({QStringLiteral("*.lock")}, QDir::Files))
                if (ReadBytes(f.absoluteFilePath()).startsWith("run: "))
                    return true;
            QThread::msleep(20);
        }
        return false;
    }

    void Signal(int signo) { ::kill(pid_t(FProcess.processId()), signo); }

    // Waits for the end; false when it did not come.
    bool Finish(int ms = 60000)
    {
        const bool done = FProcess.waitForFinished(ms);
        FOut += QString::fromUtf8(FProcess.readAll());
        return done;
    }
    int ExitCode() const { return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1; }
    const QString& Output() const { return FOut; }

    QString RecoveryDir() const { return FHome + QStringLiteral("/state/quorbel/recovery"); }
    QStringList Journals() const
    {
        return QDir(RecoveryDir()).entryList({QStringLiteral("*.journal")}, QDir::Files);
    }
    // The one journal left in the folder, read back.
    TJournalRecord OnlyJournal() const
    {
        const QStringList j = Journals();
        EXPECT_EQ(j.size(), 1) << j.join(u' ').toStdString();
        if (j.isEmpty())
            return {};
        return DecodeJournal(ReadBytes(QDir(RecoveryDir()).filePath(j.first())));
    }

private:
    QString FHome;
    QProcess FProcess;
    QString FOut;
};
