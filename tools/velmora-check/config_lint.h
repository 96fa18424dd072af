// The traps of the configuration format: lines that the launcher reads
// differently from what their writer most likely meant.
#pragma once

#include "config/config_file.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace velmora::check {

struct CheckWarning {
    std::size_t line = 0; // 1-based
    std::u16string message;
};

// Finds the traps in the lines of a file as the launcher reads them, one
// line at a time, keeping only what the document keeps.
class ConfigLinter {
public:
    ConfigLinter();
    ~ConfigLinter();
    ConfigLinter(const ConfigLinter&) = delete;
    ConfigLinter& operator=(const ConfigLinter&) = delete;

    // The next line of the file.
    void addLine(const ConfigLine& line);
    // The number of lines added so far.
    std::size_t lineCount() const;
    // The warnings, in line order. `document` is what the launcher loaded
    // from the lines; it tells which numbered sections the menu shows.
    std::vector<CheckWarning> finish(const ConfigFile& document);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Finds the traps in `lines` (as the launcher splits the file; `cutLines`
// holds the 0-based indices of the lines that were cut short).
std::vector<CheckWarning> lintConfigLines(const std::vector<std::u16string>& lines,
                                          const std::vector<std::size_t>& cutLines,
                                          const ConfigFile& document);

} // namespace velmora::check
