# nlohmann-json, header-only, from Debian's nlohmann-json3-dev. Only the package's own folder is
# put on the include path, and as a system folder (its warnings are not ours): the cross build
# must never see the host's other headers in /usr/include. A folder in the build tree holds a link
# to the package's folder and nothing else.
find_path(QV_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QV_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/setup.sh)")
endif()
set(QV_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${QV_JSON_INCLUDE})
file(CREATE_LINK ${QV_NLOHMANN_JSON_INCLUDE}/nlohmann ${QV_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(qv_json INTERFACE)
target_include_directories(qv_json SYSTEM INTERFACE ${QV_JSON_INCLUDE})
