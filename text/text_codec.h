// The launcher's text layer: how the UTF-16 text of the program meets the
// bytes of its files, the same on every system, and the decimal text of
// numbers.
//
// On disk a configuration file is UTF-8. A UTF-8 byte-order mark at the very
// start is a signature and is skipped; bytes that are not UTF-8 become U+FFFD,
// one for each maximal invalid subpart; a CR LF pair reads as a line feed,
// while a lone CR stays a character. Files are written without a byte-order
// mark, with the system's own line end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class ByteReader;
class ByteWriter;
class Platform;

// The text of `value` in base 10: "-" before negative numbers, no "+" and no
// leading zeros.
std::u16string decimalText(std::int64_t value);

// UTF-8 to UTF-16, every invalid subpart replaced by U+FFFD. No signature
// handling and no line-end translation.
std::u16string utf8ToUtf16(std::string_view bytes);

inline bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// The code point whose UTF-16 form starts at text[i]: the code point of a
// surrogate pair, otherwise the unit itself (a lone surrogate included).
// `units` receives 2 for a pair and 1 otherwise.
char32_t codePointAt(std::u16string_view text, std::size_t i, std::size_t& units);

// Appends the UTF-8 form of one code point.
void appendUtf8CodePoint(std::string& out, char32_t cp);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// True when `bytes` is well-formed UTF-8 throughout.
bool isValidUtf8(std::string_view bytes);

// Reads every byte that `reader` yields; a read error ends the reading as the
// end of the file would.
std::string readAllBytes(ByteReader& reader);

// The characters of a text file given its bytes: the signature skipped, CR LF
// read as LF. When the bytes are not valid UTF-8 and `platform` decodes them
// by a legacy code page, that decoding is used instead.
std::u16string decodeTextFile(std::string_view bytes, Platform* platform = nullptr);

// Writes characters to a file one at a time. Once a character cannot be
// written (a lone surrogate, or the file refuses the bytes) the writer is in
// a failed state: every later character, line end and flush does nothing, and
// what was written before stays in the file.
class TextWriter {
public:
    TextWriter(ByteWriter& out, std::u16string_view lineEnd);

    // Writes one character; a line feed is written as the line end.
    void putChar(char16_t unit);
    // Writes the characters of `line`, then one line end.
    void putLine(std::u16string_view line);
    void flush();
    bool failed() const { return failed_; }

private:
    void putBytes(const unsigned char* bytes, std::size_t size);

    ByteWriter& out_;
    std::u16string lineEnd_;
    char16_t pendingHighSurrogate_ = 0;
    bool failed_ = false;
};

} // namespace velmora
