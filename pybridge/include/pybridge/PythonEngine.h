#pragma once
// The engine: starts and stops the embedded Python interpreter, holds its
// settings and the components attached to it. Running code, values and
// errors are its base's (PythonRun.h).
#include "pybridge/Component.h"
#include "pybridge/DynamicDll.h"
#include "pybridge/PythonErrors.h"
#include "pybridge/PyRef.h"
#include "pybridge/PythonInterface.h"
#include "pybridge/PythonRun.h"
#include "pybridge/PythonTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pybridge {

class TPythonEngine;

// Base of every component attached to an engine (host modules and types grow it).
class TEngineClient : public TComponent {
public:
    explicit TEngineClient(TComponent* AOwner = nullptr);
    ~TEngineClient() override;

    TPythonEngine* Engine() const { return FEngine; }
    bool Initialized() const { return FInitialized; }

    virtual void SetEngine(TPythonEngine* Value);
    // Called by the owning module once its Python module object exists.
    virtual void ModuleReady() {}
    virtual void Initialize();
    virtual void Finalize();
    // Forgets the engine without detaching (used by a dying engine).
    void ClearEngine() { FEngine = nullptr; }
    // Raises "No Engine defined for component "%s"" when no engine is attached.
    void CheckEngine() const;
    // Fires OnCreate once the component has been streamed in.
    void Loaded() override;

    // What the engine's lookups by name ask of a client; modules, method
    // containers and host-defined types answer.
    virtual bool IsPythonModule() const { return false; }
    virtual QByteArray ClientModuleName() const { return {}; }
    virtual PPyObject ClientModule() const { return nullptr; } // borrowed
    virtual bool IsMethodsContainer() const { return false; }
    virtual PyMethodDef* ClientMethodsData() const { return nullptr; }
    virtual bool IsPythonType() const { return false; }
    virtual QByteArray ClientTypeName() const { return {}; }
    virtual PPyObject ClientTypeObject() const { return nullptr; } // borrowed

    TNotifyEvent OnInitialization;
    TNotifyEvent OnFinalization;
    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;

protected:
    TPythonEngine* FEngine = nullptr;
    bool FInitialized = false;
};

enum TPythonFlag : quint8 {
    pfDebug = 1 << 0,
    pfInteractive = 1 << 1,
    pfNoSite = 1 << 2,
    pfOptimize = 1 << 3,
    pfVerbose = 1 << 4,
    pfFrozenFlag = 1 << 5,
    pfIgnoreEnvironmentFlag = 1 << 6,
};
using TPythonFlags = quint8;

using TPathInitializationEvent = std::function<void(TComponent* Sender, QString& Path)>;
using TSysPathInitEvent = std::function<void(TComponent* Sender, PPyObject PathList)>;

// The process-wide engine (or null) and its checked accessor.
TPythonEngine* ActiveEngine();
// Raises "No Python engine was created" or "The Python engine is not properly initialized".
TPythonEngine& CurrentEngine();
bool EngineReady();

class TPythonEngine : public TPythonRunner {
public:
    explicit TPythonEngine(TComponent* AOwner = nullptr);
    ~TPythonEngine() override;

    void Initialize();
    void Finalize();

