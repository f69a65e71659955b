#pragma once
// What the host offers to Python code: growable method, member and accessor
// tables, design-time events that become Python functions, module-level
// exception classes and the extension module itself.
#include "pybridge/Component.h"
#include "pybridge/DefTable.h"
#include "pybridge/MethodCallBack.h"
#include "pybridge/PythonEngine.h"
#include "pybridge/PythonTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <deque>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace pybridge {

class TMethodsContainer;
class TPythonModule;

using PyCFunctionWithKeywords = PPyObject (*)(PPyObject self, PPyObject args, PPyObject kwds);

// Host methods offered to Python: a bound C++ member function (object + a
// plain function taking the object first), made with HostMethod<&T::M>(obj).
struct THostMethod {
    TMethod Method; // Code: PPyObject (*)(void* object, PPyObject self, PPyObject args)
};
struct THostMethodWithKW {
    TMethod Method; // Code: PPyObject (*)(void* object, PPyObject self, PPyObject args, PPyObject kwds)
};

template <auto M>
THostMethod HostMethod(typename detail::TMethodTraits<decltype(M)>::Class* object)
{
    static_assert(std::is_same_v<typename detail::TMethodTraits<decltype(M)>::Function,
                                 PPyObject (*)(PPyObject, PPyObject)>,
                  "a host method takes (self, args) and returns a Python object");
    return THostMethod{MethodOf<M>(object)};
}

template <auto M>
THostMethodWithKW HostMethodWithKW(typename detail::TMethodTraits<decltype(M)>::Class* object)
{
    static_assert(std::is_same_v<typename detail::TMethodTraits<decltype(M)>::Function,
                                 PPyObject (*)(PPyObject, PPyObject, PPyObject)>,
                  "a host method with keywords takes (self, args, kwds) and returns a Python object");
    return THostMethodWithKW{MethodOf<M>(object)};
}

// Turns a host exception that reached a function the runtime called into a
// pending Python error (RuntimeError with the exception's message unless one
// is already pending). Never throws.
void SetPythonErrorFromException(const char* fallback = nullptr) noexcept;

// Runs f for the runtime: every exception becomes a Python error and the
// failure value is returned. An owned result is handed to the runtime.
template <class R, class F>
R GuardPythonCall(R failure, F&& f) noexcept
{
    try {
        if constexpr (std::is_same_v<std::invoke_result_t<F&>, TPyRef>)
            return f().Release();
        else
            return f();
    } catch (...) {
        SetPythonErrorFromException();
        return failure;
    }
}

// ------------------------------------------------------------------ events

using TPythonEvent = std::function<void(class TEventDef* Sender, PPyObject PSelf, PPyObject Args, PPyObject& Result)>;

class TEventDefs;

class TEventDef {
public:
    explicit TEventDef(TEventDefs* ACollection);

    const QByteArray& Name() const { return FName; }
    void SetName(const QByteArray& Value) { FName = Value; }
    const QStringList& DocString() const { return FDocString; }
    void SetDocString(const QStringList& Value) { FDocString = Value; }
    TEventDefs* Collection() const { return FCollection; }

    // The doc string as handed to the runtime (kept alive by this item).
    const char* GetDocString();
    // The Python entry behind the event's host method.
    PPyObject PythonEvent(PPyObject pself, PPyObject args);

    TPythonEvent OnExecute;

private:
    TEventDefs* FCollection;
    QByteArray FName;
    QByteArray FTmpDocString;
    QStringList FDocString;
};

class TEventDefs {
public:
    explicit TEventDefs(TMethodsContainer* AMethodsContainer) : FMethodsContainer(AMethodsContainer) {}

    TEventDef& Add();
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TEventDef& Items(int i) const { return *FItems.at(static_cast<std::size_t>(i)); }
    TMethodsContainer* Container() const { return FMethodsContainer; }

private:
    TMethodsContainer* FMethodsContainer;
    std::vector<std::unique_ptr<TEventDef>> FItems;
};

// ------------------------------------------------------------------ method table

class TMethodsContainer : public TEngineClient {
public:
    explicit TMethodsContainer(TComponent* AOwner = nullptr);
    ~TMethodsContainer() override;

    // The class's own name, used in index errors.
    virtual const char* ClassName() const { return "TMethodsContainer"; }

    void Initialize() override;
    void Finalize() override;

