// The run button against the real runtime. The interpreter starts once per
// process, so every case here shares one window, as a user's session would.
#include "app/SDIMain.h"
#include "app/TestRun.h"
#include "pybridge/PythonEngine.h"

#include "PaneLines.h"
#include "ScriptedDialogs.h"
#include "TempStore.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextBlock>
#include <QToolButton>

#include <gtest/gtest.h>

#include <ctime>

using platform::ModalResult;

namespace {


class TestRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        store = new TempStore;
        form = new TSDIAppForm;
    }
    static void TearDownTestSuite()
    {
        delete form;
        delete store;
    }

    // Presses the run button with a script and number; returns the error
    // box's text, or nothing when the run ended normally.
    std::optional<QString> Run(const QString& script, int n = 1)
    {
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(ModalResult::mrOk);
        form->SetEditorText(script);
        form->SpinEdit1->setValue(n);
        form->ToolButton5->click();
        if (dialogs.messages.empty())
            return std::nullopt;
        EXPECT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].type, platform::MsgDlgType::mtError);
        return dialogs.messages[0].text;
    }

    static QString Result() { return form->Memo1->toPlainText(); }
    static QStringList Output() { return PaneLines(*form->mePythonOutput); }

    static TempStore* store;
    static TSDIAppForm* form;
};

TempStore* TestRun::store = nullptr;
TSDIAppForm* TestRun::form = nullptr;

} // namespace

TEST(TestRunTexts, SampleDataAndCall)
{
    EXPECT_EQ(SampleDataAssignment(),
              QStringLiteral("datas=[('Item1', 'Desc1', 'JSON1', '1', 'ETC1'),('Item2', 'Desc2', 'JSON2', '2', 'ETC2'),"
                             "('Item3', 'Desc3', 'JSON3', 3, 'ETC3'),('Item4', 'Desc4', 'JSON4', 4, 'ETC4'),"
                             "('Item5', 'Desc5', 'JSON5', 5, 'ETC5')]"));
    EXPECT_EQ(CallExpression(1, 1700000000), QStringLiteral("func1('gn','topic','desc',1700000000, datas)"));
    EXPECT_EQ(CallExpression(8, -5), QStringLiteral("func8('gn','topic','desc',-5, datas)"));
    EXPECT_EQ(RuntimeFolder(QStringLiteral("/opt/quorbel"), 11), QStringLiteral("/opt/quorbel/python3-linux-3.11/"));
    EXPECT_EQ(RuntimeFolder(QStringLiteral("/"), 13), QStringLiteral("//python3-linux-3.13/"));
}

// A runtime folder beside the program wins, newest first, and only where it
// exists; then the system's loader, newest first; an environment's version
// narrows both to that version.
TEST(TestRunTexts, RuntimeSearchOrder)
{
    QTemporaryDir exe;
    for (const char* folder : {"python3-linux-3.11", "python3-linux-3.13", "python3-linux-3.10"})
        ASSERT_TRUE(QDir(exe.path()).mkdir(QLatin1String(folder)));
    auto listed = [](const QList<pybridge::TLibraryCandidate>& found) {
        QStringList l;
        for (const pybridge::TLibraryCandidate& c : found)
            l << (c.Folder.isEmpty() ? QString() : QDir(c.Folder).dirName() + u'/') + c.FileName + u'=' + c.RegVersion;
        return l;
    };
    EXPECT_EQ(listed(RuntimeCandidates(exe.path())),
              (QStringList{QStringLiteral("python3-linux-3.13/libpython3.13.so.1.0=3.13"),
                           QStringLiteral("python3-linux-3.11/libpython3.11.so.1.0=3.11"),
                           QStringLiteral("libpython3.13.so.1.0=3.13"), QStringLiteral("libpython3.12.so.1.0=3.12"),
                           QStringLiteral("libpython3.11.so.1.0=3.11")}));
    EXPECT_EQ(listed(RuntimeCandidates(exe.path(), 12)), QStringList{QStringLiteral("libpython3.12.so.1.0=3.12")});
    EXPECT_EQ(listed(RuntimeCandidates(exe.path(), 11)),
              (QStringList{QStringLiteral("python3-linux-3.11/libpython3.11.so.1.0=3.11"),
                           QStringLiteral("libpython3.11.so.1.0=3.11")}));
    EXPECT_EQ(RuntimeCandidates(exe.path()).first().Folder, exe.path() + QStringLiteral("/python3-linux-3.13/"));
}

