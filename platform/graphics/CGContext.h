#pragma once
// Drawing contexts over bitmaps, drawn by cairo.
//
// A bitmap context draws into a buffer of width x height pixels, 8 bits per component, in one of
// these layouts (alpha kind | byte order of the bitmap info):
//   - RGB, 32 bits: premultiplied alpha first or last, alpha first or last (not premultiplied),
//     or no alpha with a skipped first or last byte; each in default, 32-bit big-endian or 32-bit
//     little-endian byte order. Premultiplied first + 32-bit little-endian is BGRA in memory;
//   - grey, 8 bits, no alpha;
//   - alpha only, 8 bits (no colour space).
// Other combinations (other depths, 24-bit RGB, CMYK, float components) give no context.
//
// Premultiplied-first and skip-first little-endian buffers (cairo's own ARGB32 and RGB24) and
// alpha-only buffers with rows of a multiple of four bytes are drawn in place. Every other layout
// keeps a private premultiplied BGRA surface: before each drawing call the caller's buffer is read
// into it (so the caller's own writes to the buffer count, as they do when drawing in place) and
// after the call the area the call may have touched is written back in the caller's layout. So at
// any moment between calls the caller's buffer holds the picture, in its own layout. Skipped bytes
// are written as 0xFF; grey is the luma 0.299 R + 0.587 G + 0.114 B of the premultiplied colour.
//
// User space starts with its origin at the bottom left, y growing upwards, one unit per pixel.
// CGContextGetCTM answers the transform from user space to that bottom-left device space (the
// identity for a new bitmap context). An image drawn with CGContextDrawImage fills its rectangle
// with its first row at the rectangle's maximum y: upright in a bottom-left context and upside
// down in a context whose CTM flips y (UIGraphics image contexts), as on the platform.
//
// Paths are built in device space (each point through the CTM at the time it is added), and
// filling, stroking and clipping consume the current path. Blend modes affect only the shape
// drawn (source-in, destination-in and the like leave the rest of the clip alone).
//
// A context belongs to one thread at a time; it has no lock.

#include <cairo.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGGradient.h"
#include "graphics/CGImage.h"
#include "graphics/CGPath.h"
#include "graphics/UIColor.h"

enum CGBlendMode : std::int32_t {
    kCGBlendModeNormal = 0,
    kCGBlendModeMultiply,
    kCGBlendModeScreen,
    kCGBlendModeOverlay,
    kCGBlendModeDarken,
    kCGBlendModeLighten,
    kCGBlendModeColorDodge,
    kCGBlendModeColorBurn,
    kCGBlendModeSoftLight,
    kCGBlendModeHardLight,
    kCGBlendModeDifference,
    kCGBlendModeExclusion,
    kCGBlendModeHue,
    kCGBlendModeSaturation,
    kCGBlendModeColor,
    kCGBlendModeLuminosity,
    kCGBlendModeClear,
    kCGBlendModeCopy,
    kCGBlendModeSourceIn,
    kCGBlendModeSourceOut,
    kCGBlendModeSourceAtop,
    kCGBlendModeDestinationOver,
    kCGBlendModeDestinationIn,
    kCGBlendModeDestinationOut,
    kCGBlendModeDestinationAtop,
    kCGBlendModeXOR,
    kCGBlendModePlusDarker,
    kCGBlendModePlusLighter,
};

// None = nearest pixel; Low = bilinear; Default and Medium = cairo's good filter; High = its best.
enum CGInterpolationQuality : std::int32_t {
    kCGInterpolationDefault = 0,
    kCGInterpolationNone = 1,
    kCGInterpolationLow = 2,
    kCGInterpolationHigh = 3,
    kCGInterpolationMedium = 4,
};

enum CGPathDrawingMode : std::int32_t {
    kCGPathFill = 0,
    kCGPathEOFill = 1,
    kCGPathStroke = 2,
    kCGPathFillStroke = 3,
    kCGPathEOFillStroke = 4,
};

class CGContext : public NSObject {
  public:
    // Made by CGBitmapContextCreate; the constructor is public only for make<>().
    struct BitmapLayout;
    explicit CGContext(const BitmapLayout& layout);
    ~CGContext() override;

    std::string className() const override { return "CGContext"; }

    // Bitmap facts.
    void* data() const { return data_; }
    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t bitsPerComponent() const { return 8; }
    std::size_t bitsPerPixel() const;
    std::size_t bytesPerRow() const { return bytesPerRow_; }
    const CGColorSpaceRef& colorSpace() const { return space_; }
    CGBitmapInfo bitmapInfo() const { return bitmapInfo_; }

