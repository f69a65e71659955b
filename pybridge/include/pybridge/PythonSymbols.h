#pragma once
// The runtime symbols the bridge binds, in binding order (data first).
// D(type, field, "symbol"): data; F(return, field, (arguments), "symbol"): functions.
#define PYBRIDGE_DATA_SYMBOLS(D) \
    D(int*, Py_DebugFlag, "Py_DebugFlag") \
    D(int*, Py_VerboseFlag, "Py_VerboseFlag") \
    D(int*, Py_InteractiveFlag, "Py_InteractiveFlag") \
    D(int*, Py_OptimizeFlag, "Py_OptimizeFlag") \
    D(int*, Py_NoSiteFlag, "Py_NoSiteFlag") \
    D(int*, Py_FrozenFlag, "Py_FrozenFlag") \
    D(int*, Py_IgnoreEnvironmentFlag, "Py_IgnoreEnvironmentFlag") \
    D(void**, PyImport_FrozenModules, "PyImport_FrozenModules") \
    D(PPyObject, Py_None, "_Py_NoneStruct") \
    D(PPyObject, Py_Ellipsis, "_Py_EllipsisObject") \
    D(PPyObject, Py_False, "_Py_FalseStruct") \
    D(PPyObject, Py_True, "_Py_TrueStruct") \
    D(PPyObject, Py_NotImplemented, "_Py_NotImplementedStruct") \
    D(PPPyObject, PyExc_AttributeError, "PyExc_AttributeError") \
    D(PPPyObject, PyExc_EOFError, "PyExc_EOFError") \
    D(PPPyObject, PyExc_IOError, "PyExc_IOError") \
    D(PPPyObject, PyExc_ImportError, "PyExc_ImportError") \
    D(PPPyObject, PyExc_IndexError, "PyExc_IndexError") \
    D(PPPyObject, PyExc_KeyError, "PyExc_KeyError") \
    D(PPPyObject, PyExc_KeyboardInterrupt, "PyExc_KeyboardInterrupt") \
    D(PPPyObject, PyExc_MemoryError, "PyExc_MemoryError") \
    D(PPPyObject, PyExc_NameError, "PyExc_NameError") \
    D(PPPyObject, PyExc_OverflowError, "PyExc_OverflowError") \
    D(PPPyObject, PyExc_RuntimeError, "PyExc_RuntimeError") \
    D(PPPyObject, PyExc_SyntaxError, "PyExc_SyntaxError") \
    D(PPPyObject, PyExc_SystemError, "PyExc_SystemError") \
    D(PPPyObject, PyExc_SystemExit, "PyExc_SystemExit") \
    D(PPPyObject, PyExc_TypeError, "PyExc_TypeError") \
    D(PPPyObject, PyExc_ValueError, "PyExc_ValueError") \
    D(PPPyObject, PyExc_ZeroDivisionError, "PyExc_ZeroDivisionError") \
    D(PPPyObject, PyExc_ArithmeticError, "PyExc_ArithmeticError") \
    D(PPPyObject, PyExc_Exception, "PyExc_Exception") \
    D(PPPyObject, PyExc_FloatingPointError, "PyExc_FloatingPointError") \
    D(PPPyObject, PyExc_LookupError, "PyExc_LookupError") \
    D(PPPyObject, PyExc_AssertionError, "PyExc_AssertionError") \
    D(PPPyObject, PyExc_EnvironmentError, "PyExc_EnvironmentError") \
    D(PPPyObject, PyExc_IndentationError, "PyExc_IndentationError") \
    D(PPPyObject, PyExc_NotImplementedError, "PyExc_NotImplementedError") \
    D(PPPyObject, PyExc_OSError, "PyExc_OSError") \
    D(PPPyObject, PyExc_TabError, "PyExc_TabError") \
    D(PPPyObject, PyExc_UnboundLocalError, "PyExc_UnboundLocalError") \
    D(PPPyObject, PyExc_UnicodeError, "PyExc_UnicodeError") \
    D(PPPyObject, PyExc_WindowsError, "PyExc_WindowsError") \
    D(PPPyObject, PyExc_Warning, "PyExc_Warning") \
    D(PPPyObject, PyExc_DeprecationWarning, "PyExc_DeprecationWarning") \
    D(PPPyObject, PyExc_RuntimeWarning, "PyExc_RuntimeWarning") \
    D(PPPyObject, PyExc_SyntaxWarning, "PyExc_SyntaxWarning") \
    D(PPPyObject, PyExc_UserWarning, "PyExc_UserWarning") \
    D(PPPyObject, PyExc_ReferenceError, "PyExc_ReferenceError") \
    D(PPPyObject, PyExc_StopIteration, "PyExc_StopIteration") \
    D(PPPyObject, PyExc_FutureWarning, "PyExc_FutureWarning") \
    D(PPPyObject, PyExc_PendingDeprecationWarning, "PyExc_PendingDeprecationWarning") \
    D(PPPyObject, PyExc_UnicodeDecodeError, "PyExc_UnicodeDecodeError") \
    D(PPPyObject, PyExc_UnicodeEncodeError, "PyExc_UnicodeEncodeError") \
    D(PPPyObject, PyExc_UnicodeTranslateError, "PyExc_UnicodeTranslateError") \
    D(PyTypeObject*, PyType_Type, "PyType_Type") \
    D(PyTypeObject*, PyCFunction_Type, "PyCFunction_Type") \
    D(PyTypeObject*, PyCode_Type, "PyCode_Type") \
    D(PyTypeObject*, PyComplex_Type, "PyComplex_Type") \
    D(PyTypeObject*, PyDict_Type, "PyDict_Type") \
    D(PyTypeObject*, PyFloat_Type, "PyFloat_Type") \
    D(PyTypeObject*, PyFrame_Type, "PyFrame_Type") \
    D(PyTypeObject*, PyFunction_Type, "PyFunction_Type") \
    D(PyTypeObject*, PyList_Type, "PyList_Type") \
    D(PyTypeObject*, PyLong_Type, "PyLong_Type") \
    D(PyTypeObject*, PyMethod_Type, "PyMethod_Type") \
    D(PyTypeObject*, PyModule_Type, "PyModule_Type") \
    D(PyTypeObject*, PyObject_Type, "PyObject_Type") \
    D(PyTypeObject*, PyRange_Type, "PyRange_Type") \
    D(PyTypeObject*, PySlice_Type, "PySlice_Type") \
    D(PyTypeObject*, PyBytes_Type, "PyBytes_Type") \
    D(PyTypeObject*, PyByteArray_Type, "PyByteArray_Type") \
    D(PyTypeObject*, PyTuple_Type, "PyTuple_Type") \
    D(PyTypeObject*, PyUnicode_Type, "PyUnicode_Type") \
    D(PyTypeObject*, PyBaseObject_Type, "PyBaseObject_Type") \
    D(PyTypeObject*, PyCallIter_Type, "PyCallIter_Type") \
    D(PyTypeObject*, PyCell_Type, "PyCell_Type") \
    D(PyTypeObject*, PyClassMethod_Type, "PyClassMethod_Type") \
    D(PyTypeObject*, PyProperty_Type, "PyProperty_Type") \
    D(PyTypeObject*, PySeqIter_Type, "PySeqIter_Type") \
    D(PyTypeObject*, PyStaticMethod_Type, "PyStaticMethod_Type") \
    D(PyTypeObject*, PySuper_Type, "PySuper_Type") \
    D(PyTypeObject*, PyTraceBack_Type, "PyTraceBack_Type") \
    D(PyTypeObject*, PyWrapperDescr_Type, "PyWrapperDescr_Type") \
    D(PyTypeObject*, PyBool_Type, "PyBool_Type") \
    D(PyTypeObject*, PyEnum_Type, "PyEnum_Type") \
    D(PyTypeObject*, _PyWeakref_RefType, "_PyWeakref_RefType") \
    D(PyTypeObject*, _PyWeakref_ProxyType, "_PyWeakref_ProxyType") \
    D(PyTypeObject*, _PyWeakref_CallableProxyType, "_PyWeakref_CallableProxyType") \

