// What velmora-check finds in one configuration file, and its two printed
// forms: a human-readable report and one JSON object.
#pragma once

#include "check_platform.h"
#include "compact_document.h"
#include "config/config_file.h"
#include "config_lint.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::check {

struct CheckedMenuItem {
    unsigned int command = 0;
    unsigned int entry = 0;
    std::u16string title;
    std::optional<std::u16string> exec; // none when the section has no "exec"
};

struct CheckReport {
    std::u16string path;
    bool fileMissing = false;
    // The whole document as loaded, before the menu stores its placement
    // defaults.
    CompactDocument document;
    ScreenSize screen;
    std::vector<CheckedMenuItem> items;
    int x = 0;
    int y = 0;
    unsigned int flags = 0;
    std::vector<CheckWarning> warnings;
};

// The most memory that the whole document and the warnings of one file may
// take; the menu's items come on top, as in the launcher. Any configuration
// that a person writes needs a tiny part of it; a file whose report would
// need more ends the check with CheckTooLarge.
constexpr std::size_t CHECK_MEMORY_BUDGET = std::size_t{96} << 20;

// Thrown when a file's document and warnings pass CHECK_MEMORY_BUDGET.
struct CheckTooLarge {
    std::u16string path;
    std::size_t line = 0; // the line that passed it
};

// Loads the file at `path` (or, when `path` is empty, the file that the
// launcher beside this program reads) through `base`, runs the launcher's
// menu on a screen of `screen` and collects the warnings. Writes nothing.
// Throws CheckTooLarge.
CheckReport checkConfigFile(Platform& base, const std::u16string& path, ScreenSize screen);

// The tracking flags by their TPM_* names, e.g.
// "TPM_RETURNCMD | TPM_CENTERALIGN | TPM_BOTTOMALIGN".
std::string tpmFlagNames(unsigned int flags);

// "WIDTHxHEIGHT" with two positive decimal numbers; none when malformed.
std::optional<ScreenSize> parseScreenSize(std::string_view text);

// Appends `text` as a JSON string: UTF-8, with lone surrogates and control
// characters written as \u escapes.
void appendJsonString(std::string& out, std::u16string_view text);

// The two printed forms, written to `out` piece by piece.
void writeReportJson(std::ostream& out, const CheckReport& report);
void writeReportText(std::ostream& out, const CheckReport& report);
std::string reportToJson(const CheckReport& report);
std::string reportToText(const CheckReport& report);

// Why the file at a path cannot be opened for reading, in a few words ("it is
// a folder", "no such file"); empty when that cannot be told.
using OpenFailureReason = std::function<std::string(const std::u16string& path)>;

// The whole program: `args` are the arguments after the program's name, in
// UTF-8 (bytes that are not UTF-8 are kept as they are). Returns the exit status: 0 no warning, 1
// warnings, 2 the file cannot be opened or the arguments are wrong.
int runChecker(const std::vector<std::string>& args, Platform& host, std::ostream& out,
               std::ostream& err, const OpenFailureReason& whyNotOpened = {});

} // namespace velmora::check
