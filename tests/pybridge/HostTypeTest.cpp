// Host-defined types against the real runtime: host objects inside Python
// objects, slots, creation paths, statistics and subclassing from Python.
#include "PyCoreSupport.h"

#include "pybridge/PythonType.h"

#include <gtest/gtest.h>

using namespace pybridge;

namespace {

TPythonEngine& E() { return pycore::Engine(); }
QString Eval(const char* expr) { return E().EvalStringAsStr(expr); }

class TThing : public TPyObject {
public:
    using TPyObject::TPyObject;
    int value = 5;
};

// Reads its arguments, takes part in "+", refuses to be built with a negative
// value and fails its repr on request.
class TNumber : public TPyObject {
public:
    TNumber(TPythonType* t, PPyObject args, PPyObject kwds) : TPyObject(t, args, kwds)
    {
        TPythonEngine& e = Engine();
        long v = 0;
        if (args && e.PyTuple_Size(args) > 0)
            v = e.PyLong_AsLong(e.PyTuple_GetItem(args, 0));
        if (v < 0)
            e.PyErr_SetString(*e.PyExc_ValueError, "negative");
        value = v;
    }
    explicit TNumber(TPythonType* t) : TPyObject(t) {}
    TPyRef NbAdd(PPyObject other) override
    {
        TPythonEngine& e = Engine();
        return TPyRef::Steal(e, e.PyLong_FromLong(value + e.PyLong_AsLong(other)));
    }
    TPyRef Repr() override
    {
        if (value == 13)
            throw platform::Exception(QStringLiteral("unlucky number"));
        return TPyObject::Repr();
    }
    static PPyObject GetValue(PPyObject self, void*)
    {
        return CurrentEngine().PyLong_FromLong(static_cast<TNumber*>(HostObjectOf(self))->value);
    }
    static void RegisterGetSets(TPythonType* t) { t->AddGetSet("value", &GetValue, nullptr, "the value", nullptr); }
    static PPyObject Twice(PPyObject self, PPyObject)
    {
        return CurrentEngine().PyLong_FromLong(2 * static_cast<TNumber*>(HostObjectOf(self))->value);
    }
    static void RegisterMethods(TPythonType* t) { t->AddMethod("twice", &Twice, nullptr); }
    static void RegisterMembers(TPythonType* t)
    {
        // The offset of "value" inside the host object, without offsetof on a class with a vtable.
        alignas(TNumber) static unsigned char probe[sizeof(TNumber)];
        auto* p = reinterpret_cast<TNumber*>(probe);
        const auto offset = reinterpret_cast<unsigned char*>(&p->value) - probe;
        t->AddMember("raw", TPyMemberType::mtLong, offset, TPyMemberFlag::mfReadOnly, nullptr);
    }
    long value = 0;
};

TPythonModule& TypesModule()
{
    static TPythonModule* m = [] {
        auto* mod = new TPythonModule(&E());
        mod->SetEngine(&E());
        mod->SetModuleName("types_mod");
        mod->Initialize();
        E().ExecString("import types_mod");
        return mod;
    }();
    return *m;
}

TPythonType* NewType(const char* name, const TPyObjectClass* cls)
{
    auto* t = new TPythonType(&E());
    t->SetEngine(&E());
    t->SetTypeName(name);
    t->SetPyObjectClass(cls);
    t->SetModule(&TypesModule());
    return t;
}

} // namespace

TEST(HostType, LayoutFlagsAndServicesDefaults)
{
    EXPECT_EQ(TypeFlagsValue(tpfBaseType | tpHaveVersionTag), 263168UL);
    TPythonType t;
    EXPECT_EQ(t.TypeFlags(), 130);
    EXPECT_EQ(t.Services().Basic, 228);
    EXPECT_EQ(t.Prefix(), QByteArray("Create"));
    t.SetPyObjectClass<TThing>();
    EXPECT_EQ(t.TheType().tp_basicsize, static_cast<Py_ssize_t>(sizeof(TThing) + 16));
    t.SetTypeName("X");
    t.SetTypeName("");
    EXPECT_EQ(t.TypeName(), QByteArray("X"));
}

