# nlohmann-json, header-only, from Debian's nlohmann-json3-dev: the audit log's lines and the
# console program's JSON document.
include(${CMAKE_CURRENT_LIST_DIR}/header_only.cmake)
qv_header_only_library(qv_json nlohmann/json.hpp nlohmann nlohmann-json3-dev)
