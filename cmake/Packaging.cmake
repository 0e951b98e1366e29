# The release package: the files laid out as the controller expects them.
#   mkhook.dll                    next to the controller
#   mkplugin/Memory/ramtidy.exe   the memory-cleaner plug-in
#   INSTALL.txt                   installation, removal and the plug-in's saved setting
# Version numbers come from hook/version.h and mkplugin/Memory/version.h (cmake/Version.cmake);
# the package is named after the library's major, minor and patch numbers.
#
# `cmake --build <dir> --target package` writes package/Mirekko-<version>-win32.zip and
# package/SHA256SUMS beside it. The zip is written by cmake/release_zip.py, not by CPack, whose
# archives take their order and times from the file system: the same commit must give the same
# archive in every build.
set(MK_PACKAGE_VERSION ${MKHOOK_VERSION_MAJOR}.${MKHOOK_VERSION_MINOR}.${MKHOOK_VERSION_PATCH})
set(MK_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(MK_PACKAGE_ZIP ${MK_PACKAGE_DIR}/Mirekko-${MK_PACKAGE_VERSION}-win32.zip)

# The template is UTF-8 with a byte-order mark, which configure_file keeps; Notepad wants both
# that and CR LF.
configure_file(${CMAKE_SOURCE_DIR}/docs/INSTALL.txt.in ${CMAKE_BINARY_DIR}/INSTALL.txt @ONLY
    NEWLINE_STYLE CRLF)

install(TARGETS mkhook RUNTIME DESTINATION . LIBRARY DESTINATION .)
install(TARGETS ramtidy RUNTIME DESTINATION mkplugin/Memory)
install(FILES ${CMAKE_BINARY_DIR}/INSTALL.txt DESTINATION .)

add_custom_command(OUTPUT ${MK_PACKAGE_ZIP} ${MK_PACKAGE_DIR}/SHA256SUMS
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/release_zip.py --out ${MK_PACKAGE_ZIP}
        --epoch=${MK_SOURCE_DATE_EPOCH}
        mkhook.dll=$<TARGET_FILE:mkhook>
        mkplugin/Memory/ramtidy.exe=$<TARGET_FILE:ramtidy>
        INSTALL.txt=${CMAKE_BINARY_DIR}/INSTALL.txt
    DEPENDS mkhook ramtidy ${CMAKE_BINARY_DIR}/INSTALL.txt ${CMAKE_SOURCE_DIR}/cmake/release_zip.py
    COMMENT "Writing ${MK_PACKAGE_ZIP} and SHA256SUMS"
    VERBATIM)
# A build tree that once made the archive with CPack keeps its configuration, and CMake then
# reserves the name `package` for CPack.
file(REMOVE ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${CMAKE_BINARY_DIR}/CPackSourceConfig.cmake)
add_custom_target(package DEPENDS ${MK_PACKAGE_ZIP})

if(NOT MK_BUILD_TESTS)
    return()
endif()

# The archive: its entries in order, their times, the built files in it, SHA256SUMS.
add_test(NAME package.layout
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/check_package.py layout ${CMAKE_BINARY_DIR}
        --cmake ${CMAKE_COMMAND} --zip ${MK_PACKAGE_ZIP} --epoch=${MK_SOURCE_DATE_EPOCH})
# INSTALL.txt: encoding, line ends, Japanese then English, what each part tells.
add_test(NAME package.install_guide
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/check_package.py install-guide
        ${CMAKE_BINARY_DIR} --cmake ${CMAKE_COMMAND} --zip ${MK_PACKAGE_ZIP}
        --versions ${MK_PACKAGE_VERSION} ${MKHOOK_VERSION} ${RAMTIDY_VERSION})
set_tests_properties(package.layout package.install_guide PROPERTIES TIMEOUT 300)

# The release again, in another directory and later: the same bytes.
add_test(NAME release.reproducible
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/check_reproducible.py
        --source ${CMAKE_SOURCE_DIR} --first ${CMAKE_BINARY_DIR}
        --second ${CMAKE_BINARY_DIR}/reproduce --cmake ${CMAKE_COMMAND} --
        -G ${CMAKE_GENERATOR} --toolchain ${CMAKE_TOOLCHAIN_FILE}
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DMK_BUILD_TESTS=OFF)
set_tests_properties(release.reproducible PROPERTIES TIMEOUT 900)


# Each of these builds the package in this tree first: one at a time, since two builds at once in
# one tree overwrite each other's files (the Wine tests beside them only read the build's).
set_tests_properties(package.layout package.install_guide release.reproducible PROPERTIES
    RESOURCE_LOCK package)
