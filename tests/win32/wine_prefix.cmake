# The Wine prefix of the Windows tests: "setup" makes a fresh one, "cleanup"
# stops its wineserver. Run with -DMODE=setup|cleanup -DWINE_RUN=... -DPREFIX=...
get_filename_component(wine_dir ${WINE_RUN} DIRECTORY)
find_program(wineserver NAMES wineserver wineserver64
             PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine NO_CACHE)

function(stop_wineserver)
    if(wineserver AND EXISTS ${PREFIX})
        execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} ${wineserver} -k
                        OUTPUT_QUIET ERROR_QUIET)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} ${wineserver} -w
                        OUTPUT_QUIET ERROR_QUIET)
    endif()
endfunction()

if(MODE STREQUAL "setup")
    if(NOT wineserver)
        message(FATAL_ERROR "wineserver not found: the Windows tests need Wine "
                            "(apt-get install wine wine64)")
    endif()
    stop_wineserver()
    file(REMOVE_RECURSE ${PREFIX})
    execute_process(COMMAND ${WINE_RUN} wineboot -i RESULT_VARIABLE result
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0 OR NOT EXISTS ${PREFIX}/system.reg)
        message(FATAL_ERROR "wineboot could not make the prefix ${PREFIX} (${result}):\n${out}")
    endif()
    # Let wineboot's background work finish before the tests start.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} ${wineserver} -w)
elseif(MODE STREQUAL "cleanup")
    stop_wineserver()
else()
    message(FATAL_ERROR "MODE must be setup or cleanup")
endif()
