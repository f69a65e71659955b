// Running code, converting values and turning Python errors into host exceptions.
#include "pybridge/PythonEngine.h"
#include "pybridge/PyRef.h"

#include "platform/Process.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstring>
#include <functional>

namespace pybridge {

namespace {

// Carriage returns go; a non-empty text gets a final line feed.
QByteArray NormalizeLineBreaks(const QByteArray& s)
{
    QByteArray r = s;
    r.replace("\r", "");
    if (!r.isEmpty() && !r.endsWith('\n'))
        r.append('\n');
    return r;
}

QString ConversionError(const char* func, const char* kind)
{
    return platform::Format(QStringLiteral("Conversion Error: %s expects a %s Python object"),
                            {QString::fromLatin1(func), QString::fromLatin1(kind)});
}

// Blanks and control characters off both ends.
QString TrimControls(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 32)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 32)
        --e;
    return s.mid(b, e - b);
}

} // namespace

// ---------------------------------------------------------------- running code

TPythonRunner::TPythonRunner(TComponent* AOwner) : TPythonInterface(AOwner) {}

TPythonRunner::~TPythonRunner() = default;

void TPythonRunner::SetDictionary(TPyRef& slot, PPyObject Value, const char* property)
{
    slot.Reset();
    if (!Value)
        return;
    if (!PyDict_Check(Value))
        throw platform::Exception(
            QStringLiteral("You must set a Python dictionary in the %1 property").arg(QLatin1String(property)));
    slot = TPyRef::Borrow(*this, Value);
}

void TPythonRunner::SetGlobalVars(PPyObject Value) { SetDictionary(FGlobalVars, Value, "GlobalVars"); }

void TPythonRunner::SetLocalVars(PPyObject Value) { SetDictionary(FLocalVars, Value, "LocalVars"); }

void TPythonRunner::InitDateTimeTypes()
{
    auto attr = [this](const TPyRef& module, const char* name) -> PPyObject {
        // The module keeps the type alive; we keep a borrowed pointer.
        const TPyRef o = TPyRef::Steal(*this, PyObject_GetAttrString(module.Get(), name));
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return nullptr;
        }
        return o.Get();
    };
    if (const TPyRef time = TPyRef::Steal(*this, PyImport_ImportModule("time"))) {
        FTimeStruct = attr(time, "struct_time");
    } else {
        PyErr_Clear();
    }
    if (const TPyRef dt = TPyRef::Steal(*this, PyImport_ImportModule("datetime"))) {
        FPyDateTime_DateType = attr(dt, "date");
        FPyDateTime_DateTimeType = attr(dt, "datetime");
        FPyDateTime_DeltaType = attr(dt, "timedelta");
        FPyDateTime_TimeType = attr(dt, "time");
        FPyDateTime_TZInfoType = attr(dt, "tzinfo");
        FPyDateTime_TimeTZType = attr(dt, "timetz");
        FPyDateTime_DateTimeTZType = attr(dt, "datetimetz");
    } else {
        PyErr_Clear();
    }
}

PPyObject TPythonRunner::GetMainModule() const
{
    // An empty name is handed over as an empty text, never as null.
    return PyImport_AddModule(FExecModule.isNull() ? "" : FExecModule.constData());
}

void TPythonRunner::ClearDateTimeTypes()
{
    FTimeStruct = nullptr;
    FPyDateTime_DateType = nullptr;
    FPyDateTime_DateTimeType = nullptr;
    FPyDateTime_DeltaType = nullptr;
    FPyDateTime_TimeType = nullptr;
    FPyDateTime_TZInfoType = nullptr;
    FPyDateTime_TimeTZType = nullptr;
    FPyDateTime_DateTimeTZType = nullptr;
}

TPyRef TPythonRunner::CompileCode(const QByteArray& command, int mode, const QString& FileName)
{
    RequireInitialized();
    FTraceback.Clear();
    CheckError(false);
    const QByteArray fileName = EncodeString(FileName);
    const QByteArray cmd = NormalizeLineBreaks(command);
    TPyRef code = StealOrRaise(Py_CompileString(cmd.constData(), fileName.constData(), mode));
    if (!code)
        throw EPythonError(QStringLiteral("Run_CommandAsObject: could not compile the code"));
    return code;
}

