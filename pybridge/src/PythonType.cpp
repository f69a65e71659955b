#include "pybridge/PythonType.h"

#include "platform/Exception.h"

#include <cstdlib>
#include <cstring>

namespace pybridge {

namespace {

// How the object being built was allocated; set just before the host object
// is constructed in place and read by the TPyObject constructor.
struct TBirth {
    bool PythonAlloc = false;
    bool IsSubtype = false;
};
thread_local TBirth gBirth;

TPyObject* HostObjectAt(PPyObject obj)
{
    return std::launder(reinterpret_cast<TPyObject*>(reinterpret_cast<char*>(obj) + PyObjectHeaderSize));
}

TPythonEngine& EngineOf(const TPythonType* t)
{
    if (t && t->Engine())
        return *t->Engine();
    return CurrentEngine();
}

// The deallocation every host-defined type shares; IsHostObject recognises
// host types by it.
void HostDealloc(PPyObject obj)
{
    try {
        TPyObject* host = HostObjectAt(obj);
        const bool pythonAlloc = host->PythonAlloc;
        PyTypeObject* type = obj->ob_type;
        if (EngineReady()) {
            host->~TPyObject();
            if (!pythonAlloc)
                std::free(obj);
        }
        if (pythonAlloc && type && type->tp_free)
            type->tp_free(obj);
    } catch (...) {
        SetPythonErrorFromException();
    }
}

// Slot dispatchers: the Python object's host object runs the operation; a
// host exception becomes a Python error and the slot's failure value.
template <auto M, class... A>
PPyObject ObjSlot(PPyObject self, A... a)
{
    return GuardPythonCall<PPyObject>(nullptr, [&] { return (HostObjectOf(self)->*M)(a...); });
}

template <auto M, class... A>
int IntSlot(PPyObject self, A... a)
{
    return GuardPythonCall<int>(-1, [&] { return (HostObjectOf(self)->*M)(a...); });
}

template <auto M>
Py_ssize_t SizeSlot(PPyObject self)
{
    return GuardPythonCall<Py_ssize_t>(-1, [&] { return (HostObjectOf(self)->*M)(); });
}

Py_hash_t HashSlot(PPyObject self)
{
    return GuardPythonCall<Py_hash_t>(-1, [&] { return HostObjectOf(self)->Hash(); });
}

PPyObject GetAttrSlot(PPyObject self, char* key)
{
    return GuardPythonCall<PPyObject>(nullptr, [&] { return HostObjectOf(self)->GetAttr(key); });
}

int SetAttrSlot(PPyObject self, char* key, PPyObject value)
{
    return GuardPythonCall<int>(-1, [&] { return HostObjectOf(self)->SetAttr(key, value); });
}

PPyObject RichCompareSlot(PPyObject self, PPyObject other, int op)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        Q_ASSERT(op >= Py_LT && op <= Py_GE);
        return HostObjectOf(self)->RichCompare(other, op);
    });
}

int TraverseSlot(PPyObject self, visitproc proc, void* arg)
{
    return GuardPythonCall<int>(-1, [&] { return HostObjectOf(self)->Traverse(proc, arg); });
}

TPyRef NewRefNone()
{
    TPythonEngine& e = CurrentEngine();
    return e.ReturnNone();
}

// ------------------------------------------------------------------ slot wiring

// The record type a slot pointer belongs to.
template <class T>
struct TRecordOf;
template <class R, class F>
struct TRecordOf<F R::*> {
    using Type = R;
};

// Writes one slot of a type record.
template <auto Slot, auto Function>
void Put(typename TRecordOf<decltype(Slot)>::Type& record)
{
    record.*Slot = Function;
}

// A service flag and the slot it fills; matrix multiplication slots exist
// only from runtime 3.5 on.
template <class R>
struct TSlotWire {
    unsigned Flag;
    void (*Wire)(R&);
    bool Matmul = false;
};

