// The traps of the configuration format: lines that the launcher reads
// differently from what their writer most likely meant.
#pragma once

#include "compact_document.h"
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
    // The memory its warnings and its record of sections and keys hold, near
    // enough to keep it within a budget.
    std::size_t bytes() const;
    // The warnings, in line order. `menu` is what the launcher keeps of the
    // lines and tells which numbered sections the menu shows; `whole` is
    // the whole document.
    std::vector<CheckWarning> finish(const ConfigFile& menu, const CompactDocument& whole);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace velmora::check
