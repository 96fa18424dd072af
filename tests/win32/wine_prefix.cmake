# The Wine prefix of the Windows tests: "setup" makes a fresh one, "cleanup"
# stops its server and every program in it.
# Run with -DMODE=setup|cleanup -DWINE_RUN=... -DWINESERVER=... -DPREFIX=...
#          [-DLOG_PIXELS=<dots per inch of the prefix's screen>]
function(stop_wineserver)
    if(EXISTS ${PREFIX})
        execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} ${WINESERVER} -k
                        OUTPUT_QUIET ERROR_QUIET)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} ${WINESERVER} -w
                        OUTPUT_QUIET ERROR_QUIET)
    endif()
endfunction()

if(MODE STREQUAL "setup")
    if(NOT EXISTS ${WINESERVER})
        message(FATAL_ERROR "wineserver not found: the Windows tests need Wine "
                            "(apt-get install wine wine64)")
    endif()
    stop_wineserver()
    file(REMOVE_RECURSE ${PREFIX})
    # Into a file, not a pipe: Wine's background processes outlive wineboot.
    set(log ${PREFIX}-setup.log)
    execute_process(COMMAND ${WINE_RUN} wineboot -i RESULT_VARIABLE result
                    OUTPUT_FILE ${log} ERROR_FILE ${log})
    if(NOT result EQUAL 0)
        file(READ ${log} out)
        message(FATAL_ERROR "wineboot could not make the prefix ${PREFIX} (${result}):\n${out}")
    endif()
    # Text documents open in Notepad, as on Windows: Wine's registry has the
    # "txtfile" class but does not tie ".txt" to it.
    execute_process(COMMAND ${WINE_RUN} reg add "HKCR\\.txt" /ve /d txtfile /f
                    RESULT_VARIABLE result OUTPUT_FILE ${log}.reg ERROR_FILE ${log}.reg)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "could not register .txt documents in ${PREFIX} (${result})")
    endif()
    # The screen's resolution, where Windows keeps the user's choice; the
    # programs started afterwards take it up. (Wine 8 also reads a machine
    # default, LogPixels under HKLM\System\CurrentControlSet\Hardware
    # Profiles\Current\Software\Fonts.)
    if(LOG_PIXELS)
        execute_process(COMMAND ${WINE_RUN} reg add "HKCU\\Control Panel\\Desktop" /v LogPixels
                                /t REG_DWORD /d ${LOG_PIXELS} /f
                        RESULT_VARIABLE result OUTPUT_FILE ${log}.dpi ERROR_FILE ${log}.dpi)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "could not set LogPixels ${LOG_PIXELS} in ${PREFIX} (${result})")
        endif()
    endif()
    # The prefix runs programs and hands their exit codes back.
    execute_process(COMMAND ${WINE_RUN} cmd.exe /c exit 7 RESULT_VARIABLE result
                    OUTPUT_FILE ${log}.cmd ERROR_FILE ${log}.cmd)
    if(NOT result EQUAL 7)
        message(FATAL_ERROR "Wine does not run programs in ${PREFIX} (exit code ${result})")
    endif()
elseif(MODE STREQUAL "cleanup")
    stop_wineserver()
else()
    message(FATAL_ERROR "MODE must be setup or cleanup")
endif()
