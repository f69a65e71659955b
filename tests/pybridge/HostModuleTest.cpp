// Extension modules against the real runtime: method tables, events, module
// errors, module variables and host methods reached through thunks. These
// share the process's engine; every component is owned by it so nothing the
// interpreter still points to goes away before the interpreter does.
#include "PyCoreSupport.h"

#include "pybridge/PythonModule.h"

#include <gtest/gtest.h>

using namespace pybridge;

namespace {

TPythonEngine& E() { return pycore::Engine(); }

TPythonModule* NewModule(const char* name)
{
    auto* m = new TPythonModule(&E());
    m->SetEngine(&E());
    m->SetModuleName(name);
    return m;
}

QString Eval(const char* expr) { return E().EvalStringAsStr(expr); }

PPyObject ReturnNoneFn(PPyObject, PPyObject) { return CurrentEngine().ReturnNone().Release(); }

// The pending error, owned.
struct TFetchedError {
    TPyRef type, value, traceback;
};

TFetchedError FetchError()
{
    PPyObject type = nullptr, value = nullptr, traceback = nullptr;
    E().PyErr_Fetch(&type, &value, &traceback);
    return {TPyRef::Steal(E(), type), TPyRef::Steal(E(), value), TPyRef::Steal(E(), traceback)};
}

using pycore::MessageOf;

bool IsZero(const void* p, std::size_t n)
{
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i])
            return false;
    return true;
}

class THostCalls {
public:
    int calls = 0;
    PPyObject Add(PPyObject, PPyObject args)
    {
        ++calls;
        TPythonEngine& e = CurrentEngine();
        long a = 0, b = 0;
        if (!e.PyArg_ParseTuple(args, "ll:add", &a, &b))
            return nullptr;
        return e.PyLong_FromLong(a + b);
    }
    PPyObject Keywords(PPyObject, PPyObject args, PPyObject kwds)
    {
        TPythonEngine& e = CurrentEngine();
        return e.PyLong_FromLong(static_cast<long>(e.PyTuple_Size(args) * 10 + (kwds ? e.PyDict_Size(kwds) : 0)));
    }
    PPyObject Boom(PPyObject, PPyObject) { throw platform::Exception(QStringLiteral("host side failed")); }
    PPyObject BoomStd(PPyObject, PPyObject) { throw std::runtime_error("plain failure"); }
};

} // namespace

TEST(HostModule, EleventhMethodGrowsTheTableAndTheRuntimeSeesElevenFunctions)
{
    TPythonModule* m = NewModule("grow_mod");
    static const char* names[] = {"f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10"};
    for (int i = 0; i < 10; ++i)
        m->AddMethod(names[i], &ReturnNoneFn, nullptr);
    EXPECT_EQ(m->AllocatedMethodCount(), 10);
    EXPECT_TRUE(IsZero(&m->Methods(10), sizeof(PyMethodDef))); // the terminating entry
    PyMethodDef* added = m->AddMethod(names[10], &ReturnNoneFn, "doc");
    EXPECT_EQ(m->AllocatedMethodCount(), 20);
    EXPECT_EQ(m->MethodCount(), 11);
    EXPECT_EQ(added, &m->Methods(10));
    EXPECT_STREQ(m->Methods(0).ml_name, "f0");
    EXPECT_EQ(m->Methods(10).ml_flags, METH_VARARGS);
    for (int i = 11; i <= 20; ++i)
        EXPECT_TRUE(IsZero(m->MethodsData() + i, sizeof(PyMethodDef))) << i;
    EXPECT_TRUE(IsZero(&m->Methods(11), sizeof(PyMethodDef)));

    EXPECT_EQ(MessageOf([&] { m->Methods(-1); }), QStringLiteral("TPythonModule: Index -1 out of range"));
    EXPECT_EQ(MessageOf([&] { m->Methods(12); }), QStringLiteral("TPythonModule: Index 12 out of range"));

    m->Initialize();
    E().ExecString("import grow_mod");
    EXPECT_EQ(Eval("len([n for n in dir(grow_mod) if not n.startswith('__')])"), QStringLiteral("11"));
    EXPECT_EQ(Eval("grow_mod.f10.__doc__"), QStringLiteral("doc"));
    EXPECT_EQ(Eval("grow_mod.f3(1, 2)"), QStringLiteral("None"));
}

