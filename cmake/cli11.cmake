# CLI11, header-only, from Debian's libcli11-dev: the console program's command line.
include(${CMAKE_CURRENT_LIST_DIR}/header_only.cmake)
qv_header_only_library(qv_cli11 CLI/CLI.hpp CLI libcli11-dev)