    // For platform code that draws with cairo itself (window rendering): the cairo context, its
    // CTM kept in step with this context's. Wrap such drawing in beginDirectDrawing() and
    // endDirectDrawing() so that a buffer in a converted layout is read before and written after.
    cairo_t* cairoContext() const { return cr_; }
    void beginDirectDrawing();
    void endDirectDrawing();
    // Draws with cairo in the current user space through this context's compositing (blend mode,
    // converted layouts, a singular CTM drawing nothing). `userBounds` is the area the drawing may
    // touch. Called with coverageOnly, `draw` must draw the same shape in opaque black.
    void drawWithCairo(CGRect userBounds, const std::function<void(cairo_t*, bool coverageOnly)>& draw);
    CGFloat alpha() const { return gs_.alpha; }

    // --- the functions below are the bodies of the CGContext... calls ---
    void saveGState();
    void restoreGState();
    CGAffineTransform ctm() const;
    void concatCTM(const CGAffineTransform& t);
    void setFillRGBA(const std::array<CGFloat, 4>& rgba) { gs_.fill = rgba; }
    void setStrokeRGBA(const std::array<CGFloat, 4>& rgba) { gs_.stroke = rgba; }
    void setAlpha(CGFloat alpha);
    void setBlendMode(CGBlendMode mode) { gs_.blend = mode; }
    CGBlendMode blendMode() const { return gs_.blend; }
    void setInterpolationQuality(CGInterpolationQuality q) { gs_.interpolation = q; }
    CGInterpolationQuality interpolationQuality() const { return gs_.interpolation; }
    void setShouldAntialias(bool on);
    void setAllowsAntialiasing(bool on);

    CGPath& path() { return path_; }
    // The transform for adding path points: user space to cairo device space.
    const CGAffineTransform& pathTransform() const { return gs_.ctm; }

    void fillPath(bool evenOdd);
    void strokePath();
    void clipToPath(bool evenOdd);
    void clearRect(CGRect rect);
    void drawImage(CGRect rect, const CGImage& image);
    void drawLinearGradient(const CGGradient& gradient, CGPoint start, CGPoint end,
                            CGGradientDrawingOptions options);
    void drawRadialGradient(const CGGradient& gradient, CGPoint startCenter, CGFloat startRadius,
                            CGPoint endCenter, CGFloat endRadius, CGGradientDrawingOptions options);
    CGRect clipBoundingBox() const;

    // Copies the picture in the context's layout.
    NSData copyPixels() const;
    // The picture without a copy, for the context's last owner: a buffer of its own in the direct
    // layout is handed over and the context draws nothing more (its surface finished); any other
    // context answers a copy.
    NSData takePixels();

  private:
    struct GState {
        std::array<CGFloat, 4> fill{0, 0, 0, 1};
        std::array<CGFloat, 4> stroke{0, 0, 0, 1};
        CGFloat alpha = 1;
        CGBlendMode blend = kCGBlendModeNormal;
        CGInterpolationQuality interpolation = kCGInterpolationDefault;
        bool antialias = true;
        bool allowsAntialias = true;
        // User space to cairo device space (top-left origin).
        CGAffineTransform ctm;
        // A singular CTM draws nothing (cairo refuses one, so it is kept out of cairo).
        bool singular = false;
    };
    struct Rect {
        int x0, y0, x1, y1;
    };
    void applyAntialias();
    void appendPathToCairo() const;
    void setSourceRGBA(const std::array<CGFloat, 4>& rgba) const;
    // Runs one drawing step with the current blend mode. `draw` sets the source and draws; called
    // with coverageOnly it draws the same shape in opaque black (the emulation of bounded blend
    // modes needs the shape's coverage). It may be called more than once.
    void composite(const std::function<void(bool coverageOnly)>& draw, Rect dirty);
    Rect deviceRectOfUserExtents(double x1, double y1, double x2, double y2) const;
    Rect clipDeviceRect() const;
    Rect intersect(Rect a, Rect b) const;
    void importCallerPixels();
    void exportCallerPixels(Rect r);
    void plusDarker(const std::function<void(bool coverageOnly)>& draw, Rect dirty);

