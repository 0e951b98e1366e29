# Checks that a shipped image (mkhook.dll, ramtidy.exe) is stripped and that its debug
# information is kept beside it: IMAGE.debug exists and holds the DWARF sections, and the image
# carries no symbols or debug sections of its own but a .gnu_debuglink naming IMAGE.debug with
# that file's CRC-32.
#   cmake -DIMAGE=<path to the image> -DOBJDUMP=<objdump for the target> -P CheckDebugLink.cmake
# (-DDLL=<path> is the same as -DIMAGE.)
if(NOT DEFINED IMAGE)
    set(IMAGE ${DLL})
endif()
set(DLL ${IMAGE})
set(debug ${DLL}.debug)
get_filename_component(debug_name ${debug} NAME)
foreach(f ${DLL} ${debug})
    if(NOT EXISTS ${f})
        message(FATAL_ERROR "no ${f}")
    endif()
endforeach()

function(objdump out)
    execute_process(COMMAND ${OBJDUMP} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE text
        ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} ${ARGN} failed: ${err}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

objdump(sections -h ${DLL})
if(sections MATCHES "\\.debug_")
    message(FATAL_ERROR "${DLL} still holds debug sections:\n${sections}")
endif()
objdump(symbols -t ${DLL})
if(NOT symbols MATCHES "no symbols")
    message(FATAL_ERROR "${DLL} still has a symbol table")
endif()
objdump(sections -h ${debug})
if(NOT sections MATCHES "\\.debug_info" OR NOT sections MATCHES "\\.debug_line")
    message(FATAL_ERROR "${debug} holds no debug information:\n${sections}")
endif()

# The link: the file name, a NUL, padding to four bytes, then the CRC-32 of the debug file in
# the target's (little-endian) byte order.
objdump(dump -s -j .gnu_debuglink ${DLL})
string(REGEX MATCHALL "\n [0-9a-f]+ ([0-9a-f ]+)  " lines "${dump}")
set(hex "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "\n [0-9a-f]+ ([0-9a-f ]+)  " "\\1" words "${line}")
    string(REPLACE " " "" words "${words}")
    string(APPEND hex "${words}")
endforeach()
string(HEX "${debug_name}" name_hex)
string(LENGTH "${hex}" hex_length)
if(hex_length LESS 16 OR NOT hex MATCHES "^${name_hex}00")
    message(FATAL_ERROR "${DLL} carries no debug link to ${debug_name}:\n${dump}")
endif()
math(EXPR crc_at "${hex_length} - 8")
string(SUBSTRING "${hex}" ${crc_at} 8 linked_crc)

# gzip's trailer holds the CRC-32 of its input, little-endian: the same polynomial as the link's.
execute_process(COMMAND sh -c "gzip -c \"$0\" | tail -c 8 | head -c 4 | od -An -tx1" ${debug}
    RESULT_VARIABLE rc OUTPUT_VARIABLE crc)
string(REGEX REPLACE "[ \n]" "" crc "${crc}")
if(NOT rc EQUAL 0 OR NOT crc MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "cannot compute the CRC-32 of ${debug}")
endif()
if(NOT crc STREQUAL linked_crc)
    message(FATAL_ERROR "${DLL} links CRC ${linked_crc}, ${debug_name} has ${crc}")
endif()
message(STATUS "${DLL}: stripped, debug link to ${debug_name} (CRC ${crc})")