TEST(HostModule, FlagsOfTheAddOperations)
{
    TPythonModule* m = NewModule("flags_mod");
    auto kw = [](PPyObject, PPyObject, PPyObject) -> PPyObject { return nullptr; };
    EXPECT_EQ(m->AddMethodWithKeywords("a", kw, nullptr)->ml_flags, 3);
    EXPECT_EQ(m->AddClassMethodWithKeywords("b", kw, nullptr)->ml_flags, 19);
    EXPECT_EQ(m->AddStaticMethodWithKeywords("c", kw, nullptr)->ml_flags, 35);
    m->ClearMethods();
    EXPECT_EQ(m->MethodCount(), 0);
    EXPECT_TRUE(IsZero(m->MethodsData(), 11 * sizeof(PyMethodDef)));
}

TEST(HostModule, EmptyModuleIsImportableWithOnlyTheStandardAttributes)
{
    TPythonModule* m = NewModule("empty_host_module");
    m->Initialize();
    EXPECT_NE(m->Module(), nullptr);
    EXPECT_EQ(E().ModuleByName("empty_host_module"), m->Module());
    E().ExecString("import empty_host_module");
    EXPECT_EQ(Eval("sorted(n for n in dir(empty_host_module))"),
              QStringLiteral("['__doc__', '__loader__', '__name__', '__package__', '__spec__']"));
    EXPECT_EQ(Eval("empty_host_module.__doc__"), QStringLiteral("None"));
}

TEST(HostModule, DocStringLinesBecomeTheModuleDoc)
{
    TPythonModule* m = NewModule("doc_mod");
    m->SetDocString({QStringLiteral("first"), QStringLiteral("second")});
    m->Initialize();
    E().ExecString("import doc_mod");
    EXPECT_EQ(Eval("repr(doc_mod.__doc__)"), QStringLiteral("'first\\nsecond\\n'"));
}

