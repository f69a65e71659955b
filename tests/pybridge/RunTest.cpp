// Running code, converting values and mapping Python errors.
#include "PyCoreSupport.h"

#include "pybridge/PythonEngine.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <typeinfo>

using namespace pybridge;

namespace {

// Runs code that must fail and returns the host exception it became.
template <class E = EPythonError>
std::unique_ptr<E> FailureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return std::make_unique<E>(e);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
        return nullptr;
    }
    ADD_FAILURE() << "no exception";
    return nullptr;
}

class Run : public ::testing::Test {
protected:
    TPythonEngine& e = pycore::Engine();
    void TearDown() override
    {
        // Every failure leaves the interpreter without a pending error.
        EXPECT_EQ(e.PyErr_Occurred(), nullptr);
    }
};

} // namespace

TEST_F(Run, LineEndsAreNormalised)
{
    e.ExecString("run_a = 1\r\nrun_b = run_a + 1\r\nif run_b:\r\n    run_c = 3"); // no final line end
    EXPECT_EQ(e.EvalStringAsStr("run_a + run_b + run_c"), QStringLiteral("6"));
    e.ExecStrings({QStringLiteral("run_d = 4"), QStringLiteral("run_e = run_d * 2")});
    EXPECT_EQ(e.EvalStringsAsStr({QStringLiteral("run_e")}), QStringLiteral("8"));
    EXPECT_EQ(e.Run_CommandAsString("run_e + 1", eval_input), QStringLiteral("9"));
}

TEST_F(Run, SyntaxErrorCarriesItsPosition)
{
    auto err = FailureOf<EPySyntaxError>([&] { e.ExecString("x = 1\ny = 2\nz = = 3\n"); });
    ASSERT_TRUE(err);
    EXPECT_EQ(typeid(*err), typeid(EPySyntaxError));
    EXPECT_EQ(err->EName, QStringLiteral("SyntaxError"));
    EXPECT_EQ(err->EValue, QStringLiteral("invalid syntax"));
    EXPECT_EQ(err->EFileName, QStringLiteral("<string>"));
    EXPECT_EQ(err->ELineNumber, 3);
    EXPECT_EQ(err->ELineStr, QStringLiteral("z = = 3"));
    EXPECT_GT(err->EOffset, 0);
    EXPECT_EQ(err->EEndLineNumber, 3);
    EXPECT_EQ(err->Message(), QStringLiteral("SyntaxError: invalid syntax (line 3, offset %1): 'z = = 3'").arg(err->EOffset));

    try {
        e.ExecString("if True:\nprint(1)\n", QStringLiteral("script.py"));
        ADD_FAILURE() << "no exception";
    } catch (const EPySyntaxError& s) { // an IndentationError is a syntax error
        EXPECT_NE(dynamic_cast<const EPyIndentationError*>(&s), nullptr);
        EXPECT_EQ(s.EFileName, QStringLiteral("script.py"));
        EXPECT_EQ(s.ELineNumber, 2);
    }
}

