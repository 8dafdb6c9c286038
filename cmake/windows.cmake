# Windows build: the adapters (qv_win32), quorvane.exe, quorvane-cli.exe and the Windows test
# program.
#
# Every program is linked statically (C and C++ runtimes, winpthread) so that they run under Wine
# or on a bare Windows machine without any MinGW DLL beside them.
set(QV_RES_DIR ${CMAKE_SOURCE_DIR}/res)
set(QV_RC_SCRIPT ${QV_RES_DIR}/quorvane.rc)

# The project's version for the resource scripts: the header for the version information
# (generated in CMakeLists.txt, in QV_GENERATED_DIR) and the application manifest, both from
# project(... VERSION) whenever CMake configures.
set(QV_VERSION_FOUR_PARTS
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(QV_EXECUTION_LEVEL highestAvailable)
configure_file(${QV_RES_DIR}/quorvane.manifest.in ${QV_GENERATED_DIR}/quorvane.manifest @ONLY)
set(QV_EXECUTION_LEVEL asInvoker)
configure_file(${QV_RES_DIR}/quorvane.manifest.in ${QV_GENERATED_DIR}/quorvane_cli.manifest @ONLY)

# Compiles a resource script into `output`; the files it pulls in are the further arguments.
# Resource scripts are compiled by a command of their own rather than as RC sources, so that the
# C++ warning options of the project never reach windres. windres reads them as UTF-8 (the
# captions and the string table are Japanese) and finds the files they name (icon, file lists,
# manifest, generated header) through -I. It does not report the files a script pulls in, so they
# are listed as dependencies.
function(qv_compile_resources output script)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_RC_COMPILER} -c 65001 -I ${QV_RES_DIR} -I ${QV_GENERATED_DIR} -O coff
            -i ${script} -o ${output}
    DEPENDS ${script} ${ARGN}
    COMMENT "Compiling the resources of ${script}"
    VERBATIM)
endfunction()

set(QV_RC_OBJECT ${CMAKE_BINARY_DIR}/quorvane_rc.o)
qv_compile_resources(${QV_RC_OBJECT} ${QV_RC_SCRIPT}
  ${QV_RES_DIR}/resource.h ${QV_RES_DIR}/strings.inc ${QV_RES_DIR}/strings_en.inc
  ${QV_RES_DIR}/dialog.inc ${QV_RES_DIR}/quorvane.ico
  ${QV_RES_DIR}/filelist131.txt ${QV_RES_DIR}/filelist132.txt)

# What every program carries (res/program.rc): the application manifest and the version
# information, from a script of the program's own that names it and includes program.rc.
function(qv_program_resources target script)
  set(object ${CMAKE_BINARY_DIR}/${target}_program_rc.o)
  qv_compile_resources(${object} ${script} ${QV_RES_DIR}/program.rc
    ${QV_GENERATED_DIR}/quorvane_version.h ${QV_GENERATED_DIR}/quorvane.manifest
    ${QV_GENERATED_DIR}/quorvane_cli.manifest)
  target_sources(${target} PRIVATE ${object})
endfunction()

# The shipped programs import only libraries that a planted copy beside them cannot replace:
# KnownDLLs, ntdll, and comctl32 from the side-by-side store that the manifest names
# (tests/windows/program_imports.sh, a test below, holds the list and why each is safe). A library
# outside that list is loaded with ISystem::LoadLibrary, from the system folder.
set(QV_WIN32_LIBS comctl32 shell32 ole32 uuid advapi32 user32 gdi32 kernel32 ntdll)
set(QV_STATIC_LINK -static -static-libgcc -static-libstdc++)