#define PYBRIDGE_FUNCTION_SYMBOLS(F) \
    F(PPyObject, Py_BuildValue, (const char*, ...), "Py_BuildValue") \
    F(void, Py_Initialize, (), "Py_Initialize") \
    F(void, Py_Exit, (int), "Py_Exit") \
    F(int, Py_AtExit, (void (*)()), "Py_AtExit") \
    F(void, Py_FatalError, (const char*), "Py_FatalError") \
    F(PPyObject, Py_CompileStringExFlags, (const char*, const char*, int, PyCompilerFlags*, int), "Py_CompileStringExFlags") \
    F(void, Py_Finalize, (), "Py_Finalize") \
    F(const char*, Py_GetVersion, (), "Py_GetVersion") \
    F(const char*, Py_GetCopyright, (), "Py_GetCopyright") \
    F(wchar_t*, Py_GetExecPrefix, (), "Py_GetExecPrefix") \
    F(wchar_t*, Py_GetPath, (), "Py_GetPath") \
    F(void, Py_SetPath, (const wchar_t*), "Py_SetPath") \
    F(void, Py_SetPythonHome, (const wchar_t*), "Py_SetPythonHome") \
    F(wchar_t*, Py_GetPythonHome, (), "Py_GetPythonHome") \
    F(wchar_t*, Py_GetPrefix, (), "Py_GetPrefix") \
    F(wchar_t*, Py_GetProgramName, (), "Py_GetProgramName") \
    F(void, Py_SetProgramName, (const wchar_t*), "Py_SetProgramName") \
    F(int, Py_IsInitialized, (), "Py_IsInitialized") \
    F(wchar_t*, Py_GetProgramFullPath, (), "Py_GetProgramFullPath") \
    F(const char*, Py_GetBuildInfo, (), "Py_GetBuildInfo") \
    F(PyThreadState*, Py_NewInterpreter, (), "Py_NewInterpreter") \
    F(void, Py_EndInterpreter, (PyThreadState*), "Py_EndInterpreter") \
    F(PPyObject, PyImport_GetModuleDict, (), "PyImport_GetModuleDict") \
    F(PPyObject, PyImport_AddModule, (const char*), "PyImport_AddModule") \
    F(long, PyImport_GetMagicNumber, (), "PyImport_GetMagicNumber") \
    F(int, PyImport_ImportFrozenModule, (const char*), "PyImport_ImportFrozenModule") \
    F(PPyObject, PyImport_ImportModule, (const char*), "PyImport_ImportModule") \
    F(PPyObject, PyImport_Import, (PPyObject), "PyImport_Import") \
    F(PPyObject, PyImport_ReloadModule, (PPyObject), "PyImport_ReloadModule") \
    F(PPyObject, PyImport_ExecCodeModule, (const char*, PPyObject), "PyImport_ExecCodeModule") \
    F(void, PyErr_Print, (), "PyErr_Print") \
    F(void, PyErr_SetNone, (PPyObject), "PyErr_SetNone") \
    F(void, PyErr_SetObject, (PPyObject, PPyObject), "PyErr_SetObject") \
    F(void, PyErr_Restore, (PPyObject, PPyObject, PPyObject), "PyErr_Restore") \
    F(int, PyErr_BadArgument, (), "PyErr_BadArgument") \
    F(PPyObject, PyErr_NoMemory, (), "PyErr_NoMemory") \
    F(PPyObject, PyErr_SetFromErrno, (PPyObject), "PyErr_SetFromErrno") \
    F(void, PyErr_BadInternalCall, (), "PyErr_BadInternalCall") \
    F(int, PyErr_CheckSignals, (), "PyErr_CheckSignals") \
    F(PPyObject, PyErr_Occurred, (), "PyErr_Occurred") \
    F(void, PyErr_Clear, (), "PyErr_Clear") \
    F(void, PyErr_Fetch, (PPPyObject, PPPyObject, PPPyObject), "PyErr_Fetch") \
    F(void, PyErr_GetExcInfo, (PPPyObject, PPPyObject, PPPyObject), "PyErr_GetExcInfo") \
    F(void, PyErr_SetString, (PPyObject, const char*), "PyErr_SetString") \
    F(int, PyErr_WarnEx, (PPyObject, const char*, Py_ssize_t), "PyErr_WarnEx") \
    F(int, PyErr_WarnExplicit, (PPyObject, const char*, const char*, int, const char*, PPyObject), "PyErr_WarnExplicit") \
    F(int, PyErr_ExceptionMatches, (PPyObject), "PyErr_ExceptionMatches") \
    F(int, PyErr_GivenExceptionMatches, (PPyObject, PPyObject), "PyErr_GivenExceptionMatches") \
    F(PPyObject, PyErr_NewException, (const char*, PPyObject, PPyObject), "PyErr_NewException") \
    F(void, PyErr_SetInterrupt, (), "PyErr_SetInterrupt") \
    F(PPyObject, PyEval_GetBuiltins, (), "PyEval_GetBuiltins") \
    F(PPyObject, PyEval_CallObjectWithKeywords, (PPyObject, PPyObject, PPyObject), "PyEval_CallObjectWithKeywords") \
    F(PPyObject, PyEval_GetFrame, (), "PyEval_GetFrame") \
    F(void, PyEval_SetTrace, (Py_tracefunc, PPyObject), "PyEval_SetTrace") \
    F(int, PyFrame_GetLineNumber, (PyFrameObject*), "PyFrame_GetLineNumber") \
    F(PPyObject, PyEval_GetGlobals, (), "PyEval_GetGlobals") \
    F(PPyObject, PyEval_GetLocals, (), "PyEval_GetLocals") \
    F(void, PyEval_InitThreads, (), "PyEval_InitThreads") \
    F(void, PyEval_RestoreThread, (PyThreadState*), "PyEval_RestoreThread") \
    F(PyThreadState*, PyEval_SaveThread, (), "PyEval_SaveThread") \
    F(PPyObject, PyEval_EvalCode, (PPyObject, PPyObject, PPyObject), "PyEval_EvalCode") \
    F(void, PyEval_AcquireLock, (), "PyEval_AcquireLock") \
    F(void, PyEval_ReleaseLock, (), "PyEval_ReleaseLock") \
    F(void, PyEval_AcquireThread, (PyThreadState*), "PyEval_AcquireThread") \
    F(void, PyEval_ReleaseThread, (PyThreadState*), "PyEval_ReleaseThread") \
    F(int, PyThreadState_SetAsyncExc, (unsigned long, PPyObject), "PyThreadState_SetAsyncExc") \
    F(PyThreadState*, PyThreadState_New, (PyInterpreterState*), "PyThreadState_New") \
    F(void, PyThreadState_Clear, (PyThreadState*), "PyThreadState_Clear") \
    F(void, PyThreadState_Delete, (PyThreadState*), "PyThreadState_Delete") \
    F(PyThreadState*, PyThreadState_Get, (), "PyThreadState_Get") \
    F(PyThreadState*, PyThreadState_Swap, (PyThreadState*), "PyThreadState_Swap") \
    F(PyInterpreterState*, PyInterpreterState_New, (), "PyInterpreterState_New") \
    F(void, PyInterpreterState_Clear, (PyInterpreterState*), "PyInterpreterState_Clear") \
    F(void, PyInterpreterState_Delete, (PyInterpreterState*), "PyInterpreterState_Delete") \
    F(int, PyGILState_Ensure, (), "PyGILState_Ensure") \
    F(void, PyGILState_Release, (int), "PyGILState_Release") \
    F(int, PyOS_InterruptOccurred, (), "PyOS_InterruptOccurred") \
    F(PPyObject, PyRun_String, (const char*, int, PPyObject, PPyObject), "PyRun_String") \
    F(int, PyRun_SimpleString, (const char*), "PyRun_SimpleString") \
    F(void*, PyParser_SimpleParseStringFlags, (const char*, int, int), "PyParser_SimpleParseStringFlags") \
    F(void, PyNode_Free, (void*), "PyNode_Free") \
    F(int, PyArg_Parse, (PPyObject, const char*, ...), "PyArg_Parse") \
    F(int, PyArg_ParseTuple, (PPyObject, const char*, ...), "PyArg_ParseTuple") \
    F(int, PyArg_ParseTupleAndKeywords, (PPyObject, PPyObject, const char*, char**, ...), "PyArg_ParseTupleAndKeywords") \
    F(PPyObject, PyObject_Str, (PPyObject), "PyObject_Str") \
    F(PPyObject, PyObject_CallObject, (PPyObject, PPyObject), "PyObject_CallObject") \
    F(PPyObject, PyObject_CallMethod, (PPyObject, const char*, const char*, ...), "PyObject_CallMethod") \
    F(PPyObject, PyObject_RichCompare, (PPyObject, PPyObject, int), "PyObject_RichCompare") \
    F(int, PyObject_RichCompareBool, (PPyObject, PPyObject, int), "PyObject_RichCompareBool") \
    F(PPyObject, PyObject_GetAttr, (PPyObject, PPyObject), "PyObject_GetAttr") \
    F(PPyObject, PyObject_GetAttrString, (PPyObject, const char*), "PyObject_GetAttrString") \
    F(PPyObject, PyObject_GetItem, (PPyObject, PPyObject), "PyObject_GetItem") \
    F(int, PyObject_DelItem, (PPyObject, PPyObject), "PyObject_DelItem") \
    F(int, PyObject_HasAttr, (PPyObject, PPyObject), "PyObject_HasAttr") \
    F(int, PyObject_HasAttrString, (PPyObject, const char*), "PyObject_HasAttrString") \
    F(Py_hash_t, PyObject_Hash, (PPyObject), "PyObject_Hash") \
    F(int, PyObject_IsTrue, (PPyObject), "PyObject_IsTrue") \
    F(Py_ssize_t, PyObject_Length, (PPyObject), "PyObject_Length") \
    F(PPyObject, PyObject_Repr, (PPyObject), "PyObject_Repr") \
    F(int, PyObject_SetAttr, (PPyObject, PPyObject, PPyObject), "PyObject_SetAttr") \
    F(int, PyObject_SetAttrString, (PPyObject, const char*, PPyObject), "PyObject_SetAttrString") \
    F(int, PyObject_SetItem, (PPyObject, PPyObject, PPyObject), "PyObject_SetItem") \
    F(PPyObject, PyObject_Init, (PPyObject, PyTypeObject*), "PyObject_Init") \
    F(PPyObject, PyObject_InitVar, (PPyObject, PyTypeObject*, Py_ssize_t), "PyObject_InitVar") \
    F(void, PyObject_Free, (void*), "PyObject_Free") \
    F(PPyObject, PyObject_GetIter, (PPyObject), "PyObject_GetIter") \
    F(int, PyObject_IsInstance, (PPyObject, PPyObject), "PyObject_IsInstance") \
    F(int, PyObject_IsSubclass, (PPyObject, PPyObject), "PyObject_IsSubclass") \
    F(PPyObject, PyObject_Call, (PPyObject, PPyObject, PPyObject), "PyObject_Call") \
    F(PPyObject, PyObject_GenericGetAttr, (PPyObject, PPyObject), "PyObject_GenericGetAttr") \
    F(int, PyObject_GenericSetAttr, (PPyObject, PPyObject, PPyObject), "PyObject_GenericSetAttr") \
    F(void*, PyObject_Malloc, (size_t), "PyObject_Malloc") \
    F(void, PyObject_GC_Del, (void*), "PyObject_GC_Del") \
    F(void, PyObject_GC_Track, (void*), "PyObject_GC_Track") \
    F(void, PyObject_GC_UnTrack, (void*), "PyObject_GC_UnTrack") \
    F(PPyObject, PyObject_New, (PyTypeObject*), "_PyObject_New") \
    F(PPyObject, PyObject_NewVar, (PyTypeObject*, Py_ssize_t), "_PyObject_NewVar") \
    F(PPyObject, PyObject_GC_New, (PyTypeObject*), "_PyObject_GC_New") \
    F(PPyObject, PyObject_GC_NewVar, (PyTypeObject*, Py_ssize_t), "_PyObject_GC_NewVar") \
    F(PPyObject, PyObject_GC_Resize, (PPyObject, Py_ssize_t), "_PyObject_GC_Resize") \
    F(PPyObject, PyIter_Next, (PPyObject), "PyIter_Next") \
    F(int, PyCallable_Check, (PPyObject), "PyCallable_Check") \
    F(void*, PyMem_Malloc, (size_t), "PyMem_Malloc") \
    F(int, PyType_IsSubtype, (PyTypeObject*, PyTypeObject*), "PyType_IsSubtype") \
    F(PPyObject, PyType_GenericAlloc, (PyTypeObject*, Py_ssize_t), "PyType_GenericAlloc") \
    F(PPyObject, PyType_GenericNew, (PyTypeObject*, PPyObject, PPyObject), "PyType_GenericNew") \
    F(int, PyType_Ready, (PyTypeObject*), "PyType_Ready") \
    F(void*, PyCFunction_GetFunction, (PPyObject), "PyCFunction_GetFunction") \
    F(PPyObject, PyCFunction_GetSelf, (PPyObject), "PyCFunction_GetSelf") \
    F(PPyObject, PyCFunction_NewEx, (PyMethodDef*, PPyObject, PPyObject), "PyCFunction_NewEx") \
    F(PPyObject, PyFunction_GetCode, (PPyObject), "PyFunction_GetCode") \
    F(PPyObject, PyFunction_GetGlobals, (PPyObject), "PyFunction_GetGlobals") \
    F(PPyObject, PyFunction_New, (PPyObject, PPyObject), "PyFunction_New") \
    F(PPyObject, PyMethod_Function, (PPyObject), "PyMethod_Function") \
    F(PPyObject, PyMethod_New, (PPyObject, PPyObject), "PyMethod_New") \
    F(PPyObject, PyMethod_Self, (PPyObject), "PyMethod_Self") \
    F(PPyObject, PyModule_Create2, (PyModuleDef*, int), "PyModule_Create2") \
    F(PPyObject, PyModule_GetDict, (PPyObject), "PyModule_GetDict") \
    F(const char*, PyModule_GetName, (PPyObject), "PyModule_GetName") \
    F(PPyObject, PyModule_New, (const char*), "PyModule_New") \
    F(PPyObject, PyWrapper_New, (PPyObject, PPyObject), "PyWrapper_New") \
    F(PPyObject, PyDictProxy_New, (PPyObject), "PyDictProxy_New") \
    F(PPyObject, PyDict_GetItem, (PPyObject, PPyObject), "PyDict_GetItem") \
    F(int, PyDict_SetItem, (PPyObject, PPyObject, PPyObject), "PyDict_SetItem") \
    F(int, PyDict_DelItem, (PPyObject, PPyObject), "PyDict_DelItem") \
    F(void, PyDict_Clear, (PPyObject), "PyDict_Clear") \
    F(int, PyDict_Next, (PPyObject, Py_ssize_t*, PPPyObject, PPPyObject), "PyDict_Next") \
    F(PPyObject, PyDict_Keys, (PPyObject), "PyDict_Keys") \
    F(PPyObject, PyDict_Values, (PPyObject), "PyDict_Values") \
    F(PPyObject, PyDict_Items, (PPyObject), "PyDict_Items") \
    F(Py_ssize_t, PyDict_Size, (PPyObject), "PyDict_Size") \
    F(int, PyDict_DelItemString, (PPyObject, const char*), "PyDict_DelItemString") \
    F(PPyObject, PyDict_Copy, (PPyObject), "PyDict_Copy") \
    F(PPyObject, PyDict_New, (), "PyDict_New") \
    F(int, PyDict_Update, (PPyObject, PPyObject), "PyDict_Update") \
    F(int, PyDict_SetItemString, (PPyObject, const char*, PPyObject), "PyDict_SetItemString") \
    F(PPyObject, PyDict_GetItemString, (PPyObject, const char*), "PyDict_GetItemString") \
    F(int, PyList_Append, (PPyObject, PPyObject), "PyList_Append") \
    F(PPyObject, PyList_AsTuple, (PPyObject), "PyList_AsTuple") \
    F(PPyObject, PyList_GetItem, (PPyObject, Py_ssize_t), "PyList_GetItem") \
    F(PPyObject, PyList_GetSlice, (PPyObject, Py_ssize_t, Py_ssize_t), "PyList_GetSlice") \
    F(int, PyList_Insert, (PPyObject, Py_ssize_t, PPyObject), "PyList_Insert") \
    F(PPyObject, PyList_New, (Py_ssize_t), "PyList_New") \
    F(int, PyList_Reverse, (PPyObject), "PyList_Reverse") \
    F(int, PyList_SetItem, (PPyObject, Py_ssize_t, PPyObject), "PyList_SetItem") \
    F(int, PyList_SetSlice, (PPyObject, Py_ssize_t, Py_ssize_t, PPyObject), "PyList_SetSlice") \
    F(Py_ssize_t, PyList_Size, (PPyObject), "PyList_Size") \
    F(int, PyList_Sort, (PPyObject), "PyList_Sort") \
    F(PPyObject, PyTuple_GetItem, (PPyObject, Py_ssize_t), "PyTuple_GetItem") \
    F(PPyObject, PyTuple_GetSlice, (PPyObject, Py_ssize_t, Py_ssize_t), "PyTuple_GetSlice") \
    F(PPyObject, PyTuple_New, (Py_ssize_t), "PyTuple_New") \
    F(int, PyTuple_SetItem, (PPyObject, Py_ssize_t, PPyObject), "PyTuple_SetItem") \
    F(Py_ssize_t, PyTuple_Size, (PPyObject), "PyTuple_Size") \
    F(int, PyMapping_Check, (PPyObject), "PyMapping_Check") \
    F(PPyObject, PyMapping_GetItemString, (PPyObject, const char*), "PyMapping_GetItemString") \
    F(int, PyMapping_HasKey, (PPyObject, PPyObject), "PyMapping_HasKey") \
    F(int, PyMapping_HasKeyString, (PPyObject, const char*), "PyMapping_HasKeyString") \
    F(Py_ssize_t, PyMapping_Length, (PPyObject), "PyMapping_Length") \
    F(int, PyMapping_SetItemString, (PPyObject, const char*, PPyObject), "PyMapping_SetItemString") \
    F(PPyObject, PyMapping_Keys, (PPyObject), "PyMapping_Keys") \
    F(PPyObject, PyMapping_Values, (PPyObject), "PyMapping_Values") \
    F(int, PySequence_Check, (PPyObject), "PySequence_Check") \
    F(PPyObject, PySequence_Concat, (PPyObject, PPyObject), "PySequence_Concat") \
    F(Py_ssize_t, PySequence_Count, (PPyObject, PPyObject), "PySequence_Count") \
    F(PPyObject, PySequence_GetItem, (PPyObject, Py_ssize_t), "PySequence_GetItem") \
    F(PPyObject, PySequence_GetSlice, (PPyObject, Py_ssize_t, Py_ssize_t), "PySequence_GetSlice") \
    F(int, PySequence_In, (PPyObject, PPyObject), "PySequence_In") \
    F(Py_ssize_t, PySequence_Index, (PPyObject, PPyObject), "PySequence_Index") \
    F(Py_ssize_t, PySequence_Length, (PPyObject), "PySequence_Length") \
    F(PPyObject, PySequence_Repeat, (PPyObject, Py_ssize_t), "PySequence_Repeat") \
    F(int, PySequence_SetItem, (PPyObject, Py_ssize_t, PPyObject), "PySequence_SetItem") \
    F(int, PySequence_SetSlice, (PPyObject, Py_ssize_t, Py_ssize_t, PPyObject), "PySequence_SetSlice") \
    F(int, PySequence_DelSlice, (PPyObject, Py_ssize_t, Py_ssize_t), "PySequence_DelSlice") \
    F(PPyObject, PySequence_Tuple, (PPyObject), "PySequence_Tuple") \
    F(int, PySequence_Contains, (PPyObject, PPyObject), "PySequence_Contains") \
    F(PPyObject, PySequence_List, (PPyObject), "PySequence_List") \
    F(int, PySlice_GetIndices, (PPyObject, Py_ssize_t, Py_ssize_t*, Py_ssize_t*, Py_ssize_t*), "PySlice_GetIndices") \
    F(int, PySlice_GetIndicesEx, (PPyObject, Py_ssize_t, Py_ssize_t*, Py_ssize_t*, Py_ssize_t*, Py_ssize_t*), "PySlice_GetIndicesEx") \
    F(PPyObject, PySlice_New, (PPyObject, PPyObject, PPyObject), "PySlice_New") \
    F(PPyObject, PySeqIter_New, (PPyObject), "PySeqIter_New") \
    F(double, PyLong_AsDouble, (PPyObject), "PyLong_AsDouble") \
    F(long, PyLong_AsLong, (PPyObject), "PyLong_AsLong") \
    F(PPyObject, PyLong_FromDouble, (double), "PyLong_FromDouble") \
    F(PPyObject, PyLong_FromLong, (long), "PyLong_FromLong") \
    F(PPyObject, PyLong_FromString, (const char*, char**, int), "PyLong_FromString") \
    F(PPyObject, PyLong_FromUnsignedLong, (unsigned long), "PyLong_FromUnsignedLong") \
    F(unsigned long, PyLong_AsUnsignedLong, (PPyObject), "PyLong_AsUnsignedLong") \
    F(PPyObject, PyLong_FromUnicodeObject, (PPyObject, int), "PyLong_FromUnicodeObject") \
    F(PPyObject, PyLong_FromLongLong, (long long), "PyLong_FromLongLong") \
    F(PPyObject, PyLong_FromUnsignedLongLong, (unsigned long long), "PyLong_FromUnsignedLongLong") \
    F(long long, PyLong_AsLongLong, (PPyObject), "PyLong_AsLongLong") \
    F(PPyObject, PyLong_FromVoidPtr, (void*), "PyLong_FromVoidPtr") \
    F(double, PyFloat_AsDouble, (PPyObject), "PyFloat_AsDouble") \
    F(PPyObject, PyFloat_FromDouble, (double), "PyFloat_FromDouble") \
    F(PPyObject, PyFloat_FromString, (PPyObject), "PyFloat_FromString") \
    F(PPyObject, PyComplex_FromCComplex, (Py_complex), "PyComplex_FromCComplex") \
    F(PPyObject, PyComplex_FromDoubles, (double, double), "PyComplex_FromDoubles") \
    F(double, PyComplex_RealAsDouble, (PPyObject), "PyComplex_RealAsDouble") \
    F(double, PyComplex_ImagAsDouble, (PPyObject), "PyComplex_ImagAsDouble") \
    F(Py_complex, PyComplex_AsCComplex, (PPyObject), "PyComplex_AsCComplex") \
    F(PPyObject, PyBool_FromLong, (long), "PyBool_FromLong") \
    F(PPyObject, PyNumber_Absolute, (PPyObject), "PyNumber_Absolute") \
    F(PPyObject, PyNumber_Add, (PPyObject, PPyObject), "PyNumber_Add") \
    F(PPyObject, PyNumber_And, (PPyObject, PPyObject), "PyNumber_And") \
    F(int, PyNumber_Check, (PPyObject), "PyNumber_Check") \
    F(PPyObject, PyNumber_FloorDivide, (PPyObject, PPyObject), "PyNumber_FloorDivide") \
    F(PPyObject, PyNumber_TrueDivide, (PPyObject, PPyObject), "PyNumber_TrueDivide") \
    F(PPyObject, PyNumber_Divmod, (PPyObject, PPyObject), "PyNumber_Divmod") \
    F(PPyObject, PyNumber_Float, (PPyObject), "PyNumber_Float") \
    F(PPyObject, PyNumber_Invert, (PPyObject), "PyNumber_Invert") \
    F(PPyObject, PyNumber_Long, (PPyObject), "PyNumber_Long") \
    F(PPyObject, PyNumber_Lshift, (PPyObject, PPyObject), "PyNumber_Lshift") \
    F(PPyObject, PyNumber_Multiply, (PPyObject, PPyObject), "PyNumber_Multiply") \
    F(PPyObject, PyNumber_Negative, (PPyObject), "PyNumber_Negative") \
    F(PPyObject, PyNumber_Or, (PPyObject, PPyObject), "PyNumber_Or") \
    F(PPyObject, PyNumber_Positive, (PPyObject), "PyNumber_Positive") \
    F(PPyObject, PyNumber_Power, (PPyObject, PPyObject, PPyObject), "PyNumber_Power") \
    F(PPyObject, PyNumber_Remainder, (PPyObject, PPyObject), "PyNumber_Remainder") \
    F(PPyObject, PyNumber_Rshift, (PPyObject, PPyObject), "PyNumber_Rshift") \
    F(PPyObject, PyNumber_Subtract, (PPyObject, PPyObject), "PyNumber_Subtract") \
    F(PPyObject, PyNumber_Xor, (PPyObject, PPyObject), "PyNumber_Xor") \
    F(PPyObject, PyUnicode_FromWideChar, (const wchar_t*, Py_ssize_t), "PyUnicode_FromWideChar") \
    F(PPyObject, PyUnicode_FromString, (const char*), "PyUnicode_FromString") \
    F(PPyObject, PyUnicode_FromStringAndSize, (const char*, Py_ssize_t), "PyUnicode_FromStringAndSize") \
    F(PPyObject, PyUnicode_FromKindAndData, (int, const void*, Py_ssize_t), "PyUnicode_FromKindAndData") \
    F(Py_ssize_t, PyUnicode_AsWideChar, (PPyObject, wchar_t*, Py_ssize_t), "PyUnicode_AsWideChar") \
    F(const char*, PyUnicode_AsUTF8, (PPyObject), "PyUnicode_AsUTF8") \
    F(const char*, PyUnicode_AsUTF8AndSize, (PPyObject, Py_ssize_t*), "PyUnicode_AsUTF8AndSize") \
    F(PPyObject, PyUnicode_Decode, (const char*, Py_ssize_t, const char*, const char*), "PyUnicode_Decode") \
    F(PPyObject, PyUnicode_DecodeUTF16, (const char*, Py_ssize_t, const char*, int*), "PyUnicode_DecodeUTF16") \
    F(PPyObject, PyUnicode_AsEncodedString, (PPyObject, const char*, const char*), "PyUnicode_AsEncodedString") \
    F(PPyObject, PyUnicode_FromOrdinal, (int), "PyUnicode_FromOrdinal") \
    F(Py_ssize_t, PyUnicode_GetLength, (PPyObject), "PyUnicode_GetLength") \
    F(char*, PyBytes_AsString, (PPyObject), "PyBytes_AsString") \
    F(int, PyBytes_AsStringAndSize, (PPyObject, char**, Py_ssize_t*), "PyBytes_AsStringAndSize") \
    F(void, PyBytes_Concat, (PPPyObject, PPyObject), "PyBytes_Concat") \
    F(void, PyBytes_ConcatAndDel, (PPPyObject, PPyObject), "PyBytes_ConcatAndDel") \
    F(PPyObject, PyBytes_FromString, (const char*), "PyBytes_FromString") \
    F(PPyObject, PyBytes_FromStringAndSize, (const char*, Py_ssize_t), "PyBytes_FromStringAndSize") \
    F(Py_ssize_t, PyBytes_Size, (PPyObject), "PyBytes_Size") \
    F(PPyObject, PyBytes_DecodeEscape, (const char*, Py_ssize_t, const char*, Py_ssize_t, const char*), "PyBytes_DecodeEscape") \
    F(PPyObject, PyBytes_Repr, (PPyObject, int), "PyBytes_Repr") \
    F(PPyObject, PyBytes_FromObject, (PPyObject), "PyBytes_FromObject") \
    F(int, _PyBytes_Resize, (PPPyObject, Py_ssize_t), "_PyBytes_Resize") \
    F(char*, PyByteArray_AsString, (PPyObject), "PyByteArray_AsString") \
    F(PPyObject, PyByteArray_Concat, (PPyObject, PPyObject), "PyByteArray_Concat") \
    F(int, PyByteArray_Resize, (PPyObject, Py_ssize_t), "PyByteArray_Resize") \
    F(PPyObject, PyByteArray_FromObject, (PPyObject), "PyByteArray_FromObject") \
    F(PPyObject, PyByteArray_FromStringAndSize, (const char*, Py_ssize_t), "PyByteArray_FromStringAndSize") \
    F(Py_ssize_t, PyByteArray_Size, (PPyObject), "PyByteArray_Size") \
    F(void, PySys_SetArgv, (int, wchar_t**), "PySys_SetArgv") \
    F(PPyObject, PySys_GetObject, (const char*), "PySys_GetObject") \
    F(int, PySys_SetObject, (const char*, PPyObject), "PySys_SetObject") \
    F(void, PySys_SetPath, (const wchar_t*), "PySys_SetPath") \
    F(PPyObject, PyFile_GetLine, (PPyObject, int), "PyFile_GetLine") \
    F(int, PyFile_WriteObject, (PPyObject, PPyObject, int), "PyFile_WriteObject") \
    F(int, PyFile_WriteString, (const char*, PPyObject), "PyFile_WriteString") \
    F(int, PyTraceBack_Here, (PPyObject), "PyTraceBack_Here") \
    F(int, PyTraceBack_Print, (PPyObject, PPyObject), "PyTraceBack_Print") \
    F(PPyObject, PyWeakref_GetObject, (PPyObject), "PyWeakref_GetObject") \
    F(PPyObject, PyWeakref_NewProxy, (PPyObject, PPyObject), "PyWeakref_NewProxy") \
    F(PPyObject, PyWeakref_NewRef, (PPyObject, PPyObject), "PyWeakref_NewRef") \

