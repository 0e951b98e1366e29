# Reproducible Windows builds: the same commit built with the same toolchain gives the same bytes,
# whatever the build directory and whenever it is built.
#
# Time: the PE time stamps (file header, export directory) come from SOURCE_DATE_EPOCH, which is
# taken from the environment when it is set there, else from the time of the commit that is
# checked out. Without either (a source tree without git) no time stamp is written at all. The release archive takes its entries' times from the same value
# (MK_SOURCE_DATE_EPOCH, empty when there is none).
#
# Paths: the compiler writes the source and build directories into debug information and
# __FILE__; both are mapped to ".", so that mkhook.dll.debug, and with it the CRC that the DLL's
# debug link carries, does not depend on where the tree was checked out or built.
set(MK_SOURCE_DATE_EPOCH "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(MK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE epoch
            ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(rc EQUAL 0)
            set(MK_SOURCE_DATE_EPOCH "${epoch}")
            # A new commit (or a checkout of another one) moves HEAD's log: configure again, so that
            # the time stamps follow the commit that is built.
            execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path logs/HEAD
                WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE head_log ERROR_QUIET
                OUTPUT_STRIP_TRAILING_WHITESPACE)
            get_filename_component(head_log "${head_log}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
            if(EXISTS "${head_log}")
                set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                    "${head_log}")
            endif()
        endif()
    endif()
endif()
if(NOT MK_SOURCE_DATE_EPOCH STREQUAL "" AND NOT MK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds, not '${MK_SOURCE_DATE_EPOCH}'")
endif()

# GNU ld and objcopy write PE time stamps from the environment's SOURCE_DATE_EPOCH, 0 writing
# none; every link, and every objcopy that rewrites an image, runs under this prefix.
if(MK_SOURCE_DATE_EPOCH STREQUAL "")
    set(MK_PE_TIME_STAMP 0)
    message(STATUS "PE time stamps: none (no SOURCE_DATE_EPOCH, no git)")
else()
    set(MK_PE_TIME_STAMP ${MK_SOURCE_DATE_EPOCH})
    message(STATUS "PE time stamps: ${MK_SOURCE_DATE_EPOCH} (SOURCE_DATE_EPOCH)")
endif()
set(MK_WITH_PE_TIME_STAMP ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${MK_PE_TIME_STAMP})
foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER ${MK_WITH_PE_TIME_STAMP})
endforeach()

# GCC applies the last matching map first: the build directory may lie inside the source tree.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)

# mk_ship_stripped(<target> <file name>): the image ships stripped and names, with its CRC, the file that
# keeps its debug information beside the build (<image>.debug, never packaged) in a
# .gnu_debuglink section, where gdb finds it: a crash inside a mascot host or the plug-in can
# then be read. objcopy writes the PE time stamp anew, the build's own, so that the stripped
# image and the debug file are the same in every build. The test <target>.debuglink checks both
# (with the host's objdump, gzip and od).
function(mk_ship_stripped target file_name)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${MK_WITH_PE_TIME_STAMP} ${CMAKE_OBJCOPY} --only-keep-debug
            $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
        COMMAND ${MK_WITH_PE_TIME_STAMP} ${CMAKE_OBJCOPY} --strip-all
            --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
        BYPRODUCTS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${file_name}.debug
        VERBATIM)
    if(MK_BUILD_TESTS AND CMAKE_HOST_UNIX)
        add_test(NAME ${target}.debuglink
            COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${target}> -DOBJDUMP=${CMAKE_OBJDUMP}
                -P ${CMAKE_SOURCE_DIR}/cmake/CheckDebugLink.cmake)
    endif()
endfunction()
