# The release package: the files laid out as the controller expects them.
#   mkhook.dll                    next to the controller
#   mkplugin/Memory/ramtidy.exe   the memory-cleaner plug-in
#   INSTALL.txt                   installation and the plug-in's saved setting
# Version numbers come from hook/version.h and mkplugin/Memory/version.h (cmake/Version.cmake);
# the package is named after the library's major, minor and patch numbers.
set(MK_PACKAGE_VERSION ${MKHOOK_VERSION_MAJOR}.${MKHOOK_VERSION_MINOR}.${MKHOOK_VERSION_PATCH})

configure_file(${CMAKE_SOURCE_DIR}/docs/INSTALL.txt.in ${CMAKE_BINARY_DIR}/INSTALL.txt @ONLY
    NEWLINE_STYLE CRLF)

install(TARGETS mkhook RUNTIME DESTINATION . LIBRARY DESTINATION .)
install(TARGETS ramtidy RUNTIME DESTINATION mkplugin/Memory)
install(FILES ${CMAKE_BINARY_DIR}/INSTALL.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Mirekko)
set(CPACK_PACKAGE_VENDOR Orbel)
set(CPACK_PACKAGE_VERSION ${MK_PACKAGE_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_PACKAGE_FILE_NAME Mirekko-${MK_PACKAGE_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The package check: build the archive and compare its listing with the expected layout.
add_test(NAME package.layout
    COMMAND ${CMAKE_COMMAND} -DBINARY_DIR=${CMAKE_BINARY_DIR}
        -DPACKAGE=${CMAKE_BINARY_DIR}/package/Mirekko-${MK_PACKAGE_VERSION}-win32.zip
        -DRAMTIDY_VERSION=${RAMTIDY_VERSION} -DMKHOOK_VERSION=${MKHOOK_VERSION}
        -P ${CMAKE_SOURCE_DIR}/cmake/CheckPackage.cmake)
set_tests_properties(package.layout PROPERTIES TIMEOUT 300)
