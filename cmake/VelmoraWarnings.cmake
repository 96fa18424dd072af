# Warnings for Velmora's own targets (not for third-party code built beside).
function(velmora_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4)
        if(VELMORA_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
            -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
        if(VELMORA_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()
