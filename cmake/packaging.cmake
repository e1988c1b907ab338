# Release packages, made with cpack from a build folder: a Debian package of
# the Linux build and a zip of the Windows build.
set(CPACK_PACKAGE_NAME kestrave)
set(CPACK_PACKAGE_VENDOR "The kestrave developers")
set(CPACK_PACKAGE_CONTACT "The kestrave developers <maintainers@users.noreply.c-seed-bf14aca8.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn the night turns of scenario files into daylight")
set(CPACK_PACKAGE_DESCRIPTION
    "kestrave rewrites every night entry of a scenario file's turn light table\n\
as daylight, in place, and reports how many it changed. It writes nothing but\n\
the table entries that held a night turn, and never changes a file's length.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME kestrave-${PROJECT_VERSION}-win64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    # The package is native: its changelog's latest entry is this version.
    file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog latest LIMIT_COUNT 1)
    if(NOT latest MATCHES "^kestrave \\(${PROJECT_VERSION}\\) ")
        message(FATAL_ERROR "packaging/changelog starts with '${latest}', not version ${PROJECT_VERSION}")
    endif()

    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    # Debian wants man pages and changelogs compressed with gzip -9n, and the
    # licence in its own copyright format.
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian-files.cmake)
    set(CPACK_KESTRAVE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
endif()

include(CPack)
