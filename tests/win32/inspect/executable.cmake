# What can be told of a built velmora.exe without running it, read with
# objdump: its machine type, that it is a GUI program, stripped, within its
# size budget, that it carries a manifest (its DPI awareness), that it loads
# no DLL but the system's, and that it imports exactly the functions listed
# in IMPORTS (so that a new dependency shows).
# Run with -DOBJDUMP=... -DFILE=velmora.exe -DFORMAT=pei-i386|pei-x86-64
#          -DIMPORTS=list file -DMAX_BYTES=size budget
cmake_policy(VERSION 3.25)
foreach(var OBJDUMP FILE FORMAT IMPORTS MAX_BYTES)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
if(NOT EXISTS ${FILE})
    message(FATAL_ERROR "${FILE} does not exist: build it first")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${FILE} RESULT_VARIABLE status OUTPUT_VARIABLE headers
                ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${FILE}: ${err}")
endif()
set(failures "")

if(NOT headers MATCHES "file format ${FORMAT}\n")
    string(REGEX MATCH "file format [^\n]*" found "${headers}")
    string(APPEND failures "machine: expected file format ${FORMAT}, found ${found}\n")
endif()
if(NOT headers MATCHES "\nSubsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
    string(APPEND failures "not a Windows GUI program\n")
endif()
if(NOT headers MATCHES "\n\tsymbols stripped\n")
    string(APPEND failures "not stripped: it carries a symbol table\n")
endif()
# The resource directory's type table names RT_MANIFEST (24) at its top level.
if(NOT headers MATCHES "\n[0-9a-f]+   Entry: ID: 0x000018,")
    string(APPEND failures "carries no manifest (resource type 24)\n")
endif()
file(SIZE ${FILE} bytes)
if(bytes GREATER MAX_BYTES)
    string(APPEND failures "${bytes} bytes, more than the budget of ${MAX_BYTES}\n")
endif()

# The import table: "DLL Name: X" and, below it, one line per function.
set(system_dlls kernel32.dll user32.dll gdi32.dll shell32.dll msvcrt.dll)
set(imports "")
set(dll "")
string(REPLACE "\n" ";" lines "${headers}")
foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: (.+)$")
        string(TOLOWER "${CMAKE_MATCH_1}" dll)
        if(NOT dll IN_LIST system_dlls)
            string(APPEND failures "loads ${dll}, which is no system DLL\n")
        endif()
    elseif(dll AND line MATCHES "^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+([A-Za-z_0-9@?]+)$")
        list(APPEND imports "${dll}!${CMAKE_MATCH_1}")
    elseif(line STREQUAL "")
        set(dll "")
    endif()
endforeach()
list(SORT imports)

file(STRINGS ${IMPORTS} expected REGEX "^[^#]")
list(SORT expected)
set(extra ${imports})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${imports})
foreach(name IN LISTS extra)
    string(APPEND failures "imports ${name}, which is not in ${IMPORTS}\n")
endforeach()
foreach(name IN LISTS missing)
    string(APPEND failures "no longer imports ${name}: take it out of ${IMPORTS}\n")
endforeach()

if(failures)
    message(FATAL_ERROR "${FILE}:\n${failures}")
endif()
list(LENGTH imports count)
message(STATUS "${FILE}: ${FORMAT}, Windows GUI, stripped, ${bytes} bytes, ${count} imports "
               "from system DLLs only")
