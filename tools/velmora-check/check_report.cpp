#include "check_report.h"

#include "menu/launcher_menu.h"
#include "text/text_codec.h"

#include <limits>

namespace velmora::check {

namespace {

const char* const USAGE = "usage: velmora-check [--json] [--screen WIDTHxHEIGHT] [FILE]\n";

std::string number(long long value) {
    return std::to_string(value);
}

// Splits the bytes that the launcher's loader read, the way it does, noting
// which lines were cut short, and looks for the traps in them.
std::vector<CheckWarning> lintBytes(const std::string& bytes, Platform& platform,
                                    const ConfigFile& document) {
    std::vector<std::size_t> cutLines;
    const std::vector<std::u16string> lines =
        splitConfigLines(decodeTextFile(bytes, &platform), &cutLines);
    return lintConfigLines(lines, cutLines, document);
}

// A value for the human-readable report: control characters made visible.
std::string shown(std::u16string_view text) {
    std::u16string visible;
    visible.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'\t') {
            visible += u"\\t";
        } else if (c == u'\r') {
            visible += u"\\r";
        } else if (c < 0x20 || c == 0x7F) {
            static const char hex[] = "0123456789ABCDEF";
            visible += u"\\x";
            visible += static_cast<char16_t>(hex[(c >> 4) & 0xF]);
            visible += static_cast<char16_t>(hex[c & 0xF]);
        } else {
            visible += c;
        }
    }
    return utf16ToUtf8(visible);
}

std::string hexFlags(unsigned int flags) {
    static const char hex[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), hex[flags & 0xF]);
        flags >>= 4;
    } while (flags != 0);
    while (digits.size() < 4)
        digits.insert(digits.begin(), '0');
    return "0x" + digits;
}

bool parseDimension(std::string_view text, int& value) {
    if (text.empty() || text.size() > 10)
        return false;
    long long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(n);
    return true;
}

} // namespace

CheckReport checkConfigFile(Platform& base, const std::u16string& path, ScreenSize screen) {
    CheckPlatform platform(base, screen);
    CheckReport report;
    report.screen = screen;

    // Through the launcher's own constructor, so that the path rule is the
    // launcher's when no file was named.
    ConfigFile config =
        path.empty() ? ConfigFile(platform, ModuleInstance{nullptr}) : ConfigFile(platform, path);
    report.path = config.path();
    report.fileMissing = config.fileMissing();
    report.sections.assign(config.sections().begin(), config.sections().end());
    if (!report.fileMissing)
        report.warnings = lintBytes(platform.bytesRead(), platform, config);

    runLauncherMenu(platform, config, u"");
    for (const RecordedMenuItem& recorded : platform.menuItems()) {
        CheckedMenuItem item;
        item.command = recorded.commandId;
        item.entry = recorded.commandId - MENU_COMMAND_BASE;
        item.title = recorded.text;
        try {
            item.exec = config.getString(decimalText(item.entry), u"exec");
        } catch (const ConfigError&) {
        }
        report.items.push_back(std::move(item));
    }
    if (platform.track()) {
        report.x = platform.track()->x;
        report.y = platform.track()->y;
        report.flags = platform.track()->flags;
    }
    return report;
}

std::string tpmFlagNames(unsigned int flags) {
    std::string names;
    const auto add = [&names](const char* name) {
        if (!names.empty())
            names += " | ";
        names += name;
    };
    if (flags & TPM_RETURNCMD)
        add("TPM_RETURNCMD");
    const unsigned int horizontal = flags & (TPM_CENTERALIGN | TPM_RIGHTALIGN);
    add(horizontal == TPM_CENTERALIGN  ? "TPM_CENTERALIGN"
        : horizontal == TPM_RIGHTALIGN ? "TPM_RIGHTALIGN"
        : horizontal == 0              ? "TPM_LEFTALIGN"
                                       : "TPM_CENTERALIGN | TPM_RIGHTALIGN");
    const unsigned int vertical = flags & (TPM_VCENTERALIGN | TPM_BOTTOMALIGN);
    add(vertical == TPM_VCENTERALIGN  ? "TPM_VCENTERALIGN"
        : vertical == TPM_BOTTOMALIGN ? "TPM_BOTTOMALIGN"
        : vertical == 0               ? "TPM_TOPALIGN"
                                      : "TPM_VCENTERALIGN | TPM_BOTTOMALIGN");
    const unsigned int other = flags & ~(TPM_RETURNCMD | TPM_CENTERALIGN | TPM_RIGHTALIGN |
                                         TPM_VCENTERALIGN | TPM_BOTTOMALIGN);
    if (other != 0)
        add(hexFlags(other).c_str());
    return names;
}

std::optional<ScreenSize> parseScreenSize(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return std::nullopt;
    ScreenSize screen;
    if (!parseDimension(text.substr(0, x), screen.width) ||
        !parseDimension(text.substr(x + 1), screen.height))
        return std::nullopt;
    return screen;
}

void appendJsonString(std::string& out, std::u16string_view text) {
    static const char hex[] = "0123456789abcdef";
    const auto escape = [&out](unsigned int unit) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(unit >> shift) & 0xF];
    };
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out += utf16ToUtf8(text.substr(i, 2));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            escape(c); // a lone surrogate has no UTF-8 form
        } else if (c == u'"') {
            out += "\\\"";
        } else if (c == u'\\') {
            out += "\\\\";
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += utf16ToUtf8(text.substr(i, 1));
        }
    }
    out += '"';
}