TEST_F(Run, ErrorsBecomeTheirHostClasses)
{
    auto zero = FailureOf<EPyArithmeticError>([&] { e.Py_XDECREF(e.EvalString("1/0")); });
    ASSERT_TRUE(zero);
    EXPECT_EQ(typeid(*zero), typeid(EPyArithmeticError)); // copy sliced to the caught class
    try {
        e.EvalString("1/0");
    } catch (const EPythonError& x) {
        EXPECT_EQ(typeid(x), typeid(EPyZeroDivisionError));
        EXPECT_EQ(x.Message(), QStringLiteral("ZeroDivisionError: division by zero"));
        EXPECT_EQ(x.EName, QStringLiteral("ZeroDivisionError"));
        EXPECT_EQ(x.EValue, QStringLiteral("division by zero"));
    }

    struct Case {
        const char* code;
        const std::type_info& type;
        const char* message;
    } cases[] = {
        {"class MyError(Exception): pass\nraise MyError('bad')", typeid(EPyException), "MyError: bad"},
        {"class MyBase(BaseException): pass\nraise MyBase('worse')", typeid(EPyExecError), "MyBase: worse"},
        {"raise ValueError()", typeid(EPyValueError), "ValueError"},
        {"{}['k']", typeid(EPyKeyError), "KeyError: 'k'"},
        {"[][1]", typeid(EPyIndexError), "IndexError: list index out of range"},
        {"undefined_name_here", typeid(EPyNameError), "NameError: name 'undefined_name_here' is not defined"},
        {"def f():\n    v += 1\nf()", typeid(EPyUnboundLocalError), nullptr},
        {"import no_such_module_at_all", typeid(EPyImportError), nullptr},
        {"open('/no/such/file/anywhere')", typeid(EPyWindowsError), nullptr},
        {"raise KeyboardInterrupt", typeid(EPyKeyboardInterrupt), "KeyboardInterrupt"},
        {"raise NotImplementedError('later')", typeid(EPyNotImplementedError), "NotImplementedError: later"},
        {"b'\\xff'.decode('utf-8')", typeid(UnicodeDecodeError), nullptr},
        {"raise UserWarning('careful')", typeid(EPyUserWarning), "UserWarning: careful"},
        {"raise FutureWarning", typeid(FutureWarning), "FutureWarning"},
        {"assert False, 'nope'", typeid(EPyAssertionError), "AssertionError: nope"},
        {"None.x", typeid(EPyAttributeError), nullptr},
        {"1 + 'a'", typeid(EPyTypeError), nullptr},
        {"def deep(n): return deep(n + 1)\ndeep(0)", typeid(EPyRuntimeError),
         "RecursionError: maximum recursion depth exceeded"},
        {"raise StopIteration", typeid(EPyStopIteration), "StopIteration"},
    };
    for (const Case& c : cases) {
        try {
            e.ExecString(c.code);
            ADD_FAILURE() << "no exception: " << c.code;
        } catch (const EPythonError& x) {
            EXPECT_EQ(typeid(x), c.type) << c.code << " gave " << x.what();
            if (c.message) {
                EXPECT_EQ(x.Message(), QString::fromLatin1(c.message)) << c.code;
            }
        }
    }
    // Catching a base class catches the classes below it.
    EXPECT_TRUE(FailureOf<EPyLookupError>([&] { e.ExecString("{}[1]"); }));
    EXPECT_TRUE(FailureOf<EPyEnvironmentError>([&] { e.ExecString("open('/no/such/file')"); }));
    EXPECT_TRUE(FailureOf<EPyStandardError>([&] { e.ExecString("1/0"); }));
    // The interpreter goes on.
    EXPECT_EQ(e.EvalStringAsStr("1 + 1"), QStringLiteral("2"));
}

TEST_F(Run, SystemExitNeverEndsTheProcess)
{
    auto err = FailureOf<EPySystemExit>([&] { e.ExecString("import sys\nsys.exit(3)"); });
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Message(), QStringLiteral("Unhandled SystemExit exception. Code: 3"));
    err = FailureOf<EPySystemExit>([&] { e.ExecString("raise SystemExit('bye')"); });
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Message(), QStringLiteral("Unhandled SystemExit exception. Code: bye"));
    EXPECT_EQ(e.EvalStringAsStr("'still here'"), QStringLiteral("still here"));
}

TEST_F(Run, AnInterruptStopsALongScript)
{
    e.PyErr_SetInterrupt(); // as if the user pressed Ctrl+C
    EXPECT_TRUE(FailureOf<EPyKeyboardInterrupt>([&] { e.ExecString("for i in range(10**9): pass"); }));
    EXPECT_EQ(e.EvalStringAsStr("'usable'"), QStringLiteral("usable"));
}

TEST_F(Run, TracebackRunsOutermostFirstAndHonoursTheLimit)
{
    e.ExecString("def tb_inner():\n    raise ValueError('x')\n"
                 "def tb_outer():\n    tb_inner()\n",
                 QStringLiteral("tbmod.py"));
    EXPECT_TRUE(FailureOf<EPyValueError>([&] { e.ExecString("tb_outer()", QStringLiteral("caller.py")); }));
    TPythonTraceback& tb = e.Traceback();
    ASSERT_EQ(tb.ItemCount(), 3);
    EXPECT_EQ(tb.Items(0).Context, QStringLiteral("<module>"));
    EXPECT_EQ(tb.Items(0).FileName, QStringLiteral("caller.py"));
    EXPECT_EQ(tb.Items(0).LineNo, 1);
    EXPECT_EQ(tb.Items(1).Context, QStringLiteral("tb_outer"));
    EXPECT_EQ(tb.Items(1).LineNo, 4);
    EXPECT_EQ(tb.Items(2).Context, QStringLiteral("tb_inner"));
    EXPECT_EQ(tb.Items(2).FileName, QStringLiteral("tbmod.py"));
    EXPECT_EQ(tb.Items(2).LineNo, 2);

    tb.SetLimit(2);
    EXPECT_TRUE(FailureOf<EPyValueError>([&] { e.ExecString("tb_outer()"); }));
    ASSERT_EQ(tb.ItemCount(), 2); // the innermost two
    EXPECT_EQ(tb.Items(1).Context, QStringLiteral("tb_inner"));
    tb.SetLimit(1000);

    e.ExecString("import sys\nsys.tracebacklimit = 0");
    EXPECT_TRUE(FailureOf<EPyValueError>([&] { e.ExecString("tb_outer()"); }));
    EXPECT_EQ(tb.ItemCount(), 0);
    e.ExecString("del sys.tracebacklimit");

    e.ExecString("x = 1"); // a new run empties it
    EXPECT_EQ(tb.ItemCount(), 0);
}

