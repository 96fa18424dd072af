# The Windows program: a GUI-subsystem executable with the version record
# and the manifest as its resources, linked statically so that it runs with
# no DLL beside it, and stripped.
add_executable(velmora WIN32 main_win32.cpp version.rc)
set_source_files_properties(version.rc PROPERTIES OBJECT_DEPENDS
                            ${CMAKE_CURRENT_SOURCE_DIR}/velmora.manifest)
target_link_libraries(velmora PRIVATE velmora_host)
velmora_warnings(velmora)
if(MINGW)
    target_sources(velmora PRIVATE terminate_mingw.cpp)
    target_link_options(velmora PRIVATE -static -static-libgcc -static-libstdc++ -s
                        -Wl,--gc-sections)
    if(NOT CMAKE_SYSTEM_NAME STREQUAL "WindowsCE")
        # wWinMain is the entry point of a Unicode GUI program; on Windows CE
        # the runtime calls WinMain with the wide command line instead.
        target_link_options(velmora PRIVATE -municode)
    endif()
endif()