TPyRef TPythonRunner::EvalCode(PPyObject code, PPyObject locals, PPyObject globals)
{
    RequireInitialized();
    FTraceback.Clear();
    CheckError(false);
    PPyObject m = GetMainModule();
    if (!m)
        throw EPythonError(QStringLiteral("Run_CommandAsObject: can't create __main__"));
    PPyObject l = locals ? locals : (FLocalVars ? FLocalVars.Get() : PyModule_GetDict(m));
    PPyObject g = globals ? globals : (FGlobalVars ? FGlobalVars.Get() : l);
    // Code sees a normal module: without __builtins__ in its globals, parts
    // of the library that look it up (date formatting, pickling) fail.
    if (!PyDict_GetItemString(g, "__builtins__")) {
        if (PyErr_Occurred())
            CheckError(false);
        if (PyDict_SetItemString(g, "__builtins__", PyEval_GetBuiltins()) != 0)
            CheckError(false);
    }
    try {
        return StealOrRaise(PyEval_EvalCode(code, g, l));
    } catch (const EPythonError&) {
        throw;
    } catch (const platform::Exception&) {
        if (PyErr_Occurred())
            CheckError(false);
        throw;
    }
}

TPyRef TPythonRunner::Run_CommandAsObjectWithDict(const QByteArray& command, int mode, PPyObject locals,
                                                  PPyObject globals, const QString& FileName)
{
    const TPyRef code = CompileCode(command, mode, FileName);
    return EvalCode(code.Get(), locals, globals);
}

TPyRef TPythonRunner::Run_CommandAsObject(const QByteArray& command, int mode, const QString& FileName)
{
    return Run_CommandAsObjectWithDict(command, mode, nullptr, nullptr, FileName);
}

QString TPythonRunner::Run_CommandAsString(const QByteArray& command, int mode, const QString& FileName)
{
    return PyObjectAsString(Run_CommandAsObject(command, mode, FileName).Get());
}

void TPythonRunner::ExecString(const QByteArray& command, const QString& FileName)
{
    Run_CommandAsObject(command, file_input, FileName);
}

void TPythonRunner::ExecString(const QByteArray& command, PPyObject locals, PPyObject globals,
                               const QString& FileName)
{
    Run_CommandAsObjectWithDict(command, file_input, locals, globals, FileName);
}

TPyRef TPythonRunner::EvalString(const QByteArray& command, const QString& FileName)
{
    return Run_CommandAsObject(command, eval_input, FileName);
}

TPyRef TPythonRunner::EvalString(const QByteArray& command, PPyObject locals, PPyObject globals,
                                 const QString& FileName)
{
    return Run_CommandAsObjectWithDict(command, eval_input, locals, globals, FileName);
}

QString TPythonRunner::EvalStringAsStr(const QByteArray& command, const QString& FileName)
{
    return Run_CommandAsString(command, eval_input, FileName);
}

QByteArray TPythonRunner::StringsToCommand(const QStringList& strings) const
{
    QString text;
    for (const QString& line : strings) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return EncodeString(text);
}

void TPythonRunner::ExecStrings(const QStringList& strings, const QString& FileName)
{
    ExecString(StringsToCommand(strings), FileName);
}

void TPythonRunner::ExecStrings(const QStringList& strings, PPyObject locals, PPyObject globals,
                                const QString& FileName)
{
    ExecString(StringsToCommand(strings), locals, globals, FileName);
}

TPyRef TPythonRunner::EvalStrings(const QStringList& strings, const QString& FileName)
{
    return EvalString(StringsToCommand(strings), FileName);
}

TPyRef TPythonRunner::EvalStrings(const QStringList& strings, PPyObject locals, PPyObject globals,
                                  const QString& FileName)
{
    return EvalString(StringsToCommand(strings), locals, globals, FileName);
}

QString TPythonRunner::EvalStringsAsStr(const QStringList& strings, const QString& FileName)
{
    return Run_CommandAsString(StringsToCommand(strings), eval_input, FileName);
}

void TPythonRunner::ExecFile(const QString& FileName, PPyObject locals, PPyObject globals)
{
    QFile f(FileName);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        throw platform::Exception(platform::Format(QStringLiteral("Cannot open file \"%s\""), {FileName}));
    QStringList lines;
    QTextStream in(&f);
    while (!in.atEnd())
        lines << in.readLine();
    ExecStrings(lines, locals, globals, FileName);
}

bool TPythonRunner::CheckSyntax(const QByteArray& str, int mode)
{
    if (FMajorVersion == 3 && FMinorVersion < 10 && PyParser_SimpleParseStringFlags && PyNode_Free) {
        void* n = PyParser_SimpleParseString(str.constData(), mode);
        if (!n)
            return false;
        PyNode_Free(n);
        return true;
    }
    return static_cast<bool>(TPyRef::Steal(*this, Py_CompileString(str.constData(), "<string>", mode)));
}

// ---------------------------------------------------------------- errors