template <class R, std::size_t N>
void WireSlots(R& record, unsigned services, const TSlotWire<R> (&table)[N], bool matmul)
{
    for (const TSlotWire<R>& w : table)
        if ((services & w.Flag) && (matmul || !w.Matmul))
            w.Wire(record);
}

using O = PPyObject;
using Z = Py_ssize_t;
using TO = TPyObject;

const TSlotWire<PyTypeObject> kBasicSlots[] = {
    {bsGetAttr, &Put<&PyTypeObject::tp_getattr, &GetAttrSlot>},
    {bsSetAttr, &Put<&PyTypeObject::tp_setattr, &SetAttrSlot>},
    {bsRepr, &Put<&PyTypeObject::tp_repr, &ObjSlot<&TO::Repr>>},
    {bsStr, &Put<&PyTypeObject::tp_str, &ObjSlot<&TO::Str>>},
    {bsHash, &Put<&PyTypeObject::tp_hash, &HashSlot>},
    {bsGetAttrO, &Put<&PyTypeObject::tp_getattro, &ObjSlot<&TO::GetAttrO, O>>},
    {bsSetAttrO, &Put<&PyTypeObject::tp_setattro, &IntSlot<&TO::SetAttrO, O, O>>},
    {bsCall, &Put<&PyTypeObject::tp_call, &ObjSlot<&TO::Call, O, O>>},
    {bsTraverse, &Put<&PyTypeObject::tp_traverse, &TraverseSlot>},
    {bsClear, &Put<&PyTypeObject::tp_clear, &IntSlot<&TO::Clear>>},
    {bsRichCompare, &Put<&PyTypeObject::tp_richcompare, &RichCompareSlot>},
    {bsIter, &Put<&PyTypeObject::tp_iter, &ObjSlot<&TO::Iter>>},
    {bsIterNext, &Put<&PyTypeObject::tp_iternext, &ObjSlot<&TO::IterNext>>},
};

using TNum = PyNumberMethods;
const TSlotWire<TNum> kNumberSlots[] = {
    {nsAdd, &Put<&TNum::nb_add, &ObjSlot<&TO::NbAdd, O>>},
    {nsSubtract, &Put<&TNum::nb_subtract, &ObjSlot<&TO::NbSubtract, O>>},
    {nsMultiply, &Put<&TNum::nb_multiply, &ObjSlot<&TO::NbMultiply, O>>},
    {nsRemainder, &Put<&TNum::nb_remainder, &ObjSlot<&TO::NbRemainder, O>>},
    {nsDivmod, &Put<&TNum::nb_divmod, &ObjSlot<&TO::NbDivmod, O>>},
    {nsPower, &Put<&TNum::nb_power, &ObjSlot<&TO::NbPower, O, O>>},
    {nsNegative, &Put<&TNum::nb_negative, &ObjSlot<&TO::NbNegative>>},
    {nsPositive, &Put<&TNum::nb_positive, &ObjSlot<&TO::NbPositive>>},
    {nsAbsolute, &Put<&TNum::nb_absolute, &ObjSlot<&TO::NbAbsolute>>},
    {nsInvert, &Put<&TNum::nb_invert, &ObjSlot<&TO::NbInvert>>},
    {nsLShift, &Put<&TNum::nb_lshift, &ObjSlot<&TO::NbLShift, O>>},
    {nsRShift, &Put<&TNum::nb_rshift, &ObjSlot<&TO::NbRShift, O>>},
    {nsAnd, &Put<&TNum::nb_and, &ObjSlot<&TO::NbAnd, O>>},
    {nsXor, &Put<&TNum::nb_xor, &ObjSlot<&TO::NbXor, O>>},
    {nsOr, &Put<&TNum::nb_or, &ObjSlot<&TO::NbOr, O>>},
    {nsInt, &Put<&TNum::nb_int, &ObjSlot<&TO::NbInt>>},
    {nsFloat, &Put<&TNum::nb_float, &ObjSlot<&TO::NbFloat>>},
    {nsFloorDivide, &Put<&TNum::nb_floor_divide, &ObjSlot<&TO::NbFloorDivide, O>>},
    {nsTrueDivide, &Put<&TNum::nb_true_divide, &ObjSlot<&TO::NbTrueDivide, O>>},
    {nsMatrixMultiply, &Put<&TNum::nb_matrix_multiply, &ObjSlot<&TO::NbMatrixMultiply, O>>, true},
    {nsBool, &Put<&TNum::nb_bool, &IntSlot<&TO::NbBool>>},
};