TEST_F(Run, TheEmptyNamedModuleKeepsDefinitionsBetweenRuns)
{
    const QByteArray saved = e.ExecModule();
    e.SetExecModule(QByteArray());
    e.ExecString("def kept(): return 41");
    e.ExecString("kept_value = kept() + 1");
    EXPECT_EQ(e.EvalStringAsStr("kept_value"), QStringLiteral("42"));
    EXPECT_NE(e.FindModule(""), nullptr);
    e.SetExecModule(saved);
    EXPECT_THROW(e.EvalString("kept_value"), EPyNameError);
}

TEST_F(Run, JapaneseTextBothWays)
{
    const QString text = QStringLiteral("日本語のテキスト、記号😀と ASCII");
    PPyObject s = e.PyUnicodeFromString(text);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(e.PyUnicode_GetLength(s), text.toUcs4().size());
    EXPECT_EQ(e.PyObjectAsString(s), text);
    EXPECT_EQ(e.PyUnicodeAsUTF8String(s), text.toUtf8());
    e.Py_DECREF(s);

    e.ExecString(QStringLiteral("jp = '変換スクリプト'\njp_len = len(jp)").toUtf8());
    EXPECT_EQ(e.EvalStringAsStr("jp"), QStringLiteral("変換スクリプト"));
    EXPECT_EQ(e.EvalStringAsStr("jp_len"), QStringLiteral("7"));

    // A lone surrogate survives the round trip instead of vanishing.
    QString lone = QStringLiteral("a");
    lone.append(QChar(0xD800));
    PPyObject l = e.PyUnicodeFromString(lone);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(e.PyObjectAsString(l), lone);
    e.Py_DECREF(l);
    EXPECT_EQ(e.PyErr_Occurred(), nullptr);
}

TEST_F(Run, StringConversions)
{
    EXPECT_EQ(e.PyObjectAsString(nullptr), QString());
    PPyObject five = e.PyLong_FromLong(5);
    EXPECT_EQ(e.PyObjectAsString(five), QStringLiteral("5"));
    try {
        e.PyUnicodeAsString(five);
        ADD_FAILURE();
    } catch (const EPythonError& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("Conversion Error: PyUnicodeAsString expects a Unicode Python object"));
    }
    EXPECT_THROW(e.PyBytesAsAnsiString(five), EPythonError);
    e.Py_DECREF(five);

    PPyObject b = e.EvalString("b'ab\\x00c'");
    EXPECT_EQ(e.PyBytesAsAnsiString(b), QByteArray("ab\0c", 4));
    e.Py_DECREF(b);
    PPyObject ba = e.EvalString("bytearray(b'xyz')");
    EXPECT_EQ(e.PyByteArrayAsAnsiString(ba), QByteArray("xyz"));
    e.Py_DECREF(ba);
    EXPECT_EQ(TPythonEngine::EncodeString(QStringLiteral("é")), QByteArray("\xc3\xa9"));
    EXPECT_EQ(e.EncodeWindowsFilePath(QStringLiteral("é")), QByteArray("\xc3\xa9"));
}

TEST_F(Run, Containers)
{
    PPyObject list = e.StringsToPyList({QStringLiteral("a"), QStringLiteral("日本")});
    QStringList out{QStringLiteral("kept")};
    e.PyListToStrings(list, out, false);
    EXPECT_EQ(out, (QStringList{QStringLiteral("kept"), QStringLiteral("a"), QStringLiteral("日本")}));
    try {
        e.PyTupleToStrings(list, out);
        ADD_FAILURE();
    } catch (const EPythonError& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("the python object is not a tuple"));
    }
    PPyObject tuple = e.MakePyTuple({list, nullptr});
    EXPECT_EQ(e.PyTuple_GetItem(tuple, 1), e.Py_None);
    EXPECT_EQ(e.PyTuple_GetItem(tuple, 0), list);
    EXPECT_EQ(list->ob_refcnt, 2);
    e.Py_DECREF(tuple);
    EXPECT_EQ(list->ob_refcnt, 1);
    try {
        e.PyListToStrings(e.Py_None, out);
        ADD_FAILURE();
    } catch (const EPythonError& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("the python object is not a list"));
    }
    e.Py_DECREF(list);

    try {
        e.ArrayToPyDict({1, 2, 3});
        ADD_FAILURE();
    } catch (const platform::Exception& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("You must provide an even number of arguments"));
    }
    PPyObject d = e.ArrayToPyDict({QStringLiteral("k"), 3, 4, QStringLiteral("v")});
    EXPECT_EQ(e.PyObjectAsString(d), QStringLiteral("{'k': 3, 4: 'v'}"));
    e.Py_DECREF(d);

    const unsigned char bits[2] = {0x05, 0x80};
    PPyObject members = e.SetToList(bits, 2);
    EXPECT_EQ(e.PyObjectAsString(members), QStringLiteral("[0, 2, 15]"));
    unsigned char back[2] = {0xff, 0xff};
    e.ListToSet(members, back, 2);
    EXPECT_EQ(back[0], 0x05);
    EXPECT_EQ(back[1], 0x80);
    e.Py_DECREF(members);
}

