#pragma once
// Our own declarations of the runtime's published 64-bit (LP64) object and
// table layouts. Only what the host reads or hands to the runtime is spelled out.
#include <cstddef>
#include <cstdint>

namespace pybridge {

using Py_ssize_t = std::ptrdiff_t;
using Py_hash_t = Py_ssize_t;

struct PyTypeObject;

struct PyObject {
    Py_ssize_t ob_refcnt;
    PyTypeObject* ob_type;
};
using PPyObject = PyObject*;
using PPPyObject = PyObject**;

struct PyVarObject {
    PyObject ob_base;
    Py_ssize_t ob_size;
};

// Size of the object header: "object plus the header" is where a host type's own data begins.
inline constexpr std::size_t PyObjectHeaderSize = sizeof(PyObject);
static_assert(PyObjectHeaderSize == 16);

using destructor = void (*)(PPyObject);
using getattrfunc = PPyObject (*)(PPyObject, char*);
using setattrfunc = int (*)(PPyObject, char*, PPyObject);
using reprfunc = PPyObject (*)(PPyObject);
using hashfunc = Py_hash_t (*)(PPyObject);
using ternaryfunc = PPyObject (*)(PPyObject, PPyObject, PPyObject);
using binaryfunc = PPyObject (*)(PPyObject, PPyObject);
using unaryfunc = PPyObject (*)(PPyObject);
using getattrofunc = PPyObject (*)(PPyObject, PPyObject);
using setattrofunc = int (*)(PPyObject, PPyObject, PPyObject);
using visitproc = int (*)(PPyObject, void*);
using traverseproc = int (*)(PPyObject, visitproc, void*);
using inquiry = int (*)(PPyObject);
using richcmpfunc = PPyObject (*)(PPyObject, PPyObject, int);
using getiterfunc = PPyObject (*)(PPyObject);
using iternextfunc = PPyObject (*)(PPyObject);
using descrgetfunc = PPyObject (*)(PPyObject, PPyObject, PPyObject);
using descrsetfunc = int (*)(PPyObject, PPyObject, PPyObject);
using initproc = int (*)(PPyObject, PPyObject, PPyObject);
using allocfunc = PPyObject (*)(PyTypeObject*, Py_ssize_t);
using newfunc = PPyObject (*)(PyTypeObject*, PPyObject, PPyObject);
using freefunc = void (*)(void*);
using vectorcallfunc = PPyObject (*)(PPyObject, PPyObject const*, std::size_t, PPyObject);
using PyCFunction = PPyObject (*)(PPyObject, PPyObject);
using getter = PPyObject (*)(PPyObject, void*);
using setter = int (*)(PPyObject, PPyObject, void*);

struct PyMethodDef {
    const char* ml_name;
    void* ml_meth;
    int ml_flags;
    const char* ml_doc;
};
static_assert(sizeof(PyMethodDef) == 32);

struct PyMemberDef {
    const char* name;
    int type;
    Py_ssize_t offset;
    int flags;
    const char* doc;
};
static_assert(sizeof(PyMemberDef) == 40);

struct PyGetSetDef {
    const char* name;
    getter get;
    setter set;
    const char* doc;
    void* closure;
};
static_assert(sizeof(PyGetSetDef) == 40);

struct PyModuleDef_Base {
    PyObject ob_base;
    PPyObject (*m_init)();
    Py_ssize_t m_index;
    PPyObject m_copy;
};

struct PyModuleDef {
    PyModuleDef_Base m_base;
    const char* m_name;
    const char* m_doc;
    Py_ssize_t m_size;
    PyMethodDef* m_methods;
    void* m_slots;
    traverseproc m_traverse;
    inquiry m_clear;
    freefunc m_free;
};
static_assert(sizeof(PyModuleDef) == 104);

struct PyTypeObject {
    PyVarObject ob_base;
    const char* tp_name;
    Py_ssize_t tp_basicsize;
    Py_ssize_t tp_itemsize;
    destructor tp_dealloc;
    Py_ssize_t tp_vectorcall_offset;
    getattrfunc tp_getattr;
    setattrfunc tp_setattr;
    void* tp_as_async;
    reprfunc tp_repr;
    void* tp_as_number;
    void* tp_as_sequence;
    void* tp_as_mapping;
    hashfunc tp_hash;
    ternaryfunc tp_call;
    reprfunc tp_str;
    getattrofunc tp_getattro;
    setattrofunc tp_setattro;
    void* tp_as_buffer;
    unsigned long tp_flags;
    const char* tp_doc;
    traverseproc tp_traverse;
    inquiry tp_clear;
    richcmpfunc tp_richcompare;
    Py_ssize_t tp_weaklistoffset;
    getiterfunc tp_iter;
    iternextfunc tp_iternext;
    PyMethodDef* tp_methods;
    PyMemberDef* tp_members;
    PyGetSetDef* tp_getset;
    PyTypeObject* tp_base;
    PPyObject tp_dict;
    descrgetfunc tp_descr_get;
    descrsetfunc tp_descr_set;
    Py_ssize_t tp_dictoffset;
    initproc tp_init;
    allocfunc tp_alloc;
    newfunc tp_new;
    freefunc tp_free;
    inquiry tp_is_gc;
    PPyObject tp_bases;
    PPyObject tp_mro;
    PPyObject tp_cache;
    PPyObject tp_subclasses;
    PPyObject tp_weaklist;
    destructor tp_del;
    unsigned int tp_version_tag;
    destructor tp_finalize;
    vectorcallfunc tp_vectorcall;
    // Written by 3.12 (tp_watched) and 3.13 (tp_versions_used); 3.11 ends
    // before them. A type the host declares must have room for them, or a
    // later runtime writes into whatever follows it.
    unsigned char tp_watched;
    std::uint16_t tp_versions_used;
};
static_assert(offsetof(PyTypeObject, tp_name) == 24);
static_assert(offsetof(PyTypeObject, tp_flags) == 168);
static_assert(offsetof(PyTypeObject, tp_watched) == 408);
static_assert(offsetof(PyTypeObject, tp_versions_used) == 410);
static_assert(sizeof(PyTypeObject) == 416);

struct Py_complex {
    double real;
    double imag;
};

struct PyCompilerFlags {
    int cf_flags;
    int cf_feature_version;
};

struct PyThreadState;
struct PyInterpreterState;
struct PyFrameObject;

// A trace function of the running thread: 0 goes on; -1, with an error set,
// raises that error in the traced frame.
using Py_tracefunc = int (*)(PPyObject, PyFrameObject*, int what, PPyObject arg);
// Trace events.
inline constexpr int PyTrace_CALL = 0;
inline constexpr int PyTrace_EXCEPTION = 1;
inline constexpr int PyTrace_LINE = 2;
inline constexpr int PyTrace_RETURN = 3;

// Type flag bits.
inline constexpr unsigned long Py_TPFLAGS_HAVE_GC = 1UL << 14;
inline constexpr unsigned long Py_TPFLAGS_BASETYPE = 1UL << 10;
inline constexpr unsigned long Py_TPFLAGS_HEAPTYPE = 1UL << 9;
inline constexpr unsigned long Py_TPFLAGS_READY = 1UL << 12;
inline constexpr unsigned long Py_TPFLAGS_LONG_SUBCLASS = 1UL << 24;
inline constexpr unsigned long Py_TPFLAGS_DEFAULT = 0;

// Method flags.
inline constexpr int METH_VARARGS = 0x0001;
inline constexpr int METH_KEYWORDS = 0x0002;
inline constexpr int METH_NOARGS = 0x0004;
inline constexpr int METH_O = 0x0008;
inline constexpr int METH_CLASS = 0x0010;
inline constexpr int METH_STATIC = 0x0020;

// Compiler start tokens.
inline constexpr int single_input = 256;
inline constexpr int file_input = 257;
inline constexpr int eval_input = 258;

// Rich comparison operators.
inline constexpr int Py_LT = 0, Py_LE = 1, Py_EQ = 2, Py_NE = 3, Py_GT = 4, Py_GE = 5;

} // namespace pybridge
