// Scripts run in a virtual environment the user chooses. The whole program
// runs under LC_ALL=C (set by the test's environment), where the runtime must
// still read file names as UTF-8, as python3 does. The interpreter starts
// once per process, so the cases share one window and run in order.
#include "app/PythonEnvironment.h"
#include "app/SDIMain.h"
#include "app/TestRun.h"
#include "platform/DynamicLibrary.h"
#include "pybridge/PythonEngine.h"

#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QAction>
#include <QToolButton>

#include <gtest/gtest.h>

using platform::ModalResult;

namespace {

const QString kVersion = QStringLiteral(QUORBEL_TEST_PYTHON_VERSION);

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A fresh environment of the tested version with one package installed in
// its site-packages (files and metadata, as an installer leaves them).
QString MakeEnvironment(const QString& folder)
{
    QProcess p;
    p.start(QStringLiteral(QUORBEL_TEST_PYTHON), {QStringLiteral("-E"), QStringLiteral("-m"), QStringLiteral("venv"),
                                                   QStringLiteral("--without-pip"), folder});
    EXPECT_TRUE(p.waitForFinished(60000)) << "venv did not finish";
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString site = QStringLiteral("%1/lib/python%2/site-packages/").arg(folder, kVersion);
    Write(site + QStringLiteral("quorbel_probe/__init__.py"), "ANSWER = 'from the environment'\n");
    Write(site + QStringLiteral("quorbel_probe-1.0.dist-info/METADATA"),
          "Metadata-Version: 2.1\nName: quorbel-probe\nVersion: 1.0\n");
    Write(site + QStringLiteral("quorbel_probe-1.0.dist-info/top_level.txt"), "quorbel_probe\n");
    return folder;
}

class PythonEnvironment : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        store = new TempStore;
        dir = new QTemporaryDir;
        environment = MakeEnvironment(dir->filePath(QStringLiteral("venv")));
        form = new TSDIAppForm;
    }
    static void TearDownTestSuite()
    {
        delete form;
        delete dir;
        delete store;
    }
    static std::optional<QString> Run(const QString& script)
    {
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(ModalResult::mrOk);
        form->SetEditorText(script);
        form->ToolButton5->click();
        if (dialogs.messages.empty())
            return std::nullopt;
        return dialogs.messages[0].text;
    }
    static QString Result() { return form->Memo1->toPlainText(); }

    static TempStore* store;
    static QTemporaryDir* dir;
    static QString environment;
    static TSDIAppForm* form;
};

TempStore* PythonEnvironment::store = nullptr;
QTemporaryDir* PythonEnvironment::dir = nullptr;
QString PythonEnvironment::environment;
TSDIAppForm* PythonEnvironment::form = nullptr;

// What makes a folder or a file unusable, each reported with what was found.
TEST_F(PythonEnvironment, ProblemsAreNamed)
{
    const QString base = dir->filePath(QStringLiteral("broken"));
    auto env = [&](const QString& name, const QByteArray& cfg, bool python) {
        const QString folder = base + u'/' + name;
        QDir().mkpath(folder + QStringLiteral("/bin"));
        if (!cfg.isNull())
            Write(folder + QStringLiteral("/pyvenv.cfg"), cfg);
        if (python)
            QFile::link(QStringLiteral(QUORBEL_TEST_PYTHON), folder + QStringLiteral("/bin/python3"));
        return folder;
    };
    // A supported version whose runtime this machine lacks, if there is one.
    QString absent;
    for (int minor = pybridge::OldestSupportedMinor; minor <= pybridge::NewestSupportedMinor; ++minor)
        if (!platform::SystemLibraryExists(RuntimeLibraryName(minor)))
            absent = QStringLiteral("3.%1.0").arg(minor);

    struct Case {
        QString path;
        QString problem; // empty: usable
    };
    const QList<Case> cases = {
        {environment, {}},
        {environment + QStringLiteral("/bin/python"), {}},
        {environment + u'/', {}},
        {env(QStringLiteral("plain"), QByteArray(), true), QStringLiteral("は仮想環境ではありません")},
        {QStringLiteral("/nonexistent/venv"), QStringLiteral("は仮想環境ではありません")},
        {QString(), QStringLiteral("は仮想環境ではありません")},
        {env(QStringLiteral("noversion"), "home = /usr/bin\n", true), QStringLiteral("Python のバージョンがありません")},
        {env(QStringLiteral("old"), "home = /usr/bin\nversion = 3.10.12\n", true),
         QStringLiteral("は Python 3.10.12 です。使える Python は 3.11 から 3.13 までです")},
        {env(QStringLiteral("new"), "version_info = 3.14.0.final.0\n", true), QStringLiteral("は Python 3.14.0.final.0 です")},
        {env(QStringLiteral("nopython"), "version = " + kVersion.toLatin1() + ".1\n", false),
         QStringLiteral("に python がありません")},
    };
    QList<Case> all = cases;
    if (!absent.isEmpty())
        all.append({env(QStringLiteral("absent"), "version = " + absent.toLatin1() + "\n", true),
                    QStringLiteral("その実行時ライブラリ libpython%1.so.1.0 が見つかりません").arg(absent.left(4))});
    for (const Case& c : all) {
        SCOPED_TRACE(c.path.toStdString());
        const TEnvironmentCheck check = CheckPythonEnvironment(c.path, QStringLiteral("/nonexistent"));
        if (c.problem.isEmpty()) {
            ASSERT_TRUE(check.Environment) << check.Problem.toStdString();
            EXPECT_EQ(check.Environment->Folder, environment);
            EXPECT_EQ(QStringLiteral("3.%1").arg(check.Environment->Minor), kVersion);
            EXPECT_TRUE(check.Environment->PythonExe.startsWith(environment + QStringLiteral("/bin/python")));
        } else {
            EXPECT_FALSE(check.Environment);
            EXPECT_TRUE(check.Problem.contains(c.problem)) << check.Problem.toStdString();
        }
    }
}