    std::size_t width_, height_, bytesPerRow_;
    CGColorSpaceRef space_;
    CGBitmapInfo bitmapInfo_;
    std::uint8_t* data_ = nullptr;
    std::vector<std::uint8_t> owned_;
    bool direct_ = false;
    int layoutKind_ = 0;
    std::array<int, 4> offsets_{};  // byte offsets of R, G, B, A in a 32-bit pixel (-1 none)
    bool premultiplied_ = true;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    GState gs_;
    std::vector<GState> stack_;
    CGPath path_;
    int directDepth_ = 0;
};
using CGContextRef = Ref<CGContext>;

// --- bitmap contexts ---
// data null: the context allocates (zeroed) memory, found by CGBitmapContextGetData. bytesPerRow 0:
// chosen by the context (width x bytes per pixel, rounded up to four bytes). nullptr for a zero or
// oversized (> 32767) side, too small a bytesPerRow, a bitsPerComponent other than 8, or a layout
// outside the list above.
CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height,
                                   std::size_t bitsPerComponent, std::size_t bytesPerRow,
                                   const CGColorSpaceRef& space, CGBitmapInfo bitmapInfo);
void* CGBitmapContextGetData(const CGContextRef& c);
std::size_t CGBitmapContextGetWidth(const CGContextRef& c);
std::size_t CGBitmapContextGetHeight(const CGContextRef& c);
std::size_t CGBitmapContextGetBitsPerComponent(const CGContextRef& c);
std::size_t CGBitmapContextGetBitsPerPixel(const CGContextRef& c);
std::size_t CGBitmapContextGetBytesPerRow(const CGContextRef& c);
CGColorSpaceRef CGBitmapContextGetColorSpace(const CGContextRef& c);
CGBitmapInfo CGBitmapContextGetBitmapInfo(const CGContextRef& c);
CGImageAlphaInfo CGBitmapContextGetAlphaInfo(const CGContextRef& c);
// An image of a copy of the pixels, in the context's layout; nullptr for a null context.
CGImageRef CGBitmapContextCreateImage(const CGContextRef& c);
namespace detail {
// The same image for a context the caller is done with: when the caller holds the last reference,
// the image takes the context's pixels instead of a copy (a screen-sized picture is megabytes, and
// a fresh copy of it costs more than the drawing). The reference is released either way.
CGImageRef bitmapContextCreateImageReleasing(CGContextRef&& c);
}  // namespace detail

// --- graphics state ---
void CGContextSaveGState(const CGContextRef& c);
// Unbalanced restores are ignored.
void CGContextRestoreGState(const CGContextRef& c);
void CGContextTranslateCTM(const CGContextRef& c, CGFloat tx, CGFloat ty);
void CGContextScaleCTM(const CGContextRef& c, CGFloat sx, CGFloat sy);
void CGContextRotateCTM(const CGContextRef& c, CGFloat angle);
// The transform is applied to user space before the existing CTM.
void CGContextConcatCTM(const CGContextRef& c, CGAffineTransform transform);
CGAffineTransform CGContextGetCTM(const CGContextRef& c);
CGAffineTransform CGContextGetUserSpaceToDeviceSpaceTransform(const CGContextRef& c);
CGPoint CGContextConvertPointToDeviceSpace(const CGContextRef& c, CGPoint point);
CGPoint CGContextConvertPointToUserSpace(const CGContextRef& c, CGPoint point);
CGRect CGContextConvertRectToDeviceSpace(const CGContextRef& c, CGRect rect);
CGRect CGContextConvertRectToUserSpace(const CGContextRef& c, CGRect rect);

void CGContextSetRGBFillColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetRGBStrokeColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetGrayFillColor(const CGContextRef& c, CGFloat gray, CGFloat a);
void CGContextSetGrayStrokeColor(const CGContextRef& c, CGFloat gray, CGFloat a);
void CGContextSetFillColorWithColor(const CGContextRef& c, const CGColorRef& color);
void CGContextSetStrokeColorWithColor(const CGContextRef& c, const CGColorRef& color);
// Multiplies every drawing's alpha (clamped to 0...1).
void CGContextSetAlpha(const CGContextRef& c, CGFloat alpha);
void CGContextSetLineWidth(const CGContextRef& c, CGFloat width);
void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap);
void CGContextSetLineJoin(const CGContextRef& c, CGLineJoin join);
void CGContextSetMiterLimit(const CGContextRef& c, CGFloat limit);
// No lengths (or count 0) turns dashing off.
void CGContextSetLineDash(const CGContextRef& c, CGFloat phase, const CGFloat* lengths, std::size_t count);
void CGContextSetBlendMode(const CGContextRef& c, CGBlendMode mode);
void CGContextSetInterpolationQuality(const CGContextRef& c, CGInterpolationQuality quality);
CGInterpolationQuality CGContextGetInterpolationQuality(const CGContextRef& c);
void CGContextSetShouldAntialias(const CGContextRef& c, bool shouldAntialias);
void CGContextSetAllowsAntialiasing(const CGContextRef& c, bool allowsAntialiasing);
// Accepted for completeness; curves are always flattened finely.
void CGContextSetFlatness(const CGContextRef& c, CGFloat flatness);

