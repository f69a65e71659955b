#pragma once
// The loaded runtime as a table of typed entry points, one field per C-API
// symbol, plus the published macros of the C API (reference counting, type
// checks, module creation) done on the host side.
#include "pybridge/DynamicDll.h"
#include "pybridge/PythonSymbols.h"
#include "pybridge/PythonTypes.h"

#include <QByteArray>
#include <QList>

namespace pybridge {

class TPyRef;

using TPyArg_Parse = int (*)(PPyObject, const char*, ...);
using TPyArg_ParseTupleAndKeywords = int (*)(PPyObject, PPyObject, const char*, char**, ...);
using TPy_BuildValue = PPyObject (*)(const char*, ...);

class TPythonInterface : public TDynamicDll {
public:
    explicit TPythonInterface(TComponent* AOwner = nullptr);

    // Binds every symbol; public so that a caller can rebind.
    void MapDll();
    // Raises "Python is not properly initialized" unless the interpreter runs.
    void RequireInitialized() const;

    // The names MapDll requires, in order (371 names).
    static const QList<QByteArray>& SymbolNames();

    PPyObject Py_CompileString(const char* str, const char* filename, int start) const;
    // Only bound for runtimes before 3.10.
    void* PyParser_SimpleParseString(const char* str, int start) const;

    // Reference counting (callers hold the interpreter lock).
    void Py_INCREF(PPyObject op) const;
    void Py_DECREF(PPyObject op) const;
    void Py_XINCREF(PPyObject op) const
    {
        if (op)
            Py_INCREF(op);
    }
    void Py_XDECREF(PPyObject op) const
    {
        if (op)
            Py_DECREF(op);
    }
    void Py_CLEAR(PPyObject& op) const;
    // True when the runtime would leave this object's count alone (3.12 and later).
    bool IsImmortal(PPyObject op) const;

    // Type checks; a null object gives false.
    bool PyObject_TypeCheck(PPyObject obj, PyTypeObject* t) const;
    bool PyBytes_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyBytes_Type); }
    bool PyByteArray_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyByteArray_Type); }
    bool PyFloat_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyFloat_Type); }
    bool PyLong_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyLong_Type); }
    bool PyTuple_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyTuple_Type); }
    bool PyList_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyList_Type); }
    bool PyDict_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyDict_Type); }
    bool PyModule_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyModule_Type); }
    bool PyUnicode_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyUnicode_Type); }
    bool PyBool_Check(PPyObject o) const { return PyObject_TypeCheck(o, PyBool_Type); }
    bool PyBytes_CheckExact(PPyObject o) const { return IsExact(o, PyBytes_Type); }
    bool PyByteArray_CheckExact(PPyObject o) const { return IsExact(o, PyByteArray_Type); }
    bool PyFloat_CheckExact(PPyObject o) const { return IsExact(o, PyFloat_Type); }
    bool PyLong_CheckExact(PPyObject o) const { return IsExact(o, PyLong_Type); }
    bool PyTuple_CheckExact(PPyObject o) const { return IsExact(o, PyTuple_Type); }
    bool PyList_CheckExact(PPyObject o) const { return IsExact(o, PyList_Type); }
    bool PyDict_CheckExact(PPyObject o) const { return IsExact(o, PyDict_Type); }
    bool PyModule_CheckExact(PPyObject o) const { return IsExact(o, PyModule_Type); }
    bool PyUnicode_CheckExact(PPyObject o) const { return IsExact(o, PyUnicode_Type); }
    bool PyType_CheckExact(PPyObject o) const { return IsExact(o, PyType_Type); }
    bool PyMethod_Check(PPyObject o) const { return IsExact(o, PyMethod_Type); }
    bool PySlice_Check(PPyObject o) const { return IsExact(o, PySlice_Type); }
    bool PyEnum_Check(PPyObject o) const { return IsExact(o, PyEnum_Type); }
    bool PyClass_Check(PPyObject o) const;
    bool PyFunction_Check(PPyObject o) const
    {
        return o && (o->ob_type == PyCFunction_Type || o->ob_type == PyFunction_Type);
    }
    // The runtime's own test where it exports one (every supported version
    // does); otherwise a type whose slot is the runtime's "not implemented"
    // placeholder (every class that defines no __next__) is no iterator either.
    bool PyIter_Check(PPyObject o) const
    {
        if (!o)
            return false;
        if (FIterCheck)
            return FIterCheck(o) != 0;
        return o->ob_type->tp_iternext != nullptr &&
               reinterpret_cast<void*>(o->ob_type->tp_iternext) != FNextNotImplemented;
    }
    bool PyWeakref_CheckRef(PPyObject o) const { return IsExact(o, _PyWeakref_RefType); }
    bool PyWeakref_CheckProxy(PPyObject o) const
    {
        return o && (o->ob_type == _PyWeakref_ProxyType || o->ob_type == _PyWeakref_CallableProxyType);
    }
    bool PyWeakref_Check(PPyObject o) const { return PyWeakref_CheckRef(o) || PyWeakref_CheckProxy(o); }
    bool PyType_IS_GC(PyTypeObject* t) const { return t && (t->tp_flags & Py_TPFLAGS_HAVE_GC) != 0; }
    bool PyObject_IS_GC(PPyObject o) const;

    // Creates a module from its definition and enters it in the module table (new reference).
    PPyObject Py_InitModule(PyModuleDef& AModuleDef);
    // Takes over a new reference; a null one raises the pending Python error
    // as a host exception (with none pending, the null reference is returned).
    TPyRef StealOrRaise(PPyObject object);

    bool Initialized() const { return FInitialized; }
    bool Finalizing() const { return FFinalizing; }
    int MajorVersion() const { return FMajorVersion; }
    int MinorVersion() const { return FMinorVersion; }
    // The loaded runtime's own version number ("3.13.1"); empty before a load.
    const QString& RuntimeVersion() const { return FRuntimeVersion; }
    // Set when the loaded library's file name states another version than
    // the runtime's own; says which was used.
    const QString& VersionNote() const { return FVersionNote; }
    const QString& BuiltInModuleName() const { return FBuiltInModuleName; }
    // False after a load whose binding stopped at a missing symbol.
    bool BindingComplete() const { return FBindingComplete; }

