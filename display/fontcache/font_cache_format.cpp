#include "display/fontcache/font_cache_format.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmora::fontcache {

namespace {

constexpr std::string_view HEADER = "velmora-font-cache 4";
constexpr std::string_view EMPTY = "~";
constexpr char HEX[] = "0123456789abcdef";

// A word of a line: printable ASCII but for the escape characters; the rest,
// spaces and newlines of paths included, as %XX.
std::string escape(std::string_view text) {
    if (text.empty())
        return std::string(EMPTY);
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F && c != '%' && c != '~') {
            out += c;
        } else {
            out += '%';
            out += HEX[byte >> 4];
            out += HEX[byte & 0xF];
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view word) {
    if (word == EMPTY)
        return std::string();
    if (word.find('%') == std::string_view::npos)
        return std::string(word);
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%') {
            out += word[i];
            continue;
        }
        if (i + 2 >= word.size())
            return std::nullopt;
        const int high = hexDigit(word[i + 1]);
        const int low = hexDigit(word[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// The words of `line` into `out`, whose room the lines of a file share.
void splitWords(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t end = std::min(line.find(' ', start), line.size());
        out.push_back(line.substr(start, end - start));
        start = end + 1;
    }
}

template <typename Number> bool number(std::string_view word, Number& value, int base = 10) {
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value, base);
    return !word.empty() && result.ec == std::errc() && result.ptr == end;
}

bool isDouble(std::string_view word) {
    double value = 0;
    return readDecimal(word, value);
}

bool validValue(const ElementValue& value) {
    long long integer = 0;
    switch (value.type) {
    case 'i':
        return number(value.text, integer);
    case 'b':
        return value.text == "0" || value.text == "1" || value.text == "2";
    case 'd':
        return isDouble(value.text);
    case 'm': {
        std::string_view rest = value.text;
        for (int part = 0; part < 3; ++part) {
            const std::size_t comma = rest.find(',');
            if (comma == std::string_view::npos || !isDouble(rest.substr(0, comma)))
                return false;
            rest.remove_prefix(comma + 1);
        }
        return isDouble(rest);
    }
    case 's':
        return true;
    default:
        return false;
    }
}

void appendCharacters(std::string& out, std::string_view name, std::u32string_view characters) {
    out += name;
    for (const char32_t c : characters) {
        char digits[8];
        const auto result = std::to_chars(digits, digits + sizeof digits, std::uint32_t{c}, 16);
        out += ' ';
        out.append(digits, result.ptr);
    }
    out += '\n';
}

bool parseCharacters(const std::vector<std::string_view>& line, std::u32string& out) {
    for (std::size_t i = 1; i < line.size(); ++i) {
        std::uint32_t c = 0;
        if (!number(line[i], c, 16) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out += static_cast<char32_t>(c);
    }
    return true;
}

bool parseFile(const std::vector<std::string_view>& line, FileStamp& stamp) {
    auto path = line.size() == 8 ? unescape(line[1]) : std::nullopt;
    if (!path || path->empty() || (line[2] != "0" && line[2] != "1"))
        return false;
    stamp.path = std::move(*path);
    stamp.present = line[2] == "1";
    return number(line[3], stamp.device) && number(line[4], stamp.inode) &&
           number(line[5], stamp.size) && number(line[6], stamp.modified) &&
           number(line[7], stamp.changed);
}

bool parseElement(const std::vector<std::string_view>& line, PatternElement& element) {
    auto object = line.size() == 4 ? unescape(line[1]) : std::nullopt;
    auto text = line.size() == 4 ? unescape(line[3]) : std::nullopt;
    if (!object || !text || object->empty() || line[2].size() != 1)
        return false;
    element = PatternElement{std::move(*object), ElementValue{line[2][0], std::move(*text)}};
    return validValue(element.value);
}

std::string hexText(std::string_view bytes) {
    if (bytes.empty())
        return std::string(EMPTY);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += HEX[byte >> 4];
        out += HEX[byte & 0xF];
    }
    return out;
}

bool parseHex(std::string_view word, std::string& out) {
    if (word == EMPTY)
        return true;
    if (word.empty() || word.size() % 2 != 0)
        return false;
    out.reserve(word.size() / 2);
    for (std::size_t i = 0; i < word.size(); i += 2) {
        const int high = hexDigit(word[i]);
        const int low = hexDigit(word[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
    }
    return true;
}

bool inShort(int value) {
    return value >= -32768 && value <= 32767;
}

// glyph CHARACTER FACE WIDTH HEIGHT X Y ADVANCE-X ADVANCE-Y COVERAGE
bool parseGlyph(const std::vector<std::string_view>& line, CachedGlyphs& glyphs) {
    CachedGlyph g;
    std::uint32_t c = 0;
    if (line.size() != 10 || !number(line[1], c, 16) || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF) || !number(line[2], g.face) || !number(line[3], g.width) ||
        !number(line[4], g.height) || !number(line[5], g.x) || !number(line[6], g.y) ||
        !number(line[7], g.advanceX) || !number(line[8], g.advanceY) ||
        !parseHex(line[9], g.coverage))
        return false;
    g.character = static_cast<char32_t>(c);
    const bool sized =
        g.width >= 0 && g.height >= 0 && g.width <= MAX_GLYPH_SIDE && g.height <= MAX_GLYPH_SIDE &&
        g.coverage.size() == static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height);
    if (!sized || !inShort(g.x) || !inShort(g.y) || !inShort(g.advanceX) || !inShort(g.advanceY) ||
        glyphOf(glyphs, g.character) != nullptr)
        return false;
    glyphs.glyphs.push_back(std::move(g));
    return true;
}

bool parseGlyphLine(const std::vector<std::string_view>& line, FontCache& cache) {
    if (line[0] == "glyphs" && line.size() == 3 && !cache.glyphs) {
        cache.glyphs.emplace();
        return number(line[1], cache.glyphs->ascent) && number(line[2], cache.glyphs->descent) &&
               inShort(cache.glyphs->ascent) && inShort(cache.glyphs->descent);
    }
    return line[0] == "glyph" && cache.glyphs && parseGlyph(line, *cache.glyphs);
}

// One line into `cache`; `ended` once the closing line is read.
bool parseLine(std::string_view text, FontCache& cache, bool& ended,
               std::vector<std::string_view>& line) {
    splitWords(text, line);
    const std::string_view kind = line[0];
    const bool inFace = !cache.faces.empty();
    if (cache.glyphs || kind == "glyphs") {
        // The glyphs come last: only they and the end follow.
        if (kind == "end" && line.size() == 1) {
            ended = true;
            return true;
        }
        return parseGlyphLine(line, cache);
    }
    if (kind == "set" && line.size() == 3 && !inFace) {
        auto name = unescape(line[1]);
        auto value = unescape(line[2]);
        if (!name || !value)
            return false;
        cache.key.settings.emplace_back(std::move(*name), std::move(*value));
        return true;
    }
    if (kind == "file" && !inFace) {
        cache.key.files.emplace_back();
        return parseFile(line, cache.key.files.back());
    }
    if (kind == "face" && line.size() == 1) {
        cache.faces.emplace_back();
        return true;
    }
    if (kind == "element" && inFace) {
        cache.faces.back().elements.emplace_back();
        return parseElement(line, cache.faces.back().elements.back());
    }
    if (kind == "covers" && inFace)
        return parseCharacters(line, cache.faces.back().covers);
    if (kind == "uncovered")
        return parseCharacters(line, cache.uncovered);
    if (kind == "end" && line.size() == 1) {
        ended = true;
        return true;
    }
    return false;
}

bool stampsEveryFace(const FontCache& cache) {
    return std::all_of(cache.faces.begin(), cache.faces.end(), [&](const CachedFace& face) {
        const std::string file = face.file();
        return !file.empty() &&
               std::any_of(cache.key.files.begin(), cache.key.files.end(),
                           [&](const FileStamp& s) { return s.path == file && s.present; });
    });
}

bool glyphFacesExist(const FontCache& cache) {
    return !cache.glyphs ||
           std::all_of(cache.glyphs->glyphs.begin(), cache.glyphs->glyphs.end(),
                       [&](const CachedGlyph& g) { return g.face < cache.faces.size(); });
}

void appendGlyphs(std::string& out, const CachedGlyphs& glyphs) {
    out += "glyphs " + std::to_string(glyphs.ascent) + ' ' + std::to_string(glyphs.descent) + '\n';
    for (const CachedGlyph& g : glyphs.glyphs) {
        char digits[8];
        const auto result =
            std::to_chars(digits, digits + sizeof digits, std::uint32_t{g.character}, 16);
        out += "glyph ";
        out.append(digits, result.ptr);
        for (const long long value :
             {static_cast<long long>(g.face), static_cast<long long>(g.width),
              static_cast<long long>(g.height), static_cast<long long>(g.x),
              static_cast<long long>(g.y), static_cast<long long>(g.advanceX),
              static_cast<long long>(g.advanceY)})
            out += ' ' + std::to_string(value);
        out += ' ' + hexText(g.coverage) + '\n';
    }
}

} // namespace

