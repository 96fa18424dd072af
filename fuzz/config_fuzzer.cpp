// Fuzzes the configuration path end to end: the text layer and the line
// splitter, the parser, the document's queries on names taken from the input,
// the menu against the imitation system, and the checker's two reports; and
// the same bytes as terminal input, decoded and driving a drawn menu's
// navigation and hit-testing. Any broken invariant aborts, which the fuzzer
// reports as a finding.
#include "check_report.h"
#include "config/config_file.h"
#include "display/terminal/terminal_input.h"
#include "json_reader.h"
#include "menu/launcher_menu.h"
#include "menu/menu_session.h"
#include "platform/fake/platform_fake.h"
#include "text/text_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace velmora;

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);           \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

const std::u16string FILE_PATH = u"/fuzz/velmini";
const std::u16string COMMAND_LINE = u"--from fuzz";

// One file in the imitation system, handed out in small, varying pieces as a
// real file may be; a menu that answers a pick taken from the input, and
// only with the command of one of its items, as a real menu does; a shell
// that accepts every request.
std::unique_ptr<PlatformFake> fuzzPlatform(std::string_view file, unsigned int pick) {
    auto platform = std::make_unique<PlatformFake>();
    platform->files[FILE_PATH] = FakeFile{std::string(file)};
    platform->readPiece = [](std::size_t offset) { return 1 + offset % 61; };
    platform->screenWidth = 241;
    platform->screenHeight = 319;
    platform->pick = [pick](const std::vector<FakeMenuItem>& items, unsigned int, int, int) {
        for (const FakeMenuItem& item : items) {
            FUZZ_CHECK(item.flags == MF_STRING);
            if (item.commandId == pick)
                return pick;
        }
        return 0u;
    };
    return platform;
}

// How often the imitation system was asked for the screen's size by `index`.
std::size_t metricsAsked(const PlatformFake& platform, int index) {
    std::size_t count = 0;
    for (const FakeCall& call : platform.calls) {
        if (call.name == "GetSystemMetrics" && call.args.at(0) == decimalText(index))
            ++count;
    }
    return count;
}

// Files created: the launcher's own code never writes here.
std::size_t writesTried(const PlatformFake& platform) {
    std::size_t count = 0;
    for (const FakeCall& call : platform.calls) {
        if (call.name == "fopen" && call.args.at(1) != u"r")
            ++count;
    }
    return count;
}

// The loader: what the lines may hold, and the document they make.
std::vector<std::u16string> checkLoader(std::string_view bytes, ConfigFile& document) {
    std::vector<std::size_t> cutLines;
    const std::u16string text = decodeTextFile(bytes);
    const std::vector<std::u16string> lines = splitConfigLines(text, &cutLines);
    FUZZ_CHECK(!lines.empty());
    for (const std::u16string& line : lines) {
        FUZZ_CHECK(line.size() < LINE_BUFFER_CHARS);
        FUZZ_CHECK(line.find(u'\n') == std::u16string::npos);
        FUZZ_CHECK(line.find(u'\0') == std::u16string::npos);
    }
    FUZZ_CHECK(std::is_sorted(cutLines.begin(), cutLines.end()));
    for (std::size_t index : cutLines)
        FUZZ_CHECK(index < lines.size());

    // The stream reader, fed in small pieces, yields the same lines as the
    // whole text split at once, cut where it is cut.
    {
        const std::unique_ptr<PlatformFake> files = fuzzPlatform(bytes, 0);
        const std::unique_ptr<ByteReader> reader = files->openFileForRead(FILE_PATH);
        FUZZ_CHECK(reader != nullptr);
        std::vector<std::u16string> streamed;
        std::vector<std::size_t> streamedCuts;
        const ConfigReadResult result =
            readConfigLines(*reader, nullptr, [&](const ConfigLine& line) {
                if (line.cut)
                    streamedCuts.push_back(streamed.size());
                FUZZ_CHECK(!line.cutAtZero ||
                           line.text.size() + 1 + line.hidden.size() <= LINE_BUFFER_CHARS - 1);
                streamed.emplace_back(line.text);
            });
        FUZZ_CHECK(!result.limitReached);
        FUZZ_CHECK(streamed == lines);
        FUZZ_CHECK(streamedCuts == cutLines);
    }

    document.parseLines(lines);
    std::size_t entries = 0;
    for (const ConfigSection& section : document.sections()) {
        FUZZ_CHECK(&document.findSection(section.name) == &section); // names are unique
        FUZZ_CHECK(!section.entries.empty()); // a section exists only through an entry
        entries += section.entries.size();
    }
    std::size_t entryLines = 0;
    for (const std::u16string& line : lines) {
        const bool header =
            !line.empty() && line.front() == u'[' && line.back() == u']' && line.size() >= 2;
        if (!line.empty() && line.front() != u'#' && !header)
            ++entryLines;
    }
    FUZZ_CHECK(entries == entryLines);
    return lines;
}

