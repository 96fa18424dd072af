add_executable(velmora main_posix.cpp)
target_link_libraries(velmora PRIVATE velmora_host)
velmora_warnings(velmora)
# The C++ runtime is linked in: a start then binds only libc's symbols at
# load time, instead of relocating all of libstdc++ before main.
if(NOT VELMORA_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_link_options(velmora PRIVATE -static-libstdc++ -static-libgcc)
endif()
