#include "pybridge/PythonEngine.h"

#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

namespace pybridge {

namespace {

TPythonEngine* gActiveEngine = nullptr;
TPythonEngine::TRedirectIOHandler& RedirectIOHandler()
{
    static TPythonEngine::TRedirectIOHandler handler;
    return handler;
}

// Debian keeps the system's packages in dist-packages folders: they leave
// the path with the site-packages ones, as they do in the environment's own
// python.
const char* const kVenvScript = "import sys\r\n"
                                "sys.executable = r\"%s\"\r\n"
                                "path = sys.path\r\n"
                                "for i in range(len(path)-1, -1, -1):\r\n"
                                "    if path[i].find(\"site-packages\") > 0 or path[i].find(\"dist-packages\") > 0:\r\n"
                                "        path.pop(i)\r\n"
                                "import site\r\n"
                                "site.main()\r\n"
                                "del sys, path, i, site";

const char* const kRestoreIOScript = "import sys\n"
                                     "if hasattr(sys, \"old_stdin\"):  sys.stdin=sys.old_stdin\n"
                                     "if hasattr(sys, \"old_stdout\"): sys.stdout=sys.old_stdout\n"
                                     "if hasattr(sys, \"old_stderr\"): sys.stderr=sys.old_stderr\n"
                                     "for _n in (\"stdin\", \"stdout\", \"stderr\"):\n"
                                     "    if hasattr(sys, \"old___%s__\" % _n): setattr(sys, \"__%s__\" % _n, getattr(sys, \"old___%s__\" % _n))";

QStringList CommandLineArguments()
{
    if (QCoreApplication::instance())
        return QCoreApplication::arguments();
    QStringList args;
    QFile f(QStringLiteral("/proc/self/cmdline"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& a : f.readAll().split('\0'))
            args << QString::fromLocal8Bit(a);
    if (!args.isEmpty() && args.last().isEmpty())
        args.removeLast();
    return args;
}

} // namespace

// ---------------------------------------------------------------- clients

TEngineClient::TEngineClient(TComponent* AOwner) : TComponent(AOwner) {}

void TEngineClient::Loaded()
{
    TComponent::Loaded();
    if (OnCreate)
        OnCreate(this);
}

TEngineClient::~TEngineClient()
{
    Destroying();
    if (FInitialized)
        TEngineClient::Finalize();
    if (FEngine)
        FEngine->RemoveClient(this);
    FEngine = nullptr;
    if (OnDestroy)
        OnDestroy(this);
}

void TEngineClient::SetEngine(TPythonEngine* Value)
{
    if (Value == FEngine)
        return;
    if (FEngine)
        FEngine->RemoveClient(this);
    FEngine = Value;
    if (FEngine)
        FEngine->AddClient(this);
}

void TEngineClient::Initialize()
{
    if (FInitialized)
        return;
    if (OnInitialization)
        OnInitialization(this);
    FInitialized = true;
}

void TEngineClient::Finalize()
{
    if (!FInitialized)
        return;
    if (OnFinalization)
        OnFinalization(this);
    FInitialized = false;
}

void TEngineClient::CheckEngine() const
{
    if (!FEngine)
        throw platform::Exception(
            platform::Format(QStringLiteral("No Engine defined for component \"%s\""), {Name()}));
}

// ---------------------------------------------------------------- process-wide engine

TPythonEngine* ActiveEngine() { return gActiveEngine; }

TPythonEngine& CurrentEngine()
{
    if (!gActiveEngine)
        throw platform::Exception(QStringLiteral("No Python engine was created"));
    if (!gActiveEngine->Initialized() && !gActiveEngine->Finalizing())
        throw platform::Exception(QStringLiteral("The Python engine is not properly initialized"));
    return *gActiveEngine;
}

bool EngineReady()
{
    return gActiveEngine && (gActiveEngine->Initialized() || gActiveEngine->Finalizing());
}

// ---------------------------------------------------------------- engine

TPythonEngine::TPythonEngine(TComponent* AOwner) : TPythonRunner(AOwner)
{
}

TPythonEngine::~TPythonEngine()
{
    SetLocalVars(nullptr);
    SetGlobalVars(nullptr);
    Destroying();
    try {
        Finalize();
    } catch (const std::exception&) {
        // A destructor must not throw; the interpreter is going away anyway.
    }
    for (TEngineClient* c : FClients)
        c->ClearEngine();
    FClients.clear();
    FInitScript.clear();
    if (FIO)
        RemoveFreeNotification(FIO);
    FIO = nullptr;
}

void TPythonEngine::SetRedirectIOHandler(TRedirectIOHandler AHandler) { RedirectIOHandler() = std::move(AHandler); }

void TPythonEngine::ResetTextSettings()
{
    SetName(QString());
    SetDllName(QString());
    SetDllPath(QString());
    SetRegVersion(QString());
    FBuiltInModuleName.clear();
    FVenvPythonExe.clear();
    SetExecModule(QByteArray());
    FProgramName.clear();
    FPythonHome.clear();
    FPythonPath.clear();
}

void TPythonEngine::BeforeLoad()
{
    // No console windows on this platform: UseWindowsConsole does nothing.
    TPythonInterface::BeforeLoad();
}

void TPythonEngine::AfterLoad()
{
    TPythonInterface::AfterLoad();
    // Starting with unbound entry points would crash at the first null call;
    // the failed binding has been reported, and every run now reports
    // "Python is not properly initialized" instead.
    if (!FBindingComplete)
        return;
    Initialize();
}

void TPythonEngine::OpenLibraryFile(const QString& aDllName)
{
    if (UseLastKnownVersion()) {
        for (int i = KnownPythonVersionCount - 1; i >= 0; --i) {
            const TPythonVersionProp& row = KnownPythonVersions[i];
            SetRegVersion(QString::fromLatin1(row.RegVersion));
            OpenLibraryFileOnly(QString::fromLatin1(row.DllName));
            if (IsHandleValid()) {
                SetDllName(QString::fromLatin1(row.DllName));
                SetAPIVersion(row.APIVersion);
                return;
            }
        }
        return;
    }
    const TPythonVersion v = VersionFromLibraryName(aDllName);
    SetRegVersion(QStringLiteral("%1.%2").arg(v.Major).arg(v.Minor));
    OpenLibraryFileOnly(aDllName);
}

void TPythonEngine::RegisteredInstallFound(const QString& AInstallPath) { SetPythonHome(AInstallPath); }

void TPythonEngine::Notification(TComponent* AComponent, TOperation Operation)
{
    TPythonInterface::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove && AComponent == FIO)
        FIO = nullptr;
}

void TPythonEngine::SetIO(TComponent* v)
{
    if (v == FIO)
        return;
    if (FIO)
        RemoveFreeNotification(FIO);
    FIO = v;
    if (FIO)
        FreeNotification(FIO);
}

void TPythonEngine::SetPyFlags(TPythonFlags v)
{
    if (v == FPyFlags)
        return;
    if (FInitialized)
        throw platform::Exception(QStringLiteral("You can't modify Python flags after it has been initialized"));
    FPyFlags = v;
}

void TPythonEngine::SetInitThreads(bool v)
{
    if (v == FInitThreads)
        return;
    if (v && PyEval_InitThreads)
        PyEval_InitThreads();
    FInitThreads = v;
}

void TPythonEngine::ApplyPythonFlags()
{
    auto set = [this](int* var, TPythonFlag flag) {
        if (var)
            *var = (FPyFlags & flag) ? 1 : 0;
    };
    set(Py_DebugFlag, pfDebug);
    set(Py_VerboseFlag, pfVerbose);
    set(Py_InteractiveFlag, pfInteractive);
    set(Py_OptimizeFlag, pfOptimize);
    set(Py_NoSiteFlag, pfNoSite);
    set(Py_FrozenFlag, pfFrozenFlag);
    set(Py_IgnoreEnvironmentFlag, pfIgnoreEnvironmentFlag);
}

void TPythonEngine::RegisteredPathHook()
{
    if (!OnPathInitialization)
        return;
    try {
        const TSplitVersion v = SplitVersion(RegVersion());
        Q_UNUSED(v);
        // A 64-bit install registers its version without a suffix.
        const QString key =
            platform::Format(QStringLiteral("\\Software\\Python\\PythonCore\\%s\\PythonPath"), {RegVersion()});
        platform::Registry reg(platform::HKEY_LOCAL_MACHINE);
        if (!reg.KeyExists(key)) {
            reg.SetRootKey(platform::HKEY_CURRENT_USER);
            if (!reg.KeyExists(key))
                return;
        }
        if (!reg.OpenKey(key, true))
            return;
        const QString path = reg.ReadString(QString());
        QString changed = path;
        OnPathInitialization(this, changed);
        if (changed != path)
            reg.WriteString(QString(), changed);
        reg.CloseKey();
    } catch (const std::exception&) {
        // The registered path is a courtesy; a broken key must not stop the start.
    }
}

void TPythonEngine::SetProgramArguments()
{
    const QStringList args = CommandLineArguments();
    FArgvStorage.clear();
    FArgvStorage.emplace_back();
    for (int i = 1; i < args.size(); ++i)
        FArgvStorage.push_back(args.at(i).toStdWString());
    FArgv.clear();
    for (std::wstring& s : FArgvStorage)
        FArgv.push_back(s.data());
    FArgv.push_back(nullptr);
    PySys_SetArgv(static_cast<int>(FArgvStorage.size()), FArgv.data());
}

void TPythonEngine::DoRedirectIO()
{
    RequireInitialized();
    if (RedirectIOHandler())
        RedirectIOHandler()(*this);
}

void TPythonEngine::Initialize()
{
    if (gActiveEngine)
        throw platform::Exception(QStringLiteral("There is already one instance of TPythonEngine running"));
    gActiveEngine = this;
    FIORedirected = false;
    if (!InExtensionModule()) {
        RegisteredPathHook();
        if (Py_SetProgramName && !FProgramName.isEmpty()) {
            FProgramNameW = FProgramName.toStdWString();
            Py_SetProgramName(FProgramNameW.c_str());
        }
        ApplyPythonFlags();
        // Under the C or POSIX locale python3 switches to UTF-8 for file
        // names and streams; an embedded start would decode them as ASCII.
        if (FUTF8Mode && platform::EnvironmentUsesCLocale())
            *FUTF8Mode = 1;
        if (!FPythonHome.isEmpty()) {
            FPythonHomeW = FPythonHome.toStdWString();
            Py_SetPythonHome(FPythonHomeW.c_str());
        }
        Py_Initialize();
        FInitialized = Py_IsInitialized ? Py_IsInitialized() != 0 : true;
        if (!FVenvPythonExe.isEmpty())
            ExecString(QByteArray(kVenvScript).replace("%s", FVenvPythonExe.toUtf8()));
        PPyObject path = PySys_GetObject("path");
        if (OnSysPathInit)
            OnSysPathInit(this, path);
        SetProgramArguments();
        if (FInitThreads && PyEval_InitThreads)
            PyEval_InitThreads();
        if (FRedirectIO && FIO)
            DoRedirectIO();
    } else {
        FInitialized = true;
    }
    InitDateTimeTypes();
    for (std::size_t i = 0; i < FClients.size(); ++i)
        if (!FClients[i]->Initialized())
            FClients[i]->Initialize();
    if (!FInitScript.isEmpty())
        ExecStrings(FInitScript);
    if (OnAfterInit)
        OnAfterInit(this);
}

void TPythonEngine::RestoreIO()
{
    FRedirectIO = false;
    ExecString(QByteArray(kRestoreIOScript));
}

void TPythonEngine::Finalize()
{
    if (FIORedirected && !IsDestroying() && FInitialized)
        RestoreIO();
    if (FInitialized) {
        for (std::size_t i = 0; i < FClients.size(); ++i)
            if (FClients[i]->Initialized())
                FClients[i]->Finalize();
    }
    if (FInitialized && FAutoFinalize) {
        // The dictionaries die with the interpreter; held on, they would dangle.
        FGlobalVars.Reset();
        FLocalVars.Reset();
        FFinalizing = true;
        try {
            Py_Finalize();
        } catch (...) {
        }
        FFinalizing = false;
        FInitialized = false;
    }
    // Only the engine that is active may give up the process-wide slot.
    if (gActiveEngine == this)
        gActiveEngine = nullptr;
    ClearDateTimeTypes();
}

void TPythonEngine::AddClient(TEngineClient* client) { FClients.push_back(client); }

void TPythonEngine::RemoveClient(TEngineClient* client)
{
    // The client is always taken off the list, so a destroyed client is never touched later.
    FClients.erase(std::remove(FClients.begin(), FClients.end(), client), FClients.end());
    if (FInitialized && FClients.empty() && !IsDestroying())
        Finalize();
}

TEngineClient* TPythonEngine::FindClient(const QString& aName) const
{
    for (TEngineClient* c : FClients)
        if (c->Name() == aName)
            return c;
    return nullptr;
}

PPyObject TPythonEngine::TypeByName(const QByteArray& aTypeName) const
{
    for (TEngineClient* c : FClients)
        if (c->IsPythonType() && c->ClientTypeName() == aTypeName)
            return c->ClientTypeObject();
    throw platform::Exception(platform::Format(QStringLiteral("Could not find type: %s"), {QString::fromUtf8(aTypeName)}));
}

PPyObject TPythonEngine::ModuleByName(const QByteArray& aModuleName) const
{
    for (TEngineClient* c : FClients)
        if (c->IsPythonModule() && c->ClientModuleName() == aModuleName)
            return c->ClientModule();
    throw platform::Exception(
        platform::Format(QStringLiteral("Could not find module: %s"), {QString::fromUtf8(aModuleName)}));
}

PyMethodDef* TPythonEngine::MethodsByName(const QString& aMethodsContainer) const
{
    for (TEngineClient* c : FClients)
        if (c->IsMethodsContainer() && c->Name() == aMethodsContainer)
            return c->ClientMethodsData();
    throw platform::Exception(platform::Format(QStringLiteral("Could not find component: %s"), {aMethodsContainer}));
}

TEngineClient* TPythonEngine::FindPythonType(const QByteArray& TypeName) const
{
    for (TEngineClient* c : FClients)
        if (c->IsPythonType() && c->ClientTypeName() == TypeName)
            return c;
    return nullptr;
}

PPyObject TPythonEngine::FindModule(const QByteArray& ModuleName) const
{
    PPyObject modules = PyImport_GetModuleDict();
    PPyObject m = PyDict_GetItemString(modules, ModuleName.constData());
    return (m && PyModule_Check(m)) ? m : nullptr;
}

TPyRef TPythonEngine::FindFunction(const QByteArray& ModuleName, const QByteArray& FuncName) const
{
    PPyObject module = FindModule(ModuleName);
    if (!module)
        return {};
    TPyRef f = TPyRef::Steal(*this, PyObject_GetAttrString(module, FuncName.constData()));
    if (!f) {
        PyErr_Clear();
        return {};
    }
    return PyFunction_Check(f.Get()) ? std::move(f) : TPyRef();
}

} // namespace pybridge
