#pragma once
// Running code in the interpreter's execution module, converting values and
// turning Python errors into host exceptions: the engine's base, defined in
// PythonRun.cpp.
#include "pybridge/PythonErrors.h"
#include "pybridge/PyRef.h"
#include "pybridge/PythonInterface.h"
#include "pybridge/PythonTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <vector>

namespace pybridge {

struct TTracebackItem {
    QString FileName;
    qint32 LineNo = 0;
    QString Context; // the function name
};

// The last error's traceback, outermost call first.
class TPythonTraceback {
public:
    TPythonTraceback() = default;

    void Clear() { FItems.clear(); }
    void AddItem(const QString& Context, const QString& FileName, qint32 LineNo);
    // Rebuilds the list from a traceback object, or from sys.last_traceback when null.
    void Refresh(PPyObject pytraceback = nullptr);

    const TTracebackItem& Items(int i) const { return FItems.at(static_cast<std::size_t>(i)); }
    int ItemCount() const { return static_cast<int>(FItems.size()); }
    qint32 Limit() const { return FLimit; }
    void SetLimit(qint32 v) { FLimit = v; }

private:
    std::vector<TTracebackItem> FItems;
    qint32 FLimit = 1000;
};

enum class TDatetimeConversionMode { dcmToTuple, dcmToDatetime };

class TPythonRunner : public TPythonInterface {
public:
    explicit TPythonRunner(TComponent* AOwner = nullptr);
    ~TPythonRunner() override;

    TDatetimeConversionMode DatetimeConversionMode() const { return FDatetimeConversionMode; }
    void SetDatetimeConversionMode(TDatetimeConversionMode v) { FDatetimeConversionMode = v; }
    const QByteArray& ExecModule() const { return FExecModule; }
    void SetExecModule(const QByteArray& v) { FExecModule = v; }
    TPythonTraceback& Traceback() { return FTraceback; }
    PPyObject GlobalVars() const { return FGlobalVars.Get(); } // borrowed
    void SetGlobalVars(PPyObject Value);
    PPyObject LocalVars() const { return FLocalVars.Get(); } // borrowed
    void SetLocalVars(PPyObject Value);
    PPyObject GetMainModule() const; // borrowed

    // Running code. The results are new references; locals and globals are borrowed.
    // Compiles without running anything: the code object, or the error
    // (EPySyntaxError with its line and columns) thrown.
    TPyRef CompileCode(const QByteArray& command, int mode, const QString& FileName = QStringLiteral("<string>"));
    // Runs a code object in the given dictionaries, or the execution module's.
    TPyRef EvalCode(PPyObject code, PPyObject locals = nullptr, PPyObject globals = nullptr);
    TPyRef Run_CommandAsObjectWithDict(const QByteArray& command, int mode, PPyObject locals,
                                       PPyObject globals, const QString& FileName = QStringLiteral("<string>"));
    TPyRef Run_CommandAsObject(const QByteArray& command, int mode,
                               const QString& FileName = QStringLiteral("<string>"));
    QString Run_CommandAsString(const QByteArray& command, int mode,
                                const QString& FileName = QStringLiteral("<string>"));
    void ExecString(const QByteArray& command, const QString& FileName = QStringLiteral("<string>"));
    void ExecString(const QByteArray& command, PPyObject locals, PPyObject globals,
                    const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalString(const QByteArray& command, const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalString(const QByteArray& command, PPyObject locals, PPyObject globals,
                      const QString& FileName = QStringLiteral("<string>"));
    QString EvalStringAsStr(const QByteArray& command, const QString& FileName = QStringLiteral("<string>"));
    void ExecStrings(const QStringList& strings, const QString& FileName = QStringLiteral("<string>"));
    void ExecStrings(const QStringList& strings, PPyObject locals, PPyObject globals,
                     const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalStrings(const QStringList& strings, const QString& FileName = QStringLiteral("<string>"));
    TPyRef EvalStrings(const QStringList& strings, PPyObject locals, PPyObject globals,
                       const QString& FileName = QStringLiteral("<string>"));
    QString EvalStringsAsStr(const QStringList& strings, const QString& FileName = QStringLiteral("<string>"));
    void ExecFile(const QString& FileName, PPyObject locals = nullptr, PPyObject globals = nullptr);

    bool CheckSyntax(const QByteArray& str, int mode);
    bool CheckEvalSyntax(const QByteArray& str) { return CheckSyntax(str, eval_input); }
    bool CheckExecSyntax(const QByteArray& str) { return CheckSyntax(str, file_input); }

    // Errors.
    void CheckError(bool ACatchStopEx = false) override;
    // Writes a SystemExit's message (a code other than None or a number) to sys.stderr.
    void PrintExitMessage(PPyObject value);
    [[noreturn]] void RaiseError();

    // Strings.
    // Raises the Python error when the object's __str__ fails.
    QString PyObjectAsString(PPyObject obj);
    // The same, but empty when __str__ fails (for error reports).
    QString ObjectTextOrEmpty(PPyObject obj);
    QString PyUnicodeAsString(PPyObject obj);
    QByteArray PyUnicodeAsUTF8String(PPyObject obj);
    // Null (with the Python error pending) when the runtime cannot make the text.
    TPyRef PyUnicodeFromString(const QString& AString);
    TPyRef PyUnicodeFromString(const QByteArray& AString);
    static QByteArray EncodeString(const QString& str) { return str.toUtf8(); }
    QByteArray EncodeWindowsFilePath(const QString& str) const;
    QByteArray PyBytesAsAnsiString(PPyObject obj);
    QByteArray PyByteArrayAsAnsiString(PPyObject obj);

    // Singletons and types.
    TPyRef ReturnNone();
    TPyRef ReturnTrue();
    TPyRef ReturnFalse();
    bool IsType(PPyObject ob, PyTypeObject* obt) const { return ob && ob->ob_type == obt; }

    // Containers from host values; the objects handed to MakePy* are borrowed.
    TPyRef MakePyTuple(const std::vector<PPyObject>& objects);
    TPyRef MakePyList(const std::vector<PPyObject>& objects);
    TPyRef ArrayToPyTuple(const QVariantList& items);
    TPyRef ArrayToPyList(const QVariantList& items);
    TPyRef ArrayToPyDict(const QVariantList& items);
    TPyRef StringsToPyList(const QStringList& strings);
    TPyRef StringsToPyTuple(const QStringList& strings);
    void PyListToStrings(PPyObject list, QStringList& strings, bool ClearStrings = true);
    void PyTupleToStrings(PPyObject tuple, QStringList& strings);
    // A host bit set of ASize bytes to and from a list of its members' ordinal numbers.
    TPyRef SetToList(const void* data, int ASize);
    void ListToSet(PPyObject List, void* data, int ASize);
    QVariant GetSequenceItem(PPyObject sequence, Py_ssize_t idx);
    TPyRef VarRecAsPyObject(const QVariant& v) { return VariantAsPyObject(v); }

    // Variants.
    virtual TPyRef VariantAsPyObject(const QVariant& V);
    virtual QVariant PyObjectAsVariant(PPyObject obj);
    // Calls a Python callable with host values and converts its result.
    QVariant EvalPyFunction(PPyObject pyfunc, const QVariantList& args);
    QVariant EvalFunction(PPyObject pyfunc, const QVariantList& args) { return EvalPyFunction(pyfunc, args); }
    QVariant EvalFunctionNoArgs(PPyObject pyfunc) { return EvalPyFunction(pyfunc, {}); }

    // Date-time checks (with the types found at initialisation).
    bool PyDate_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_DateType); }
    bool PyDate_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_DateType); }
    bool PyDateTime_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_DateTimeType); }
    bool PyDateTime_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_DateTimeType); }
    bool PyTime_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_TimeType); }
    bool PyTime_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_TimeType); }
    bool PyDelta_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_DeltaType); }
    bool PyDelta_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_DeltaType); }
    bool PyTZInfo_Check(PPyObject obj) const { return TypeCheckOf(obj, FPyDateTime_TZInfoType); }
    bool PyTZInfo_CheckExact(PPyObject obj) const { return ExactOf(obj, FPyDateTime_TZInfoType); }
    bool PyTimeStruct_Check(PPyObject obj) const { return ExactOf(obj, FTimeStruct); }

