#include "display/x11/x11_render.h"

#include "display/x11/x11_pending_reply.h"

#include <X11/extensions/renderproto.h>

#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

namespace velmora::x11 {

namespace {

static_assert(sizeof(xRenderQueryVersionReq) == sz_xRenderQueryVersionReq);

// Queues QueryVersion, its reply caught in `pending`.
void queueQueryVersion(Display* display, int opcode, std::optional<PendingReply>& pending) {
    queueRequest<xRenderQueryVersionReq>(display, opcode, pending,
                                         [](xRenderQueryVersionReq& request) {
                                             request.renderReqType = X_RenderQueryVersion;
                                             request.majorVersion = 0;
                                             request.minorVersion = 11; // as libXrender asks
                                         });
}

// The reply to QueryPictFormats and its words; false when refused.
bool queryFormats(Display* display, int opcode, xRenderQueryPictFormatsReply& reply,
                  std::vector<CARD32>& words) {
    // Formats, depths and visuals take two to seven words each; more than
    // this is no real server's answer, and is skipped unread.
    constexpr CARD32 MOST_WORDS = 1u << 18;
    LockDisplay(display);
    auto* request = static_cast<xRenderQueryPictFormatsReq*>(
        _XGetRequest(display, static_cast<CARD8>(opcode), sz_xRenderQueryPictFormatsReq));
    request->renderReqType = X_RenderQueryPictFormats;
    bool answered = _XReply(display, reinterpret_cast<xReply*>(&reply), 0, xFalse) != 0;
    if (answered && reply.length <= MOST_WORDS) {
        words.resize(reply.length);
        _XRead(display, reinterpret_cast<char*>(words.data()),
               static_cast<long>(words.size() * sizeof(CARD32)));
    } else if (answered) {
        _XEatDataWords(display, reply.length);
        answered = false;
    }
    UnlockDisplay(display);
    afterRequest(display);
    return answered;
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

std::optional<RenderFormats> queryRenderFormats(Display* display, int opcode, Visual* visual) {
    std::optional<PendingReply> version;
    queueQueryVersion(display, opcode, version);
    xRenderQueryPictFormatsReply reply{};
    std::vector<CARD32> words;
    const bool answered = queryFormats(display, opcode, reply, words);
    xRenderQueryVersionReply versionReply{};
    if (!answered || !version->header(versionReply))
        return std::nullopt;
    RenderFormats formats;
    formats.opcode = opcode;
    formats.solidSources = versionReply.majorVersion > 0 || versionReply.minorVersion >= 10;
    if (!findFormats(reply, words, visual->visualid, formats))
        return std::nullopt;
    return formats;
}

} // namespace velmora::x11
