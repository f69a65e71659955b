// Finding and loading the runtime library.
#include "PyCoreSupport.h"

#include "ScriptedDialogs.h"
#include "TempStore.h"

#include "platform/Registry.h"
#include "pybridge/DynamicDll.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cfenv>

using namespace pybridge;

TEST(VersionFromLibraryName, ReadsMajorAndMinorOrFallsBackTo34)
{
    struct Case {
        const char* name;
        int major, minor;
    } cases[] = {
        {"Python311.dll", 3, 11},
        {"python3.dll", 3, 4},
        {"libpython3.11.so.1.0", 3, 11},
        {"libpython3.7m.so.1.0", 3, 7},
        {"/opt/py/lib/libpython3.12.so.1.0", 3, 12},
        {"libpython3.so", 3, 4},
        {"python", 3, 4},
        {"libruby.so", 3, 4},
        {"python6.dll", 3, 4},   // only 2 to 5 count as a major digit
        {"python2x7.dll", 2, 4}, // a letter after the major ends the parse
        {"python25.dll", 2, 5},
        {"Python39.DLL", 3, 9},
    };
    for (const Case& c : cases) {
        const TPythonVersion v = VersionFromLibraryName(QString::fromLatin1(c.name));
        EXPECT_EQ(v.Major, c.major) << c.name;
        EXPECT_EQ(v.Minor, c.minor) << c.name;
    }
}

TEST(SplitVersion, NeedsBothPartsPositive)
{
    TSplitVersion v = SplitVersion(QStringLiteral("3.11"));
    EXPECT_TRUE(v.Ok);
    EXPECT_EQ(v.Major, 3);
    EXPECT_EQ(v.Minor, 11);
    EXPECT_FALSE(SplitVersion(QStringLiteral("3")).Ok);
    EXPECT_FALSE(SplitVersion(QStringLiteral("3.x")).Ok);
    EXPECT_FALSE(SplitVersion(QString()).Ok);
    EXPECT_EQ(SplitVersion(QStringLiteral("3.x")).Minor, 0);
}

TEST(FindRegisteredInstall, UserHiveFirstAndTheMachineWideQuirkOf34)
{
    TempStore store;
    EXPECT_EQ(RegisteredInstallKey(QStringLiteral("3.11")),
              QStringLiteral("\\Software\\Python\\PythonCore\\3.11\\InstallPath"));
    EXPECT_FALSE(FindRegisteredInstall(QStringLiteral("3.11")).Found);

    auto write = [](const QString& version, const QString& path) {
        platform::Registry reg(platform::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(RegisteredInstallKey(version), true));
        reg.WriteString(QString(), path);
    };
    // The machine-wide hive is read-only for the program: build it in the user
    // hive, then move the files over.
    write(QStringLiteral("3.4"), QStringLiteral("/opt/python34"));
    write(QStringLiteral("3.10"), QStringLiteral("/opt/python310"));
    QDir().mkpath(QFileInfo(store.MachineRoot()).path());
    ASSERT_TRUE(QDir().rename(store.UserRoot(), store.MachineRoot()));
    write(QStringLiteral("3.11"), QStringLiteral("/opt/python311"));

    TRegisteredInstall r = FindRegisteredInstall(QStringLiteral("3.11"));
    EXPECT_TRUE(r.Found);
    EXPECT_FALSE(r.AllUsers);
    EXPECT_EQ(r.InstallPath, QStringLiteral("/opt/python311"));

    r = FindRegisteredInstall(QStringLiteral("3.4"));
    EXPECT_TRUE(r.Found);
    EXPECT_TRUE(r.AllUsers);
    EXPECT_TRUE(r.InstallPath.isEmpty());

    r = FindRegisteredInstall(QStringLiteral("3.10"));
    EXPECT_TRUE(r.Found);
    EXPECT_TRUE(r.AllUsers);
    EXPECT_EQ(r.InstallPath, QStringLiteral("/opt/python310"));

    EXPECT_FALSE(FindRegisteredInstall(QStringLiteral("3.9")).Found);
}

