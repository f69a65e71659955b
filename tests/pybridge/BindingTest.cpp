// Binding the C API and the host-side macros of the C API.
#include "PyCoreSupport.h"

#include "ScriptedDialogs.h"

#include "pybridge/PythonEngine.h"
#include "pybridge/PythonInterface.h"

#include <gtest/gtest.h>

#include <QSet>

#include <cfenv>
#include <cstring>
#include <tuple>
#include <vector>
#include <dlfcn.h>

using namespace pybridge;

TEST(Binding, TheNameListHas371UniqueNamesAndTheSystemRuntimeExportsThem)
{
    const QList<QByteArray>& names = TPythonInterface::SymbolNames();
    ASSERT_EQ(names.size(), 371);
    EXPECT_EQ(QSet<QByteArray>(names.begin(), names.end()).size(), 371);
    EXPECT_EQ(names.first(), QByteArray("Py_DebugFlag"));
    EXPECT_EQ(names.at(8), QByteArray("_Py_NoneStruct"));
    EXPECT_EQ(names.last(), QByteArray("PyWeakref_NewRef"));

    void* h = dlopen(pycore::LibPython().toUtf8().constData(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(h, nullptr);
    QList<QByteArray> missing;
    for (const QByteArray& n : names)
        if (!dlsym(h, n.constData()))
            missing << n;
    dlclose(h);
    // Windows-only, and the parser interface that 3.10 dropped.
    EXPECT_EQ(missing, (QList<QByteArray>{"PyExc_WindowsError", "PyParser_SimpleParseStringFlags", "PyNode_Free"}));
}

TEST(Binding, EveryFieldIsBoundAgainstTheSystemRuntime)
{
    TPythonEngine& e = pycore::Engine();
    EXPECT_EQ(QStringLiteral("%1.%2").arg(e.MajorVersion()).arg(e.MinorVersion()), pycore::TestedVersion());
    EXPECT_EQ(e.BuiltInModuleName(), QStringLiteral("builtins"));
    EXPECT_EQ(e.PyParser_SimpleParseStringFlags, nullptr);
    EXPECT_EQ(e.PyNode_Free, nullptr);
    EXPECT_EQ(e.PyExc_WindowsError, e.PyExc_OSError);
    EXPECT_NE(e.PyMem_Malloc, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(e.PyObject_New), reinterpret_cast<void*>(e._PyObject_New));
    EXPECT_EQ(reinterpret_cast<void*>(e.PyObject_GC_New), dlsym(reinterpret_cast<void*>(e.DLLHandle()), "_PyObject_GC_New"));
    EXPECT_NE(e.PyWeakref_NewRef, nullptr);
    EXPECT_NE(e.Py_NoSiteFlag, nullptr);
}

TEST(Binding, OurLayoutsMatchTheRuntime)
{
    TPythonEngine& e = pycore::Engine();
    EXPECT_STREQ(e.PyLong_Type->tp_name, "int");
    EXPECT_STREQ(e.PyType_Type->tp_name, "type");
    EXPECT_STREQ(e.Py_None->ob_type->tp_name, "NoneType");
    EXPECT_EQ(e.Py_True->ob_type, e.PyBool_Type);
    EXPECT_EQ(e.PyFloat_Type->tp_basicsize, 24); // header plus the double
    EXPECT_NE(e.PyLong_Type->tp_flags & Py_TPFLAGS_LONG_SUBCLASS, 0u);
    EXPECT_EQ(e.PyBool_Type->tp_base, e.PyLong_Type);
    EXPECT_NE(e.PySeqIter_Type->tp_iternext, nullptr);
    EXPECT_NE(e.PyType_Type->tp_is_gc, nullptr);
    EXPECT_TRUE(e.PyType_IS_GC(e.PyList_Type));
    EXPECT_FALSE(e.PyType_IS_GC(e.PyLong_Type));
}

TEST(Binding, ReferenceCountingIsPlainArithmeticAndClearNullsFirst)
{
    TPythonEngine& e = pycore::Engine();
    e.ExecString("class RefProbe: pass");
    TPyRef obj = e.EvalString("RefProbe()");
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->ob_refcnt, 1);
    {
        const TPyRef second = TPyRef::Borrow(e, obj.Get());
        EXPECT_EQ(obj->ob_refcnt, 2);
        EXPECT_FALSE(TPyRef::Borrow(e, nullptr)); // null stays null
    }
    EXPECT_EQ(obj->ob_refcnt, 1);
    EXPECT_FALSE(e.IsImmortal(obj.Get()));

    const TPyRef ref = TPyRef::Steal(e, e.PyWeakref_NewRef(obj.Get(), nullptr));
    ASSERT_TRUE(ref);
    EXPECT_TRUE(e.PyWeakref_CheckRef(ref.Get()));
    EXPECT_TRUE(e.PyWeakref_Check(ref.Get()));
    EXPECT_FALSE(e.PyWeakref_CheckProxy(ref.Get()));
    obj.Reset();
    EXPECT_FALSE(obj);
    EXPECT_EQ(e.PyWeakref_GetObject(ref.Get()), e.Py_None); // deallocated
}

namespace {

const TPyRef* gHeld = nullptr;
int gHeldSeenNullInDealloc = -1;

// Called from the probe object's __del__: is the stored reference already gone?
PPyObject CheckHeld(PPyObject, PPyObject)
{
    gHeldSeenNullInDealloc = gHeld && !*gHeld ? 1 : 0;
    return CurrentEngine().ReturnNone().Release();
}

PyMethodDef gClearProbeMethods[] = {
    {"check_held", reinterpret_cast<void*>(&CheckHeld), METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

TEST(Binding, ClearNullsTheStoredReferenceBeforeTheDeallocatorRuns)
{
    TPythonEngine& e = pycore::Engine();
    static PyModuleDef def{};
    def.m_base.ob_base.ob_refcnt = 1;
    def.m_name = "pycore_clear_probe";
    def.m_size = -1;
    def.m_methods = gClearProbeMethods;
    TPyRef::Steal(e, e.Py_InitModule(def));
    e.ExecString("import pycore_clear_probe\n"
                 "class ClearProbe:\n"
                 "    def __del__(self):\n"
                 "        pycore_clear_probe.check_held()\n");
    // The owning reference clears itself as Py_CLEAR does: null first, then released.
    TPyRef held = e.EvalString("ClearProbe()");
    gHeld = &held;
    ASSERT_TRUE(held);
    ASSERT_EQ(held->ob_refcnt, 1);
    held.Reset();
    gHeld = nullptr;
    EXPECT_FALSE(held);
    EXPECT_EQ(gHeldSeenNullInDealloc, 1);
}

TEST(Binding, TypeChecks)
{
    TPythonEngine& e = pycore::Engine();
    e.ExecString("class DictSub(dict): pass\n"
                 "class EnumSub(enumerate): pass\n"
                 "def plain_function(): pass\n");
    std::vector<TPyRef> held;
    auto eval = [&](const char* code) { return held.emplace_back(e.EvalString(code)).Get(); };
    PPyObject dsub = eval("DictSub()");
    PPyObject esub = eval("EnumSub([])");
    PPyObject en = eval("enumerate([])");
    PPyObject func = eval("plain_function");
    PPyObject builtin = eval("len");
    PPyObject it = eval("iter([1])");
    PPyObject cls = eval("DictSub");
    PPyObject method = eval("DictSub().keys");
    PPyObject boundPy = eval("(lambda: 0).__get__(1)");

    EXPECT_TRUE(e.PyDict_Check(dsub));
    EXPECT_FALSE(e.PyDict_CheckExact(dsub));
    EXPECT_TRUE(e.PyEnum_Check(en));
    EXPECT_FALSE(e.PyEnum_Check(esub));
    EXPECT_TRUE(e.PyFunction_Check(func));
    EXPECT_TRUE(e.PyFunction_Check(builtin));
    EXPECT_FALSE(e.PyFunction_Check(cls));
    EXPECT_TRUE(e.PyIter_Check(it));
    EXPECT_FALSE(e.PyIter_Check(dsub)); // a class without __next__ has the placeholder slot
    EXPECT_FALSE(e.PyIter_Check(e.Py_None));
    EXPECT_TRUE(e.PyClass_Check(cls));
    EXPECT_FALSE(e.PyClass_Check(dsub));
    EXPECT_TRUE(e.PyMethod_Check(boundPy));
    EXPECT_FALSE(e.PyMethod_Check(method)); // a built-in method is another type
    EXPECT_TRUE(e.PyObject_IS_GC(dsub));
    EXPECT_FALSE(e.PyObject_IS_GC(e.Py_None));
    EXPECT_TRUE(e.PyType_CheckExact(cls) || e.PyClass_Check(cls));
    EXPECT_TRUE(e.PyBool_Check(e.Py_True));
    EXPECT_TRUE(e.PyLong_Check(e.Py_True));
    EXPECT_FALSE(e.PyLong_CheckExact(e.Py_True));

    for (auto check : {&TPythonInterface::PyDict_Check, &TPythonInterface::PyUnicode_Check,
                       &TPythonInterface::PyEnum_Check, &TPythonInterface::PyFunction_Check,
                       &TPythonInterface::PyIter_Check, &TPythonInterface::PyWeakref_Check,
                       &TPythonInterface::PyObject_IS_GC, &TPythonInterface::PyClass_Check})
        EXPECT_FALSE((e.*check)(nullptr));
    EXPECT_FALSE(e.PyObject_TypeCheck(nullptr, e.PyLong_Type));
}

TEST(Binding, StandInMissingASymbolNamesItAndKeepsWhatWasBound)
{
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(platform::ModalResult::mrOk);
    TPythonInterface lib;
    lib.SetFatalAbort(false);
    lib.SetUseLastKnownVersion(false);
    lib.SetDllPath(QStringLiteral(PYCORE_STANDIN_MISSING_DIR));
    lib.SetDllName(QStringLiteral("libpython3.11.so.1.0"));
    lib.LoadDll();
    ASSERT_TRUE(lib.IsHandleValid());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Error 0: could not map symbol \"PySys_GetObject\""));
    EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Error"));
    // Bound up to the missing one (PyMem_Malloc's absence is tolerated), nothing after it.
    EXPECT_EQ(lib.PyMem_Malloc, nullptr);
    EXPECT_NE(lib.PySys_SetArgv, nullptr);
    EXPECT_EQ(lib.PySys_GetObject, nullptr);
    EXPECT_EQ(lib.PySys_SetObject, nullptr);
    EXPECT_EQ(lib.PyWeakref_NewRef, nullptr);
    EXPECT_EQ(lib.PyParser_SimpleParseStringFlags, nullptr);
    EXPECT_EQ(lib.MinorVersion(), 11);
}

// The version is what the runtime says of itself, whatever its file is
// called ("liar" is named for 3.11); one this program cannot drive is refused
// before anything is bound, with a message naming the file and what it is.
TEST(Binding, TheRuntimesOwnVersionDecidesAndOthersAreRefused)
{
    struct Case {
        const char* says;
        int minor;           // 0: refused
        const char* refusal; // part of the message when refused
    };
    const Case cases[] = {
        {"3.13.1 (main, Oct  1 2025, 10:00:00) [GCC 14.2.0]", 13, nullptr},
        {"3.12.3 (main, Apr 10 2024) [GCC 13.2.0]", 12, nullptr},
        {"3.11.2 (main, Mar 13 2023) [GCC 12.2.0]", 11, nullptr},
        {"3.14.0 (main) [GCC 15.1.0]", 0, "it is Python 3.14.0; this program runs Python 3.11 to 3.13"},
        {"3.10.12 (main) [GCC 11.4.0]", 0, "it is Python 3.10.12;"},
        {"2.7.18 (default) [GCC 10]", 0, "it is Python 2.7.18;"},
        {"3.13.0 experimental free-threading build (main) [GCC 14.2.0]", 0,
         "it is a free-threaded build of Python 3.13.0"},
        {"", 0, "no Python version could be read from it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        qputenv("PYCORE_STANDIN_VERSION", c.says);
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(platform::ModalResult::mrOk);
        TPythonInterface lib;
        lib.SetFatalAbort(false);
        lib.SetUseLastKnownVersion(false);
        lib.SetDllPath(QStringLiteral(PYCORE_STANDIN_LIAR_DIR));
        lib.SetDllName(QStringLiteral("libpython3.11.so.1.0"));
        ASSERT_EQ(std::fegetround(), FE_TONEAREST);
        lib.LoadDll();
        EXPECT_EQ(std::fegetround(), FE_TONEAREST); // its start-up changed it; the loader put it back
        if (c.minor) {
            ASSERT_TRUE(lib.IsHandleValid());
            EXPECT_TRUE(dialogs.messages.empty());
            EXPECT_TRUE(lib.BindingComplete());
            EXPECT_EQ(lib.MinorVersion(), c.minor);
            EXPECT_EQ(lib.RegVersion(), QStringLiteral("3.%1").arg(c.minor));
            EXPECT_EQ(lib.RuntimeVersion(), QString::fromLatin1(c.says).section(u' ', 0, 0));
            EXPECT_EQ(lib.VersionNote().isEmpty(), c.minor == 11) << lib.VersionNote().toStdString();
            EXPECT_NE(lib.PyLong_Type, nullptr);
        } else {
            EXPECT_FALSE(lib.IsHandleValid());
            EXPECT_FALSE(lib.BindingComplete());
            EXPECT_EQ(lib.PyLong_Type, nullptr);
            ASSERT_EQ(dialogs.messages.size(), 1u);
            const QStringList lines = dialogs.messages[0].text.split(u'\n');
            ASSERT_EQ(lines.size(), 2) << dialogs.messages[0].text.toStdString();
            EXPECT_EQ(lines[0], QStringLiteral("Error 0: Could not open Dll \"libpython3.11.so.1.0\""));
            EXPECT_TRUE(lines[1].startsWith(QStringLiteral(PYCORE_STANDIN_LIAR_DIR "/libpython3.11.so.1.0: ") +
                                            QLatin1String(c.refusal)))
                << lines[1].toStdString();
        }
    }
    qunsetenv("PYCORE_STANDIN_VERSION");
}

TEST(Binding, RequireInitialized)
{
    TPythonInterface lib;
    try {
        lib.RequireInitialized();
        ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Python is not properly initialized"));
    }
}

namespace {

PPyObject Greet(PPyObject, PPyObject args)
{
    TPythonEngine& e = CurrentEngine();
    const char* name = nullptr;
    if (!e.PyArg_ParseTuple(args, "s:greet", &name))
        return nullptr;
    return e.PyUnicodeFromString(QStringLiteral("こんにちは、") + QString::fromUtf8(name)).Release();
}

PyMethodDef gGreetMethods[] = {
    {"greet", reinterpret_cast<void*>(&Greet), METH_VARARGS, "greet(name) -> str"},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

TEST(Binding, InitModuleMakesAnImportableModuleFromOurTables)
{
    TPythonEngine& e = pycore::Engine();
    static PyModuleDef def{};
    def.m_base.ob_base.ob_refcnt = 1;
    def.m_name = "pycore_greeter";
    def.m_size = -1;
    def.m_methods = gGreetMethods;
    const TPyRef m = TPyRef::Steal(e, e.Py_InitModule(def));
    ASSERT_TRUE(m);
    EXPECT_TRUE(e.PyModule_Check(m.Get()));
    EXPECT_EQ(e.FindModule("pycore_greeter"), m.Get());
    e.ExecString("import pycore_greeter");
    EXPECT_EQ(e.EvalStringAsStr("pycore_greeter.greet('世界')"), QStringLiteral("こんにちは、世界"));
    EXPECT_EQ(e.EvalStringAsStr("pycore_greeter.greet.__doc__"), QStringLiteral("greet(name) -> str"));
    EXPECT_THROW(e.EvalString("pycore_greeter.greet(1)"), EPyTypeError);
}

TEST(Binding, ALibraryThatIsNotPythonIsReportedAndNeverStarted)
{
    TPythonEngine& shared = pycore::Engine();
    for (const auto& [folder, name, ending] :
         {std::tuple{QStringLiteral("/usr/lib/x86_64-linux-gnu"), QStringLiteral("libm.so.6"),
                     QStringLiteral("libm.so.6: no Python runtime: it exports no Py_GetVersion")},
          std::tuple{QStringLiteral(PYCORE_STANDIN_MISSING_DIR), QStringLiteral("libpython3.11.so.1.0"),
                     QStringLiteral(": could not map symbol \"PySys_GetObject\"")}}) {
        ScriptedDialogs dialogs;
        dialogs.AnswerMessage(platform::ModalResult::mrOk);
        TPythonEngine e;
        e.SetFatalAbort(false);
        e.SetUseLastKnownVersion(false);
        e.SetDllPath(folder);
        e.SetDllName(name);
        e.LoadDll();
        ASSERT_EQ(dialogs.messages.size(), 1u) << name.toStdString();
        EXPECT_TRUE(dialogs.messages[0].text.endsWith(ending)) << dialogs.messages[0].text.toStdString();
        EXPECT_FALSE(e.BindingComplete());
        EXPECT_FALSE(e.Initialized());
        try {
            e.ExecString("x = 1");
            ADD_FAILURE();
        } catch (const platform::Exception& x) {
            EXPECT_EQ(x.Message(), QStringLiteral("Python is not properly initialized"));
        }
    }
    EXPECT_EQ(ActiveEngine(), &shared);
}
