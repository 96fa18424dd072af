#include "display/x11/x11_render_requests.h"

#include <X11/extensions/renderproto.h>

#include <cstring>

namespace velmora::x11 {

namespace {

static_assert(sizeof(xRenderCreatePictureReq) == sz_xRenderCreatePictureReq);
static_assert(sizeof(xRenderCreateSolidFillReq) == sz_xRenderCreateSolidFillReq);
static_assert(sizeof(xRenderFillRectanglesReq) == sz_xRenderFillRectanglesReq);
static_assert(sizeof(xRenderCreateGlyphSetReq) == sz_xRenderCreateGlyphSetReq);
static_assert(sizeof(xRenderFreePictureReq) == sz_xRenderFreePictureReq);
static_assert(sizeof(xRenderFreeGlyphSetReq) == sz_xRenderFreeGlyphSetReq);
static_assert(sizeof(xRenderAddGlyphsReq) == sz_xRenderAddGlyphsReq);
static_assert(sizeof(xRenderCompositeGlyphs32Req) == sz_xRenderCompositeGlyphs32Req);
static_assert(sizeof(xGlyphInfo) == sz_xGlyphInfo && sizeof(xGlyphElt) == sz_xGlyphElt);
static_assert(sizeof(xRectangle) == sz_xRectangle);

// Sends one of RENDER's requests, its minor code set before `fill`.
template <typename Request, typename Fill>
void sendRender(Wire& wire, int opcode, int minor, Fill fill) {
    sendRequest<Request>(wire, opcode, [&](Request& request, RequestTail& tail) {
        request.renderReqType = static_cast<CARD8>(minor);
        fill(request, tail);
    });
}

xRenderColor wireColor(const XRenderColor& color) {
    return xRenderColor{color.red, color.green, color.blue, color.alpha};
}

// The bytes a glyph adds to an AddGlyphs request.
std::size_t glyphBytes(const GlyphUpload& glyph) {
    return sizeof(CARD32) + sizeof(xGlyphInfo) + ((glyph.image.size() + 3) & ~std::size_t{3});
}

void sendGlyphs(Wire& wire, int opcode, GlyphSet set, const GlyphUpload* first, std::size_t count) {
    sendRender<xRenderAddGlyphsReq>(
        wire, opcode, X_RenderAddGlyphs, [&](auto& request, RequestTail& tail) {
            request.glyphset = static_cast<CARD32>(set);
            request.nglyphs = static_cast<CARD32>(count);
            for (std::size_t i = 0; i < count; ++i) {
                const CARD32 id = first[i].id;
                tail.append(&id, sizeof id);
            }
            for (std::size_t i = 0; i < count; ++i) {
                const XGlyphInfo& g = first[i].info;
                const xGlyphInfo info{g.width, g.height, g.x, g.y, g.xOff, g.yOff};
                tail.append(&info, sizeof info);
            }
            for (std::size_t i = 0; i < count; ++i)
                tail.append(first[i].image.data(), first[i].image.size());
        });
}

} // namespace

Picture createPicture(Wire& wire, int opcode, Drawable drawable, PictFormat format) {
    Picture picture = None;
    sendRender<xRenderCreatePictureReq>(wire, opcode, X_RenderCreatePicture,
                                        [&](auto& request, RequestTail&) {
                                            picture = wire.newId();
                                            request.pid = static_cast<CARD32>(picture);
                                            request.drawable = static_cast<CARD32>(drawable);
                                            request.format = static_cast<CARD32>(format);
                                            request.mask = 0;
                                        });
    return picture;
}

Picture createSolidFill(Wire& wire, int opcode, const XRenderColor& color) {
    Picture picture = None;
    sendRender<xRenderCreateSolidFillReq>(wire, opcode, X_RenderCreateSolidFill,
                                          [&](auto& request, RequestTail&) {
                                              picture = wire.newId();
                                              request.pid = static_cast<CARD32>(picture);
                                              request.color = wireColor(color);
                                          });
    return picture;
}

void fillRectangle(Wire& wire, int opcode, int op, Picture target, const XRenderColor& color, int x,
                   int y, unsigned int width, unsigned int height) {
    // Coordinates are 16 bits on the wire, as libXrender sends them.
    const xRectangle rectangle{static_cast<INT16>(x), static_cast<INT16>(y),
                               static_cast<CARD16>(width), static_cast<CARD16>(height)};
    sendRender<xRenderFillRectanglesReq>(wire, opcode, X_RenderFillRectangles,
                                         [&](auto& request, RequestTail& tail) {
                                             request.op = static_cast<CARD8>(op);
                                             request.dst = static_cast<CARD32>(target);
                                             request.color = wireColor(color);
                                             tail.append(&rectangle, sizeof rectangle);
                                         });
}

GlyphSet createGlyphSet(Wire& wire, int opcode, PictFormat format) {
    GlyphSet set = None;
    sendRender<xRenderCreateGlyphSetReq>(wire, opcode, X_RenderCreateGlyphSet,
                                         [&](auto& request, RequestTail&) {
                                             set = wire.newId();
                                             request.gsid = static_cast<CARD32>(set);
                                             request.format = static_cast<CARD32>(format);
                                         });
    return set;
}

void freeRenderResource(Wire& wire, int opcode, int request, XID resource) {
    // FreePicture and FreeGlyphSet: the minor code and one resource alike.
    sendRender<xRenderFreePictureReq>(wire, opcode, request, [&](auto& free, RequestTail&) {
        free.picture = static_cast<CARD32>(resource);
    });
}

bool addGlyphs(Wire& wire, int opcode, GlyphSet set, const std::vector<GlyphUpload>& glyphs) {
    // The request's length is counted in words, in 16 bits without
    // BIG-REQUESTS; the server's maximum is below that.
    const std::size_t most = wire.mostRequestBytes() - sizeof(xRenderAddGlyphsReq);
    std::size_t first = 0;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const std::size_t size = glyphBytes(glyphs[i]);
        if (size > most)
            return false;
        if (bytes + size > most) {
            sendGlyphs(wire, opcode, set, &glyphs[first], i - first);
            first = i;
            bytes = 0;
        }
        bytes += size;
    }
    if (first < glyphs.size())
        sendGlyphs(wire, opcode, set, &glyphs[first], glyphs.size() - first);
    return true;
}

void compositeGlyphs(Wire& wire, int opcode, Picture source, Picture target, PictFormat mask,
                     GlyphSet set, int x, int y, const std::vector<unsigned int>& ids) {
    if (ids.empty() || ids.size() > MOST_COMPOSITED_GLYPHS)
        return;
    xGlyphElt element{};
    element.len = static_cast<CARD8>(ids.size());
    element.deltax = static_cast<INT16>(x);
    element.deltay = static_cast<INT16>(y);
    static_assert(sizeof(unsigned int) == sizeof(CARD32));
    sendRender<xRenderCompositeGlyphs32Req>(
        wire, opcode, X_RenderCompositeGlyphs32, [&](auto& request, RequestTail& tail) {
            request.op = PictOpOver;
            request.src = static_cast<CARD32>(source);
            request.dst = static_cast<CARD32>(target);
            request.maskFormat = static_cast<CARD32>(mask);
            request.glyphset = static_cast<CARD32>(set);
            request.xSrc = 0;
            request.ySrc = 0;
            tail.append(&element, sizeof element);
            tail.append(ids.data(), ids.size() * sizeof(CARD32));
        });
}

} // namespace velmora::x11
