# Running the Windows test programs: under Wine when cross-building on Linux, the one way they
# are built and run. (Built on Windows itself, CTest would start them directly; never tried.)
#
# Every test program links GoogleTest; each TEST suite found in its sources becomes one CTest
# test (`ctest -R <Suite>`). The Wine tests share one private prefix at 96 DPI and one persistent
# wineserver, started by the fixture test `wine.setup` and stopped by `wine.cleanup`. They run
# one at a time: the controller's window title and the "Sakura" mapping are desktop-wide.
# A second prefix, at 144 DPI, with its fixture `wine144dpi`, serves the tests of the plug-in's
# layout at that scale; no test changes a prefix's DPI, so none affects another.
# The prefixes are of the build's own kind (MK_WINE_ARCH): 32-bit for the 32-bit build, 64-bit
# for the 64-bit one, each run by its own Wine loader (cmake/wine-env).
# Every test that runs under Wine carries the label `wine` (`ctest -L wine`); the others (the
# package, PE and debug-link checks) read files on the build machine and need no Wine.

set(MK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# mk_wine_test_limit(<test> <seconds>): a Wine test's time limit on the native path. On a slow
# path, where ./dev sets the rig's wait factor (MK_RIG_WAIT_FACTOR), CTest multiplies it when it
# reads the tests (tests/rig), as the tests multiply their own waits.
function(mk_wine_test_limit test seconds)
    set_tests_properties(${test} PROPERTIES TIMEOUT ${seconds})
    set_property(GLOBAL APPEND PROPERTY MK_WINE_TEST_LIMITS "${test}=${seconds}")
endfunction()
set(MK_WINEPREFIX_144DPI ${CMAKE_BINARY_DIR}/wineprefix-144dpi)

# mk_add_wine_fixture(<fixture> <prefix> <dpi>): tests <fixture>.setup and <fixture>.cleanup.
function(mk_add_wine_fixture fixture prefix dpi)
    add_test(NAME ${fixture}.setup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture setup)
    add_test(NAME ${fixture}.cleanup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture cleanup)
    set_tests_properties(${fixture}.setup ${fixture}.cleanup PROPERTIES LABELS wine)
    # Making a prefix takes Wine a minute and a half in the emulated guest, more when its host
    # is busy: the limit only catches a hang.
    set_tests_properties(${fixture}.setup PROPERTIES FIXTURES_SETUP ${fixture}
        ENVIRONMENT "MK_WINEPREFIX=${prefix};MK_WINE_DPI=${dpi};MK_WINE_ARCH=${MK_WINE_ARCH}")
    set_tests_properties(${fixture}.cleanup PROPERTIES FIXTURES_CLEANUP ${fixture}
        ENVIRONMENT "MK_WINEPREFIX=${prefix};MK_WINE_ARCH=${MK_WINE_ARCH}")
    mk_wine_test_limit(${fixture}.setup 600)
    mk_wine_test_limit(${fixture}.cleanup 120)
endfunction()

# The scripts that run a build's programs outside CTest (the demo, the screenshots, the
# benchmarks) read the build's kind of Wine from here.
file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "${MK_WINE_ARCH}\n")

if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run --arch ${MK_WINE_ARCH})
    mk_add_wine_fixture(wine ${MK_WINEPREFIX} 96)
    mk_add_wine_fixture(wine144dpi ${MK_WINEPREFIX_144DPI} 144)
endif()

# GoogleTest for the target: from the sources Debian ships (googletest package), or any
# checkout named by GTEST_SOURCE_DIR.
if(NOT TARGET gtest)
    find_path(GTEST_SOURCE_DIR CMakeLists.txt PATHS /usr/src/googletest NO_DEFAULT_PATH
        NO_CMAKE_FIND_ROOT_PATH)
    if(GTEST_SOURCE_DIR)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    endif()
endif()

# mk_add_wine_gtest(<target> SOURCES ... [LIBRARIES ...] [TIMEOUT s])
function(mk_add_wine_gtest target)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 180)
    endif()
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE gtest gtest_main ${ARG_LIBRARIES})
    mk_static_runtime(${target})
    set(suites "")
    foreach(src IN LISTS ARG_SOURCES)
        get_filename_component(abs ${src} ABSOLUTE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${abs})
        file(STRINGS ${abs} lines REGEX "^ *TEST(_F|_P)?\\(")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^ *TEST(_F|_P)?\\(([A-Za-z0-9_]+),.*" "\\2" suite "${line}")
            list(APPEND suites ${suite})
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES suites)
    foreach(suite IN LISTS suites)
        add_test(NAME ${target}.${suite} COMMAND ${target} --gtest_filter=${suite}.*
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
        set_tests_properties(${target}.${suite} PROPERTIES RUN_SERIAL TRUE LABELS wine
            ENVIRONMENT "MK_WINEPREFIX=${MK_WINEPREFIX}")
        mk_wine_test_limit(${target}.${suite} ${ARG_TIMEOUT})
        if(CMAKE_CROSSCOMPILING)
            set_tests_properties(${target}.${suite} PROPERTIES FIXTURES_REQUIRED wine)
        endif()
    endforeach()
endfunction()