// python3 prints an exit code that is neither None nor a number, such as
// sys.exit("bad input"), to the standard error stream before it ends.
void TPythonRunner::PrintExitMessage(PPyObject value)
{
    if (!value)
        return;
    // The value may still be the bare code (the error not normalised yet).
    TPyRef code = PyErr_GivenExceptionMatches(value, *PyExc_SystemExit)
                      ? TPyRef::Steal(*this, PyObject_GetAttrString(value, "code"))
                      : TPyRef::Borrow(*this, value);
    if (!code) {
        PyErr_Clear();
        return;
    }
    if (code.Get() == Py_None || PyLong_Check(code.Get()))
        return;
    PPyObject stream = PySys_GetObject("stderr"); // borrowed
    if (!stream || stream == Py_None)
        return;
    if (PyFile_WriteObject(code.Get(), stream, 1 /* Py_PRINT_RAW */) < 0 || PyFile_WriteString("\n", stream) < 0)
        PyErr_Clear();
}

void TPythonRunner::CheckError(bool ACatchStopEx)
{
    if (!PyErr_Occurred())
        return;
    if (ACatchStopEx && PyErr_ExceptionMatches(*PyExc_StopIteration)) {
        PyErr_Clear();
        throw EPyStopIteration(QStringLiteral("Stop Iteration"));
    }
    if (PyErr_ExceptionMatches(*PyExc_SystemExit)) {
        // Printing it would end the process; it becomes a host error instead.
        PPyObject t = nullptr, v = nullptr, tb = nullptr;
        PyErr_Fetch(&t, &v, &tb);
        const TPyRef type = TPyRef::Steal(*this, t), value = TPyRef::Steal(*this, v),
                     traceback = TPyRef::Steal(*this, tb);
        FTraceback.Refresh(traceback.Get());
        PyErr_Clear();
        PrintExitMessage(value.Get());
        const QString code = ObjectTextOrEmpty(value.Get());
        EPySystemExit e(platform::Format(QStringLiteral("Unhandled SystemExit exception. Code: %s"), {code}));
        e.EName = QStringLiteral("SystemExit");
        e.EValue = code;
        throw e;
    }
    PyErr_Print();
    FTraceback.Refresh(nullptr);
    RaiseError();
}

namespace {

using TRaise = void (*)(TPythonRunner&, EPySyntaxError*, const QString&, const QString&);

template <class E>
[[noreturn]] void RaiseAs(TPythonRunner&, EPySyntaxError*, const QString& typeText, const QString& valueText)
{
    E e(valueText.isEmpty() ? typeText : platform::Format(QStringLiteral("%s: %s"), {typeText, valueText}));
    e.EName = typeText;
    e.EValue = valueText;
    throw e;
}

template <class E>
[[noreturn]] void RaiseSyntax(TPythonRunner&, EPySyntaxError* details, const QString&, const QString&)
{
    E e(details->Message());
    static_cast<EPySyntaxError&>(e) = *details;
    throw e;
}

struct TErrorMapping {
    PPPyObject TPythonInterface::*Class;
    TRaise Raise;
    bool Syntax;
};

const TErrorMapping kErrorMap[] = {
    {&TPythonInterface::PyExc_SystemExit, &RaiseAs<EPySystemExit>, false},
    {&TPythonInterface::PyExc_StopIteration, &RaiseAs<EPyStopIteration>, false},
    {&TPythonInterface::PyExc_KeyboardInterrupt, &RaiseAs<EPyKeyboardInterrupt>, false},
    {&TPythonInterface::PyExc_ImportError, &RaiseAs<EPyImportError>, false},
    {&TPythonInterface::PyExc_WindowsError, &RaiseAs<EPyWindowsError>, false},
    {&TPythonInterface::PyExc_IOError, &RaiseAs<EPyIOError>, false},
    {&TPythonInterface::PyExc_OSError, &RaiseAs<EPyOSError>, false},
    {&TPythonInterface::PyExc_EnvironmentError, &RaiseAs<EPyEnvironmentError>, false},
    {&TPythonInterface::PyExc_EOFError, &RaiseAs<EPyEOFError>, false},
    {&TPythonInterface::PyExc_NotImplementedError, &RaiseAs<EPyNotImplementedError>, false},
    {&TPythonInterface::PyExc_RuntimeError, &RaiseAs<EPyRuntimeError>, false},
    {&TPythonInterface::PyExc_UnboundLocalError, &RaiseAs<EPyUnboundLocalError>, false},
    {&TPythonInterface::PyExc_NameError, &RaiseAs<EPyNameError>, false},
    {&TPythonInterface::PyExc_AttributeError, &RaiseAs<EPyAttributeError>, false},
    {&TPythonInterface::PyExc_TabError, &RaiseSyntax<EPyTabError>, true},
    {&TPythonInterface::PyExc_IndentationError, &RaiseSyntax<EPyIndentationError>, true},
    {&TPythonInterface::PyExc_SyntaxError, &RaiseSyntax<EPySyntaxError>, true},
    {&TPythonInterface::PyExc_TypeError, &RaiseAs<EPyTypeError>, false},
    {&TPythonInterface::PyExc_AssertionError, &RaiseAs<EPyAssertionError>, false},
    {&TPythonInterface::PyExc_IndexError, &RaiseAs<EPyIndexError>, false},
    {&TPythonInterface::PyExc_KeyError, &RaiseAs<EPyKeyError>, false},
    {&TPythonInterface::PyExc_LookupError, &RaiseAs<EPyLookupError>, false},
    {&TPythonInterface::PyExc_OverflowError, &RaiseAs<EPyOverflowError>, false},
    {&TPythonInterface::PyExc_ZeroDivisionError, &RaiseAs<EPyZeroDivisionError>, false},
    {&TPythonInterface::PyExc_FloatingPointError, &RaiseAs<EPyFloatingPointError>, false},
    {&TPythonInterface::PyExc_ArithmeticError, &RaiseAs<EPyArithmeticError>, false},
    {&TPythonInterface::PyExc_UnicodeEncodeError, &RaiseAs<UnicodeEncodeError>, false},
    {&TPythonInterface::PyExc_UnicodeDecodeError, &RaiseAs<UnicodeDecodeError>, false},
    {&TPythonInterface::PyExc_UnicodeTranslateError, &RaiseAs<UnicodeTranslateError>, false},
    {&TPythonInterface::PyExc_UnicodeError, &RaiseAs<EPyUnicodeError>, false},
    {&TPythonInterface::PyExc_ValueError, &RaiseAs<EPyValueError>, false},
    {&TPythonInterface::PyExc_ReferenceError, &RaiseAs<EPyReferenceError>, false},
    {&TPythonInterface::PyExc_SystemError, &RaiseAs<EPySystemError>, false},
    {&TPythonInterface::PyExc_MemoryError, &RaiseAs<EPyMemoryError>, false},
    {&TPythonInterface::PyExc_UserWarning, &RaiseAs<EPyUserWarning>, false},
    {&TPythonInterface::PyExc_DeprecationWarning, &RaiseAs<EPyDeprecationWarning>, false},
    {&TPythonInterface::PyExc_SyntaxWarning, &RaiseAs<EPySyntaxWarning>, false},
    {&TPythonInterface::PyExc_RuntimeWarning, &RaiseAs<EPyRuntimeWarning>, false},
    {&TPythonInterface::PyExc_FutureWarning, &RaiseAs<FutureWarning>, false},
    {&TPythonInterface::PyExc_PendingDeprecationWarning, &RaiseAs<PendingDeprecationWarning>, false},
    {&TPythonInterface::PyExc_Warning, &RaiseAs<EPyWarning>, false},
    {&TPythonInterface::PyExc_Exception, &RaiseAs<EPyException>, false},
};

} // namespace

