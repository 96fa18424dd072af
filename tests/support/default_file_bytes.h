// The default configuration file as the launcher must write it, byte for
// byte: UTF-8 without a signature, a line end after each of its 23 lines.
// Written out here on its own, not taken from the program, so that the tests
// of every system compare against the same independent copy.
#pragma once

#include <string>

namespace velmora::test {

inline std::string withCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

inline const std::string DEFAULT_FILE_LF = "# Internet Explorer\n"
                                           "[1]\n"
                                           "title=Internet Explorer\n"
                                           "exec=iexplore.exe\n"
                                           "\n"
                                           "# Opera\n"
                                           "[2]\n"
                                           "title=Opera\n"
                                           "exec=\\Program Files\\Opera\\Opera.exe\n"
                                           "\n"
                                           "# NetFront\n"
                                           "[3]\n"
                                           "title=NetFront\n"
                                           "exec=\\Program Files\\netfront33\\netfront33.exe\n"
                                           "\n"
                                           "[position]\n"
                                           "# \xE5\x9F\xBA\xE6\xBA\x96\n"
                                           "xAlign=0\n"
                                           "yAlign=0\n"
                                           "\n"
                                           "# \xE4\xBD\x8D\xE7\xBD\xAE\n"
                                           "x=0\n"
                                           "y=0\n";

// The same file as the Windows program writes it.
inline const std::string DEFAULT_FILE_CRLF = withCrLf(DEFAULT_FILE_LF);

} // namespace velmora::test