// The chosen environment's packages import, its interpreter is
// sys.executable, the system's packages stay outside, and file names decode
// as UTF-8 although the locale is C. A later bad choice keeps this one.
TEST_F(PythonEnvironment, RunsInTheChosenEnvironment)
{
    {
        // Chosen from the File menu by its interpreter; kept as its folder.
        ScriptedDialogs dialogs;
        dialogs.AnswerInput(environment + QStringLiteral("/bin/python"));
        form->FilePython1->trigger();
        ASSERT_TRUE(form->PythonEnvironment());
        EXPECT_EQ(form->PythonEnvironment()->Folder, environment);
        EXPECT_TRUE(dialogs.messages.empty());
    }
    EXPECT_EQ(form->lblPython->text(), QStringLiteral("Python: 仮想環境 %1").arg(environment));
    const QString named = dir->filePath(QStringLiteral("データ"));
    QDir().mkpath(named);
    Write(named + QStringLiteral("/名前.txt"), "x");
    const auto error = Run(QStringLiteral(
        "import sys, os, quorbel_probe, importlib.metadata\n"
        "def func1(gn, topic, desc, ts, datas):\n"
        "    return '|'.join([quorbel_probe.ANSWER, importlib.metadata.version('quorbel-probe'),\n"
        "        sys.executable, sys.prefix, str(sys.flags.utf8_mode), sys.getfilesystemencoding(),\n"
        "        ','.join(os.listdir(%1)),\n"
        "        str(any(p.endswith(('dist-packages', 'site-packages')) and not p.startswith(sys.prefix) for p in sys.path))])\n")
                                     .arg(QStringLiteral("'%1'").arg(named)));
    ASSERT_FALSE(error) << error->toStdString();
    const QStringList parts = Result().split(u'|');
    ASSERT_EQ(parts.size(), 8) << Result().toStdString();
    EXPECT_EQ(parts[0], QStringLiteral("from the environment"));
    EXPECT_EQ(parts[1], QStringLiteral("1.0"));
    EXPECT_TRUE(parts[2].startsWith(environment + QStringLiteral("/bin/python"))) << parts[2].toStdString();
    EXPECT_EQ(parts[3], environment);
    EXPECT_EQ(parts[4], QStringLiteral("1"));
    EXPECT_EQ(parts[5], QStringLiteral("utf-8"));
    EXPECT_EQ(parts[6], QStringLiteral("名前.txt"));
    EXPECT_EQ(parts[7], QStringLiteral("False")) << "system packages are visible";
    EXPECT_TRUE(form->lblPython->text().startsWith(QStringLiteral("Python %1.").arg(kVersion)));
    EXPECT_TRUE(form->lblPython->text().endsWith(QStringLiteral("（仮想環境 %1）").arg(environment)));
    EXPECT_EQ(form->PythonEngine->RuntimeVersion().left(kVersion.size()), kVersion);

    // Stored with the settings, and a bad choice later changes nothing.
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\Quorbel\\Python")));
    EXPECT_EQ(reg.ReadString(QStringLiteral("Environment")), environment);
    {
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(ModalResult::mrOk);
        EXPECT_FALSE(form->UsePythonEnvironment(QStringLiteral("/nonexistent/venv"), true));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("/nonexistent/venv")));
    }
    ASSERT_TRUE(form->PythonEnvironment());
    EXPECT_EQ(form->PythonEnvironment()->Folder, environment);
    EXPECT_EQ(reg.ReadString(QStringLiteral("Environment")), environment);
}

} // namespace
