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
# runtime, and has no RUNPATH: root must never load a library from a folder a
# user can write. It sits beside the main executable in
# Quiesce.app/Contents/MacOS and is installed under libexec (Quiesce/CMakeLists.txt).
# Everything but the plug-in's locations is shared with the test build of the
# helper (tests/Quiesce/CMakeLists.txt).
add_library(quiesce_root_helper_common OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/Protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/root_helper/Guard.cpp)
target_include_directories(quiesce_root_helper_common PUBLIC ${CMAKE_CURRENT_LIST_DIR}/root_helper)
set_target_properties(quiesce_root_helper_common PROPERTIES AUTOMOC OFF AUTOUIC OFF)

add_executable(quiesce-root-helper ${CMAKE_CURRENT_LIST_DIR}/root_helper/FixedLocations.cpp)
target_link_libraries(quiesce-root-helper PRIVATE quiesce_root_helper_common)
set_target_properties(quiesce-root-helper PROPERTIES
  AUTOMOC OFF AUTOUIC OFF
  SKIP_BUILD_RPATH ON
  INSTALL_RPATH ""
  RUNTIME_OUTPUT_DIRECTORY "${BUNDLE_OUTPUT_DIR}/Quiesce.app/Contents/MacOS")

# The installed helper, which Quiesce prefers to the one in its bundle, and the
# polkit action that names it.
set(QUIESCE_ROOT_HELPER_INSTALL_DIR "${CMAKE_INSTALL_LIBEXECDIR}/quiesce")
set(QUIESCE_ROOT_HELPER_INSTALLED_PATH
    "${CMAKE_INSTALL_FULL_LIBEXECDIR}/quiesce/quiesce-root-helper")
target_compile_definitions(quiesce_core PRIVATE
  QUIESCE_INSTALLED_ROOT_HELPER="${QUIESCE_ROOT_HELPER_INSTALLED_PATH}")
