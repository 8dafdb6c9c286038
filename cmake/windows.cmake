# Windows build: the adapters (qv_win32), quorvane.exe and the Windows test program.
#
# Both programs are linked statically (C and C++ runtimes, winpthread) so that they run under Wine
# or on a bare Windows machine without any MinGW DLL beside them.
set(QV_RES_DIR ${CMAKE_SOURCE_DIR}/res)
set(QV_RC_SCRIPT ${QV_RES_DIR}/quorvane.rc)
# The resource script is compiled by a command of its own rather than as an RC source, so that the
# C++ warning options of the project never reach windres. windres reads the script as UTF-8 (the
# captions and the string table are Japanese) and finds the icon and the file lists through -I.
# It does not report the files the script pulls in, so they are listed as dependencies.
set(QV_RC_OBJECT ${CMAKE_BINARY_DIR}/quorvane_rc.o)
add_custom_command(OUTPUT ${QV_RC_OBJECT}
  COMMAND ${CMAKE_RC_COMPILER} -c 65001 -I ${QV_RES_DIR} -O coff -i ${QV_RC_SCRIPT} -o ${QV_RC_OBJECT}
  DEPENDS ${QV_RC_SCRIPT} ${QV_RES_DIR}/resource.h ${QV_RES_DIR}/strings.inc
          ${QV_RES_DIR}/quorvane.ico ${QV_RES_DIR}/filelist131.txt ${QV_RES_DIR}/filelist132.txt
  COMMENT "Compiling the resources"
  VERBATIM)

set(QV_WIN32_LIBS comctl32 shell32 advapi32 user32 gdi32 kernel32 ntdll)
set(QV_STATIC_LINK -static -static-libgcc -static-libstdc++)

# The adapters: every source of src/win32 except the program's entry point.
file(GLOB qv_win32_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/win32/*.cpp)
set(QV_WINMAIN ${CMAKE_SOURCE_DIR}/src/win32/win_main.cpp)
list(REMOVE_ITEM qv_win32_srcs ${QV_WINMAIN})
if(NOT qv_win32_srcs)
  set(qv_win32_srcs ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
endif()
add_library(qv_win32 STATIC ${qv_win32_srcs})
target_link_libraries(qv_win32 PUBLIC qv_core ${QV_WIN32_LIBS})
target_include_directories(qv_win32 PUBLIC ${QV_RES_DIR})
# The ANSI entry points throughout; no UNICODE.
target_compile_definitions(qv_win32 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

add_executable(quorvane WIN32 ${QV_WINMAIN} ${QV_RC_OBJECT})
target_include_directories(quorvane PRIVATE ${QV_RES_DIR})
target_link_libraries(quorvane PRIVATE qv_win32 qv_core ${QV_WIN32_LIBS})
target_link_options(quorvane PRIVATE -mwindows ${QV_STATIC_LINK})

# GoogleTest, cross-compiled from Debian's sources into this build.
set(QV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-compile")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${QV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own warnings are not ours to fix.
target_compile_options(gtest PRIVATE -Wno-error)
target_compile_options(gtest_main PRIVATE -Wno-error)

# The expected bytes of the file list resource, taken from the source file when CMake configures
# (a change of the file configures again).
set(QV_FILELIST_EXPECTED ${CMAKE_BINARY_DIR}/generated/filelist132_expected.inc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QV_RES_DIR}/filelist132.txt)
if(EXISTS ${QV_RES_DIR}/filelist132.txt)
  file(READ ${QV_RES_DIR}/filelist132.txt qv_filelist_hex HEX)
else()
  set(qv_filelist_hex "")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," qv_filelist_bytes "${qv_filelist_hex}")
file(CONFIGURE OUTPUT ${QV_FILELIST_EXPECTED}
     CONTENT "// Generated from res/filelist132.txt.\n{${qv_filelist_bytes}}\n" @ONLY)

file(GLOB qv_windows_test_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
if(qv_windows_test_srcs)
  add_executable(qv_windows_tests ${qv_windows_test_srcs} ${QV_RC_OBJECT})
  target_include_directories(qv_windows_tests PRIVATE ${QV_RES_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(qv_windows_tests PRIVATE qv_win32 qv_core gtest gtest_main ${QV_WIN32_LIBS})
  target_link_options(qv_windows_tests PRIVATE ${QV_STATIC_LINK})
  # The tests need a display for their windows and the Japanese ANSI code page; the script runs
  # them with the toolchain's emulator (Wine) with both (see the script for the environment).
  add_test(NAME qv_windows_tests
           COMMAND sh ${CMAKE_SOURCE_DIR}/tests/windows/run_under_wine.sh
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:qv_windows_tests>)
endif()

include(${CMAKE_SOURCE_DIR}/tests/e2e/probe.cmake OPTIONAL)
