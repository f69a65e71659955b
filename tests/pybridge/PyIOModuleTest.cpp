// The "pyio" module and the redirection of Python's standard streams. Each
// case needs an engine with an I/O component from its start, so each runs in
// a process of its own (FreshInterpreter.<name>, started by the Redirection
// cases below).
#include "PyCoreSupport.h"
#include "PaneLines.h"
#include "ScriptedDialogs.h"

#include "pybridge/PythonIO.h"
#include "pybridge/PythonModule.h"
#include "pybridge/PythonType.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTextBlock>

using namespace pybridge;

namespace {

#define HOST_CHILD_ONLY()                                                                           \
    if (!pycore::InChild())                                                                         \
    GTEST_SKIP() << "runs in its own process"

void Configure(TPythonEngine& e)
{
    e.SetUseLastKnownVersion(false);
    e.SetDllPath(pycore::LibPythonFolder());
    e.SetDllName(pycore::LibPythonName());
}

// Starts e with its streams going to io, and one client attached as the
// program has.
void StartRedirected(TPythonEngine& e, TComponent& io)
{
    Configure(e);
    e.SetIO(&io);
    auto* anchor = new TEngineClient(&e);
    anchor->SetEngine(&e);
    e.LoadDll();
}


// Lets the event loop deliver whatever is on its way to the pane.
void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QString Caught(TPythonEngine& e, const char* statement, const char* error)
{
    const QByteArray code = QByteArray("try:\n  ") + statement + "\n  r = 'no error'\nexcept " + error +
                            " as x:\n  r = str(x)\n";
    e.ExecString(code);
    return e.EvalStringAsStr("r");
}

class TThing : public TPyObject {
public:
    using TPyObject::TPyObject;
};

} // namespace

// ---------------------------------------------------------------- children

TEST(FreshInterpreter, PyIOPrintReachesTheIOComponentAsLines)
{
    HOST_CHILD_ONLY();
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    QStringList lines;
    io.OnSendUniData = [&](TComponent*, const QString& s) { lines << s; };
    TPythonEngine e;
    StartRedirected(e, io);
    ASSERT_TRUE(e.IORedirected());
    auto* pyio = dynamic_cast<TPythonModule*>(e.IOPythonModule());
    ASSERT_NE(pyio, nullptr);
    EXPECT_EQ(pyio->ModuleName(), QByteArray("pyio"));
    ASSERT_EQ(pyio->MethodCount(), 5);
    EXPECT_STREQ(pyio->Methods(4).ml_name, "GetTypesStats");
    EXPECT_STREQ(pyio->Methods(0).ml_doc, "write(string) -> None");

    e.ExecString("print('a')");
    EXPECT_EQ(lines, QStringList{QStringLiteral("a")});
    lines.clear();
    e.ExecString("print('x', end='')\nimport sys, pyio\nsys.stderr.write('y\\n')\npyio.write(12)\nprint()");
    EXPECT_EQ(lines, (QStringList{QStringLiteral("xy"), QStringLiteral("12")}));
    // The streams themselves take text only, as a text stream does.
    EXPECT_EQ(Caught(e, "sys.stdout.write(12)", "TypeError"), QStringLiteral("write() argument must be str, not int"));

    EXPECT_EQ(Caught(e, "import pyio; pyio.write()", "TypeError"),
              QStringLiteral("bad argument type for built-in operation"));
    EXPECT_EQ(Caught(e, "pyio.SetMaxLines('x')", "TypeError"),
              QStringLiteral("SetMaxLines() argument 1 must be int, not str"));
    EXPECT_EQ(Caught(e, "pyio.SetDelayWrites(1.5)", "TypeError"),
              QStringLiteral("SetDelayWrites() argument 1 must be int, not float"));
    EXPECT_TRUE(Caught(e, "pyio.SetMaxLines(1, 2)", "TypeError").startsWith(QLatin1String("SetMaxLines()")));
    e.ExecString("pyio.SetMaxLines(7)\npyio.SetDelayWrites(1)");
    EXPECT_EQ(io.MaxLines(), 7);
    EXPECT_TRUE(io.DelayWrites());
    e.ExecString("pyio.SetDelayWrites(0)");
    EXPECT_FALSE(io.DelayWrites());

    // With RedirectIO switched off "write" and "read" are inert.
    lines.clear();
    e.SetRedirectIO(false);
    e.ExecString("print('lost')");
    EXPECT_EQ(e.EvalStringAsStr("repr(pyio.read())"), QStringLiteral("None"));
    e.SetRedirectIO(true);
    EXPECT_TRUE(lines.isEmpty());

    // An input handler that leaves a Python error fails the read.
    io.OnReceiveUniData = [&](TComponent*, QString& data) {
        data = QStringLiteral("ignored");
        e.PyErr_SetString(*e.PyExc_KeyError, "no input today");
    };
    EXPECT_EQ(Caught(e, "input()", "KeyError"), QStringLiteral("'no input today'"));
    io.OnReceiveUniData = [&](TComponent*, QString& data) { data = QStringLiteral("from handler"); };
    EXPECT_EQ(e.EvalStringAsStr("input()"), QStringLiteral("from handler"));
}