protected:
    void AfterLoad() override;
    QString QuitMessage() override;
    // The version comes from the runtime itself: a name can lie (a link named
    // for one version pointing at another), and the layouts and reference
    // rules used depend on it. Unknown versions and free-threaded builds are
    // refused before anything is bound.
    QString RefusalOfLoadedLibrary() override;
    // Raises the pending Python error as a host exception; the engine fills it in.
    virtual void CheckError(bool ACatchStopEx = false);
    bool IsExact(PPyObject o, PyTypeObject* t) const { return o && t && o->ob_type == t; }

    bool FInitialized = false;
    bool FFinalizing = false;
    int FMajorVersion = 0;
    int FMinorVersion = 0;
    QString FRuntimeVersion;
    QString FVersionNote;
    QString FBuiltInModuleName;

private:
    friend struct TPythonInterfaceTestSeam;

public:
    // One field per bound symbol, named like the symbol.
#define PYBRIDGE_DECLARE_DATA(type, field, sym) type field = nullptr;
#define PYBRIDGE_DECLARE_FUNCTION(ret, field, args, sym) ret(*field) args = nullptr;
    PYBRIDGE_DATA_SYMBOLS(PYBRIDGE_DECLARE_DATA)
    PYBRIDGE_FUNCTION_SYMBOLS(PYBRIDGE_DECLARE_FUNCTION)
#undef PYBRIDGE_DECLARE_DATA
#undef PYBRIDGE_DECLARE_FUNCTION
    // Bound from "_PyObject_New" as well, besides PyObject_New.
    PPyObject (*_PyObject_New)(PyTypeObject*) = nullptr;

protected:
    // The runtime's placeholder iterator-next slot, when it exports one.
    void* FNextNotImplemented = nullptr;
    int (*FIterCheck)(PPyObject) = nullptr;
    // The runtime's UTF-8 mode switch, read when the interpreter starts.
    int* FUTF8Mode = nullptr;
    bool FBindingComplete = false;
};

// For tests only: stands in for another runtime version.
struct TPythonInterfaceTestSeam {
    static void SetMinorVersion(TPythonInterface& api, int minor) { api.FMinorVersion = minor; }
};

} // namespace pybridge
