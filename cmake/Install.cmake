# Installation and the Debian package for authors and administrators:
#   bin/lesson-pack                 the packer (uses this system's Qt)
#   lib/brindle/bundles/*.app       the self-contained bundles it packs lessons from,
#                                   and Quiesce
#   lib/brindle/bundles/lesson-starter  the head of every single lesson file
# The bundles are made self-contained as they are installed (SelfContained.cmake);
# those in the build tree stay as they are. Their executables' debug information is
# kept apart, in <build>/debug/<Name.app>/.
include(GNUInstallDirs)
# Installing and packaging take what the build made; they do not build the tests first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
include("${CMAKE_CURRENT_LIST_DIR}/BaseSystem.cmake")

install(TARGETS lesson-pack RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS lesson-starter RUNTIME DESTINATION "${LESSON_PACK_BUNDLE_INSTALL_DIR}")

foreach(bundle Unspool Wayfarer Quiesce)
  # The root helper is installed on its own, outside any folder a user could change.
  install(DIRECTORY "${BUNDLE_OUTPUT_DIR}/${bundle}.app"
          DESTINATION "${LESSON_PACK_BUNDLE_INSTALL_DIR}"
          USE_SOURCE_PERMISSIONS
          PATTERN "quiesce-root-helper" EXCLUDE)
  install(CODE "
    execute_process(
      COMMAND \"${CMAKE_COMMAND}\"
        \"-DBUNDLE=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LESSON_PACK_BUNDLE_INSTALL_DIR}/${bundle}.app\"
        \"-DQT_PLUGIN_DIR=${QT_PLUGIN_DIR}\"
        \"-DDEBUG_DIR=${CMAKE_BINARY_DIR}/debug\"
        \"-DNO_RUNPATH=quiesce-root-helper\"
        -P \"${PROJECT_SOURCE_DIR}/cmake/SelfContained.cmake\"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR \"could not make ${bundle}.app self-contained\")
    endif()")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindle-lesson-tools)
set(CPACK_PACKAGE_VENDOR Brindle)
set(CPACK_PACKAGE_CONTACT "Brindle lesson delivery <lessons@brindle.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Packs web lessons into bundles and single files that learners open")
# The build's own prefix: the root helper's place, the path compiled into Quiesce
# and the polkit action's exec.path are then one and the same.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
# lesson-pack runs on this system's libraries; the bundles carry their own.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= ${BASE_SYSTEM_GLIBC}), libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libminizip1, zlib1g, libplist3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, lsof, procps, xdg-utils")
set(CPACK_STRIP_FILES "${CMAKE_INSTALL_BINDIR}/lesson-pack")
include(CPack)
