#include "pybridge/PythonModule.h"

#include "platform/Exception.h"
#include "platform/Process.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pybridge {

namespace {

QString Q(const QByteArray& s) { return QString::fromUtf8(s); }

[[noreturn]] void Fail(const QString& pattern, std::initializer_list<QString> args)
{
    throw platform::Exception(platform::Format(pattern, args));
}

// Host text of a doc string list: every line followed by a line feed.
QByteArray DocText(const QStringList& lines)
{
    QString text;
    for (const QString& l : lines) {
        text += l;
        text += u'\n';
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text.toUtf8();
}

// Every TPythonModule attached to the engine.
std::vector<TPythonModule*> EngineModules(TPythonEngine* engine)
{
    std::vector<TPythonModule*> out;
    if (!engine)
        return out;
    for (int i = 0; i < engine->ClientCount(); ++i)
        if (auto* m = dynamic_cast<TPythonModule*>(engine->Clients(i)))
            out.push_back(m);
    return out;
}

} // namespace

void SetPythonErrorFromException(const char* fallback) noexcept
{
    try {
        QByteArray msg;
        try {
            throw;
        } catch (const platform::Exception& e) {
            msg = e.Message().toUtf8();
        } catch (const std::exception& e) {
            msg = e.what();
        } catch (...) {
            msg = fallback ? fallback : "Unknown host error";
        }
        TPythonEngine* engine = ActiveEngine();
        if (!engine || !engine->PyErr_Occurred || !engine->PyErr_SetString || !engine->PyExc_RuntimeError)
            return;
        if (engine->PyErr_Occurred())
            return; // the host code already said what went wrong
        engine->PyErr_SetString(*engine->PyExc_RuntimeError, msg.constData());
    } catch (...) {
        // Nothing more can be reported.
    }
}

// ------------------------------------------------------------------ events

TEventDef::TEventDef(TEventDefs* ACollection) : FCollection(ACollection)
{
    FName = QByteArray("PythonEvent") + QByteArray::number(ACollection->Count() - 1);
}

const char* TEventDef::GetDocString()
{
    if (FCollection && FCollection->Container())
        FCollection->Container()->CheckEngine();
    FTmpDocString = DocText(FDocString);
    return FTmpDocString.constData();
}

PPyObject TEventDef::PythonEvent(PPyObject pself, PPyObject args)
{
    if (FCollection && FCollection->Container())
        FCollection->Container()->CheckEngine();
    PPyObject result = nullptr;
    if (OnExecute)
        OnExecute(this, pself, args, result);
    return result;
}

TEventDef& TEventDefs::Add()
{
    // The item counts itself when it is named, as the collection does.
    FItems.push_back(nullptr);
    FItems.back() = std::make_unique<TEventDef>(this);
    return *FItems.back();
}

// ------------------------------------------------------------------ methods

TMethodsContainer::TMethodsContainer(TComponent* AOwner) : TEngineClient(AOwner)
{
    FEventDefs = std::make_unique<TEventDefs>(this);
}

TMethodsContainer::~TMethodsContainer()
{
    Destroying();
    if (FInitialized)
        TMethodsContainer::Finalize();
}

void TMethodsContainer::GrowMethods() { FMethods.Grow(); }

PyMethodDef* TMethodsContainer::AddEntry(const char* AName, void* AFunction, int AFlags, const char* ADoc)
{
    if (FMethods.Full())
        GrowMethods();
    PyMethodDef& e = FMethods.Append();
    e.ml_name = AName;
    e.ml_meth = AFunction;
    e.ml_flags = AFlags;
    e.ml_doc = ADoc;
    return &e;
}

PyMethodDef* TMethodsContainer::AddMethod(const char* AMethodName, PyCFunction AMethod, const char* ADocString)
{
    return AddEntry(AMethodName, reinterpret_cast<void*>(AMethod), METH_VARARGS, ADocString);
}

PyMethodDef* TMethodsContainer::AddMethodWithKeywords(const char* AMethodName, PyCFunctionWithKeywords AMethod,
                                                      const char* ADocString)
{
    return AddEntry(AMethodName, reinterpret_cast<void*>(AMethod), METH_VARARGS | METH_KEYWORDS, ADocString);
}

PyMethodDef* TMethodsContainer::AddClassMethodWithKeywords(const char* AMethodName, PyCFunctionWithKeywords AMethod,
                                                           const char* ADocString)
{
    return AddEntry(AMethodName, reinterpret_cast<void*>(AMethod), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
                    ADocString);
}

PyMethodDef* TMethodsContainer::AddStaticMethodWithKeywords(const char* AMethodName, PyCFunctionWithKeywords AMethod,
                                                            const char* ADocString)
{
    return AddEntry(AMethodName, reinterpret_cast<void*>(AMethod), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
                    ADocString);
}

PPyObject TMethodsContainer::THostCall::Call(PPyObject self, PPyObject args) noexcept
{
    auto fn = reinterpret_cast<PPyObject (*)(void*, PPyObject, PPyObject)>(Method.Code);
    return GuardPythonCall<PPyObject>(nullptr, [&] { return fn(Method.Data, self, args); });
}

PPyObject TMethodsContainer::THostCall::CallKW(PPyObject self, PPyObject args, PPyObject kwds) noexcept
{
    auto fn = reinterpret_cast<PPyObject (*)(void*, PPyObject, PPyObject, PPyObject)>(Method.Code);
    return GuardPythonCall<PPyObject>(nullptr, [&] { return fn(Method.Data, self, args, kwds); });
}

PyMethodDef* TMethodsContainer::AddHostMethod(const char* AMethodName, THostMethod AHostMethod,
                                              const char* ADocString)
{
    FHostCalls.push_back(THostCall{AHostMethod.Method});
    auto entry = MakeMethodThunk<&THostCall::Call>(&FHostCalls.back());
    return AddEntry(AMethodName, reinterpret_cast<void*>(entry), METH_VARARGS, ADocString);
}

PyMethodDef* TMethodsContainer::AddHostMethodWithKeywords(const char* AMethodName, THostMethodWithKW AHostMethod,
                                                          const char* ADocString)
{
    FHostCalls.push_back(THostCall{AHostMethod.Method});
    auto entry = MakeMethodThunk<&THostCall::CallKW>(&FHostCalls.back());
    return AddEntry(AMethodName, reinterpret_cast<void*>(entry), METH_VARARGS | METH_KEYWORDS, ADocString);
}

void TMethodsContainer::ClearMethods()
{
    FMethods.Clear();
}

void TMethodsContainer::IndexError(int Index) const
{
    Fail(QStringLiteral("%s: Index %d out of range"), {QString::fromLatin1(ClassName()), QString::number(Index)});
}

PyMethodDef& TMethodsContainer::Methods(int Index) const
{
    if (!FMethods.Holds(Index))
        IndexError(Index);
    return FMethods[Index];
}

void TMethodsContainer::Initialize()
{
    if (FInitialized)
        return;
    TEngineClient::Initialize();
    for (int i = 0; i < FEventDefs->Count(); ++i) {
        TEventDef& ev = FEventDefs->Items(i);
        AddHostMethod(ev.Name().constData(), HostMethod<&TEventDef::PythonEvent>(&ev), ev.GetDocString());
    }
}

void TMethodsContainer::Finalize()
{
    if (!IsDestroying())
        ClearMethods();
    TEngineClient::Finalize();
}

// ------------------------------------------------------------------ members

TMembersContainer::TMembersContainer(TComponent* AOwner) : TMethodsContainer(AOwner) {}

TMembersContainer::~TMembersContainer()
{
    Destroying();
    if (FInitialized)
        TMembersContainer::Finalize();
}

void TMembersContainer::GrowMembers() { FMembers.Grow(); }

PyMemberDef* TMembersContainer::AddMember(const char* MemberName, TPyMemberType MemberType, Py_ssize_t MemberOffset,
                                          TPyMemberFlag MemberFlags, const char* MemberDoc)
{
    int type = 0;
    switch (MemberType) {
    case TPyMemberType::mtShort:
    case TPyMemberType::mtInt:
    case TPyMemberType::mtLong:
    case TPyMemberType::mtFloat:
    case TPyMemberType::mtDouble:
    case TPyMemberType::mtString:
    case TPyMemberType::mtObject:
    case TPyMemberType::mtChar:
    case TPyMemberType::mtByte:
    case TPyMemberType::mtUByte:
    case TPyMemberType::mtUShort:
    case TPyMemberType::mtUInt:
    case TPyMemberType::mtULong:
    case TPyMemberType::mtStringInplace:
        type = static_cast<int>(MemberType);
        break;
    case TPyMemberType::mtObjectEx:
        type = 16;
        break;
    default:
        throw platform::Exception(QStringLiteral("Unknown member type"));
    }
    int flags = 0;
    switch (MemberFlags) {
    case TPyMemberFlag::mfDefault:
        flags = 0;
        break;
    case TPyMemberFlag::mfReadOnly:
        flags = 1;
        break;
    case TPyMemberFlag::mfReadRestricted:
        flags = 2;
        break;
    case TPyMemberFlag::mfWriteRestricted:
        flags = 4;
        break;
    case TPyMemberFlag::mfRestricted:
        flags = 6;
        break;
    default:
        throw platform::Exception(QStringLiteral("Unknown member flag"));
    }
    if (FMembers.Full())
        GrowMembers();
    PyMemberDef& e = FMembers.Append();
    e.name = MemberName;
    e.type = type;
    e.offset = MemberOffset + MemberOffsetBase();
    e.flags = flags;
    e.doc = MemberDoc;
    return &e;
}

void TMembersContainer::ClearMembers()
{
    FMembers.Clear();
}

PyMemberDef& TMembersContainer::Members(int Index) const
{
    if (!FMembers.Holds(Index))
        IndexError(Index);
    return FMembers[Index];
}

void TMembersContainer::Finalize()
{
    if (!IsDestroying())
        ClearMembers();
    TMethodsContainer::Finalize();
}

// ------------------------------------------------------------------ accessors

TGetSetContainer::TGetSetContainer(TComponent* AOwner) : TMembersContainer(AOwner) {}

TGetSetContainer::~TGetSetContainer()
{
    Destroying();
    if (FInitialized)
        TGetSetContainer::Finalize();
}

void TGetSetContainer::GrowGetSets() { FGetSets.Grow(); }

PyGetSetDef* TGetSetContainer::AddGetSet(const char* AName, getter AGet, setter ASet, const char* ADoc,
                                         void* AClosure)
{
    if (FGetSets.Full())
        GrowGetSets();
    PyGetSetDef& e = FGetSets.Append();
    e.name = AName;
    e.get = AGet;
    e.set = ASet;
    e.doc = ADoc;
    e.closure = AClosure;
    return &e;
}

void TGetSetContainer::ClearGetSets()
{
    FGetSets.Clear();
}

PyGetSetDef& TGetSetContainer::GetSet(int Index) const
{
    if (!FGetSets.Holds(Index))
        IndexError(Index);
    return FGetSets[Index];
}

void TGetSetContainer::Finalize()
{
    if (!IsDestroying())
        ClearGetSets();
    TMembersContainer::Finalize();
}

// ------------------------------------------------------------------ errors

TError::TError(TErrors* ACollection) : FCollection(ACollection) {}

TError::~TError() = default;

TPythonModule* TError::Owner() const { return FCollection ? FCollection->Module() : nullptr; }

void TError::SetName(const QByteArray& Value)
{
    if (Value == FName)
        return;
    if (Value.isEmpty()) {
        FName = Value;
        FChanged = true;
        return;
    }
    TPythonModule* owner = Owner();
    if (FCollection) {
        for (int i = 0; i < FCollection->Count(); ++i) {
            const TError& other = FCollection->Items(i);
            if (&other != this && other.FName == Value)
                Fail(QStringLiteral("In module \"%s\", there's already an error named \"%s\""),
                     {Q(owner ? owner->ModuleName() : QByteArray()), Q(Value)});
        }
    }
    if (FErrorType == TErrorType::etClass && owner && owner->Engine() && !FName.isEmpty()) {
        for (TPythonModule* m : EngineModules(owner->Engine()))
            for (int i = 0; i < m->Errors().Count(); ++i) {
                TParentClassError& p = m->Errors().Items(i).ParentClass();
                const bool namesOwner = p.Module() == owner->ModuleName() || (p.Module().isEmpty() && m == owner);
                if (namesOwner && p.Name() == FName)
                    p.SetName(Value);
            }
    }
    FName = Value;
    FChanged = true;
}

void TError::SetText(const QByteArray& Value)
{
    FText = Value;
    FChanged = true;
}

void TError::SetErrorType(TErrorType Value)
{
    FErrorType = Value;
    if (Value == TErrorType::etString)
        FParentClass.SetName(QByteArray());
    FChanged = true;
}

void TError::SetParentClass(const TParentClassError& Value)
{
    FParentClass.Assign(Value);
    FChanged = true;
}

void TError::BuildError(const QByteArray& ModuleName)
{
    if (FError)
        return;
    if (FName.isEmpty())
        Fail(QStringLiteral("Error without name in module \"%s\""), {Q(ModuleName)});
    if (FText.isEmpty())
        FText = FName;
    TPythonModule* owner = Owner();
    if (!owner)
        throw platform::Exception(QStringLiteral("Error without module"));
    owner->CheckEngine();
    TPythonEngine& e = *owner->Engine();
    if (FErrorType == TErrorType::etString) {
        // Kept for the interpreter's life, as an error class is.
        FError = e.PyUnicodeFromString(FText).Release();
    } else {
        PPyObject parent = nullptr;
        if (!FParentClass.Name().isEmpty()) {
            PPyObject module = nullptr;
            if (!FParentClass.Module().isEmpty()) {
                module = e.PyImport_AddModule(FParentClass.Module().constData());
                if (!module)
                    e.PyErr_Clear();
            } else {
                module = e.FindModule(ModuleName);
            }
            if (!module)
                Fail(QStringLiteral("Could not find module containing the parent class of error \"%s\""),
                     {Q(FName)});
            PPyObject dict = e.PyModule_GetDict(module);
            parent = dict ? e.PyDict_GetItemString(dict, FParentClass.Name().constData()) : nullptr;
            if (!parent)
                Fail(QStringLiteral("Could not find the parent class \"%s\" of error \"%s\""),
                     {Q(FParentClass.Name()), Q(FName)});
            if (!e.PyClass_Check(parent) && !e.PyType_CheckExact(parent))
                Fail(QStringLiteral("The object \"%s\" in module \"%s\" is not a class"),
                     {Q(FParentClass.Name()),
                      Q(FParentClass.Module().isEmpty() ? ModuleName : FParentClass.Module())});
        }
        const QByteArray qualified = ModuleName + '.' + FName;
        FError = e.PyErr_NewException(qualified.constData(), parent, nullptr);
    }
    if (!FError) {
        if (e.PyErr_Occurred())
            e.PyErr_Clear();
        Fail(QStringLiteral("Could not create error \"%s\""), {Q(FName)});
    }
}

void TError::RaiseError(const QByteArray& msg)
{
    TPythonModule* owner = Owner();
    if (!owner)
        throw platform::Exception(QStringLiteral("Error without module"));
    owner->CheckEngine();
    owner->Engine()->PyErr_SetString(FError, msg.constData());
}

void TError::RaiseErrorObj(const QByteArray& msg, PPyObject obj)
{
    TPythonModule* owner = Owner();
    if (!owner)
        throw platform::Exception(QStringLiteral("Error without module"));
    owner->CheckEngine();
    TPythonEngine& e = *owner->Engine();
    if (!e.PyDict_Check(obj)) {
        e.PyErr_SetObject(FError, obj);
        return;
    }
    TPyRef args = TPyRef::Steal(e, e.PyTuple_New(0));
    if (!args)
        throw platform::Exception(QStringLiteral("TError.RaiseErrorObj: Could not create an empty tuple"));
    const TPyRef res = TPyRef::Steal(e, e.PyEval_CallObjectWithKeywords(FError, args.Get(), nullptr));
    if (!res)
        Fail(QStringLiteral("TError.RaiseErrorObj: Could not create an instance of \"%s\""), {Q(FName)});
    if (e.PyObject_IsInstance(res.Get(), *e.PyExc_Exception) != 1)
        throw platform::Exception(QStringLiteral("TError.RaiseErrorObj: I didn't get an instance"));
    args = TPyRef::Steal(e, e.PyTuple_New(1));
    if (!args)
        throw platform::Exception(QStringLiteral("TError.RaiseErrorObj: Could not create an empty tuple"));
    e.PyTuple_SetItem(args.Get(), 0, e.PyUnicodeFromString(msg).Release());
    const TPyRef instance = TPyRef::Steal(e, e.PyEval_CallObjectWithKeywords(FError, args.Get(), nullptr));
    if (!instance)
        Fail(QStringLiteral("TError.RaiseErrorObj: Could not create an instance of \"%s\""), {Q(FName)});
    const TPyRef keys = TPyRef::Steal(e, e.PyDict_Keys(obj));
    for (Py_ssize_t i = 0; keys && i < e.PySequence_Length(keys.Get()); ++i) {
        const TPyRef key = TPyRef::Steal(e, e.PySequence_GetItem(keys.Get(), i));
        PPyObject value = key ? e.PyDict_GetItem(obj, key.Get()) : nullptr;
        if (value)
            e.PyObject_SetAttr(instance.Get(), key.Get(), value);
    }
    e.PyErr_SetObject(FError, instance.Get());
}

TError& TErrors::Add()
{
    FItems.push_back(std::make_unique<TError>(this));
    return *FItems.back();
}

// ------------------------------------------------------------------ module

TPythonModule::TPythonModule(TComponent* AOwner) : TMethodsContainer(AOwner)
{
    FErrors = std::make_unique<TErrors>(this);
}

TPythonModule::~TPythonModule()
{
    Destroying();
    if (FInitialized)
        TPythonModule::Finalize();
    // Types that publish here learn of the destruction through their free notification.
    FClients.clear();
}

void TPythonModule::SetModuleName(const QByteArray& Value)
{
    if (Value == FModuleName)
        return;
    if (!Value.isEmpty() && FEngine && !FModuleName.isEmpty()) {
        for (TPythonModule* m : EngineModules(FEngine))
            for (int i = 0; i < m->Errors().Count(); ++i) {
                TParentClassError& p = m->Errors().Items(i).ParentClass();
                if (p.Module() == FModuleName)
                    p.SetModule(Value);
            }
    }
    FModuleName = Value;
}

void TPythonModule::AddClient(TEngineClient* Client)
{
    if (Client && std::find(FClients.begin(), FClients.end(), Client) == FClients.end())
        FClients.push_back(Client);
}

void TPythonModule::RemoveClient(TEngineClient* Client)
{
    FClients.erase(std::remove(FClients.begin(), FClients.end(), Client), FClients.end());
}

void TPythonModule::Initialize()
{
    if (FInitialized)
        return;
    TMethodsContainer::Initialize();
    FModule = nullptr;
    MakeModule();
    for (TEngineClient* c : std::vector<TEngineClient*>(FClients))
        c->ModuleReady();
    BuildErrors();
    if (OnAfterInitialization)
        OnAfterInitialization(this);
}

void TPythonModule::InitializeForNewInterpreter()
{
    const bool wasInitialized = FInitialized;
    PPyObject oldModule = FModule;
    FInitialized = false;
    FModule = nullptr;
    try {
        Initialize();
    } catch (...) {
        FInitialized = wasInitialized;
        FModule = oldModule;
        throw;
    }
    FInitialized = wasInitialized;
    FModule = oldModule;
}

void TPythonModule::MakeModule()
{
    CheckEngine();
    if (FModule)
        return;
    std::memset(static_cast<void*>(&FModuleDef), 0, sizeof(FModuleDef));
    FModuleDef.m_base.ob_base.ob_refcnt = 1;
    FModuleDef.m_name = FModuleName.constData();
    FModuleDef.m_methods = FMethods.Data();
    FModuleDef.m_size = -1;
    FModule = FEngine->Py_InitModule(FModuleDef);
    DefineDocString();
}

void TPythonModule::DefineDocString()
{
    if (FDocString.isEmpty())
        return;
    TPythonEngine& e = *FEngine;
    const TPyRef doc = TPyRef::Steal(e, e.PyUnicode_FromString(DocText(FDocString).constData()));
    e.PyObject_SetAttrString(FModule, "__doc__", doc.Get());
    e.CheckError();
}

void TPythonModule::BuildErrors()
{
    CheckEngine();
    TPythonEngine& e = *FEngine;
    PPyObject dict = e.PyModule_GetDict(FModule);
    if (!dict)
        return;
    for (int i = 0; i < FErrors->Count(); ++i) {
        TError& err = FErrors->Items(i);
        err.BuildError(FModuleName);
        e.PyDict_SetItemString(dict, err.Name().constData(), err.Error());
    }
}

TError& TPythonModule::ErrorByName(const QByteArray& AName)
{
    for (int i = 0; i < FErrors->Count(); ++i)
        if (FErrors->Items(i).Name().compare(AName, Qt::CaseInsensitive) == 0)
            return FErrors->Items(i);
    Fail(QStringLiteral("Could not find error \"%s\""), {Q(AName)});
}

void TPythonModule::RaiseError(const QByteArray& error, const QByteArray& msg) { ErrorByName(error).RaiseError(msg); }

void TPythonModule::RaiseErrorFmt(const QByteArray& error, const QString& format, const QStringList& Args)
{
    QString text;
    auto arg = Args.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'%' && i + 1 < format.size() && (format.at(i + 1) == u's' || format.at(i + 1) == u'd') &&
            arg != Args.end()) {
            text += *arg++;
            ++i;
            continue;
        }
        text += c;
    }
    RaiseError(error, text.toUtf8());
}

