# The end-to-end tests' probe (tests/e2e/tree_probe.cpp): a console program that reads the running
# tool's dialog from outside. Built next to quorvane.exe; it needs nothing of the core.
add_executable(tree_probe ${CMAKE_CURRENT_LIST_DIR}/tree_probe.cpp)
target_link_libraries(tree_probe PRIVATE user32 gdi32 kernel32)
# The dialog's control ids, from the resource header the tool is built with.
target_include_directories(tree_probe PRIVATE ${CMAKE_SOURCE_DIR}/res)
target_link_options(tree_probe PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(tree_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The end-to-end tests' stand-in for another run (tests/e2e/lock_holder.cpp): holds the machine's
# run lock through the tool's own system adapter.
add_executable(lock_holder ${CMAKE_CURRENT_LIST_DIR}/lock_holder.cpp)
target_link_libraries(lock_holder PRIVATE qv_win32 qv_core ${QV_WIN32_LIBS})
target_link_options(lock_holder PRIVATE ${QV_STATIC_LINK})
set_target_properties(lock_holder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