TEST_F(TestRun, DefaultScriptShowsItsTextResultAndPrintedRecords)
{
    const QString script = form->SysScript();
    ASSERT_EQ(Run(script), std::nullopt);
    EXPECT_TRUE(form->PythonEngine->IsHandleValid());
    const QString result = Result();
    EXPECT_TRUE(result.startsWith(QStringLiteral("{\"GroupName\":\"gn\",\"topic\":\"topic\",\"timestamp\":\"")))
        << result.toStdString();
    EXPECT_TRUE(result.endsWith(QStringLiteral("[\"item\":\"Item1\"\"item\":\"Item2\"\"item\":\"Item3\"\"item\":\"Item4\"\"item\":\"Item5\"]}")));
    const QStringList out = Output();
    ASSERT_EQ(out.size(), 6) << out.join('\n').toStdString();
    EXPECT_TRUE(out[0].contains(u':')); // the local date and time of the stamp
    EXPECT_EQ(out[1], QStringLiteral("('Item1', 'Desc1', 'JSON1', '1', 'ETC1')"));
    EXPECT_EQ(out[3], QStringLiteral("('Item3', 'Desc3', 'JSON3', 3, 'ETC3')"));
}

TEST_F(TestRun, JsonResultIsPrettyPrinted)
{
    ASSERT_EQ(Run(QStringLiteral("def func4(*a):\r\n    return '{\"a\":[1,true]}'"), 4), std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("{\n    \"a\": [\n        1,\n        true\n    ]\n}"));
}

TEST_F(TestRun, WrongArgumentCountShowsTypeErrorAndTraceback)
{
    auto error = Run(form->SysScript(), 2);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("TypeError"))) << error->toStdString();
    EXPECT_TRUE(Result().isEmpty());
    EXPECT_TRUE(Output().join('\n').contains(QStringLiteral("Traceback"))) << Output().join('\n').toStdString();
}

TEST_F(TestRun, WrongArgumentCountTellsHowTheFunctionIsCalled)
{
    auto error = Run(form->SysScript(), 3);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("TypeError"))) << error->toStdString();
    const QString note = form->statusBar()->currentMessage();
    EXPECT_TRUE(note.contains(QStringLiteral("func3(group_name, topic, descriription, time_stamp, datas)")))
        << note.toStdString();
    // Another error is no reason for the note.
    ASSERT_TRUE(Run(QStringLiteral("def func1(*a):\r\n    raise TypeError('own')")).has_value());
    EXPECT_FALSE(form->statusBar()->currentMessage().contains(QStringLiteral("group_name")));
}

TEST_F(TestRun, ModuleHasEmptyNameAndKeepsDefinitionsBetweenRuns)
{
    ASSERT_EQ(Run(QStringLiteral("def func3(*a):\r\n    return 'name=' + repr(__name__)\r\n"
                                 "if __name__ == '__main__':\r\n    raise SystemExit(9)"),
                  3),
              std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("name=''"));
    // func3 is no longer in the script but still defined.
    ASSERT_EQ(Run(QStringLiteral("x = 1"), 3), std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("name=''"));
}

TEST_F(TestRun, BadScriptsReportAndTheNextRunWorks)
{
    auto syntax = Run(QStringLiteral("def func1(:\r\n  pass"));
    ASSERT_TRUE(syntax.has_value());
    EXPECT_TRUE(syntax->contains(QStringLiteral("SyntaxError")) || syntax->contains(QStringLiteral("invalid syntax")))
        << syntax->toStdString();

    auto raised = Run(QStringLiteral("raise ValueError('boom')"));
    ASSERT_TRUE(raised.has_value());
    EXPECT_TRUE(raised->contains(QStringLiteral("boom")));

    auto exited = Run(QStringLiteral("import sys\r\nsys.exit(3)"));
    ASSERT_TRUE(exited.has_value());
    EXPECT_EQ(*exited, QStringLiteral("Unhandled SystemExit exception. Code: 3."));

    auto deep = Run(QStringLiteral("def f(n):\r\n    return f(n + 1)\r\nf(0)"));
    ASSERT_TRUE(deep.has_value());
    EXPECT_TRUE(deep->contains(QStringLiteral("RecursionError")) || deep->contains(QStringLiteral("recursion")))
        << deep->toStdString();

    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'fine'")), std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("fine"));
}