bool CachedGlyph::operator==(const CachedGlyph& o) const {
    return character == o.character && face == o.face && width == o.width && height == o.height &&
           x == o.x && y == o.y && advanceX == o.advanceX && advanceY == o.advanceY &&
           coverage == o.coverage;
}

bool FileStamp::operator==(const FileStamp& other) const {
    return path == other.path && present == other.present && device == other.device &&
           inode == other.inode && size == other.size && modified == other.modified &&
           changed == other.changed;
}

std::string CachedFace::file() const {
    for (const PatternElement& element : elements) {
        if (element.object == "file" && element.value.type == 's')
            return element.value.text;
    }
    return std::string();
}

// Through libc's conversions: the floating-point ones of the C++ library
// would have every start load libm, for a few numbers of a cache file.
std::string decimalText(double value) {
    char text[32];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    // A whole number as one where that is no longer: 100, not 1e+02.
    const bool whole = value > -1e17 && value < 1e17 &&
                       value == static_cast<double>(static_cast<long long>(value));
    char plain[32];
    if (whole && std::strchr(text, 'e') != nullptr &&
        std::snprintf(plain, sizeof plain, "%.0f", value) <= static_cast<int>(std::strlen(text)))
        return plain;
    return text;
}

bool readDecimal(std::string_view text, double& value) {
    // strtod also reads blanks, a plus sign and hexadecimal, which these
    // texts never hold.
    constexpr std::string_view NUMBER_CHARACTERS = "0123456789.eE+-infatyINFATY";
    char copy[64];
    if (text.empty() || text.size() >= sizeof copy || text.front() == '+' ||
        text.find_first_not_of(NUMBER_CHARACTERS) != std::string_view::npos)
        return false;
    text.copy(copy, text.size());
    copy[text.size()] = '\0';
    char* end = nullptr;
    errno = 0;
    const double read = std::strtod(copy, &end);
    if (end != copy + text.size() || errno == ERANGE)
        return false;
    value = read;
    return true;
}

