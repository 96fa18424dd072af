#include "check_report.h"

#include "menu/launcher_menu.h"
#include "text/text_codec.h"

#include <limits>
#include <sstream>

namespace velmora::check {

namespace {

const char* const USAGE = "usage: velmora-check [--json] [--screen WIDTHxHEIGHT] [FILE]\n";

std::string number(long long value) {
    return std::to_string(value);
}

// A value for the human-readable report: control characters (C0, DEL and
// C1, which could steer a terminal) made visible as escapes, bytes that are
// not UTF-8 (kept as U+DC80 + byte) as \xNN, other lone surrogates as U+FFFD.
std::string shown(std::u16string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0, units = 0; i < text.size(); i += units) {
        const char32_t c = codePointAt(text, i, units);
        if (c == U'\t') {
            out += "\\t";
        } else if (c == U'\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F || (c >= 0xDC80 && c <= 0xDCFF)) {
            const unsigned int byte = static_cast<unsigned int>(c & 0xFF);
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else if (c >= 0x80 && c < 0xA0) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            appendUtf8CodePoint(out, isSurrogate(c) ? 0xFFFD : c);
        }
    }
    return out;
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

    // The launcher's own path rule when no file was named. The lines are
    // linted as the launcher's loader reads them, one at a time; the
    // launcher's own document serves its menu, and every entry goes to the
    // whole document that the report shows.
    ConfigLinter linter;
    const std::u16string file = path.empty() ? makeConfigPath(platform, nullptr) : path;
    ConfigFile::LoadOptions options;
    options.keep = ConfigKeep::MenuValues;
    options.onLine = [&](const ConfigLine& line) {
        if (linter.bytes() + report.document.bytes() > CHECK_MEMORY_BUDGET)
            throw CheckTooLarge{file, linter.lineCount()};
        linter.addLine(line);
    };
    options.onEntry = [&report](std::u16string_view section, std::u16string_view key,
                                std::u16string_view value) {
        report.document.add(section, key, value);
    };
    ConfigFile config(platform, file, std::move(options));
    report.path = config.path();
    report.fileMissing = config.fileMissing();
    if (!report.fileMissing) {
        report.warnings = linter.finish(config, report.document);
        if (config.readByCodePage())
            report.warnings.insert(report.warnings.begin(),
                                   CheckWarning{1, u"the file is not UTF-8; it is read through the "
                                                   u"system's code page"});
        if (config.readLimitReached())
            report.warnings.push_back(CheckWarning{
                linter.lineCount(),
                u"the file goes on past " +
                    decimalText(static_cast<std::int64_t>(CONFIG_READ_LIMIT >> 20)) +
                    u" MiB; the launcher reads no further than that, so the rest of this line "
                    u"and everything after it are ignored"});
    }

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
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            escape(c); // controls, C1 included, never reach a terminal raw
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += utf16ToUtf8(text.substr(i, 1));
        }
    }
    out += '"';
}

namespace {

// Hands a long report to the stream in pieces, so that it is never held
// whole beside the document.
void spill(std::ostream& os, std::string& out) {
    if (out.size() >= 65536) {
        os << out;
        out.clear();
    }
}

} // namespace

void writeReportJson(std::ostream& os, const CheckReport& report) {
    std::string out = "{\"file\": ";
    appendJsonString(out, report.path);
    out += ", \"fileMissing\": ";
    out += report.fileMissing ? "true" : "false";
    out += ", \"sections\": [";
    const std::vector<DocumentSection>& sections = report.document.sections();
    for (std::size_t s = 0; s < sections.size(); ++s) {
        const DocumentSection& section = sections[s];
        out += s == 0 ? "{\"name\": " : ", {\"name\": ";
        appendJsonString(out, section.name);
        out += ", \"entries\": [";
        bool first = true;
        for (const DocumentEntry& entry : section.entries) {
            spill(os, out);
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
        spill(os, out);
        out += w == 0 ? "{\"line\": " : ", {\"line\": ";
        out += number(static_cast<long long>(report.warnings[w].line)) + ", \"message\": ";
        appendJsonString(out, report.warnings[w].message);
        out += '}';
    }
    out += "]}\n";
    os << out;
}

void writeReportText(std::ostream& os, const CheckReport& report) {
    std::string out = "File: " + shown(report.path) + "\n\nDocument:\n";
    if (report.document.sections().empty())
        out += "  (no entries)\n";
    for (const DocumentSection& section : report.document.sections()) {
        out += "  [" + shown(section.name) + "]";
        if (section.name.empty())
            out += "  (entries before the first header)";
        out += '\n';
        for (const DocumentEntry& entry : section.entries) {
            spill(os, out);
            out += "    " + shown(entry.key) + "=" + shown(entry.value) + "\n";
        }
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
        for (const CheckWarning& warning : report.warnings) {
            spill(os, out);
            out += "  line " + number(static_cast<long long>(warning.line)) + ": " +
                   shown(warning.message) + "\n";
        }
    }
    os << out;
}

std::string reportToJson(const CheckReport& report) {
    std::ostringstream out;
    writeReportJson(out, report);
    return out.str();
}

std::string reportToText(const CheckReport& report) {
    std::ostringstream out;
    writeReportText(out, report);
    return out.str();
}

namespace {

// Checks the file and prints what was found; the exit status.
int checkAndPrint(Platform& host, const std::u16string& path, ScreenSize screen, bool json,
                  std::ostream& out, std::ostream& err, const OpenFailureReason& whyNotOpened) {
    std::optional<CheckReport> checked;
    try {
        checked.emplace(checkConfigFile(host, path, screen));
    } catch (const CheckTooLarge& large) {
        err << "velmora-check: \"" << shown(large.path) << "\" is too large to check: by line "
            << large.line << " its document and warnings need more than "
            << (CHECK_MEMORY_BUDGET >> 20)
            << " MiB, the checker's limit (the launcher itself reads such a file with little "
               "memory, keeping only its menu)\n";
        return 2;
    }
    const CheckReport& report = *checked;
    if (report.fileMissing) {
        if (report.path.empty())
            err << "velmora-check: cannot tell where the launcher's configuration file is; "
                   "name the FILE\n";
        else {
            const std::string reason = whyNotOpened ? whyNotOpened(report.path) : std::string();
            err << "velmora-check: cannot open \"" << shown(report.path) << "\""
                << (reason.empty() ? "" : ": " + reason) << "\n";
        }
    }
    if (json)
        writeReportJson(out, report);
    else if (!report.fileMissing)
        writeReportText(out, report);
    out.flush();
    if (report.fileMissing)
        return 2;
    return report.warnings.empty() ? 0 : 1;
}

} // namespace

int runChecker(const std::vector<std::string>& args, Platform& host, std::ostream& out,
               std::ostream& err, const OpenFailureReason& whyNotOpened) {
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
                return usageError("bad screen size \"" + shown(argumentText(value)) +
                                  "\": expected WIDTHxHEIGHT with two positive numbers");
            screen = *parsed;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option \"" + shown(argumentText(arg)) + "\"");
        } else if (file) {
            return usageError("only one FILE may be given");
        } else {
            file = arg;
        }
    }

    // Lossless: a name that is not UTF-8 still names the same file.
    const std::u16string path = file ? argumentText(*file) : std::u16string();
    if (file && path.empty())
        return usageError("FILE must not be empty");
    return checkAndPrint(host, path, screen, json, out, err, whyNotOpened);
}

} // namespace velmora::check
