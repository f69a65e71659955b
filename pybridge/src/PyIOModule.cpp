// The "pyio" module and the engine's redirection step: Python's standard
// streams are replaced by an object whose write and readline call "pyio",
// which hands the text to the engine's I/O component.
#include "pybridge/PyRef.h"
#include "pybridge/PythonIO.h"
#include "pybridge/PythonModule.h"
#include "pybridge/PythonType.h"

#include "platform/Process.h"

#include <cstring>

namespace pybridge {

namespace {

// The streams are text streams (io.TextIOBase) with the interface scripts
// use on a terminal's: reconfigure, buffer, iteration of stdin, and so on.
// Closing one only flushes it: the streams serve every later run too.
const char* const kRedirectScript =
    "import sys, io, codecs\n"
    "pyio = __import__('pyio')\n"
    "class _PaneStream(io.TextIOBase):\n"
    "    softspace = 0\n"
    "    encoding = 'utf-8'\n"
    "    newlines = None\n"
    "    def __init__(self, name, mode, errors, line_buffering):\n"
    "        self.name, self.mode = name, mode\n"
    "        self._errors, self._line_buffering, self._write_through = errors, line_buffering, False\n"
    "    errors = property(lambda self: self._errors)\n"
    "    line_buffering = property(lambda self: self._line_buffering)\n"
    "    write_through = property(lambda self: self._write_through)\n"
    "    def __repr__(self):\n"
    "        return '<pane stream name=%r mode=%r encoding=%r>' % (self.name, self.mode, self.encoding)\n"
    "    def isatty(self):\n"
    "        return False\n"
    "    def fileno(self):\n"
    "        raise io.UnsupportedOperation('fileno')\n"
    "    def flush(self):\n"
    "        pass\n"
    "    def close(self):\n"
    "        self.flush()\n"
    "    def reconfigure(self, *, encoding=None, errors=None, newline=None, line_buffering=None, write_through=None):\n"
    "        if encoding is not None and codecs.lookup(encoding).name != 'utf-8':\n"
    "            raise ValueError('%s of the workbench is UTF-8 text; encoding %r is not supported' % (self.name, encoding))\n"
    "        if errors is not None:\n"
    "            codecs.lookup_error(errors)\n"
    "            self._errors = errors\n"
    "        elif encoding is not None:\n"
    "            self._errors = 'strict'\n"
    "        if newline not in (None, '', '\\n', '\\r', '\\r\\n'):\n"
    "            raise ValueError('illegal newline value: %r' % (newline,))\n"
    "        if line_buffering is not None:\n"
    "            self._line_buffering = bool(line_buffering)\n"
    "        if write_through is not None:\n"
    "            self._write_through = bool(write_through)\n"
    "class _PaneOutput(_PaneStream):\n"
    "    write = write\n"
    "    def __init__(self, name, errors, line_buffering):\n"
    "        super().__init__(name, 'w', errors, line_buffering)\n"
    "        self.buffer = _PaneBuffer(self)\n"
    "    def writable(self):\n"
    "        return True\n"
    "class _PaneInput(_PaneStream):\n"
    "    def __init__(self):\n"
    "        super().__init__('<stdin>', 'r', 'strict', False)\n"
    "    def readable(self):\n"
    "        return True\n"
    "    def readline(self, size=-1):\n"
    "        return pyio.read(size)\n"
    "    def read(self, size=-1):\n"
    "        return pyio.read(size)\n"
    "class _PaneBuffer(io.BufferedIOBase):\n"
    "    def __init__(self, text):\n"
    "        self._text = text\n"
    "        self._decoder = codecs.getincrementaldecoder('utf-8')('replace')\n"
    "    name = property(lambda self: self._text.name)\n"
    "    mode = 'wb'\n"
    "    def writable(self):\n"
    "        return True\n"
    "    def write(self, data):\n"
    "        with memoryview(data) as view:\n"
    "            size = view.nbytes\n"
    "            text = self._decoder.decode(view.tobytes())\n"
    "        if text:\n"
    "            self._text.write(text)\n"
    "        return size\n"
    "    def isatty(self):\n"
    "        return False\n"
    "    def fileno(self):\n"
    "        raise io.UnsupportedOperation('fileno')\n"
    "    def close(self):\n"
    "        self.flush()\n"
    "sys.old_stdin=sys.stdin\n"
    "sys.old_stdout=sys.stdout\n"
    "sys.old_stderr=sys.stderr\n"
    "sys.old___stdin__=sys.__stdin__\n"
    "sys.old___stdout__=sys.__stdout__\n"
    "sys.old___stderr__=sys.__stderr__\n"
    "sys.stdin=sys.__stdin__=_PaneInput()\n"
    "sys.stdout=sys.__stdout__=_PaneOutput('<stdout>', 'strict', False)\n"
    "sys.stderr=sys.__stderr__=_PaneOutput('<stderr>', 'backslashreplace', True)\n";

TPythonInputOutput* IOOf(TPythonEngine& e) { return dynamic_cast<TPythonInputOutput*>(e.IO()); }

void WriteItem(TPythonEngine& e, PPyObject item)
{
    TPythonInputOutput* io = IOOf(e);
    if (e.RedirectIO() && io && item) {
        const QString text = e.PyUnicode_Check(item) ? e.PyUnicodeAsString(item) : e.PyObjectAsString(item);
        io->Write(text);
    }
}

PPyObject pyio_write(PPyObject, PPyObject args)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        TPythonEngine& e = CurrentEngine();
        if (!args || e.PyTuple_Size(args) <= 0) {
            e.PyErr_BadArgument();
            return {};
        }
        WriteItem(e, e.PyTuple_GetItem(args, 0));
        return e.ReturnNone();
    });
}

