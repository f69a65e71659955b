#pragma once
// Host-defined Python types: TPythonType owns one Python type object built
// from its settings; the instances of a TPyObject subclass live inside the
// Python objects of that type, right after the runtime's object header, and
// their virtual operations implement the type's behaviour.
#include "pybridge/PythonModule.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <new>
#include <type_traits>
#include <typeinfo>

namespace pybridge {

// The runtime's slot tables (published 64-bit layouts).
using lenfunc = Py_ssize_t (*)(PPyObject);
using ssizeargfunc = PPyObject (*)(PPyObject, Py_ssize_t);
using ssizeobjargproc = int (*)(PPyObject, Py_ssize_t, PPyObject);
using objobjproc = int (*)(PPyObject, PPyObject);
using objobjargproc = int (*)(PPyObject, PPyObject, PPyObject);

struct PyNumberMethods {
    binaryfunc nb_add;
    binaryfunc nb_subtract;
    binaryfunc nb_multiply;
    binaryfunc nb_remainder;
    binaryfunc nb_divmod;
    ternaryfunc nb_power;
    unaryfunc nb_negative;
    unaryfunc nb_positive;
    unaryfunc nb_absolute;
    inquiry nb_bool;
    unaryfunc nb_invert;
    binaryfunc nb_lshift;
    binaryfunc nb_rshift;
    binaryfunc nb_and;
    binaryfunc nb_xor;
    binaryfunc nb_or;
    unaryfunc nb_int;
    void* nb_reserved;
    unaryfunc nb_float;
    binaryfunc nb_inplace_add;
    binaryfunc nb_inplace_subtract;
    binaryfunc nb_inplace_multiply;
    binaryfunc nb_inplace_remainder;
    ternaryfunc nb_inplace_power;
    binaryfunc nb_inplace_lshift;
    binaryfunc nb_inplace_rshift;
    binaryfunc nb_inplace_and;
    binaryfunc nb_inplace_xor;
    binaryfunc nb_inplace_or;
    binaryfunc nb_floor_divide;
    binaryfunc nb_true_divide;
    binaryfunc nb_inplace_floor_divide;
    binaryfunc nb_inplace_true_divide;
    unaryfunc nb_index;
    binaryfunc nb_matrix_multiply;
    binaryfunc nb_inplace_matrix_multiply;
};
static_assert(sizeof(PyNumberMethods) == 36 * 8);

struct PySequenceMethods {
    lenfunc sq_length;
    binaryfunc sq_concat;
    ssizeargfunc sq_repeat;
    ssizeargfunc sq_item;
    void* was_sq_slice;
    ssizeobjargproc sq_ass_item;
    void* was_sq_ass_slice;
    objobjproc sq_contains;
    binaryfunc sq_inplace_concat;
    ssizeargfunc sq_inplace_repeat;
};
static_assert(sizeof(PySequenceMethods) == 10 * 8);

struct PyMappingMethods {
    lenfunc mp_length;
    binaryfunc mp_subscript;
    objobjargproc mp_ass_subscript;
};

class TPythonType;
class TPyObject;

// The host object inside a Python object of a host-defined type.
bool IsHostObject(PPyObject obj);
// Raises EPythonError "Python object "%s" is not a host class" for any other object.
TPyObject* HostObjectOf(PPyObject obj);

class TPyObject {
public:
    explicit TPyObject(TPythonType* APythonType);
    TPyObject(TPythonType* APythonType, PPyObject args);
    TPyObject(TPythonType* APythonType, PPyObject args, PPyObject kwds);
    virtual ~TPyObject();
    TPyObject(const TPyObject&) = delete;
    TPyObject& operator=(const TPyObject&) = delete;

    TPythonType* PythonType = nullptr;
    bool IsSubtype = false;   // the object's type is a Python subclass of the host type
    bool PythonAlloc = false; // the block came from the runtime's allocator

    // The header in front of the host object.
    Py_ssize_t ob_refcnt() const { return GetSelf()->ob_refcnt; }
    void set_ob_refcnt(Py_ssize_t v) { GetSelf()->ob_refcnt = v; }
    PyTypeObject* ob_type() const { return GetSelf()->ob_type; }
    void set_ob_type(PyTypeObject* v) { GetSelf()->ob_type = v; }

    PPyObject GetSelf() const // borrowed
    {
        return reinterpret_cast<PPyObject>(reinterpret_cast<char*>(const_cast<TPyObject*>(this)) -
                                           PyObjectHeaderSize);
    }
    // Replaces a Python object reference by its host object.
    static void Adjust(void*& PyPointer);
    TPythonModule* GetModule() const;
    // The engine this object's type is attached to (CurrentEngine otherwise).
    TPythonEngine& Engine() const;