    PyMethodDef* AddMethod(const char* AMethodName, PyCFunction AMethod, const char* ADocString);
    PyMethodDef* AddMethodWithKeywords(const char* AMethodName, PyCFunctionWithKeywords AMethod,
                                    const char* ADocString);
    PyMethodDef* AddClassMethodWithKeywords(const char* AMethodName, PyCFunctionWithKeywords AMethod,
                                    const char* ADocString);
    PyMethodDef* AddStaticMethodWithKeywords(const char* AMethodName, PyCFunctionWithKeywords AMethod,
                                    const char* ADocString);
    PyMethodDef* AddHostMethod(const char* AMethodName, THostMethod AHostMethod, const char* ADocString);
    PyMethodDef* AddHostMethodWithKeywords(const char* AMethodName, THostMethodWithKW AHostMethod,
                                           const char* ADocString);
    void ClearMethods();

    // 0 <= Index <= MethodCount (the terminating entry included).
    PyMethodDef& Methods(int Index) const;
    int MethodCount() const { return FMethods.Count(); }
    int AllocatedMethodCount() const { return FMethods.Capacity(); }
    PyMethodDef* MethodsData() const { return FMethods.Data(); }
    PyModuleDef& ModuleDef() { return FModuleDef; }
    TEventDefs& Events() { return *FEventDefs; }

    bool IsMethodsContainer() const override { return true; }
    PyMethodDef* ClientMethodsData() const override { return FMethods.Data(); }

protected:
    virtual void GrowMethods();
    // Raises "%s: Index %d out of range" with the class name.
    [[noreturn]] void IndexError(int Index) const;

    TDefTable<PyMethodDef> FMethods;
    PyModuleDef FModuleDef{};
    std::unique_ptr<TEventDefs> FEventDefs;

private:
    PyMethodDef* AddEntry(const char* AName, void* AFunction, int AFlags, const char* ADoc);
    // Host methods are reached through records this container keeps, so an
    // exception in the method never crosses into the runtime.
    struct THostCall {
        TMethod Method;
        PPyObject Call(PPyObject self, PPyObject args) noexcept;
        PPyObject CallKW(PPyObject self, PPyObject args, PPyObject kwds) noexcept;
    };
    std::deque<THostCall> FHostCalls;
};

// ------------------------------------------------------------------ member table

enum class TPyMemberType {
    mtShort,
    mtInt,
    mtLong,
    mtFloat,
    mtDouble,
    mtString,
    mtObject,
    mtChar,
    mtByte,
    mtUByte,
    mtUShort,
    mtUInt,
    mtULong,
    mtStringInplace,
    mtObjectEx
};
enum class TPyMemberFlag { mfDefault, mfReadOnly, mfReadRestricted, mfWriteRestricted, mfRestricted };

class TMembersContainer : public TMethodsContainer {
public:
    explicit TMembersContainer(TComponent* AOwner = nullptr);
    ~TMembersContainer() override;
    const char* ClassName() const override { return "TMembersContainer"; }

    void Finalize() override;

    PyMemberDef* AddMember(const char* MemberName, TPyMemberType MemberType, Py_ssize_t MemberOffset,
                           TPyMemberFlag MemberFlags, const char* MemberDoc);
    void ClearMembers();
    PyMemberDef& Members(int Index) const;
    int MemberCount() const { return FMembers.Count(); }
    int AllocatedMemberCount() const { return FMembers.Capacity(); }
    PyMemberDef* MembersData() const { return FMembers.Data(); }

protected:
    virtual Py_ssize_t MemberOffsetBase() const { return 0; }
    virtual void GrowMembers();

    TDefTable<PyMemberDef> FMembers;
};

class TGetSetContainer : public TMembersContainer {
public:
    explicit TGetSetContainer(TComponent* AOwner = nullptr);
    ~TGetSetContainer() override;
    const char* ClassName() const override { return "TGetSetContainer"; }

    void Finalize() override;

    PyGetSetDef* AddGetSet(const char* AName, getter AGet, setter ASet, const char* ADoc, void* AClosure);
    void ClearGetSets();
    PyGetSetDef& GetSet(int Index) const;
    int GetSetCount() const { return FGetSets.Count(); }
    int AllocatedGetSetCount() const { return FGetSets.Capacity(); }
    PyGetSetDef* GetSetData() const { return FGetSets.Data(); }

protected:
    virtual void GrowGetSets();

    TDefTable<PyGetSetDef> FGetSets;
};

// ------------------------------------------------------------------ errors

enum class TErrorType { etString = 0, etClass = 1 };

class TErrors;

