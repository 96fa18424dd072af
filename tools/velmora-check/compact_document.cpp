#include "compact_document.h"

#include <algorithm>

namespace velmora::check {

namespace {

// Units of one block; a line of the file (at most 1023 units) always fits.
constexpr std::size_t BLOCK_UNITS = 32768;

} // namespace

std::u16string_view CompactDocument::keep(std::u16string_view text) {
    if (text.empty())
        return {};
    if (blocks_.empty() || BLOCK_UNITS - blockUsed_ < text.size()) {
        const std::size_t units = std::max(BLOCK_UNITS, text.size());
        blocks_.push_back(std::make_unique<char16_t[]>(units));
        blockUsed_ = 0;
        bytes_ += units * sizeof(char16_t);
    }
    char16_t* at = blocks_.back().get() + blockUsed_;
    std::copy(text.begin(), text.end(), at);
    blockUsed_ += text.size();
    return std::u16string_view(at, text.size());
}

void CompactDocument::add(std::u16string_view section, std::u16string_view key,
                          std::u16string_view value) {
    auto found = index_.find(section);
    if (found == index_.end()) {
        sections_.push_back(DocumentSection{keep(section), {}});
        found = index_.emplace(sections_.back().name, sections_.size() - 1).first;
        // The section, its index node, and room for the list to double.
        bytes_ += 2 * sizeof(DocumentSection) + 64;
    }
    const std::u16string_view keptKey = keep(key);
    // A line without "=" is its own key and value: one copy serves both.
    const std::u16string_view keptValue =
        value.data() == key.data() && value.size() == key.size() ? keptKey : keep(value);
    sections_[found->second].entries.push_back(DocumentEntry{keptKey, keptValue});
    bytes_ += 2 * sizeof(DocumentEntry); // the entry and room for the list to double
}

const DocumentSection* CompactDocument::find(std::u16string_view name) const {
    const auto found = index_.find(name);
    return found == index_.end() ? nullptr : &sections_[found->second];
}

} // namespace velmora::check
