// Our own declarations of the runtime's structures, checked against the
// loaded runtime itself: what Python says of its types must be what our
// fields read, and a type the host declares must hold everything the runtime
// writes into it.
#include "PyCoreSupport.h"

#include "pybridge/PyRef.h"
#include "pybridge/PythonEngine.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace pybridge;

namespace {

// A Python attribute of a type as an integer (the tests' own reference handling).
Py_ssize_t IntAttr(TPythonEngine& e, PPyObject type, const char* name)
{
    const TPyRef v = TPyRef::Steal(e, e.PyObject_GetAttrString(type, name));
    return v ? static_cast<Py_ssize_t>(e.PyLong_AsLongLong(v.Get())) : -999;
}

PPyObject AttrObject(TPythonEngine& e, PPyObject type, const char* name)
{
    const TPyRef v = TPyRef::Steal(e, e.PyObject_GetAttrString(type, name));
    return v.Get(); // the type keeps it alive
}

} // namespace

// Every field Python shows of a type, read through our declaration of the
// runtime's own type objects: a field at a wrong offset reads another's value.
TEST(Layout, OurTypeFieldsReadWhatPythonShows)
{
    TPythonEngine& e = pycore::Engine();
    for (PyTypeObject* t : {e.PyLong_Type, e.PyUnicode_Type, e.PyList_Type, e.PyDict_Type, e.PyType_Type,
                            e.PyBaseObject_Type, e.PyTuple_Type, e.PyBytes_Type, e.PyFloat_Type, e.PyFunction_Type}) {
        const auto o = reinterpret_cast<PPyObject>(t);
        SCOPED_TRACE(t->tp_name);
        const TPyRef name = TPyRef::Steal(e, e.PyObject_GetAttrString(o, "__name__"));
        EXPECT_EQ(QString::fromUtf8(t->tp_name), e.PyObjectAsString(name.Get()));
        EXPECT_EQ(t->tp_basicsize, IntAttr(e, o, "__basicsize__"));
        EXPECT_EQ(t->tp_itemsize, IntAttr(e, o, "__itemsize__"));
        EXPECT_EQ(static_cast<Py_ssize_t>(t->tp_flags), IntAttr(e, o, "__flags__"));
        EXPECT_EQ(t->tp_weaklistoffset, IntAttr(e, o, "__weakrefoffset__"));
        EXPECT_EQ(t->tp_dictoffset, IntAttr(e, o, "__dictoffset__"));
        EXPECT_EQ(t->tp_base ? reinterpret_cast<PPyObject>(t->tp_base) : e.Py_None, AttrObject(e, o, "__base__"));
        EXPECT_EQ(t->tp_mro, AttrObject(e, o, "__mro__"));
        EXPECT_EQ(t->tp_bases, AttrObject(e, o, "__bases__"));
        EXPECT_EQ(o->ob_type, e.PyType_Type);
    }
}

namespace {

struct TGuardedType {
    PyTypeObject type;
    unsigned char guard[64];
};
TGuardedType gProbe;

} // namespace

// A type declared by the host, used from Python in every way that makes the
// runtime update it (attribute caches, subclasses, class attributes changed,
// instances): nothing may be written past our declaration of it.
TEST(Layout, TheRuntimeWritesNothingPastAHostType)
{
    TPythonEngine& e = pycore::Engine();
    std::memset(&gProbe, 0, sizeof gProbe);
    std::memset(gProbe.guard, 0xA5, sizeof gProbe.guard);
    gProbe.type.ob_base.ob_base.ob_refcnt = 1;
    gProbe.type.ob_base.ob_base.ob_type = e.PyType_Type;
    gProbe.type.tp_name = "layout_probe.Probe";
    gProbe.type.tp_basicsize = PyObjectHeaderSize;
    gProbe.type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    gProbe.type.tp_new = e.PyType_GenericNew;
    ASSERT_EQ(e.PyType_Ready(&gProbe.type), 0);
    const TPyRef main = TPyRef::Borrow(e, e.GetMainModule());
    ASSERT_EQ(e.PyObject_SetAttrString(main.Get(), "Probe", reinterpret_cast<PPyObject>(&gProbe.type)), 0);
    e.ExecString("for i in range(300):\n"
                 "    Probe.__doc__, Probe.__name__, getattr(Probe, 'missing%d' % i, None)\n"
                 "    class Sub(Probe):\n"
                 "        x = i\n"
                 "    Sub.x = i + 1\n"
                 "    Sub().x, Probe(), Sub.mro()\n"
                 "del Sub, i\n");
    for (unsigned char b : gProbe.guard)
        ASSERT_EQ(b, 0xA5) << "the runtime wrote past our type object";
    // The versions that count assigned cache tags do so inside our declaration.
    if (e.MinorVersion() >= 13)
        EXPECT_GT(gProbe.type.tp_versions_used, 0);
    else
        EXPECT_EQ(gProbe.type.tp_versions_used, 0);
    e.ExecString("del Probe\n");
}