TEST(FreshInterpreter, PyIOThreadsAndTheGUIComponent)
{
    HOST_CHILD_ONLY();
    QPlainTextEdit pane;
    TPythonGUIInputOutput io;
    io.SetOutput(&pane);
    TPythonEngine e;
    StartRedirected(e, io);

    e.ExecString("print('main')");
    Settle();
    EXPECT_EQ(PaneLines(pane), QStringList{QStringLiteral("main")});

    const char* fromThread = "import threading\n"
                             "t = threading.Thread(target=lambda: print('%s'))\n"
                             "t.start()\n"
                             "t.join()\n";
    // Another thread's line waits in the queue until the event loop drains
    // it, whether writes are delayed or not; the main thread's next write
    // lets it go first.
    e.ExecString(QByteArray(fromThread).replace("%s", "queued"));
    EXPECT_EQ(PaneLines(pane), QStringList{QStringLiteral("main")});
    EXPECT_EQ(io.QueuedLines(), QStringList{QStringLiteral("queued")});
    Settle();
    EXPECT_EQ(PaneLines(pane), (QStringList{QStringLiteral("main"), QStringLiteral("queued")}));
    e.ExecString("import pyio\npyio.SetDelayWrites(1)");
    e.ExecString(QByteArray(fromThread).replace("%s", "delayed") + "print('after')\n");
    Settle();
    EXPECT_EQ(PaneLines(pane), (QStringList{QStringLiteral("main"), QStringLiteral("queued"), QStringLiteral("delayed"),
                                            QStringLiteral("after")}));
}

TEST(FreshInterpreter, PyIOInputAsksTheInputBox)
{
    HOST_CHILD_ONLY();
    ScriptedDialogs dialogs;
    dialogs.AnswerInput(QStringLiteral("hello"));
    dialogs.AnswerInput(std::nullopt);
    QPlainTextEdit pane;
    TPythonGUIInputOutput io;
    io.SetOutput(&pane);
    TPythonEngine e;
    StartRedirected(e, io);
    e.ExecString("answer = input()");
    EXPECT_EQ(e.EvalStringAsStr("answer"), QStringLiteral("hello"));
    // A cancelled box gives an empty line, which input() takes as the end of the input.
    EXPECT_EQ(Caught(e, "input()", "EOFError"), QStringLiteral("EOF when reading a line"));
    ASSERT_EQ(dialogs.inputs.size(), 2u);
    EXPECT_EQ(dialogs.inputs[0].caption, QStringLiteral("Query from Python"));
    EXPECT_EQ(dialogs.inputs[0].prompt, QStringLiteral("Enter text"));
    EXPECT_TRUE(dialogs.inputs[0].value.isEmpty());
    EXPECT_TRUE(dialogs.AllAnswersUsed());
}

TEST(FreshInterpreter, PyIOStreamsRestoredAfterFinalizeAndRedirectedAgainOnRestart)
{
    HOST_CHILD_ONLY();
    TPythonInputOutput io;
    io.SetUnicodeIO(true);
    QStringList lines;
    io.OnSendUniData = [&](TComponent*, const QString& s) { lines << s; };
    TPythonEngine e;
    e.SetAutoFinalize(false); // keep the interpreter so the streams can be looked at
    StartRedirected(e, io);
    PPyObject before = e.PySys_GetObject("old_stdout");
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(e.EvalStringAsStr("type(__import__('sys').stdout).__name__"), QStringLiteral("_PaneOutput"));
    EXPECT_EQ(e.PySys_GetObject("__stdout__"), e.PySys_GetObject("stdout"));

    e.Finalize();
    EXPECT_FALSE(e.RedirectIO());
    EXPECT_EQ(e.PySys_GetObject("stdout"), before);
    EXPECT_EQ(e.PySys_GetObject("__stdout__"), before);
    EXPECT_EQ(e.PySys_GetObject("stderr"), e.PySys_GetObject("old_stderr"));
    EXPECT_EQ(e.PySys_GetObject("stdin"), e.PySys_GetObject("old_stdin"));
    auto* pyio = dynamic_cast<TPythonModule*>(e.IOPythonModule());
    ASSERT_NE(pyio, nullptr);
    EXPECT_FALSE(pyio->Initialized());

    // A later start redirects again, with a working "pyio".
    e.SetRedirectIO(true);
    e.Initialize();
    EXPECT_EQ(e.IOPythonModule(), pyio);
    EXPECT_EQ(pyio->MethodCount(), 5);
    e.ExecString("print('again')");
    EXPECT_EQ(lines, QStringList{QStringLiteral("again")});
}

