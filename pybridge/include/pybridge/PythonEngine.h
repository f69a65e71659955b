#pragma once
// The engine: starts, uses and stops the embedded Python interpreter, runs
// code in its execution module, converts values and turns Python errors into
// host exceptions.
#include "pybridge/Component.h"
#include "pybridge/DynamicDll.h"
#include "pybridge/PythonErrors.h"
#include "pybridge/PyRef.h"
#include "pybridge/PythonInterface.h"
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

struct TTracebackItem {
    QString FileName;
    qint32 LineNo = 0;
    QString Context; // the function name
};

// The last error's traceback, outermost call first.
class TPythonTraceback {
public:
    TPythonTraceback() = default;

    void Clear() { FItems.clear(); }
    void AddItem(const QString& Context, const QString& FileName, qint32 LineNo);
    // Rebuilds the list from a traceback object, or from sys.last_traceback when null.
    void Refresh(PPyObject pytraceback = nullptr);

    const TTracebackItem& Items(int i) const { return FItems.at(static_cast<std::size_t>(i)); }
    int ItemCount() const { return static_cast<int>(FItems.size()); }
    qint32 Limit() const { return FLimit; }
    void SetLimit(qint32 v) { FLimit = v; }

private:
    std::vector<TTracebackItem> FItems;
    qint32 FLimit = 1000;
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

enum class TDatetimeConversionMode { dcmToTuple, dcmToDatetime };

using TPathInitializationEvent = std::function<void(TComponent* Sender, QString& Path)>;
using TSysPathInitEvent = std::function<void(TComponent* Sender, PPyObject PathList)>;

// The process-wide engine (or null) and its checked accessor.
TPythonEngine* ActiveEngine();
// Raises "No Python engine was created" or "The Python engine is not properly initialized".
TPythonEngine& CurrentEngine();
bool EngineReady();

class TPythonEngine : public TPythonInterface {
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
    TDatetimeConversionMode DatetimeConversionMode() const { return FDatetimeConversionMode; }
    void SetDatetimeConversionMode(TDatetimeConversionMode v) { FDatetimeConversionMode = v; }
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
    const QByteArray& ExecModule() const { return FExecModule; }
    void SetExecModule(const QByteArray& v) { FExecModule = v; }
    const QString& PythonHome() const { return FPythonHome; }
    void SetPythonHome(const QString& v) { FPythonHome = v; }
    const QString& ProgramName() const { return FProgramName; }
    void SetProgramName(const QString& v) { FProgramName = v; }
    const QString& PythonPath() const { return FPythonPath; }
    void SetPythonPath(const QString& v) { FPythonPath = v; }
    PyThreadState* ThreadState() const { return PyThreadState_Get ? PyThreadState_Get() : nullptr; }
    TPythonTraceback& Traceback() { return *FTraceback; }
    PPyObject GlobalVars() const { return FGlobalVars.Get(); } // borrowed
    void SetGlobalVars(PPyObject Value);
    PPyObject LocalVars() const { return FLocalVars.Get(); } // borrowed
    void SetLocalVars(PPyObject Value);
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
    PPyObject GetMainModule() const; // borrowed