void TPythonRunner::RaiseError()
{
    if (PyErr_Occurred())
        PyErr_Print();
    PPyObject errType = PySys_GetObject("last_type");
    PPyObject errValue = PySys_GetObject("last_value");
    if (!errType)
        throw EPythonError(QStringLiteral("RaiseError: couldn't fetch last exception"));
    const QString typeText = PyType_CheckExact(errType)
                                 ? QString::fromUtf8(reinterpret_cast<PyTypeObject*>(errType)->tp_name)
                                 : ObjectTextOrEmpty(errType);
    const QString valueText = ObjectTextOrEmpty(errValue);
    for (const TErrorMapping& m : kErrorMap) {
        PPPyObject cls = this->*(m.Class);
        if (!cls || !*cls || PyErr_GivenExceptionMatches(errType, *cls) == 0)
            continue;
        if (m.Syntax) {
            EPySyntaxError details{QString()};
            SyntaxDetails(details, errType, errValue, typeText, valueText);
            m.Raise(*this, &details, typeText, valueText);
        }
        m.Raise(*this, nullptr, typeText, valueText);
    }
    RaiseAs<EPyExecError>(*this, nullptr, typeText, valueText);
}

void TPythonRunner::SyntaxDetails(EPySyntaxError& E, PPyObject errType, PPyObject errValue, const QString& typeText,
                                  const QString& valueText)
{
    E.EName = typeText;
    E.EValue = valueText;
    QString msgPart, fileName, lineText;
    qint32 line = 0, offset = 0, endLine = 0, endOffset = 0;
    if (PyErr_GivenExceptionMatches(errType, *PyExc_SyntaxError) && errValue &&
        errValue->ob_type == reinterpret_cast<PyTypeObject*>(errType)) {
        auto attr = [this, errValue](const char* name) {
            TPyRef o = TPyRef::Steal(*this, PyObject_GetAttrString(errValue, name));
            if (!o)
                PyErr_Clear();
            return o;
        };
        auto readInt = [this, &attr](const char* name, qint32& target) {
            const TPyRef o = attr(name);
            if (o && PyLong_Check(o.Get()))
                target = static_cast<qint32>(PyLong_AsLong(o.Get()));
        };
        if (const TPyRef o = attr("filename")) {
            if (PyUnicode_Check(o.Get()))
                fileName = PyUnicodeAsString(o.Get());
            else if (o.Get() == Py_None)
                fileName = QStringLiteral("???");
        }
        if (const TPyRef o = attr("text"); o && PyUnicode_Check(o.Get()))
            lineText = TrimControls(PyUnicodeAsString(o.Get()));
        readInt("offset", offset);
        readInt("lineno", line);
        if (const TPyRef o = attr("msg"); o && PyUnicode_Check(o.Get()))
            msgPart = PyUnicodeAsString(o.Get());
        if (FMajorVersion > 3 || FMinorVersion > 9) {
            readInt("end_offset", endOffset);
            readInt("end_lineno", endLine);
        }
    }
    if (msgPart.isEmpty()) {
        E.SetMessageText(typeText);
        return;
    }
    E.SetMessageText(platform::Format(QStringLiteral("%s: %s (line %d, offset %d): '%s'"),
                                      {typeText, msgPart, QString::number(line), QString::number(offset), lineText}));
    E.EName = typeText;
    E.EValue = msgPart;
    E.EFileName = fileName;
    E.ELineNumber = line;
    E.EOffset = offset;
    E.EEndLineNumber = endLine;
    E.EEndOffset = endOffset;
    E.ELineStr = lineText;
}

