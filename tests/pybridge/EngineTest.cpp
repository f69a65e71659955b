// The engine's life in a running interpreter (fresh-start cases: FreshInterpreterTest).
#include "PyCoreSupport.h"

#include "ScriptedDialogs.h"

#include "pybridge/PythonEngine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace pybridge;

namespace {

using pycore::MessageOf;

} // namespace

TEST(Engine, IsTheCurrentEngineOnceStarted)
{
    TPythonEngine& e = pycore::Engine();
    EXPECT_TRUE(e.Initialized());
    EXPECT_FALSE(e.Finalizing());
    EXPECT_EQ(ActiveEngine(), &e);
    EXPECT_EQ(&CurrentEngine(), &e);
    EXPECT_TRUE(EngineReady());
    EXPECT_NE(e.ThreadState(), nullptr);
    EXPECT_EQ(e.ExecModule(), QByteArray("__main__"));
    EXPECT_FALSE(e.IORedirected()); // RedirectIO is on but no IO is set
}

TEST(Engine, SysArgvStartsWithTheEmptyText)
{
    TPythonEngine& e = pycore::Engine();
    PPyObject argv = e.PySys_GetObject("argv");
    QStringList got;
    e.PyListToStrings(argv, got);
    QStringList expected = QCoreApplication::arguments();
    ASSERT_FALSE(expected.isEmpty());
    expected[0] = QString();
    EXPECT_EQ(got, expected);
}

TEST(Engine, FlagsCannotChangeAfterStart)
{
    TPythonEngine& e = pycore::Engine();
    const TPythonFlags flags = e.PyFlags();
    EXPECT_NO_THROW(e.SetPyFlags(flags));
    EXPECT_EQ(MessageOf([&] { e.SetPyFlags(flags | pfVerbose); }),
              QStringLiteral("You can't modify Python flags after it has been initialized"));
    EXPECT_EQ(e.PyFlags(), flags);
}

TEST(Engine, GlobalAndLocalVarsTakeOnlyDictionaries)
{
    TPythonEngine& e = pycore::Engine();
    const TPyRef list = TPyRef::Steal(e, e.PyList_New(0));
    EXPECT_EQ(MessageOf([&] { e.SetGlobalVars(list.Get()); }),
              QStringLiteral("You must set a Python dictionary in the GlobalVars property"));
    EXPECT_EQ(e.GlobalVars(), nullptr);
    EXPECT_EQ(MessageOf([&] { e.SetLocalVars(list.Get()); }),
              QStringLiteral("You must set a Python dictionary in the LocalVars property"));
    EXPECT_EQ(e.LocalVars(), nullptr);

    TPyRef dict = TPyRef::Steal(e, e.PyDict_New());
    e.PyDict_SetItemString(dict.Get(), "engine_test_in_globals", TPyRef::Steal(e, e.PyLong_FromLong(7)).Get());
    e.SetGlobalVars(dict.Get());
    EXPECT_EQ(dict->ob_refcnt, 2);
    // Names are looked up in the module's dictionary, then in the given globals.
    EXPECT_EQ(e.EvalStringAsStr("engine_test_in_globals * 6"), QStringLiteral("42"));
    e.SetGlobalVars(nullptr);
    EXPECT_EQ(dict->ob_refcnt, 1);
    dict.Reset();
    EXPECT_THROW(e.EvalString("engine_test_in_globals"), EPyNameError);
}

TEST(Engine, ASecondEngineIsRefusedAndLeavesTheFirstActive)
{
    TPythonEngine& first = pycore::Engine();
    {
        ScriptedDialogs dialogs;
        TPythonEngine second;
        second.SetUseLastKnownVersion(false);
        second.SetDllPath(pycore::LibPythonFolder());
        second.SetDllName(pycore::LibPythonName());
        EXPECT_EQ(MessageOf([&] { second.LoadDll(); }),
                  QStringLiteral("There is already one instance of TPythonEngine running"));
        EXPECT_FALSE(second.Initialized());
        EXPECT_EQ(MessageOf([&] { second.ExecString("x = 1"); }), QStringLiteral("Python is not properly initialized"));
    }
    EXPECT_EQ(ActiveEngine(), &first);
    EXPECT_EQ(first.EvalStringAsStr("6 * 7"), QStringLiteral("42"));
}