// The streams' own write: text only, answering the length written, as a
// text stream does. A plain function (no Python frame per call), handed to
// the redirection script as `write` for the output stream class.
PPyObject stream_write(PPyObject, PPyObject item)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        TPythonEngine& e = CurrentEngine();
        if (!item || !e.PyUnicode_Check(item)) {
            const QByteArray msg = QByteArray("write() argument must be str, not ") +
                                   (item ? item->ob_type->tp_name : "NoneType");
            e.PyErr_SetString(*e.PyExc_TypeError, msg.constData());
            return {};
        }
        WriteItem(e, item);
        return TPyRef::Steal(e, e.PyLong_FromLongLong(e.PyUnicode_GetLength(item)));
    });
}

PyMethodDef gStreamWriteDef = {"write", reinterpret_cast<void*>(&stream_write), METH_O,
                               "write(text) -> number of characters written"};

PPyObject pyio_read(PPyObject, PPyObject)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        TPythonEngine& e = CurrentEngine();
        if (!e.RedirectIO())
            return e.ReturnNone();
        TPythonInputOutput* io = IOOf(e);
        // Closed input reads as the end of the file: input() raises EOFError.
        if (!io || io->InputClosed())
            return TPyRef::Steal(e, e.PyUnicode_FromString(""));
        // An input box belongs to the user-interface thread; from any other
        // thread the request would never be answered.
        if (!platform::IsMainThread() && qstrcmp(io->ClassName(), "TPythonInputOutput") != 0) {
            e.PyErr_SetString(*e.PyExc_RuntimeError,
                              "input() is only available on the main thread of the script");
            return {};
        }
        // The prompt written so far is shown before the box opens.
        io->FlushUnfinishedLine();
        if (io->UnicodeIO()) {
            QString data;
            io->ReceiveUniData(data);
            if (e.PyErr_Occurred())
                return {};
            // A stop asked for while the box was open takes effect here.
            if (e.PyErr_CheckSignals() < 0)
                return {};
            return e.PyUnicodeFromString(data);
        }
        QByteArray data;
        io->ReceiveData(data);
        if (e.PyErr_Occurred())
            return {};
        if (e.PyErr_CheckSignals() < 0)
            return {};
        return e.PyUnicodeFromString(data);
    });
}

// Parses the one integer argument with format "i:<name>". The runtime's own
// message for an argument of the wrong type does not name the function, so
// that case is reported the way the runtime words it for other converters.
bool ParseIntArgument(TPythonEngine& e, PPyObject args, const char* format, int& value)
{
    if (e.PyArg_ParseTuple(args, format, &value))
        return true;
    const char* name = std::strchr(format, ':') + 1;
    if (args && e.PyTuple_Size(args) == 1 && e.PyErr_ExceptionMatches(*e.PyExc_TypeError)) {
        PPyObject item = e.PyTuple_GetItem(args, 0);
        if (item && !e.PyLong_Check(item)) {
            const QByteArray msg =
                QByteArray(name) + "() argument 1 must be int, not " + QByteArray(item->ob_type->tp_name);
            e.PyErr_Clear();
            e.PyErr_SetString(*e.PyExc_TypeError, msg.constData());
        }
    }
    return false;
}

