#include "graphics/CGContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

struct CGContext::BitmapLayout {
    std::uint8_t* data;
    std::size_t width, height, bytesPerRow;
    CGColorSpaceRef space;
    CGBitmapInfo info;
    int kind;
    std::array<int, 4> offsets;
    bool premultiplied;
};

namespace {

enum LayoutKind {
    kDirectARGB32 = 1,  // cairo ARGB32 in place
    kDirectRGB24,       // cairo RGB24 in place
    kDirectA8,          // cairo A8 in place
    kPacked32,          // 32-bit pixels at the offsets, converted
    kGrey8,             // 8-bit grey, converted
    kAlpha8,            // 8-bit alpha whose rows cairo cannot use, converted
};

constexpr std::size_t kMaxSide = 32767;

CGAffineTransform flipTransform(std::size_t height) {
    return CGAffineTransformMake(1, 0, 0, -1, 0, static_cast<CGFloat>(height));
}

cairo_matrix_t toCairo(const CGAffineTransform& t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    return m;
}

bool invertible(const CGAffineTransform& t) {
    CGFloat det = t.a * t.d - t.b * t.c;
    return std::isfinite(det) && std::isfinite(t.tx) && std::isfinite(t.ty) && std::fabs(det) > 1e-300;
}

cairo_operator_t operatorFor(CGBlendMode mode) {
    switch (mode) {
        case kCGBlendModeNormal:
            return CAIRO_OPERATOR_OVER;
        case kCGBlendModeMultiply:
            return CAIRO_OPERATOR_MULTIPLY;
        case kCGBlendModeScreen:
            return CAIRO_OPERATOR_SCREEN;
        case kCGBlendModeOverlay:
            return CAIRO_OPERATOR_OVERLAY;
        case kCGBlendModeDarken:
            return CAIRO_OPERATOR_DARKEN;
        case kCGBlendModeLighten:
            return CAIRO_OPERATOR_LIGHTEN;
        case kCGBlendModeColorDodge:
            return CAIRO_OPERATOR_COLOR_DODGE;
        case kCGBlendModeColorBurn:
            return CAIRO_OPERATOR_COLOR_BURN;
        case kCGBlendModeSoftLight:
            return CAIRO_OPERATOR_SOFT_LIGHT;
        case kCGBlendModeHardLight:
            return CAIRO_OPERATOR_HARD_LIGHT;
        case kCGBlendModeDifference:
            return CAIRO_OPERATOR_DIFFERENCE;
        case kCGBlendModeExclusion:
            return CAIRO_OPERATOR_EXCLUSION;
        case kCGBlendModeHue:
            return CAIRO_OPERATOR_HSL_HUE;
        case kCGBlendModeSaturation:
            return CAIRO_OPERATOR_HSL_SATURATION;
        case kCGBlendModeColor:
            return CAIRO_OPERATOR_HSL_COLOR;
        case kCGBlendModeLuminosity:
            return CAIRO_OPERATOR_HSL_LUMINOSITY;
        case kCGBlendModeClear:
            return CAIRO_OPERATOR_CLEAR;
        case kCGBlendModeCopy:
            return CAIRO_OPERATOR_SOURCE;
        case kCGBlendModeSourceIn:
            return CAIRO_OPERATOR_IN;
        case kCGBlendModeSourceOut:
            return CAIRO_OPERATOR_OUT;
        case kCGBlendModeSourceAtop:
            return CAIRO_OPERATOR_ATOP;
        case kCGBlendModeDestinationOver:
            return CAIRO_OPERATOR_DEST_OVER;
        case kCGBlendModeDestinationIn:
            return CAIRO_OPERATOR_DEST_IN;
        case kCGBlendModeDestinationOut:
            return CAIRO_OPERATOR_DEST_OUT;
        case kCGBlendModeDestinationAtop:
            return CAIRO_OPERATOR_DEST_ATOP;
        case kCGBlendModeXOR:
            return CAIRO_OPERATOR_XOR;
        case kCGBlendModePlusDarker:
            return CAIRO_OPERATOR_OVER;  // done by hand, see plusDarker
        case kCGBlendModePlusLighter:
            return CAIRO_OPERATOR_ADD;
    }
    return CAIRO_OPERATOR_OVER;
}

// Cairo applies these to the whole clip, not just the shape drawn.
bool unbounded(cairo_operator_t op) {
    return op == CAIRO_OPERATOR_IN || op == CAIRO_OPERATOR_OUT || op == CAIRO_OPERATOR_DEST_IN ||
           op == CAIRO_OPERATOR_DEST_ATOP;
}

cairo_filter_t filterFor(CGInterpolationQuality q) {
    switch (q) {
        case kCGInterpolationNone:
            return CAIRO_FILTER_NEAREST;
        case kCGInterpolationLow:
            return CAIRO_FILTER_BILINEAR;
        case kCGInterpolationHigh:
            return CAIRO_FILTER_BEST;
        case kCGInterpolationMedium:
        case kCGInterpolationDefault:
        default:
            return CAIRO_FILTER_GOOD;
    }
}

CGFloat clamp01(CGFloat v) {
    return std::isnan(v) ? 0 : std::clamp(v, 0.0, 1.0);
}

std::uint8_t premultiply(std::uint32_t c, std::uint32_t a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}
std::uint8_t unpremultiply(std::uint32_t p, std::uint32_t a) {
    if (a == 0) return 0;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (p * 255 + a / 2) / a));
}