class TParentClassError {
public:
    const QByteArray& Name() const { return FName; }
    void SetName(const QByteArray& v) { FName = v; }
    const QByteArray& Module() const { return FModule; }
    void SetModule(const QByteArray& v) { FModule = v; }
    void Assign(const TParentClassError& Source)
    {
        FName = Source.FName;
        FModule = Source.FModule;
    }

private:
    QByteArray FName;
    QByteArray FModule;
};

class TError {
public:
    explicit TError(TErrors* ACollection);
    ~TError();
    TError(const TError&) = delete;
    TError& operator=(const TError&) = delete;

    const QByteArray& Name() const { return FName; }
    // Refuses a name another error of the module already has; redirects
    // parent-class references to a renamed class error.
    void SetName(const QByteArray& Value);
    const QByteArray& Text() const { return FText; }
    void SetText(const QByteArray& Value);
    TErrorType ErrorType() const { return FErrorType; }
    void SetErrorType(TErrorType Value);
    TParentClassError& ParentClass() { return FParentClass; }
    void SetParentClass(const TParentClassError& Value);
    PPyObject Error() const { return FError; } // borrowed
    TPythonModule* Owner() const;
    bool Changed() const { return FChanged; }

    void BuildError(const QByteArray& ModuleName);
    void RaiseError(const QByteArray& msg);
    void RaiseErrorObj(const QByteArray& msg, PPyObject obj);

private:
    friend class TErrors;
    TErrors* FCollection;
    QByteArray FName;
    QByteArray FText;
    PPyObject FError = nullptr;
    TErrorType FErrorType = TErrorType::etString;
    TParentClassError FParentClass;
    bool FChanged = false;
};

class TErrors {
public:
    explicit TErrors(TPythonModule* AModule) : FModule(AModule) {}

    TError& Add();
    void Delete(int i) { FItems.erase(FItems.begin() + i); }
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TError& Items(int i) const { return *FItems.at(static_cast<std::size_t>(i)); }
    TPythonModule* Module() const { return FModule; }

private:
    TPythonModule* FModule;
    std::vector<std::unique_ptr<TError>> FItems;
};

// ------------------------------------------------------------------ module

class TPythonModule : public TMethodsContainer {
public:
    explicit TPythonModule(TComponent* AOwner = nullptr);
    ~TPythonModule() override;
    const char* ClassName() const override { return "TPythonModule"; }

    void Initialize() override;
    void InitializeForNewInterpreter();
    void MakeModule();
    void DefineDocString();
    void BuildErrors();

    const QByteArray& ModuleName() const { return FModuleName; }
    void SetModuleName(const QByteArray& Value);
    const QStringList& DocString() const { return FDocString; }
    void SetDocString(const QStringList& Value) { FDocString = Value; }
    TErrors& Errors() { return *FErrors; }
    PPyObject Module() const { return FModule; } // borrowed

    void AddClient(TEngineClient* Client);
    void RemoveClient(TEngineClient* Client);
    int ClientCount() const { return static_cast<int>(FClients.size()); }
    TEngineClient* Clients(int i) const { return FClients.at(static_cast<std::size_t>(i)); }

    TError& ErrorByName(const QByteArray& AName);
    void RaiseError(const QByteArray& error, const QByteArray& msg);
    void RaiseErrorFmt(const QByteArray& error, const QString& format, const QStringList& Args);
    void RaiseErrorObj(const QByteArray& error, const QByteArray& msg, PPyObject obj);

    // Module variables (names are 8-bit).
    void SetVar(const QByteArray& varName, PPyObject value);
    TPyRef GetVar(const QByteArray& varName); // null when there is none; never leaves an error pending
    void DeleteVar(const QByteArray& varName);
    void ClearVars();
    void SetVarFromVariant(const QByteArray& varName, const QVariant& value);
    QVariant GetVarAsVariant(const QByteArray& varName);

    bool IsPythonModule() const override { return true; }
    QByteArray ClientModuleName() const override { return FModuleName; }
    PPyObject ClientModule() const override { return FModule; } // borrowed

    TNotifyEvent OnAfterInitialization;

private:
    QByteArray FModuleName;
    PPyObject FModule = nullptr;
    std::vector<TEngineClient*> FClients;
    std::unique_ptr<TErrors> FErrors;
    QStringList FDocString;
};

// Installs the engine's redirection step: it creates the "pyio" module on
// first use and runs the redirection script. Linking this library installs it
// at start-up as well; calling it again does no harm.
void InstallPythonIORedirection();

} // namespace pybridge