PPyObject pyio_SetDelayWrites(PPyObject, PPyObject args)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        TPythonEngine& e = CurrentEngine();
        int value = 0;
        if (!ParseIntArgument(e, args, "i:SetDelayWrites", value))
            return {};
        if (TPythonInputOutput* io = IOOf(e))
            io->SetDelayWrites(value != 0);
        return e.ReturnNone();
    });
}

PPyObject pyio_SetMaxLines(PPyObject, PPyObject args)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        TPythonEngine& e = CurrentEngine();
        int value = 0;
        if (!ParseIntArgument(e, args, "i:SetMaxLines", value))
            return {};
        if (TPythonInputOutput* io = IOOf(e))
            io->SetMaxLines(value);
        return e.ReturnNone();
    });
}

PPyObject pyio_GetTypesStats(PPyObject, PPyObject args)
{
    return GuardPythonCall<PPyObject>(nullptr, [&]() -> TPyRef {
        TPythonEngine& e = CurrentEngine();
        TPyRef list = TPyRef::Steal(e, e.PyList_New(0));
        if (!list)
            return {};
        auto append = [&](TPythonType* t) {
            const TPyRef tuple = TPyRef::Steal(e, e.PyTuple_New(4));
            e.PyTuple_SetItem(tuple.Get(), 0, e.PyUnicodeFromString(t->TypeName()).Release());
            e.PyTuple_SetItem(tuple.Get(), 1, e.PyLong_FromLong(t->InstanceCount()));
            e.PyTuple_SetItem(tuple.Get(), 2, e.PyLong_FromLong(t->CreateHits()));
            e.PyTuple_SetItem(tuple.Get(), 3, e.PyLong_FromLong(t->DeleteHits()));
            e.PyList_Append(list.Get(), tuple.Get());
        };
        const Py_ssize_t n = args ? e.PyTuple_Size(args) : 0;
        if (n <= 0) {
            for (int i = 0; i < e.ClientCount(); ++i)
                if (auto* t = dynamic_cast<TPythonType*>(e.Clients(i)))
                    append(t);
        } else {
            for (Py_ssize_t i = 0; i < n; ++i) {
                const QByteArray name = platform::ToAnsi(e.PyObjectAsString(e.PyTuple_GetItem(args, i)));
                if (auto* t = dynamic_cast<TPythonType*>(e.FindPythonType(name)))
                    append(t);
            }
        }
        return list;
    });
}

void AddPyIOFunctions(TPythonModule& m)
{
    m.AddMethod("write", &pyio_write, "write(string) -> None");
    m.AddMethod("read", &pyio_read, "read() -> string");
    m.AddMethod("SetDelayWrites", &pyio_SetDelayWrites, "SetDelayWrites(Boolean) -> None");
    m.AddMethod("SetMaxLines", &pyio_SetMaxLines, "SetMaxLines(Integer) -> None");
    m.AddMethod("GetTypesStats", &pyio_GetTypesStats,
                "GetTypesStats( [type name] ) -> a list of tuple (TypeName, InstanceCount, CreateHits, DeleteHits)");
}

void RedirectIOStep(TPythonEngine& e)
{
    // The engine has checked that the interpreter runs.
    auto* module = dynamic_cast<TPythonModule*>(e.IOPythonModule());
    if (!module) {
        module = new TPythonModule(&e);
        module->SetEngine(&e);
        module->SetModuleName(QByteArrayLiteral("pyio"));
        e.SetIOPythonModule(module);
    }
    if (!module->Initialized()) {
        // A finalisation empties the method table; without the functions the
        // redirection script would make every print fail.
        if (module->MethodCount() == 0)
            AddPyIOFunctions(*module);
        module->Initialize();
    }
    // The streams' code runs under a name of its own: its frames must never
    // point at a line of the user's script.
    const TPyRef write = e.StealOrRaise(e.PyCFunction_NewEx(&gStreamWriteDef, nullptr, nullptr));
    const TPyRef vars = e.StealOrRaise(e.PyDict_New());
    const TPyRef name = e.StealOrRaise(e.PyUnicode_FromString("pyio"));
    e.PyDict_SetItemString(vars.Get(), "__name__", name.Get());
    e.PyDict_SetItemString(vars.Get(), "write", write.Get());
    e.ExecString(QByteArray(kRedirectScript), vars.Get(), vars.Get(), QStringLiteral("<workbench>"));
    e.SetIORedirected(true);
}

} // namespace

void InstallPythonIORedirection() { TPythonEngine::SetRedirectIOHandler(&RedirectIOStep); }

} // namespace pybridge
