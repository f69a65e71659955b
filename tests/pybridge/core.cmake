# Tests of the runtime bridge core, against the system's libpython3.11.
find_file(QUORBEL_TEST_LIBPYTHON libpython3.11.so.1.0
  PATHS /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib NO_DEFAULT_PATH)

# Stand-in runtimes: libraries that export the bound names as plain data, for
# binding tests. "missing" lacks PySys_GetObject and PyMem_Malloc; "py39" has
# every name (the parser ones included) and a 3.9 file name.
file(READ ${PROJECT_SOURCE_DIR}/pybridge/include/pybridge/PythonSymbols.h _pycore_header)
string(REGEX MATCHALL "\"[A-Za-z_0-9]+\"\\)" _pycore_names "${_pycore_header}")
set(_pycore_src "// Stand-in runtime symbols.\n")
foreach(_quoted IN LISTS _pycore_names)
  string(REGEX REPLACE "[\"\\)]" "" _name "${_quoted}")
  if(_name STREQUAL "symbol")
    continue()
  endif()
  if(_name STREQUAL "PySys_GetObject" OR _name STREQUAL "PyMem_Malloc")
    string(APPEND _pycore_src "#ifndef STANDIN_MISSING\n")
    string(APPEND _pycore_src "extern \"C\" { char ${_name}[16]; }\n#endif\n")
  else()
    string(APPEND _pycore_src "extern \"C\" { char ${_name}[16]; }\n")
  endif()
endforeach()
# The 3.9 stand-in also changes the rounding mode while it loads, as a
# library's start-up code may; the loader must undo that.
string(APPEND _pycore_src "#ifdef STANDIN_CHANGES_FP\n#include <cfenv>\nnamespace {\nstruct ChangeFp {\n    ChangeFp() { std::fesetround(FE_UPWARD); }\n} gChangeFp;\n}\n#endif\n")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/StandInRuntime.cpp CONTENT "${_pycore_src}" @ONLY)

add_library(pybridge_standin_missing SHARED ${CMAKE_CURRENT_BINARY_DIR}/StandInRuntime.cpp)
target_compile_definitions(pybridge_standin_missing PRIVATE STANDIN_MISSING)
set_target_properties(pybridge_standin_missing PROPERTIES
  OUTPUT_NAME python3.11 SUFFIX .so.1.0
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin-missing)
add_library(pybridge_standin_py39 SHARED ${CMAKE_CURRENT_BINARY_DIR}/StandInRuntime.cpp)
target_compile_definitions(pybridge_standin_py39 PRIVATE STANDIN_CHANGES_FP)
set_target_properties(pybridge_standin_py39 PROPERTIES
  OUTPUT_NAME python3.9 SUFFIX .so.1.0
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin-py39)

quorbel_add_test(pybridge_core_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/PyCoreSupport.h
    ${CMAKE_CURRENT_SOURCE_DIR}/PyCoreSupport.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/LoaderTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/BindingTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/EngineTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/RunTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/FreshInterpreterTest.cpp
  LIBS quorbel_pybridge)
add_dependencies(pybridge_core_tests pybridge_standin_missing pybridge_standin_py39)
target_compile_definitions(pybridge_core_tests PRIVATE
  PYCORE_LIBPYTHON="${QUORBEL_TEST_LIBPYTHON}"
  PYCORE_STANDIN_MISSING_DIR="${CMAKE_CURRENT_BINARY_DIR}/standin-missing"
  PYCORE_STANDIN_PY39_DIR="${CMAKE_CURRENT_BINARY_DIR}/standin-py39")