    // The slots' handlers answer a new reference, or null with a Python
    // error pending; their arguments are borrowed.
    virtual int Print();
    virtual TPyRef GetAttr(const char* key);
    virtual int SetAttr(const char* key, PPyObject value);
    virtual TPyRef Repr();
    virtual int Compare(PPyObject obj);
    virtual Py_hash_t Hash();
    virtual TPyRef Str();
    virtual TPyRef GetAttrO(PPyObject key);
    virtual int SetAttrO(PPyObject key, PPyObject value);
    virtual TPyRef Call(PPyObject args, PPyObject kwds);
    virtual int Traverse(visitproc proc, void* arg);
    virtual int Clear();
    virtual TPyRef RichCompare(PPyObject obj, int Op);
    virtual TPyRef Iter();
    virtual TPyRef IterNext();
    virtual int Init(PPyObject args, PPyObject kwds);

    virtual TPyRef NbAdd(PPyObject obj);
    virtual TPyRef NbSubtract(PPyObject obj);
    virtual TPyRef NbMultiply(PPyObject obj);
    virtual TPyRef NbFloorDivide(PPyObject obj);
    virtual TPyRef NbTrueDivide(PPyObject obj);
    virtual TPyRef NbMatrixMultiply(PPyObject obj);
    virtual TPyRef NbRemainder(PPyObject obj);
    virtual TPyRef NbDivmod(PPyObject obj);
    virtual TPyRef NbPower(PPyObject ob1, PPyObject ob2);
    virtual TPyRef NbNegative();
    virtual TPyRef NbPositive();
    virtual TPyRef NbAbsolute();
    virtual int NbBool();
    virtual TPyRef NbInvert();
    virtual TPyRef NbLShift(PPyObject obj);
    virtual TPyRef NbRShift(PPyObject obj);
    virtual TPyRef NbAnd(PPyObject obj);
    virtual TPyRef NbXor(PPyObject obj);
    virtual TPyRef NbOr(PPyObject obj);
    virtual TPyRef NbInt();
    virtual TPyRef NbFloat();

    virtual TPyRef NbInplaceAdd(PPyObject obj);
    virtual TPyRef NbInplaceSubtract(PPyObject obj);
    virtual TPyRef NbInplaceMultiply(PPyObject obj);
    virtual TPyRef NbInplaceDivide(PPyObject obj);
    virtual TPyRef NbInplaceFloorDivide(PPyObject obj);
    virtual TPyRef NbInplaceTrueDivide(PPyObject obj);
    virtual TPyRef NbInplaceRemainder(PPyObject obj);
    virtual TPyRef NbInplacePower(PPyObject ob1, PPyObject ob2);
    virtual TPyRef NbInplaceLshift(PPyObject obj);
    virtual TPyRef NbInplaceRshift(PPyObject obj);
    virtual TPyRef NbInplaceAnd(PPyObject obj);
    virtual TPyRef NbInplaceXor(PPyObject obj);
    virtual TPyRef NbInplaceOr(PPyObject obj);
    virtual TPyRef NbInplaceMatrixMultiply(PPyObject obj);

    virtual Py_ssize_t SqLength();
    virtual TPyRef SqConcat(PPyObject obj);
    virtual TPyRef SqRepeat(Py_ssize_t count);
    virtual TPyRef SqItem(Py_ssize_t idx);
    virtual int SqAssItem(Py_ssize_t idx, PPyObject obj);
    virtual int SqContains(PPyObject obj);
    virtual TPyRef SqInplaceConcat(PPyObject obj);
    virtual TPyRef SqInplaceRepeat(Py_ssize_t count);

    virtual Py_ssize_t MpLength();
    virtual TPyRef MpSubscript(PPyObject obj);
    virtual int MpAssSubscript(PPyObject obj1, PPyObject obj2);

