#include "config_lint.h"

#include "config/config_file.h"
#include "text/text_codec.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace velmora::check {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// A piece of the file quoted in a message, shortened when it is long.
std::u16string quoted(std::u16string_view text) {
    constexpr std::size_t maxShown = 60;
    std::u16string out = u"\"";
    if (text.size() <= maxShown) {
        out += text;
    } else {
        std::u16string_view head = text.substr(0, maxShown);
        if (head.back() >= 0xD800 && head.back() <= 0xDBFF)
            head.remove_suffix(1); // do not split a surrogate pair
        out += head;
        out += u"…";
    }
    out += u'"';
    return out;
}

std::u16string section(std::u16string_view name) {
    std::u16string out = u"[";
    out += name;
    out += u']';
    return out;
}

// For a line that starts with a blank: what the blank keeps it from being.
std::u16string indentNote(std::u16string_view line) {
    const std::size_t first = line.find_first_not_of(u" \t");
    if (first == 0 || first == std::u16string_view::npos)
        return {};
    if (line[first] == u'#')
        return u" (it starts with a blank, so it is not a comment)";
    if (line[first] == u'[')
        return u" (it starts with a blank, so it is not a section header)";
    return {};
}

// A key of one section, the section given by its place in the document.
struct SectionKey {
    std::size_t section;
    std::u16string key;
    bool operator==(const SectionKey& other) const {
        return section == other.section && key == other.key;
    }
};

struct SectionKeyHash {
    std::size_t operator()(const SectionKey& k) const {
        return std::hash<std::u16string>()(k.key) ^ (k.section * 0x9E3779B97F4A7C15ull);
    }
};

} // namespace

class ConfigLinter::Impl {
public:
    void addLine(const ConfigLine& line) {
        ++lineCount_;
        lintLine(lineCount_, line);
    }

    std::size_t lineCount() const { return lineCount_; }
    std::size_t bytes() const { return bytes_; }

    std::vector<CheckWarning> finish(const ConfigFile& menu, const CompactDocument& whole) {
        lintMenu(menu, whole);
        std::stable_sort(
            warnings_.begin(), warnings_.end(),
            [](const CheckWarning& a, const CheckWarning& b) { return a.line < b.line; });
        return std::move(warnings_);
    }

private:
    void warn(std::size_t line, std::u16string message) {
        // The warning, its text and room for the list to double.
        bytes_ += 2 * sizeof(CheckWarning) + message.capacity() * sizeof(char16_t);
        warnings_.push_back(CheckWarning{line, std::move(message)});
    }

    void lintLine(std::size_t number, const ConfigLine& read) {
        const std::u16string_view line = read.text;
        if (read.replaced)
            warn(number, u"the line holds bytes that are not UTF-8; each was read as the "
                         u"replacement character U+FFFD");
        if (read.cut)
            warn(number, u"the line is longer than 1023 characters; the rest of it is ignored "
                         u"up to the end of the line");
        if (read.cutAtZero)
            warn(number, u"a NUL byte (character 0) ends the line after " + quoted(line) +
                             u"; what follows it is ignored: " + quoted(read.hidden));
        if (line.empty() || line.front() == u'#')
            return;
        if (line.front() == u'[' && line.back() == u']' && line.size() >= 2) {
            current_.assign(line.substr(1, line.size() - 2));
            currentHeader_ = number;
            currentIndex_ = NONE;
            if (!current_.empty() && (isBlank(current_.front()) || isBlank(current_.back())))
                warn(number, u"the section name " + quoted(current_) +
                                 u" has blanks inside the brackets; they are part of the name, "
                                 u"so lookups of the name without them do not find it");
            return;
        }
        const std::u16string_view text = line;
        const std::size_t equals = text.find(u'=');
        if (line.front() == u'[') {
            lintHeaderLike(number, text, equals != std::u16string_view::npos);
            record(number, text.substr(0, equals), false);
            return;
        }
        if (equals == std::u16string_view::npos) {
            warn(number, u"the line has no \"=\"; it is stored as an entry whose key and value are "
                         u"both the whole line" +
                             indentNote(text));
            record(number, text, false);
            return;
        }
        const std::u16string_view key = text.substr(0, equals);
        const std::u16string_view value = text.substr(equals + 1);
        if (!key.empty() && isBlank(key.front())) {
            const std::size_t first = key.find_first_not_of(u" \t");
            std::u16string message = u"the key " + quoted(key) + u" starts with a blank";
            if (first != std::u16string_view::npos && key[first] == u'#')
                message += u", so this line is an entry, not a comment";
            else if (first != std::u16string_view::npos && key[first] == u'[')
                message += u", so this line is an entry, not a section header";
            else
                message += u"; the blank is part of the key";
            warn(number, std::move(message));
        }
        if (!key.empty() && isBlank(key.back()))
            warn(number, u"blank before \"=\": the key is " + quoted(key) +
                             u" with the blank, so a lookup of the key without it fails");
        if (!value.empty() && isBlank(value.front()))
            warn(number,
                 u"blank after \"=\": the value " + quoted(value) + u" starts with the blank");
        if (!value.empty() && isBlank(value.back()))
            warn(number, u"the value " + quoted(value) +
                             u" ends with a blank or tab, which is part of the value");
        record(number, key, true);
    }

