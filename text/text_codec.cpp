#include "text/text_codec.h"

#include "platform/platform.h"

#include <array>

namespace velmora {

namespace {

constexpr char16_t REPLACEMENT = 0xFFFD;

void appendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// What a UTF-8 lead byte starts: how many continuation bytes follow, the
// code point's bits it holds, and the range of the first continuation byte
// (narrowed after E0, ED, F0 and F4 so that no overlong form, surrogate or
// code point past U+10FFFF is accepted).
struct Lead {
    int needed = 0;
    char32_t bits = 0;
    unsigned char lower = 0x80;
    unsigned char upper = 0xBF;
};

Lead leadOf(unsigned char b) {
    Lead lead;
    if (b >= 0xC2 && b <= 0xDF) {
        lead.needed = 1;
        lead.bits = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        lead.needed = 2;
        lead.bits = b & 0x0Fu;
        lead.lower = b == 0xE0 ? 0xA0 : 0x80;
        lead.upper = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        lead.needed = 3;
        lead.bits = b & 0x07u;
        lead.lower = b == 0xF0 ? 0x90 : 0x80;
        lead.upper = b == 0xF4 ? 0x8F : 0xBF;
    }
    return lead;
}

// Decodes UTF-8 the way the WHATWG encoding standard does, which replaces
// each maximal subpart of an ill-formed sequence by one U+FFFD. Calls
// `emit(cp, valid)` for every code point.
template <typename Emit> void decodeUtf8(std::string_view bytes, Emit emit) {
    char32_t cp = 0;
    int needed = 0;
    int seen = 0;
    unsigned char lower = 0x80;
    unsigned char upper = 0xBF;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (needed == 0) {
            ++i;
            const Lead lead = leadOf(b);
            if (b < 0x80)
                emit(b, true);
            else if (lead.needed == 0)
                emit(REPLACEMENT, false);
            needed = lead.needed;
            cp = lead.bits;
            lower = lead.lower;
            upper = lead.upper;
            continue;
        }
        if (b < lower || b > upper) {
            // The byte ends the invalid subpart and is decoded afresh.
            cp = 0;
            needed = 0;
            seen = 0;
            lower = 0x80;
            upper = 0xBF;
            emit(REPLACEMENT, false);
            continue;
        }
        ++i;
        lower = 0x80;
        upper = 0xBF;
        cp = (cp << 6) | (b & 0x3Fu);
        if (++seen == needed) {
            emit(cp, true);
            cp = 0;
            needed = 0;
            seen = 0;
        }
    }
    if (needed != 0)
        emit(REPLACEMENT, false);
}

// The length of the well-formed UTF-8 sequence at bytes[i], or 0.
std::size_t sequenceLength(std::string_view bytes, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

// Appends the UTF-16 form of `bytes` to `out`; false when any byte was
// replaced. Runs of ASCII, the bulk of a configuration file, are copied
// without going through the decoder.
static bool appendUtf8(std::string_view bytes, std::u16string& out) {
    bool valid = true;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t ascii = i;
        while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80)
            ++ascii;
        out.append(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                   bytes.begin() + static_cast<std::ptrdiff_t>(ascii));
        i = ascii;
        if (i == bytes.size())
            break;
        // Decode up to the next ASCII byte that could not belong to a sequence.
        std::size_t end = i + 1;
        while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 0x80)
            ++end;
        decodeUtf8(bytes.substr(i, end - i), [&](char32_t cp, bool ok) {
            appendCodePoint(out, cp);
            valid = valid && ok;
        });
        i = end;
    }
    return valid;
}

std::u16string argumentText(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const std::size_t length = sequenceLength(bytes, i, cp);
        if (length == 0) {
            text.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return text;
}

std::string argumentBytes(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0, units = 0; i < text.size(); i += units) {
        const char32_t cp = codePointAt(text, i, units);
        if (cp >= 0xDC80 && cp <= 0xDCFF)
            bytes.push_back(static_cast<char>(cp - 0xDC00)); // a byte kept from the arguments
        else
            appendUtf8CodePoint(bytes, isSurrogate(cp) ? 0xFFFD : cp);
    }
    return bytes;
}

std::u16string utf8ToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    appendUtf8(bytes, out);
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    bool valid = true;
    decodeUtf8(bytes, [&valid](char32_t, bool ok) { valid = valid && ok; });
    return valid;
}

char32_t codePointAt(std::u16string_view text, std::size_t i, std::size_t& units) {
    const char32_t unit = text[i];
    units = 1;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
        units = 2;
        return 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
    }
    return unit;
}

void appendUtf8CodePoint(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0, units = 0; i < text.size(); i += units) {
        const char32_t cp = codePointAt(text, i, units);
        appendUtf8CodePoint(out, isSurrogate(cp) ? REPLACEMENT : cp);
    }
    return out;
}

std::string readAllBytes(ByteReader& reader) {
    std::string bytes;
    std::array<unsigned char, 16384> chunk{};
    for (;;) {
        const std::ptrdiff_t n = reader.read(chunk.data(), chunk.size());
        if (n <= 0)
            break;
        bytes.append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(n));
    }
    return bytes;
}

std::u16string decodeTextFile(std::string_view bytes, Platform* platform) {
    constexpr std::string_view signature = "\xEF\xBB\xBF";
    if (bytes.substr(0, signature.size()) == signature)
        bytes.remove_prefix(signature.size());

    std::u16string text;
    text.reserve(bytes.size());
    if (!appendUtf8(bytes, text) && platform != nullptr) {
        if (auto legacy = platform->decodeLegacyText(bytes))
            text = std::move(*legacy);
    }

    // CR LF reads as LF; a CR that no LF follows stays.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        text[kept++] = text[i];
    }
    text.resize(kept);
    return text;
}

TextWriter::TextWriter(std::string& out, std::u16string_view lineEnd)
    : out_(out), lineEnd_(lineEnd) {}

void TextWriter::putBytes(const unsigned char* bytes, std::size_t size) {
    out_.append(reinterpret_cast<const char*>(bytes), size);
}

void TextWriter::putChar(char16_t unit) {
    if (failed_)
        return;
    if (unit == u'\n') {
        if (pendingHighSurrogate_ != 0) {
            failed_ = true;
            return;
        }
        const std::string end = utf16ToUtf8(lineEnd_);
        putBytes(reinterpret_cast<const unsigned char*>(end.data()), end.size());
        return;
    }
    std::u16string pair;
    if (pendingHighSurrogate_ != 0) {
        if (unit < 0xDC00 || unit > 0xDFFF) {
            failed_ = true; // a high surrogate with no low one cannot be written
            return;
        }
        pair = {pendingHighSurrogate_, unit};
        pendingHighSurrogate_ = 0;
    } else if (unit >= 0xD800 && unit <= 0xDBFF) {
        pendingHighSurrogate_ = unit;
        return;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        failed_ = true; // a low surrogate on its own cannot be written
        return;
    } else {
        pair = {unit};
    }
    const std::string bytes = utf16ToUtf8(pair);
    putBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void TextWriter::putLine(std::u16string_view line) {
    for (const char16_t unit : line)
        putChar(unit);
    putChar(u'\n');
}

void TextWriter::flush() {
    if (failed_)
        return;
    if (pendingHighSurrogate_ != 0)
        failed_ = true;
}

std::u16string decimalText(std::int64_t value) {
    // Work on the magnitude as unsigned so that the most negative value has
    // no positive counterpart to overflow into.
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits.insert(digits.begin(), u'-');
    return digits;
}

} // namespace velmora