// The queries, on names that the input supplies.
void checkQueries(ConfigFile& document, const std::vector<std::u16string>& lines) {
    std::size_t checked = 0;
    for (const ConfigSection& section : document.sections()) {
        if (++checked > 32)
            break;
        for (const ConfigEntry& entry : section.entries) {
            const ConfigEntry& first = ConfigFile::findKey(section.entries, entry.key);
            FUZZ_CHECK(&document.getString(section.name, entry.key) == &first.value);
            FUZZ_CHECK(document.getInt(section.name, entry.key) == parseConfigInt(first.value));
        }
    }

    // Pairs of lines as section and key, in a document of its own: lookups
    // either find the first entry or throw, and updates are seen by lookups.
    for (std::size_t i = 0; i + 1 < lines.size() && i < 64; i += 2) {
        const std::u16string& name = lines[i];
        const std::u16string& key = lines[i + 1];
        bool found = true;
        std::int32_t stored = 0;
        try {
            stored = document.getInt(name, key);
        } catch (const ConfigError& error) {
            found = false;
            FUZZ_CHECK(!error.message().empty());
            FUZZ_CHECK(isValidUtf8(error.what()));
        }
        const std::int32_t value = document.getIntDefault(name, key, -7, true);
        FUZZ_CHECK(value == (found ? stored : -7));
        FUZZ_CHECK(document.getInt(name, key) == value);
        FUZZ_CHECK(!document.setString(name, key, key, true));
        FUZZ_CHECK(document.setString(name, key, name, false));
        FUZZ_CHECK(document.getString(name, key) == name);
        FUZZ_CHECK(document.setInt(name, key, parseConfigInt(key), false));
        FUZZ_CHECK(document.getInt(name, key) == parseConfigInt(key));
    }
}

bool isTrackingFlags(unsigned int flags) {
    const unsigned int horizontal = flags & 0x0C;
    const unsigned int vertical = flags & 0x30;
    return (flags & ~0x3Cu) == TPM_RETURNCMD && horizontal != 0x0C && vertical != 0x30;
}

// The menu against the in-memory system, with a pick taken from the input.
void checkMenu(std::string_view bytes, unsigned int pick) {
    const auto fake = fuzzPlatform(bytes, pick);
    PlatformFake& platform = *fake;
    ConfigFile config(platform, FILE_PATH);
    FUZZ_CHECK(!config.fileMissing());
    runLauncherMenu(platform, config, COMMAND_LINE);

    FUZZ_CHECK(platform.tracked.has_value());
    FUZZ_CHECK(isTrackingFlags(platform.tracked->flags));
    // The screen is asked for only where an anchor code needs it.
    const auto asked = [&platform](int index) {
        return static_cast<int>(metricsAsked(platform, index));
    };
    const std::int32_t xAlign = config.getInt(u"position", u"xAlign");
    const std::int32_t yAlign = config.getInt(u"position", u"yAlign");
    FUZZ_CHECK(asked(SM_CXSCREEN) == (xAlign == 1 || xAlign == 2 ? 1 : 0));
    FUZZ_CHECK(asked(SM_CYSCREEN) == (yAlign == 1 || yAlign == 2 ? 1 : 0));
    FUZZ_CHECK(static_cast<int>(platform.countCalls("GetSystemMetrics")) == asked(0) + asked(1));
    const std::vector<FakeMenuItem>& items = platform.shownItems;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::u16string name = decimalText(static_cast<std::int64_t>(i + 1));
        FUZZ_CHECK(items[i].commandId == MENU_COMMAND_BASE + i + 1);
        FUZZ_CHECK(items[i].text == config.getString(name, u"title"));
    }
    FUZZ_CHECK(writesTried(platform) == 0);

    // A launch happens exactly for a picked item whose "exec" is not empty.
    std::optional<std::u16string> exec;
    if (pick > MENU_COMMAND_BASE && pick - MENU_COMMAND_BASE <= items.size()) {
        try {
            exec = config.getString(decimalText(pick - MENU_COMMAND_BASE), u"exec");
        } catch (const ConfigError&) {
        }
    }
    if (exec && !exec->empty()) {
        FUZZ_CHECK(platform.shellRequests.size() == 1);
        FUZZ_CHECK(platform.shellRequests[0].verb == u"Open");
        FUZZ_CHECK(platform.shellRequests[0].file == *exec);
        FUZZ_CHECK(platform.shellRequests[0].parameters == COMMAND_LINE);
    } else {
        FUZZ_CHECK(platform.shellRequests.empty());
    }
}

