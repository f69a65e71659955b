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
    auto zero = FailureOf<EPyArithmeticError>([&] { e.EvalString("1/0"); });
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
    const TPyRef s = e.PyUnicodeFromString(text);
    ASSERT_TRUE(s);
    EXPECT_EQ(e.PyUnicode_GetLength(s.Get()), text.toUcs4().size());
    EXPECT_EQ(e.PyObjectAsString(s.Get()), text);
    EXPECT_EQ(e.PyUnicodeAsUTF8String(s.Get()), text.toUtf8());

    e.ExecString(QStringLiteral("jp = '変換スクリプト'\njp_len = len(jp)").toUtf8());
    EXPECT_EQ(e.EvalStringAsStr("jp"), QStringLiteral("変換スクリプト"));
    EXPECT_EQ(e.EvalStringAsStr("jp_len"), QStringLiteral("7"));

    // A lone surrogate survives the round trip instead of vanishing.
    QString lone = QStringLiteral("a");
    lone.append(QChar(0xD800));
    const TPyRef l = e.PyUnicodeFromString(lone);
    ASSERT_TRUE(l);
    EXPECT_EQ(e.PyObjectAsString(l.Get()), lone);
    EXPECT_EQ(e.PyErr_Occurred(), nullptr);
}

TEST_F(Run, StringConversions)
{
    EXPECT_EQ(e.PyObjectAsString(nullptr), QString());
    const TPyRef fiveRef = TPyRef::Steal(e, e.PyLong_FromLong(5));
    PPyObject five = fiveRef.Get();
    EXPECT_EQ(e.PyObjectAsString(five), QStringLiteral("5"));
    try {
        e.PyUnicodeAsString(five);
        ADD_FAILURE();
    } catch (const EPythonError& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("Conversion Error: PyUnicodeAsString expects a Unicode Python object"));
    }
    EXPECT_THROW(e.PyBytesAsAnsiString(five), EPythonError);

    EXPECT_EQ(e.PyBytesAsAnsiString(e.EvalString("b'ab\\x00c'").Get()), QByteArray("ab\0c", 4));
    EXPECT_EQ(e.PyByteArrayAsAnsiString(e.EvalString("bytearray(b'xyz')").Get()), QByteArray("xyz"));
    EXPECT_EQ(TPythonEngine::EncodeString(QStringLiteral("é")), QByteArray("\xc3\xa9"));
    EXPECT_EQ(e.EncodeWindowsFilePath(QStringLiteral("é")), QByteArray("\xc3\xa9"));
}

TEST_F(Run, Containers)
{
    TPyRef listRef = e.StringsToPyList({QStringLiteral("a"), QStringLiteral("日本")});
    PPyObject list = listRef.Get();
    QStringList out{QStringLiteral("kept")};
    e.PyListToStrings(list, out, false);
    EXPECT_EQ(out, (QStringList{QStringLiteral("kept"), QStringLiteral("a"), QStringLiteral("日本")}));
    try {
        e.PyTupleToStrings(list, out);
        ADD_FAILURE();
    } catch (const EPythonError& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("the python object is not a tuple"));
    }
    TPyRef tuple = e.MakePyTuple({list, nullptr});
    EXPECT_EQ(e.PyTuple_GetItem(tuple.Get(), 1), e.Py_None);
    EXPECT_EQ(e.PyTuple_GetItem(tuple.Get(), 0), list);
    EXPECT_EQ(list->ob_refcnt, 2);
    tuple.Reset();
    EXPECT_EQ(list->ob_refcnt, 1);
    try {
        e.PyListToStrings(e.Py_None, out);
        ADD_FAILURE();
    } catch (const EPythonError& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("the python object is not a list"));
    }

    try {
        e.ArrayToPyDict({1, 2, 3});
        ADD_FAILURE();
    } catch (const platform::Exception& x) {
        EXPECT_EQ(x.Message(), QStringLiteral("You must provide an even number of arguments"));
    }
    EXPECT_EQ(e.PyObjectAsString(e.ArrayToPyDict({QStringLiteral("k"), 3, 4, QStringLiteral("v")}).Get()),
              QStringLiteral("{'k': 3, 4: 'v'}"));

    const unsigned char bits[2] = {0x05, 0x80};
    const TPyRef members = e.SetToList(bits, 2);
    EXPECT_EQ(e.PyObjectAsString(members.Get()), QStringLiteral("[0, 2, 15]"));
    unsigned char back[2] = {0xff, 0xff};
    e.ListToSet(members.Get(), back, 2);
    EXPECT_EQ(back[0], 0x05);
    EXPECT_EQ(back[1], 0x80);
}

TEST_F(Run, Variants)
{
    const QVariantList list =
        e.PyObjectAsVariant(e.EvalString("[1.5, True, 2**40, 'テキスト', b'raw', None, (1, 2)]").Get()).toList();
    ASSERT_EQ(list.size(), 7);
    EXPECT_EQ(list[0].typeId(), QMetaType::Double);
    EXPECT_EQ(list[1].typeId(), QMetaType::Bool);
    EXPECT_EQ(list[2].toLongLong(), 1LL << 40);
    EXPECT_EQ(list[3].toString(), QStringLiteral("テキスト"));
    EXPECT_EQ(list[4].toByteArray(), QByteArray("raw"));
    EXPECT_FALSE(list[5].isValid());
    EXPECT_EQ(list[6].toList().size(), 2);

    const TPyRef back = e.VariantAsPyObject(QVariantList{1, QStringLiteral("x"), 2.5, true, QVariant()});
    EXPECT_EQ(e.PyObjectAsString(back.Get()), QStringLiteral("[1, 'x', 2.5, True, None]"));

    e.SetDatetimeConversionMode(TDatetimeConversionMode::dcmToDatetime);
    const TPyRef dt = e.VariantAsPyObject(QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 16)));
    EXPECT_TRUE(e.PyDateTime_Check(dt.Get()));
    EXPECT_EQ(e.PyObjectAsVariant(dt.Get()).toDateTime(), QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 16)));
    e.SetDatetimeConversionMode(TDatetimeConversionMode::dcmToTuple);
    EXPECT_EQ(e.PyObjectAsVariant(dt.Get()).toList().first().toInt(), 2024);

    const TPyRef f = e.EvalString("lambda a, b: a + b");
    EXPECT_EQ(e.EvalPyFunction(f.Get(), {2, 3}).toLongLong(), 5);
    EXPECT_THROW(e.EvalPyFunction(f.Get(), {2}), EPyTypeError);
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
    EXPECT_EQ(e.ReturnNone().Get(), e.Py_None);
    EXPECT_TRUE(e.IsType(e.ReturnTrue().Get(), e.PyBool_Type));
    EXPECT_EQ(e.ReturnFalse().Get(), e.Py_False);

    const TPyRef globals = TPyRef::Steal(e, e.PyDict_New());
    const TPyRef locals = TPyRef::Steal(e, e.PyDict_New());
    e.ExecString("loc = 5", locals.Get(), globals.Get());
    EXPECT_NE(e.PyDict_GetItemString(locals.Get(), "loc"), nullptr);
    EXPECT_EQ(e.PyDict_GetItemString(globals.Get(), "loc"), nullptr);
    EXPECT_EQ(e.PyLong_AsLong(e.EvalString("loc * 2", locals.Get(), globals.Get()).Get()), 10);
}
