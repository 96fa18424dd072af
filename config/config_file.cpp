#include "config/config_file.h"

#include "text/text_codec.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace velmora {

namespace {

std::u16string sectionMessage(std::u16string_view name) {
    std::u16string message = u"セクション[";
    message += name;
    message += u"]が見つかりません。";
    return message;
}

std::u16string keyMessage(std::u16string_view key) {
    std::u16string message = u"キー[";
    message += key;
    message += u"]が見つかりません。";
    return message;
}

// A section that a menu item's number names: "1" to "2147483647", written
// without leading zeros, as the menu writes the numbers it looks up.
bool isMenuItemName(std::u16string_view name) {
    if (name.empty() || name.size() > 10 || name.front() == u'0')
        return false;
    std::uint64_t number = 0;
    for (const char16_t c : name) {
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(c - u'0');
    }
    return number <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
}

// The values that the launcher's menu looks up (menu/launcher_menu.cpp).
bool isMenuValue(std::u16string_view section, std::u16string_view key) {
    if (section == u"position")
        return key == u"x" || key == u"y" || key == u"xAlign" || key == u"yAlign";
    return (key == u"title" || key == u"exec") && isMenuItemName(section);
}

bool isWideSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

} // namespace

ConfigError::ConfigError(std::u16string message)
    : message_(std::move(message)), utf8Message_(utf16ToUtf8(message_)) {}

std::int32_t parseConfigInt(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isWideSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate the magnitude, stopping once it is past any 32-bit value.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (text[i] - u'0');
    }
    if (negative)
        return magnitude >= limit ? std::numeric_limits<std::int32_t>::min()
                                  : static_cast<std::int32_t>(-magnitude);
    return magnitude >= limit ? std::numeric_limits<std::int32_t>::max()
                              : static_cast<std::int32_t>(magnitude);
}

std::u16string makeConfigPath(Platform& platform, ModuleInstance instance) {
    std::u16string path = platform.getModuleFileName(instance);
    if (path.empty())
        return {};
#ifdef _WIN32
    const std::size_t slash = path.find_last_of(u"\\/");
#else
    const std::size_t slash = path.rfind(u'/');
#endif
    const std::size_t name = slash == std::u16string::npos ? 0 : slash + 1;
    const std::size_t replaced = std::min<std::size_t>(path.size() - name, 3);
    path.replace(path.size() - replaced, replaced, u"ini");
    return path;
}

std::vector<std::u16string_view> splitConfigLineViews(std::u16string_view text,
                                                      std::vector<std::size_t>* cutLines) {
    constexpr std::size_t maxChars = LINE_BUFFER_CHARS - 1;
    std::vector<std::u16string_view> lines;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t feed = text.find(u'\n', pos);
        const std::size_t end = feed == std::u16string_view::npos ? text.size() : feed;
        std::u16string_view line = text.substr(pos, end - pos);
        if (line.size() > maxChars) {
            line = line.substr(0, maxChars);
            if (cutLines != nullptr)
                cutLines->push_back(lines.size());
        }
        // A character 0 ends the text of the line.
        const std::size_t zero = line.find(u'\0');
        if (zero != std::u16string_view::npos)
            line = line.substr(0, zero);
        lines.push_back(line);
        if (feed == std::u16string_view::npos)
            break;
        pos = feed + 1;
    }
    return lines;
}

std::vector<std::u16string> splitConfigLines(std::u16string_view text,
                                             std::vector<std::size_t>* cutLines) {
    const std::vector<std::u16string_view> views = splitConfigLineViews(text, cutLines);
    return std::vector<std::u16string>(views.begin(), views.end());
}

const char16_t* const DEFAULT_CONFIG_LINES[23] = {
    u"# Internet Explorer",
    u"[1]",
    u"title=Internet Explorer",
    u"exec=iexplore.exe",
    u"",
    u"# Opera",
    u"[2]",
    u"title=Opera",
    u"exec=\\Program Files\\Opera\\Opera.exe",
    u"",
    u"# NetFront",
    u"[3]",
    u"title=NetFront",
    u"exec=\\Program Files\\netfront33\\netfront33.exe",
    u"",
    u"[position]",
    u"# 基準",
    u"xAlign=0",
    u"yAlign=0",
    u"",
    u"# 位置",
    u"x=0",
    u"y=0",
};

ConfigFile::ConfigFile(Platform& platform, ModuleInstance instance, ConfigKeep keep)
    : ConfigFile(platform, makeConfigPath(platform, instance), LoadOptions{keep, {}, {}}) {}

ConfigFile::ConfigFile(Platform& platform, std::u16string path)
    : platform_(&platform), path_(std::move(path)) {
    load();
}

ConfigFile::ConfigFile(Platform& platform, std::u16string path, LoadOptions options)
    : platform_(&platform), path_(std::move(path)), keep_(options.keep),
      observer_(std::move(options.onLine)), entryObserver_(std::move(options.onEntry)) {
    load();
}

void ConfigFile::clear() {
    sectionIndex_.clear();
    sections_.clear();
    fileMissing_ = false;
    readLimitReached_ = false;
    readByCodePage_ = false;
}

ConfigSection* ConfigFile::lookupSection(std::u16string_view name) const {
    const auto found = sectionIndex_.find(name);
    return found == sectionIndex_.end() ? nullptr : found->second;
}

const ConfigSection& ConfigFile::findSection(std::u16string_view name) const {
    if (ConfigSection* section = lookupSection(name))
        return *section;
    throw ConfigError(sectionMessage(name));
}

