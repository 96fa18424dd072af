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
set(VELMORA_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(VELMORA_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${VELMORA_WINE_RUN}
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_WINE_RUN})

add_test(NAME wine_prefix_setup
         COMMAND ${CMAKE_COMMAND} -DMODE=setup -DWINE_RUN=${VELMORA_WINE_RUN}
                 -DWINESERVER=${VELMORA_WINESERVER} -DPREFIX=${VELMORA_WINEPREFIX} -P ${CMAKE_CURRENT_LIST_DIR}/wine_prefix.cmake)
add_test(NAME wine_prefix_cleanup
         COMMAND ${CMAKE_COMMAND} -DMODE=cleanup -DWINE_RUN=${VELMORA_WINE_RUN}
                 -DWINESERVER=${VELMORA_WINESERVER} -DPREFIX=${VELMORA_WINEPREFIX} -P ${CMAKE_CURRENT_LIST_DIR}/wine_prefix.cmake)
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix LABELS wine
                                                  RUN_SERIAL TRUE)
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix LABELS wine
                                                    RUN_SERIAL TRUE)
