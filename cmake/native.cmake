# Native Linux build: the fake machine and the unit tests, run by ctest.
find_package(GTest REQUIRED)

include(${CMAKE_SOURCE_DIR}/cmake/fake.cmake)

include(GoogleTest)
# One test program per folder below tests/unit, one for the fake machine itself and one for the
# contract tests against the fake machine (the Windows test program runs them on the system).
function(qv_test_program name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(srcs)
    add_executable(${name} ${srcs})
    target_link_libraries(${name} PRIVATE qv_fake qv_core GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
  endif()
endfunction()

qv_test_program(qv_fake_tests ${CMAKE_SOURCE_DIR}/tests/fake)
qv_test_program(qv_contract_tests ${CMAKE_SOURCE_DIR}/tests/contract)
foreach(sub base app security discovery ui cleanup engine cli)
  qv_test_program(qv_${sub}_tests ${CMAKE_SOURCE_DIR}/tests/unit/${sub})
endforeach()
# The console front end is no part of the core the other programs link.
if(TARGET qv_cli_tests)
  target_link_libraries(qv_cli_tests PRIVATE qv_cli)
endif()

if(QV_BENCHMARKS)
  find_package(benchmark REQUIRED)
  file(GLOB bench_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  if(bench_srcs)
    add_executable(qv_bench ${bench_srcs})
    target_link_libraries(qv_bench PRIVATE qv_fake qv_core benchmark::benchmark benchmark::benchmark_main)
  endif()
endif()
