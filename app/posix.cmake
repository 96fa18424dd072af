add_executable(velmora main_posix.cpp)
target_link_libraries(velmora PRIVATE velmora_host)
velmora_warnings(velmora)