protected:
    // The date-time types, looked up once the interpreter runs, and forgotten
    // when it stops.
    void InitDateTimeTypes();
    void ClearDateTimeTypes();

    TPyRef FGlobalVars;
    TPyRef FLocalVars;

private:
    friend struct TPythonEngineTestSeam;

    // Holds a dictionary (one more reference) or null; anything else raises
    // "You must set a Python dictionary in the <property> property".
    void SetDictionary(TPyRef& slot, PPyObject Value, const char* property);

    void SyntaxDetails(EPySyntaxError& E, PPyObject errType, PPyObject errValue, const QString& typeText,
                       const QString& valueText);
    QByteArray StringsToCommand(const QStringList& strings) const;
    TPyRef NewContainer(PPyObject obj, const char* what);
    TPyRef NewSequence(bool tuple, Py_ssize_t n, const std::function<TPyRef(Py_ssize_t)>& item);
    TPyRef MakePySequence(bool tuple, const std::vector<PPyObject>& objects);
    TPyRef ConvertedItem(TPyRef item);
    bool TypeCheckOf(PPyObject obj, PPyObject t) const
    {
        return t && PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(t));
    }
    bool ExactOf(PPyObject obj, PPyObject t) const
    {
        return t && obj && obj->ob_type == reinterpret_cast<PyTypeObject*>(t);
    }

    QByteArray FExecModule = QByteArrayLiteral("__main__");
    TPythonTraceback FTraceback;
    TDatetimeConversionMode FDatetimeConversionMode = TDatetimeConversionMode::dcmToTuple;
    PPyObject FTimeStruct = nullptr;
    PPyObject FPyDateTime_DateType = nullptr;
    PPyObject FPyDateTime_DateTimeType = nullptr;
    PPyObject FPyDateTime_DeltaType = nullptr;
    PPyObject FPyDateTime_TimeType = nullptr;
    PPyObject FPyDateTime_TZInfoType = nullptr;
    PPyObject FPyDateTime_TimeTZType = nullptr;
    PPyObject FPyDateTime_DateTimeTZType = nullptr;
};

// For tests only: the date-time types found at initialisation (borrowed).
struct TPythonEngineTestSeam {
    static PPyObject TimeStruct(const TPythonRunner& e) { return e.FTimeStruct; }
    static PPyObject DateType(const TPythonRunner& e) { return e.FPyDateTime_DateType; }
    static PPyObject DateTimeType(const TPythonRunner& e) { return e.FPyDateTime_DateTimeType; }
    static PPyObject TimeTZType(const TPythonRunner& e) { return e.FPyDateTime_TimeTZType; }
    static PPyObject DateTimeTZType(const TPythonRunner& e) { return e.FPyDateTime_DateTimeTZType; }
};

} // namespace pybridge
