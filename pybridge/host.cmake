# What the host offers to Python: extension modules, host-defined types and
# the "pyio" module with the stream redirection step.
add_library(quorbel_pyhost STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PythonModule.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PythonType.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PyIOModule.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/ScriptSession.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/ScriptSession.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PyRef.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonModule.h
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonType.h
)
target_include_directories(quorbel_pyhost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_link_libraries(quorbel_pyhost PUBLIC quorbel_pybridge quorbel_thunks quorbel_pyio quorbel_platform)