TEST(LibraryFolder, DllPathWinsAndGetsOneDelimiter)
{
    TempStore store;
    {
        platform::Registry reg(platform::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(RegisteredInstallKey(QStringLiteral("3.13")), true));
        reg.WriteString(QString(), QStringLiteral("/registered/home"));
    }
    TPythonEngine engine;
    engine.SetDllPath(QStringLiteral("/some/folder"));
    EXPECT_EQ(engine.LibraryFolder(), QStringLiteral("/some/folder/"));
    engine.SetDllPath(QStringLiteral("/some/folder/"));
    EXPECT_EQ(engine.LibraryFolder(), QStringLiteral("/some/folder/"));
    EXPECT_TRUE(engine.PythonHome().isEmpty()); // registry untouched

    engine.SetDllPath(QString());
    EXPECT_EQ(engine.LibraryFolder(), QStringLiteral("/registered/home/"));
    EXPECT_EQ(engine.PythonHome(), QStringLiteral("/registered/home"));

    engine.SetRegVersion(QStringLiteral("3.9"));
    EXPECT_EQ(engine.LibraryFolder(), QString());
}

TEST(DynamicDll, SilentFailureWithBothFlagsOff)
{
    ScriptedDialogs dialogs;
    TDynamicDll dll;
    dll.SetFatalAbort(false);
    dll.SetFatalMsgDlg(false);
    dll.SetDllPath(QStringLiteral("/nonexistent/folder"));
    int before = 0, after = 0;
    dll.OnBeforeLoad = [&](TComponent*) { ++before; };
    dll.OnAfterLoad = [&](TComponent*) { ++after; };
    EXPECT_NO_THROW(dll.OpenDll(QStringLiteral("libpython3.11.so.1.0")));
    EXPECT_FALSE(dll.IsHandleValid());
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 0);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(DynamicDll, MessageOnlyWhenAbortIsOff)
{
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(platform::ModalResult::mrOk);
    TDynamicDll dll;
    dll.SetFatalAbort(false);
    dll.SetDllPath(QStringLiteral("/nonexistent/folder"));
    dll.OpenDll(QStringLiteral("Python311.dll"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    // The classic line, then the path tried with the loader's reason.
    const QStringList lines = dialogs.messages[0].text.split(u'\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("Error ")));
    EXPECT_TRUE(lines[0].endsWith(QLatin1String(": Could not open Dll \"Python311.dll\"")));
    EXPECT_TRUE(lines[1].startsWith(QLatin1String("/nonexistent/folder/Python311.dll: "))) << lines[1].toStdString();
    EXPECT_EQ(dll.LoadAttempts(), QStringList{lines[1]});
    EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(dialogs.messages[0].type, platform::MsgDlgType::mtError);
    EXPECT_TRUE(dialogs.messages[0].applicationModal);
}

TEST(DynamicDll, LoadsUnloadsAndKeepsTheFloatingPointEnvironment)
{
    ScriptedDialogs dialogs;
    std::fesetround(FE_DOWNWARD);
    TDynamicDll dll;
    dll.SetDllPath(pycore::LibPythonFolder());
    int unloads = 0;
    dll.OnBeforeUnload = [&](TComponent*) { ++unloads; };
    dll.OpenDll(pycore::LibPythonName());
    const int round = std::fegetround();
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(round, FE_DOWNWARD);
    ASSERT_TRUE(dll.IsHandleValid());
    EXPECT_NE(dll.ImportSymbol("Py_Initialize"), nullptr);
    EXPECT_EQ(dll.ImportSymbol("NoSuchSymbolAnywhere", false), nullptr);
    try {
        dll.ImportSymbol("NoSuchSymbolAnywhere");
        ADD_FAILURE() << "no exception";
    } catch (const EDLLImportError& e) {
        EXPECT_EQ(e.WrongFunc, QByteArray("NoSuchSymbolAnywhere"));
        EXPECT_EQ(e.Message(), QStringLiteral("Error %1: could not map symbol \"NoSuchSymbolAnywhere\"").arg(e.ErrorCode));
    }

    // A second open releases the first library (with its hook) before loading again.
    dll.OpenDll(pycore::LibPythonName());
    EXPECT_EQ(unloads, 1);
    dll.UnloadDll();
    EXPECT_EQ(unloads, 2);
    EXPECT_FALSE(dll.IsHandleValid());
    dll.UnloadDll();
    EXPECT_EQ(unloads, 2);
}

TEST(DynamicDll, HandleBelow32CountsAsNotLoaded)
{
    TDynamicDll dll;
    TDynamicDllTestSeam::SetHandle(dll, 31);
    EXPECT_FALSE(dll.IsHandleValid());
    TDynamicDllTestSeam::SetHandle(dll, 32);
    EXPECT_TRUE(dll.IsHandleValid());
    TDynamicDllTestSeam::SetHandle(dll, 0);
}

TEST(DynamicDll, DefaultsAndStoredProperties)
{
    TDynamicDll dll;
    EXPECT_TRUE(dll.AutoLoad());
    EXPECT_FALSE(dll.AutoUnload());
    EXPECT_TRUE(dll.FatalAbort());
    EXPECT_TRUE(dll.FatalMsgDlg());
    EXPECT_TRUE(dll.UseLastKnownVersion());
    EXPECT_FALSE(dll.IsDllNameStored());
    dll.SetUseLastKnownVersion(false);
    EXPECT_TRUE(dll.IsDllNameStored());
    EXPECT_TRUE(dll.IsRegVersionStored());

    TPythonEngine engine;
    EXPECT_EQ(engine.DllName(), QStringLiteral("libpython3.13.so.1.0"));
    EXPECT_EQ(engine.RegVersion(), QStringLiteral("3.13"));
    EXPECT_EQ(engine.APIVersion(), 1013);
    EXPECT_TRUE(engine.AutoUnload());
}

TEST(KnownPythonVersions, ElevenRowsOldestFirstWithLinuxNames)
{
    ASSERT_EQ(KnownPythonVersionCount, 11);
    EXPECT_STREQ(KnownPythonVersions[0].DllName, "libpython3.3m.so.1.0");
    EXPECT_STREQ(KnownPythonVersions[4].DllName, "libpython3.7m.so.1.0");
    EXPECT_STREQ(KnownPythonVersions[5].DllName, "libpython3.8.so.1.0");
    EXPECT_STREQ(KnownPythonVersions[8].DllName, "libpython3.11.so.1.0");
    EXPECT_STREQ(KnownPythonVersions[9].RegVersion, "3.12");
    EXPECT_STREQ(KnownPythonVersions[10].DllName, "libpython3.13.so.1.0");
    for (const TPythonVersionProp& row : KnownPythonVersions) {
        const TPythonVersion v = VersionFromLibraryName(QString::fromLatin1(row.DllName));
        EXPECT_EQ(QStringLiteral("%1.%2").arg(v.Major).arg(v.Minor), QString::fromLatin1(row.RegVersion));
        EXPECT_EQ(row.APIVersion, 1013);
    }
}

TEST(DynamicDll, FindsTheRuntimeItAlreadyRunsIn)
{
    // The test program is not a library, so this is a no-op...
    TDynamicDll dll;
    dll.LoadDllInExtensionModule();
    EXPECT_FALSE(dll.InExtensionModule());
    EXPECT_FALSE(dll.IsHandleValid());
    // ...but the shared engine's runtime reports itself as initialised.
    pybridge::TPythonEngine& engine = pycore::Engine();
    TDynamicDll probe;
    TDynamicDllTestSeam::SetHandle(probe, engine.DLLHandle());
    EXPECT_TRUE(probe.IsInitializedRuntime());
    probe.ReadLoadedRuntimeVersion();
    EXPECT_EQ(probe.RegVersion(), pycore::TestedVersion());
    EXPECT_EQ(probe.APIVersion(), 1013);
    TDynamicDllTestSeam::SetHandle(probe, 0); // not ours to free
}

namespace {

class ProbeDll : public TDynamicDll {
public:
    using TDynamicDll::OpenLibraryFile;
};

} // namespace

TEST(DynamicDll, OpeningAFileWhileLoadedChangesNothing)
{
    ProbeDll dll;
    dll.SetDllPath(pycore::LibPythonFolder());
    dll.OpenDll(pycore::LibPythonName());
    ASSERT_TRUE(dll.IsHandleValid());
    const uintptr_t handle = dll.DLLHandle();
    dll.OpenLibraryFile(QStringLiteral("libm.so.6"));
    EXPECT_EQ(dll.DLLHandle(), handle);
    EXPECT_EQ(dll.DllName(), pycore::LibPythonName());
}
