# Callback thunks: run-time generated plain functions that call bound host
# methods; the bridge links this library.
add_library(quorbel_thunks STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MethodCallBack.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/include/pybridge/MethodCallBack.h
)
target_include_directories(quorbel_thunks PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_link_libraries(quorbel_thunks PUBLIC quorbel_platform Threads::Threads)
