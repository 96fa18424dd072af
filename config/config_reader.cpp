#include "config/config_reader.h"

#include "config/config_file.h"
#include "text/text_codec.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace velmora {

namespace {

constexpr std::size_t MAX_UNITS = LINE_BUFFER_CHARS - 1;
// Bytes of a line kept for decoding. Each code point takes at most four
// bytes and gives at least one unit, so this many bytes hold more than
// MAX_UNITS + 1 units even when a sequence is cut at the end: a line that
// has more is known to be too long, and its further bytes are skipped up to
// the line feed. The signature's three bytes come on top for the first line.
constexpr std::size_t KEPT_BYTES = 4 * (MAX_UNITS + 2) + 3 + 8;

// Hands a decoded line (whole, or a prefix known to be too long) on as the
// parser sees it.
void emitLine(std::u16string_view units, bool tooLong, bool replaced,
              const std::function<void(const ConfigLine&)>& onLine) {
    ConfigLine line;
    line.replaced = replaced;
    line.cut = tooLong || units.size() > MAX_UNITS;
    if (units.size() > MAX_UNITS)
        units = units.substr(0, MAX_UNITS);
    const std::size_t zero = units.find(u'\0');
    if (zero != std::u16string_view::npos) {
        line.cutAtZero = true;
        line.hidden = units.substr(zero + 1);
        units = units.substr(0, zero);
    }
    line.text = units;
    onLine(line);
}

// `bytes` without a UTF-8 sequence that its end cuts short.
std::string_view withoutCutCharacter(std::string_view bytes) {
    for (std::size_t back = 1; back <= 4 && back <= bytes.size(); ++back) {
        const auto b = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((b & 0xC0) == 0x80)
            continue; // a continuation byte: look further back
        const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return back < length ? bytes.substr(0, bytes.size() - back) : bytes;
    }
    return bytes;
}

// Cuts a stream of bytes into lines, keeping only what a line needs, and
// decodes each line as UTF-8 or, when `codePage` is given, by its legacy code
// page.
class LineCutter {
public:
    LineCutter(const std::function<void(const ConfigLine&)>& onLine, Platform* codePage)
        : onLine_(onLine), codePage_(codePage) {}

    void feed(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t feed = bytes.find('\n');
            const std::string_view part = bytes.substr(0, feed);
            keep(part);
            if (feed == std::string_view::npos)
                return;
            endLine(true);
            bytes.remove_prefix(feed + 1);
        }
    }

    // The end of the file ends the last line, which may be empty.
    void finish() { endLine(false); }

private:
    void keep(std::string_view part) {
        if (overflow_)
            return;
        const std::size_t room = KEPT_BYTES - kept_.size();
        if (part.size() > room) {
            kept_.append(part.substr(0, room));
            overflow_ = true;
        } else {
            kept_.append(part);
        }
    }

    void endLine(bool byFeed) {
        std::string_view bytes = kept_;
        if (first_) {
            constexpr std::string_view signature = "\xEF\xBB\xBF";
            if (bytes.substr(0, signature.size()) == signature)
                bytes.remove_prefix(signature.size());
            first_ = false;
        }
        // CR LF reads as LF; a CR cut off with the end of a long line does
        // not matter.
        if (byFeed && !overflow_ && !bytes.empty() && bytes.back() == '\r')
            bytes.remove_suffix(1);
        if (codePage_ != nullptr) {
            if (std::optional<std::u16string> text = codePage_->decodeLegacyText(bytes)) {
                emitTextLines(*text, overflow_, onLine_);
                kept_.clear();
                overflow_ = false;
                return;
            }
        }
        // The kept bytes of a line that is too long may end inside a
        // character, which is no fault of the file.
        if (overflow_)
            bytes = withoutCutCharacter(bytes);
        const bool replaced = !isValidUtf8(bytes);
        units_ = utf8ToUtf16(bytes);
        emitLine(units_, overflow_, replaced, onLine_);
        kept_.clear();
        overflow_ = false;
    }

    // The lines of a decoded text, CR LF read as LF. A code page makes one
    // line of the bytes of one line; the split only keeps any other decoding
    // from slipping a line feed into a line.
    static void emitTextLines(std::u16string_view text, bool tooLong,
                              const std::function<void(const ConfigLine&)>& onLine) {
        for (;;) {
            const std::size_t feed = text.find(u'\n');
            std::u16string_view line = text.substr(0, feed);
            if (feed != std::u16string_view::npos && !line.empty() && line.back() == u'\r')
                line.remove_suffix(1);
            emitLine(line, tooLong && feed == std::u16string_view::npos, false, onLine);
            if (feed == std::u16string_view::npos)
                return;
            text.remove_prefix(feed + 1);
        }
    }

    const std::function<void(const ConfigLine&)>& onLine_;
    Platform* codePage_;
    std::string kept_;
    std::u16string units_;
    bool overflow_ = false;
    bool first_ = true;
};

// Reads at most CONFIG_READ_LIMIT bytes from `reader`, handing each chunk to
// `onBytes` until it answers false; true when the file goes on past the limit.
template <typename OnBytes> bool readLimited(ByteReader& reader, OnBytes onBytes) {
    std::array<unsigned char, 16384> chunk{};
    std::uint64_t total = 0;
    for (;;) {
        const std::uint64_t room = CONFIG_READ_LIMIT - total;
        if (room == 0) {
            // Only a file that goes on past the limit is reported as cut. A
            // whole chunk is asked for: some files (pagemap) refuse odd sizes.
            return reader.read(chunk.data(), chunk.size()) > 0;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(room, chunk.size()));
        const std::ptrdiff_t n = reader.read(chunk.data(), want);
        if (n <= 0)
            return false;
        total += static_cast<std::uint64_t>(n);
        if (!onBytes(std::string_view(reinterpret_cast<const char*>(chunk.data()),
                                      static_cast<std::size_t>(n))))
            return false;
    }
}

} // namespace

bool isUtf8Stream(ByteReader& reader) {
    std::string pending; // a chunk, then the start of a sequence that its end cut
    bool valid = true;
    readLimited(reader, [&](std::string_view bytes) {
        pending.append(bytes);
        const std::string_view whole = withoutCutCharacter(pending);
        valid = isValidUtf8(whole);
        pending.erase(0, whole.size());
        return valid; // the first invalid byte decides
    });
    return valid && pending.empty();
}

ConfigReadResult readConfigLines(ByteReader& reader, Platform* platform,
                                 const std::function<void(const ConfigLine&)>& onLine,
                                 ConfigEncoding encoding) {
    ConfigReadResult result;
    result.legacyDecoded = encoding == ConfigEncoding::CodePage && platform != nullptr;
    LineCutter cutter(onLine, result.legacyDecoded ? platform : nullptr);
    result.limitReached = readLimited(reader, [&cutter](std::string_view bytes) {
        cutter.feed(bytes);
        return true;
    });
    cutter.finish();
    return result;
}

} // namespace velmora