std::string serialise(const FontCache& cache) {
    std::string out(HEADER);
    out += '\n';
    for (const auto& [name, value] : cache.key.settings)
        out += "set " + escape(name) + ' ' + escape(value) + '\n';
    for (const FileStamp& s : cache.key.files) {
        out += "file " + escape(s.path) + (s.present ? " 1 " : " 0 ") + std::to_string(s.device) +
               ' ' + std::to_string(s.inode) + ' ' + std::to_string(s.size) + ' ' +
               std::to_string(s.modified) + ' ' + std::to_string(s.changed) + '\n';
    }
    for (const CachedFace& face : cache.faces) {
        out += "face\n";
        for (const PatternElement& e : face.elements) {
            out += "element " + escape(e.object) + ' ' + e.value.type + ' ' + escape(e.value.text) +
                   '\n';
        }
        appendCharacters(out, "covers", face.covers);
    }
    appendCharacters(out, "uncovered", cache.uncovered);
    if (cache.glyphs)
        appendGlyphs(out, *cache.glyphs);
    out += "end\n";
    return out;
}

std::optional<FontCache> parse(std::string_view text) {
    if (text.size() > MAX_CACHE_BYTES ||
        text.substr(0, HEADER.size() + 1) != std::string(HEADER) + '\n')
        return std::nullopt;
    text.remove_prefix(HEADER.size() + 1);
    FontCache cache;
    bool ended = false;
    std::vector<std::string_view> line;
    while (!text.empty() && !ended) {
        const std::size_t newline = text.find('\n');
        if (newline == std::string_view::npos ||
            !parseLine(text.substr(0, newline), cache, ended, line))
            return std::nullopt;
        text.remove_prefix(newline + 1);
    }
    if (!ended || !text.empty() || cache.faces.empty() || !stampsEveryFace(cache) ||
        !glyphFacesExist(cache))
        return std::nullopt;
    return cache;
}

bool keyHolds(const CacheKey& stored,
              const std::vector<std::pair<std::string, std::string>>& settings,
              const std::function<FileStamp(const std::string&)>& stamp) {
    if (stored.settings != settings)
        return false;
    return std::all_of(stored.files.begin(), stored.files.end(),
                       [&](const FileStamp& file) { return stamp(file.path) == file; });
}

bool accountsFor(const FontCache& cache, std::u32string_view needed) {
    const auto listed = [](std::u32string_view in, char32_t c) {
        return in.find(c) != std::u32string_view::npos;
    };
    return std::all_of(needed.begin(), needed.end(), [&](char32_t c) {
        return listed(cache.uncovered, c) ||
               std::any_of(cache.faces.begin(), cache.faces.end(),
                           [&](const CachedFace& f) { return listed(f.covers, c); });
    });
}

const CachedGlyph* glyphOf(const CachedGlyphs& glyphs, char32_t c) {
    const auto found = std::find_if(glyphs.glyphs.begin(), glyphs.glyphs.end(),
                                    [c](const CachedGlyph& g) { return g.character == c; });
    return found == glyphs.glyphs.end() ? nullptr : &*found;
}

bool glyphsDraw(const FontCache& cache, std::u32string_view text, std::u32string_view needed) {
    if (!cache.glyphs)
        return false;
    const auto drawn = [&](char32_t c) { return glyphOf(*cache.glyphs, c) != nullptr; };
    const auto byItsFace = [&](char32_t c) {
        std::size_t face = 0;
        while (face < cache.faces.size() &&
               cache.faces[face].covers.find(c) == std::u32string::npos)
            ++face;
        const CachedGlyph* glyph = glyphOf(*cache.glyphs, c);
        return glyph != nullptr && glyph->face == (face < cache.faces.size() ? face : 0);
    };
    return std::all_of(text.begin(), text.end(), drawn) &&
           std::all_of(needed.begin(), needed.end(), byItsFace);
}

} // namespace velmora::fontcache
