// The fixture table of the configuration traps that the checker warns about,
// and the shared temporary folders and files under the checker tests' names.
#pragma once

#include "tests/support/test_files.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace velmora::check::test {

using velmora::test::readFile;
using velmora::test::writeFile;
using TempDir = velmora::test::TempFolder;

// One warning that a fixture must yield: its line and a piece of its text.
struct ExpectedWarning {
    std::size_t line;
    std::string fragment;
};

struct LintCase {
    std::string name;
    std::string text; // the file's bytes
    std::vector<ExpectedWarning> warnings;
};

inline void PrintTo(const LintCase& fixture, std::ostream* os) {
    *os << fixture.name;
}

inline std::vector<LintCase> lintCases() {
    const std::string longValue(1100, 'x');
    return {
        {"clean_file", "[1]\ntitle=A\nexec=a.exe\n[position]\nx=0\n", {}},
        {"blank_before_equals",
         "[1]\ntitle =A\nexec=a\n",
         {{1, "[1] has no \"title\" key"}, {2, "blank before \"=\""}}},
        {"blank_after_equals", "[1]\ntitle= A\nexec=a\n", {{2, "blank after \"=\""}}},
        {"blank_before_key",
         "[1]\ntitle=A\n exec=a\n",
         {{1, "has no \"exec\" key"}, {3, "\" exec\" starts with a blank"}}},
        {"indented_comment", "[1]\ntitle=A\nexec=a\n  # note=x\n", {{4, "not a comment"}}},
        {"indented_header", "[1]\ntitle=A\nexec=a\n [2]\n", {{4, "not a section header"}}},
        {"blanks_inside_brackets", "[ 1]\ntitle=A\nexec=a\n", {{1, "blanks inside the brackets"}}},
        {"header_with_trailing_blank",
         "[1]\ntitle=A\nexec=a\n[2] \ntitle=B\n",
         {{4, "ends with a blank after \"]\""}, {5, "appears again in the section [1]"}}},
        {"header_with_trailing_cr", "[1]\r\r\ntitle=A\nexec=a\n", {{1, "carriage return"}}},
        {"header_not_closed", "[1\ntitle=A\n", {{1, "does not end with \"]\""}}},
        {"line_without_equals", "[1]\ntitle=A\nexec=a\nOpera\n", {{4, "has no \"=\""}}},
        {"repeated_key",
         "[1]\ntitle=A\nexec=a\ntitle=B\n",
         {{4, "\"title\" appears again in the section [1] (first on line 2)"}}},
        {"repeated_key_across_headers",
         "[1]\ntitle=A\n[2]\ntitle=B\nexec=b\n[1]\nexec=a\nexec=c\n",
         {{8, "\"exec\" appears again in the section [1] (first on line 7)"}}},
        {"numbered_after_gap",
         "[1]\ntitle=A\nexec=a\n[3]\ntitle=C\nexec=c\n",
         {{4, "[3] is never shown: the menu stops after [1] because [2] is missing"}}},
        {"numbered_without_first",
         "[2]\ntitle=B\nexec=b\n",
         {{1, "[2] is never shown: the menu is empty because [1] is missing"}}},
        {"leading_zeros", "[01]\ntitle=A\nexec=a\n", {{1, "without leading zeros ([1])"}}},
        {"section_zero", "[0]\ntitle=A\nexec=a\n", {{1, "[0] is never shown"}}},
        {"numbered_without_title",
         "[1]\ntitle=A\nexec=a\n[2]\nexec=b\n[3]\ntitle=C\nexec=c\n",
         {{4, "[2] has no \"title\" key"}, {6, "[3] is never shown"}}},
        {"item_without_exec", "# x\n[1]\ntitle=A\n", {{2, "menu item 1 (\"A\") has no \"exec\""}}},
        {"item_with_empty_exec",
         "[1]\ntitle=A\nexec=\nexec=b\n",
         {{3, "empty \"exec\""}, {4, "appears again"}}},
        {"line_cut_at_1023",
         "[1]\ntitle=A\nexec=" + longValue + "\ny=1\n",
         {{3, "longer than 1023 characters"}}},
    };
}

} // namespace velmora::check::test
