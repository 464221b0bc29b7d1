# The installer helper's logic that needs no widgets: process and volume queries,
# privileged actions and the client side of the root helper. Included by
# Quiesce/CMakeLists.txt, so paths are relative to this folder.
add_library(quiesce_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/GMUExtensions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GMIMRootActions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/Protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/RootHelperRunner.cpp)
add_library(project::quiesce_core ALIAS quiesce_core)
target_include_directories(quiesce_core PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/root_helper)
target_link_libraries(quiesce_core PUBLIC platform Qt6::Core)

# The root helper runs as root through pkexec; it links nothing but the C++
# runtime. It sits beside the main executable in Quiesce.app/Contents/MacOS,
# where RootHelperRunner looks for it.
add_executable(quiesce-root-helper
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/Protocol.cpp)
set_target_properties(quiesce-root-helper PROPERTIES
  AUTOMOC OFF AUTOUIC OFF
  RUNTIME_OUTPUT_DIRECTORY "${BUNDLE_OUTPUT_DIR}/Quiesce.app/Contents/MacOS")