// ---------------------------------------------------------------- traceback

void TPythonTraceback::AddItem(const QString& Context, const QString& FileName, qint32 LineNo)
{
    FItems.push_back(TTracebackItem{FileName, LineNo, Context});
}

void TPythonTraceback::Refresh(PPyObject pytraceback)
{
    Clear();
    TPythonEngine& e = CurrentEngine();
    qint32 limit = FLimit;
    if (PPyObject l = e.PySys_GetObject("tracebacklimit"); l && e.PyLong_Check(l))
        limit = static_cast<qint32>(e.PyLong_AsLong(l));
    PPyObject tb = pytraceback ? pytraceback : e.PySys_GetObject("last_traceback");

    // The chain stays alive through its head, so the links are used as borrowed.
    auto next = [&e](PPyObject cur) {
        return e.StealOrRaise(e.PyObject_GetAttrString(cur, "tb_next")).Get();
    };
    qint32 depth = 0;
    for (PPyObject cur = tb; cur && cur != e.Py_None; cur = next(cur))
        ++depth;

    qint32 countdown = depth;
    for (PPyObject cur = tb; cur && cur != e.Py_None; cur = next(cur), --countdown) {
        if (countdown > limit)
            continue;
        TTracebackItem item;
        const TPyRef lineno = e.StealOrRaise(e.PyObject_GetAttrString(cur, "tb_lineno"));
        item.LineNo = lineno ? static_cast<qint32>(e.PyLong_AsLong(lineno.Get())) : 0;
        const TPyRef frame = e.StealOrRaise(e.PyObject_GetAttrString(cur, "tb_frame"));
        if (frame && frame.Get() != e.Py_None) {
            const TPyRef code = e.StealOrRaise(e.PyObject_GetAttrString(frame.Get(), "f_code"));
            const TPyRef fileName = TPyRef::Steal(e, e.PyObject_GetAttrString(code.Get(), "co_filename"));
            const TPyRef name =
                TPyRef::Steal(e, fileName ? e.PyObject_GetAttrString(code.Get(), "co_name") : nullptr);
            item.FileName = e.PyObjectAsString(fileName.Get());
            item.Context = e.PyObjectAsString(name.Get());
            e.CheckError(false);
        }
        FItems.push_back(item);
    }
}

// ---------------------------------------------------------------- strings

QString TPythonRunner::PyObjectAsString(PPyObject obj)
{
    if (!obj)
        return QString();
    if (PyUnicode_Check(obj))
        return PyUnicodeAsString(obj);
    // A failing __str__ is reported like any other Python error; left
    // pending, it would break whatever runs next.
    const TPyRef s = StealOrRaise(PyObject_Str(obj));
    if (!s || !PyUnicode_Check(s.Get()))
        return QString();
    return PyUnicodeAsString(s.Get());
}

QString TPythonRunner::ObjectTextOrEmpty(PPyObject obj)
{
    // Used while an error is being reported: a failing __str__ must not start
    // another report (it could recurse for ever).
    if (!obj)
        return QString();
    if (PyUnicode_Check(obj))
        return PyUnicodeAsString(obj);
    TPyRef s = TPyRef::Steal(*this, PyObject_Str(obj));
    if (!s) {
        PyErr_Clear();
        return QString();
    }
    return PyUnicode_Check(s.Get()) ? PyUnicodeAsString(s.Get()) : QString();
}

