# Each deliverable keeps its version in one header, hook/version.h and mkplugin/Memory/version.h,
# which its resource script includes. Everything else that names a version (the package, its
# INSTALL.txt, the numbers the tests expect) is taken from the same header through this function.
#
# mk_read_version(<header> <prefix>)
#   reads "#define <prefix>_VERSION_MAJOR|MINOR|PATCH|BUILD <n>" and sets, in the caller's scope,
#   <prefix>_VERSION_MAJOR ... _BUILD and <prefix>_VERSION ("MAJOR.MINOR.PATCH.BUILD").
#   Changing the header re-runs the configuration.
function(mk_read_version header prefix)
    file(STRINGS ${header} lines REGEX "^#define +${prefix}_VERSION_[A-Z]+ +[0-9]+")
    set(parts "")
    foreach(part MAJOR MINOR PATCH BUILD)
        set(value "")
        foreach(line IN LISTS lines)
            if(line MATCHES "^#define +${prefix}_VERSION_${part} +([0-9]+)")
                set(value ${CMAKE_MATCH_1})
            endif()
        endforeach()
        if(value STREQUAL "")
            message(FATAL_ERROR "${header} defines no ${prefix}_VERSION_${part}")
        endif()
        set(${prefix}_VERSION_${part} ${value} PARENT_SCOPE)
        list(APPEND parts ${value})
    endforeach()
    list(JOIN parts . version)
    set(${prefix}_VERSION ${version} PARENT_SCOPE)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
endfunction()