const ConfigEntry& ConfigFile::findKey(const ConfigSection::Entries& entries,
                                       std::u16string_view key) {
    for (const ConfigEntry& entry : entries) {
        if (entry.key == key)
            return entry;
    }
    throw ConfigError(keyMessage(key));
}

ConfigSection::Entries& ConfigFile::sectionFor(std::u16string_view name, bool create) {
    if (ConfigSection* section = lookupSection(name))
        return section->entries;
    if (!create)
        throw ConfigError(sectionMessage(name));
    ConfigSection& added = sections_.emplace_back(ConfigSection{std::u16string(name), {}});
    try {
        sectionIndex_.emplace(added.name, &added);
    } catch (...) {
        sections_.pop_back(); // an addition links a whole element or nothing
        throw;
    }
    return added.entries;
}

const std::u16string& ConfigFile::getString(std::u16string_view section,
                                            std::u16string_view key) const {
    return findKey(findSection(section).entries, key).value;
}

std::int32_t ConfigFile::getInt(std::u16string_view section, std::u16string_view key) const {
    return parseConfigInt(getString(section, key));
}

std::int32_t ConfigFile::getIntDefault(std::u16string_view section, std::u16string_view key,
                                       std::int32_t defaultValue, bool storeDefault) {
    try {
        return getInt(section, key);
    } catch (const ConfigError&) {
        if (storeDefault)
            setInt(section, key, defaultValue, false);
        return defaultValue;
    }
}

bool ConfigFile::setString(std::u16string_view section, std::u16string_view key,
                           std::u16string_view value, bool keepExisting) {
    ConfigSection::Entries& entries = sectionFor(section, true);
    for (ConfigEntry& entry : entries) {
        if (entry.key == key) {
            if (keepExisting)
                return false;
            entry.value = std::u16string(value);
            return true;
        }
    }
    entries.push_back(ConfigEntry{std::u16string(key), std::u16string(value)});
    return true;
}

bool ConfigFile::setInt(std::u16string_view section, std::u16string_view key, std::int32_t value,
                        bool keepExisting) {
    return setString(section, key, decimalText(value), keepExisting);
}

void ConfigFile::addEntry(std::u16string_view section, std::u16string_view key,
                          std::u16string_view value) {
    sectionFor(section, true).push_back(ConfigEntry{std::u16string(key), std::u16string(value)});
}

void ConfigFile::parseLines(const std::vector<std::u16string>& lines) {
    parseLines(std::vector<std::u16string_view>(lines.begin(), lines.end()));
}

void ConfigFile::parseLines(const std::vector<std::u16string_view>& lines) {
    std::u16string current;
    for (const std::u16string_view line : lines)
        parseLine(line, current);
}

void ConfigFile::parseLine(std::u16string_view line, std::u16string& current) {
    if (line.empty() || line.front() == u'#')
        return;
    if (line.front() == u'[' && line.back() == u']' && line.size() >= 2) {
        current.assign(line.substr(1, line.size() - 2));
        return;
    }
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos) {
        // No "=": the key runs to the end of the line and the value starts
        // where the "=" would have been looked for, at the start.
        takeEntry(current, line, line);
    } else {
        takeEntry(current, line.substr(0, equals), line.substr(equals + 1));
    }
}

void ConfigFile::takeEntry(std::u16string_view section, std::u16string_view key,
                           std::u16string_view value) {
    if (entryObserver_)
        entryObserver_(section, key, value);
    if (keep_ == ConfigKeep::MenuValues) {
        if (!isMenuValue(section, key))
            return;
        if (const ConfigSection* found = lookupSection(section)) {
            for (const ConfigEntry& entry : found->entries) {
                if (entry.key == key)
                    return; // a lookup finds the first
            }
        }
    }
    addEntry(section, key, value);
}

std::unique_ptr<ByteReader> ConfigFile::openFile() {
    if (platform_ == nullptr || path_.empty())
        return nullptr;
    return platform_->openFileForRead(path_);
}

void ConfigFile::load() {
    clear();
    std::unique_ptr<ByteReader> reader = openFile();
    ConfigEncoding encoding = ConfigEncoding::Utf8;
    if (reader && platform_->decodesLegacyText()) {
        // Whether the file is UTF-8 is known only at its end; a second
        // reading decodes it, so that no copy of the file is ever held.
        if (!isUtf8Stream(*reader))
            encoding = ConfigEncoding::CodePage;
        reader = openFile();
    }
    if (!reader) {
        fileMissing_ = true;
        return;
    }
    // Each line is parsed as soon as it is read, so that only the document
    // grows with the file, never a copy of its text.
    std::u16string current;
    const ConfigReadResult result = readConfigLines(
        *reader, platform_,
        [this, &current](const ConfigLine& line) {
            if (observer_)
                observer_(line);
            parseLine(line.text, current);
        },
        encoding);
    readLimitReached_ = result.limitReached;
    readByCodePage_ = result.legacyDecoded;
}

std::string defaultConfigBytes(std::u16string_view lineEnd) {
    std::string bytes;
    TextWriter writer(bytes, lineEnd);
    for (const char16_t* line : DEFAULT_CONFIG_LINES)
        writer.putLine(line);
    return bytes;
}

void ConfigFile::writeDefault() {
    if (platform_ == nullptr || path_.empty())
        return;
    // Only when nothing is at the path: a file that exists but could not be
    // read is somebody's configuration and is never overwritten. The text is
    // published whole, so that a failed write (a full disk) leaves no cut or
    // empty file behind for every later start to read; the next start tries
    // again. The file read afterwards is this one, or the one that another
    // start made meanwhile.
    if (!platform_->createFileWithContent(path_, defaultConfigBytes(platform_->lineEnd())))
        return;
    load();
}

} // namespace velmora
