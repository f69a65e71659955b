quorbel_add_test(python_io_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PythonIOTest.cpp LIBS quorbel_pyio)
