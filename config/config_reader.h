// Reading a configuration file as a stream of lines.
//
// The file is read in chunks and cut into lines as it goes, so that what is
// held at any time is one line (at most LINE_BUFFER_CHARS - 1 units, and a
// few kilobytes of its bytes), never the whole file: a file of any size takes
// memory in proportion to what its lines hold, not to its length.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace velmora {

// At most this many bytes of a configuration file are read; the rest of a
// longer file is left unread, as if the file ended there. It is far above any
// real configuration and keeps a file that never ends (a device or
// /proc/self/pagemap behind a regular file's name) from holding the program.
constexpr std::uint64_t CONFIG_READ_LIMIT = std::uint64_t{256} << 20;

// One line as the parser sees it, with what the reading did to it.
struct ConfigLine {
    std::u16string_view text;   // at most LINE_BUFFER_CHARS - 1 units, cut at a character 0
    bool cut = false;           // longer than LINE_BUFFER_CHARS - 1 units; the rest was dropped
    bool cutAtZero = false;     // a character 0 ended the text
    std::u16string_view hidden; // what followed that character 0, up to the length limit
    bool replaced = false;      // bytes that are not UTF-8 were read as U+FFFD
};

struct ConfigReadResult {
    bool limitReached = false;  // reading stopped at CONFIG_READ_LIMIT bytes
    bool legacyDecoded = false; // not UTF-8: decoded by the system's code page
};

// How the bytes of a file become text.
enum class ConfigEncoding {
    Utf8,     // UTF-8, every invalid subpart read as U+FFFD
    CodePage, // the platform's legacy code page (Platform::decodeLegacyText)
};

// True when the first CONFIG_READ_LIMIT bytes that `reader` yields are UTF-8
// throughout (a sequence that the limit cuts short is not). Holds no more
// than a chunk: a platform with a legacy code page reads a file twice, once
// to tell its encoding with this and once to read its lines.
bool isUtf8Stream(ByteReader& reader);

// Reads every line that `reader` yields and hands each to `onLine`, in order.
// A read error ends the reading as the end of the file would. The lines are
// those of decodeTextFile followed by splitConfigLines: a UTF-8 signature is
// skipped and CR LF reads as LF. With ConfigEncoding::CodePage each line's
// bytes are decoded by `platform`'s legacy code page (which never makes a
// line feed or a carriage return part of another character), else as UTF-8.
ConfigReadResult readConfigLines(ByteReader& reader, Platform* platform,
                                 const std::function<void(const ConfigLine&)>& onLine,
                                 ConfigEncoding encoding = ConfigEncoding::Utf8);

} // namespace velmora
