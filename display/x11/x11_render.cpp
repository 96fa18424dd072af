#include "display/x11/x11_render.h"

#include <X11/extensions/renderproto.h>

#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

namespace velmora::x11 {

namespace {

static_assert(sizeof(xRenderQueryVersionReq) == sz_xRenderQueryVersionReq);
static_assert(sizeof(xRenderQueryPictFormatsReq) == sz_xRenderQueryPictFormatsReq);

// Queues QueryVersion, its reply caught in `pending`.
void queueQueryVersion(Wire& wire, int opcode, std::optional<PendingReply>& pending) {
    queueRequest<xRenderQueryVersionReq>(wire, opcode, pending,
                                         [](xRenderQueryVersionReq& request, RequestTail&) {
                                             request.renderReqType = X_RenderQueryVersion;
                                             request.majorVersion = 0;
                                             request.minorVersion = 11; // as libXrender asks
                                         });
}

// The reply to QueryPictFormats and its words; false when refused.
bool queryFormats(Wire& wire, int opcode, xRenderQueryPictFormatsReply& reply,
                  std::vector<CARD32>& words) {
    // Formats, depths and visuals take two to seven words each; more than
    // this is no real server's answer, and is not read.
    constexpr CARD32 MOST_WORDS = 1u << 18;
    std::optional<PendingReply> pending;
    queueRequest<xRenderQueryPictFormatsReq>(wire, opcode, pending,
                                             [](xRenderQueryPictFormatsReq& request, RequestTail&) {
                                                 request.renderReqType = X_RenderQueryPictFormats;
                                             });
    if (!pending->header(reply) || reply.length > MOST_WORDS)
        return false;
    const std::vector<char>& bytes = pending->bytes();
    if (bytes.size() < sizeof reply + std::size_t{reply.length} * 4)
        return false;
    words.resize(reply.length);
    std::memcpy(words.data(), bytes.data() + sizeof reply, words.size() * sizeof(CARD32));
    return true;
}

// Reads the reply's records in order, each checked against its end.
class Records {
public:
    explicit Records(const std::vector<CARD32>& words)
        : bytes_(reinterpret_cast<const char*>(words.data())),
          size_(words.size() * sizeof(CARD32)) {}
    template <typename Record> bool next(Record& record, std::size_t size) {
        static_assert(std::is_trivially_copyable_v<Record>);
        if (size != sizeof(Record) || size_ - at_ < size)
            return false;
        std::memcpy(&record, bytes_ + at_, size);
        at_ += size;
        return true;
    }

private:
    const char* bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A8 as XRenderFindStandardFormat finds it: direct, depth 8, alpha alone.
bool isCoverage(const xPictFormInfo& f) {
    return f.type == PictTypeDirect && f.depth == 8 && f.direct.alpha == 0 &&
           f.direct.alphaMask == 0xFF && f.direct.redMask == 0 && f.direct.greenMask == 0 &&
           f.direct.blueMask == 0;
}

// The visual's format and the coverage format (when there is one) from the
// reply; false when the visual has none or the reply is short.
bool findFormats(const xRenderQueryPictFormatsReply& reply, const std::vector<CARD32>& words,
                 VisualID visual, RenderFormats& found) {
    Records records(words);
    for (CARD32 i = 0; i < reply.numFormats; ++i) {
        xPictFormInfo format{};
        if (!records.next(format, sz_xPictFormInfo))
            return false;
        if (found.coverage.id == 0 && isCoverage(format))
            found.coverage.id = format.id;
    }
    for (CARD32 s = 0; s < reply.numScreens; ++s) {
        xPictScreen screen{};
        if (!records.next(screen, sz_xPictScreen))
            return false;
        for (CARD32 d = 0; d < screen.nDepth; ++d) {
            xPictDepth depth{};
            if (!records.next(depth, sz_xPictDepth))
                return false;
            for (CARD16 v = 0; v < depth.nPictVisuals; ++v) {
                xPictVisual entry{};
                if (!records.next(entry, sz_xPictVisual))
                    return false;
                if (entry.visual == visual && found.window.id == 0)
                    found.window.id = entry.format;
            }
        }
    }
    return found.window.id != 0;
}

} // namespace

std::optional<RenderFormats> queryRenderFormats(Wire& wire, int opcode, VisualID visual) {
    std::optional<PendingReply> version;
    queueQueryVersion(wire, opcode, version);
    xRenderQueryPictFormatsReply reply{};
    std::vector<CARD32> words;
    const bool answered = queryFormats(wire, opcode, reply, words);
    xRenderQueryVersionReply versionReply{};
    if (!answered || !version->header(versionReply))
        return std::nullopt;
    RenderFormats formats;
    formats.opcode = opcode;
    formats.solidSources = versionReply.majorVersion > 0 || versionReply.minorVersion >= 10;
    if (!findFormats(reply, words, visual, formats))
        return std::nullopt;
    return formats;
}

} // namespace velmora::x11
