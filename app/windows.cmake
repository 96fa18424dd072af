# The Windows program: a GUI-subsystem executable with the version record as
# its only resource, linked statically so that it runs with no DLL beside it,
# and stripped.
add_executable(velmora WIN32 main_win32.cpp version.rc)
target_link_libraries(velmora PRIVATE velmora_host)
velmora_warnings(velmora)
if(MINGW)
    # wWinMain is the entry point of a Unicode GUI program.
    target_link_options(velmora PRIVATE -municode -static -static-libgcc -static-libstdc++ -s
                        -Wl,--gc-sections)
endif()
