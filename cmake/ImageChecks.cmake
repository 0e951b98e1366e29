# The PE rules Windows' binary analysers check, and ramtidy's manifest, for the architecture
# the build is for (MK_TARGET_MACHINE). The checks read the code with the target's objdump;
# ramtidy.exe ships stripped, so the addresses of its canary and check come from its .debug file.
if(NOT MK_BUILD_TESTS)
    return()
endif()
set(MK_PE_CHECK ${MK_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_check.py)
# The library runs inside other programs and must leave their DLL search as it is; the plug-in
# restricts its own.
set(MKHOOK_PE_OPTIONS --machine ${MK_TARGET_MACHINE} --objdump ${CMAKE_OBJDUMP}
    --dll-search leaves)
set(RAMTIDY_PE_OPTIONS --machine ${MK_TARGET_MACHINE} --objdump ${CMAKE_OBJDUMP}
    --stack-protector --symbols $<TARGET_FILE:ramtidy>.debug --dll-search restricts)
add_test(NAME mkhook.hardening
    COMMAND ${MK_PE_CHECK} hardening $<TARGET_FILE:mkhook> ${MKHOOK_PE_OPTIONS})
add_test(NAME ramtidy.hardening
    COMMAND ${MK_PE_CHECK} hardening $<TARGET_FILE:ramtidy> ${RAMTIDY_PE_OPTIONS})
add_test(NAME ramtidy.manifest
    COMMAND ${MK_PE_CHECK} manifest $<TARGET_FILE:ramtidy>
        --machine ${MK_TARGET_MACHINE} --version ${RAMTIDY_VERSION})
# The check itself, on both images: each rule broken in a copy must be caught.
add_test(NAME pe_check.rules.mkhook
    COMMAND ${MK_PE_CHECK} rules $<TARGET_FILE:mkhook> ${MKHOOK_PE_OPTIONS})
add_test(NAME pe_check.rules.ramtidy
    COMMAND ${MK_PE_CHECK} rules $<TARGET_FILE:ramtidy> ${RAMTIDY_PE_OPTIONS})

# The stack protector rule against the compiler itself: the same program built with
# -fstack-protector-strong and without it, both linking the canary and its check.
foreach(protector with without)
    set(probe pe_check_ssp_${protector})
    add_executable(${probe} ${CMAKE_SOURCE_DIR}/tests/image/ssp_probe.cpp
        ${CMAKE_SOURCE_DIR}/mkplugin/Memory/StackGuard.cpp)
    target_include_directories(${probe} PRIVATE ${CMAKE_SOURCE_DIR}/mkplugin/Memory)
    target_compile_definitions(${probe} PRIVATE WIN32_LEAN_AND_MEAN)
    if(protector STREQUAL "with")
        target_compile_options(${probe} PRIVATE -fstack-protector-strong)
    else()
        target_compile_options(${probe} PRIVATE -fno-stack-protector)
    endif()
    mk_static_runtime(${probe})
    mk_hardened_program(${probe})
    set(expect "")
    if(protector STREQUAL "without")
        set(expect --expect-broken "stack protection: no code calls __stack_chk_fail")
    endif()
    add_test(NAME pe_check.stack_protector.${protector}
        COMMAND ${MK_PE_CHECK} hardening $<TARGET_FILE:${probe}> --machine ${MK_TARGET_MACHINE}
            --objdump ${CMAKE_OBJDUMP} --stack-protector ${expect})
endforeach()
