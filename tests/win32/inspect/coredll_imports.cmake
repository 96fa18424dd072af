# Every function that the Windows backend imports from the system is one
# that Windows CE offers in its core library, coredll.dll, so that the same
# backend links there. Reads the backend's library with nm: each "__imp_"
# reference is an imported function.
# Run with -DNM=... -DLIBRARY=libvelmora_host.a
#
# The list: functions that the Windows CE 5.0 API reference (the Windows
# Mobile 5.0 SDK's documentation) gives with "Library: Coredll.lib", of the
# kernel, file, window, menu, GDI and shell areas. Windows CE has the shell's
# ShellExecuteEx only in its wide form and without the W, which the desktop
# headers name ShellExecuteExW; the desktop's GetProcAddress takes the
# function's name in single bytes, as Windows CE's GetProcAddressA does (its
# GetProcAddress takes a wide name).
cmake_policy(VERSION 3.25)
set(coredll
    AppendMenuW CheckMenuItem CloseHandle CreateEventW CreateFileW CreateMenu CreateMutexW
    CreatePopupMenu CreateWindowExW DefWindowProcW DeleteFileW DestroyMenu DestroyWindow
    DispatchMessageW EnableMenuItem FindWindowW FlushFileBuffers FreeLibrary GetActiveWindow
    GetCurrentProcessId GetCurrentThreadId GetDC GetDesktopWindow GetDeviceCaps
    GetFileAttributesW GetFileSize GetFocus GetForegroundWindow GetLastError GetMessageW
    GetModuleFileNameW GetModuleHandleW GetProcAddressA GetSystemMetrics GetWindowThreadProcessId
    InsertMenuW LoadLibraryW MessageBoxW MoveFileW MultiByteToWideChar PostMessageW ReadFile
    ReleaseDC ReleaseMutex SendMessageW SetFilePointer SetForegroundWindow SetLastError
    ShellExecuteEx ShowWindow TrackPopupMenuEx TranslateMessage WaitForSingleObject
    WideCharToMultiByte WriteFile)

execute_process(COMMAND ${NM} -u ${LIBRARY} RESULT_VARIABLE status OUTPUT_VARIABLE symbols
                ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} cannot read ${LIBRARY}: ${err}")
endif()
# x86-64: __imp_Name; x86: __imp__Name@bytes, the stdcall decoration.
string(REGEX MATCHALL "__imp_[A-Za-z0-9_@]+" references "${symbols}")
list(REMOVE_DUPLICATES references)
if(NOT references)
    message(FATAL_ERROR "no imported function found in ${LIBRARY}: is it the Windows backend?")
endif()
set(failures "")
foreach(reference IN LISTS references)
    if(reference MATCHES "^__imp__([A-Za-z0-9_]+)@[0-9]+$")
        set(name ${CMAKE_MATCH_1})
    else()
        string(REGEX REPLACE "^__imp_" "" name "${reference}")
    endif()
    if(name STREQUAL "ShellExecuteExW")
        set(name ShellExecuteEx)
    elseif(name STREQUAL "GetProcAddress")
        set(name GetProcAddressA)
    endif()
    if(NOT name IN_LIST coredll)
        string(APPEND failures "  ${name}\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "the backend imports functions that Windows CE's coredll lacks:\n"
                        "${failures}")
endif()
list(LENGTH references count)
message(STATUS "all ${count} imported functions of ${LIBRARY} are in coredll")