    // Settings.
    bool AutoFinalize() const { return FAutoFinalize; }
    void SetAutoFinalize(bool v) { FAutoFinalize = v; }
    const QString& VenvPythonExe() const { return FVenvPythonExe; }
    void SetVenvPythonExe(const QString& v) { FVenvPythonExe = v; }
    const QStringList& InitScript() const { return FInitScript; }
    void SetInitScript(const QStringList& v) { FInitScript = v; }
    bool InitThreads() const { return FInitThreads; }
    void SetInitThreads(bool v);
    TComponent* IO() const { return FIO; }
    void SetIO(TComponent* v);
    TPythonFlags PyFlags() const { return FPyFlags; }
    void SetPyFlags(TPythonFlags v);
    bool RedirectIO() const { return FRedirectIO; }
    void SetRedirectIO(bool v) { FRedirectIO = v; }
    bool UseWindowsConsole() const { return FUseWindowsConsole; }
    void SetUseWindowsConsole(bool v) { FUseWindowsConsole = v; }
    const QString& PythonHome() const { return FPythonHome; }
    void SetPythonHome(const QString& v) { FPythonHome = v; }
    const QString& ProgramName() const { return FProgramName; }
    void SetProgramName(const QString& v) { FProgramName = v; }
    const QString& PythonPath() const { return FPythonPath; }
    void SetPythonPath(const QString& v) { FPythonPath = v; }
    PyThreadState* ThreadState() const { return PyThreadState_Get ? PyThreadState_Get() : nullptr; }
    TComponent* IOPythonModule() const { return FIOPythonModule; }
    // Set by the redirection step once "pyio" exists and its script has run.
    void SetIOPythonModule(TComponent* v) { FIOPythonModule = v; }
    bool IORedirected() const { return FIORedirected; }
    void SetIORedirected(bool v) { FIORedirected = v; }
    // Empties every text setting (name, library, registry, module, program, home, path),
    // so that code runs in the module registered under the empty name.
    void ResetTextSettings();

    TNotifyEvent OnAfterInit;
    TPathInitializationEvent OnPathInitialization;
    TSysPathInitEvent OnSysPathInit;

    // Redirection of the standard streams: the output-redirection work installs
    // the step that creates "pyio" and runs the redirection script.
    using TRedirectIOHandler = std::function<void(TPythonEngine& AEngine)>;
    static void SetRedirectIOHandler(TRedirectIOHandler AHandler);

    // Clients.
    void AddClient(TEngineClient* client);
    void RemoveClient(TEngineClient* client);
    TEngineClient* FindClient(const QString& aName) const;
    int ClientCount() const { return static_cast<int>(FClients.size()); }
    TEngineClient* Clients(int idx) const { return FClients.at(static_cast<std::size_t>(idx)); }

    // Lookups by name. The type, module and main module stay alive as long
    // as the interpreter does, so they are lent (borrowed), never owned.
    PPyObject TypeByName(const QByteArray& aTypeName) const;     // borrowed
    PPyObject ModuleByName(const QByteArray& aModuleName) const; // borrowed
    PyMethodDef* MethodsByName(const QString& aMethodsContainer) const;
    TEngineClient* FindPythonType(const QByteArray& TypeName) const;
    PPyObject FindModule(const QByteArray& ModuleName) const; // borrowed, or null
    // The module's function, or null when there is none.
    TPyRef FindFunction(const QByteArray& ModuleName, const QByteArray& FuncName) const;

    // Sets the interpreter's flag variables from PyFlags.
    void ApplyPythonFlags();

protected:
    void BeforeLoad() override;
    void AfterLoad() override;
    void OpenLibraryFile(const QString& aDllName) override;
    void RegisteredInstallFound(const QString& AInstallPath) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    virtual void DoRedirectIO();

private:
    void RegisteredPathHook();
    void SetProgramArguments();
    void RestoreIO();

    QString FVenvPythonExe;
    QStringList FInitScript;
    TComponent* FIO = nullptr;
    bool FRedirectIO = true;
    std::vector<TEngineClient*> FClients;
    bool FAutoFinalize = true;
    QString FProgramName;
    QString FPythonHome;
    QString FPythonPath;
    bool FInitThreads = false;
    bool FUseWindowsConsole = false;
    TPythonFlags FPyFlags = 0;
    bool FIORedirected = false;
    TComponent* FIOPythonModule = nullptr;

    // The interpreter keeps pointers to these for its whole life.
    std::wstring FProgramNameW;
    std::wstring FPythonHomeW;
    std::vector<std::wstring> FArgvStorage;
    std::vector<wchar_t*> FArgv;
};

} // namespace pybridge