    // Class-level operations: a subclass hides these with its own static
    // functions of the same signature to fill the type's tables.
    static void RegisterMethods(TPythonType*) {}
    static void RegisterMembers(TPythonType*) {}
    static void RegisterGetSets(TPythonType*) {}
    static void SetupType(TPythonType*) {}
};

// A TPyObject subclass as a value: what TPythonType needs to size, build and
// set up its instances. Made with PyObjectClassOf<T>().
struct TPyObjectClass {
    const char* ClassName;
    std::size_t InstanceSize;
    TPyObject* (*Construct)(void* where, TPythonType* type);
    TPyObject* (*ConstructWith)(void* where, TPythonType* type, PPyObject args, PPyObject kwds);
    void (*SetupType)(TPythonType*);
    void (*RegisterMethods)(TPythonType*);
    void (*RegisterMembers)(TPythonType*);
    void (*RegisterGetSets)(TPythonType*);
};

// The constructor used for creation with arguments is the most specific one
// the class offers: (type, args, kwds), else (type, args), else (type).
template <class T>
const TPyObjectClass* PyObjectClassOf(const char* className = nullptr)
{
    static_assert(std::is_base_of_v<TPyObject, T>, "a host object class derives from TPyObject");
    static_assert(alignof(T) <= PyObjectHeaderSize, "the host object follows the 16-byte header");
    static const TPyObjectClass cls{
        className ? className : typeid(T).name(),
        sizeof(T),
        [](void* where, TPythonType* type) -> TPyObject* { return new (where) T(type); },
        [](void* where, TPythonType* type, PPyObject args, PPyObject kwds) -> TPyObject* {
            if constexpr (std::is_constructible_v<T, TPythonType*, PPyObject, PPyObject>)
                return new (where) T(type, args, kwds);
            else if constexpr (std::is_constructible_v<T, TPythonType*, PPyObject>)
                return new (where) T(type, args);
            else
                return new (where) T(type);
        },
        &T::SetupType,
        &T::RegisterMethods,
        &T::RegisterMembers,
        &T::RegisterGetSets,
    };
    return &cls;
}

enum TBasicService : quint16 {
    bsGetAttr = 1 << 0,
    bsSetAttr = 1 << 1,
    bsRepr = 1 << 2,
    bsCompare = 1 << 3,
    bsHash = 1 << 4,
    bsStr = 1 << 5,
    bsGetAttrO = 1 << 6,
    bsSetAttrO = 1 << 7,
    bsCall = 1 << 8,
    bsTraverse = 1 << 9,
    bsClear = 1 << 10,
    bsRichCompare = 1 << 11,
    bsIter = 1 << 12,
    bsIterNext = 1 << 13,
};
using TBasicServices = quint16;

enum TNumberService : quint32 {
    nsAdd = 1u << 0,
    nsSubtract = 1u << 1,
    nsMultiply = 1u << 2,
    nsRemainder = 1u << 3,
    nsDivmod = 1u << 4,
    nsPower = 1u << 5,
    nsNegative = 1u << 6,
    nsPositive = 1u << 7,
    nsAbsolute = 1u << 8,
    nsInvert = 1u << 9,
    nsLShift = 1u << 10,
    nsRShift = 1u << 11,
    nsAnd = 1u << 12,
    nsXor = 1u << 13,
    nsOr = 1u << 14,
    nsInt = 1u << 15,
    nsFloat = 1u << 16,
    nsFloorDivide = 1u << 17,
    nsTrueDivide = 1u << 18,
    nsMatrixMultiply = 1u << 19,
    nsBool = 1u << 20,
};
using TNumberServices = quint32;

enum TSequenceService : quint8 {
    ssLength = 1 << 0,
    ssConcat = 1 << 1,
    ssRepeat = 1 << 2,
    ssItem = 1 << 3,
    ssAssItem = 1 << 4,
    ssContains = 1 << 5,
    ssInplaceConcat = 1 << 6,
    ssInplaceRepeat = 1 << 7,
};
using TSequenceServices = quint8;

enum TMappingService : quint8 {
    msLength = 1 << 0,
    msSubscript = 1 << 1,
    msAssSubscript = 1 << 2,
};
using TMappingServices = quint8;

enum TInplaceNumberService : quint16 {
    nsInplaceAdd = 1 << 0,
    nsInplaceSubtract = 1 << 1,
    nsInplaceMultiply = 1 << 2,
    nsInplaceRemainder = 1 << 3,
    nsInplacePower = 1 << 4,
    nsInplaceLShift = 1 << 5,
    nsInplaceRShift = 1 << 6,
    nsInplaceAnd = 1 << 7,
    nsInplaceXor = 1 << 8,
    nsInplaceOr = 1 << 9,
    nsInplaceFloorDivide = 1 << 10,
    nsInplaceTrueDivide = 1 << 11,
    nsInplaceMatrixMultiply = 1 << 12,
};
using TInplaceNumberServices = quint16;

class TTypeServices {
public:
    TBasicServices Basic = bsRepr | bsStr | bsGetAttrO | bsSetAttrO;
    TNumberServices Number = 0;
    TSequenceServices Sequence = 0;
    TMappingServices Mapping = 0;
    TInplaceNumberServices InplaceNumber = 0;

