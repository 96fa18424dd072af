// Memory the Wayland menu shares with the compositor: the keymap file it is
// handed and the pixels of the buffers it hands over.
#pragma once

#include "platform/file_descriptor.h"
#include "platform/unique_handle.h"

#include <cstddef>
#include <string_view>
#include <sys/mman.h>

namespace velmora::wayland {

// A memory mapping, unmapped when its owner goes.
struct MappingTraits {
    using Handle = void*;
    static void* empty() { return nullptr; }
    static bool valid(void* data) { return data != MAP_FAILED; }
    std::size_t size = 0;
    bool free(void* data) const { return ::munmap(data, size) == 0; }
};
using MappingPtr = UniqueHandle<MappingTraits>;

// A keymap file as the compositor hands it over: `size` bytes of `fd`, the
// text ending at the first NUL. Empty when the file cannot be read or holds
// fewer bytes than announced (reading past its end would kill the process).
class KeymapText {
public:
    KeymapText(int fd, std::size_t size);
    explicit operator bool() const { return static_cast<bool>(mapping_); }
    std::string_view text() const { return text_; }

private:
    MappingPtr mapping_;
    std::string_view text_;
};

// Shared memory of `size` bytes for the compositor's pool, mapped for
// writing; both empty on failure.
struct SharedMemory {
    FileDescriptor fd;
    MappingPtr pixels;

    explicit SharedMemory(std::size_t size);
};

} // namespace velmora::wayland
