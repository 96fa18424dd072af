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

bool PlatformFake::createFileWithContent(const std::u16string& path, std::string_view bytes) {
    record("fopen", {path, u"wx"});
    if (failCreate || files.count(path) != 0)
        return false;
    ++flushCount;
    // The file appears whole or not at all.
    if ((failWriteAfter && *failWriteAfter < bytes.size()) || failFlush || failClose)
        return false;
    files[path] = FakeFile{std::string(bytes)};
    record("fclose", {path});
    return true;
}

std::optional<std::u16string> PlatformFake::decodeLegacyText(std::string_view) {
    return legacyDecoding;
}

bool PlatformFake::decodesLegacyText() const {
    return legacyDecoding.has_value();
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
