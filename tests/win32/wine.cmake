# Running the Windows test programs under Wine.
#
# Every Windows program of the tests runs through wine-run.sh, which puts
# Wine into a private prefix inside the build folder, keeps Wine quiet and
# turns off the Mono and Gecko installers. The fixture "wine_prefix" makes a
# fresh prefix once per ctest run and stops its wineserver at the end.
#
# The runner keeps Wine's own background processes (wineserver, services,
# the desktop) off the test program's output: they would otherwise hold
# CTest's pipe open for seconds after the program has ended.
find_program(VELMORA_WINE wine)
find_program(VELMORA_WINESERVER NAMES wineserver wineserver64
             PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine)
if(NOT VELMORA_WINE OR NOT VELMORA_WINESERVER)
    # Configuring goes on; the runner then fails every test and says why.
    set(VELMORA_WINE wine)
    set(VELMORA_WINESERVER wineserver)
endif()
# A prefix, its runner `run` and the fixture `fixture` that makes it; with a
# resolution `dpi` (dots per inch) the prefix's screen has it.
function(velmora_wine_prefix fixture prefix run dpi)
    set(VELMORA_WINEPREFIX ${prefix})
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wine-run.sh.in ${run}
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE @ONLY)
    set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wine_prefix.cmake)
    add_test(NAME ${fixture}_setup
             COMMAND ${CMAKE_COMMAND} -DMODE=setup -DWINE_RUN=${run} "-DLOG_PIXELS=${dpi}"
                     -DWINESERVER=${VELMORA_WINESERVER} -DPREFIX=${prefix} -P ${script})
    add_test(NAME ${fixture}_cleanup
             COMMAND ${CMAKE_COMMAND} -DMODE=cleanup -DWINE_RUN=${run}
                     -DWINESERVER=${VELMORA_WINESERVER} -DPREFIX=${prefix} -P ${script})
    set_tests_properties(${fixture}_setup PROPERTIES FIXTURES_SETUP ${fixture} LABELS wine
                                                     RUN_SERIAL TRUE)
    set_tests_properties(${fixture}_cleanup PROPERTIES FIXTURES_CLEANUP ${fixture} LABELS wine
                                                       RUN_SERIAL TRUE)
endfunction()

set(VELMORA_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(VELMORA_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
velmora_wine_prefix(wine_prefix ${VELMORA_WINEPREFIX} ${VELMORA_WINE_RUN} "")
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_WINE_RUN})
# The same at 144 dots per inch (a desktop at 150 %), for the menu's placement.
set(VELMORA_WINEPREFIX_144DPI ${CMAKE_BINARY_DIR}/wine-prefix-144dpi)
set(VELMORA_WINE_RUN_144DPI ${CMAKE_BINARY_DIR}/wine-run-144dpi.sh)
velmora_wine_prefix(wine_prefix_144dpi ${VELMORA_WINEPREFIX_144DPI} ${VELMORA_WINE_RUN_144DPI} 144)
