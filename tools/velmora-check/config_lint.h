// The traps of the configuration format: lines that the launcher reads
// differently from what their writer most likely meant.
#pragma once

#include "config/config_file.h"

#include <cstddef>
#include <string>
#include <vector>

namespace velmora::check {

struct CheckWarning {
    std::size_t line = 0; // 1-based
    std::u16string message;
};

// Finds the traps in `lines` (as the launcher splits the file; `cutLines`
// holds the 0-based indices of the lines that were cut short). `document` is
// what the launcher loaded from those lines; it tells which numbered
// sections the menu shows. Warnings come in line order.
std::vector<CheckWarning> lintConfigLines(const std::vector<std::u16string>& lines,
                                          const std::vector<std::size_t>& cutLines,
                                          const ConfigFile& document);

} // namespace velmora::check
