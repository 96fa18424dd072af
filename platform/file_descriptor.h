// One owned file descriptor, closed when the owner goes.
#pragma once

#include "platform/unique_handle.h"

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace velmora {

struct FileDescriptorTraits {
    using Handle = int;
    static int empty() { return -1; }
    static bool valid(int fd) { return fd >= 0; }
    bool free(int fd) const { return ::close(fd) == 0; }
};

// reset() closes now and reports whether the close succeeded.
using FileDescriptor = UniqueHandle<FileDescriptorTraits>;

// Writes all `size` bytes, going on after interruptions and short writes.
inline bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace velmora
