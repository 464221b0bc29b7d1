# add_app_bundle(<target> NAME <bundle name> IDENTIFIER <id> [ICON <file.icns>]
#                [RESOURCES <file>...])
#
# Lays <target>'s executable out as an application bundle under BUNDLE_OUTPUT_DIR:
#   <name>.app/Contents/{Info.plist, MacOS/<name>, Resources/...}
# The executable is written straight into Contents/MacOS, so the build tree always
# holds a runnable bundle.
function(add_app_bundle target)
  cmake_parse_arguments(ARG "" "NAME;IDENTIFIER;ICON" "RESOURCES" ${ARGN})
  set(contents "${BUNDLE_OUTPUT_DIR}/${ARG_NAME}.app/Contents")
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${ARG_NAME}"
    RUNTIME_OUTPUT_DIRECTORY "${contents}/MacOS")
  set(BUNDLE_EXECUTABLE "${ARG_NAME}")
  set(BUNDLE_IDENTIFIER "${ARG_IDENTIFIER}")
  set(BUNDLE_NAME "${ARG_NAME}")
  set(BUNDLE_ICON "")
  if(ARG_ICON)
    get_filename_component(BUNDLE_ICON "${ARG_ICON}" NAME)
    list(APPEND ARG_RESOURCES "${ARG_ICON}")
  endif()
  configure_file("${PROJECT_SOURCE_DIR}/cmake/Info.plist.in" "${contents}/Info.plist" @ONLY)
  file(MAKE_DIRECTORY "${contents}/Resources")
  foreach(resource IN LISTS ARG_RESOURCES)
    get_filename_component(resource_name "${resource}" NAME)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${resource}" "${contents}/Resources/${resource_name}"
      VERBATIM)
  endforeach()
  set_property(TARGET ${target} PROPERTY BUNDLE_PATH "${BUNDLE_OUTPUT_DIR}/${ARG_NAME}.app")
endfunction()
