# cmake -DBUNDLE=<Name.app> -DQT_PLUGIN_DIR=<dir> [-DDEBUG_DIR=<dir>]
#       [-DNO_RUNPATH=<executable name>;...] -P SelfContained.cmake
#
# Makes an application bundle self-contained, in place, for shipping to machines that
# have only the base desktop system (BaseSystem.cmake):
#   Contents/Frameworks/<SONAME>   every library the executables and plug-ins need
#                                  beyond the base system, as regular files
#   Contents/PlugIns/<kind>/       Qt's platform and image-format plug-ins
#   Contents/MacOS/qt.conf         points Qt at those plug-ins
# Every file gets a RUNPATH (it is not inherited from the executable): $ORIGIN for
# libraries, $ORIGIN/../Frameworks for executables, $ORIGIN/../../Frameworks for
# plug-ins. Executables named in NO_RUNPATH (a privileged helper, which must load
# nothing from a folder a user can write) get none. Everything is stripped; the
# executables' debug information goes to DEBUG_DIR/<Name.app>/<executable>.debug,
# linked back by a debug link, when DEBUG_DIR is given.
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/BaseSystem.cmake")

foreach(var BUNDLE QT_PLUGIN_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "SelfContained.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT IS_DIRECTORY "${BUNDLE}/Contents/MacOS")
  message(FATAL_ERROR "SelfContained.cmake: ${BUNDLE} is not an application bundle")
endif()
find_program(PATCHELF patchelf REQUIRED)
find_program(OBJCOPY objcopy REQUIRED)
find_program(STRIP strip REQUIRED)

# The plug-ins a lesson's programs use: xcb for X11 desktops (and XWayland), offscreen
# for machines without a display, and the image formats for icons. A Wayland plug-in
# is taken when this machine's Qt has one.
set(platform_plugins libqxcb.so libqoffscreen.so libqwayland-generic.so libqwayland-egl.so)
set(imageformat_plugins libqicns.so libqico.so libqgif.so libqjpeg.so)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "SelfContained.cmake: ${command} failed: ${error}")
  endif()
endfunction()

function(is_elf file out)
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

set(contents "${BUNDLE}/Contents")
get_filename_component(bundle_name "${BUNDLE}" NAME)

# The executables.
file(GLOB candidates LIST_DIRECTORIES false "${contents}/MacOS/*")
set(executables "")
foreach(file IN LISTS candidates)
  is_elf("${file}" elf)
  if(elf)
    list(APPEND executables "${file}")
  endif()
endforeach()
if(NOT executables)
  message(FATAL_ERROR "SelfContained.cmake: no executable in ${contents}/MacOS")
endif()

# The plug-ins, copied in first so that their libraries are found with the rest.
set(plugins "")
foreach(kind platforms imageformats)
  file(MAKE_DIRECTORY "${contents}/PlugIns/${kind}")
  if(kind STREQUAL "platforms")
    set(names ${platform_plugins})
  else()
    set(names ${imageformat_plugins})
  endif()
  foreach(name IN LISTS names)
    if(EXISTS "${QT_PLUGIN_DIR}/${kind}/${name}")
      file(COPY_FILE "${QT_PLUGIN_DIR}/${kind}/${name}" "${contents}/PlugIns/${kind}/${name}")
      list(APPEND plugins "${contents}/PlugIns/${kind}/${name}")
    elseif(name MATCHES "^libq(xcb|offscreen|icns)\\.so$")
      message(FATAL_ERROR "SelfContained.cmake: Qt plug-in ${kind}/${name} is missing")
    endif()
  endforeach()
endforeach()

file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${executables}
  MODULES ${plugins}
  RESOLVED_DEPENDENCIES_VAR libraries
  UNRESOLVED_DEPENDENCIES_VAR unresolved
  PRE_EXCLUDE_REGEXES ${BASE_SYSTEM_LIBRARIES})
if(unresolved)
  message(FATAL_ERROR "SelfContained.cmake: cannot find ${unresolved}")
endif()

# Libraries as regular files under the name the loader looks for (the SONAME): the
# lesson archive carries no links.
file(MAKE_DIRECTORY "${contents}/Frameworks")
set(bundled "")
foreach(library IN LISTS libraries)
  execute_process(COMMAND "${PATCHELF}" --print-soname "${library}"
                  OUTPUT_VARIABLE soname OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT soname)
    get_filename_component(soname "${library}" NAME)
  endif()
  file(REAL_PATH "${library}" real)
  set(target "${contents}/Frameworks/${soname}")
  file(COPY_FILE "${real}" "${target}")
  file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND bundled "${target}")
