# The runtime bridge: loader, API binding, engine, running code and errors.
add_library(quorbel_pybridge
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Component.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/DynamicDll.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PythonInterface.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PythonEngine.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PythonRun.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/Component.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/DynamicDll.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonInterface.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonEngine.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonErrors.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonSymbols.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonTypes.h
)
target_include_directories(quorbel_pybridge PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_link_libraries(quorbel_pybridge PUBLIC quorbel_platform Qt6::Core ${CMAKE_DL_LIBS})
