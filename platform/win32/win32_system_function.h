// The functions of later Windows versions, and those Windows CE lacks, are
// looked up when the program runs, so that it still starts on the systems
// without them and the Windows CE build imports only what coredll offers.
#pragma once

#include <windows.h>

namespace velmora {

template <typename Function> Function systemFunction(HMODULE library, const char* name) {
    // Through the one function type that converts to every other.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

} // namespace velmora
