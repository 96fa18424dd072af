// An imitation system for the core: files in memory, a menu that answers a
// scripted pick, a shell that remembers what it was asked. Every call is
// recorded in order with its arguments, and any call can be told to fail.
// The unit tests, the benchmarks and the fuzz target all use this one.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct FakeCall {
    std::string name; // the platform operation, e.g. "CreateMutexW", "AppendMenuW"
    std::vector<std::u16string> args;
};

struct FakeFile {
    std::string bytes;
    bool readable = true; // false: exists, but opening it for reading is refused
};

struct FakeTrack {
    unsigned int flags = 0;
    int x = 0;
    int y = 0;
};

struct FakeMenuItem {
    unsigned int flags = 0;
    unsigned int commandId = 0;
    std::u16string text;
};

class PlatformFake : public Platform {
public:
    // --- the imitated system; tests set these up and read them back ---
    std::u16string moduleFileName = u"/fake/bin/velmora";
    std::map<std::u16string, FakeFile> files;
    std::u16string lineEndText = u"\n";
    int screenWidth = 240;
    int screenHeight = 320;
    // When set, files are opened through this system instead of `files`:
    // real files under an imitated menu and shell. It must outlive the fake.
    Platform* fileSystem = nullptr;
    // How many bytes one read hands out at most, given the offset reached;
    // unset: all that is asked for. Real files may come in small pieces.
    std::function<std::size_t(std::size_t offset)> readPiece;
    // False keeps `calls` empty, for measuring large menus.
    bool recordCalls = true;

    // --- failures on request ---
    InstanceMarker markerResult = InstanceMarker::Created;
    bool failOpen = false;                     // every open for reading
    bool failCreate = false;                   // every exclusive create
    std::optional<std::size_t> failWriteAfter; // bytes accepted before writes fail
    bool failFlush = false;
    bool failClose = false;
    bool failCreateMenu = false;
    std::optional<std::size_t> failAppendAt; // 0-based index of the append that fails
    bool shellAccepts = true;
    std::optional<std::u16string> legacyDecoding; // what decodeLegacyText answers

    // The user's answer to the menu: given the items and the placement,
    // returns the picked command identifier, or 0 to dismiss.
    std::function<unsigned int(const std::vector<FakeMenuItem>&, unsigned int, int, int)> pick =
        [](const std::vector<FakeMenuItem>&, unsigned int, int, int) { return 0u; };
    // Picks the item with command identifier `command`.
    void pickCommand(unsigned int command);

    // --- what happened ---
    std::vector<FakeCall> calls;
    std::vector<FakeMenuItem> shownItems; // items of the last tracked menu
    std::optional<FakeTrack> tracked;     // the placement it was tracked at
    std::vector<ShellExecuteRequest> shellRequests;
    std::size_t flushCount = 0;
    // Names of the recorded calls, in order.
    std::vector<std::string> callNames() const;
    // Index of the first call named `name`, or calls.size() when none.
    std::size_t firstCall(const std::string& name) const;
    std::size_t countCalls(const std::string& name) const;

    InstanceMarker createInstanceMarker(const std::u16string& name) override;
    std::u16string getModuleFileName(ModuleInstance instance) override;
    std::unique_ptr<ByteReader> openFileForRead(const std::u16string& path) override;
    std::unique_ptr<ByteWriter> createFileExclusive(const std::u16string& path) override;
    std::u16string_view lineEnd() const override { return lineEndText; }
    std::optional<std::u16string> decodeLegacyText(std::string_view bytes) override;
    std::unique_ptr<PopupMenu> createPopupMenu() override;
    int getSystemMetrics(int index) override;
    bool shellExecuteEx(const ShellExecuteRequest& request) override;

    void record(std::string name, std::vector<std::u16string> args = {});

private:
    std::size_t appendCount_ = 0;
    friend class PopupMenuFake;
    friend class ByteWriterFake;
};

} // namespace velmora