QString TPythonRunner::PyUnicodeAsString(PPyObject obj)
{
    if (!PyUnicode_Check(obj))
        throw EPythonError(ConversionError("PyUnicodeAsString", "Unicode"));
    Py_ssize_t size = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(obj, &size))
        return QString::fromUtf8(p, size);
    // Lone surrogates have no UTF-8 form; keep them as they are.
    PyErr_Clear();
    QString r;
    if (const TPyRef b = TPyRef::Steal(*this, PyUnicode_AsEncodedString(obj, "utf-16-le", "surrogatepass"))) {
        char* data = nullptr;
        Py_ssize_t n = 0;
        if (PyBytes_AsStringAndSize(b.Get(), &data, &n) == 0)
            r = QString(reinterpret_cast<const QChar*>(data), n / 2);
    }
    PyErr_Clear();
    return r;
}

QByteArray TPythonRunner::PyUnicodeAsUTF8String(PPyObject obj)
{
    if (!PyUnicode_Check(obj))
        throw EPythonError(ConversionError("PyUnicodeAsUTF8String", "Unicode"));
    Py_ssize_t size = 0;
    const char* p = PyUnicode_AsUTF8AndSize(obj, &size);
    if (!p) {
        PyErr_Clear();
        return QByteArray();
    }
    return QByteArray(p, size);
}

TPyRef TPythonRunner::PyUnicodeFromString(const QString& AString)
{
    // The host's UTF-16 buffer goes straight to the runtime (wchar_t is 32 bits here).
    int byteorder = -1; // little-endian, as the host stores it
    return TPyRef::Steal(*this, PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(AString.utf16()),
                                                      AString.size() * 2, "surrogatepass", &byteorder));
}

TPyRef TPythonRunner::PyUnicodeFromString(const QByteArray& AString)
{
    return PyUnicodeFromString(platform::FromAnsi(AString));
}

QByteArray TPythonRunner::EncodeWindowsFilePath(const QString& str) const
{
    if (FMajorVersion > 3 || (FMajorVersion == 3 && FMinorVersion > 5))
        return str.toUtf8();
    return platform::ToAnsi(str);
}

QByteArray TPythonRunner::PyBytesAsAnsiString(PPyObject obj)
{
    if (!PyBytes_Check(obj))
        throw EPythonError(ConversionError("PyBytesAsAnsiString", "Bytes"));
    char* data = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &n) != 0)
        CheckError(false);
    return QByteArray(data, n);
}

QByteArray TPythonRunner::PyByteArrayAsAnsiString(PPyObject obj)
{
    if (!PyByteArray_Check(obj))
        throw EPythonError(ConversionError("PyByteArrayAsAnsiString", "ByteArray"));
    return QByteArray(PyByteArray_AsString(obj), PyByteArray_Size(obj));
}

// ---------------------------------------------------------------- singletons and containers

TPyRef TPythonRunner::ReturnNone() { return TPyRef::Borrow(*this, Py_None); }

TPyRef TPythonRunner::ReturnTrue() { return TPyRef::Borrow(*this, Py_True); }

TPyRef TPythonRunner::ReturnFalse() { return TPyRef::Borrow(*this, Py_False); }

TPyRef TPythonRunner::NewContainer(PPyObject obj, const char* what)
{
    if (!obj) {
        PyErr_Clear();
        throw EPythonError(QStringLiteral("Could not create a new %1 object").arg(QLatin1String(what)));
    }
    return TPyRef::Steal(*this, obj);
}

TPyRef TPythonRunner::ConvertedItem(TPyRef item)
{
    // A value the runtime could not make must not leave a hole in the container.
    if (!item) {
        CheckError(false);
        throw EPythonError(QStringLiteral("Could not convert a value to a Python object"));
    }
    return item;
}

// A new tuple or list of n items made by item(i); a null item, or one whose
// conversion throws, fails the whole container instead of leaving a hole.
TPyRef TPythonRunner::NewSequence(bool tuple, Py_ssize_t n, const std::function<TPyRef(Py_ssize_t)>& item)
{
    TPyRef seq = tuple ? NewContainer(PyTuple_New(n), "tuple") : NewContainer(PyList_New(n), "list");
    for (Py_ssize_t i = 0; i < n; ++i) {
        // The container takes the item's reference.
        PPyObject o = ConvertedItem(item(i)).Release();
        if (tuple)
            PyTuple_SetItem(seq.Get(), i, o);
        else
            PyList_SetItem(seq.Get(), i, o);
    }
    return seq;
}

