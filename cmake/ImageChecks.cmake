# The PE rules Windows' binary analysers check, and ramtidy's manifest, for the architecture
# the build is for (MK_TARGET_MACHINE).
if(NOT MK_BUILD_TESTS)
    return()
endif()
add_test(NAME mkhook.hardening
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_check.py hardening $<TARGET_FILE:mkhook>
        --machine ${MK_TARGET_MACHINE})
add_test(NAME ramtidy.hardening
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_check.py hardening $<TARGET_FILE:ramtidy>
        --machine ${MK_TARGET_MACHINE} --stack-protector)
add_test(NAME ramtidy.manifest
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_check.py manifest $<TARGET_FILE:ramtidy>
        --machine ${MK_TARGET_MACHINE} --version ${RAMTIDY_VERSION})
# The check itself, on both images: each rule broken in a copy must be caught.
add_test(NAME pe_check.rules.mkhook
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_check.py rules
        $<TARGET_FILE:mkhook> --machine ${MK_TARGET_MACHINE})
add_test(NAME pe_check.rules.ramtidy
    COMMAND ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_check.py rules $<TARGET_FILE:ramtidy>
        --machine ${MK_TARGET_MACHINE})
