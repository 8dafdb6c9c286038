# A header-only library of a Debian package (CLI11, nlohmann-json) as an INTERFACE target. Only
# the package's own folder is put on the include path, and as a system folder (its warnings are not
# ours): the cross build must never see the host's other headers in /usr/include. A folder in the
# build tree holds a link to the package's folder and nothing else.
#   qv_header_only_library(<target> <header to find> <package's folder> <Debian package>)
function(qv_header_only_library target header folder package)
  find_path(${target}_include ${header}
    PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_include)
    message(FATAL_ERROR "${header} not found: install ${package} (scripts/setup.sh)")
  endif()
  set(link_folder ${CMAKE_BINARY_DIR}/${target}-include)
  file(MAKE_DIRECTORY ${link_folder})
  file(CREATE_LINK ${${target}_include}/${folder} ${link_folder}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${link_folder})
endfunction()