# The adapters: every source of src/win32 except the programs' entry points.
file(GLOB qv_win32_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/win32/*.cpp)
set(QV_WINMAIN ${CMAKE_SOURCE_DIR}/src/win32/win_main.cpp)
set(QV_CLI_MAIN ${CMAKE_SOURCE_DIR}/src/win32/cli_main.cpp)
list(REMOVE_ITEM qv_win32_srcs ${QV_WINMAIN} ${QV_CLI_MAIN})
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
qv_program_resources(quorvane ${QV_RES_DIR}/quorvane_program.rc)

# The console program (console subsystem) on the same engine, with the dialog's string table and
# file lists, and a manifest and version information of its own.
add_executable(quorvane-cli ${QV_CLI_MAIN} ${QV_RC_OBJECT})
target_include_directories(quorvane-cli PRIVATE ${QV_RES_DIR})
target_link_libraries(quorvane-cli PRIVATE qv_cli qv_win32 qv_core ${QV_WIN32_LIBS})
target_link_options(quorvane-cli PRIVATE ${QV_STATIC_LINK})
qv_program_resources(quorvane-cli ${QV_RES_DIR}/quorvane_cli_program.rc)

# The speed of the deleter against the shell's deletion of a tree (scripts/delete_speed.sh runs
# it under Wine). A console program, not a test.
add_executable(qv_delete_speed ${CMAKE_SOURCE_DIR}/bench/windows/delete_speed.cpp)
target_link_libraries(qv_delete_speed PRIVATE qv_win32 qv_core ${QV_WIN32_LIBS})
target_link_options(qv_delete_speed PRIVATE ${QV_STATIC_LINK})

# The speed of the console scan over many profiles against a bare load-and-unload loop over the
# same hives (scripts/scan_speed.sh runs it under Wine). A console program, not a test.
add_executable(qv_scan_speed ${CMAKE_SOURCE_DIR}/bench/windows/scan_speed.cpp)
target_link_libraries(qv_scan_speed PRIVATE qv_win32 qv_core ${QV_WIN32_LIBS})
target_link_options(qv_scan_speed PRIVATE ${QV_STATIC_LINK})

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
# The contract tests, against the system's adapters here (tests/windows/contract_machine_win32.cpp)
# as natively against the fake machine.
file(GLOB qv_contract_test_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/contract/*_contract.cpp)
list(APPEND qv_windows_test_srcs ${qv_contract_test_srcs})
if(qv_windows_test_srcs)
  add_executable(qv_windows_tests ${qv_windows_test_srcs} ${QV_RC_OBJECT})
  target_include_directories(qv_windows_tests PRIVATE ${QV_RES_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(qv_windows_tests PRIVATE qv_win32 qv_core gtest gtest_main ${QV_WIN32_LIBS})
  target_link_options(qv_windows_tests PRIVATE ${QV_STATIC_LINK})
  qv_program_resources(qv_windows_tests ${CMAKE_SOURCE_DIR}/tests/windows/windows_tests.rc)
  # The tests read the programs' version information and manifests, and compare the version with
  # the project's as CMake has it (not through the generated header the resources use).
  add_dependencies(qv_windows_tests quorvane quorvane-cli)
  target_compile_definitions(qv_windows_tests PRIVATE
    QV_PROJECT_VERSION="${PROJECT_VERSION}" QV_PROJECT_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    QV_PROJECT_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    QV_PROJECT_VERSION_PATCH=${PROJECT_VERSION_PATCH})
  # version.dll is no KnownDLL: the test program is never shipped (nor are the speed programs
  # and the end-to-end probe), so its imports are not held to the shipped programs' list.
  target_link_libraries(qv_windows_tests PRIVATE version)
  # The tests need a display for their windows and the Japanese ANSI code page; the script runs
  # them with the toolchain's emulator (Wine) with both (see the script for the environment).
  add_test(NAME qv_windows_tests
           COMMAND sh ${CMAKE_SOURCE_DIR}/tests/windows/run_under_wine.sh
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:qv_windows_tests>)
endif()

# The shipped programs import no library that a copy beside them could replace.
add_test(NAME qv_program_imports
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/windows/program_imports.sh ${CMAKE_OBJDUMP}
                 $<TARGET_FILE:quorvane> $<TARGET_FILE:quorvane-cli>)

include(${CMAKE_SOURCE_DIR}/tests/e2e/probe.cmake OPTIONAL)

# The release package (`cmake --build <dir> --target package`): a zip with both programs, the
# deployment engines' scripts (batch and PowerShell), the README and the licence, in one folder
# "quorvane".
set(QV_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package/quorvane)
set(QV_PACKAGE ${CMAKE_BINARY_DIR}/quorvane-${PROJECT_VERSION}.zip)
set(QV_PACKAGE_PROGRAMS $<TARGET_FILE:quorvane>)
set(QV_PACKAGE_DEPENDS quorvane)
if(TARGET quorvane-cli)
  list(APPEND QV_PACKAGE_PROGRAMS $<TARGET_FILE:quorvane-cli>)
  list(APPEND QV_PACKAGE_DEPENDS quorvane-cli)
endif()
file(GLOB qv_deploy_scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/deploy/*.cmd
     ${CMAKE_SOURCE_DIR}/deploy/*.ps1)
add_custom_command(OUTPUT ${QV_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/package
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${QV_PACKAGE_PROGRAMS} ${qv_deploy_scripts}
          ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${QV_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${QV_PACKAGE} --format=zip quorvane
  DEPENDS ${QV_PACKAGE_DEPENDS} ${qv_deploy_scripts} ${CMAKE_SOURCE_DIR}/README.md
          ${CMAKE_SOURCE_DIR}/LICENSE
  COMMENT "Packing ${QV_PACKAGE}"
  VERBATIM)
add_custom_target(package DEPENDS ${QV_PACKAGE})