bool finitePoint(CGPoint p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// Works out the layout of a bitmap; false when it is not one the context can draw.
bool describeLayout(const CGColorSpaceRef& space, CGBitmapInfo info, std::size_t bytesPerRow, int& kind,
                    std::array<int, 4>& offsets, bool& premultiplied, std::size_t& bytesPerPixel) {
    auto alpha = static_cast<CGImageAlphaInfo>(info & kCGBitmapAlphaInfoMask);
    std::uint32_t order = info & kCGBitmapByteOrderMask;
    if (info & kCGBitmapFloatComponents) return false;
    offsets = {-1, -1, -1, -1};
    premultiplied = true;
    if (alpha == kCGImageAlphaOnly) {
        if (space && space->model() != kCGColorSpaceModelMonochrome) return false;
        bytesPerPixel = 1;
        kind = (bytesPerRow % 4 == 0) ? kDirectA8 : kAlpha8;
        return true;
    }
    if (!space) return false;
    if (space->model() == kCGColorSpaceModelMonochrome) {
        if (alpha != kCGImageAlphaNone) return false;
        bytesPerPixel = 1;
        kind = kGrey8;
        return true;
    }
    if (space->model() != kCGColorSpaceModelRGB) return false;
    if (order != kCGBitmapByteOrderDefault && order != kCGBitmapByteOrder32Big &&
        order != kCGBitmapByteOrder32Little) {
        return false;
    }
    bytesPerPixel = 4;
    bool little = order == kCGBitmapByteOrder32Little;
    // Positions in the logical (big-endian) order A R G B or R G B A.
    int a, r, g, b;
    switch (alpha) {
        case kCGImageAlphaPremultipliedFirst:
        case kCGImageAlphaFirst:
        case kCGImageAlphaNoneSkipFirst:
            a = 0, r = 1, g = 2, b = 3;
            break;
        case kCGImageAlphaPremultipliedLast:
        case kCGImageAlphaLast:
        case kCGImageAlphaNoneSkipLast:
            r = 0, g = 1, b = 2, a = 3;
            break;
        default:
            return false;
    }
    if (little) a = 3 - a, r = 3 - r, g = 3 - g, b = 3 - b;
    offsets = {r, g, b, a};
    premultiplied = !(alpha == kCGImageAlphaFirst || alpha == kCGImageAlphaLast);
    bool skip = alpha == kCGImageAlphaNoneSkipFirst || alpha == kCGImageAlphaNoneSkipLast;
    // cairo's ARGB32 is a native 32-bit word A R G B: B G R A in memory on a little-endian machine.
    std::uint32_t probe = 1;
    bool hostLittle = *reinterpret_cast<std::uint8_t*>(&probe) == 1;
    bool nativeOrder = hostLittle ? (little && a == 3 && r == 2) : (!little && a == 0 && r == 1);
    if (nativeOrder && bytesPerRow % 4 == 0) {
        if (alpha == kCGImageAlphaPremultipliedFirst) {
            kind = kDirectARGB32;
            return true;
        }
        if (alpha == kCGImageAlphaNoneSkipFirst) {
            kind = kDirectRGB24;
            return true;
        }
    }
    if (skip) offsets[3] = -(offsets[3] + 2);  // remembered position of the skipped byte, encoded
    kind = kPacked32;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation

CGContext::CGContext(const BitmapLayout& layout)
    : width_(layout.width),
      height_(layout.height),
      bytesPerRow_(layout.bytesPerRow),
      space_(layout.space),
      bitmapInfo_(layout.info),
      layoutKind_(layout.kind),
      offsets_(layout.offsets),
      premultiplied_(layout.premultiplied) {
    if (layout.data) {
        data_ = layout.data;
    } else {
        owned_.assign(bytesPerRow_ * height_, 0);
        data_ = owned_.data();
    }
    int w = static_cast<int>(width_), h = static_cast<int>(height_);
    switch (layoutKind_) {
        case kDirectARGB32:
            surface_ =
                cairo_image_surface_create_for_data(data_, CAIRO_FORMAT_ARGB32, w, h, int(bytesPerRow_));
            direct_ = true;
            break;
        case kDirectRGB24:
            surface_ =
                cairo_image_surface_create_for_data(data_, CAIRO_FORMAT_RGB24, w, h, int(bytesPerRow_));
            direct_ = true;
            break;
        case kDirectA8:
            surface_ = cairo_image_surface_create_for_data(data_, CAIRO_FORMAT_A8, w, h, int(bytesPerRow_));
            direct_ = true;
            break;
        default:
            surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
            break;
    }
    cr_ = cairo_create(surface_);
    gs_.ctm = flipTransform(height_);
    auto m = toCairo(gs_.ctm);
    cairo_set_matrix(cr_, &m);
    cairo_set_line_width(cr_, 1);
    cairo_set_miter_limit(cr_, 10);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    cairo_set_tolerance(cr_, 0.05);
    if (!direct_) importCallerPixels();
}

CGContext::~CGContext() {
    if (cr_) cairo_destroy(cr_);
    if (surface_) cairo_surface_destroy(surface_);
}

std::size_t CGContext::bitsPerPixel() const {
    return (layoutKind_ == kGrey8 || layoutKind_ == kAlpha8 || layoutKind_ == kDirectA8) ? 8 : 32;
}

CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height,
                                   std::size_t bitsPerComponent, std::size_t bytesPerRow,
                                   const CGColorSpaceRef& space, CGBitmapInfo bitmapInfo) {
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || bitsPerComponent != 8)
        return nullptr;
    CGContext::BitmapLayout layout{};
    std::size_t bytesPerPixel = 0;
    // The automatic row length is worked out after the layout; describe with a provisional one.
    std::size_t provisionalRow = bytesPerRow ? bytesPerRow : 0;
    if (!describeLayout(space, bitmapInfo, provisionalRow, layout.kind, layout.offsets, layout.premultiplied,
                        bytesPerPixel)) {
        return nullptr;
    }
    std::size_t minRow = width * bytesPerPixel;
    if (bytesPerRow == 0) {
        bytesPerRow = (minRow + 3) / 4 * 4;
    } else if (bytesPerRow < minRow) {
        return nullptr;
    }
    if (provisionalRow != bytesPerRow) {
        describeLayout(space, bitmapInfo, bytesPerRow, layout.kind, layout.offsets, layout.premultiplied,
                       bytesPerPixel);
    }
    layout.data = static_cast<std::uint8_t*>(data);
    layout.width = width;
    layout.height = height;
    layout.bytesPerRow = bytesPerRow;
    layout.space = space;
    layout.info = bitmapInfo;
    auto context = make<CGContext>(layout);
    if (cairo_status(context->cairoContext()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return context;
}

// ---------------------------------------------------------------------------------------------
// Pixels in and out of a converted layout

void CGContext::importCallerPixels() {
    if (direct_) return;
    cairo_surface_flush(surface_);
    auto* work = cairo_image_surface_get_data(surface_);
    int workStride = cairo_image_surface_get_stride(surface_);
    for (std::size_t y = 0; y < height_; ++y) {
        const std::uint8_t* src = data_ + y * bytesPerRow_;
        auto* dst = reinterpret_cast<std::uint32_t*>(work + y * workStride);
        for (std::size_t x = 0; x < width_; ++x) {
            std::uint32_t a, r, g, b;
            if (layoutKind_ == kGrey8) {
                a = 255, r = g = b = src[x];
            } else if (layoutKind_ == kAlpha8) {
                a = src[x], r = g = b = 0;
            } else {
                const std::uint8_t* p = src + x * 4;
                r = p[offsets_[0]], g = p[offsets_[1]], b = p[offsets_[2]];
                if (offsets_[3] >= 0) {
                    a = p[offsets_[3]];
                    if (!premultiplied_) r = premultiply(r, a), g = premultiply(g, a), b = premultiply(b, a);
                    // Keep premultiplied data consistent even when the caller's is not.
                    r = std::min(r, a), g = std::min(g, a), b = std::min(b, a);
                } else {
                    a = 255;
                }
            }
            dst[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface_);
}

void CGContext::exportCallerPixels(Rect rect) {
    if (direct_) return;
    rect = intersect(rect, Rect{0, 0, int(width_), int(height_)});
    if (rect.x0 >= rect.x1 || rect.y0 >= rect.y1) return;
    cairo_surface_flush(surface_);
    const auto* work = cairo_image_surface_get_data(surface_);
    int workStride = cairo_image_surface_get_stride(surface_);
    for (int y = rect.y0; y < rect.y1; ++y) {
        std::uint8_t* dst = data_ + std::size_t(y) * bytesPerRow_;
        const auto* src = reinterpret_cast<const std::uint32_t*>(work + std::size_t(y) * workStride);
        for (int x = rect.x0; x < rect.x1; ++x) {
            std::uint32_t px = src[x];
            std::uint32_t a = px >> 24, r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
            if (layoutKind_ == kGrey8) {
                dst[x] = static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
            } else if (layoutKind_ == kAlpha8) {
                dst[x] = static_cast<std::uint8_t>(a);
            } else {
                std::uint8_t* p = dst + std::size_t(x) * 4;
                if (offsets_[3] >= 0) {
                    if (!premultiplied_)
                        r = unpremultiply(r, a), g = unpremultiply(g, a), b = unpremultiply(b, a);
                    p[offsets_[3]] = static_cast<std::uint8_t>(a);
                } else {
                    p[-offsets_[3] - 2] = 0xFF;
                }
                p[offsets_[0]] = static_cast<std::uint8_t>(r);
                p[offsets_[1]] = static_cast<std::uint8_t>(g);
                p[offsets_[2]] = static_cast<std::uint8_t>(b);
            }
        }
    }
}

void CGContext::beginDirectDrawing() {
    if (directDepth_++ > 0) return;
    if (direct_) {
        cairo_surface_mark_dirty(surface_);
    } else {
        importCallerPixels();
    }
}

void CGContext::endDirectDrawing() {
    if (directDepth_ == 0 || --directDepth_ > 0) return;
    cairo_surface_flush(surface_);
    exportCallerPixels(Rect{0, 0, int(width_), int(height_)});
}

void CGContext::drawWithCairo(CGRect r, const std::function<void(cairo_t*, bool coverageOnly)>& draw) {
    if (!draw || gs_.singular) return;
    r = CGRectStandardize(r);
    if (!std::isfinite(r.origin.x) || !std::isfinite(r.origin.y) || !std::isfinite(r.size.width) ||
        !std::isfinite(r.size.height)) {
        return;
    }
    Rect dirty = deviceRectOfUserExtents(r.origin.x, r.origin.y, r.origin.x + r.size.width,
                                         r.origin.y + r.size.height);
    composite([&](bool coverageOnly) { draw(cr_, coverageOnly); }, dirty);
}

NSData CGContext::copyPixels() const {
    return NSData(data_, bytesPerRow_ * height_);
}

NSData CGContext::takePixels() {
    if (!direct_ || owned_.empty() || directDepth_ > 0) return copyPixels();
    cairo_surface_flush(surface_);
    cairo_surface_finish(surface_);
    NSData pixels(std::move(owned_));
    owned_.clear();
    data_ = nullptr;
    return pixels;
}

// ---------------------------------------------------------------------------------------------
// Geometry helpers

CGContext::Rect CGContext::intersect(Rect a, Rect b) const {
    return Rect{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

CGContext::Rect CGContext::deviceRectOfUserExtents(double x1, double y1, double x2, double y2) const {
    double xs[4] = {x1, x2, x1, x2}, ys[4] = {y1, y1, y2, y2};
    double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
    for (int i = 0; i < 4; ++i) {
        double x = xs[i], y = ys[i];
        cairo_user_to_device(cr_, &x, &y);
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    auto toInt = [](double v) {
        if (std::isnan(v)) return 0;
        return static_cast<int>(std::clamp(v, -1e6, 1e6));
    };
    Rect r{toInt(std::floor(minX)) - 1, toInt(std::floor(minY)) - 1, toInt(std::ceil(maxX)) + 1,
           toInt(std::ceil(maxY)) + 1};
    return intersect(r, Rect{0, 0, int(width_), int(height_)});
}

CGContext::Rect CGContext::clipDeviceRect() const {
    double x1, y1, x2, y2;
    cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
    return deviceRectOfUserExtents(x1, y1, x2, y2);
}

CGRect CGContext::clipBoundingBox() const {
    if (gs_.singular) return CGRectZero;
    double x1, y1, x2, y2;
    cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
    return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

void CGContext::appendPathToCairo() const {
    cairo_new_path(cr_);
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    bool open = false;
    CGPoint start{};
    for (const auto& e : path_.elements()) {
        switch (e.type) {
            case kCGPathElementMoveToPoint:
                if (!finitePoint(e.points[0])) {
                    open = false;
                    break;
                }
                cairo_move_to(cr_, e.points[0].x, e.points[0].y);
                start = e.points[0];
                open = true;
                break;
            case kCGPathElementAddLineToPoint:
                if (open && finitePoint(e.points[0])) cairo_line_to(cr_, e.points[0].x, e.points[0].y);
                break;
            case kCGPathElementAddQuadCurveToPoint: {
                if (!open || !finitePoint(e.points[0]) || !finitePoint(e.points[1])) break;
                double x0, y0;
                cairo_get_current_point(cr_, &x0, &y0);
                CGPoint c = e.points[0], p = e.points[1];
                cairo_curve_to(cr_, x0 + 2.0 / 3.0 * (c.x - x0), y0 + 2.0 / 3.0 * (c.y - y0),
                               p.x + 2.0 / 3.0 * (c.x - p.x), p.y + 2.0 / 3.0 * (c.y - p.y), p.x, p.y);
                break;
            }
            case kCGPathElementAddCurveToPoint:
                if (!open || !finitePoint(e.points[0]) || !finitePoint(e.points[1]) ||
                    !finitePoint(e.points[2])) {
                    break;
                }
                cairo_curve_to(cr_, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                               e.points[2].y);
                break;
            case kCGPathElementCloseSubpath:
                if (open) {
                    cairo_close_path(cr_);
                    cairo_move_to(cr_, start.x, start.y);
                }
                break;
        }
    }
    cairo_restore(cr_);
}

void CGContext::setSourceRGBA(const std::array<CGFloat, 4>& rgba) const {
    cairo_set_source_rgba(cr_, clamp01(rgba[0]), clamp01(rgba[1]), clamp01(rgba[2]),
                          clamp01(rgba[3]) * gs_.alpha);
}

// ---------------------------------------------------------------------------------------------
// Compositing

void CGContext::composite(const std::function<void(bool coverageOnly)>& draw, Rect dirty) {
    if (gs_.singular) return;
    dirty = intersect(dirty, clipDeviceRect());
    if (dirty.x0 >= dirty.x1 || dirty.y0 >= dirty.y1) return;
    beginDirectDrawing();
    cairo_save(cr_);
    cairo_operator_t op = operatorFor(gs_.blend);
    if (gs_.blend == kCGBlendModePlusDarker && layoutKind_ != kDirectA8) {
        plusDarker(draw, dirty);
    } else if (unbounded(op)) {
        // Do the whole-clip operation on a copy of the picture, then keep its result only where
        // the shape covers.
        cairo_push_group(cr_);
        cairo_save(cr_);
        cairo_identity_matrix(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr_, surface_, 0, 0);
        cairo_paint(cr_);
        cairo_restore(cr_);
        cairo_set_operator(cr_, op);
        draw(false);
        cairo_pattern_t* result = cairo_pop_group(cr_);
        cairo_push_group_with_content(cr_, CAIRO_CONTENT_ALPHA);
        cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
        draw(true);
        cairo_pattern_t* coverage = cairo_pop_group(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source(cr_, result);
        cairo_mask(cr_, coverage);
        cairo_pattern_destroy(coverage);
        cairo_pattern_destroy(result);
    } else {
        cairo_set_operator(cr_, op);
        draw(false);
    }
    cairo_restore(cr_);
    cairo_new_path(cr_);
    // Leave the outer nesting to endDirectDrawing's bookkeeping, writing back only what changed.
    --directDepth_;
    if (directDepth_ == 0) {
        cairo_surface_flush(surface_);
        exportCallerPixels(dirty);
    }
}

void CGContext::plusDarker(const std::function<void(bool coverageOnly)>& draw, Rect dirty) {
    // The source alone, in device pixels.
    cairo_push_group(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    draw(false);
    cairo_pattern_t* group = cairo_pop_group(cr_);
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    cairo_pattern_set_matrix(group, &identity);
    cairo_surface_t* source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width_), int(height_));
    cairo_t* scratch = cairo_create(source);
    cairo_set_source(scratch, group);
    cairo_paint(scratch);
    cairo_destroy(scratch);
    cairo_pattern_destroy(group);
    cairo_surface_flush(source);
    cairo_surface_flush(surface_);
    bool opaque = cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_RGB24;
    const auto* s = cairo_image_surface_get_data(source);
    auto* d = cairo_image_surface_get_data(surface_);
    int ss = cairo_image_surface_get_stride(source), ds = cairo_image_surface_get_stride(surface_);
    for (int y = dirty.y0; y < dirty.y1; ++y) {
        const auto* srow = reinterpret_cast<const std::uint32_t*>(s + std::size_t(y) * ss);
        auto* drow = reinterpret_cast<std::uint32_t*>(d + std::size_t(y) * ds);
        for (int x = dirty.x0; x < dirty.x1; ++x) {
            std::uint32_t sp = srow[x], dp = drow[x];
            int sa = int(sp >> 24), da = opaque ? 255 : int(dp >> 24);
            if (sa == 0) continue;
            // Premultiplied: Ra = min(1, Sa + Da); Rc = max(0, Ra - ((Sa - Sc) + (Da - Dc))).
            int ra = std::min(255, sa + da);
            std::uint32_t out = std::uint32_t(ra) << 24;
            for (int shift = 0; shift <= 16; shift += 8) {
                int sc = int((sp >> shift) & 0xFF), dc = int((dp >> shift) & 0xFF);
                int rc = std::clamp(ra - ((sa - sc) + (da - dc)), 0, ra);
                out |= std::uint32_t(rc) << shift;
            }
            drow[x] = out;
        }
    }
    cairo_surface_mark_dirty(surface_);
    cairo_surface_destroy(source);
}

// ---------------------------------------------------------------------------------------------
// State

void CGContext::saveGState() {
    stack_.push_back(gs_);
    cairo_save(cr_);
}

void CGContext::restoreGState() {
    if (stack_.empty()) return;
    gs_ = stack_.back();
    stack_.pop_back();
    cairo_restore(cr_);
}

CGAffineTransform CGContext::ctm() const {
    return CGAffineTransformConcat(gs_.ctm, flipTransform(height_));
}

void CGContext::concatCTM(const CGAffineTransform& t) {
    gs_.ctm = CGAffineTransformConcat(t, gs_.ctm);
    gs_.singular = !invertible(gs_.ctm);
    if (!gs_.singular) {
        auto m = toCairo(gs_.ctm);
        cairo_set_matrix(cr_, &m);
    }
}

void CGContext::setAlpha(CGFloat alpha) {
    gs_.alpha = clamp01(alpha);
}

void CGContext::setShouldAntialias(bool on) {
    gs_.antialias = on;
    applyAntialias();
}

void CGContext::setAllowsAntialiasing(bool on) {
    gs_.allowsAntialias = on;
    applyAntialias();
}

void CGContext::applyAntialias() {
    cairo_set_antialias(cr_, gs_.antialias && gs_.allowsAntialias ? CAIRO_ANTIALIAS_DEFAULT
                                                                  : CAIRO_ANTIALIAS_NONE);
}

// ---------------------------------------------------------------------------------------------
// Painting

void CGContext::fillPath(bool evenOdd) {
    if (path_.isEmpty()) return;
    CGRect box = CGPathGetBoundingBox(Ref<CGPath>(Ref<CGPath>(), &path_));
    // Bounds in device pixels, kept finite and small enough for int arithmetic.
    auto pixelOf = [](double v) { return std::isnan(v) ? 0 : int(std::clamp(v, -1e6, 1e6)); };
    Rect dirty{pixelOf(std::floor(box.origin.x)) - 1, pixelOf(std::floor(box.origin.y)) - 1,
               pixelOf(std::ceil(box.origin.x + box.size.width)) + 1,
               pixelOf(std::ceil(box.origin.y + box.size.height)) + 1};
    auto fill = gs_.fill;
    composite(
        [&](bool coverageOnly) {
            appendPathToCairo();
            cairo_set_fill_rule(cr_, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            if (coverageOnly) {
                cairo_set_source_rgba(cr_, 0, 0, 0, 1);
            } else {
                setSourceRGBA(fill);
            }
            cairo_fill(cr_);
        },
        dirty);
    path_.clear();
}

void CGContext::strokePath() {
    if (path_.isEmpty()) return;
    appendPathToCairo();
    double x1, y1, x2, y2;
    cairo_stroke_extents(cr_, &x1, &y1, &x2, &y2);
    cairo_new_path(cr_);
    Rect dirty = deviceRectOfUserExtents(x1, y1, x2, y2);
    auto stroke = gs_.stroke;
    composite(
        [&](bool coverageOnly) {
            appendPathToCairo();
            if (coverageOnly) {
                cairo_set_source_rgba(cr_, 0, 0, 0, 1);
            } else {
                setSourceRGBA(stroke);
            }
            cairo_stroke(cr_);
        },
        dirty);
    path_.clear();
}

void CGContext::clipToPath(bool evenOdd) {
    if (gs_.singular) {
        path_.clear();
        return;
    }
    appendPathToCairo();
    cairo_set_fill_rule(cr_, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
    path_.clear();
}

void CGContext::clearRect(CGRect rect) {
    if (gs_.singular) return;
    rect = CGRectStandardize(rect);
    if (!std::isfinite(rect.origin.x) || !std::isfinite(rect.origin.y) || !std::isfinite(rect.size.width) ||
        !std::isfinite(rect.size.height)) {
        return;
    }
    Rect dirty =
        intersect(deviceRectOfUserExtents(rect.origin.x, rect.origin.y, rect.origin.x + rect.size.width,
                                          rect.origin.y + rect.size.height),
                  clipDeviceRect());
    if (dirty.x0 >= dirty.x1 || dirty.y0 >= dirty.y1) return;
    beginDirectDrawing();
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_fill(cr_);
    cairo_restore(cr_);
    --directDepth_;
    if (directDepth_ == 0) {
        cairo_surface_flush(surface_);
        exportCallerPixels(dirty);
    }
}

void CGContext::drawImage(CGRect rect, const CGImage& image) {
    rect = CGRectStandardize(rect);
    if (rect.size.width <= 0 || rect.size.height <= 0 || !std::isfinite(rect.origin.x) ||
        !std::isfinite(rect.origin.y) || !std::isfinite(rect.size.width) ||
        !std::isfinite(rect.size.height)) {
        return;
    }
    std::size_t w = image.width(), h = image.height();
    if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) return;
    NSData pixels = detail::pixelsAsPremultipliedBGRA(image);
    if (pixels.length() < w * h * 4) return;
    cairo_surface_t* source = cairo_image_surface_create_for_data(
        const_cast<std::uint8_t*>(pixels.bytes()), CAIRO_FORMAT_ARGB32, int(w), int(h), int(w * 4));
    if (cairo_surface_status(source) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(source);
        return;
    }
    // Image pixel (u, v), v counted from the top, lands at user (x + u * sx, maxY - v * sy).
    cairo_matrix_t placement;
    cairo_matrix_init(&placement, rect.size.width / double(w), 0, 0, -rect.size.height / double(h),
                      rect.origin.x, rect.origin.y + rect.size.height);
    Rect dirty = deviceRectOfUserExtents(rect.origin.x, rect.origin.y, rect.origin.x + rect.size.width,
                                         rect.origin.y + rect.size.height);
    cairo_filter_t filter = filterFor(gs_.interpolation);
    CGFloat alpha = gs_.alpha;
    composite(
        [&](bool coverageOnly) {
            cairo_save(cr_);
            cairo_transform(cr_, &placement);
            cairo_new_path(cr_);
            cairo_rectangle(cr_, 0, 0, double(w), double(h));
            if (coverageOnly) {
                cairo_set_source_rgba(cr_, 0, 0, 0, 1);
                cairo_fill(cr_);
            } else {
                cairo_clip(cr_);
                cairo_set_source_surface(cr_, source, 0, 0);
                cairo_pattern_t* pattern = cairo_get_source(cr_);
                cairo_pattern_set_filter(pattern, filter);
                cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
                cairo_paint_with_alpha(cr_, alpha);
            }
            cairo_restore(cr_);
        },
        dirty);
    cairo_surface_destroy(source);
}

namespace {

// Gradient stops for cairo. Between 0 and the first stop (and the last stop and 1) the end colours
// hold. A side that must not be drawn gets a transparent stop at its end, ahead of the real one, so
// that cairo's padding shows nothing beyond it.
void addStops(cairo_pattern_t* pattern, const CGGradient& gradient, bool before, bool after, CGFloat alpha) {
    const auto& stops = gradient.stops();
    auto add = [&](CGFloat location, const std::array<CGFloat, 4>& c) {
        cairo_pattern_add_color_stop_rgba(pattern, location, c[0], c[1], c[2], c[3] * alpha);
    };
    const std::array<CGFloat, 4> clear{0, 0, 0, 0};
    if (!before) add(0, clear);
    if (stops.front().location > 0) add(0, stops.front().rgba);
    for (const auto& s : stops) add(s.location, s.rgba);
    if (stops.back().location < 1) add(1, stops.back().rgba);
    if (!after) add(1, clear);
}

}  // namespace

void CGContext::drawLinearGradient(const CGGradient& gradient, CGPoint start, CGPoint end,
                                   CGGradientDrawingOptions options) {
    if (!finitePoint(start) || !finitePoint(end) || gradient.stops().empty()) return;
    if (start == end) return;
    bool before = options & kCGGradientDrawsBeforeStartLocation,
         after = options & kCGGradientDrawsAfterEndLocation;
    cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
    addStops(pattern, gradient, before, after, gs_.alpha);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    // The band the gradient covers, as a clip shape: it limits the bounded blend modes.
    CGFloat dx = end.x - start.x, dy = end.y - start.y;
    double cx1, cy1, cx2, cy2;
    cairo_clip_extents(cr_, &cx1, &cy1, &cx2, &cy2);
    CGFloat far =
        std::hypot(cx2 - cx1, cy2 - cy1) + std::hypot(start.x - cx1, start.y - cy1) + std::hypot(dx, dy) + 1;
    CGFloat len = std::hypot(dx, dy);
    CGFloat ux = dx / len, uy = dy / len;
    CGFloat t0 = before ? -far : 0, t1 = after ? len + far : len;
    auto corner = [&](CGFloat t, CGFloat s) {
        return CGPoint{start.x + ux * t - uy * s, start.y + uy * t + ux * s};
    };
    CGPoint band[4] = {corner(t0, -far), corner(t1, -far), corner(t1, far), corner(t0, far)};
    composite(
        [&](bool coverageOnly) {
            cairo_new_path(cr_);
            cairo_move_to(cr_, band[0].x, band[0].y);
            for (int i = 1; i < 4; ++i) cairo_line_to(cr_, band[i].x, band[i].y);
            cairo_close_path(cr_);
            if (coverageOnly) {
                cairo_set_source_rgba(cr_, 0, 0, 0, 1);
            } else {
                cairo_set_source(cr_, pattern);
            }
            cairo_fill(cr_);
        },
        clipDeviceRect());
    cairo_pattern_destroy(pattern);
}

void CGContext::drawRadialGradient(const CGGradient& gradient, CGPoint startCenter, CGFloat startRadius,
                                   CGPoint endCenter, CGFloat endRadius, CGGradientDrawingOptions options) {
    if (!finitePoint(startCenter) || !finitePoint(endCenter) || !std::isfinite(startRadius) ||
        !std::isfinite(endRadius) || startRadius < 0 || endRadius < 0 || gradient.stops().empty()) {
        return;
    }
    if (startCenter == endCenter && startRadius == endRadius) return;
    bool before = options & kCGGradientDrawsBeforeStartLocation,
         after = options & kCGGradientDrawsAfterEndLocation;
    cairo_pattern_t* pattern = cairo_pattern_create_radial(startCenter.x, startCenter.y, startRadius,
                                                           endCenter.x, endCenter.y, endRadius);
    addStops(pattern, gradient, before, after, gs_.alpha);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    composite(
        [&](bool coverageOnly) {
            if (coverageOnly) {
                cairo_set_source_rgba(cr_, 0, 0, 0, 1);
            } else {
                cairo_set_source(cr_, pattern);
            }
            cairo_paint(cr_);
        },
        clipDeviceRect());
    cairo_pattern_destroy(pattern);
}

// ---------------------------------------------------------------------------------------------
// The C-style interface

void* CGBitmapContextGetData(const CGContextRef& c) {
    return c ? c->data() : nullptr;
}
std::size_t CGBitmapContextGetWidth(const CGContextRef& c) {
    return c ? c->width() : 0;
}
std::size_t CGBitmapContextGetHeight(const CGContextRef& c) {
    return c ? c->height() : 0;
}
std::size_t CGBitmapContextGetBitsPerComponent(const CGContextRef& c) {
    return c ? c->bitsPerComponent() : 0;
}
std::size_t CGBitmapContextGetBitsPerPixel(const CGContextRef& c) {
    return c ? c->bitsPerPixel() : 0;
}
std::size_t CGBitmapContextGetBytesPerRow(const CGContextRef& c) {
    return c ? c->bytesPerRow() : 0;
}
CGColorSpaceRef CGBitmapContextGetColorSpace(const CGContextRef& c) {
    return c ? c->colorSpace() : nullptr;
}
CGBitmapInfo CGBitmapContextGetBitmapInfo(const CGContextRef& c) {
    return c ? c->bitmapInfo() : 0;
}
CGImageAlphaInfo CGBitmapContextGetAlphaInfo(const CGContextRef& c) {
    return c ? static_cast<CGImageAlphaInfo>(c->bitmapInfo() & kCGBitmapAlphaInfoMask) : kCGImageAlphaNone;
}

CGImageRef CGBitmapContextCreateImage(const CGContextRef& c) {
    if (!c) return nullptr;
    auto provider = CGDataProviderCreateWithData(c->copyPixels());
    return CGImageCreate(c->width(), c->height(), 8, c->bitsPerPixel(), c->bytesPerRow(), c->colorSpace(),
                         c->bitmapInfo(), provider);
}

CGImageRef detail::bitmapContextCreateImageReleasing(CGContextRef&& c) {
    CGContextRef context = std::move(c);
    if (!context) return nullptr;
    if (context.use_count() != 1) return CGBitmapContextCreateImage(context);
    auto provider = CGDataProviderCreateWithData(context->takePixels());
    return CGImageCreate(context->width(), context->height(), 8, context->bitsPerPixel(),
                         context->bytesPerRow(), context->colorSpace(), context->bitmapInfo(), provider);
}

void CGContextSaveGState(const CGContextRef& c) {
    if (c) c->saveGState();
}
void CGContextRestoreGState(const CGContextRef& c) {
    if (c) c->restoreGState();
}
void CGContextTranslateCTM(const CGContextRef& c, CGFloat tx, CGFloat ty) {
    if (c) c->concatCTM(CGAffineTransformMakeTranslation(tx, ty));
}
void CGContextScaleCTM(const CGContextRef& c, CGFloat sx, CGFloat sy) {
    if (c) c->concatCTM(CGAffineTransformMakeScale(sx, sy));
}
void CGContextRotateCTM(const CGContextRef& c, CGFloat angle) {
    if (c) c->concatCTM(CGAffineTransformMakeRotation(angle));
}
void CGContextConcatCTM(const CGContextRef& c, CGAffineTransform transform) {
    if (c) c->concatCTM(transform);
}
CGAffineTransform CGContextGetCTM(const CGContextRef& c) {
    return c ? c->ctm() : CGAffineTransformIdentity;
}
CGAffineTransform CGContextGetUserSpaceToDeviceSpaceTransform(const CGContextRef& c) {
    return CGContextGetCTM(c);
}
CGPoint CGContextConvertPointToDeviceSpace(const CGContextRef& c, CGPoint point) {
    return CGPointApplyAffineTransform(point, CGContextGetCTM(c));
}
CGPoint CGContextConvertPointToUserSpace(const CGContextRef& c, CGPoint point) {
    return CGPointApplyAffineTransform(point, CGAffineTransformInvert(CGContextGetCTM(c)));
}
CGRect CGContextConvertRectToDeviceSpace(const CGContextRef& c, CGRect rect) {
    return CGRectApplyAffineTransform(rect, CGContextGetCTM(c));
}
CGRect CGContextConvertRectToUserSpace(const CGContextRef& c, CGRect rect) {
    return CGRectApplyAffineTransform(rect, CGAffineTransformInvert(CGContextGetCTM(c)));
}

void CGContextSetRGBFillColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
    if (c) c->setFillRGBA({clamp01(r), clamp01(g), clamp01(b), clamp01(a)});
}
void CGContextSetRGBStrokeColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
    if (c) c->setStrokeRGBA({clamp01(r), clamp01(g), clamp01(b), clamp01(a)});
}
void CGContextSetGrayFillColor(const CGContextRef& c, CGFloat gray, CGFloat a) {
    CGContextSetRGBFillColor(c, gray, gray, gray, a);
}
void CGContextSetGrayStrokeColor(const CGContextRef& c, CGFloat gray, CGFloat a) {
    CGContextSetRGBStrokeColor(c, gray, gray, gray, a);
}
void CGContextSetFillColorWithColor(const CGContextRef& c, const CGColorRef& color) {
    if (c && color) c->setFillRGBA(color->rgba());
}
void CGContextSetStrokeColorWithColor(const CGContextRef& c, const CGColorRef& color) {
    if (c && color) c->setStrokeRGBA(color->rgba());
}
void CGContextSetAlpha(const CGContextRef& c, CGFloat alpha) {
    if (c) c->setAlpha(alpha);
}
void CGContextSetLineWidth(const CGContextRef& c, CGFloat width) {
    if (c && std::isfinite(width)) cairo_set_line_width(c->cairoContext(), std::max(0.0, width));
}
void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap) {
    if (!c) return;
    cairo_set_line_cap(c->cairoContext(), cap == kCGLineCapRound    ? CAIRO_LINE_CAP_ROUND
                                          : cap == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                                    : CAIRO_LINE_CAP_BUTT);
}
void CGContextSetLineJoin(const CGContextRef& c, CGLineJoin join) {
    if (!c) return;
    cairo_set_line_join(c->cairoContext(), join == kCGLineJoinRound   ? CAIRO_LINE_JOIN_ROUND
                                           : join == kCGLineJoinBevel ? CAIRO_LINE_JOIN_BEVEL
                                                                      : CAIRO_LINE_JOIN_MITER);
}
void CGContextSetMiterLimit(const CGContextRef& c, CGFloat limit) {
    if (c && std::isfinite(limit)) cairo_set_miter_limit(c->cairoContext(), std::max(1.0, limit));
}
void CGContextSetLineDash(const CGContextRef& c, CGFloat phase, const CGFloat* lengths, std::size_t count) {
    if (!c) return;
    std::vector<double> dashes;
    bool valid = lengths && count > 0 && std::isfinite(phase);
    double total = 0;
    for (std::size_t i = 0; valid && i < count; ++i) {
        if (!std::isfinite(lengths[i]) || lengths[i] < 0) valid = false;
        dashes.push_back(lengths[i]);
        total += lengths[i];
    }
    if (!valid || total <= 0) {
        cairo_set_dash(c->cairoContext(), nullptr, 0, 0);
        return;
    }
    cairo_set_dash(c->cairoContext(), dashes.data(), int(dashes.size()), phase);
}
void CGContextSetBlendMode(const CGContextRef& c, CGBlendMode mode) {
    if (c && mode >= kCGBlendModeNormal && mode <= kCGBlendModePlusLighter) c->setBlendMode(mode);
}
void CGContextSetInterpolationQuality(const CGContextRef& c, CGInterpolationQuality quality) {
    if (c && quality >= kCGInterpolationDefault && quality <= kCGInterpolationMedium) {
        c->setInterpolationQuality(quality);
    }
}
CGInterpolationQuality CGContextGetInterpolationQuality(const CGContextRef& c) {
    return c ? c->interpolationQuality() : kCGInterpolationDefault;
}
void CGContextSetShouldAntialias(const CGContextRef& c, bool shouldAntialias) {
    if (c) c->setShouldAntialias(shouldAntialias);
}
void CGContextSetAllowsAntialiasing(const CGContextRef& c, bool allowsAntialiasing) {
    if (c) c->setAllowsAntialiasing(allowsAntialiasing);
}
void CGContextSetFlatness(const CGContextRef&, CGFloat) {}

// Paths

namespace {
Ref<CGPath> borrowPath(const CGContextRef& c) {
    return Ref<CGPath>(Ref<CGPath>(), &c->path());
}
}  // namespace

void CGContextBeginPath(const CGContextRef& c) {
    if (c) c->path().clear();
}
void CGContextMoveToPoint(const CGContextRef& c, CGFloat x, CGFloat y) {
    if (c) CGPathMoveToPoint(borrowPath(c), &c->pathTransform(), x, y);
}
void CGContextAddLineToPoint(const CGContextRef& c, CGFloat x, CGFloat y) {
    if (c) CGPathAddLineToPoint(borrowPath(c), &c->pathTransform(), x, y);
}
void CGContextAddCurveToPoint(const CGContextRef& c, CGFloat cp1x, CGFloat cp1y, CGFloat cp2x, CGFloat cp2y,
                              CGFloat x, CGFloat y) {
    if (c) CGPathAddCurveToPoint(borrowPath(c), &c->pathTransform(), cp1x, cp1y, cp2x, cp2y, x, y);
}
void CGContextAddQuadCurveToPoint(const CGContextRef& c, CGFloat cpx, CGFloat cpy, CGFloat x, CGFloat y) {
    if (c) CGPathAddQuadCurveToPoint(borrowPath(c), &c->pathTransform(), cpx, cpy, x, y);
}
void CGContextAddArc(const CGContextRef& c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle,
                     CGFloat endAngle, int clockwise) {
    if (c)
        CGPathAddArc(borrowPath(c), &c->pathTransform(), x, y, radius, startAngle, endAngle, clockwise != 0);
}
void CGContextAddArcToPoint(const CGContextRef& c, CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2,
                            CGFloat radius) {
    if (c) CGPathAddArcToPoint(borrowPath(c), &c->pathTransform(), x1, y1, x2, y2, radius);
}
void CGContextAddRect(const CGContextRef& c, CGRect rect) {
    if (c) CGPathAddRect(borrowPath(c), &c->pathTransform(), rect);
}
void CGContextAddRects(const CGContextRef& c, const CGRect* rects, std::size_t count) {
    if (c) CGPathAddRects(borrowPath(c), &c->pathTransform(), rects, count);
}
void CGContextAddLines(const CGContextRef& c, const CGPoint* points, std::size_t count) {
    if (c) CGPathAddLines(borrowPath(c), &c->pathTransform(), points, count);
}
void CGContextAddEllipseInRect(const CGContextRef& c, CGRect rect) {
    if (c) CGPathAddEllipseInRect(borrowPath(c), &c->pathTransform(), rect);
}
void CGContextAddPath(const CGContextRef& c, const CGPathRef& path) {
    if (c) CGPathAddPath(borrowPath(c), &c->pathTransform(), path);
}
void CGContextClosePath(const CGContextRef& c) {
    if (c) c->path().close();
}
bool CGContextIsPathEmpty(const CGContextRef& c) {
    return !c || c->path().isEmpty();
}

CGPoint CGContextGetPathCurrentPoint(const CGContextRef& c) {
    if (!c || !c->path().hasCurrentPoint()) return CGPointZero;
    return CGPointApplyAffineTransform(c->path().currentPoint(), CGAffineTransformInvert(c->pathTransform()));
}

CGPathRef CGContextCopyPath(const CGContextRef& c) {
    if (!c) return nullptr;
    CGAffineTransform inverse = CGAffineTransformInvert(c->pathTransform());
    return CGPathCreateCopyByTransformingPath(borrowPath(c), &inverse);
}

CGRect CGContextGetPathBoundingBox(const CGContextRef& c) {
    if (!c || c->path().isEmpty()) return CGRectNull;
    return CGPathGetBoundingBox(CGContextCopyPath(c));
}

bool CGContextPathContainsPoint(const CGContextRef& c, CGPoint point, CGPathDrawingMode mode) {
    if (!c) return false;
    bool evenOdd = mode == kCGPathEOFill || mode == kCGPathEOFillStroke;
    return CGPathContainsPoint(borrowPath(c), &c->pathTransform(), point, evenOdd);
}

void CGContextFillPath(const CGContextRef& c) {
    if (c) c->fillPath(false);
}
void CGContextEOFillPath(const CGContextRef& c) {
    if (c) c->fillPath(true);
}
void CGContextStrokePath(const CGContextRef& c) {
    if (c) c->strokePath();
}

void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode) {
    if (!c) return;
    switch (mode) {
        case kCGPathFill:
            c->fillPath(false);
            break;
        case kCGPathEOFill:
            c->fillPath(true);
            break;
        case kCGPathStroke:
            c->strokePath();
            break;
        case kCGPathFillStroke:
        case kCGPathEOFillStroke: {
            CGPath saved;
            CGPathAddPath(Ref<CGPath>(Ref<CGPath>(), &saved), nullptr, borrowPath(c));
            c->fillPath(mode == kCGPathEOFillStroke);
            CGPathAddPath(borrowPath(c), nullptr, Ref<CGPath>(Ref<CGPath>(), &saved));
            c->strokePath();
            break;
        }
    }
}

namespace {
// Draws a shape of its own without disturbing the current path.
template <class Build, class Draw>
void withOwnPath(const CGContextRef& c, Build build, Draw draw) {
    if (!c) return;
    CGPath saved;
    auto savedRef = Ref<CGPath>(Ref<CGPath>(), &saved);
    CGPathAddPath(savedRef, nullptr, borrowPath(c));
    c->path().clear();
    build();
    draw();
    c->path().clear();
    CGPathAddPath(borrowPath(c), nullptr, savedRef);
}
}  // namespace

void CGContextFillRect(const CGContextRef& c, CGRect rect) {
    withOwnPath(
        c, [&] { CGContextAddRect(c, rect); }, [&] { c->fillPath(false); });
}
void CGContextFillRects(const CGContextRef& c, const CGRect* rects, std::size_t count) {
    withOwnPath(
        c, [&] { CGContextAddRects(c, rects, count); }, [&] { c->fillPath(false); });
}
void CGContextStrokeRect(const CGContextRef& c, CGRect rect) {
    withOwnPath(
        c, [&] { CGContextAddRect(c, rect); }, [&] { c->strokePath(); });
}
void CGContextStrokeRectWithWidth(const CGContextRef& c, CGRect rect, CGFloat width) {
    if (!c) return;
    cairo_t* cr = c->cairoContext();
    double saved = cairo_get_line_width(cr);
    CGContextSetLineWidth(c, width);
    CGContextStrokeRect(c, rect);
    cairo_set_line_width(cr, saved);
}
void CGContextFillEllipseInRect(const CGContextRef& c, CGRect rect) {
    withOwnPath(
        c, [&] { CGContextAddEllipseInRect(c, rect); }, [&] { c->fillPath(false); });
}
void CGContextStrokeEllipseInRect(const CGContextRef& c, CGRect rect) {
    withOwnPath(
        c, [&] { CGContextAddEllipseInRect(c, rect); }, [&] { c->strokePath(); });
}
void CGContextStrokeLineSegments(const CGContextRef& c, const CGPoint* points, std::size_t count) {
    if (!points) return;
    withOwnPath(
        c,
        [&] {
            for (std::size_t i = 0; i + 1 < count; i += 2) {
                CGContextMoveToPoint(c, points[i].x, points[i].y);
                CGContextAddLineToPoint(c, points[i + 1].x, points[i + 1].y);
            }
        },
        [&] { c->strokePath(); });
}
void CGContextClearRect(const CGContextRef& c, CGRect rect) {
    if (c) c->clearRect(rect);
}
void CGContextDrawImage(const CGContextRef& c, CGRect rect, const CGImageRef& image) {
    if (c && image) c->drawImage(rect, *image);
}
void CGContextDrawLinearGradient(const CGContextRef& c, const CGGradientRef& gradient, CGPoint startPoint,
                                 CGPoint endPoint, CGGradientDrawingOptions options) {
    if (c && gradient) c->drawLinearGradient(*gradient, startPoint, endPoint, options);
}
void CGContextDrawRadialGradient(const CGContextRef& c, const CGGradientRef& gradient, CGPoint startCenter,
                                 CGFloat startRadius, CGPoint endCenter, CGFloat endRadius,
                                 CGGradientDrawingOptions options) {
    if (c && gradient)
        c->drawRadialGradient(*gradient, startCenter, startRadius, endCenter, endRadius, options);
}

void CGContextClip(const CGContextRef& c) {
    if (c) c->clipToPath(false);
}
void CGContextEOClip(const CGContextRef& c) {
    if (c) c->clipToPath(true);
}
void CGContextClipToRect(const CGContextRef& c, CGRect rect) {
    withOwnPath(
        c, [&] { CGContextAddRect(c, rect); }, [&] { c->clipToPath(false); });
}
void CGContextClipToRects(const CGContextRef& c, const CGRect* rects, std::size_t count) {
    withOwnPath(
        c, [&] { CGContextAddRects(c, rects, count); }, [&] { c->clipToPath(false); });
}
CGRect CGContextGetClipBoundingBox(const CGContextRef& c) {
    return c ? c->clipBoundingBox() : CGRectNull;
}

void CGContextFlush(const CGContextRef&) {}
void CGContextSynchronize(const CGContextRef&) {}
