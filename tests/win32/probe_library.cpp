// An empty library for the module-name tests: loaded from folders whose
// names are longer than MAX_PATH, which Wine allows for libraries.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
