# CLI11, header-only, from Debian's libcli11-dev: the console program's command line. As with the
# JSON library (json.cmake), only the package's own folder is put on the include path, as a system
# folder, through a folder in the build tree that holds a link to it and nothing else.
find_path(QV_CLI11_INCLUDE CLI/CLI.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QV_CLI11_INCLUDE)
  message(FATAL_ERROR "CLI/CLI.hpp not found: install libcli11-dev (scripts/setup.sh)")
endif()
set(QV_CLI11_LINK_FOLDER ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${QV_CLI11_LINK_FOLDER})
file(CREATE_LINK ${QV_CLI11_INCLUDE}/CLI ${QV_CLI11_LINK_FOLDER}/CLI SYMBOLIC)
add_library(qv_cli11 INTERFACE)
target_include_directories(qv_cli11 SYSTEM INTERFACE ${QV_CLI11_LINK_FOLDER})
