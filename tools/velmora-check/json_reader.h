// A strict reader of JSON text (RFC 8259), with strings read as UTF-16 so
// that escaped lone surrogates come back as the units they stand for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::check {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string numberText;              // the number as written
    std::optional<std::int64_t> integer; // when it is an integer that fits
    std::u16string string;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::u16string, JsonValue>> members; // in document order

    // The first member named `key`; null when there is none or this is not
    // an object.
    const JsonValue* find(std::u16string_view key) const;
};

// One JSON value with optional white space around it; none when the text is
// not well-formed JSON (invalid UTF-8 included) or nests deeper than 200.
std::optional<JsonValue> parseJson(std::string_view text);

} // namespace velmora::check