const TSlotWire<TNum> kInplaceNumberSlots[] = {
    {nsInplaceAdd, &Put<&TNum::nb_inplace_add, &ObjSlot<&TO::NbInplaceAdd, O>>},
    {nsInplaceSubtract, &Put<&TNum::nb_inplace_subtract, &ObjSlot<&TO::NbInplaceSubtract, O>>},
    {nsInplaceMultiply, &Put<&TNum::nb_inplace_multiply, &ObjSlot<&TO::NbInplaceMultiply, O>>},
    {nsInplaceRemainder, &Put<&TNum::nb_inplace_remainder, &ObjSlot<&TO::NbInplaceRemainder, O>>},
    {nsInplacePower, &Put<&TNum::nb_inplace_power, &ObjSlot<&TO::NbInplacePower, O, O>>},
    {nsInplaceLShift, &Put<&TNum::nb_inplace_lshift, &ObjSlot<&TO::NbInplaceLshift, O>>},
    {nsInplaceRShift, &Put<&TNum::nb_inplace_rshift, &ObjSlot<&TO::NbInplaceRshift, O>>},
    {nsInplaceAnd, &Put<&TNum::nb_inplace_and, &ObjSlot<&TO::NbInplaceAnd, O>>},
    {nsInplaceXor, &Put<&TNum::nb_inplace_xor, &ObjSlot<&TO::NbInplaceXor, O>>},
    {nsInplaceOr, &Put<&TNum::nb_inplace_or, &ObjSlot<&TO::NbInplaceOr, O>>},
    {nsInplaceFloorDivide, &Put<&TNum::nb_inplace_floor_divide, &ObjSlot<&TO::NbInplaceFloorDivide, O>>},
    {nsInplaceTrueDivide, &Put<&TNum::nb_inplace_true_divide, &ObjSlot<&TO::NbInplaceTrueDivide, O>>},
    {nsInplaceMatrixMultiply,
     &Put<&TNum::nb_inplace_matrix_multiply, &ObjSlot<&TO::NbInplaceMatrixMultiply, O>>, true},
};

using TSeq = PySequenceMethods;
const TSlotWire<TSeq> kSequenceSlots[] = {
    {ssLength, &Put<&TSeq::sq_length, &SizeSlot<&TO::SqLength>>},
    {ssConcat, &Put<&TSeq::sq_concat, &ObjSlot<&TO::SqConcat, O>>},
    {ssRepeat, &Put<&TSeq::sq_repeat, &ObjSlot<&TO::SqRepeat, Z>>},
    {ssItem, &Put<&TSeq::sq_item, &ObjSlot<&TO::SqItem, Z>>},
    {ssAssItem, &Put<&TSeq::sq_ass_item, &IntSlot<&TO::SqAssItem, Z, O>>},
    {ssContains, &Put<&TSeq::sq_contains, &IntSlot<&TO::SqContains, O>>},
    {ssInplaceConcat, &Put<&TSeq::sq_inplace_concat, &ObjSlot<&TO::SqInplaceConcat, O>>},
    {ssInplaceRepeat, &Put<&TSeq::sq_inplace_repeat, &ObjSlot<&TO::SqInplaceRepeat, Z>>},
};

