# Running the Windows test programs: under Wine when cross-building on Linux, the one way they
# are built and run. (Built on Windows itself, CTest would start them directly; never tried.)
#
# Every test program links GoogleTest; each TEST suite found in its sources becomes one CTest
# test (`ctest -R <Suite>`), and each case of a suite named after SPLIT one test of its own
# (`<program>.<Suite>.<Case>`): a suite of long cases would otherwise set the length of the run.
#
# The Wine tests run in lanes, several at once (cmake/wine-fixture): each lane has its own copy
# of the build's two prefixes, one at 96 DPI and one at 144, each with its own persistent
# wineserver, and its own X server, so that what the tests make desktop-wide (the controller's
# window title, the mutexes, "Sakura", the trace event, the debug-output objects) cannot meet
# across lanes. The fixture test `wine.setup` makes the prefixes once per build and starts the
# lanes; `wine.cleanup` stops them. CTest hands each Wine test one lane: the resource `lane` of
# the resource file <build>/wine-lanes.json (the test presets name it), which has one entry per
# lane; cmake/wine-run runs the test there. With one lane the Wine tests run one at a time.
# The prefixes are of the build's own kind (MK_WINE_ARCH): 32-bit for the 32-bit build, 64-bit
# for the 64-bit one, each run by its own Wine loader (cmake/wine-env).
# Every test that runs under Wine carries the label `wine` (`ctest -L wine`); the others (the
# package, PE and debug-link checks) read files on the build machine and need no Wine.

# The build's Wine state: the two prefixes, and the lanes made from them.
set(MK_WINE_HOME ${CMAKE_BINARY_DIR}/wine)
set(MK_WINE_LANES_SPEC ${CMAKE_BINARY_DIR}/wine-lanes.json)

# mk_wine_test_limit(<test> <seconds>): a Wine test's time limit on the native path. On a slow
# path, where ./dev sets the rig's wait factor (MK_RIG_WAIT_FACTOR), CTest multiplies it when it
# reads the tests (tests/rig), as the tests multiply their own waits.
function(mk_wine_test_limit test seconds)
    set_tests_properties(${test} PROPERTIES TIMEOUT ${seconds})
    set_property(GLOBAL APPEND PROPERTY MK_WINE_TEST_LIMITS "${test}=${seconds}")
endfunction()

# mk_wine_lane_test(<test> [DPI 96|144]): a test that runs a Windows program under Wine, in a
# lane of its own while it runs, in the lane's prefix at that DPI (96 unless given).
function(mk_wine_lane_test test)
    cmake_parse_arguments(ARG "" "DPI" "" ${ARGN})
    if(NOT ARG_DPI)
        set(ARG_DPI 96)
    endif()
    if(NOT ARG_DPI MATCHES "^(96|144)$")
        message(FATAL_ERROR "mk_wine_lane_test(${test}): the lanes have prefixes at 96 and 144 DPI, not ${ARG_DPI}")
    endif()
    set_tests_properties(${test} PROPERTIES LABELS wine RESOURCE_GROUPS lane:1)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT MK_WINE_DPI=${ARG_DPI})
    if(CMAKE_CROSSCOMPILING)
        set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine)
    endif()
endfunction()

# mk_wine_test_cost(<test> <seconds> ...): what each of these tests takes natively, as CTest's
# cost: the costliest start first, so that the lanes end together. A test without one costs what
# CTest measured in this build tree before (nothing in a fresh one). A name that is no test (a
# case renamed since) is passed over.
function(mk_wine_test_cost)
    while(ARGC GREATER 1)
        list(POP_FRONT ARGN test seconds)
        math(EXPR ARGC "${ARGC} - 2")
        if(TEST ${test})
            set_tests_properties(${test} PROPERTIES COST ${seconds})
        endif()
    endwhile()
endfunction()

# The scripts that run a build's programs outside CTest (the demo, the screenshots, the
# benchmarks) read the build's kind of Wine from here.
file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "${MK_WINE_ARCH}\n")