TPyRef TPythonRunner::MakePySequence(bool tuple, const std::vector<PPyObject>& objects)
{
    return NewSequence(tuple, static_cast<Py_ssize_t>(objects.size()), [&](Py_ssize_t i) {
        // A null slot would crash whoever reads the container; it holds None instead.
        PPyObject o = objects[static_cast<std::size_t>(i)];
        return TPyRef::Borrow(*this, o ? o : Py_None);
    });
}

TPyRef TPythonRunner::MakePyTuple(const std::vector<PPyObject>& objects) { return MakePySequence(true, objects); }

TPyRef TPythonRunner::MakePyList(const std::vector<PPyObject>& objects) { return MakePySequence(false, objects); }

TPyRef TPythonRunner::ArrayToPyTuple(const QVariantList& items)
{
    return NewSequence(true, items.size(), [&](Py_ssize_t i) { return VarRecAsPyObject(items.at(i)); });
}

TPyRef TPythonRunner::ArrayToPyList(const QVariantList& items)
{
    return NewSequence(false, items.size(), [&](Py_ssize_t i) { return VarRecAsPyObject(items.at(i)); });
}

TPyRef TPythonRunner::ArrayToPyDict(const QVariantList& items)
{
    if (items.size() % 2 != 0)
        throw platform::Exception(QStringLiteral("You must provide an even number of arguments"));
    TPyRef d = NewContainer(PyDict_New(), "dict");
    for (qsizetype i = 0; i < items.size(); i += 2) {
        const TPyRef k = VarRecAsPyObject(items.at(i));
        const TPyRef v = VarRecAsPyObject(items.at(i + 1));
        if (!k || !v || PyDict_SetItem(d.Get(), k.Get(), v.Get()) != 0) {
            CheckError(false);
            throw EPythonError(QStringLiteral("Could not create a new dict object"));
        }
    }
    return d;
}

TPyRef TPythonRunner::StringsToPyList(const QStringList& strings)
{
    return NewSequence(false, strings.size(), [&](Py_ssize_t i) { return PyUnicodeFromString(strings.at(i)); });
}

TPyRef TPythonRunner::StringsToPyTuple(const QStringList& strings)
{
    return NewSequence(true, strings.size(), [&](Py_ssize_t i) { return PyUnicodeFromString(strings.at(i)); });
}

void TPythonRunner::PyListToStrings(PPyObject list, QStringList& strings, bool ClearStrings)
{
    if (!PyList_Check(list))
        throw EPythonError(QStringLiteral("the python object is not a list"));
    if (ClearStrings)
        strings.clear();
    const Py_ssize_t n = PyList_Size(list);
    for (Py_ssize_t i = 0; i < n; ++i)
        strings << PyObjectAsString(PyList_GetItem(list, i));
}

void TPythonRunner::PyTupleToStrings(PPyObject tuple, QStringList& strings)
{
    if (!PyTuple_Check(tuple))
        throw EPythonError(QStringLiteral("the python object is not a tuple"));
    strings.clear();
    const Py_ssize_t n = PyTuple_Size(tuple);
    for (Py_ssize_t i = 0; i < n; ++i)
        strings << PyObjectAsString(PyTuple_GetItem(tuple, i));
}

TPyRef TPythonRunner::SetToList(const void* data, int ASize)
{
    TPyRef l = NewContainer(PyList_New(0), "list");
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < ASize * 8; ++i) {
        if (bytes[i / 8] & (1u << (i % 8)))
            PyList_Append(l.Get(), TPyRef::Steal(*this, PyLong_FromLong(i)).Get());
    }
    return l;
}

void TPythonRunner::ListToSet(PPyObject List, void* data, int ASize)
{
    auto* bytes = static_cast<unsigned char*>(data);
    std::memset(bytes, 0, static_cast<std::size_t>(ASize));
    if (!PyList_Check(List))
        throw EPythonError(QStringLiteral("the python object is not a list"));
    const Py_ssize_t n = PyList_Size(List);
    for (Py_ssize_t i = 0; i < n; ++i) {
        const long ord = PyLong_AsLong(PyList_GetItem(List, i));
        if (ord == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            continue;
        }
        if (ord >= 0 && ord < static_cast<long>(ASize) * 8)
            bytes[ord / 8] |= static_cast<unsigned char>(1u << (ord % 8));
    }
}

QVariant TPythonRunner::GetSequenceItem(PPyObject sequence, Py_ssize_t idx)
{
    return PyObjectAsVariant(StealOrRaise(PySequence_GetItem(sequence, idx)).Get());
}

// ---------------------------------------------------------------- variants

