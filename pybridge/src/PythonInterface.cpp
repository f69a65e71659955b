#include "pybridge/PythonInterface.h"
#include "pybridge/PyRef.h"

#include "platform/Dialogs.h"

#include <cstdio>
#include <cstring>

namespace pybridge {

TPythonInterface::TPythonInterface(TComponent* AOwner) : TDynamicDll(AOwner)
{
    const TPythonVersionProp& newest = KnownPythonVersions[KnownPythonVersionCount - 1];
    FInitialized = false;
    SetDllName(QString::fromLatin1(newest.DllName));
    SetAPIVersion(newest.APIVersion);
    SetRegVersion(QString::fromLatin1(newest.RegVersion));
    SetAutoUnload(true);
}

const QList<QByteArray>& TPythonInterface::SymbolNames()
{
    static const QList<QByteArray> names = [] {
        QList<QByteArray> n;
#define PYBRIDGE_NAME_DATA(type, field, sym) n.append(QByteArrayLiteral(sym));
#define PYBRIDGE_NAME_FUNCTION(ret, field, args, sym) n.append(QByteArrayLiteral(sym));
        PYBRIDGE_DATA_SYMBOLS(PYBRIDGE_NAME_DATA)
        PYBRIDGE_FUNCTION_SYMBOLS(PYBRIDGE_NAME_FUNCTION)
#undef PYBRIDGE_NAME_DATA
#undef PYBRIDGE_NAME_FUNCTION
        return n;
    }();
    return names;
}

QString TPythonInterface::QuitMessage()
{
    return QStringLiteral("Python could not be properly initialized. We must quit.");
}

QString TPythonInterface::RefusalOfLoadedLibrary()
{
    FRuntimeVersion.clear();
    FVersionNote.clear();
    using TGetVersion = const char* (*)();
    const auto getVersion = reinterpret_cast<TGetVersion>(ImportSymbol("Py_GetVersion", false));
    if (!getVersion)
        return QStringLiteral("no Python runtime: it exports no Py_GetVersion");
    TRuntimeVersion v = ParseRuntimeVersion(QString::fromUtf8(getVersion()));
    // Only a build without the global lock exports its shared-count helper.
    if (ImportSymbol("_Py_DecRefShared", false))
        v.FreeThreaded = true;
    if (QString refusal = RuntimeVersionRefusal(v); !refusal.isEmpty())
        return refusal;
    FMajorVersion = v.Major;
    FMinorVersion = v.Minor;
    FRuntimeVersion = v.Number;
    SetRegVersion(QStringLiteral("%1.%2").arg(v.Major).arg(v.Minor));
    if (const auto named = VersionStatedByName(DllName()); named && (named->Major != v.Major || named->Minor != v.Minor)) {
        FVersionNote = QStringLiteral("%1 is named for Python %2.%3 but is Python %4; Python %4 is used")
                           .arg(LoadedLibraryFile(), QString::number(named->Major), QString::number(named->Minor),
                                v.Number);
        std::fprintf(stderr, "%s\n", FVersionNote.toLocal8Bit().constData());
    }
    return QString();
}

void TPythonInterface::AfterLoad()
{
    TDynamicDll::AfterLoad();
    if (InExtensionModule()) {
        const TSplitVersion v = SplitVersion(RegVersion());
        if (!v.Ok)
            throw EDLLLoadError(QStringLiteral("Undetermined Python version."));
        FMajorVersion = v.Major;
        FMinorVersion = v.Minor;
    }
    FBuiltInModuleName = QStringLiteral("builtins");
    FBindingComplete = false;
    try {
        MapDll();
        FBindingComplete = true;
    } catch (const platform::Exception& e) {
        if (FatalMsgDlg())
            ShowErrorBox(e.Message());
        if (FatalAbort())
            Quit();
    }
}

namespace {

template <class T>
void Bind(TPythonInterface& self, T& field, const char* name, bool mustExist = true)
{
    field = reinterpret_cast<T>(self.ImportSymbol(name, mustExist));
}

} // namespace

void TPythonInterface::MapDll()
{
    const bool parserApi = FMajorVersion == 3 && FMinorVersion < 10;
#define PYBRIDGE_BIND_DATA(type, field, sym)                                                        \
    if (std::strcmp(sym, "PyExc_WindowsError") == 0) /* exists only on Windows */                  \
        Bind(*this, field, sym, false);                                                             \
    else                                                                                            \
        Bind(*this, field, sym);
#define PYBRIDGE_BIND_FUNCTION(ret, field, args, sym)                                               \
    if (std::strcmp(sym, "PyParser_SimpleParseStringFlags") == 0 || std::strcmp(sym, "PyNode_Free") == 0) { \
        field = nullptr;                                                                            \
        if (parserApi)                                                                              \
            Bind(*this, field, sym);                                                                \
    } else if (std::strcmp(sym, "PyMem_Malloc") == 0) {                                             \
        try {                                                                                       \
            Bind(*this, field, sym);                                                                \
        } catch (const std::exception&) {                                                          \
            field = nullptr;                                                                        \
        }                                                                                           \
    } else {                                                                                        \
        Bind(*this, field, sym);                                                                    \
        if (std::strcmp(sym, "PyLong_FromString") == 0)                                             \
            Bind(*this, field, sym);                                                                \
        if (std::strcmp(sym, "_PyObject_New") == 0)                                                 \
            Bind(*this, _PyObject_New, sym);                                                        \
    }
    PYBRIDGE_DATA_SYMBOLS(PYBRIDGE_BIND_DATA)
    PYBRIDGE_FUNCTION_SYMBOLS(PYBRIDGE_BIND_FUNCTION)
#undef PYBRIDGE_BIND_DATA
#undef PYBRIDGE_BIND_FUNCTION
    // This runtime has no WindowsError: the name stands for OSError, so that
    // such errors still map to a host class.
    if (!PyExc_WindowsError)
        PyExc_WindowsError = PyExc_OSError;
    FNextNotImplemented = ImportSymbol("_PyObject_NextNotImplemented", false);
    FIterCheck = reinterpret_cast<int (*)(PPyObject)>(ImportSymbol("PyIter_Check", false));
    FUTF8Mode = static_cast<int*>(ImportSymbol("Py_UTF8Mode", false));
}

void TPythonInterface::RequireInitialized() const
{
    if (!FInitialized)
        throw platform::Exception(QStringLiteral("Python is not properly initialized"));
}

PPyObject TPythonInterface::Py_CompileString(const char* str, const char* filename, int start) const
{
    return Py_CompileStringExFlags(str, filename, start, nullptr, -1);
}

void* TPythonInterface::PyParser_SimpleParseString(const char* str, int start) const
{
    return PyParser_SimpleParseStringFlags(str, start, 0);
}

bool TPythonInterface::IsImmortal(PPyObject op) const
{
    // From 3.12 the lower half of the count marks immortal objects by its sign.
    if (FMajorVersion > 3 || (FMajorVersion == 3 && FMinorVersion >= 12))
        return static_cast<int32_t>(op->ob_refcnt) < 0;
    return false;
}

void TPythonInterface::Py_INCREF(PPyObject op) const
{
    if (IsImmortal(op))
        return;
    ++op->ob_refcnt;
}

void TPythonInterface::Py_DECREF(PPyObject op) const
{
    if (IsImmortal(op))
        return;
    if (--op->ob_refcnt == 0)
        op->ob_type->tp_dealloc(op);
}

void TPythonInterface::Py_CLEAR(PPyObject& op) const
{
    if (!op)
        return;
    PPyObject tmp = op;
    op = nullptr;
    Py_DECREF(tmp);
}

bool TPythonInterface::PyObject_TypeCheck(PPyObject obj, PyTypeObject* t) const
{
    if (!obj)
        return false;
    if (obj->ob_type == t)
        return true;
    return obj->ob_type && t && PyType_IsSubtype(obj->ob_type, t) == 1;
}

bool TPythonInterface::PyClass_Check(PPyObject o) const
{
    return o && PyObject_IsInstance(o, reinterpret_cast<PPyObject>(PyType_Type)) == 1;
}

bool TPythonInterface::PyObject_IS_GC(PPyObject o) const
{
    if (!o || !PyType_IS_GC(o->ob_type))
        return false;
    return !o->ob_type->tp_is_gc || o->ob_type->tp_is_gc(o) == 1;
}

void TPythonInterface::CheckError(bool)
{
    if (PyErr_Occurred && PyErr_Occurred()) {
        PyErr_Print();
        throw platform::Exception(QStringLiteral("Python error"));
    }
}

TPyRef TPythonInterface::StealOrRaise(PPyObject object)
{
    TPyRef r = TPyRef::Steal(*this, object);
    if (!r)
        CheckError(false);
    return r;
}

PPyObject TPythonInterface::Py_InitModule(PyModuleDef& AModuleDef)
{
    RequireInitialized();
    TPyRef module = StealOrRaise(PyModule_Create2(&AModuleDef, APIVersion()));
    if (!module)
        throw platform::Exception(QStringLiteral("Could not create module"));
    if (PyDict_SetItemString(PyImport_GetModuleDict(), AModuleDef.m_name, module.Get()) != 0) {
        CheckError(false);
        throw platform::Exception(QStringLiteral("Could not create module"));
    }
    return module.Release();
}

} // namespace pybridge
