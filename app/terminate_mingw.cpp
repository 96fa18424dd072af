// The end of a run that an exception nobody caught cuts short: the process
// ends at once through abort, as GCC's runtime does after its default
// report. That report (the exception's demangled type name, written to a
// standard error stream that a GUI program does not have) would pull the
// whole C++ demangler and a printf into the executable. Defining the
// handler here keeps the runtime's own out of the link.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler();

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