if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run --arch ${MK_WINE_ARCH}
        --lanes ${MK_WINE_HOME})
    add_test(NAME wine.setup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture setup)
    add_test(NAME wine.cleanup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture cleanup)
    set_tests_properties(wine.setup wine.cleanup PROPERTIES LABELS wine
        ENVIRONMENT "MK_WINE_HOME=${MK_WINE_HOME};MK_WINE_LANES_SPEC=${MK_WINE_LANES_SPEC};MK_WINE_ARCH=${MK_WINE_ARCH}")
    set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine)
    set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine)
    # Making a prefix takes Wine a minute and a half in the emulated guest, more when its host
    # is busy, and every lane then starts a program in each of its two: the limit only catches
    # a hang.
    mk_wine_test_limit(wine.setup 600)
    mk_wine_test_limit(wine.cleanup 120)

    # The lanes of a ctest run without ./dev (which writes the file before each run, with
    # MK_LANES or its own choice for the path): MK_LANES, else two per processor.
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture lanes
        OUTPUT_VARIABLE lanes OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_VARIABLE lanes_error ERROR_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE lanes_rc)
    if(NOT lanes_rc EQUAL 0)
        message(FATAL_ERROR "${lanes_error}")
    endif()
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture resources ${MK_WINE_LANES_SPEC}
        ${lanes} COMMAND_ERROR_IS_FATAL ANY)
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

# mk_add_wine_gtest(<target> SOURCES ... [LIBRARIES ...] [TIMEOUT s] [SPLIT suite...] [WHOLE])
# Each suite runs as a CTest test of its own; SPLIT: suites whose cases are independent of each
# other and run one by one. WHOLE: the program runs once, all its suites (for suites of
# milliseconds, where starting the program under Wine is most of the cost: seconds each in the
# emulated guest).
function(mk_add_wine_gtest target)
    cmake_parse_arguments(ARG "WHOLE" "TIMEOUT" "SOURCES;LIBRARIES;SPLIT" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 180)
    endif()
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE gtest gtest_main ${ARG_LIBRARIES})
    mk_static_runtime(${target})
    set(suites "")
    set(cases "")
    foreach(src IN LISTS ARG_SOURCES)
        get_filename_component(abs ${src} ABSOLUTE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${abs})
        file(STRINGS ${abs} lines REGEX "^ *TEST(_F|_P)?\\(")
        foreach(line IN LISTS lines)
            if(NOT line MATCHES "^ *TEST(_F|_P)?\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]*)")
                message(FATAL_ERROR "${abs}: cannot read the suite of: ${line}")
            endif()
            set(kind "${CMAKE_MATCH_1}")
            set(suite ${CMAKE_MATCH_2})
            set(case "${CMAKE_MATCH_3}")
            list(APPEND suites ${suite})
            if(suite IN_LIST ARG_SPLIT)
                if(kind STREQUAL "_P" OR case STREQUAL "")
                    message(FATAL_ERROR "${abs}: the cases of ${suite} cannot run one by one: ${line}")
                endif()
                if(NOT case MATCHES "^DISABLED_")
                    list(APPEND cases ${suite}.${case})
                endif()
            endif()
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES suites)
    foreach(suite IN LISTS ARG_SPLIT)
        if(NOT suite IN_LIST suites)
            message(FATAL_ERROR "mk_add_wine_gtest(${target}): no suite ${suite} to split")
        endif()
    endforeach()
    set(tests "")
    if(ARG_WHOLE)
        add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
        list(APPEND tests ${target})
        set(suites "")
    endif()
    foreach(suite IN LISTS suites)
        if(suite IN_LIST ARG_SPLIT)
            continue()
        endif()
        add_test(NAME ${target}.${suite} COMMAND ${target} --gtest_filter=${suite}.*
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
        list(APPEND tests ${target}.${suite})
    endforeach()
    foreach(case IN LISTS cases)
        add_test(NAME ${target}.${case} COMMAND ${target} --gtest_filter=${case}
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
        list(APPEND tests ${target}.${case})
    endforeach()
    foreach(test IN LISTS tests)
        mk_wine_lane_test(${test})
        mk_wine_test_limit(${test} ${ARG_TIMEOUT})
    endforeach()
endfunction()
