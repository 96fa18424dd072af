// The launcher's configuration: the in-memory document of sections and
// entries, the file it is read from, and the default file written when there
// is none.
//
// The file is a text of lines: "#" comments, "[name]" section headers and
// "key=value" entries. Nothing is trimmed and names are compared exactly, so
// "title =x" has the key "title " and is not found by a lookup of "title".
#pragma once

#include "config/config_reader.h"
#include "config/stable_list.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora {

// A line holds at most LINE_BUFFER_CHARS - 1 UTF-16 units; the rest of a
// longer line is dropped up to its line feed.
constexpr std::size_t LINE_BUFFER_CHARS = 1024;

struct ConfigEntry {
    std::u16string key;
    std::u16string value;
};

struct ConfigSection {
    using Entries = StableList<ConfigEntry>;
    std::u16string name;
    Entries entries;
};

// A failed section or key lookup. Callers that can go on without the value
// catch exactly this type.
class ConfigError : public std::exception {
public:
    explicit ConfigError(std::u16string message);
    const std::u16string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8Message_.c_str(); }

private:
    std::u16string message_;
    std::string utf8Message_;
};

// The configuration file's path: the executable's full file name with the
// last three characters of its file name replaced by "ini" ("velmora.exe"
// -> "velmora.ini", "velmora" -> "velmini"); a file name of fewer than three
// characters is replaced whole ("ve" -> "ini"), so that the file always lies
// in the executable's own folder. The folder ends at the last "/" (or, on
// Windows, "\\"). Empty when the executable's name is unknown, so that nothing
// is opened.
std::u16string makeConfigPath(Platform& platform, ModuleInstance instance);

// The lines of a configuration text, split at line feeds. A line keeps its
// first LINE_BUFFER_CHARS - 1 units and loses the rest up to its line feed; a
// character 0 ends the line's text. Every read step yields a line, so a text
// that ends with a line feed has a final empty line and the empty text has
// one empty line. When `cutLines` is given, the 0-based indices of the lines
// that were cut short are added to it.
std::vector<std::u16string> splitConfigLines(std::u16string_view text,
                                             std::vector<std::size_t>* cutLines = nullptr);
// The same lines as views into `text`, without copying them.
std::vector<std::u16string_view> splitConfigLineViews(std::u16string_view text,
                                                      std::vector<std::size_t>* cutLines = nullptr);

// The default configuration file, line by line.
extern const char16_t* const DEFAULT_CONFIG_LINES[23];

// The bytes of the default configuration file with `lineEnd` after each line.
std::string defaultConfigBytes(std::u16string_view lineEnd);

// What a load keeps of the file.
enum class ConfigKeep {
    // Every entry, as the file has it.
    Everything,
    // Only what the launcher's menu looks up: "title" and "exec" of the
    // sections that a menu item's number names ("1", "2", ...), and "x",
    // "y", "xAlign" and "yAlign" of "position"; of a repeated key only the
    // first, the one that a lookup finds. Every lookup of those values
    // answers as it would on the whole document, while the document stays
    // as small as the menu, whatever else the file holds.
    MenuValues,
};

class ConfigFile {
public:
    using Sections = StableList<ConfigSection>;
    // Sees every line that a load reads, before it is parsed.
    using LineObserver = std::function<void(const ConfigLine&)>;
    // Sees every entry that a load parses, with the name of the section it
    // belongs to, whether or not the document keeps it.
    using EntryObserver = std::function<void(std::u16string_view section, std::u16string_view key,
                                             std::u16string_view value)>;
    struct LoadOptions {
        ConfigKeep keep = ConfigKeep::Everything;
        LineObserver onLine;
        EntryObserver onEntry;
    };

    // An empty document that is tied to no file (for building one in memory).
    ConfigFile() = default;
    // Forms the path from the executable's name and loads the file.
    ConfigFile(Platform& platform, ModuleInstance instance,
               ConfigKeep keep = ConfigKeep::Everything);
    // Loads the file at `path`.
    ConfigFile(Platform& platform, std::u16string path);
    // Loads the file at `path` as `options` say.
    ConfigFile(Platform& platform, std::u16string path, LoadOptions options);

    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;
    ~ConfigFile() = default;

    const std::u16string& path() const { return path_; }
    const Sections& sections() const { return sections_; }
    // True when the last load could not open the file.
    bool fileMissing() const { return fileMissing_; }
    // True when the last load stopped at CONFIG_READ_LIMIT bytes of a longer file.
    bool readLimitReached() const { return readLimitReached_; }
    // True when the last load read a file that is not UTF-8 through the
    // system's code page.
    bool readByCodePage() const { return readByCodePage_; }

    void clear();
    // The first section named `name`; throws ConfigError when there is none.
    const ConfigSection& findSection(std::u16string_view name) const;
    // The first entry of `entries` whose key is `key`; throws ConfigError.
    static const ConfigEntry& findKey(const ConfigSection::Entries& entries,
                                      std::u16string_view key);
    // The entries of the section `name`, made when `create` is true and the
    // section is missing; otherwise a missing section throws ConfigError.
    ConfigSection::Entries& sectionFor(std::u16string_view name, bool create);

    const std::u16string& getString(std::u16string_view section, std::u16string_view key) const;
    std::int32_t getInt(std::u16string_view section, std::u16string_view key) const;
    std::int32_t getIntDefault(std::u16string_view section, std::u16string_view key,
                               std::int32_t defaultValue, bool storeDefault);
    bool setString(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                   bool keepExisting);
    bool setInt(std::u16string_view section, std::u16string_view key, std::int32_t value,
                bool keepExisting);
    void addEntry(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // Replaces the document by the content of the file at path(), read and
    // parsed line by line. A platform with a legacy code page reads the file
    // twice: once to tell whether it is UTF-8, once to read its lines.
    void load();
    // Turns lines into sections and entries, as a load does while reading.
    void parseLines(const std::vector<std::u16string>& lines);
    void parseLines(const std::vector<std::u16string_view>& lines);
    // Creates the default file when nothing exists at path(), then loads it.
    // The file appears whole or not at all.
    void writeDefault();

private:
    // One line of a load; `current` is the current section name.
    void parseLine(std::u16string_view line, std::u16string& current);
    // One entry of a load, kept as keep_ says.
    void takeEntry(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    ConfigSection* lookupSection(std::u16string_view name) const;
    std::unique_ptr<ByteReader> openFile();

    Platform* platform_ = nullptr;
    std::u16string path_;
    Sections sections_;
    bool fileMissing_ = false;
    bool readLimitReached_ = false;
    bool readByCodePage_ = false;
    ConfigKeep keep_ = ConfigKeep::Everything;
    LineObserver observer_;
    EntryObserver entryObserver_;
    // Section name -> the section of that name. Names are unique, so the
    // first match of a walk from the front is the only match. The keys view
    // the sections' own names, which never move or change.
    std::unordered_map<std::u16string_view, ConfigSection*> sectionIndex_;
};

// Converts a value text the way the standard wide text-to-integer conversion
// does (leading white space, optional sign, digits up to the first other
// character; 0 when there are none), saturating to the 32-bit limits.
std::int32_t parseConfigInt(std::u16string_view text);

} // namespace velmora
