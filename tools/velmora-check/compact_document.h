// The whole document of a configuration file as the checker shows it, held
// compactly: every text in a few large blocks, each entry two views into
// them. A file's size then costs about what its lines hold, not an
// allocation for every entry.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora::check {

struct DocumentEntry {
    std::u16string_view key;
    std::u16string_view value;
};

struct DocumentSection {
    std::u16string_view name;
    std::vector<DocumentEntry> entries;
};

class CompactDocument {
public:
    CompactDocument() = default;
    // The views point into the blocks, which move with the document; a copy
    // would point into the original's.
    CompactDocument(CompactDocument&&) noexcept = default;
    CompactDocument& operator=(CompactDocument&&) noexcept = default;
    CompactDocument(const CompactDocument&) = delete;
    CompactDocument& operator=(const CompactDocument&) = delete;

    // As ConfigFile::addEntry: the entry goes to the end of the section of
    // that name, which is made at the end of the list when there is none.
    void add(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // The sections in the order they were made; names are unique.
    const std::vector<DocumentSection>& sections() const { return sections_; }
    // The section `name`; null when there is none.
    const DocumentSection* find(std::u16string_view name) const;
    // The memory it holds, near enough to keep it within a budget.
    std::size_t bytes() const { return bytes_; }

private:
    std::u16string_view keep(std::u16string_view text);

    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    std::size_t blockUsed_ = 0;
    std::vector<DocumentSection> sections_;
    std::unordered_map<std::u16string_view, std::size_t> index_;
    std::size_t bytes_ = 0;
};

} // namespace velmora::check