    // Running code. The results are new references; locals and globals are borrowed.
    TPyRef Run_CommandAsObjectWithDict(const QByteArray& command, int mode, PPyObject locals,
                                       PPyObject globals, const QString& FileName = QStringLiteral("<string>"));
    TPyRef Run_CommandAsObject(const QByteArray& command, int mode,
                               const QString& FileName = QStringLiteral("<string>"));
    QString Run_CommandAsString(const QByteArray& command, int mode,
                                const QString& FileName = QStringLiteral("<string>"));
    void ExecString(const QByteArray& command, const QString& FileName = QStringLiteral("<string>"));
    void ExecString(const QByteArray& command, PPyObject locals, PPyObject globals,
                    const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalString(const QByteArray& command, const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalString(const QByteArray& command, PPyObject locals, PPyObject globals,
                      const QString& FileName = QStringLiteral("<string>"));
    QString EvalStringAsStr(const QByteArray& command, const QString& FileName = QStringLiteral("<string>"));
    void ExecStrings(const QStringList& strings, const QString& FileName = QStringLiteral("<string>"));
    void ExecStrings(const QStringList& strings, PPyObject locals, PPyObject globals,
                     const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalStrings(const QStringList& strings, const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalStrings(const QStringList& strings, PPyObject locals, PPyObject globals,
                       const QString& FileName = QStringLiteral("<string>"));
    QString EvalStringsAsStr(const QStringList& strings, const QString& FileName = QStringLiteral("<string>"));
    void ExecFile(const QString& FileName, PPyObject locals = nullptr, PPyObject globals = nullptr);

    bool CheckSyntax(const QByteArray& str, int mode);
    bool CheckEvalSyntax(const QByteArray& str) { return CheckSyntax(str, eval_input); }
    bool CheckExecSyntax(const QByteArray& str) { return CheckSyntax(str, file_input); }

    // Errors.
    void CheckError(bool ACatchStopEx = false) override;
    // Writes a SystemExit's message (a code other than None or a number) to sys.stderr.
    void PrintExitMessage(PPyObject value);
    [[noreturn]] void RaiseError();

    // Strings.
    // Raises the Python error when the object's __str__ fails.
    QString PyObjectAsString(PPyObject obj);
    // The same, but empty when __str__ fails (for error reports).
    QString ObjectTextOrEmpty(PPyObject obj);
    QString PyUnicodeAsString(PPyObject obj);
    QByteArray PyUnicodeAsUTF8String(PPyObject obj);
    // Null (with the Python error pending) when the runtime cannot make the text.
    TPyRef PyUnicodeFromString(const QString& AString);
    TPyRef PyUnicodeFromString(const QByteArray& AString);
    static QByteArray EncodeString(const QString& str) { return str.toUtf8(); }
    QByteArray EncodeWindowsFilePath(const QString& str) const;
    QByteArray PyBytesAsAnsiString(PPyObject obj);
    QByteArray PyByteArrayAsAnsiString(PPyObject obj);

    // Singletons and types.
    TPyRef ReturnNone();
    TPyRef ReturnTrue();
    TPyRef ReturnFalse();
    bool IsType(PPyObject ob, PyTypeObject* obt) const { return ob && ob->ob_type == obt; }

    // Containers from host values; the objects handed to MakePy* are borrowed.
    TPyRef MakePyTuple(const std::vector<PPyObject>& objects);
    TPyRef MakePyList(const std::vector<PPyObject>& objects);
    TPyRef ArrayToPyTuple(const QVariantList& items);
    TPyRef ArrayToPyList(const QVariantList& items);
    TPyRef ArrayToPyDict(const QVariantList& items);
    TPyRef StringsToPyList(const QStringList& strings);
    TPyRef StringsToPyTuple(const QStringList& strings);
    void PyListToStrings(PPyObject list, QStringList& strings, bool ClearStrings = true);
    void PyTupleToStrings(PPyObject tuple, QStringList& strings);
    // A host bit set of ASize bytes to and from a list of its members' ordinal numbers.
    TPyRef SetToList(const void* data, int ASize);
    void ListToSet(PPyObject List, void* data, int ASize);
    QVariant GetSequenceItem(PPyObject sequence, Py_ssize_t idx);
    TPyRef VarRecAsPyObject(const QVariant& v) { return VariantAsPyObject(v); }

    // Variants.
    virtual TPyRef VariantAsPyObject(const QVariant& V);
    virtual QVariant PyObjectAsVariant(PPyObject obj);
    // Calls a Python callable with host values and converts its result.
    QVariant EvalPyFunction(PPyObject pyfunc, const QVariantList& args);
    QVariant EvalFunction(PPyObject pyfunc, const QVariantList& args) { return EvalPyFunction(pyfunc, args); }
    QVariant EvalFunctionNoArgs(PPyObject pyfunc) { return EvalPyFunction(pyfunc, {}); }

    // Date-time checks (with the types found at initialisation).
    bool PyDate_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_DateType); }
    bool PyDate_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_DateType); }
    bool PyDateTime_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_DateTimeType); }
    bool PyDateTime_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_DateTimeType); }
    bool PyTime_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_TimeType); }
    bool PyTime_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_TimeType); }
    bool PyDelta_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_DeltaType); }
    bool PyDelta_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_DeltaType); }
    bool PyTZInfo_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_TZInfoType); }
    bool PyTZInfo_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_TZInfoType); }
    bool PyTimeStruct_Check(PPyObject obj) const { return ExactOf(obj, FTimeStruct); }

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
    void InitDateTimeTypes();
    void RestoreIO();
    void SyntaxDetails(EPySyntaxError& E, PPyObject errType, PPyObject errValue, const QString& typeText,
                       const QString& valueText);
    QByteArray StringsToCommand(const QStringList& strings) const;
    TPyRef NewContainer(PPyObject obj, const char* what);
    TPyRef NewSequence(bool tuple, Py_ssize_t n, const std::function<TPyRef(Py_ssize_t)>& item);
    TPyRef MakePySequence(bool tuple, const std::vector<PPyObject>& objects);
    TPyRef ConvertedItem(TPyRef item);
    bool TypeCheckOf(PPyObject obj, PPyObject t) const
    {
        return t && PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(t));
    }
    bool ExactOf(PPyObject obj, PPyObject t) const
    {
        return t && obj && obj->ob_type == reinterpret_cast<PyTypeObject*>(t);
    }

