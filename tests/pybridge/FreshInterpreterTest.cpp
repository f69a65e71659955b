// Cases that need an interpreter (or a failure) of their own: each runs as
// FreshInterpreter.<name> in a new process of this program.
#include "PyCoreSupport.h"

#include "TempStore.h"

#include "platform/Dialogs.h"
#include "platform/Registry.h"
#include "pybridge/PythonEngine.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using namespace pybridge;

namespace {

// Prints every message box at once: the process may end inside the loader.
class PrintingDialogs : public platform::Dialogs {
public:
    PrintingDialogs() : FPrevious(platform::SetDialogs(this)) {}
    ~PrintingDialogs() override { platform::SetDialogs(FPrevious); }
    platform::ModalResult MessageBox(const platform::MessageRequest& r) override
    {
        std::printf("BOX|%s|%d|%d|%s\n", r.caption.toUtf8().constData(), static_cast<int>(r.type),
                    r.applicationModal ? 1 : 0, QString(r.text).replace(u'\n', QLatin1String("\\n")).toUtf8().constData());
        std::fflush(stdout);
        return platform::ModalResult::mrOk;
    }
    std::optional<QString> FileDialog(const platform::FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> InputBox(const platform::InputRequest&) override { return std::nullopt; }

private:
    platform::Dialogs* FPrevious;
};

#define CHILD_ONLY()                                                                                \
    if (!pycore::InChild())                                                                         \
    GTEST_SKIP() << "runs in its own process"

void ConfigureSystemRuntime(TPythonEngine& e)
{
    e.SetUseLastKnownVersion(false);
    e.SetDllPath(pycore::LibPythonFolder());
    e.SetDllName(pycore::LibPythonName());
}

const QString kErrorBox = QStringLiteral("BOX|Error|%1|1|").arg(static_cast<int>(platform::MsgDlgType::mtError));

} // namespace

// ---------------------------------------------------------------- children

TEST(FreshInterpreter, EngineLoadFailure)
{
    CHILD_ONLY();
    PrintingDialogs dialogs;
    TPythonEngine e;
    e.SetUseLastKnownVersion(false);
    e.SetDllPath(QStringLiteral("/nonexistent/python3-linux-3.11"));
    e.SetDllName(QStringLiteral("libpython3.11.so.1.0"));
    e.LoadDll();
    std::printf("STILL-RUNNING\n");
}

TEST(FreshInterpreter, DllLoadFailure)
{
    CHILD_ONLY();
    PrintingDialogs dialogs;
    TDynamicDll dll;
    dll.SetDllPath(QStringLiteral("/nonexistent"));
    dll.OpenDll(QStringLiteral("Python311.dll"));
    std::printf("STILL-RUNNING\n");
}

TEST(FreshInterpreter, BindingFailure)
{
    CHILD_ONLY();
    PrintingDialogs dialogs;
    TPythonEngine e;
    e.SetUseLastKnownVersion(false);
    e.SetDllPath(QStringLiteral(PYCORE_STANDIN_MISSING_DIR));
    e.SetDllName(QStringLiteral("libpython3.11.so.1.0"));
    e.LoadDll();
    std::printf("STILL-RUNNING\n");
}

// The known-versions search finds a runtime whose file is named for another
// version (a link pointing at an upgraded library): the runtime's own version
// decides, with its reference rules, and the disagreement is reported.
TEST(FreshInterpreter, KnownVersionsSearch)
{
    CHILD_ONLY();
    const QString actual = pycore::TestedVersion();
    const QString named = actual == QLatin1String("3.12") ? QStringLiteral("3.13") : QStringLiteral("3.12");
    const QString name = QStringLiteral("libpython%1.so.1.0").arg(named);
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(pycore::LibPython(), dir.filePath(name)));
    TPythonEngine e;
    e.SetDllPath(dir.path());
    e.SetDllName(QStringLiteral("ignored.so"));
    ASSERT_TRUE(e.UseLastKnownVersion());
    e.LoadDll();
    EXPECT_TRUE(e.Initialized());
    EXPECT_EQ(e.DllName(), name);
    EXPECT_EQ(e.RegVersion(), actual);
    EXPECT_EQ(e.APIVersion(), 1013);
    EXPECT_EQ(QStringLiteral("%1.%2").arg(e.MajorVersion()).arg(e.MinorVersion()), actual);
    EXPECT_TRUE(e.RuntimeVersion().startsWith(actual + u'.'));
    EXPECT_TRUE(e.VersionNote().contains(QStringLiteral("named for Python %1").arg(named))) << e.VersionNote().toStdString();
    // None is immortal from 3.12 on; counting it by hand would be a fault there.
    EXPECT_EQ(e.IsImmortal(e.Py_None), e.MinorVersion() >= 12);
}