TEST(HostType, DefaultTypeReprStrCreationFunctionAndStatistics)
{
    TPythonType* t = NewType("Thing", PyObjectClassOf<TThing>());
    t->Initialize();
    E().ExecString("a = types_mod.Thing()\nb = types_mod.CreateThing()\n");
    EXPECT_EQ(Eval("type(a) is types_mod.Thing and type(b) is types_mod.Thing"), QStringLiteral("True"));
    EXPECT_EQ(Eval("types_mod.CreateThing.__doc__"), QStringLiteral("Creates a new instance of type Thing"));

    TPyRef aRef = E().EvalString("a");
    PPyObject a = aRef.Get();
    ASSERT_TRUE(IsHostObject(a));
    TPyObject* host = HostObjectOf(a);
    EXPECT_EQ(reinterpret_cast<char*>(host), reinterpret_cast<char*>(a) + 16);
    EXPECT_EQ(host->GetSelf(), a);
    EXPECT_EQ(static_cast<TThing*>(host)->value, 5);
    EXPECT_TRUE(host->PythonAlloc);
    EXPECT_FALSE(host->IsSubtype);
    EXPECT_EQ(host->GetModule(), &TypesModule());
    const QString expected =
        QStringLiteral("<Thing at %1>").arg(QString::number(reinterpret_cast<quintptr>(host), 16));
    EXPECT_EQ(Eval("repr(a)"), expected);
    EXPECT_EQ(Eval("str(a)"), expected);
    aRef.Reset();
    EXPECT_FALSE(HostObjectOf(E().EvalString("b").Get())->PythonAlloc); // made by the host

    // Generic attributes: methods of object are found, unknown names are not.
    EXPECT_EQ(Eval("a.__class__.__name__"), QStringLiteral("Thing"));
    E().ExecString("try:\n  a.nope\n  r = 'found'\nexcept AttributeError:\n  r = 'AttributeError'\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("AttributeError"));

    EXPECT_EQ(t->InstanceCount(), 2);
    EXPECT_EQ(t->CreateHits(), 2);
    E().ExecString("del a");
    EXPECT_EQ(t->InstanceCount(), 1);
    EXPECT_EQ(t->CreateHits(), 2);
    EXPECT_EQ(t->DeleteHits(), 1);
    E().ExecString("del b");
    EXPECT_EQ(t->InstanceCount(), 0);
    EXPECT_EQ(t->DeleteHits(), 2);
    EXPECT_EQ(E().FindPythonType("Thing"), t);

    // Publishing again keeps the creation function whole.
    t->AddTypeVar();
    EXPECT_EQ(Eval("types_mod.CreateThing.__name__ + ' ' + types_mod.CreateThing.__doc__"),
              QStringLiteral("CreateThing Creates a new instance of type Thing"));
    // A renamed type shows its new name at once.
    t->SetTypeName("Thingy");
    EXPECT_EQ(Eval("types_mod.Thing.__name__"), QStringLiteral("Thingy"));
}

TEST(HostType, ArgumentsSlotsTablesAndFailingConstructors)
{
    TPythonType* t = NewType("Number", PyObjectClassOf<TNumber>());
    t->Services().Number = nsAdd;
    t->Initialize();
    E().ExecString("n = types_mod.Number(20)\n");
    EXPECT_EQ(Eval("n + 22"), QStringLiteral("42"));
    EXPECT_EQ(Eval("n.value"), QStringLiteral("20"));
    EXPECT_EQ(Eval("n.raw"), QStringLiteral("20"));
    EXPECT_EQ(Eval("n.twice()"), QStringLiteral("40"));
    EXPECT_EQ(Eval("types_mod.CreateNumber(3).value"), QStringLiteral("3"));

    // A constructor that leaves a Python error: no object, the error reaches Python.
    const int before = t->InstanceCount();
    E().ExecString("try:\n  types_mod.Number(-1)\n  r = 'made'\nexcept ValueError as e:\n  r = str(e)\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("negative"));
    E().ExecString("try:\n  types_mod.CreateNumber(-1)\n  r = 'made'\nexcept ValueError as e:\n  r = str(e)\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("negative"));
    EXPECT_EQ(t->InstanceCount(), before);

    // A slot whose host operation throws gives Python an error instead.
    E().ExecString("try:\n  repr(types_mod.Number(13))\n  r = 'fine'\nexcept RuntimeError as e:\n  r = str(e)\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("unlucky number"));

    // The host's own creation path.
    TPyRef args = TPyRef::Steal(E(), E().PyTuple_New(1));
    E().PyTuple_SetItem(args.Get(), 0, E().PyLong_FromLong(9)); // takes the item's reference
    TPyRef made = t->CreateInstanceWith(args.Get(), nullptr);
    args.Reset();
    ASSERT_TRUE(made);
    EXPECT_EQ(static_cast<TNumber*>(HostObjectOf(made.Get()))->value, 9);
    EXPECT_EQ(made->ob_refcnt, 1);
    made.Reset();
    E().ExecString("del n");
    EXPECT_EQ(t->InstanceCount(), 0);
}

TEST(HostType, PythonSubclassOfAHostType)
{
    TPythonType* t = NewType("Base", PyObjectClassOf<TThing>());
    t->Initialize();
    E().ExecString("class Sub(types_mod.Base):\n"
                   "  def hello(self):\n"
                   "    return 'hi'\n"
                   "s = Sub()\n"
                   "s.extra = 3\n");
    {
        const TPyRef s = E().EvalString("s");
        ASSERT_TRUE(IsHostObject(s.Get()));
        TPyObject* host = HostObjectOf(s.Get());
        EXPECT_TRUE(host->IsSubtype);
        EXPECT_TRUE(host->PythonAlloc);
        EXPECT_EQ(host->PythonType, t);
        EXPECT_EQ(static_cast<TThing*>(host)->value, 5);
    }
    EXPECT_EQ(Eval("s.hello() + str(s.extra)"), QStringLiteral("hi3"));
    EXPECT_EQ(Eval("isinstance(s, types_mod.Base)"), QStringLiteral("True"));
    EXPECT_EQ(t->InstanceCount(), 1);
    E().ExecString("del s");
    EXPECT_EQ(t->InstanceCount(), 0);
    EXPECT_EQ(t->DeleteHits(), 1);
}

TEST(HostType, DefaultRichComparisonMakesEveryTwoInstancesEqual)
{
    TPythonType* t = NewType("Cmp", PyObjectClassOf<TThing>());
    t->Services().Basic |= bsRichCompare;
    t->Initialize();
    E().ExecString("x, y = types_mod.Cmp(), types_mod.Cmp()\n");
    EXPECT_EQ(Eval("(x == y, x != y, x < y, x <= y, x > y, x >= y)"),
              QStringLiteral("(True, False, False, True, False, True)"));
    E().ExecString("del x, y");
}

TEST(HostType, TypeWithoutBaseTypeFlagIsMadeOnlyByItsCreationFunction)
{
    TPythonType* t = NewType("Sealed", PyObjectClassOf<TThing>());
    t->SetTypeFlags(tpHaveVersionTag);
    t->Initialize();
    EXPECT_EQ(t->TheType().tp_methods, nullptr);
    E().ExecString("try:\n  types_mod.Sealed()\n  r = 'made'\nexcept TypeError:\n  r = 'TypeError'\n");
    EXPECT_EQ(Eval("r"), QStringLiteral("TypeError"));
    EXPECT_EQ(Eval("type(types_mod.CreateSealed()).__name__"), QStringLiteral("Sealed"));
    TPyRef o = t->CreateInstance();
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ob_type, &t->TheType());
    o.Reset();
    EXPECT_EQ(t->InstanceCount(), 0);
    EXPECT_EQ(t->CreateHits(), 2);
}

TEST(HostType, PublishingWaitsForBothTheTypeAndItsModule)
{
    // Type first, module later: the module's start publishes the type.
    auto* m = new TPythonModule(&E());
    m->SetEngine(&E());
    m->SetModuleName("late_mod");
    auto* t = new TPythonType(&E());
    t->SetEngine(&E());
    t->SetTypeName("Late");
    t->SetPyObjectClass<TThing>();
    t->SetPrefix("New");
    t->SetModule(m);
    t->Initialize();
    EXPECT_EQ(m->ClientCount(), 1);
    m->Initialize();
    E().ExecString("import late_mod\nl = late_mod.NewLate()\n");
    EXPECT_EQ(Eval("type(l).__name__"), QStringLiteral("Late"));
    E().ExecString("del l");
}

TEST(HostType, NumberSlotsFollowTheServicesAndTheRuntimeVersion)
{
    // Not published: only the filled record is looked at.
    auto* inplaceOnly = new TPythonType(&E());
    inplaceOnly->SetEngine(&E());
    inplaceOnly->SetTypeName("InplaceOnly");
    inplaceOnly->SetPyObjectClass<TThing>();
    inplaceOnly->Services().InplaceNumber = nsInplaceAdd;
    inplaceOnly->Initialize();
    EXPECT_EQ(inplaceOnly->TheType().tp_as_number, nullptr);

    auto* matmul = new TPythonType(&E());
    matmul->SetEngine(&E());
    matmul->SetTypeName("MatMul");
    matmul->SetPyObjectClass<TThing>();
    matmul->Services().Number = nsAdd | nsMatrixMultiply;
    matmul->Services().InplaceNumber = nsInplaceMatrixMultiply;
    matmul->Services().Sequence = ssLength;
    matmul->Services().Mapping = msSubscript;
    matmul->Initialize();
    auto* numbers = static_cast<PyNumberMethods*>(matmul->TheType().tp_as_number);
    ASSERT_NE(numbers, nullptr);
    EXPECT_NE(numbers->nb_add, nullptr);
    EXPECT_NE(numbers->nb_matrix_multiply, nullptr);
    EXPECT_NE(numbers->nb_inplace_matrix_multiply, nullptr);
    EXPECT_EQ(numbers->nb_subtract, nullptr);
    EXPECT_NE(static_cast<PySequenceMethods*>(matmul->TheType().tp_as_sequence)->sq_length, nullptr);
    EXPECT_NE(static_cast<PyMappingMethods*>(matmul->TheType().tp_as_mapping)->mp_subscript, nullptr);

    // Against a runtime before 3.5 the matrix product has no slot.
    matmul->Finalize();
    const int minor = E().MinorVersion();
    TPythonInterfaceTestSeam::SetMinorVersion(E(), 4);
    matmul->Initialize();
    TPythonInterfaceTestSeam::SetMinorVersion(E(), minor);
    numbers = static_cast<PyNumberMethods*>(matmul->TheType().tp_as_number);
    EXPECT_NE(numbers->nb_add, nullptr);
    EXPECT_EQ(numbers->nb_matrix_multiply, nullptr);
    EXPECT_EQ(numbers->nb_inplace_matrix_multiply, nullptr);
}

TEST(HostType, ObjectsOfOtherTypesAreNotHostObjects)
{
    const TPyRef fiveRef = TPyRef::Steal(E(), E().PyLong_FromLong(5));
    PPyObject five = fiveRef.Get();
    EXPECT_FALSE(IsHostObject(five));
    EXPECT_FALSE(IsHostObject(nullptr));
    try {
        HostObjectOf(five);
        ADD_FAILURE() << "no exception";
    } catch (const EPythonError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Python object \"5\" is not a host class"));
    }
}