private:
    friend struct TPythonEngineTestSeam;

    QString FVenvPythonExe;
    QStringList FInitScript;
    TComponent* FIO = nullptr;
    bool FRedirectIO = true;
    std::vector<TEngineClient*> FClients;
    QByteArray FExecModule = QByteArrayLiteral("__main__");
    bool FAutoFinalize = true;
    QString FProgramName;
    QString FPythonHome;
    QString FPythonPath;
    bool FInitThreads = false;
    std::unique_ptr<TPythonTraceback> FTraceback;
    bool FUseWindowsConsole = false;
    TPyRef FGlobalVars;
    TPyRef FLocalVars;
    TPythonFlags FPyFlags = 0;
    bool FIORedirected = false;
    TComponent* FIOPythonModule = nullptr;
    TDatetimeConversionMode FDatetimeConversionMode = TDatetimeConversionMode::dcmToTuple;
    PPyObject FTimeStruct = nullptr;
    PPyObject FPyDateTime_DateType = nullptr;
    PPyObject FPyDateTime_DateTimeType = nullptr;
    PPyObject FPyDateTime_DeltaType = nullptr;
    PPyObject FPyDateTime_TimeType = nullptr;
    PPyObject FPyDateTime_TZInfoType = nullptr;
    PPyObject FPyDateTime_TimeTZType = nullptr;
    PPyObject FPyDateTime_DateTimeTZType = nullptr;

    // The interpreter keeps pointers to these for its whole life.
    std::wstring FProgramNameW;
    std::wstring FPythonHomeW;
    std::vector<std::wstring> FArgvStorage;
    std::vector<wchar_t*> FArgv;
};

// For tests only: the date-time types found at initialisation (borrowed).
struct TPythonEngineTestSeam {
    static PPyObject TimeStruct(const TPythonEngine& e) { return e.FTimeStruct; }
    static PPyObject DateType(const TPythonEngine& e) { return e.FPyDateTime_DateType; }
    static PPyObject DateTimeType(const TPythonEngine& e) { return e.FPyDateTime_DateTimeType; }
    static PPyObject TimeTZType(const TPythonEngine& e) { return e.FPyDateTime_TimeTZType; }
    static PPyObject DateTimeTZType(const TPythonEngine& e) { return e.FPyDateTime_DateTimeTZType; }
};

} // namespace pybridge