// The checker's reports: valid UTF-8, and the JSON reads back as the document.
void checkReports(std::string_view bytes, const ConfigFile& document, std::size_t lineCount,
                  check::ScreenSize screen) {
    const auto base = fuzzPlatform(bytes, 0);
    const check::CheckReport report = check::checkConfigFile(*base, FILE_PATH, screen);
    FUZZ_CHECK(writesTried(*base) == 0 && base->shellRequests.empty());
    FUZZ_CHECK(!report.fileMissing);
    FUZZ_CHECK(isTrackingFlags(report.flags));
    for (const check::CheckWarning& warning : report.warnings)
        FUZZ_CHECK(warning.line >= 1 && warning.line <= lineCount);

    const std::string json = check::reportToJson(report);
    FUZZ_CHECK(isValidUtf8(json));
    FUZZ_CHECK(std::count(json.begin(), json.end(), '\n') == 1 && json.back() == '\n');
    const std::optional<check::JsonValue> parsed = check::parseJson(json);
    FUZZ_CHECK(parsed.has_value());
    const check::JsonValue* sections = parsed->find(u"sections");
    FUZZ_CHECK(sections != nullptr && sections->items.size() == document.sections().size());
    for (std::size_t s = 0; s < sections->items.size(); ++s) {
        const ConfigSection& expected = document.sections()[s];
        const check::JsonValue& section = sections->items[s];
        FUZZ_CHECK(section.find(u"name")->string == expected.name);
        const check::JsonValue* entries = section.find(u"entries");
        FUZZ_CHECK(entries->items.size() == expected.entries.size());
        for (std::size_t e = 0; e < expected.entries.size(); ++e) {
            FUZZ_CHECK(entries->items[e].find(u"key")->string == expected.entries[e].key);
            FUZZ_CHECK(entries->items[e].find(u"value")->string == expected.entries[e].value);
        }
    }
    const check::JsonValue* items = parsed->find(u"menu")->find(u"items");
    FUZZ_CHECK(items->items.size() == report.items.size());
    for (std::size_t i = 0; i < report.items.size(); ++i) {
        FUZZ_CHECK(items->items[i].find(u"title")->string == report.items[i].title);
        const check::JsonValue* exec = items->items[i].find(u"exec");
        FUZZ_CHECK(report.items[i].exec ? exec->string == *report.items[i].exec
                                        : exec->kind == check::JsonValue::Kind::Null);
    }
    FUZZ_CHECK(parsed->find(u"warnings")->items.size() == report.warnings.size());

    FUZZ_CHECK(isValidUtf8(check::reportToText(report)));
}