std::string reportToJson(const CheckReport& report) {
    std::string out = "{\"file\": ";
    appendJsonString(out, report.path);
    out += ", \"fileMissing\": ";
    out += report.fileMissing ? "true" : "false";
    out += ", \"sections\": [";
    for (std::size_t s = 0; s < report.sections.size(); ++s) {
        const ConfigSection& section = report.sections[s];
        out += s == 0 ? "{\"name\": " : ", {\"name\": ";
        appendJsonString(out, section.name);
        out += ", \"entries\": [";
        bool first = true;
        for (const ConfigEntry& entry : section.entries) {
            out += first ? "{\"key\": " : ", {\"key\": ";
            first = false;
            appendJsonString(out, entry.key);
            out += ", \"value\": ";
            appendJsonString(out, entry.value);
            out += '}';
        }
        out += "]}";
    }
    out += "], \"menu\": {\"screen\": {\"width\": " + number(report.screen.width) +
           ", \"height\": " + number(report.screen.height) + "}, \"items\": [";
    for (std::size_t i = 0; i < report.items.size(); ++i) {
        const CheckedMenuItem& item = report.items[i];
        out += i == 0 ? "{\"command\": " : ", {\"command\": ";
        out += number(item.command) + ", \"entry\": " + number(item.entry) + ", \"title\": ";
        appendJsonString(out, item.title);
        out += ", \"exec\": ";
        if (item.exec)
            appendJsonString(out, *item.exec);
        else
            out += "null";
        out += '}';
    }
    out += "], \"x\": " + number(report.x) + ", \"y\": " + number(report.y) +
           ", \"flags\": " + number(report.flags) + "}, \"warnings\": [";
    for (std::size_t w = 0; w < report.warnings.size(); ++w) {
        out += w == 0 ? "{\"line\": " : ", {\"line\": ";
        out += number(static_cast<long long>(report.warnings[w].line)) + ", \"message\": ";
        appendJsonString(out, report.warnings[w].message);
        out += '}';
    }
    out += "]}\n";
    return out;
}

std::string reportToText(const CheckReport& report) {
    std::string out = "File: " + shown(report.path) + "\n\nDocument:\n";
    if (report.sections.empty())
        out += "  (no entries)\n";
    for (const ConfigSection& section : report.sections) {
        out += "  [" + shown(section.name) + "]";
        if (section.name.empty())
            out += "  (entries before the first header)";
        out += '\n';
        for (const ConfigEntry& entry : section.entries)
            out += "    " + shown(entry.key) + "=" + shown(entry.value) + "\n";
    }

    out += "\nMenu on a " + number(report.screen.width) + "x" + number(report.screen.height) +
           " screen:\n";
    if (report.items.empty())
        out += "  (no items)\n";
    for (const CheckedMenuItem& item : report.items) {
        out += "  " + number(item.command) + "  [" + number(item.entry) + "] " + shown(item.title);
        out += item.exec ? "  ->  " + shown(*item.exec) : std::string("  (no exec)");
        out += '\n';
    }
    out += "  placement: x=" + number(report.x) + " y=" + number(report.y) +
           " flags=" + hexFlags(report.flags) + " (" + tpmFlagNames(report.flags) + ")\n";

    if (report.warnings.empty()) {
        out += "\nNo warnings.\n";
    } else {
        out += "\nWarnings:\n";
        for (const CheckWarning& warning : report.warnings)
            out += "  line " + number(static_cast<long long>(warning.line)) + ": " +
                   shown(warning.message) + "\n";
    }
    return out;
}

int runChecker(const std::vector<std::string>& args, Platform& host, std::ostream& out,
               std::ostream& err) {
    bool json = false;
    ScreenSize screen;
    std::optional<std::string> file;
    bool optionsDone = false;
    const auto usageError = [&err](const std::string& message) {
        err << "velmora-check: " << message << '\n' << USAGE;
        return 2;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && (arg == "--help" || arg == "-h")) {
            out << USAGE;
            return 0;
        } else if (!optionsDone && arg == "--json") {
            json = true;
        } else if (!optionsDone && (arg == "--screen" || arg.rfind("--screen=", 0) == 0)) {
            std::string value;
            if (arg == "--screen") {
                if (i + 1 >= args.size())
                    return usageError("--screen needs a size such as 240x320");
                value = args[++i];
            } else {
                value = arg.substr(9);
            }
            const std::optional<ScreenSize> parsed = parseScreenSize(value);
            if (!parsed)
                return usageError("bad screen size \"" + value +
                                  "\": expected WIDTHxHEIGHT with two positive numbers");
            screen = *parsed;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option \"" + arg + "\"");
        } else if (file) {
            return usageError("only one FILE may be given");
        } else {
            file = arg;
        }
    }

    const std::u16string path = file ? utf8ToUtf16(*file) : std::u16string();
    if (file && path.empty())
        return usageError("FILE must not be empty");
    const CheckReport report = checkConfigFile(host, path, screen);
    if (report.fileMissing) {
        if (report.path.empty())
            err << "velmora-check: cannot tell where the launcher's configuration file is; "
                   "name the FILE\n";
        else
            err << "velmora-check: cannot open \"" << utf16ToUtf8(report.path) << "\"\n";
    }
    out << (json                 ? reportToJson(report)
            : report.fileMissing ? std::string()
                                 : reportToText(report));
    out.flush();
    if (report.fileMissing)
        return 2;
    return report.warnings.empty() ? 0 : 1;
}

} // namespace velmora::check
