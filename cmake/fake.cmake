# The fake machine (fake/), a static library over the core: used by the unit tests, the
# benchmarks and the fuzz harnesses.
file(GLOB fake_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fake/*.cpp)
if(NOT fake_srcs)
  set(fake_srcs ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
endif()
add_library(qv_fake STATIC ${fake_srcs})
target_link_libraries(qv_fake PUBLIC qv_core)
target_compile_definitions(qv_fake PUBLIC QV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