// --- paths ---
void CGContextBeginPath(const CGContextRef& c);
void CGContextMoveToPoint(const CGContextRef& c, CGFloat x, CGFloat y);
void CGContextAddLineToPoint(const CGContextRef& c, CGFloat x, CGFloat y);
void CGContextAddCurveToPoint(const CGContextRef& c, CGFloat cp1x, CGFloat cp1y, CGFloat cp2x, CGFloat cp2y,
                              CGFloat x, CGFloat y);
void CGContextAddQuadCurveToPoint(const CGContextRef& c, CGFloat cpx, CGFloat cpy, CGFloat x, CGFloat y);
// clockwise 0 draws with growing angles (clockwise on screen in a top-left context), 1 with
// falling ones; see CGPath.h.
void CGContextAddArc(const CGContextRef& c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle,
                     CGFloat endAngle, int clockwise);
void CGContextAddArcToPoint(const CGContextRef& c, CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2,
                            CGFloat radius);
void CGContextAddRect(const CGContextRef& c, CGRect rect);
void CGContextAddRects(const CGContextRef& c, const CGRect* rects, std::size_t count);
void CGContextAddLines(const CGContextRef& c, const CGPoint* points, std::size_t count);
void CGContextAddEllipseInRect(const CGContextRef& c, CGRect rect);
void CGContextAddPath(const CGContextRef& c, const CGPathRef& path);
void CGContextClosePath(const CGContextRef& c);
bool CGContextIsPathEmpty(const CGContextRef& c);
// In user space.
CGPoint CGContextGetPathCurrentPoint(const CGContextRef& c);
CGRect CGContextGetPathBoundingBox(const CGContextRef& c);
// The current path in user space.
CGPathRef CGContextCopyPath(const CGContextRef& c);
bool CGContextPathContainsPoint(const CGContextRef& c, CGPoint point, CGPathDrawingMode mode);

// --- painting ---
void CGContextFillPath(const CGContextRef& c);
void CGContextEOFillPath(const CGContextRef& c);
void CGContextStrokePath(const CGContextRef& c);
void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode);
void CGContextFillRect(const CGContextRef& c, CGRect rect);
void CGContextFillRects(const CGContextRef& c, const CGRect* rects, std::size_t count);
void CGContextStrokeRect(const CGContextRef& c, CGRect rect);
void CGContextStrokeRectWithWidth(const CGContextRef& c, CGRect rect, CGFloat width);
void CGContextFillEllipseInRect(const CGContextRef& c, CGRect rect);
void CGContextStrokeEllipseInRect(const CGContextRef& c, CGRect rect);
// Pairs of points, each pair one segment.
void CGContextStrokeLineSegments(const CGContextRef& c, const CGPoint* points, std::size_t count);
// Makes the rectangle transparent (black in an opaque layout), whatever the blend mode.
void CGContextClearRect(const CGContextRef& c, CGRect rect);
void CGContextDrawImage(const CGContextRef& c, CGRect rect, const CGImageRef& image);
void CGContextDrawLinearGradient(const CGContextRef& c, const CGGradientRef& gradient, CGPoint startPoint,
                                 CGPoint endPoint, CGGradientDrawingOptions options);
void CGContextDrawRadialGradient(const CGContextRef& c, const CGGradientRef& gradient, CGPoint startCenter,
                                 CGFloat startRadius, CGPoint endCenter, CGFloat endRadius,
                                 CGGradientDrawingOptions options);

// --- clipping ---
void CGContextClip(const CGContextRef& c);
void CGContextEOClip(const CGContextRef& c);
void CGContextClipToRect(const CGContextRef& c, CGRect rect);
void CGContextClipToRects(const CGContextRef& c, const CGRect* rects, std::size_t count);
// In user space.
CGRect CGContextGetClipBoundingBox(const CGContextRef& c);

// Drawing is finished when each call returns; these exist for callers that flush.
void CGContextFlush(const CGContextRef& c);
void CGContextSynchronize(const CGContextRef& c);