    void Assign(const TTypeServices& Source) { *this = Source; }
};

enum TPFlag : quint16 {
    tpfHeapType = 1 << 0,
    tpfBaseType = 1 << 1,
    tpfReady = 1 << 2,
    tpfReadying = 1 << 3,
    tpfHaveGC = 1 << 4,
    tpVectorCall = 1 << 5,
    tpMethodDescriptor = 1 << 6,
    tpHaveVersionTag = 1 << 7,
    tpValidVersionTag = 1 << 8,
    tpIsAbstract = 1 << 9,
    tpLongSubclass = 1 << 10,
    tpListSubClass = 1 << 11,
    tpTupleSubclass = 1 << 12,
    tpBytesSubclass = 1 << 13,
    tpBaseExcSubclass = 1 << 14,
    tpTypeSubclass = 1 << 15,
};
using TPFlags = quint16;

// The runtime's tp_flags value of a flag set.
unsigned long TypeFlagsValue(TPFlags flags);

class TPythonType : public TGetSetContainer {
public:
    explicit TPythonType(TComponent* AOwner = nullptr);
    ~TPythonType() override;
    const char* ClassName() const override { return "TPythonType"; }

    void Initialize() override;
    void Finalize() override;
    void ModuleReady() override;

    PyTypeObject& TheType() { return FType; }
    PPyObject TheTypePtr() { return reinterpret_cast<PPyObject>(&FType); } // borrowed

    const QByteArray& TypeName() const { return FTypeName; }
    void SetTypeName(const QByteArray& Value);
    TPythonModule* Module() const { return FModule; }
    void SetModule(TPythonModule* Value);
    const TPyObjectClass* PyObjectClass() const { return FPyObjectClass; }
    void SetPyObjectClass(const TPyObjectClass* Value);
    template <class T>
    void SetPyObjectClass()
    {
        SetPyObjectClass(PyObjectClassOf<T>());
    }
    const QByteArray& Prefix() const { return FPrefix; }
    void SetPrefix(const QByteArray& Value) { FPrefix = Value; }
    TTypeServices& Services() { return FServices; }
    void SetServices(const TTypeServices& Value) { FServices.Assign(Value); }
    const QStringList& DocString() const { return FDocString; }
    void SetDocString(const QStringList& Value) { FDocString = Value; }
    TPFlags TypeFlags() const { return FTypeFlags; }
    void SetTypeFlags(TPFlags Value) { FTypeFlags = Value; }
    bool GenerateCreateFunction() const { return FGenerateCreateFunction; }
    void SetGenerateCreateFunction(bool Value) { FGenerateCreateFunction = Value; }
    void SetBaseType(TPythonType* AType);

    int InstanceCount() const { return FInstanceCount; }
    int CreateHits() const { return FCreateHits; }
    int DeleteHits() const { return FDeleteHits; }

    // New Python objects made by the host (reference count 1), or null when
    // the constructor left a Python error pending.
    TPyRef CreateInstance();
    TPyRef CreateInstanceWith(PPyObject args, PPyObject kwds);
    // Publishes the type (and its creation function) in the module.
    void AddTypeVar();

    bool IsPythonType() const override { return true; }
    QByteArray ClientTypeName() const override { return FTypeName; }
    PPyObject ClientTypeObject() const override // borrowed
    {
        return reinterpret_cast<PPyObject>(const_cast<PyTypeObject*>(&FType));
    }

protected:
    Py_ssize_t MemberOffsetBase() const override { return static_cast<Py_ssize_t>(PyObjectHeaderSize); }
    void GrowMethods() override;
    void GrowMembers() override;
    void GrowGetSets() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TPyObject;
    void InitServices();
    void EnsureReady();
    TPyRef NewHostInstance(bool withArgs, PPyObject args, PPyObject kwds);
    // Entries the runtime calls through thunks bound to this component; they
    // hand the runtime a new reference.
    PPyObject NewSubtypeInst(PyTypeObject* aType, PPyObject args, PPyObject kwds);
    PPyObject CreateMethod(PPyObject pSelf, PPyObject args, PPyObject kwds);

    PyTypeObject FType{};
    QByteArray FTypeName;
    TPythonModule* FModule = nullptr;
    const TPyObjectClass* FPyObjectClass = nullptr;
    QByteArray FPrefix = QByteArrayLiteral("Create");
    QByteArray FCreateFuncName;
    TTypeServices FServices;
    PyNumberMethods FNumber{};
    PySequenceMethods FSequence{};
    PyMappingMethods FMapping{};
    QByteArray FCurrentDocString;
    QStringList FDocString;
    QByteArray FCreateFuncDoc;
    int FInstanceCount = 0;
    int FCreateHits = 0;
    int FDeleteHits = 0;
    TPFlags FTypeFlags = tpfBaseType | tpHaveVersionTag;
    TPyRef FCreateFunc;
    PyMethodDef FCreateFuncDef{};
    bool FGenerateCreateFunction = true;
    newfunc FNewThunk = nullptr;
    PyCFunctionWithKeywords FCreateThunk = nullptr;
};

} // namespace pybridge