TEST_F(TestRun, LongOutputWithoutLineFeedStaysBounded)
{
    ASSERT_EQ(Run(QStringLiteral("print('x' * 1000000)\r\ndef func1(*a):\r\n    return 'ok'")), std::nullopt);
    const QStringList out = Output();
    EXPECT_LE(out.size(), 1000);
    EXPECT_GE(out.size(), 900);
    for (const QString& line : out)
        EXPECT_LE(line.size(), 257);
}

TEST_F(TestRun, InputComesFromTheInputBox)
{
    ScriptedDialogs dialogs;
    dialogs.AnswerInput(QStringLiteral("typed"));
    form->SetEditorText(QStringLiteral("answer = input()\r\ndef func1(*a):\r\n    return answer"));
    form->SpinEdit1->setValue(1);
    form->ToolButton5->click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Result(), QStringLiteral("typed"));
}

TEST_F(TestRun, JsonDumpsOfNestedDictIsPrettyPrinted)
{
    ASSERT_EQ(Run(QStringLiteral("import json\r\ndef func5(*a):\r\n"
                                 "    return json.dumps({'k': {'x': [1, 'y\u00e9']}, 'n': None})"),
                  5),
              std::nullopt);
    EXPECT_EQ(Result(), QStringLiteral("{\n    \"k\": {\n        \"x\": [\n            1,\n            \"y\u00e9\"\n"
                                       "        ]\n    },\n    \"n\": null\n}"));
}

TEST_F(TestRun, RuntimeLoadsOnceAndTextSettingsAreReset)
{
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'one'")), std::nullopt);
    const auto handle = form->PythonEngine->DLLHandle();
    ASSERT_TRUE(form->PythonEngine->IsHandleValid());
    EXPECT_TRUE(form->PythonEngine->DllName().isEmpty());
    EXPECT_TRUE(form->PythonEngine->ExecModule().isEmpty());
    ASSERT_EQ(Run(QStringLiteral("def func1(*a):\r\n    return 'two'")), std::nullopt);
    EXPECT_EQ(form->PythonEngine->DLLHandle(), handle);
    EXPECT_EQ(Result(), QStringLiteral("two"));
}

TEST_F(TestRun, TimeStampIsUniversalWhateverTheTimeZone)
{
    const QByteArray oldTz = qgetenv("TZ");
    QList<qint64> stamps;
    for (const char* tz : {"Asia/Tokyo", "America/New_York"}) {
        qputenv("TZ", tz);
        tzset();
        ASSERT_EQ(Run(QStringLiteral("def func1(g, t, d, ts, datas):\r\n    return str(ts)")), std::nullopt);
        stamps << Result().toLongLong();
    }
    if (oldTz.isEmpty())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    EXPECT_LE(qAbs(stamps[0] - stamps[1]), 1);
    EXPECT_LE(qAbs(stamps[1] - now), 2);
}

namespace {
class TFormWithoutRuntime : public TSDIAppForm {
protected:
    QList<pybridge::TLibraryCandidate> RuntimeSearch() const override
    {
        return {{QStringLiteral("/nonexistent/python3-linux-3.11/"), QStringLiteral("libpython3.11.so.1.0"),
                 QStringLiteral("3.11")},
                {QString(), QStringLiteral("libpython3.10.so.0.0"), QStringLiteral("3.10")}};
    }
};
} // namespace

// Without a runtime the run reports the load failure and the program, with
// its unsaved script, goes on; a later click tries again.
TEST_F(TestRun, MissingRuntimeIsReportedWithoutEndingTheProgram)
{
    TFormWithoutRuntime other;
    other.SetEditorText(QStringLiteral("unsaved work"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(ModalResult::mrOk);
        other.ToolButton5->click();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        // Every place tried is named, with the loader's reason.
        const QStringList lines = dialogs.messages[0].text.split(u'\n');
        ASSERT_EQ(lines.size(), 3) << dialogs.messages[0].text.toStdString();
        EXPECT_TRUE(lines[0].endsWith(QStringLiteral("Could not open Dll \"libpython3.10.so.0.0\"")));
        EXPECT_TRUE(lines[1].startsWith(QStringLiteral("/nonexistent/python3-linux-3.11/libpython3.11.so.1.0: ")));
        EXPECT_TRUE(lines[2].startsWith(QStringLiteral("libpython3.10.so.0.0: cannot open shared object file")))
            << lines[2].toStdString();
        EXPECT_FALSE(other.PythonEngine->IsHandleValid());
    }
    EXPECT_EQ(other.EditorText(), QStringLiteral("unsaved work"));
    EXPECT_TRUE(other.Memo1->toPlainText().isEmpty());
}