TEST(Engine, LookupsByName)
{
    TPythonEngine& e = pycore::Engine();
    EXPECT_NE(e.FindModule("sys"), nullptr);
    EXPECT_EQ(e.FindModule("no_such_module_here"), nullptr);
    EXPECT_TRUE(e.FindFunction("builtins", "len"));
    EXPECT_FALSE(e.FindFunction("sys", "no_such_function"));
    EXPECT_EQ(e.PyErr_Occurred(), nullptr);
    EXPECT_FALSE(e.FindFunction("sys", "path")); // not a function

    EXPECT_EQ(MessageOf([&] { e.TypeByName("Missing"); }), QStringLiteral("Could not find type: Missing"));
    EXPECT_EQ(MessageOf([&] { e.ModuleByName("missing"); }), QStringLiteral("Could not find module: missing"));
    EXPECT_EQ(MessageOf([&] { e.MethodsByName(QStringLiteral("Methods1")); }),
              QStringLiteral("Could not find component: Methods1"));
    EXPECT_EQ(e.FindPythonType("Missing"), nullptr);
}

TEST(Engine, ClientsAreListedAndForgottenWhenDestroyed)
{
    TPythonEngine& e = pycore::Engine();
    const int before = e.ClientCount();
    {
        TEngineClient client;
        client.SetName(QStringLiteral("Client1"));
        client.SetEngine(&e);
        EXPECT_EQ(e.ClientCount(), before + 1);
        EXPECT_EQ(e.FindClient(QStringLiteral("Client1")), &client);
        EXPECT_EQ(e.FindClient(QStringLiteral("client1")), nullptr);
        client.Initialize();
        EXPECT_TRUE(client.Initialized());
        EXPECT_NO_THROW(client.CheckEngine());
    }
    EXPECT_EQ(e.ClientCount(), before);
    EXPECT_TRUE(e.Initialized());

    TEngineClient orphan;
    orphan.SetName(QStringLiteral("Orphan"));
    EXPECT_EQ(MessageOf([&] { orphan.CheckEngine(); }), QStringLiteral("No Engine defined for component \"Orphan\""));
}

TEST(Engine, DateTimeTypesAreFound)
{
    TPythonEngine& e = pycore::Engine();
    EXPECT_NE(TPythonEngineTestSeam::TimeStruct(e), nullptr);
    EXPECT_NE(TPythonEngineTestSeam::DateTimeType(e), nullptr);
    EXPECT_EQ(TPythonEngineTestSeam::TimeTZType(e), nullptr);
    EXPECT_EQ(TPythonEngineTestSeam::DateTimeTZType(e), nullptr);
    e.ExecString("import datetime, time\nclass MyDate(datetime.date): pass");
    const TPyRef dtRef = e.EvalString("datetime.datetime(2024, 5, 6, 7, 8, 9)");
    const TPyRef subRef = e.EvalString("MyDate(2024, 1, 2)");
    const TPyRef stRef = e.EvalString("time.gmtime(0)");
    PPyObject dt = dtRef.Get(), sub = subRef.Get(), st = stRef.Get();
    EXPECT_TRUE(e.PyDateTime_Check(dt));
    EXPECT_TRUE(e.PyDateTime_CheckExact(dt));
    EXPECT_TRUE(e.PyDate_Check(dt)); // datetime derives from date
    EXPECT_FALSE(e.PyDate_CheckExact(dt));
    EXPECT_TRUE(e.PyDate_Check(sub));
    EXPECT_FALSE(e.PyDate_CheckExact(sub));
    EXPECT_TRUE(e.PyTimeStruct_Check(st));
    EXPECT_FALSE(e.PyTime_Check(dt));
    EXPECT_FALSE(e.PyDelta_Check(nullptr));
}

TEST(Engine, IOIsForgottenWhenItsComponentGoes)
{
    TPythonEngine& e = pycore::Engine();
    auto* io = new TComponent;
    e.SetIO(io);
    EXPECT_EQ(e.IO(), io);
    delete io;
    EXPECT_EQ(e.IO(), nullptr);
}

TEST(Engine, ExecFileRunsAFileLineByLine)
{
    TPythonEngine& e = pycore::Engine();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("script.py"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# -*- coding: utf-8 -*-\r\nfile_value = '\xe6\x97\xa5'\r\nfile_len = len(file_value)\r\n");
    f.close();
    const TPyRef globals = TPyRef::Steal(e, e.PyDict_New());
    e.ExecFile(path, globals.Get(), globals.Get());
    EXPECT_EQ(e.PyObjectAsString(e.PyDict_GetItemString(globals.Get(), "file_value")), QStringLiteral("日"));
    EXPECT_EQ(e.PyLong_AsLong(e.PyDict_GetItemString(globals.Get(), "file_len")), 1);
    EXPECT_THROW(e.ExecFile(dir.filePath(QStringLiteral("missing.py"))), platform::Exception);
}