TEST(FreshInterpreter, FlagsProgramNameInitScriptAndClients)
{
    CHILD_ONLY();
    TPythonEngine e;
    ConfigureSystemRuntime(e);
    e.SetPyFlags(pfNoSite | pfOptimize | pfIgnoreEnvironmentFlag);
    e.SetProgramName(QStringLiteral("quorbel-test"));
    QStringList order;
    TEngineClient client;
    client.SetEngine(&e);
    client.OnInitialization = [&](TComponent*) {
        order << QStringLiteral("client");
        EXPECT_EQ(e.FindModule("initscript_probe"), nullptr);
    };
    e.SetInitScript({QStringLiteral("import sys"), QStringLiteral("initscript_value = 2 * 21")});
    e.OnAfterInit = [&](TComponent*) {
        order << QStringLiteral("after");
        EXPECT_EQ(e.EvalStringAsStr("initscript_value"), QStringLiteral("42"));
    };
    e.LoadDll();
    EXPECT_EQ(order, (QStringList{QStringLiteral("client"), QStringLiteral("after")}));
    EXPECT_TRUE(client.Initialized());
    EXPECT_EQ(e.EvalStringAsStr("sys.flags.no_site"), QStringLiteral("1"));
    EXPECT_EQ(e.EvalStringAsStr("sys.flags.optimize"), QStringLiteral("1"));
    EXPECT_EQ(e.EvalStringAsStr("sys.flags.ignore_environment"), QStringLiteral("1"));
    EXPECT_EQ(e.EvalStringAsStr("sys.flags.verbose"), QStringLiteral("0"));
    EXPECT_EQ(e.EvalStringAsStr("'site' in sys.modules"), QStringLiteral("False"));
    EXPECT_EQ(QString::fromWCharArray(e.Py_GetProgramName()), QStringLiteral("quorbel-test"));
    EXPECT_THROW(e.SetPyFlags(pfNoSite), platform::Exception);

    // The last client leaving a running engine finalises it.
    client.SetEngine(nullptr);
    EXPECT_FALSE(e.Initialized());
    EXPECT_EQ(ActiveEngine(), nullptr);
}

TEST(FreshInterpreter, FinalizeStopsTheInterpreter)
{
    CHILD_ONLY();
    TPythonEngine e;
    ConfigureSystemRuntime(e);
    e.LoadDll();
    ASSERT_TRUE(e.Initialized());
    e.Finalize();
    EXPECT_FALSE(e.Initialized());
    EXPECT_FALSE(e.Finalizing());
    EXPECT_EQ(e.Py_IsInitialized(), 0);
    EXPECT_EQ(ActiveEngine(), nullptr);
    EXPECT_EQ(TPythonEngineTestSeam::DateType(e), nullptr);
    EXPECT_FALSE(EngineReady());
    try {
        CurrentEngine();
        ADD_FAILURE();
    } catch (const platform::Exception& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("No Python engine was created"));
    }
    EXPECT_THROW(e.ExecString("x = 1"), platform::Exception);
}

TEST(FreshInterpreter, FinalizeWithoutAutoFinalizeLetsASecondEngineIn)
{
    CHILD_ONLY();
    TPythonEngine first;
    ConfigureSystemRuntime(first);
    first.SetAutoFinalize(false);
    first.LoadDll();
    first.ExecString("shared_value = 'from the first engine'");
    first.Finalize();
    EXPECT_TRUE(first.Initialized());
    EXPECT_EQ(first.Py_IsInitialized(), 1);
    EXPECT_EQ(ActiveEngine(), nullptr);
    try {
        CurrentEngine();
        ADD_FAILURE();
    } catch (const platform::Exception& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("No Python engine was created"));
    }

    TPythonEngine second;
    ConfigureSystemRuntime(second);
    second.LoadDll();
    EXPECT_EQ(ActiveEngine(), &second);
    EXPECT_EQ(second.EvalStringAsStr("shared_value"), QStringLiteral("from the first engine"));
}

TEST(FreshInterpreter, VenvScriptAndSysPathEvent)
{
    CHILD_ONLY();
    TPythonEngine e;
    ConfigureSystemRuntime(e);
    e.SetVenvPythonExe(QStringLiteral("/opt/venv/bin/python3"));
    int pathItems = -1;
    e.OnSysPathInit = [&](TComponent*, PPyObject path) {
        pathItems = e.PyList_Check(path) ? static_cast<int>(e.PyList_Size(path)) : -2;
    };
    e.LoadDll();
    EXPECT_GT(pathItems, 0);
    EXPECT_EQ(e.EvalStringAsStr("__import__('sys').executable"), QStringLiteral("/opt/venv/bin/python3"));
    // The script cleans up after itself.
    EXPECT_THROW(e.EvalString("path"), EPyNameError);
}

