# Tests of the host side of the bridge (modules, types, "pyio"), against the
# system's libpython3.11; they share the core tests' engine and child runner.
find_file(QUORBEL_TEST_LIBPYTHON libpython3.11.so.1.0
  PATHS /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib NO_DEFAULT_PATH)
quorbel_add_test(pybridge_host_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/PyCoreSupport.h
    ${CMAKE_CURRENT_SOURCE_DIR}/PyCoreSupport.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/HostModuleTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/HostTypeTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PyIOModuleTest.cpp
  LIBS quorbel_pyhost)
target_compile_definitions(pybridge_host_tests PRIVATE PYCORE_LIBPYTHON="${QUORBEL_TEST_LIBPYTHON}")