    void lintHeaderLike(std::size_t number, std::u16string_view text, bool hasEquals) {
        const std::size_t lastBracket = text.rfind(u']');
        std::u16string message = quoted(text) + u" is not a section header: ";
        const bool trailingOnly =
            lastBracket != std::u16string_view::npos &&
            text.find_first_not_of(u" \t\r", lastBracket + 1) == std::u16string_view::npos;
        if (trailingOnly && text.back() == u'\r')
            message += u"it ends with a carriage return (CR) after \"]\"";
        else if (trailingOnly)
            message += u"it ends with a blank after \"]\"";
        else
            message += u"it starts with \"[\" but does not end with \"]\"";
        if (hasEquals)
            message += u"; it is read as an entry of the section " + section(current_);
        else
            message += u"; it is stored as an entry of the section " + section(current_) +
                       u" and the entries below stay in that section";
        warn(number, std::move(message));
    }

    void record(std::size_t number, std::u16string_view key, bool checkRepeat) {
        if (currentIndex_ == NONE) {
            auto [found, added] = sections_.try_emplace(current_, sectionLines_.size());
            if (added) {
                sectionLines_.push_back(currentHeader_ != 0 ? currentHeader_ : number);
                bytes_ += NODE_BYTES + current_.size() * sizeof(char16_t);
            }
            currentIndex_ = found->second;
        }
        auto [keyFound, keyAdded] =
            keyLines_.try_emplace(SectionKey{currentIndex_, std::u16string(key)}, number);
        if (keyAdded)
            bytes_ += NODE_BYTES + key.size() * sizeof(char16_t);
        if (!keyAdded && checkRepeat)
            warn(number, u"the key " + quoted(key) + u" appears again in the section " +
                             section(current_) + u" (first on line " +
                             decimalText(static_cast<std::int64_t>(keyFound->second)) +
                             u"); lookups see only the first");
    }

    std::size_t sectionLine(std::u16string_view name) const {
        const auto found = sections_.find(std::u16string(name));
        return found == sections_.end() ? 0 : sectionLines_[found->second];
    }

    static bool hasTitle(const ConfigFile& menu, std::u16string_view name) {
        try {
            menu.getString(name, u"title");
            return true;
        } catch (const ConfigError&) {
            return false;
        }
    }

