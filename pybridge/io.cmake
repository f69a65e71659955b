# Standard-stream redirection: the I/O components (and, with the host-module
# support, the "pyio" module).
add_library(quorbel_pyio
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PythonIO.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/PythonIO.h
)
target_include_directories(quorbel_pyio PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_link_libraries(quorbel_pyio PUBLIC quorbel_pybridge quorbel_platform Qt6::Widgets)
