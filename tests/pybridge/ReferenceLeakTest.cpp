// References that a failing conversion or module creation used to keep:
// each case fails many times and counts what is left alive afterwards.
#include "PyCoreSupport.h"

#include "pybridge/PyRef.h"
#include "pybridge/PythonEngine.h"

#include <gtest/gtest.h>

#include <QDateTime>

using namespace pybridge;

namespace {

constexpr int kRounds = 50;

class ReferenceLeak : public ::testing::Test {
protected:
    TPythonEngine& e = pycore::Engine();

    // Lists the collector knows of; a leaked list stays among them.
    long LiveLists()
    {
        const TPyRef n = e.EvalString("__import__('gc').collect() * 0 + "
                                      "sum(1 for o in __import__('gc').get_objects() if type(o) is list)");
        EXPECT_TRUE(n);
        return n ? e.PyLong_AsLong(n.Get()) : -1;
    }

    void TearDown() override { EXPECT_EQ(e.PyErr_Occurred(), nullptr); }
};

template <class F>
bool Throws(F&& f)
{
    try {
        f();
    } catch (const std::exception&) {
        return true;
    }
    return false;
}

} // namespace

TEST_F(ReferenceLeak, NestedListWithAnUnconvertibleValueLeavesNoList)
{
    // A year the runtime's datetime cannot hold fails deep inside the inner list.
    const TDatetimeConversionMode mode = e.DatetimeConversionMode();
    e.SetDatetimeConversionMode(TDatetimeConversionMode::dcmToDatetime);
    const QVariantList nested{1, QVariantList{2, QDateTime(QDate(12000, 1, 1), QTime(0, 0))}};
    EXPECT_TRUE(Throws([&] { e.ArrayToPyList(nested); }));
    const long before = LiveLists();
    for (int i = 0; i < kRounds; ++i)
        EXPECT_TRUE(Throws([&] { e.ArrayToPyList(nested); }));
    EXPECT_TRUE(Throws([&] { e.ArrayToPyTuple(nested); }));
    EXPECT_EQ(LiveLists(), before);
    e.SetDatetimeConversionMode(mode);
}

TEST_F(ReferenceLeak, FunctionResultThatCannotBeConvertedIsReleased)
{
    // A sequence whose items cannot be read fails the result's conversion.
    e.ExecString("class LeakProbeSeq:\n"
                 "    def __len__(self): return 1\n"
                 "    def __getitem__(self, i): raise KeyError(i)\n"
                 "leak_probe_result = LeakProbeSeq()\n"
                 "def leak_probe(): return leak_probe_result\n");
    const TPyRef func = e.EvalString("leak_probe");
    const TPyRef result = e.EvalString("leak_probe_result");
    // The first failure's traceback, kept as the last error, holds the object too.
    EXPECT_TRUE(Throws([&] { e.EvalPyFunction(func.Get(), {}); }));
    const Py_ssize_t before = result->ob_refcnt;
    for (int i = 0; i < kRounds; ++i)
        EXPECT_TRUE(Throws([&] { e.EvalPyFunction(func.Get(), {}); }));
    EXPECT_EQ(result->ob_refcnt, before);
    e.ExecString("del LeakProbeSeq, leak_probe_result, leak_probe");
}

namespace {

// Stand-ins for two runtime entry points: the module made is counted, and
// entering it in the module table fails.
PPyObject (*gRealCreate)(PyModuleDef*, int) = nullptr;
TPyRef* gCreated = nullptr; // where the test keeps its own reference

PPyObject CountingCreate(PyModuleDef* def, int api)
{
    PPyObject made = gRealCreate(def, api);
    *gCreated = TPyRef::Borrow(pycore::Engine(), made);
    return made;
}

int FailingSetItem(PPyObject, const char*, PPyObject)
{
    TPythonEngine& e = pycore::Engine();
    e.PyErr_SetString(*e.PyExc_MemoryError, "no room in the module table");
    return -1;
}

} // namespace

TEST_F(ReferenceLeak, ModuleThatCannotBeEnteredIsReleased)
{
    static PyModuleDef def{};
    def.m_base.ob_base.ob_refcnt = 1;
    def.m_name = "leak_probe_module";
    def.m_size = -1;
    gRealCreate = e.PyModule_Create2;
    const auto realSet = e.PyDict_SetItemString;
    e.PyModule_Create2 = &CountingCreate;
    e.PyDict_SetItemString = &FailingSetItem;
    TPyRef created;
    gCreated = &created;
    const bool threw = Throws([&] { e.Py_InitModule(def); });
    gCreated = nullptr;
    e.PyModule_Create2 = gRealCreate;
    e.PyDict_SetItemString = realSet;
    e.PyErr_Clear();
    EXPECT_TRUE(threw);
    ASSERT_TRUE(created);
    // Only the test's reference is left.
    EXPECT_EQ(created->ob_refcnt, 1);
}