    // What the menu makes of the numbered sections.
    void lintMenu(const ConfigFile& menu, const CompactDocument& whole) {
        std::size_t count = 0;
        while (hasTitle(menu, decimalText(static_cast<std::int64_t>(count + 1))))
            ++count;
        const std::u16string next = decimalText(static_cast<std::int64_t>(count + 1));
        const bool nextExists = whole.find(next) != nullptr;

        for (const DocumentSection& found : whole.sections()) {
            const std::u16string name(found.name);
            if (name.empty() || name.find_first_not_of(u"0123456789") != std::u16string::npos)
                continue;
            lintNumberedSection(name, count, next, nextExists);
        }

        for (std::size_t entry = 1; entry <= count; ++entry) {
            const std::u16string name = decimalText(static_cast<std::int64_t>(entry));
            const std::u16string item =
                u"menu item " + name + u" (" + quoted(menu.getString(name, u"title")) + u")";
            try {
                if (menu.getString(name, u"exec").empty())
                    warn(execLine(name),
                         item + u" has an empty \"exec\" value: picking it starts nothing");
            } catch (const ConfigError&) {
                warn(sectionLine(name), item + u" has no \"exec\" key: picking it starts nothing");
            }
        }
    }

    // A section named by digits that the menu does not show.
    void lintNumberedSection(const std::u16string& name, std::size_t count,
                             const std::u16string& next, bool nextExists) {
        const std::size_t line = sectionLine(name);
        if (name.front() == u'0') {
            const std::size_t digit = name.find_first_not_of(u'0');
            if (digit == std::u16string::npos)
                warn(line,
                     u"the section " + section(name) + u" is never shown: menu items start at [1]");
            else
                warn(line, u"the section " + section(name) +
                               u" is never shown: menu sections are numbered without "
                               u"leading zeros (" +
                               section(std::u16string_view(name).substr(digit)) + u")");
            return;
        }
        // Numbers of more digits than any item count are past the end.
        const bool shown =
            name.size() < 12 && std::stoull(std::string(name.begin(), name.end())) <= count;
        if (shown)
            return;
        if (name == next) {
            warn(line, u"the section " + section(name) +
                           u" has no \"title\" key, so the menu ends before it");
        } else if (count == 0) {
            warn(line, u"the section " + section(name) +
                           u" is never shown: the menu is empty "
                           u"because " +
                           section(next) +
                           (nextExists ? u" has no \"title\" key" : u" is missing"));
        } else {
            warn(line, u"the section " + section(name) +
                           u" is never shown: the menu stops "
                           u"after " +
                           section(decimalText(static_cast<std::int64_t>(count))) + u" because " +
                           section(next) +
                           (nextExists ? u" has no \"title\" key" : u" is missing"));
        }
    }

    std::size_t execLine(std::u16string_view name) const {
        const auto found = sections_.find(std::u16string(name));
        if (found == sections_.end())
            return 0;
        const auto key = keyLines_.find(SectionKey{found->second, u"exec"});
        return key == keyLines_.end() ? sectionLines_[found->second] : key->second;
    }

    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    // A node of a hash map with its key's string, near enough.
    static constexpr std::size_t NODE_BYTES = 96;

    std::size_t lineCount_ = 0;
    std::u16string current_;
    std::size_t currentHeader_ = 0;
    std::size_t currentIndex_ = NONE; // the current section's place, once it exists
    // Section name -> its place in sectionLines_, the line that names it:
    // the header that made it current, or its first entry.
    std::unordered_map<std::u16string, std::size_t> sections_;
    std::vector<std::size_t> sectionLines_;
    std::unordered_map<SectionKey, std::size_t, SectionKeyHash> keyLines_;
    std::vector<CheckWarning> warnings_;
    std::size_t bytes_ = 0;
};

ConfigLinter::ConfigLinter() : impl_(std::make_unique<Impl>()) {}
ConfigLinter::~ConfigLinter() = default;

void ConfigLinter::addLine(const ConfigLine& line) {
    impl_->addLine(line);
}

std::size_t ConfigLinter::lineCount() const {
    return impl_->lineCount();
}

std::size_t ConfigLinter::bytes() const {
    return impl_->bytes();
}

std::vector<CheckWarning> ConfigLinter::finish(const ConfigFile& menu,
                                               const CompactDocument& whole) {
    return impl_->finish(menu, whole);
}

} // namespace velmora::check