using TMap = PyMappingMethods;
const TSlotWire<TMap> kMappingSlots[] = {
    {msLength, &Put<&TMap::mp_length, &SizeSlot<&TO::MpLength>>},
    {msSubscript, &Put<&TMap::mp_subscript, &ObjSlot<&TO::MpSubscript, O>>},
    {msAssSubscript, &Put<&TMap::mp_ass_subscript, &IntSlot<&TO::MpAssSubscript, O, O>>},
};

} // namespace

// ------------------------------------------------------------------ host objects

bool IsHostObject(PPyObject obj)
{
    if (!obj)
        return false;
    for (PyTypeObject* t = obj->ob_type; t; t = t->tp_base)
        if (t->tp_dealloc == &HostDealloc)
            return true;
    return false;
}

TPyObject* HostObjectOf(PPyObject obj)
{
    if (IsHostObject(obj))
        return HostObjectAt(obj);
    QString text;
    if (obj && EngineReady())
        text = CurrentEngine().PyObjectAsString(obj);
    throw EPythonError(platform::Format(QStringLiteral("Python object \"%s\" is not a host class"), {text}));
}

TPyObject::TPyObject(TPythonType* APythonType)
{
    PythonAlloc = gBirth.PythonAlloc;
    IsSubtype = gBirth.IsSubtype;
    gBirth = TBirth{};
    if (APythonType) {
        set_ob_refcnt(1);
        PythonType = APythonType;
        ++APythonType->FInstanceCount;
        ++APythonType->FCreateHits;
    }
}

TPyObject::TPyObject(TPythonType* APythonType, PPyObject) : TPyObject(APythonType) {}

TPyObject::TPyObject(TPythonType* APythonType, PPyObject args, PPyObject) : TPyObject(APythonType, args) {}

TPyObject::~TPyObject()
{
    if (PythonType) {
        --PythonType->FInstanceCount;
        ++PythonType->FDeleteHits;
    }
}

void TPyObject::Adjust(void*& PyPointer)
{
    PyPointer = HostObjectOf(static_cast<PPyObject>(PyPointer));
}

TPythonModule* TPyObject::GetModule() const { return PythonType ? PythonType->Module() : nullptr; }

TPythonEngine& TPyObject::Engine() const { return EngineOf(PythonType); }

int TPyObject::Print() { return -1; }

TPyRef TPyObject::GetAttr(const char* key)
{
    TPythonEngine& e = Engine();
    const TPyRef name = TPyRef::Steal(e, e.PyUnicode_FromString(key));
    if (!name)
        return {};
    return TPyRef::Steal(e, e.PyObject_GenericGetAttr(GetSelf(), name.Get()));
}

int TPyObject::SetAttr(const char* key, PPyObject)
{
    TPythonEngine& e = Engine();
    const QByteArray msg = platform::Format(QStringLiteral("Unknown attribute \"%s\""), {QString::fromUtf8(key)}).toUtf8();
    e.PyErr_SetString(*e.PyExc_AttributeError, msg.constData());
    return -1;
}

TPyRef TPyObject::Repr()
{
    TPythonEngine& e = Engine();
    const QByteArray name = PythonType ? PythonType->TypeName() : QByteArray();
    const QByteArray text = "<" + name + " at " + QByteArray::number(reinterpret_cast<quintptr>(this), 16) + ">";
    return e.PyUnicodeFromString(text);
}

int TPyObject::Compare(PPyObject) { return 0; }

Py_hash_t TPyObject::Hash() { return static_cast<Py_hash_t>(reinterpret_cast<quintptr>(this)); }

TPyRef TPyObject::Str() { return Repr(); }

TPyRef TPyObject::GetAttrO(PPyObject key)
{
    TPythonEngine& e = Engine();
    return TPyRef::Steal(e, e.PyObject_GenericGetAttr(GetSelf(), key));
}

int TPyObject::SetAttrO(PPyObject key, PPyObject value)
{
    return Engine().PyObject_GenericSetAttr(GetSelf(), key, value);
}