TEST(FreshInterpreter, DestroyFinalisesClientsThenTheInterpreterThenUnloads)
{
    CHILD_ONLY();
    QStringList order;
    auto engine = std::make_unique<TPythonEngine>();
    TPythonEngine* e = engine.get();
    ConfigureSystemRuntime(*e);
    TEngineClient client;
    client.SetEngine(e);
    client.OnFinalization = [&](TComponent*) {
        order << QStringLiteral("client, running=%1").arg(e->Py_IsInitialized());
    };
    int (*isInitialized)() = nullptr;
    e->OnBeforeUnload = [&](TComponent*) {
        order << QStringLiteral("unload, running=%1").arg(isInitialized());
    };
    e->LoadDll();
    isInitialized = e->Py_IsInitialized;
    e->SetGlobalVars(TPyRef::Steal(*e, e->PyDict_New()).Get());
    engine.reset();
    EXPECT_EQ(order, (QStringList{QStringLiteral("client, running=1"), QStringLiteral("unload, running=0")}));
    EXPECT_EQ(client.Engine(), nullptr);
    EXPECT_FALSE(client.Initialized());
    EXPECT_EQ(ActiveEngine(), nullptr);
}

TEST(FreshInterpreter, RegisteredPathMayBeRewritten)
{
    CHILD_ONLY();
    TempStore store;
    const QString key = QStringLiteral("\\Software\\Python\\PythonCore\\%1\\PythonPath").arg(pycore::TestedVersion());
    {
        platform::Registry reg(platform::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteString(QString(), QStringLiteral("/registered/lib"));
    }
    TPythonEngine e;
    ConfigureSystemRuntime(e);
    QString seen;
    e.OnPathInitialization = [&](TComponent*, QString& path) {
        seen = path;
        path += QStringLiteral(":/added/lib");
    };
    e.LoadDll();
    EXPECT_TRUE(e.Initialized());
    EXPECT_EQ(seen, QStringLiteral("/registered/lib"));
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKeyReadOnly(key));
    EXPECT_EQ(reg.ReadString(QString()), QStringLiteral("/registered/lib:/added/lib"));
}

// ---------------------------------------------------------------- parents

TEST(Fresh, LoadFailureShowsBothMessagesAndQuitsWithCode1)
{
    pycore::ChildResult r = pycore::RunChild(QStringLiteral("EngineLoadFailure"));
    EXPECT_EQ(r.exitCode, 1) << r.output.toStdString();
    EXPECT_FALSE(r.output.contains(QLatin1String("STILL-RUNNING")));
    const QStringList boxes = pycore::BoxLines(r.output);
    ASSERT_EQ(boxes.size(), 2) << r.output.toStdString();
    // The code is errno after the failed load (0 when the loader left it
    // unset); then the path tried and the loader's reason.
    EXPECT_TRUE(QRegularExpression(QRegularExpression::escape(kErrorBox) +
                                   QStringLiteral("Error \\d+: Could not open Dll \"libpython3\\.11\\.so\\.1\\.0\"\\\\n"
                                                  "/nonexistent/python3-linux-3\\.11/libpython3\\.11\\.so\\.1\\.0: .*No such file.*$"))
                    .match(boxes[0])
                    .hasMatch())
        << boxes[0].toStdString();
    EXPECT_EQ(boxes[1], kErrorBox + QStringLiteral("Python could not be properly initialized. We must quit."));

    r = pycore::RunChild(QStringLiteral("DllLoadFailure"));
    EXPECT_EQ(r.exitCode, 1) << r.output.toStdString();
    const QStringList dllBoxes = pycore::BoxLines(r.output);
    ASSERT_EQ(dllBoxes.size(), 2) << r.output.toStdString();
    EXPECT_TRUE(QRegularExpression(QRegularExpression::escape(kErrorBox) +
                                   QStringLiteral("Error \\d+: Could not open Dll \"Python311\\.dll\"\\\\n/nonexistent/Python311\\.dll: .+$"))
                    .match(dllBoxes[0])
                    .hasMatch())
        << dllBoxes[0].toStdString();
    EXPECT_EQ(dllBoxes[1], kErrorBox + QStringLiteral("Dll Python311.dll could not be loaded. We must quit."));
}

TEST(Fresh, BindingFailureNamesTheSymbolAndQuits)
{
    const pycore::ChildResult r = pycore::RunChild(QStringLiteral("BindingFailure"));
    EXPECT_EQ(r.exitCode, 1) << r.output.toStdString();
    const QStringList boxes = pycore::BoxLines(r.output);
    ASSERT_EQ(boxes.size(), 2) << r.output.toStdString();
    EXPECT_EQ(boxes[0], kErrorBox + QStringLiteral("Error 0: could not map symbol \"PySys_GetObject\""));
    EXPECT_EQ(boxes[1], kErrorBox + QStringLiteral("Python could not be properly initialized. We must quit."));
}

TEST(Fresh, OwnInterpreterCases)
{
    for (const char* name : {"KnownVersionsSearch", "FlagsProgramNameInitScriptAndClients", "FinalizeStopsTheInterpreter",
                             "FinalizeWithoutAutoFinalizeLetsASecondEngineIn", "VenvScriptAndSysPathEvent",
                             "RegisteredPathMayBeRewritten", "DestroyFinalisesClientsThenTheInterpreterThenUnloads"}) {
        const pycore::ChildResult r = pycore::RunChild(QString::fromLatin1(name));
        EXPECT_EQ(r.exitCode, 0) << name << "\n" << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << name << "\n" << r.output.toStdString();
    }
}
