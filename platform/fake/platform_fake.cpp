#include "platform/fake/platform_fake.h"

#include "text/text_codec.h"

#include <algorithm>
#include <cstring>

namespace velmora {

class ByteReaderFake : public ByteReader {
public:
    ByteReaderFake(std::string bytes, std::function<std::size_t(std::size_t)> piece)
        : bytes_(std::move(bytes)), piece_(std::move(piece)) {}
    std::ptrdiff_t read(unsigned char* buffer, std::size_t size) override {
        if (piece_)
            size = std::min(size, std::max<std::size_t>(piece_(offset_), 1));
        const std::size_t n = std::min(size, bytes_.size() - offset_);
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string bytes_;
    std::function<std::size_t(std::size_t)> piece_;
    std::size_t offset_ = 0;
};

class ByteWriterFake : public ByteWriter {
public:
    ByteWriterFake(PlatformFake& system, std::u16string path)
        : system_(system), path_(std::move(path)) {}
    ~ByteWriterFake() override {
        if (open_)
            system_.record("fclose", {path_});
    }
    bool write(const unsigned char* data, std::size_t size) override {
        if (!open_)
            return false;
        std::string& bytes = system_.files[path_].bytes;
        if (system_.failWriteAfter) {
            const std::size_t room =
                *system_.failWriteAfter > written_ ? *system_.failWriteAfter - written_ : 0;
            if (size > room) {
                bytes.append(reinterpret_cast<const char*>(data), room);
                written_ += room;
                return false;
            }
        }
        bytes.append(reinterpret_cast<const char*>(data), size);
        written_ += size;
        return true;
    }
    bool flush() override {
        ++system_.flushCount;
        return open_ && !system_.failFlush;
    }
    bool close() override {
        if (!open_)
            return false;
        open_ = false;
        system_.record("fclose", {path_});
        return !system_.failClose;
    }

private:
    PlatformFake& system_;
    std::u16string path_;
    std::size_t written_ = 0;
    bool open_ = true;
};

class PopupMenuFake : public PopupMenu {
public:
    explicit PopupMenuFake(PlatformFake& system) : system_(system) {}
    bool appendMenu(unsigned int flags, unsigned int commandId,
                    const std::u16string& text) override {
        if (system_.recordCalls)
            system_.record("AppendMenuW", {decimalText(flags), decimalText(commandId), text});
        const std::size_t index = system_.appendCount_++;
        if (system_.failAppendAt && *system_.failAppendAt == index)
            return false;
        items_.push_back(FakeMenuItem{flags, commandId, text});
        return true;
    }
    unsigned int trackPopupMenuEx(unsigned int flags, int x, int y) override {
        system_.record("TrackPopupMenuEx", {decimalText(flags), decimalText(x), decimalText(y)});
        system_.shownItems = items_;
        system_.tracked = FakeTrack{flags, x, y};
        return system_.pick(items_, flags, x, y);
    }

private:
    PlatformFake& system_;
    std::vector<FakeMenuItem> items_;
};

void PlatformFake::pickCommand(unsigned int command) {
    pick = [command](const std::vector<FakeMenuItem>&, unsigned int, int, int) { return command; };
}

void PlatformFake::record(std::string name, std::vector<std::u16string> args) {
    if (recordCalls)
        calls.push_back(FakeCall{std::move(name), std::move(args)});
}

std::vector<std::string> PlatformFake::callNames() const {
    std::vector<std::string> names;
    for (const FakeCall& call : calls)
        names.push_back(call.name);
    return names;
}

std::size_t PlatformFake::firstCall(const std::string& name) const {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name == name)
            return i;
    }
    return calls.size();
}

std::size_t PlatformFake::countCalls(const std::string& name) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&name](const FakeCall& call) { return call.name == name; }));
}

InstanceMarker PlatformFake::createInstanceMarker(const std::u16string& name) {
    record("CreateMutexW", {name});
    return markerResult;
}

std::u16string PlatformFake::getModuleFileName(ModuleInstance) {
    record("GetModuleFileNameW");
    return moduleFileName;
}

std::unique_ptr<ByteReader> PlatformFake::openFileForRead(const std::u16string& path) {
    record("fopen", {path, u"r"});
    if (fileSystem != nullptr)
        return failOpen ? nullptr : fileSystem->openFileForRead(path);
    const auto found = files.find(path);
    if (failOpen || found == files.end() || !found->second.readable)
        return nullptr;
    return std::make_unique<ByteReaderFake>(found->second.bytes, readPiece);
}

std::unique_ptr<ByteWriter> PlatformFake::createFileExclusive(const std::u16string& path) {
    record("fopen", {path, u"wx"});
    if (failCreate || files.count(path) != 0)
        return nullptr;
    files[path] = FakeFile{};
    return std::make_unique<ByteWriterFake>(*this, path);
}

std::optional<std::u16string> PlatformFake::decodeLegacyText(std::string_view) {
    return legacyDecoding;
}

std::unique_ptr<PopupMenu> PlatformFake::createPopupMenu() {
    record("CreatePopupMenu");
    appendCount_ = 0;
    if (failCreateMenu)
        return nullptr;
    return std::make_unique<PopupMenuFake>(*this);
}

int PlatformFake::getSystemMetrics(int index) {
    record("GetSystemMetrics", {decimalText(index)});
    return index == SM_CXSCREEN ? screenWidth : index == SM_CYSCREEN ? screenHeight : 0;
}

bool PlatformFake::shellExecuteEx(const ShellExecuteRequest& request) {
    record("ShellExecuteEx", {request.verb, request.file, request.parameters});
    shellRequests.push_back(request);
    return shellAccepts;
}

} // namespace velmora
