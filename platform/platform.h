// The one seam between the launcher's logic and the system it runs on.
//
// Everything the launcher needs from the outside world passes through the
// abstract class `Platform`: the single-instance marker, the executable's own
// file name, byte-level file access, the pop-up menu, the screen size and the
// shell. The core (config/, menu/, app/startup) includes this header and the
// standard library only; every system backend lives in a folder of its own
// beside it and derives one class from `Platform`, named after the backend:
//
//   platform/posix/   PlatformPosix   Linux: lock file, /proc/self/exe, posix_spawn,
//                                     a menu drawn by display/wayland, display/x11
//                                     or display/terminal
//   platform/win32/   PlatformWin32   Windows and Windows CE: the Win32 calls themselves
//   platform/fake/    PlatformFake    unit tests: an imitation system that records calls
//
// Text crosses the seam as UTF-16 (`std::u16string`); a backend converts to
// its own form (Win32 hands it to the W functions, POSIX converts to UTF-8).
// File contents cross it as bytes; the encoding lives in the core's text layer
// (text/text_codec.h) so that every backend reads and writes the same files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The module instance handle that the system gives the entry point (HINSTANCE
// on Windows). Only the backend interprets it; POSIX passes a null handle.
using ModuleInstance = void*;

// Reads the bytes of one open file. Destroying the reader closes the file.
class ByteReader {
public:
    virtual ~ByteReader() = default;
    // Reads up to `size` bytes into `buffer`. Returns the count read, 0 at the
    // end of the file, or -1 on a read error (which callers treat as the end).
    virtual std::ptrdiff_t read(unsigned char* buffer, std::size_t size) = 0;
};

// One pop-up menu, created empty by Platform::createPopupMenu. Destroying it
// destroys the system's menu.
class PopupMenu {
public:
    virtual ~PopupMenu() = default;
    // AppendMenuW with MF_STRING: appends an enabled text item at the end.
    // Returns false when the item could not be appended.
    virtual bool appendMenu(unsigned int flags, unsigned int commandId,
                            const std::u16string& text) = 0;
    // TrackPopupMenuEx: obtains an owner window itself, shows the menu with
    // the point (x, y), in the units of getSystemMetrics, placed as `flags`
    // say, blocks until the menu closes and returns the picked command
    // identifier, or 0 when it was dismissed.
    virtual unsigned int trackPopupMenuEx(unsigned int flags, int x, int y) = 0;
};

// The request that ShellExecuteEx receives: every field not named here is
// zero (no mask, no owner window, no working directory, nShow 0).
struct ShellExecuteRequest {
    std::u16string verb;
    std::u16string file;
    std::u16string parameters;
};

// Result of creating the single-instance marker (CreateMutexW + GetLastError).
enum class InstanceMarker {
    Created,       // this process holds the marker now
    AlreadyExists, // another instance holds it (ERROR_ALREADY_EXISTS)
    Failed,        // the marker could not be made at all; the run goes on unguarded
};

// GetSystemMetrics indices.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

class Platform {
public:
    virtual ~Platform() = default;

    // CreateMutexW with initial ownership; the marker is held until the
    // process ends.
    virtual InstanceMarker createInstanceMarker(const std::u16string& name) = 0;

    // Starts making ready what the menu will be shown on (a connection to
    // the display, say), so that the work overlaps the reading of the
    // configuration. Called once the instance guard is had; the menu is
    // shown the same without it.
    virtual void prepareMenuDisplay() {}

    // GetModuleFileNameW: the running executable's full file name, whole
    // whatever its length; empty when it cannot be had.
    virtual std::u16string getModuleFileName(ModuleInstance instance) = 0;

    // Opens an existing file for reading; null when it cannot be opened.
    virtual std::unique_ptr<ByteReader> openFileForRead(const std::u16string& path) = 0;

    // Creates the file `path` holding exactly `bytes`, only when nothing
    // exists at `path`; true when it was made, or when another process made
    // it meanwhile (the caller then reads that one). The bytes are written whole to
    // a new file in the same folder first, which takes the name `path` once
    // complete and never replaces a file that appeared there meanwhile. On
    // any failure nothing is left at `path` and the other file is removed.
    virtual bool createFileWithContent(const std::u16string& path, std::string_view bytes) = 0;

    // The line end that text files carry on this system: u"\n" or u"\r\n".
    virtual std::u16string_view lineEnd() const = 0;

    // Decodes file bytes that are not valid UTF-8 by the system's legacy code
    // page, where the system has one. nullopt leaves the core's UTF-8 decoding
    // (with U+FFFD for the invalid bytes) in force.
    virtual std::optional<std::u16string> decodeLegacyText(std::string_view bytes) {
        static_cast<void>(bytes);
        return std::nullopt;
    }
    // True when decodeLegacyText may decode anything: a file that is not
    // UTF-8 must then be held whole until its decoding is known.
    virtual bool decodesLegacyText() const { return false; }

    // CreatePopupMenu: a new, empty pop-up menu; null on failure.
    virtual std::unique_ptr<PopupMenu> createPopupMenu() = 0;

    // GetSystemMetrics(SM_CXSCREEN or SM_CYSCREEN): the screen's size in the
    // units in which the menu is placed: logical pixels (1/96 inch,
    // platform/logical_pixels.h) on a graphical screen, whatever its
    // resolution; character cells on a terminal.
    virtual int getSystemMetrics(int index) = 0;

    // ShellExecuteEx: asks the shell to open `request.file`; true when the
    // shell accepted the request. Does not wait for a started program.
    virtual bool shellExecuteEx(const ShellExecuteRequest& request) = 0;
};

// The backend of the system the program was built for (PlatformPosix or
// PlatformWin32), implemented by that backend's library.
std::unique_ptr<Platform> createHostPlatform();

} // namespace velmora