endforeach()

# ICU's data library is a third of a bundle. The programs reach ICU only through Qt's
# case mapping, normalisation and text conversions, never through its collation, locale
# display names, units, time zone names, currencies, transliteration, number spelling,
# break dictionaries or legacy code pages; those items are taken out of the copy. The
# trimmed data goes back into a library of the same SONAME that exports the same
# symbol. Without icupkg or a C compiler the data stays whole.
set(icu_unused_items "^(coll|lang|region|unit|zone|curr|translit|rbnf|brkitr)/|\\.cnv$")
function(trim_icu_data library)
  find_program(ICUPKG icupkg)
  find_program(CC NAMES cc gcc)
  get_filename_component(soname "${library}" NAME)
  if(NOT ICUPKG OR NOT CC OR NOT soname MATCHES "^libicudata\\.so\\.([0-9]+)$")
    message(STATUS "${bundle_name}: ICU data kept whole")
    return()
  endif()
  set(version "${CMAKE_MATCH_1}")
  set(package "icudt${version}l")
  set(work "${library}.trim")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  run("${OBJCOPY}" -O binary --only-section=.rodata "${library}" "${work}/${package}.dat")
  execute_process(COMMAND "${ICUPKG}" -l "${work}/${package}.dat"
                  OUTPUT_VARIABLE items RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR items STREQUAL "")
    message(FATAL_ERROR "SelfContained.cmake: ${library} holds no ICU data package")
  endif()
  string(REPLACE "\n" ";" items "${items}")
  set(unused "")
  foreach(item IN LISTS items)
    if(item MATCHES "${icu_unused_items}")
      string(APPEND unused "${item}\n")
    endif()
  endforeach()
  file(WRITE "${work}/unused.txt" "${unused}")
  run("${ICUPKG}" -r "${work}/unused.txt" "${work}/${package}.dat" "${work}/trimmed.dat")
  file(WRITE "${work}/data.S"
    ".section .rodata\n.globl icudt${version}_dat\n"
    ".type icudt${version}_dat, @object\n.balign 16\nicudt${version}_dat:\n"
    ".incbin \"${work}/trimmed.dat\"\n.size icudt${version}_dat, .-icudt${version}_dat\n"
    ".section .note.GNU-stack,\"\",@progbits\n")
  run("${CC}" -shared -nostdlib "-Wl,-soname,${soname}" -o "${work}/${soname}" "${work}/data.S")
  file(RENAME "${work}/${soname}" "${library}")
  file(REMOVE_RECURSE "${work}")
endfunction()
foreach(library IN LISTS bundled)
  if(library MATCHES "/libicudata\\.so\\.[0-9]+$")
    trim_icu_data("${library}")
  endif()
endforeach()

# Strip first: the RUNPATH is set last, since strip may undo patchelf's layout.
foreach(file IN LISTS executables)
  get_filename_component(name "${file}" NAME)
  if(DEBUG_DIR)
    file(MAKE_DIRECTORY "${DEBUG_DIR}/${bundle_name}")
    set(debug "${DEBUG_DIR}/${bundle_name}/${name}.debug")
    run("${OBJCOPY}" --only-keep-debug "${file}" "${debug}")
    run("${STRIP}" --strip-all "${file}")
    run("${OBJCOPY}" "--add-gnu-debuglink=${debug}" "${file}")
  else()
    run("${STRIP}" --strip-all "${file}")
  endif()
endforeach()
foreach(file IN LISTS bundled plugins)
  file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  run("${STRIP}" --strip-unneeded "${file}")
endforeach()

foreach(file IN LISTS executables)
  get_filename_component(name "${file}" NAME)
  if(name IN_LIST NO_RUNPATH)
    run("${PATCHELF}" --remove-rpath "${file}")
  else()
    run("${PATCHELF}" --set-rpath "$ORIGIN/../Frameworks" "${file}")
  endif()
endforeach()
foreach(file IN LISTS bundled)
  run("${PATCHELF}" --set-rpath "$ORIGIN" "${file}")
endforeach()
foreach(file IN LISTS plugins)
  run("${PATCHELF}" --set-rpath "$ORIGIN/../../Frameworks" "${file}")
endforeach()

# Qt reads qt.conf from the executable's folder; paths in it are relative to that.
file(WRITE "${contents}/MacOS/qt.conf" "[Paths]\nPrefix = ..\nPlugins = PlugIns\n")

list(LENGTH bundled count)
message(STATUS "${bundle_name}: ${count} libraries bundled")