void TPythonModule::RaiseErrorObj(const QByteArray& error, const QByteArray& msg, PPyObject obj)
{
    ErrorByName(error).RaiseErrorObj(msg, obj);
}

void TPythonModule::SetVar(const QByteArray& varName, PPyObject value)
{
    if (!FEngine || !FModule)
        throw EPythonError(platform::Format(
            QStringLiteral("Can't set var \"%s\" in module \"%s\", because it is not yet initialized"),
            {Q(varName), Q(FModuleName)}));
    if (FEngine->PyObject_SetAttrString(FModule, varName.constData(), value) != 0)
        throw EPythonError(platform::Format(QStringLiteral("Could not set var \"%s\" in module \"%s\""),
                                            {Q(varName), Q(FModuleName)}));
}

TPyRef TPythonModule::GetVar(const QByteArray& varName)
{
    if (!FEngine || !FModule)
        throw EPythonError(platform::Format(
            QStringLiteral("Can't get var \"%s\" in module \"%s\", because it is not yet initialized"),
            {Q(varName), Q(FModuleName)}));
    TPyRef result = TPyRef::Steal(*FEngine, FEngine->PyObject_GetAttrString(FModule, varName.constData()));
    FEngine->PyErr_Clear();
    return result;
}

void TPythonModule::DeleteVar(const QByteArray& varName)
{
    if (!FEngine || !FModule)
        throw EPythonError(platform::Format(
            QStringLiteral("Can't delete var \"%s\" in module \"%s\", because it is not yet initialized"),
            {Q(varName), Q(FModuleName)}));
    PPyObject dict = FEngine->PyModule_GetDict(FModule);
    if (!dict)
        throw EPythonError(
            platform::Format(QStringLiteral("Can't get __dict__ of module \"%s\""), {Q(FModuleName)}));
    if (FEngine->PyDict_DelItemString(dict, varName.constData()) != 0)
        FEngine->PyErr_Clear(); // a missing name is not worth an error
}

void TPythonModule::ClearVars()
{
    if (!FEngine || !FModule)
        return;
    if (PPyObject dict = FEngine->PyModule_GetDict(FModule))
        FEngine->PyDict_Clear(dict);
}

void TPythonModule::SetVarFromVariant(const QByteArray& varName, const QVariant& value)
{
    CheckEngine();
    const TPyRef obj = FEngine->VariantAsPyObject(value);
    SetVar(varName, obj.Get());
}

QVariant TPythonModule::GetVarAsVariant(const QByteArray& varName)
{
    const TPyRef obj = GetVar(varName);
    if (!obj)
        return {};
    return FEngine->PyObjectAsVariant(obj.Get());
}

namespace {
// Any program that uses host modules also gets the stream redirection step.
const bool kRedirectionInstalled = (InstallPythonIORedirection(), true);
} // namespace

} // namespace pybridge