TEST(HostModule, HostMethodsRunThroughThunksAndExceptionsBecomePythonErrors)
{
    static THostCalls calls; // lives as long as the thunks
    THostCalls* target = &calls;
    TPythonModule* m = NewModule("calls_mod");
    m->AddHostMethod("add", HostMethod<&THostCalls::Add>(target), "add(a, b)");
    m->AddHostMethodWithKeywords("kw", HostMethodWithKW<&THostCalls::Keywords>(target), nullptr);
    m->AddHostMethod("boom", HostMethod<&THostCalls::Boom>(target), nullptr);
    m->AddHostMethod("boom_std", HostMethod<&THostCalls::BoomStd>(target), nullptr);
    EXPECT_EQ(m->Methods(1).ml_flags, METH_VARARGS | METH_KEYWORDS);
    m->Initialize();
    E().ExecString("import calls_mod");
    EXPECT_EQ(Eval("calls_mod.add(40, 2)"), QStringLiteral("42"));
    EXPECT_EQ(target->calls, 1);
    EXPECT_EQ(Eval("calls_mod.kw(1, 2, x=3)"), QStringLiteral("21"));
    // An argument error set by the host method reaches Python unchanged.
    E().ExecString("try:\n  calls_mod.add('x')\n  r = 'none'\nexcept TypeError as e:\n  r = str(e)\n");
    EXPECT_TRUE(Eval("r").contains(QLatin1String("add")));

    E().ExecString("try:\n  calls_mod.boom()\n  r = 'none'\nexcept RuntimeError as e:\n  r = str(e)\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("host side failed"));
    E().ExecString("try:\n  calls_mod.boom_std()\n  r = 'none'\nexcept RuntimeError as e:\n  r = str(e)\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("plain failure"));
    EXPECT_EQ(E().PyErr_Occurred(), nullptr);
}

TEST(HostModule, EventsBecomeFunctionsAndAnEventWithoutHandlerYieldsNull)
{
    TPythonModule* m = NewModule("events_mod");
    TEventDef& first = m->Events().Add();
    EXPECT_EQ(first.Name(), QByteArray("PythonEvent0"));
    TEventDef& second = m->Events().Add();
    EXPECT_EQ(second.Name(), QByteArray("PythonEvent1"));
    first.SetName("answer");
    first.SetDocString({QStringLiteral("Gives"), QStringLiteral("the answer")});
    PPyObject seenArgs = nullptr;
    first.OnExecute = [&](TEventDef* sender, PPyObject, PPyObject args, PPyObject& result) {
        EXPECT_EQ(sender, &first);
        seenArgs = args;
        result = CurrentEngine().PyLong_FromLong(42);
    };
    second.SetName("silent");
    m->Initialize();
    ASSERT_EQ(m->MethodCount(), 2);
    E().ExecString("import events_mod");
    EXPECT_EQ(Eval("events_mod.answer(1)"), QStringLiteral("42"));
    EXPECT_NE(seenArgs, nullptr);
    EXPECT_EQ(Eval("events_mod.answer.__doc__"), QStringLiteral("Gives\nthe answer\n"));
    // A null result without an error: the runtime reports it as a SystemError.
    E().ExecString("try:\n  events_mod.silent()\n  r = 'none'\nexcept SystemError:\n  r = 'SystemError'\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("SystemError"));
}

TEST(HostModule, ClassErrorsHaveQualifiedNamesAndParents)
{
    TPythonModule* m = NewModule("err_mod");
    TError& base = m->Errors().Add();
    base.SetName("BaseErr");
    base.SetErrorType(TErrorType::etClass);
    TError& sub = m->Errors().Add();
    sub.SetName("SubErr");
    sub.SetErrorType(TErrorType::etClass);
    TParentClassError parent;
    parent.SetName("BaseErr");
    sub.SetParentClass(parent);
    TError& fromOther = m->Errors().Add();
    fromOther.SetName("KeyLike");
    fromOther.SetErrorType(TErrorType::etClass);
    parent.SetName("KeyError");
    parent.SetModule("builtins");
    fromOther.SetParentClass(parent);
    TError& text = m->Errors().Add();
    text.SetName("TextErr");
    m->Initialize();

    E().ExecString("import err_mod");
    EXPECT_EQ(Eval("err_mod.BaseErr.__module__ + '.' + err_mod.BaseErr.__name__"), QStringLiteral("err_mod.BaseErr"));
    EXPECT_EQ(Eval("err_mod.BaseErr.__bases__ == (Exception,)"), QStringLiteral("True"));
    EXPECT_EQ(Eval("issubclass(err_mod.SubErr, err_mod.BaseErr)"), QStringLiteral("True"));
    EXPECT_EQ(Eval("issubclass(err_mod.KeyLike, KeyError)"), QStringLiteral("True"));
    EXPECT_EQ(Eval("err_mod.TextErr"), QStringLiteral("TextErr")); // a string error's text defaults to its name

    // Errors by name ignore letter case.
    EXPECT_EQ(&m->ErrorByName("suberr"), &sub);
    EXPECT_EQ(MessageOf([&] { m->ErrorByName("nothing"); }), QStringLiteral("Could not find error \"nothing\""));
    m->RaiseError("BASEERR", "went wrong");
    ASSERT_NE(E().PyErr_Occurred(), nullptr);
    EXPECT_EQ(E().PyErr_ExceptionMatches(base.Error()), 1);
    E().PyErr_Clear();

    // With a dictionary, the raised instance carries its items as attributes.
    m->RaiseErrorObj("SubErr", "with details", E().EvalString("{'code': 7, 'where': 'here'}").Get());
    ASSERT_NE(E().PyErr_Occurred(), nullptr);
    TFetchedError error = FetchError();
    ASSERT_TRUE(error.value);
    EXPECT_EQ(E().PyObjectAsString(error.value.Get()), QStringLiteral("with details"));
    const TPyRef code = TPyRef::Steal(E(), E().PyObject_GetAttrString(error.value.Get(), "code"));
    ASSERT_TRUE(code);
    EXPECT_EQ(E().PyLong_AsLong(code.Get()), 7);

    m->RaiseErrorFmt("BaseErr", QStringLiteral("%s failed %d times"), {QStringLiteral("job"), QStringLiteral("3")});
    error = FetchError();
    ASSERT_TRUE(error.value);
    EXPECT_EQ(E().PyObjectAsString(error.value.Get()), QStringLiteral("job failed 3 times"));
}

TEST(HostModule, ErrorBuildFailuresNameWhatIsMissing)
{
    TPythonModule* m = NewModule("bad_err_mod");
    m->Initialize();
    TError& err = m->Errors().Add();
    EXPECT_EQ(MessageOf([&] { err.BuildError("bad_err_mod"); }),
              QStringLiteral("Error without name in module \"bad_err_mod\""));
    err.SetName("E1");
    err.SetErrorType(TErrorType::etClass);
    TParentClassError p;
    p.SetName("Missing");
    err.SetParentClass(p);
    EXPECT_EQ(MessageOf([&] { err.BuildError("bad_err_mod"); }),
              QStringLiteral("Could not find the parent class \"Missing\" of error \"E1\""));
    p.SetName("path");
    p.SetModule("sys");
    err.SetParentClass(p);
    EXPECT_EQ(MessageOf([&] { err.BuildError("bad_err_mod"); }),
              QStringLiteral("The object \"path\" in module \"sys\" is not a class"));
    p.SetModule(QByteArray());
    err.SetParentClass(p);
    EXPECT_EQ(MessageOf([&] { err.BuildError("no_such_module_here"); }),
              QStringLiteral("Could not find module containing the parent class of error \"E1\""));
    EXPECT_EQ(err.Error(), nullptr);
    EXPECT_EQ(E().PyErr_Occurred(), nullptr);
}

TEST(HostModule, ErrorNamesAreUniqueAndRenamingFollowsParentReferences)
{
    TPythonModule* m = NewModule("rename_mod");
    TPythonModule* other = NewModule("rename_other");
    TError& a = m->Errors().Add();
    a.SetName("A");
    a.SetErrorType(TErrorType::etClass);
    TError& b = m->Errors().Add();
    EXPECT_EQ(MessageOf([&] { b.SetName("A"); }),
              QStringLiteral("In module \"rename_mod\", there's already an error named \"A\""));
    b.SetName("B");
    TParentClassError p;
    p.SetName("A");
    p.SetModule("rename_mod");
    b.SetErrorType(TErrorType::etClass);
    b.SetParentClass(p);
    TError& c = other->Errors().Add();
    c.SetName("C");
    c.SetErrorType(TErrorType::etClass);
    c.SetParentClass(p);

    a.SetName("A2");
    EXPECT_EQ(b.ParentClass().Name(), QByteArray("A2"));
    EXPECT_EQ(c.ParentClass().Name(), QByteArray("A2"));

    m->SetModuleName("renamed_mod");
    EXPECT_EQ(b.ParentClass().Module(), QByteArray("renamed_mod"));
    EXPECT_EQ(c.ParentClass().Module(), QByteArray("renamed_mod"));

    // Back to a string error: the parent class is forgotten.
    c.SetErrorType(TErrorType::etString);
    EXPECT_TRUE(c.ParentClass().Name().isEmpty());
}

TEST(HostModule, ModuleVariables)
{
    TPythonModule* m = NewModule("vars_mod");
    EXPECT_EQ(MessageOf([&] { m->GetVar("x"); }),
              QStringLiteral("Can't get var \"x\" in module \"vars_mod\", because it is not yet initialized"));
    EXPECT_THROW(m->SetVar("x", E().Py_None), EPythonError);
    EXPECT_THROW(m->DeleteVar("x"), EPythonError);
    m->ClearVars(); // nothing to clear yet
    m->Initialize();

    EXPECT_FALSE(m->GetVar("missing"));
    EXPECT_EQ(E().PyErr_Occurred(), nullptr);

    m->SetVar("seven", TPyRef::Steal(E(), E().PyLong_FromLong(7)).Get());
    const TPyRef got = m->GetVar("seven");
    ASSERT_TRUE(got);
    EXPECT_EQ(E().PyLong_AsLong(got.Get()), 7);

    m->SetVarFromVariant("text", QStringLiteral("hello"));
    EXPECT_EQ(m->GetVarAsVariant("text").toString(), QStringLiteral("hello"));
    E().ExecString("import vars_mod");
    EXPECT_EQ(Eval("vars_mod.text"), QStringLiteral("hello"));

    m->DeleteVar("seven");
    m->DeleteVar("never_there");
    EXPECT_EQ(E().PyErr_Occurred(), nullptr);
    EXPECT_FALSE(m->GetVar("seven"));
    EXPECT_FALSE(m->GetVarAsVariant("seven").isValid());
}

TEST(HostModule, ClientsAndInitialisationOrder)
{
    TPythonModule* m = NewModule("order_mod");
    QStringList order;
    m->OnInitialization = [&](TComponent*) {
        order << QStringLiteral("init");
        // Methods added here still make it into the module.
        m->AddMethod("late", &ReturnNoneFn, nullptr);
    };
    m->OnAfterInitialization = [&](TComponent*) { order << QStringLiteral("after"); };
    struct TProbe : TEngineClient {
        QStringList* log = nullptr;
        void ModuleReady() override { *log << QStringLiteral("ready"); }
    };
    auto* probe = new TProbe;
    probe->log = &order;
    m->AddClient(probe);
    m->AddClient(probe);
    EXPECT_EQ(m->ClientCount(), 1);
    m->Initialize();
    m->Initialize(); // once only
    EXPECT_EQ(order, (QStringList{QStringLiteral("init"), QStringLiteral("ready"), QStringLiteral("after")}));
    E().ExecString("import order_mod");
    EXPECT_EQ(Eval("order_mod.late()"), QStringLiteral("None"));
    m->RemoveClient(probe);
    EXPECT_EQ(m->ClientCount(), 0);
    delete probe;
}

TEST(HostModule, MemberAndAccessorTables)
{
    auto* c = new TGetSetContainer(&E());
    EXPECT_EQ(c->AddMember("m", TPyMemberType::mtObjectEx, 8, TPyMemberFlag::mfRestricted, nullptr)->type, 16);
    EXPECT_EQ(c->Members(0).flags, 6);
    EXPECT_EQ(c->Members(0).offset, 8);
    EXPECT_EQ(c->AddMember("d", TPyMemberType::mtDouble, 0, TPyMemberFlag::mfReadOnly, nullptr)->type, 4);
    EXPECT_EQ(MessageOf([&] { c->AddMember("x", static_cast<TPyMemberType>(99), 0, TPyMemberFlag::mfDefault, nullptr); }),
              QStringLiteral("Unknown member type"));
    EXPECT_EQ(MessageOf([&] { c->AddMember("x", TPyMemberType::mtInt, 0, static_cast<TPyMemberFlag>(99), nullptr); }),
              QStringLiteral("Unknown member flag"));
    EXPECT_EQ(c->MemberCount(), 2);
    for (int i = 0; i < 11; ++i)
        c->AddGetSet("g", nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(c->AllocatedGetSetCount(), 20);
    EXPECT_TRUE(IsZero(&c->GetSet(11), sizeof(PyGetSetDef)));
    EXPECT_EQ(MessageOf([&] { c->GetSet(12); }), QStringLiteral("TGetSetContainer: Index 12 out of range"));
    EXPECT_EQ(MessageOf([&] { c->Members(-1); }), QStringLiteral("TGetSetContainer: Index -1 out of range"));
    c->ClearGetSets();
    c->ClearMembers();
    EXPECT_EQ(c->GetSetCount(), 0);
    EXPECT_TRUE(IsZero(c->MembersData(), 11 * sizeof(PyMemberDef)));
}

TEST(HostModule, ClientWithoutEngine)
{
    TPythonModule m;
    m.SetName(QStringLiteral("Lonely"));
    EXPECT_EQ(MessageOf([&] { m.Initialize(); }), QStringLiteral("No Engine defined for component \"Lonely\""));
}