TEST(FreshInterpreter, PyIOGetTypesStats)
{
    HOST_CHILD_ONLY();
    TPythonInputOutput io;
    TPythonEngine e;
    StartRedirected(e, io);
    e.ExecString("import pyio");
    EXPECT_EQ(e.EvalStringAsStr("pyio.GetTypesStats()"), QStringLiteral("[]"));

    auto* m = new TPythonModule(&e);
    m->SetEngine(&e);
    m->SetModuleName("stats_mod");
    m->Initialize();
    for (const char* name : {"Alpha", "Beta"}) {
        auto* t = new TPythonType(&e);
        t->SetEngine(&e);
        t->SetTypeName(name);
        t->SetPyObjectClass<TThing>();
        t->SetModule(m);
        t->Initialize();
    }
    e.ExecString("import stats_mod\na1 = stats_mod.Alpha()\na2 = stats_mod.Alpha()\ndel a1\n");
    EXPECT_EQ(e.EvalStringAsStr("pyio.GetTypesStats()"), QStringLiteral("[('Alpha', 1, 2, 1), ('Beta', 0, 0, 0)]"));
    EXPECT_EQ(e.EvalStringAsStr("pyio.GetTypesStats('Beta', 'Nope', 'Alpha')"),
              QStringLiteral("[('Beta', 0, 0, 0), ('Alpha', 1, 2, 1)]"));
    EXPECT_EQ(e.EvalStringAsStr("pyio.GetTypesStats('Nope')"), QStringLiteral("[]"));
    e.ExecString("del a2");
}

TEST(FreshInterpreter, HostTypeSurvivesARestartOfTheInterpreter)
{
    HOST_CHILD_ONLY();
    TPythonEngine e;
    Configure(e);
    auto* m = new TPythonModule(&e);
    m->SetEngine(&e);
    m->SetModuleName("restart_mod");
    auto* t = new TPythonType(&e);
    t->SetEngine(&e);
    t->SetTypeName("Phoenix");
    t->SetPyObjectClass<TThing>();
    t->SetModule(m);
    e.LoadDll();
    e.ExecString("import restart_mod\np = restart_mod.Phoenix()\nclass Sub(restart_mod.Phoenix): pass\ns = Sub()");
    EXPECT_EQ(t->InstanceCount(), 2);

    e.Finalize(); // the interpreter stops; its objects go with it
    EXPECT_FALSE(e.Initialized());
    EXPECT_EQ(t->InstanceCount(), 0);
    EXPECT_FALSE(t->Initialized());

    e.Initialize();
    ASSERT_TRUE(t->Initialized());
    e.ExecString("import restart_mod\nq = restart_mod.CreatePhoenix()\nclass Sub(restart_mod.Phoenix): pass\ns = Sub()");
    EXPECT_EQ(e.EvalStringAsStr("type(q).__name__ + type(s).__mro__[1].__name__"), QStringLiteral("PhoenixPhoenix"));
    EXPECT_EQ(t->InstanceCount(), 2);
    EXPECT_EQ(t->CreateHits(), 4);
}

TEST(FreshInterpreter, ModuleErrorsAfterARestartOfTheInterpreter)
{
    HOST_CHILD_ONLY();
    TPythonEngine e;
    Configure(e);
    auto* m = new TPythonModule(&e);
    m->SetEngine(&e);
    m->SetModuleName("restart_err_mod");
    TError& err = m->Errors().Add();
    err.SetName("Oops");
    err.SetErrorType(TErrorType::etClass);
    e.LoadDll();
    e.ExecString("import restart_err_mod\nassert issubclass(restart_err_mod.Oops, Exception)");
    e.Finalize();
    e.Initialize();
    e.ExecString("import gc\ngc.collect()\nimport restart_err_mod\n"
                 "try:\n  raise restart_err_mod.Oops('x')\nexcept Exception as x:\n  r = type(x).__name__ + str(isinstance(x, Exception))\n");
    EXPECT_EQ(e.EvalStringAsStr("r"), QStringLiteral("OopsTrue"));
    EXPECT_EQ(e.EvalStringAsStr("restart_err_mod.Oops.__mro__[1] is Exception"), QStringLiteral("True"));
}

// ---------------------------------------------------------------- parents

TEST(Redirection, EachCaseInAFreshInterpreter)
{
    if (pycore::InChild())
        GTEST_SKIP() << "parent only";
    for (const char* name : {"PyIOPrintReachesTheIOComponentAsLines", "PyIOThreadsAndTheGUIComponent",
                             "PyIOInputAsksTheInputBox", "PyIOStreamsRestoredAfterFinalizeAndRedirectedAgainOnRestart",
                             "PyIOGetTypesStats", "HostTypeSurvivesARestartOfTheInterpreter",
                             "ModuleErrorsAfterARestartOfTheInterpreter"}) {
        const pycore::ChildResult r = pycore::RunChild(QString::fromLatin1(name));
        EXPECT_EQ(r.exitCode, 0) << name << "\n" << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << name << "\n" << r.output.toStdString();
    }
}