// One decoded input, checked, given to the session.
MenuUpdate driveTerminalMenu(MenuSession& session, const TerminalInput& input) {
    const MenuPointer at = MenuPointer::at(input.column, input.row);
    switch (input.kind) {
    case TerminalInput::Kind::Key:
        return session.key(input.key);
    case TerminalInput::Kind::Character:
        FUZZ_CHECK(input.character >= 0x20 && input.character != 0x7F);
        FUZZ_CHECK(input.character <= 0x10FFFF && !isSurrogate(input.character));
        return session.type(input.character);
    case TerminalInput::Kind::Wheel:
        FUZZ_CHECK(input.notches == 1 || input.notches == -1);
        return session.wheel(input.notches);
    case TerminalInput::Kind::Press: {
        const MenuHit hit = session.hitTest(at);
        const bool inside =
            input.column >= 3 && input.column < 15 && input.row >= 2 && input.row < 9;
        FUZZ_CHECK(inside == (hit.kind != MenuHit::Kind::Outside));
        FUZZ_CHECK(hit.kind != MenuHit::Kind::Item ||
                   hit.item == session.navigator().firstVisible() +
                                   static_cast<std::size_t>(input.row - 3));
        const MenuUpdate update = session.press(input.button, at);
        FUZZ_CHECK(update.closed == !inside);
        return update;
    }
    case TerminalInput::Kind::Release:
        return session.release(input.button, at);
    case TerminalInput::Kind::Motion:
        return session.motion(at, input.buttonHeld);
    }
    return {};
}

// The bytes as terminal input: whole or in pieces they decode alike, every
// input is one the menu can take, and a menu driven by them stays in range.
void checkTerminalInput(std::string_view bytes) {
    const std::vector<TerminalInput> inputs = decodeTerminalInput(bytes);
    FUZZ_CHECK(inputs.size() <= bytes.size());

    TerminalInputDecoder decoder;
    std::vector<TerminalInput> pieces;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t piece = std::min(bytes.size() - pos, 1 + pos % 7);
        decoder.feed(bytes.substr(pos, piece));
        pos += piece;
        while (const std::optional<TerminalInput> input = decoder.next())
            pieces.push_back(*input);
    }
    while (decoder.waiting()) {
        if (const std::optional<TerminalInput> input = decoder.flush())
            pieces.push_back(*input);
    }
    FUZZ_CHECK(pieces == inputs);

    // Seven items in a box of five rows at (3, 2), a cell of border round it,
    // driven as the terminal menu drives it; a closed menu opens again.
    std::vector<MenuItem> items;
    for (const char16_t* title : {u"&One", u"&Two", u"T&hree", u"&Four", u"&Five", u"Six", u"&Sé"})
        items.push_back(
            MenuItem{MENU_COMMAND_BASE + static_cast<unsigned int>(items.size()), title});
    MenuGeometry box;
    box.frame = MenuRect{3, 2, 12, 7};
    box.border = 1;
    box.rows = 5;
    std::optional<MenuSession> session;
    for (const TerminalInput& input : inputs) {
        if (!session || session->closed()) {
            session.emplace(items);
            session->setGeometry(box);
        }
        const MenuUpdate update = driveTerminalMenu(*session, input);
        FUZZ_CHECK(update.closed == session->closed());
        FUZZ_CHECK(update.command == 0 || (update.command >= MENU_COMMAND_BASE &&
                                           update.command < MENU_COMMAND_BASE + items.size()));
        const MenuNavigator& navigator = session->navigator();
        FUZZ_CHECK(update.repaint != MenuUpdate::Repaint::Rows ||
                   (update.rows[0] < items.size() && update.rows[1] < items.size()));
        FUZZ_CHECK(navigator.highlighted() < items.size() ||
                   navigator.highlighted() == MenuNavigator::NONE);
        FUZZ_CHECK(navigator.firstVisible() + navigator.visibleRows() <= items.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ConfigFile document;
    const std::vector<std::u16string> lines = checkLoader(bytes, document);

    // The last bytes steer the pick and the screen without being taken out
    // of the file, so that the corpus stays plain configuration files.
    const unsigned char last = size > 0 ? data[size - 1] : 0;
    const unsigned char before = size > 1 ? data[size - 2] : 0;
    const unsigned int pick = last % 4 == 0 ? 0 : MENU_COMMAND_BASE + last % 8;
    const check::ScreenSize screen{1 + before * 7, 1 + last * 5};

    checkReports(bytes, document, lines.size(), screen);
    checkMenu(bytes, pick);
    checkQueries(document, lines);
    checkTerminalInput(bytes);
    return 0;
}