TPyRef TPyObject::Call(PPyObject, PPyObject) { return {}; }
int TPyObject::Traverse(visitproc, void*) { return 0; }
int TPyObject::Clear() { return 0; }

TPyRef TPyObject::RichCompare(PPyObject obj, int Op)
{
    const int c = Compare(obj);
    bool result = false;
    switch (Op) {
    case Py_LT:
        result = c < 0;
        break;
    case Py_LE:
        result = c <= 0;
        break;
    case Py_EQ:
        result = c == 0;
        break;
    case Py_NE:
        result = c != 0;
        break;
    case Py_GT:
        result = c > 0;
        break;
    case Py_GE:
        result = c >= 0;
        break;
    default:
        result = false;
    }
    TPythonEngine& e = Engine();
    return result ? e.ReturnTrue() : e.ReturnFalse();
}

TPyRef TPyObject::Iter() { return {}; }
TPyRef TPyObject::IterNext() { return {}; }
int TPyObject::Init(PPyObject, PPyObject) { return 0; }

TPyRef TPyObject::NbAdd(PPyObject) { return {}; }
TPyRef TPyObject::NbSubtract(PPyObject) { return {}; }
TPyRef TPyObject::NbMultiply(PPyObject) { return {}; }
TPyRef TPyObject::NbFloorDivide(PPyObject) { return {}; }
TPyRef TPyObject::NbTrueDivide(PPyObject) { return {}; }
TPyRef TPyObject::NbMatrixMultiply(PPyObject) { return {}; }
TPyRef TPyObject::NbRemainder(PPyObject) { return {}; }
TPyRef TPyObject::NbDivmod(PPyObject) { return {}; }
TPyRef TPyObject::NbPower(PPyObject, PPyObject) { return {}; }
TPyRef TPyObject::NbNegative() { return {}; }
TPyRef TPyObject::NbPositive() { return {}; }
TPyRef TPyObject::NbAbsolute() { return {}; }
int TPyObject::NbBool() { return 0; }
TPyRef TPyObject::NbInvert() { return {}; }
TPyRef TPyObject::NbLShift(PPyObject) { return {}; }
TPyRef TPyObject::NbRShift(PPyObject) { return {}; }
TPyRef TPyObject::NbAnd(PPyObject) { return {}; }
TPyRef TPyObject::NbXor(PPyObject) { return {}; }
TPyRef TPyObject::NbOr(PPyObject) { return {}; }
TPyRef TPyObject::NbInt() { return {}; }
TPyRef TPyObject::NbFloat() { return {}; }

