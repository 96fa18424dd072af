#include "display/wayland/wayland_memory.h"

#include <cstring>
#include <sys/stat.h>

namespace velmora::wayland {

KeymapText::KeymapText(int fd, std::size_t size) {
    struct stat file {};
    if (size == 0 || ::fstat(fd, &file) != 0 || file.st_size < 0 ||
        static_cast<unsigned long long>(file.st_size) < size)
        return;
    mapping_ =
        MappingPtr(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0), MappingTraits{size});
    if (mapping_) {
        const auto* text = static_cast<const char*>(mapping_.get());
        text_ = std::string_view(text, ::strnlen(text, size));
    }
}

SharedMemory::SharedMemory(std::size_t size) {
    FileDescriptor file(::memfd_create("velmora-menu", MFD_CLOEXEC));
    if (!file || size == 0 || ::ftruncate(file.get(), static_cast<off_t>(size)) != 0)
        return;
    MappingPtr mapping(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file.get(), 0),
                       MappingTraits{size});
    if (!mapping)
        return;
    fd = std::move(file);
    pixels = std::move(mapping);
}

} // namespace velmora::wayland
