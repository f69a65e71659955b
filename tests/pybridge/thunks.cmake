quorbel_add_test(thunk_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/MethodCallBackTest.cpp LIBS quorbel_thunks)