TPyRef TPyObject::NbInplaceAdd(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceSubtract(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceMultiply(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceDivide(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceFloorDivide(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceTrueDivide(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceRemainder(PPyObject) { return {}; }
TPyRef TPyObject::NbInplacePower(PPyObject, PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceLshift(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceRshift(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceAnd(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceXor(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceOr(PPyObject) { return {}; }
TPyRef TPyObject::NbInplaceMatrixMultiply(PPyObject) { return {}; }

Py_ssize_t TPyObject::SqLength() { return 0; }
TPyRef TPyObject::SqConcat(PPyObject) { return NewRefNone(); }
TPyRef TPyObject::SqRepeat(Py_ssize_t) { return NewRefNone(); }
TPyRef TPyObject::SqItem(Py_ssize_t) { return NewRefNone(); }
int TPyObject::SqAssItem(Py_ssize_t, PPyObject) { return -1; }
int TPyObject::SqContains(PPyObject) { return -1; }
TPyRef TPyObject::SqInplaceConcat(PPyObject) { return {}; }
TPyRef TPyObject::SqInplaceRepeat(Py_ssize_t) { return {}; }

Py_ssize_t TPyObject::MpLength() { return 0; }
TPyRef TPyObject::MpSubscript(PPyObject) { return NewRefNone(); }
int TPyObject::MpAssSubscript(PPyObject, PPyObject) { return -1; }

// ------------------------------------------------------------------ type flags

unsigned long TypeFlagsValue(TPFlags flags)
{
    static constexpr int kBits[16] = {9, 10, 12, 13, 14, 11, 17, 18, 19, 20, 24, 25, 26, 27, 30, 31};
    unsigned long value = 0;
    for (int i = 0; i < 16; ++i)
        if (flags & (1u << i))
            value |= 1UL << kBits[i];
    return value;
}

// ------------------------------------------------------------------ the type component

TPythonType::TPythonType(TComponent* AOwner) : TGetSetContainer(AOwner) {}

TPythonType::~TPythonType()
{
    Destroying();
    if (FInitialized)
        TPythonType::Finalize();
    SetModule(nullptr);
}

void TPythonType::SetTypeName(const QByteArray& Value)
{
    if (Value.isEmpty() || Value == FTypeName)
        return;
    FTypeName = Value;
    // The type object reads its name from our text.
    if (FType.tp_name)
        FType.tp_name = FTypeName.constData();
}

void TPythonType::SetModule(TPythonModule* Value)
{
    if (Value == FModule)
        return;
    if (FModule) {
        RemoveFreeNotification(FModule);
        FModule->RemoveClient(this);
    }
    FModule = Value;
    if (!FModule)
        return;
    FreeNotification(FModule);
    if (FInitialized && !IsLoading() && FModule->Initialized() && FModule->Module())
        AddTypeVar();
    else
        FModule->AddClient(this);
}

void TPythonType::Notification(TComponent* AComponent, TOperation Operation)
{
    TGetSetContainer::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove && AComponent == FModule)
        FModule = nullptr;
}

void TPythonType::SetPyObjectClass(const TPyObjectClass* Value)
{
    if (Value == FPyObjectClass)
        return;
    if (FPyObjectClass) {
        ClearMethods();
        ClearMembers();
        ClearGetSets();
    }
    FPyObjectClass = Value;
    if (!FPyObjectClass)
        return;
    FType.tp_basicsize = static_cast<Py_ssize_t>(FPyObjectClass->InstanceSize + PyObjectHeaderSize);
    FPyObjectClass->SetupType(this);
    FPyObjectClass->RegisterMethods(this);
    FPyObjectClass->RegisterMembers(this);
    FPyObjectClass->RegisterGetSets(this);
}

void TPythonType::SetBaseType(TPythonType* AType) { FType.tp_base = AType ? &AType->FType : nullptr; }

void TPythonType::GrowMethods()
{
    TGetSetContainer::GrowMethods();
    if (FTypeFlags & tpfBaseType)
        FType.tp_methods = FMethods.Data();
}

void TPythonType::GrowMembers()
{
    TGetSetContainer::GrowMembers();
    if (FTypeFlags & tpfBaseType)
        FType.tp_members = FMembers.Data();
}

void TPythonType::GrowGetSets()
{
    TGetSetContainer::GrowGetSets();
    if (FTypeFlags & tpfBaseType)
        FType.tp_getset = FGetSets.Data();
}

void TPythonType::InitServices()
{
    TPythonEngine& e = *FEngine;
    if (!FDocString.isEmpty()) {
        QString text;
        for (const QString& l : FDocString)
            text += l + u'\n';
        FCurrentDocString = text.toUtf8();
        FType.tp_doc = FCurrentDocString.constData();
    }
    FType.tp_dealloc = &HostDealloc;

    WireSlots(FType, FServices.Basic, kBasicSlots, true);

    if (FTypeFlags & tpfBaseType) {
        FType.tp_init = &IntSlot<&TPyObject::Init, PPyObject, PPyObject>;
        FType.tp_alloc = e.PyType_GenericAlloc;
        if (!FNewThunk)
            FNewThunk = MakeMethodThunk<&TPythonType::NewSubtypeInst>(this);
        FType.tp_new = FNewThunk;
        // The runtime's own function, so that a collected Python subclass
        // gets its collector-aware counterpart.
        FType.tp_free = e.PyObject_Free;
        FType.tp_methods = FMethods.Data();
        FType.tp_members = FMembers.Data();
        FType.tp_getset = FGetSets.Data();
    }

    const bool matmul = e.MajorVersion() > 3 || (e.MajorVersion() == 3 && e.MinorVersion() > 4);
    if (FServices.Number) {
        FType.tp_as_number = &FNumber;
        WireSlots(FNumber, FServices.Number, kNumberSlots, matmul);
        WireSlots(FNumber, FServices.InplaceNumber, kInplaceNumberSlots, matmul);
    }
    if (FServices.Sequence) {
        FType.tp_as_sequence = &FSequence;
        WireSlots(FSequence, FServices.Sequence, kSequenceSlots, matmul);
    }
    if (FServices.Mapping) {
        FType.tp_as_mapping = &FMapping;
        WireSlots(FMapping, FServices.Mapping, kMappingSlots, matmul);
    }
}

void TPythonType::Initialize()
{
    if (FInitialized)
        return;
    CheckEngine();
    TPythonEngine& e = *FEngine;
    // A start after a stop begins from a clean record: what the runtime put
    // there (dictionary, method resolution order, subclass list) belonged to
    // the interpreter that has gone.
    const Py_ssize_t basicSize = FType.tp_basicsize;
    PyTypeObject* base = FType.tp_base;
    std::memset(static_cast<void*>(&FType), 0, sizeof(FType));
    FType.tp_basicsize = basicSize;
    FType.tp_base = base;
    FNumber = PyNumberMethods{};
    FSequence = PySequenceMethods{};
    FMapping = PyMappingMethods{};
    FType.ob_base.ob_base.ob_type = e.PyType_Type;
    FType.ob_base.ob_base.ob_refcnt = 1;
    FType.tp_name = FTypeName.constData();
    FType.tp_flags = TypeFlagsValue(FTypeFlags);
    InitServices();
    TGetSetContainer::Initialize();
    // Published last: readying the type freezes its slots and tables.
    if (FModule) {
        if (FModule->Initialized() && FModule->Module())
            AddTypeVar();
        else
            FModule->AddClient(this);
    }
}

void TPythonType::ModuleReady()
{
    // A type that is not initialised yet publishes itself when it is.
    if (FInitialized)
        AddTypeVar();
}

void TPythonType::Finalize()
{
    // After the interpreter has gone the function went with it.
    if (FEngine && FEngine->Initialized())
        FCreateFunc.Reset();
    else
        (void)FCreateFunc.Release();
    TGetSetContainer::Finalize();
}

void TPythonType::EnsureReady()
{
    TPythonEngine& e = *FEngine;
    if (FType.tp_flags & Py_TPFLAGS_READY)
        return;
    if (e.PyType_Ready(&FType) != 0)
        e.CheckError();
}

void TPythonType::AddTypeVar()
{
    CheckEngine();
    Q_ASSERT(FModule && FModule->Module());
    if (!FModule || !FModule->Module())
        throw platform::Exception(
            platform::Format(QStringLiteral("Type \"%s\" has no initialized module"), {QString::fromUtf8(FTypeName)}));
    TPythonEngine& e = *FEngine;
    EnsureReady();
    const QByteArray funcName = FPrefix + FTypeName;
    if (FGenerateCreateFunction) {
        // The existing function object points to the current name and doc:
        // they are only replaced together with it.
        if (!FCreateFunc) {
            FCreateFuncName = funcName;
            FCreateFuncDoc = "Creates a new instance of type " + FTypeName;
            if (!FCreateThunk)
                FCreateThunk = MakeMethodThunk<&TPythonType::CreateMethod>(this);
            FCreateFuncDef.ml_name = FCreateFuncName.constData();
            FCreateFuncDef.ml_meth = reinterpret_cast<void*>(FCreateThunk);
            FCreateFuncDef.ml_flags = METH_VARARGS | METH_KEYWORDS;
            FCreateFuncDef.ml_doc = FCreateFuncDoc.constData();
            FCreateFunc = e.StealOrRaise(e.PyCFunction_NewEx(&FCreateFuncDef, nullptr, nullptr));
        }
    }
    PPyObject dict = e.PyModule_GetDict(FModule->Module());
    e.PyDict_SetItemString(dict, FTypeName.constData(), TheTypePtr());
    if (FGenerateCreateFunction && FCreateFunc)
        e.PyDict_SetItemString(dict, funcName.constData(), FCreateFunc.Get());
    e.CheckError();
}

TPyRef TPythonType::NewHostInstance(bool withArgs, PPyObject args, PPyObject kwds)
{
    CheckEngine();
    if (!FPyObjectClass)
        throw platform::Exception(
            platform::Format(QStringLiteral("Type \"%s\" has no host object class"), {QString::fromUtf8(FTypeName)}));
    TPythonEngine& e = *FEngine;
    EnsureReady();
    void* block = std::calloc(1, FPyObjectClass->InstanceSize + PyObjectHeaderSize);
    if (!block)
        throw std::bad_alloc();
    auto* obj = static_cast<PPyObject>(block);
    obj->ob_refcnt = 1;
    TPyObject* host = nullptr;
    gBirth = TBirth{false, false};
    try {
        void* where = static_cast<char*>(block) + PyObjectHeaderSize;
        host = withArgs ? FPyObjectClass->ConstructWith(where, this, args, kwds)
                        : FPyObjectClass->Construct(where, this);
    } catch (...) {
        gBirth = TBirth{};
        std::free(block);
        throw;
    }
    obj->ob_type = &FType;
    if (e.PyErr_Occurred()) {
        host->~TPyObject();
        std::free(block);
        return {};
    }
    return TPyRef::Steal(e, obj);
}

TPyRef TPythonType::CreateInstance() { return NewHostInstance(false, nullptr, nullptr); }

TPyRef TPythonType::CreateInstanceWith(PPyObject args, PPyObject kwds) { return NewHostInstance(true, args, kwds); }

PPyObject TPythonType::NewSubtypeInst(PyTypeObject* aType, PPyObject args, PPyObject kwds)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        CheckEngine();
        TPythonEngine& e = *FEngine;
        if (!FPyObjectClass)
            throw platform::Exception(platform::Format(QStringLiteral("Type \"%s\" has no host object class"),
                                                       {QString::fromUtf8(FTypeName)}));
        PPyObject obj = aType->tp_alloc(aType, 0);
        if (!obj)
            return {};
        // Until the host part is built the block is freed by hand, not released.
        void* where = reinterpret_cast<char*>(obj) + PyObjectHeaderSize;
        // The host part starts zeroed, whatever the allocator left there.
        std::memset(where, 0, FPyObjectClass->InstanceSize);
        obj->ob_type = aType;
        gBirth = TBirth{true, aType != &FType};
        try {
            FPyObjectClass->ConstructWith(where, this, args, kwds);
        } catch (...) {
            gBirth = TBirth{};
            // The host part was never built: give the block straight back.
            if (e.PyType_IS_GC(aType))
                e.PyObject_GC_UnTrack(obj);
            if (aType->tp_free)
                aType->tp_free(obj);
            throw;
        }
        TPyRef built = TPyRef::Steal(e, obj);
        return e.PyErr_Occurred() ? TPyRef() : std::move(built);
    });
}

PPyObject TPythonType::CreateMethod(PPyObject, PPyObject args, PPyObject kwds)
{
    return GuardPythonCall<PPyObject>(nullptr, [&] { return CreateInstanceWith(args, kwds); });
}

} // namespace pybridge
