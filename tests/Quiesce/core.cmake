# Tests of the installer helper's widget-free logic. Included by
# tests/Quiesce/CMakeLists.txt.
add_executable(quiesce_queries_tests
  ${CMAKE_CURRENT_LIST_DIR}/queries/ParseTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/queries/ProcessQueriesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/queries/WorkspaceQueriesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/queries/MountInfoTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/queries/LinuxWorkspaceTest.cpp)
target_link_libraries(quiesce_queries_tests PRIVATE
  quiesce_core platform_ui test_support core_test_main GTest::gtest)
add_test(NAME QuiesceQueries COMMAND quiesce_queries_tests)
# Starts an X server of its own for the active-window query.
set_tests_properties(QuiesceQueries PROPERTIES RESOURCE_LOCK x_display)

# The root helper with plug-in locations the tests choose (TestLocations.cpp). A
# separate program that is never installed nor bundled, so the helper that runs
# as root has no way to move them.
add_executable(quiesce-root-helper-testbuild ${CMAKE_CURRENT_LIST_DIR}/root/TestLocations.cpp)
target_link_libraries(quiesce-root-helper-testbuild PRIVATE quiesce_root_helper_common)
set_target_properties(quiesce-root-helper-testbuild PROPERTIES AUTOMOC OFF AUTOUIC OFF)

add_executable(quiesce_root_tests
  ${CMAKE_CURRENT_LIST_DIR}/root/RootTestSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root/RootActionsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root/RootHelperTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root/HelperPlacementTest.cpp)
target_link_libraries(quiesce_root_tests PRIVATE quiesce_core test_support core_test_main GTest::gtest)
target_compile_definitions(quiesce_root_tests PRIVATE
  QUIESCE_ROOT_HELPER="$<TARGET_FILE:quiesce-root-helper-testbuild>"
  QUIESCE_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(quiesce_root_tests quiesce-root-helper-testbuild quiesce-root-helper)
add_test(NAME QuiesceRootActions COMMAND quiesce_root_tests)

add_executable(quiesce_workspace_ui_tests
  ${CMAKE_CURRENT_LIST_DIR}/workspace/ActivationTest.cpp)
target_link_libraries(quiesce_workspace_ui_tests PRIVATE
  platform_ui Qt6::Test gui_test_main GTest::gtest)
add_test(NAME QuiesceWorkspaceActivation COMMAND quiesce_workspace_ui_tests)

# What cmake --install lays out for the administrator path.
add_test(NAME QuiesceInstall
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_check.sh ${CMAKE_BINARY_DIR}
          "${CMAKE_INSTALL_FULL_LIBEXECDIR}/quiesce/quiesce-root-helper")