TEST_F(Run, Variants)
{
    PPyObject v = e.EvalString("[1.5, True, 2**40, 'テキスト', b'raw', None, (1, 2)]");
    const QVariantList list = e.PyObjectAsVariant(v).toList();
    e.Py_DECREF(v);
    ASSERT_EQ(list.size(), 7);
    EXPECT_EQ(list[0].typeId(), QMetaType::Double);
    EXPECT_EQ(list[1].typeId(), QMetaType::Bool);
    EXPECT_EQ(list[2].toLongLong(), 1LL << 40);
    EXPECT_EQ(list[3].toString(), QStringLiteral("テキスト"));
    EXPECT_EQ(list[4].toByteArray(), QByteArray("raw"));
    EXPECT_FALSE(list[5].isValid());
    EXPECT_EQ(list[6].toList().size(), 2);

    PPyObject back = e.VariantAsPyObject(QVariantList{1, QStringLiteral("x"), 2.5, true, QVariant()});
    EXPECT_EQ(e.PyObjectAsString(back), QStringLiteral("[1, 'x', 2.5, True, None]"));
    e.Py_DECREF(back);

    e.SetDatetimeConversionMode(TDatetimeConversionMode::dcmToDatetime);
    PPyObject dt = e.VariantAsPyObject(QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 16)));
    EXPECT_TRUE(e.PyDateTime_Check(dt));
    EXPECT_EQ(e.PyObjectAsVariant(dt).toDateTime(), QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 16)));
    e.SetDatetimeConversionMode(TDatetimeConversionMode::dcmToTuple);
    EXPECT_EQ(e.PyObjectAsVariant(dt).toList().first().toInt(), 2024);
    e.Py_DECREF(dt);

    PPyObject f = e.EvalString("lambda a, b: a + b");
    EXPECT_EQ(e.EvalPyFunction(f, {2, 3}).toLongLong(), 5);
    EXPECT_THROW(e.EvalPyFunction(f, {2}), EPyTypeError);
    e.Py_DECREF(f);
}

TEST_F(Run, CheckSyntaxLeavesTheErrorPending)
{
    EXPECT_TRUE(e.CheckExecSyntax("a = 1\n"));
    EXPECT_TRUE(e.CheckEvalSyntax("1 + 2"));
    EXPECT_FALSE(e.CheckEvalSyntax("a = 1"));
    EXPECT_NE(e.PyErr_Occurred(), nullptr);
    // The next run reports what was left pending before running anything.
    EXPECT_THROW(e.ExecString("never_defined_by_this_run = 1"), EPySyntaxError);
    EXPECT_THROW(e.EvalString("never_defined_by_this_run"), EPyNameError);
}

TEST_F(Run, SingletonsAndExplicitDictionaries)
{
    PPyObject n = e.ReturnNone();
    EXPECT_EQ(n, e.Py_None);
    e.Py_DECREF(n);
    PPyObject t = e.ReturnTrue();
    EXPECT_TRUE(e.IsType(t, e.PyBool_Type));
    e.Py_DECREF(t);
    e.Py_DECREF(e.ReturnFalse());

    PPyObject globals = e.PyDict_New();
    PPyObject locals = e.PyDict_New();
    e.ExecString("loc = 5", locals, globals);
    EXPECT_NE(e.PyDict_GetItemString(locals, "loc"), nullptr);
    EXPECT_EQ(e.PyDict_GetItemString(globals, "loc"), nullptr);
    PPyObject r = e.EvalString("loc * 2", locals, globals);
    EXPECT_EQ(e.PyLong_AsLong(r), 10);
    e.Py_DECREF(r);
    e.Py_DECREF(locals);
    e.Py_DECREF(globals);
}
