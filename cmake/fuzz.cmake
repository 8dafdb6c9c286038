# Fuzz build (clang): one libFuzzer program per fuzz/*_fuzz.cpp, over the core and the fake
# machine. The helpers the harnesses share (fuzz/fuzz_*.cpp without the suffix) are one static
# library. scripts/fuzz.sh runs the programs over their corpora in fuzz/corpus/<name>.
include(${CMAKE_SOURCE_DIR}/cmake/fake.cmake)

file(GLOB fuzz_harnesses CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
file(GLOB fuzz_support_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
if(fuzz_harnesses)
  list(REMOVE_ITEM fuzz_support_srcs ${fuzz_harnesses})
endif()
if(NOT fuzz_support_srcs)
  set(fuzz_support_srcs ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
endif()
add_library(qv_fuzz_support STATIC ${fuzz_support_srcs})
target_link_libraries(qv_fuzz_support PUBLIC qv_fake qv_core)

foreach(src ${fuzz_harnesses})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE qv_fuzz_support qv_fake qv_core)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()

# Only what the harnesses link is built: the console program's library (CLI11 and its report) is
# no part of it and would only lengthen the build.
if(TARGET qv_cli)
  set_target_properties(qv_cli PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