TPyRef TPythonRunner::VariantAsPyObject(const QVariant& V)
{
    if (!V.isValid() || V.isNull())
        return ReturnNone();
    switch (V.typeId()) {
    case QMetaType::Bool:
        return TPyRef::Steal(*this, PyBool_FromLong(V.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return TPyRef::Steal(*this, PyLong_FromLongLong(V.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return TPyRef::Steal(*this, PyLong_FromUnsignedLongLong(V.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return TPyRef::Steal(*this, PyFloat_FromDouble(V.toDouble()));
    case QMetaType::QString:
        return PyUnicodeFromString(V.toString());
    case QMetaType::QByteArray: {
        const QByteArray b = V.toByteArray();
        return TPyRef::Steal(*this, PyBytes_FromStringAndSize(b.constData(), b.size()));
    }
    case QMetaType::QDateTime: {
        const QDateTime dt = V.toDateTime();
        const QDate d = dt.date();
        const QTime t = dt.time();
        if (FDatetimeConversionMode == TDatetimeConversionMode::dcmToDatetime && FPyDateTime_DateTimeType) {
            const TPyRef args =
                ArrayToPyTuple({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec() * 1000});
            return StealOrRaise(PyObject_Call(FPyDateTime_DateTimeType, args.Get(), nullptr));
        }
        return ArrayToPyTuple({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), d.dayOfWeek() - 1,
                               d.dayOfYear(), -1});
    }
    case QMetaType::QStringList:
        return StringsToPyList(V.toStringList());
    case QMetaType::QVariantList:
        return ArrayToPyList(V.toList());
    case QMetaType::QVariantMap: {
        const QVariantMap m = V.toMap();
        TPyRef d = NewContainer(PyDict_New(), "dict");
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            const TPyRef v = ConvertedItem(VariantAsPyObject(it.value()));
            if (PyDict_SetItemString(d.Get(), it.key().toUtf8().constData(), v.Get()) != 0)
                ConvertedItem(TPyRef());
        }
        return d;
    }
    default:
        return PyUnicodeFromString(V.toString());
    }
}

QVariant TPythonRunner::PyObjectAsVariant(PPyObject obj)
{
    if (!obj || obj == Py_None)
        return QVariant();
    if (PyFloat_Check(obj))
        return PyFloat_AsDouble(obj);
    if (PyBool_Check(obj))
        return obj == Py_True;
    if (PyLong_Check(obj)) {
        const long long v = PyLong_AsLongLong(obj);
        if (v == -1 && PyErr_Occurred()) {
            // Too big for 64 bits: the nearest double keeps the magnitude.
            PyErr_Clear();
            return PyLong_AsDouble(obj);
        }
        return static_cast<qint64>(v);
    }
    if (PyUnicode_Check(obj))
        return PyUnicodeAsString(obj);
    if (PyBytes_Check(obj))
        return PyBytesAsAnsiString(obj);
    auto intAttr = [this, obj](const char* name) {
        const TPyRef a = TPyRef::Steal(*this, PyObject_GetAttrString(obj, name));
        const long v = a ? PyLong_AsLong(a.Get()) : 0;
        if (PyErr_Occurred())
            PyErr_Clear();
        return static_cast<int>(v);
    };
    const bool toDatetime = FDatetimeConversionMode == TDatetimeConversionMode::dcmToDatetime;
    if (PyDateTime_Check(obj)) {
        const int y = intAttr("year"), mo = intAttr("month"), d = intAttr("day"), h = intAttr("hour"),
                  mi = intAttr("minute"), s = intAttr("second"), us = intAttr("microsecond");
        if (toDatetime)
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s, us / 1000));
        return QVariantList{y, mo, d, h, mi, s, us};
    }
    if (PyDate_Check(obj)) {
        const int y = intAttr("year"), mo = intAttr("month"), d = intAttr("day");
        if (toDatetime)
            return QDateTime(QDate(y, mo, d), QTime(0, 0));
        return QVariantList{y, mo, d};
    }
    if (PyTime_Check(obj)) {
        const int h = intAttr("hour"), mi = intAttr("minute"), s = intAttr("second"), us = intAttr("microsecond");
        if (toDatetime)
            return QDateTime(QDate(1899, 12, 30), QTime(h, mi, s, us / 1000));
        return QVariantList{h, mi, s, us};
    }
    if (PyDelta_Check(obj))
        return QVariantList{intAttr("days"), intAttr("seconds"), intAttr("microseconds")};
    if (PySequence_Check(obj) == 1) {
        const Py_ssize_t n = PySequence_Length(obj);
        if (n < 0) {
            PyErr_Clear();
            return QVariant();
        }
        QVariantList list;
        list.reserve(n);
        for (Py_ssize_t i = 0; i < n; ++i)
            list << GetSequenceItem(obj, i);
        return list;
    }
    return QVariant();
}

QVariant TPythonRunner::EvalPyFunction(PPyObject pyfunc, const QVariantList& args)
{
    const TPyRef a = ArrayToPyTuple(args);
    return PyObjectAsVariant(StealOrRaise(PyObject_Call(pyfunc, a.Get(), nullptr)).Get());
}

} // namespace pybridge
